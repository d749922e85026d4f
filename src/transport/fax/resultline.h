// Modem result lines: collected up to CR with characters below 0x20 ignored, and matched by
// substring the way the fax machines need it ("OK", "CONNECT", "RRIER" for NO CARRIER...).
// Guarantees: a line never exceeds kMaxLine characters (longer input is cut, the rest of the
// line dropped), so garbage from a modem cannot grow memory; empty lines are not reported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace telvane::transport {

enum class TResult { None, Ok, Connect, Error, Busy, NoAnswer, Voice, NoDialTone, Ring, NoCarrier };

// Classifies a collected line. The order of the checks follows the modem's replies:
// "NO CARRIER" contains none of the other words, "CONNECT" is checked before "OK".
TResult classifyResult(std::string_view line, bool waitingForCall = false);
const char* resultName(TResult r);

class TResultLineCollector {
public:
    static constexpr size_t kMaxLine = 160;
    // Takes one byte; true when it completed a non-empty line (then line() holds it).
    bool put(uint8_t c);
    const std::string& line() const { return line_; }
    void reset() {
        building_.clear();
        line_.clear();
        cut_ = false;
    }

private:
    std::string building_;
    std::string line_;
    bool cut_ = false;
};

}  // namespace telvane::transport
