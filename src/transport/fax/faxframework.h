// Pure rules of the fax session framework: fax-class parsing, time conversions, the bit-rate
// digit, header-line substitutions, received-file naming and the fax history file.
// Guarantees: every function is deterministic given its inputs (dates and times are passed in
// or taken from the given clock values); naming never overwrites an existing file.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace telvane::transport {

enum TFaxClass { fcUnknown = 0, fcDetect = 1, fcClass1 = 2, fcClass2 = 3, fcClass2_0 = 4 };
using TFaxClassSet = unsigned;  // bit (1 << TFaxClass)
inline constexpr TFaxClassSet faxClassBit(TFaxClass c) { return 1u << c; }

// Classes from the reply to "AT+FCLASS=?".
TFaxClassSet parseFaxClasses(std::string_view reply);
// The highest class of a set: 2.0, else 2, else 1, else fcUnknown.
TFaxClass bestFaxClass(TFaxClassSet set);

// Dial and retry waits: seconds to ticks and back.
int64_t secondsToTicks(int64_t seconds);
int64_t ticksToSeconds(int64_t ticks);

// Class 2 bit-rate digit of a speed: 2400 "0" ... 14400 "5", anything else "3".
char bitRateDigit(long bps);

// The default init string for the dial options.
std::string defaultInitString(bool detectBusy, bool blindDial);
// ModemInit as stored: at most 40 characters, upper case, "AT" put in front when missing.
std::string normaliseModemInit(std::string_view s);
// DestinationDir as stored: a trailing '/' added when missing (inside a closing quote).
std::string normaliseDestinationDir(std::string_view s);

struct THeaderValues {
    std::string Date, Time, StationID, Recipient, Title, Sender;
    int TotalPages = 0;
    int Page = 0;
};
// Replaces each "$" token (up to the next blank) by the value of its first letter.
std::string substituteHeader(std::string_view text, const THeaderValues& v);
// Short date and long time of `t` in local time ("12/08/26", "14:05:09").
std::string shortDate(std::time_t t);
std::string longTime(std::time_t t);

enum TFaxNameMode { fnCount = 0, fnMonthDay = 1 };
// The next free name in `dir` (which ends with '/'): FAX0001.OVF... or MMDD0001.OVF...;
// "NONAME.OVF" when all 9999 exist; "noname.ovf" for an unknown mode. When that name is taken
// too, the first free of NONAME1.OVF, NONAME2.OVF... (noname1.ovf...); empty when none is free.
// Names are compared without case.
std::string nextReceiveFileName(const std::string& dir, int mode, const std::string& ext, std::time_t now);

// The lines one history entry adds for a log code (1..8); empty for other codes.
struct THistoryInfo {
    std::string File, Phone, remoteID, ErrorText, hangupCode, DateTime;
    int Pages = 0;  // pages kept of a fax received in part (code 8)
};
std::string historyLines(int logCode, const THistoryInfo& info);

}  // namespace telvane::transport
