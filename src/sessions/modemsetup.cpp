// Find-modem, fax-class check and quick set-up windows (see modemsetup.h).
#include "sessions/modemsetup.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

#include "transport/modemwait.h"
#include "sessions/formparts.h"
#include "sessions/modemcommands.h"
#include "sessions/sessionrules.h"
#include "sessions/systemlists.h"
#include "app/appstate.h"
#include "settings/programdir.h"
#include "app/uihelpers.h"

namespace telvane::sessions {

namespace {
void setBusyCursor(bool on) {
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
    if (on) QApplication::setOverrideCursor(Qt::WaitCursor);
}

QString devicePath(int comNumber) { return QString::fromStdString(app::appSettings().portDevice(comNumber - 1)); }

Qt::WindowFlags fixedDialog() {
    return Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
}
}  // namespace

bool& motorolaSM56Active() {
    static bool active = false;
    return active;
}

// ---------------------------------------------------------------------------------------------

TFindModemForm::TFindModemForm(telvane::transport::TOvxComPort& port, QWidget* parent) : QDialog(parent), port_(port) {
    setObjectName(QStringLiteral("TFindModemForm"));
    setWindowTitle(QStringLiteral("Finding Modem...Please wait"));
    setWindowFlags(fixedDialog());
    auto* layout = new QVBoxLayout(this);
    Label8 = new QLabel(QStringLiteral("Communications Ports:"));
    layout->addWidget(Label8);
    auto* grid = new QGridLayout;
    for (int i = 0; i < 6; ++i) {
        PortLabels[i] = new QLabel(QStringLiteral("Com %1:").arg(i + 1));
        PortLabels[i]->setObjectName(QStringLiteral("Label%1").arg(i + 1));
        PortLabels[i]->setMinimumWidth(320);
        DeviceLabels[i] = new QLabel(devicePath(i + 1));
        DeviceLabels[i]->setEnabled(false);
        grid->addWidget(PortLabels[i], i, 0);
        grid->addWidget(DeviceLabels[i], i, 1);
    }
    layout->addLayout(grid);
    Label7 = new QLabel(QStringLiteral("Testing Communications ports...please wait."));
    Label7->setWordWrap(true);
    Label7->setMinimumHeight(60);
    layout->addWidget(Label7);
    OkButton = new QPushButton(QStringLiteral("&Ok"));
    OkButton->setVisible(false);
    layout->addWidget(OkButton, 0, Qt::AlignHCenter);
    connect(OkButton, &QPushButton::clicked, this, [this] { OkButtonClick(); });
}

// The scan runs once per opening: coming back to the window (another program in between, or a
// restore from the task bar) must not probe the ports again and overwrite the result shown.
void TFindModemForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (activated_) return;
    activated_ = true;
    QTimer::singleShot(0, this, [this] { FormActivate(); });
}

void TFindModemForm::FormActivate() {
    if (running_) return;
    running_ = true;
    OkButton->hide();
    setBusyCursor(true);
    int found = -1;
    bool inUse = false;
    try {
        for (int n = 1; n <= 6; ++n) {
            PortLabels[n - 1]->setText(QStringLiteral("Com %1: TESTING").arg(n));
            app::letMessagesRun();
            assignPort(port_, n);
            QString text = QStringLiteral("Com ") + QString::number(n) + QStringLiteral(": ");
            try {
                port_.setOpen(true);
                if (port_.Open()) {
                    bool answered = false;
                    try {
                        answered = CheckForModem(port_);
                    } catch (const std::exception&) {}
                    text += answered ? QStringLiteral("MODEM") : QStringLiteral("Unknown");
                    if (answered && found < 0) found = n;
                } else {
                    text += QStringLiteral("Unknown");
                }
            } catch (const telvane::errors::EOvxException& e) {
                const int code = e.ErrorCode();
                if (code == telvane::errors::ecAlreadyOpen || code == telvane::errors::ecPortInUse) {
                    text += QStringLiteral("Port is already open (could be modem)");
                    inUse = true;
                } else if (code == telvane::errors::ecBadId) {
                    text += QStringLiteral("Port does not exist");
                } else if (code == telvane::errors::ecFileAccessDenied) {
                    text += QStringLiteral("Permission denied (join the \"dialout\" group)");
                } else {
                    const QString codeText = QString::fromStdString(telvane::errors::ovxErrorText(code));
                    text += codeText.isEmpty() ? QStringLiteral("Unknown Error") : codeText;
                }
            } catch (const std::exception& e) {
                text += QStringLiteral("ERROR: ") + QString::fromLocal8Bit(e.what());
            }
            closePort(port_);
            PortLabels[n - 1]->setText(text);
        }
    } catch (const std::exception&) {}
    setBusyCursor(false);
    if (found > 0)
        Label7->setText(QStringLiteral("A modem was found on Com Port ") + QString::number(found) +
                        QStringLiteral(". ") + QStringLiteral("We suggest setting the Port as Com ") +
                        QString::number(found) + QStringLiteral("."));
    else if (inUse)
        Label7->setText(QStringLiteral(
            "No modem found. Please make sure that all communication programs (internet, AOL, etc) are closed, and "
            "then try again. If you know which Com port your modem uses, you can also just set the Port to that "
            "setting"));
    else
        Label7->setText(QStringLiteral(
            "No modem found. If you know which Com port your modem uses, you can also just set the Port to that "
            "setting. Please note that Telvane does not work with CABLE, DSL or ISDN connections."));
    OkButton->show();
    setWindowTitle(QStringLiteral("Find Modem"));
    result_ = found;
    app::soundBeep();
    running_ = false;
}

// ---------------------------------------------------------------------------------------------

TCheckFaxClassForm::TCheckFaxClassForm(telvane::transport::TOvxComPort& port,
                                       telvane::transport::TOvxCustomSendFax& sendFax, int comNumber, QWidget* parent)
    : QDialog(parent), port_(port), sendFax_(sendFax), comNumber_(comNumber) {
    setObjectName(QStringLiteral("TCheckFaxClassForm"));
    setWindowTitle(QStringLiteral("Finding Fax Class...Please wait"));
    setWindowFlags(fixedDialog());
    auto* layout = new QVBoxLayout(this);
    Label8 = new QLabel(QStringLiteral("Fax Classes:"));
    Label1 = new QLabel(QStringLiteral("Class 1 :"));
    Label2 = new QLabel(QStringLiteral("Class 2 :"));
    Label3 = new QLabel(QStringLiteral("Class 2.0 :"));
    Status = new QLabel(QStringLiteral("Testing Fax Classes...please wait."));
    Status->setWordWrap(true);
    Status->setMinimumSize(380, 70);
    for (QLabel* l : {Label8, Label1, Label2, Label3, Status}) layout->addWidget(l);
    OkButton = new QPushButton(QStringLiteral("&Ok"));
    OkButton->setVisible(false);
    layout->addWidget(OkButton, 0, Qt::AlignHCenter);
    connect(OkButton, &QPushButton::clicked, this, [this] { OkButtonClick(); });
}

// Like the port scan, the check runs once per opening.
void TCheckFaxClassForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (activated_) return;
    activated_ = true;
    QTimer::singleShot(0, this, [this] { CheckTheFaxClasses(); });
}

void TCheckFaxClassForm::labelsUnknown() {
    Label1->setText(QStringLiteral("Class 1   : unknown"));
    Label2->setText(QStringLiteral("Class 2   : unknown"));
    Label3->setText(QStringLiteral("Class 2.0 : unknown"));
}

QString TCheckFaxClassForm::DetermineFaxClassSupport() {
    Class1 = Class2 = Class2_0 = false;
    Status->setText(QStringLiteral("Querying modem Fax Class support..."));
    app::letMessagesRun();
    QString outcome = QStringLiteral("OK");
    try {
        const telvane::transport::TFaxClassSet set = sendFax_.supportedFaxClasses();
        Class1 = set & telvane::transport::faxClassBit(telvane::transport::fcClass1);
        Class2 = set & telvane::transport::faxClassBit(telvane::transport::fcClass2);
        Class2_0 = set & telvane::transport::faxClassBit(telvane::transport::fcClass2_0);
        if (!Class1 && !Class2 && !Class2_0) outcome.clear();
    } catch (const std::exception&) {
        outcome.clear();
    }
    if (outcome.isEmpty())
        outcome =
            QStringLiteral("Unable to determine Fax Class support from modem on Com ") + QString::number(comNumber_);
    Status->clear();
    app::letMessagesRun();
    return outcome;
}

void TCheckFaxClassForm::CheckTheFaxClasses() {
    if (running_) return;
    running_ = true;
    resultIndex_ = -1;
    resultName_.clear();
    runClassCheck();
    app::soundBeep();
    closePort(port_);
    app::letMessagesRun();
    OkButton->show();
    setWindowTitle(QStringLiteral("Check Fax Class"));
    running_ = false;
}

void TCheckFaxClassForm::runClassCheck() {
    if (!modemReady()) {
        labelsUnknown();
        return;
    }
    const QString outcome = DetermineFaxClassSupport();
    if (outcome != QStringLiteral("OK")) {
        Status->setText(outcome);
        labelsUnknown();
        return;
    }
    showClassResults();
}

bool TCheckFaxClassForm::modemReady() {
    const QString n = QString::number(comNumber_);
    Status->setText(QStringLiteral("Opening Com Port...please wait"));
    app::letMessagesRun();
    assignPort(port_, comNumber_);
    QString message;
    if (!OpenComPort(port_, message)) {
        Status->setText(message);
        return false;
    }
    telvane::transport::delayTicks(12, true);
    if (!CheckForModem(port_) &&
        !app::AskYesNo(QStringLiteral("The device on COM") + n + QStringLiteral(" is not responding and may") +
                           QStringLiteral("\r") + QStringLiteral("not be a modem. Continue with Fax Class Analysis?"),
                       QStringLiteral("NO MODEM RESPONSE"))) {
        Status->setText(QStringLiteral("No response from device on COM") + n + QStringLiteral(". May not be a modem."));
        return false;
    }
    if (!FactoryResetModem(port_)) {
        app::ShowInformation(QStringLiteral("We are unable to continue the test. \r\rThe modem did not respond to the "
                                            "reset string:   (AT&F)\r\rIs the Communications Port (COM") +
                             n + QStringLiteral(") correct? Please") + QStringLiteral("\r") +
                             QStringLiteral("use Find Modem Port in File > Preferences to be sure."));
        Status->setText(QStringLiteral("No response from device on COM") + n + QStringLiteral(". May not be a modem."));
        return false;
    }
    return true;
}

void TCheckFaxClassForm::showClassResults() {
    const QString n = QString::number(comNumber_);
    Label3->setText(Class2_0 ? QStringLiteral("Class 2.0 : Supported") : QStringLiteral("Class 2.0 : Not Supported"));
    Label2->setText(Class2 ? QStringLiteral("Class 2   : Supported") : QStringLiteral("Class 2   : Not Supported"));
    Label1->setText(Class1 ? QStringLiteral("Class 1   : Supported") : QStringLiteral("Class 1   : Not Supported"));
    if (Class1) {
        resultIndex_ = 0;
        resultName_ = QStringLiteral("Class 1");
        Label1->setText(Label1->text() + QStringLiteral(" (recommended)"));
    } else if (Class2) {
        resultIndex_ = 1;
        resultName_ = QStringLiteral("Class 2");
        Label2->setText(Label2->text() + QStringLiteral(" (recommended)"));
    } else if (Class2_0) {
        resultIndex_ = 2;
        resultName_ = QStringLiteral("Class 2.0");
        QFont bold = Label3->font();
        bold.setBold(true);
        Label3->setFont(bold);
    } else {
        Status->setText(QStringLiteral("Unable to retrieve Fax Class supportinformation from the modem on Com ") + n);
    }
    app::letMessagesRun();
    if (resultIndex_ >= 0)
        Status->setText(QStringLiteral("Try using the recommended Fax Class (") + resultName_ +
                        QStringLiteral(") or auto detect. ") +
                        QStringLiteral("If you experience problems, try another supported class.") +
                        QStringLiteral("\r\r") +
                        QStringLiteral("(note: US Robotics users should read the help section on troubleshooting)"));
}

// ---------------------------------------------------------------------------------------------

TQuickSetupForm::TQuickSetupForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TQuickSetupForm"));
    setWindowTitle(QStringLiteral("Quick Setup Form"));
    setWindowFlags(fixedDialog());
    auto* layout = new QVBoxLayout(this);
    auto* q1 = new QLabel(QString::fromLatin1(kPortQuestion));
    q1->setWordWrap(true);
    layout->addWidget(q1);
    auto* portBox = new QGroupBox(QStringLiteral("Port"));
    auto* portGrid = new QGridLayout(portBox);
    ComPort = new QButtonGroup(this);
    for (int i = 0; i < 6; ++i) {
        auto* radio = new QRadioButton;
        radio->setObjectName(QStringLiteral("Com%1").arg(i + 1));
        ComPort->addButton(radio, i);
        portGrid->addWidget(radio, i / 3, i % 3);
    }
    layout->addWidget(portBox);
    layout->addLayout(portDeviceRow(PortDevice));
    FindModemButton = new QPushButton(QStringLiteral("Find &Modem Port"));
    layout->addWidget(FindModemButton, 0, Qt::AlignLeft);
    auto* q2 = new QLabel(QStringLiteral("2. Enter your name and fax number for identifying your sent faxes:"));
    q2->setWordWrap(true);
    layout->addWidget(q2);
    layout->addWidget(new QLabel(QStringLiteral("(Note: these are optional fields)")));
    auto* form = new QFormLayout;
    Name = new QLineEdit;
    Name->setMaxLength(35);
    FaxNumber = new QLineEdit;
    FaxNumber->setMaxLength(20);
    form->addRow(QStringLiteral("Your &name"), Name);
    form->addRow(QStringLiteral("Your &fax number (Station ID#)"), FaxNumber);
    layout->addLayout(form);
    chkSM56 = new QCheckBox(QStringLiteral("My modem is a Motorola SM56"));
    layout->addWidget(chkSM56);
    auto* note = new QLabel(QStringLiteral(
        "Normally this is all that is needed to get you started sending and receiving faxes. If you experience "
        "problems, or if you wish to fine-tune your settings, choose Preferences in the main window's File menu."));
    note->setWordWrap(true);
    layout->addWidget(note);
    auto* row = new QHBoxLayout;
    Finishbutton = new QPushButton(QStringLiteral("&Ok"));
    Finishbutton->setDefault(true);
    Cancelbutton = new QPushButton(QStringLiteral("Cance&l"));
    row->addStretch();
    row->addWidget(Finishbutton);
    row->addWidget(Cancelbutton);
    layout->addLayout(row);
    setMinimumWidth(520);
    connect(Finishbutton, &QPushButton::clicked, this, &QDialog::accept);
    connect(Cancelbutton, &QPushButton::clicked, this, &QDialog::reject);
    connect(FindModemButton, &QPushButton::clicked, this, [this] { FindModemButtonClick(); });
    connect(chkSM56, &QCheckBox::clicked, this, [this] { chkSM56Click(); });
    connect(ComPort, &QButtonGroup::idToggled, this, [this](int, bool on) {
        if (on) showPortDevice();
    });
    connect(PortDevice, &QComboBox::editTextChanged, this, [this](const QString& text) { portDeviceEdited(text); });
    setPortDevices(app::appSettings().Ports);
    OvxComPort1.setInSize(8192);
    OvxComPort1.setOutSize(8192);
    OvxComPort1.setHWFlowOptions(telvane::transport::hwfUseRTS | telvane::transport::hwfRequireCTS);
}

int TQuickSetupForm::selectedPort() const { return ComPort->checkedId(); }

void TQuickSetupForm::selectPort(int index) {
    if (QAbstractButton* b = ComPort->button(index)) b->setChecked(true);
}

void TQuickSetupForm::setPortDevices(const std::array<std::string, ports::kPortCount>& devices) {
    ports_ = devices;
    for (int i = 0; i < ports::kPortCount; ++i) portDeviceEdited(QString());
    showPortDevice();
}

void TQuickSetupForm::showPortDevice() {
    const int port = std::max(0, selectedPort());
    const QSignalBlocker block(PortDevice);
    PortDevice->setEditText(QString::fromStdString(ports_[static_cast<std::size_t>(port)]));
}

// The typed device becomes the selected port's; its radio button shows it (an empty field falls
// back to the port's default device). A long path (a virtual line in a home folder) is shortened
// in its middle to the width of a usual device name, so the six ports keep their columns; the
// button's tooltip holds it whole.
void TQuickSetupForm::portDeviceEdited(const QString& text) {
    const auto port = static_cast<std::size_t>(std::max(0, selectedPort()));
    if (!text.isNull()) ports_[port] = text.trimmed().toStdString();
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        const QString device = QString::fromStdString(ports_[i].empty() ? ports::defaultPortMap()[i] : ports_[i]);
        QAbstractButton* b = ComPort->button(static_cast<int>(i));
        if (!b) continue;
        const QFontMetrics metrics = b->fontMetrics();
        const int room = metrics.horizontalAdvance(QStringLiteral("/dev/ttyUSB10"));
        b->setText(QStringLiteral("Com%1  (%2)").arg(i + 1).arg(metrics.elidedText(device, Qt::ElideMiddle, room)));
        b->setToolTip(device);
    }
}

void TQuickSetupForm::chkSM56Click() { motorolaSM56Active() = chkSM56->isChecked(); }

int offerFoundPort(int found, int selected) {
    if (found > 0 && found - 1 != selected &&
        app::AskYesNo(QStringLiteral("Set Com Port to Com ") + QString::number(found), QStringLiteral("Com Port")))
        return found - 1;
    return selected;
}

void TQuickSetupForm::FindModemButtonClick() {
    int found = -1;
    {
        const PortMapOverride map(ports_);
        TFindModemForm finder(OvxComPort1, this);
        app::centerDialog(&finder);
        finder.exec();
        found = finder.outcome();
    }
    const int selected = selectedPort();
    assignPort(OvxComPort1, selected + 1);
    selectPort(offerFoundPort(found, selected));
}

bool runQuickSetup(QWidget* parent) {
    settings::Settings& s = app::appSettings();
    s.loadFrom(settings::ProgramDir());
    TQuickSetupForm form(parent);
    // With no port stored yet COM1 is preselected, so "Ok" never stores "no port".
    form.selectPort(s.Modem.ComPort >= 0 ? s.Modem.ComPort : 0);
    form.Name->setText(QString::fromStdString(s.User.Name));
    form.FaxNumber->setText(QString::fromStdString(s.User.Fax));
    form.chkSM56->setChecked(s.Other.UseMotorolaSM56Fix);
    app::centerDialog(&form);
    if (form.exec() != QDialog::Accepted) {
        if (s.Modem.ComPort < 0) s.Modem.ComPort = 0;
        return false;
    }
    app::firstRunSetupPending() = false;
    s.Modem.ComPort = form.selectedPort() >= 0 ? form.selectedPort() : 0;
    s.Ports = form.portDevices();
    s.User.Name = form.Name->text().toStdString();
    s.User.Fax = form.FaxNumber->text().toStdString();
    s.Other.UseMotorolaSM56Fix = form.chkSM56->isChecked();
    motorolaSM56Active() = s.Other.UseMotorolaSM56Fix;
    return app::saveSettings();
}

}  // namespace telvane::sessions
