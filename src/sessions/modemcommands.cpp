// Modem-command helpers (see modemcommands.h).
#include "sessions/modemcommands.h"

#include <exception>

#include "transport/fax/faxsession.h"
#include "transport/modemwait.h"
#include "app/appstate.h"

namespace telvane::sessions {

namespace {
bool WaitForOk(telvane::transport::TOvxComPort& port) {
    return telvane::transport::WaitForString(port, "OK", kOkWaitTicks, false, true);
}

// Writes a command after dropping what is still waiting in the input buffer, so that an "OK"
// left by an earlier command (the engine's hang-up, say) is not taken as this one's answer.
void WriteCommand(telvane::transport::TOvxComPort& port, const std::string& command) {
    port.FlushInBuffer();
    telvane::transport::WriteString(port, command);
}

QString CodeText(int code) { return QString::fromStdString(telvane::OvxErrorText(code)); }
}  // namespace

void AssignPort(telvane::transport::TOvxComPort& port, int comNumber) {
    port.SetComNumber(comNumber);
    port.SetDevicePath(AppSettings().portDevice(comNumber - 1));
    port.SetAutoOpen(false);
    port.SetPromptForPort(false);
}

void PrepareSessionPort(telvane::transport::TOvxComPort& port, telvane::transport::TOvxEventSink* sink) {
    port.SetComNumber(1);
    port.SetInSize(8192);
    port.SetOutSize(8192);
    port.SetAutoOpen(false);
    port.SetPromptForPort(false);
    port.SetHWFlowOptions(telvane::transport::hwfUseRTS | telvane::transport::hwfRequireCTS);
    port.SetBufferFull(7372);
    port.SetBufferResume(819);
    port.SetTraceSize(32000);
    port.SetTraceName("OVEX.TRC");
    port.SetLogName("OVEX.LOG");
    port.SetTapiMode(telvane::transport::tmOff);
    port.SetEventSink(sink);
}

QString OpenFailureMessage(int code, int comNumber, const QString& devicePath) {
    const QString n = QString::number(comNumber);
    if (code == telvane::ecAlreadyOpen || code == telvane::ecPortInUse)
        return QStringLiteral("The communications port is in use ( Com ") + n + QStringLiteral(" )") +
               QStringLiteral("\r\n\r\n") + QStringLiteral("Please make sure that all communication ") +
               QStringLiteral("programs (internet, AOL, etc) are closed, and then try ") + QStringLiteral("again.");
    const QString head =
        QStringLiteral("Unable to open the specified communications port ( Com") + n + QStringLiteral(" )");
    if (code == telvane::ecBadId)
        return head + QStringLiteral("\r\n") + QStringLiteral("The device ") + devicePath +
               QStringLiteral(" does not exist. Check that the modem is plugged in, or set the device of COM") + n +
               QStringLiteral(" in the Ports section of TVN.INI.");
    if (code == telvane::ecFileAccessDenied)
        return head + QStringLiteral("\r\n") + QStringLiteral("You are not allowed to use ") + devicePath +
               QStringLiteral(". Add your user to the \"dialout\" group (sudo adduser $USER dialout), ") +
               QStringLiteral("then log out and in again.");
    const QString text = CodeText(code);
    return head + QStringLiteral("\r\n") + QStringLiteral("Error message: ") +
           (text.isEmpty() ? QStringLiteral("Unknown error") : text);
}

bool OpenComPort(telvane::transport::TOvxComPort& port, QString& message) {
    message.clear();
    try {
        port.SetOpen(true);
        return true;
    } catch (const telvane::EOvxException& e) {
        message = OpenFailureMessage(e.ErrorCode(), port.ComNumber(), QString::fromStdString(port.DevicePath()));
    } catch (const std::exception& e) {
        message = QStringLiteral("Unable to open the specified communications port( Com") +
                  QString::number(port.ComNumber()) + QStringLiteral(" )") + QStringLiteral("\r\n") +
                  QStringLiteral("Error message: ") + QString::fromLocal8Bit(e.what());
    }
    return false;
}

bool CheckForModem(telvane::transport::TOvxComPort& port) {
    try {
        telvane::transport::DelayTicks(12, true);
        WriteCommand(port, "AT\r");
        if (WaitForOk(port)) return true;
        const std::string& reset = AppSettings().Resetting.String;
        if (QString::fromStdString(reset).trimmed().isEmpty()) return false;
        WriteCommand(port, reset + "\r");
        return WaitForOk(port);
    } catch (const std::exception&) {
        return false;
    }
}

bool SendModemString(telvane::transport::TOvxComPort& port, std::string& setting) {
    try {
        if (QString::fromStdString(setting).toUpper().indexOf(QStringLiteral("AT")) < 0) setting = "AT" + setting;
        WriteCommand(port, setting + "\r");
        return WaitForOk(port);
    } catch (const std::exception&) {
        return false;
    }
}

bool FactoryResetModem(telvane::transport::TOvxComPort& port) {
    try {
        WriteCommand(port, "AT&F\r");
        return WaitForOk(port);
    } catch (const std::exception&) {
        return false;
    }
}

void ClosePort(telvane::transport::TOvxComPort& port) {
    try {
        port.SetOpen(false);
    } catch (const std::exception&) {}
}

}  // namespace telvane::sessions
