// The modem-command helpers the application uses before the fax engine takes over a port:
// opening the port with a message the user can read, checking that a modem answers with "OK",
// sending a configured reset string, the factory reset, and pointing a port component at the
// device mapped to its port number.
// Guarantees: no helper throws; every engine exception becomes the result false. Waits for "OK"
// last at most 36 ticks and do not let window messages run; the pause before "AT" does.
#pragma once

#include <QString>

#include <string>

#include "transport/comport.h"

namespace telvane::sessions {

// Ticks allowed for a modem's "OK".
inline constexpr int kOkWaitTicks = 36;

// Sets the port number and its device (section Ports of the settings), no automatic opening.
void assignPort(telvane::transport::TOvxComPort& port, int comNumber);

// The port of a fax session as the send dialog and receive mode place it: COM1, 8192-byte
// buffers, RTS/CTS flow control with marks 7372 and 819, trace "OVEX.TRC" (32000 entries) and
// log "OVEX.LOG", no telephony, engine events delivered through `sink`.
void prepareSessionPort(telvane::transport::TOvxComPort& port, telvane::transport::TOvxEventSink* sink);

// The message OpenComPort gives for an engine error code of port N (device path for the Linux texts).
QString openFailureMessage(int code, int comNumber, const QString& devicePath);

// Opens the port; on failure false and a message.
bool OpenComPort(telvane::transport::TOvxComPort& port, QString& message);
// "AT\r" after a short pause; without an answer the before-session reset string (when set).
bool CheckForModem(telvane::transport::TOvxComPort& port);
// Puts "AT" in front of the setting itself when it lacks it, sends it with "\r" and waits for "OK".
bool SendModemString(telvane::transport::TOvxComPort& port, std::string& setting);
// "AT&F\r" and waits for "OK".
bool FactoryResetModem(telvane::transport::TOvxComPort& port);
// Closes the port, ignoring failures.
void closePort(telvane::transport::TOvxComPort& port);

}  // namespace telvane::sessions
