// Modem-command helpers (see modemcommands.h).
#include "sessions/modemcommands.h"

#include <exception>

#include "transport/fax/faxsession.h"
#include "transport/modemwait.h"
#include "app/appstate.h"

namespace telvane::sessions {

namespace {
bool waitForOk(telvane::transport::TOvxComPort& port) {
    return telvane::transport::waitForString(port, "OK", kOkWaitTicks, false, true);
}

// Writes a command after dropping what is still waiting in the input buffer, so that an "OK"
// left by an earlier command (the engine's hang-up, say) is not taken as this one's answer.
void writeCommand(telvane::transport::TOvxComPort& port, const std::string& command) {
    port.flushInBuffer();
    telvane::transport::writeString(port, command);
}

QString codeText(int code) { return QString::fromStdString(telvane::errors::ovxErrorText(code)); }
}  // namespace

void assignPort(telvane::transport::TOvxComPort& port, int comNumber) {
    port.setComNumber(comNumber);
    port.setDevicePath(app::appSettings().portDevice(comNumber - 1));
    port.setAutoOpen(false);
    port.setPromptForPort(false);
}

void prepareSessionPort(telvane::transport::TOvxComPort& port, telvane::transport::TOvxEventSink* sink) {
    port.setComNumber(1);
    port.setInSize(8192);
    port.setOutSize(8192);
    port.setAutoOpen(false);
    port.setPromptForPort(false);
    port.setHWFlowOptions(telvane::transport::hwfUseRTS | telvane::transport::hwfRequireCTS);
    port.setBufferFull(7372);
    port.setBufferResume(819);
    port.setTraceSize(32000);
    port.setTraceName("OVEX.TRC");
    port.setLogName("OVEX.LOG");
    port.setTapiMode(telvane::transport::tmOff);
    port.setEventSink(sink);
}

QString openFailureMessage(int code, int comNumber, const QString& devicePath) {
    const QString n = QString::number(comNumber);
    if (code == telvane::errors::ecAlreadyOpen || code == telvane::errors::ecPortInUse)
        return QStringLiteral("The communications port is in use ( Com ") + n + QStringLiteral(" )") +
               QStringLiteral("\r\n\r\n") + QStringLiteral("Please make sure that all communication ") +
               QStringLiteral("programs (internet, AOL, etc) are closed, and then try ") + QStringLiteral("again.");
    const QString head =
        QStringLiteral("Unable to open the specified communications port ( Com") + n + QStringLiteral(" )");
    if (code == telvane::errors::ecBadId)
        return head + QStringLiteral("\r\n") + QStringLiteral("The device ") + devicePath +
               QStringLiteral(" does not exist. Check that the modem is plugged in, or set the device of COM") + n +
               QStringLiteral(" in the Ports section of TVN.INI.");
    if (code == telvane::errors::ecFileAccessDenied)
        return head + QStringLiteral("\r\n") + QStringLiteral("You are not allowed to use ") + devicePath +
               QStringLiteral(". Add your user to the \"dialout\" group (sudo adduser $USER dialout), ") +
               QStringLiteral("then log out and in again.");
    const QString text = codeText(code);
    return head + QStringLiteral("\r\n") + QStringLiteral("Error message: ") +
           (text.isEmpty() ? QStringLiteral("Unknown error") : text);
}

bool OpenComPort(telvane::transport::TOvxComPort& port, QString& message) {
    message.clear();
    try {
        port.setOpen(true);
        return true;
    } catch (const telvane::errors::EOvxException& e) {
        message = openFailureMessage(e.ErrorCode(), port.ComNumber(), QString::fromStdString(port.devicePath()));
    } catch (const std::exception& e) {
        message = QStringLiteral("Unable to open the specified communications port( Com") +
                  QString::number(port.ComNumber()) + QStringLiteral(" )") + QStringLiteral("\r\n") +
                  QStringLiteral("Error message: ") + QString::fromLocal8Bit(e.what());
    }
    return false;
}

bool CheckForModem(telvane::transport::TOvxComPort& port) {
    try {
        telvane::transport::delayTicks(12, true);
        writeCommand(port, "AT\r");
        if (waitForOk(port)) return true;
        const std::string& reset = app::appSettings().Resetting.String;
        if (QString::fromStdString(reset).trimmed().isEmpty()) return false;
        writeCommand(port, reset + "\r");
        return waitForOk(port);
    } catch (const std::exception&) {
        return false;
    }
}

bool SendModemString(telvane::transport::TOvxComPort& port, std::string& setting) {
    try {
        if (QString::fromStdString(setting).toUpper().indexOf(QStringLiteral("AT")) < 0) setting = "AT" + setting;
        writeCommand(port, setting + "\r");
        return waitForOk(port);
    } catch (const std::exception&) {
        return false;
    }
}

bool FactoryResetModem(telvane::transport::TOvxComPort& port) {
    try {
        writeCommand(port, "AT&F\r");
        return waitForOk(port);
    } catch (const std::exception&) {
        return false;
    }
}

void closePort(telvane::transport::TOvxComPort& port) {
    try {
        port.setOpen(false);
    } catch (const std::exception&) {}
}

}  // namespace telvane::sessions
