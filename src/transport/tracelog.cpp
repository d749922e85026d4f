// Byte trace and event log: circular recording and the text formats of the trace and log files.
#include "transport/tracelog.h"

#include <cstdio>
#include <fstream>
#include <sys/utsname.h>

namespace telvane::transport {

namespace {

constexpr size_t kWrapColumn = 78;

const char* runHeading(char kind, std::string& scratch) {
    if (kind == 'T') return "Transmit: ";
    if (kind == 'R') return "Receive: ";
    scratch = std::string("Special-") + kind + ": ";
    return scratch.c_str();
}

// Appends `item` to `out`, starting a new line first when it would pass the wrap column.
void appendWrapped(std::string& out, size_t& column, const std::string& item) {
    if (column > 0 && column + item.size() > kWrapColumn) {
        out += '\n';
        column = 0;
    }
    out += item;
    column += item.size();
}

bool writeText(const std::string& path, bool append, const std::string& text) {
    std::ofstream f(path, append ? std::ios::app | std::ios::binary : std::ios::trunc | std::ios::binary);
    if (!f) return false;
    f << text;
    f.flush();
    return static_cast<bool>(f);
}

}  // namespace

std::string formatTraceByte(uint8_t b, TOvxTraceOptions options) {
    char buf[8];
    const bool printable = (b >= '!' && b <= '~') || (b == ' ' && !options.Hex);
    if (printable && !options.AllHex) return std::string(1, static_cast<char>(b));
    if (options.Hex || options.AllHex)
        std::snprintf(buf, sizeof buf, "[%02X]", b);
    else
        std::snprintf(buf, sizeof buf, "[%u]", b);
    return buf;
}

std::string formatTrace(const std::vector<std::pair<char, uint8_t>>& entries, TOvxTraceOptions options) {
    std::string out;
    std::string scratch;
    size_t column = 0;
    char kind = 0;
    bool first = true;
    for (const auto& [k, b] : entries) {
        if (first || k != kind) {
            if (!first) out += '\n';
            first = false;
            kind = k;
            const std::string heading = runHeading(kind, scratch);
            out += heading;
            column = heading.size();
        }
        appendWrapped(out, column, formatTraceByte(b, options));
    }
    if (!out.empty()) out += '\n';
    return out;
}

void TOvxTrace::start(size_t entries) {
    MutexLock lock(mu_);
    capacity_ = entries;
    while (ring_.size() > capacity_) ring_.pop_front();
    recording_ = capacity_ > 0;
}

void TOvxTrace::pause() {
    MutexLock lock(mu_);
    recording_ = false;
}

void TOvxTrace::clearAll() {
    MutexLock lock(mu_);
    ring_.clear();
}

void TOvxTrace::stop() {
    MutexLock lock(mu_);
    recording_ = false;
    ring_.clear();
}

bool TOvxTrace::recording() const {
    MutexLock lock(mu_);
    return recording_;
}

void TOvxTrace::add(char kind, const uint8_t* bytes, size_t len) {
    MutexLock lock(mu_);
    if (!recording_) return;
    for (size_t i = 0; i < len; ++i) {
        if (ring_.size() == capacity_) ring_.pop_front();
        ring_.emplace_back(kind, bytes[i]);
    }
}

std::vector<std::pair<char, uint8_t>> TOvxTrace::entries() const {
    MutexLock lock(mu_);
    return {ring_.begin(), ring_.end()};
}

bool TOvxTrace::writeFile(const std::string& path, bool append, TOvxTraceOptions options) const {
    return writeText(path, append, formatTrace(entries(), options));
}

const char* logTypeName(TOvxLogType type) {
    static const char* const names[] = {"No event", "Dispatch", "Trigger",  "Error",  "Thread", "TrigAllc", "TrigDisp",
                                        "TrgHdAlc", "TrgHdDsp", "TrDatChg", "Telnet", "Fax",    "XModem",   "YModem",
                                        "ZModem",   "Kermit",   "Ascii",    "BPlus",  "Packet", "User"};
    const auto i = static_cast<size_t>(type);
    return i < std::size(names) ? names[i] : "Unknown";
}

std::string logSubtypeName(const TOvxLogEntry& e) {
    if (e.Type == ltFax) return e.Data;
    static const char* const names[] = {"",     "ReadCom", "WriteCom", "ModemStatus", "LineStatus", "Avail",
                                        "Data", "Timer",   "Status",   "Start",       "Exit",       "Handler"};
    if (e.Subtype < std::size(names)) return names[e.Subtype];
    return std::to_string(e.Subtype);
}

std::string formatLogLine(const TOvxLogEntry& e, TOvxTraceOptions options) {
    char time[16];
    std::snprintf(time, sizeof time, "%07lld", static_cast<long long>(e.TimeMs % 10000000));
    const std::string digits(time);
    const std::string t = digits.substr(0, digits.size() - 3) + "." + digits.substr(digits.size() - 3);
    char head[96];
    std::snprintf(head, sizeof head, "%8s  %-8s  %-12s  %08x  ", t.c_str(), logTypeName(e.Type),
                  logSubtypeName(e).c_str(), e.Value);
    std::string line(head);
    if (e.Extra & kLogNotActive) {
        line += "(Not active)";
    } else {
        static const char* const descriptions[] = {
            "", "(Modem status)", "(Line status)", "(Output buffer free)", "(Output buffer used)", "(Output sent)"};
        if (e.Extra > 0 && e.Extra < std::size(descriptions)) line += descriptions[e.Extra];
    }
    if (e.Type != ltFax && !e.Data.empty()) {
        if (line.back() != ' ') line += ' ';
        for (unsigned char c : e.Data) line += formatTraceByte(c, options);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

std::string logFileHeader() {
    std::string h = "OVEX v3.04\n";
#if defined(__clang__)
    h += "Compiler : clang " __clang_version__ "\n";
#elif defined(__GNUC__)
    h += "Compiler : GCC " __VERSION__ "\n";
#else
    h += "Compiler : Unknown\n";
#endif
    utsname u{};
    if (::uname(&u) == 0)
        h += std::string("Operating System : ") + u.sysname + " " + u.release + " " + u.machine + "\n";
    else
        h += "Operating System : Unknown\n";
    h += "\n";
    return h;
}

void TOvxEventLog::start(size_t bytes) {
    MutexLock lock(mu_);
    if (!recording_ && ring_.empty()) startMs_ = clock_->nowMs();
    capacity_ = bytes;
    recording_ = capacity_ >= kHeaderBytes;
    while (used_ > capacity_ && !ring_.empty()) {
        used_ -= kHeaderBytes + ring_.front().Data.size();
        ring_.pop_front();
    }
}

void TOvxEventLog::pause() {
    MutexLock lock(mu_);
    recording_ = false;
}

void TOvxEventLog::clearAll() {
    MutexLock lock(mu_);
    ring_.clear();
    used_ = 0;
}

void TOvxEventLog::stop() {
    MutexLock lock(mu_);
    recording_ = false;
    ring_.clear();
    used_ = 0;
}

bool TOvxEventLog::recording() const {
    MutexLock lock(mu_);
    return recording_;
}

void TOvxEventLog::add(TOvxLogType type, uint16_t subtype, uint32_t value, std::string_view data, uint8_t extra) {
    MutexLock lock(mu_);
    if (!recording_) return;
    if (data.size() + kHeaderBytes > capacity_) data = data.substr(0, capacity_ - kHeaderBytes);
    const size_t size = kHeaderBytes + data.size();
    while (used_ + size > capacity_ && !ring_.empty()) {
        used_ -= kHeaderBytes + ring_.front().Data.size();
        ring_.pop_front();
    }
    ring_.push_back({clock_->nowMs() - startMs_, type, subtype, extra, value, std::string(data)});
    used_ += size;
}

std::vector<TOvxLogEntry> TOvxEventLog::entries() const {
    MutexLock lock(mu_);
    return {ring_.begin(), ring_.end()};
}

bool TOvxEventLog::writeFile(const std::string& path, bool append, TOvxTraceOptions options) const {
    std::string text = logFileHeader();
    for (const auto& e : entries()) text += formatLogLine(e, options) + "\n";
    return writeText(path, append, text);
}

}  // namespace telvane::transport
