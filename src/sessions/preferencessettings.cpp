// The preferences wizard's controls to and from the settings record (see preferences.h).
#include "sessions/preferences.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "sessions/formparts.h"
#include "sessions/spelllanguagechoice.h"

namespace telvane::sessions {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }
std::string ss(const QString& s) { return s.toStdString(); }

}  // namespace

std::optional<int> parseWholeNumber(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok) return std::nullopt;
    return value;
}

void TPreferences::loadFromSettings(const settings::Settings& s) {
    ports_ = s.Ports;
    setRadioIndex(ComPort, s.Modem.ComPort);
    for (int i = 0; i < ports::kPortCount; ++i) {
        const QString device = qs(ports_[static_cast<std::size_t>(i)]);
        PortDeviceLabels[i]->setText(elided(PortDeviceLabels[i], device, PortDeviceLabels[i]->width()));
        PortDeviceLabels[i]->setToolTip(device);
    }
    showPortDevice();
    chkSM56->setChecked(s.Other.UseMotorolaSM56Fix);
    SpellLanguage->loadFrom(s);
    setRadioIndex(ToneOrPulse, s.Dialing.ToneOrPulse);
    ResetString->setText(qs(s.Resetting.String));
    ResetAfterString->setText(qs(s.Resetting.AfterString));

    setRadioIndex(FaxClass, s.Modem.FaxClass);
    TransferRate->setCurrentIndex(settings::indexFromSpeed(s.Modem.MaximumBPS));
    ModemInit->setText(qs(s.Modem.InitString));

    Name->setText(qs(s.User.Name));
    FaxNumber->setText(qs(s.User.Fax));
    UseECM->setChecked(s.Dialing.ECM);
    DialPrefix->setText(qs(s.Dialing.DialPrefix));
    DialSuffix->setText(qs(s.Dialing.DialSuffix));

    DialAttempts->setText(QString::number(s.Dialing.DialAttempts));
    RetryWait->setText(QString::number(s.Dialing.RetryWait));
    RenegotiateBetween->setChecked(s.Modem.RenegotiateBetween);
    CheckBlindDial->setChecked(s.Dialing.BlindDial);
    CheckIgnoreBusy->setChecked(s.Dialing.IgnoreBusy);

    setRadioIndex(FaxClassReceive, s.Modem.FaxClassReceive);
    TransferRateReceive->setCurrentIndex(settings::indexFromSpeed(s.Modem.MaximumBPSReceive));
    ModemInitReceive->setText(qs(s.Modem.InitStringReceive));

    setRadioIndex(AnswerOnRing, s.Receive.AnswerOnRing - 1);
    ReceiveAtStartup->setChecked(s.Receive.AtStartup);
    UseECMReceive->setChecked(s.Receive.ECMReceive);

    WaveFileEdit->setText(qs(s.Receive.Wav));
    PrintFaxOnReceipt->setChecked(s.Receive.PrintOnReceipt);
    // Entry 0 stands for the stored kDefaultPrinterName (and for a printer no longer installed).
    const int printer = s.Receive.PrintOnReceiptPrinter == settings::kDefaultPrinterName
                            ? 0
                            : PrintFaxOnReceiptPrinter->findText(qs(s.Receive.PrintOnReceiptPrinter), Qt::MatchExactly);
    PrintFaxOnReceiptPrinter->setCurrentIndex(printer > 0 ? printer : 0);
    DisableReceivingFaxesNotification->setChecked(s.Receive.DisableReceivingFaxesNotification);

    ImposeWaitBeforePrinting->setChecked(s.Other.ImposeWaitBeforePrinting);
    UseAltHeaderFont->setChecked(s.Other.UseAlternateHeaderFont);
    UseAlternateNameReceive->setChecked(s.Other.GlobalUseAlternateNamingRec);
    UseLargerSendBuffer->setChecked(s.Other.GlobalLargerSendBuffer);
    UseLargerReceiveBuffer->setChecked(s.Other.GlobalLargerReceiveBuffer);
}

bool TPreferences::storeInto(settings::Settings& s, QString& error, QLineEdit*& badField) const {
    const std::optional<int> attempts = parseWholeNumber(DialAttempts->text());
    const std::optional<int> wait = parseWholeNumber(RetryWait->text());
    if (!attempts || !wait) {
        badField = attempts ? RetryWait : DialAttempts;
        const QString what = attempts ? QStringLiteral("the number of seconds between dial attempts (question 11)")
                                      : QStringLiteral("the number of dial attempts (question 10)");
        error = QStringLiteral("'") + badField->text() + QStringLiteral("' is not a valid integer value for ") + what +
                QStringLiteral(".\r\rPlease enter a whole number. Your preferences have not been saved.");
        return false;
    }
    settings::Settings out = s;
    out.Modem.ComPort = ComPort->checkedId();
    out.Ports = ports_;
    for (std::size_t i = 0; i < out.Ports.size(); ++i)
        if (out.Ports[i].empty()) out.Ports[i] = ports::defaultPortMap()[i];
    out.Other.UseMotorolaSM56Fix = chkSM56->isChecked();
    out.Dialing.ToneOrPulse = ToneOrPulse->checkedId();
    out.Resetting.String = ss(ResetString->text());
    out.Resetting.AfterString = ss(ResetAfterString->text());

    out.Modem.FaxClass = FaxClass->checkedId();
    out.Modem.MaximumBPS = settings::speedFromIndex(TransferRate->currentIndex());
    out.Modem.InitString = ss(ModemInit->text());

    out.User.Name = ss(Name->text());
    out.User.Fax = ss(FaxNumber->text());
    out.Dialing.ECM = UseECM->isChecked();
    out.Dialing.DialPrefix = ss(DialPrefix->text());
    out.Dialing.DialSuffix = ss(DialSuffix->text());

    out.Dialing.DialAttempts = *attempts;
    out.Dialing.RetryWait = *wait;
    out.Modem.RenegotiateBetween = RenegotiateBetween->isChecked();
    out.Dialing.BlindDial = CheckBlindDial->isChecked();
    out.Dialing.IgnoreBusy = CheckIgnoreBusy->isChecked();

    out.Modem.FaxClassReceive = FaxClassReceive->checkedId();
    out.Modem.MaximumBPSReceive = settings::speedFromIndex(TransferRateReceive->currentIndex());
    out.Modem.InitStringReceive = ss(ModemInitReceive->text());

    out.Receive.AnswerOnRing = AnswerOnRing->checkedId() + 1;
    out.Receive.AtStartup = ReceiveAtStartup->isChecked();
    out.Receive.ECMReceive = UseECMReceive->isChecked();

    out.Receive.Wav = ss(WaveFileEdit->text());
    out.Receive.PrintOnReceipt = PrintFaxOnReceipt->isChecked();
    out.Receive.PrintOnReceiptPrinter = PrintFaxOnReceiptPrinter->currentIndex() <= 0
                                            ? std::string(settings::kDefaultPrinterName)
                                            : ss(PrintFaxOnReceiptPrinter->currentText());
    out.Receive.DisableReceivingFaxesNotification = DisableReceivingFaxesNotification->isChecked();

    out.Other.ImposeWaitBeforePrinting = ImposeWaitBeforePrinting->isChecked();
    out.Other.UseAlternateHeaderFont = UseAltHeaderFont->isChecked();
    out.Other.GlobalUseAlternateNamingRec = UseAlternateNameReceive->isChecked();
    out.Other.GlobalLargerSendBuffer = UseLargerSendBuffer->isChecked();
    out.Other.GlobalLargerReceiveBuffer = UseLargerReceiveBuffer->isChecked();
    s = out;
    return true;
}

}  // namespace telvane::sessions
