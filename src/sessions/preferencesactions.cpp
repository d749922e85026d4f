// What the buttons and edits of the preferences wizard's pages do (see preferences.h): the device of
// the selected port, finding the modem and checking its fax classes on the unsaved port map, the
// "Same as SEND" buttons, the init-string helper and the arrival sound.
#include "sessions/preferences.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QUrl>

#ifdef TELVANE_HAVE_MULTIMEDIA
#include <QSoundEffect>
#endif

#include "sessions/formparts.h"
#include "sessions/initstringhelper.h"
#include "sessions/modemcommands.h"
#include "sessions/modemsetup.h"
#include "app/appstate.h"
#include "app/uihelpers.h"
#include "settings/programdir.h"

namespace telvane::sessions {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }
std::string ss(const QString& s) { return s.toStdString(); }

}  // namespace

int TPreferences::selectedPort() const { return ComPort->checkedId() < 0 ? 0 : ComPort->checkedId(); }

void TPreferences::showPortDevice() {
    const QString device = qs(ports_[static_cast<std::size_t>(selectedPort())]);
    const QSignalBlocker block(PortDevice);
    PortDevice->setEditText(device);
}

void TPreferences::portDeviceEdited(const QString& text) {
    const int port = selectedPort();
    ports_[static_cast<std::size_t>(port)] = ss(text.trimmed());
    const QString shown =
        text.trimmed().isEmpty() ? qs(ports::defaultPortMap()[static_cast<std::size_t>(port)]) : text.trimmed();
    PortDeviceLabels[port]->setText(elided(PortDeviceLabels[port], shown, PortDeviceLabels[port]->width()));
    PortDeviceLabels[port]->setToolTip(shown);
}

void TPreferences::FindModemButtonClick() {
    int found = -1;
    {
        const PortMapOverride map(ports_);
        TFindModemForm finder(OvxComPort1, this);
        finder.adjustSize();
        app::centerDialog(&finder);
        keepOnScreen(&finder);
        finder.exec();
        found = finder.outcome();
        const int selected = ComPort->checkedId();
        assignPort(OvxComPort1, selected + 1 > 0 ? selected + 1 : 1);
    }
    const int selected = ComPort->checkedId();
    const int chosen = offerFoundPort(found, selected);
    if (chosen != selected) setRadioIndex(ComPort, chosen);
}

void TPreferences::CheckFaxClassButtonClick(QButtonGroup* target) {
    int index = -1;
    QString name;
    {
        const PortMapOverride map(ports_);
        TCheckFaxClassForm check(OvxComPort1, OvxSendFax1, selectedPort() + 1, this);
        check.adjustSize();
        app::centerDialog(&check);
        keepOnScreen(&check);
        check.exec();
        index = check.resultIndex();
        name = check.resultName();
    }
    if (index >= 0 && index + 1 != target->checkedId() &&
        app::AskYesNo(QStringLiteral("Set fax class as ") + name + QStringLiteral(" ?"), QStringLiteral("Fax Class")))
        setRadioIndex(target, index + 1);
}

void TPreferences::RecClassSameAsSendButtonClick() { setRadioIndex(FaxClassReceive, FaxClass->checkedId()); }

void TPreferences::RecBPSSameAsSendButtonClick() { TransferRateReceive->setCurrentIndex(TransferRate->currentIndex()); }

void TPreferences::RecInitSameAsSendButtonClick() { ModemInitReceive->setText(ModemInit->text()); }

void TPreferences::HelpWithInitbuttonClick() {
    ModemInit->setText(modemInitStringHelper(ModemInit->text(), true, this));
}

void TPreferences::HelpWithInitRECButtonClick() {
    ModemInitReceive->setText(modemInitStringHelper(ModemInitReceive->text(), false, this));
}

QString TPreferences::wavePath() const {
    QString path = WaveFileEdit->text().trimmed();
    if (!path.isEmpty() && QFileInfo(path).isRelative()) path = qs(settings::ProgramDir()) + path;
    return path;
}

void TPreferences::SelectWavButtonClick() {
    QFileDialog dialog(this, QStringLiteral("Select WAV File"), qs(settings::ProgramDir()),
                       QStringLiteral("WAVE files (*.wav)"));
    dialog.setObjectName(QStringLiteral("OpenDialog1"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QString current = wavePath();
    if (!current.isEmpty() && QFileInfo(current).isFile()) {
        dialog.setDirectory(QFileInfo(current).absolutePath());
        dialog.selectFile(QFileInfo(current).fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString chosen = dialog.selectedFiles().constFirst();
    if (chosen.toUpper().contains(QStringLiteral(".WAV"))) WaveFileEdit->setText(QDir::toNativeSeparators(chosen));
}

bool TPreferences::PlayWAVbuttonClick() {
    const QString path = wavePath();
    if (path.isEmpty() || !QFileInfo(path).isFile()) return false;
#ifdef TELVANE_HAVE_MULTIMEDIA
    // Played in the background; a file the system cannot play stays silent.
    if (!sound_) sound_ = new QSoundEffect(this);
    sound_->stop();
    sound_->setSource(QUrl::fromLocalFile(path));
    sound_->play();
    return true;
#else
    return false;
#endif
}

void TPreferences::NoWAVButtonClick() { WaveFileEdit->clear(); }

void TPreferences::chkSM56Click() { motorolaSM56Active() = chkSM56->isChecked(); }

}  // namespace telvane::sessions
