// Byte trace and event log of a serial port.
// The trace records every byte sent ('T') or received ('R') plus special entries in a circular
// buffer of TraceSize entries; the log records dispatcher events (16-byte header plus optional
// data) in a circular buffer of LogSize bytes. Both are written to text files on request
// ("OVEX.TRC", "OVEX.LOG" by default). When a ring is full the oldest entries are dropped;
// writing a file never loses the buffer on failure, and a failure is reported as false.
// Thread-safe: every method takes the object's own lock (annotated, see threadsafety.h), which is
// never held while anything outside the object runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "transport/threadsafety.h"
#include "transport/ticks.h"

namespace telvane::transport {

// Values of the Tracing and Logging properties. tlDump and tlAppend are actions: they write
// the buffer and then turn recording off (the buffer is discarded); tlClear empties the buffer
// and leaves recording as it was.
enum TTraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };

// Event log types, in the order of their names.
enum TOvxLogType : uint8_t {
    ltNone,
    ltDispatch,
    ltTrigger,
    ltError,
    ltThread,
    ltTrigAlloc,
    ltTrigDispose,
    ltTrigHandlerAlloc,
    ltTrigHandlerDispose,
    ltTrigDataChange,
    ltTelnet,
    ltFax,
    ltXModem,
    ltYModem,
    ltZModem,
    ltKermit,
    ltAscii,
    ltBPlus,
    ltPacket,
    ltUser
};

// Subtypes used with ltDispatch / ltTrigger / ltThread / ltTrigAlloc / ltTrigDispose.
enum TOvxLogSubtype : uint16_t {
    lsNone,
    lsReadCom,      // bytes read from the device (data = the bytes)
    lsWriteCom,     // bytes written to the device (data = the bytes)
    lsModemStatus,  // modem status changed (value = status bits)
    lsLineStatus,   // line error (value = error bits)
    lsAvail,        // available trigger
    lsData,         // data trigger
    lsTimer,        // timer trigger
    lsStatus,       // status trigger (value = type)
    lsStart,        // thread started
    lsExit,         // thread ended
    lsHandler,      // handler registered / removed
};

struct TOvxTraceOptions {
    bool Hex = true;      // non-printables as [hh] instead of [ddd]
    bool AllHex = false;  // every byte as [hh]
};

// Formats trace entries (kind, byte) as the trace file's text.
std::string formatTrace(const std::vector<std::pair<char, uint8_t>>& entries, TOvxTraceOptions options);

// Formats one byte the way the trace does ("A", "[0D]", "[13]").
std::string formatTraceByte(uint8_t byte, TOvxTraceOptions options);

class TOvxTrace {
public:
    void start(size_t entries);  // tlOn: record into a ring of `entries` entries
    void pause();                // tlPause: stop recording, keep the buffer
    void clearAll();             // tlClear
    void stop();                 // tlOff: stop and discard
    bool recording() const;
    void add(char kind, const uint8_t* bytes, size_t len);
    std::vector<std::pair<char, uint8_t>> entries() const;
    // Writes the buffer as text; `append` adds to the file instead of replacing it.
    bool writeFile(const std::string& path, bool append, TOvxTraceOptions options) const;

private:
    mutable Mutex mu_;
    bool recording_ TELVANE_GUARDED_BY(mu_) = false;
    size_t capacity_ TELVANE_GUARDED_BY(mu_) = 0;
    std::deque<std::pair<char, uint8_t>> ring_ TELVANE_GUARDED_BY(mu_);
};

inline constexpr uint8_t kLogNotActive = 0x80;

struct TOvxLogEntry {
    int64_t TimeMs = 0;
    TOvxLogType Type = ltNone;
    uint16_t Subtype = lsNone;
    uint8_t Extra = 0;  // status trigger type (1..5), ORed with kLogNotActive when disarmed
    uint32_t Value = 0;
    std::string Data;  // optional bytes; for ltFax the state name
};

const char* logTypeName(TOvxLogType type);
// The subtype column of a log line for an entry.
std::string logSubtypeName(const TOvxLogEntry& entry);
// One log line ("%8s  %-8s  %-12s  %08.8x  " + description + data).
std::string formatLogLine(const TOvxLogEntry& entry, TOvxTraceOptions options);
// The log file's header lines (engine name and version, compiler, operating system).
std::string logFileHeader();

class TOvxEventLog {
public:
    explicit TOvxEventLog(const TOvxClock& clock = systemClock()) : clock_(&clock) {}
    void start(size_t bytes);  // tlOn: record into a ring of `bytes` bytes
    void pause();
    void clearAll();
    void stop();
    bool recording() const;
    void add(TOvxLogType type, uint16_t subtype, uint32_t value, std::string_view data = {}, uint8_t extra = 0);
    std::vector<TOvxLogEntry> entries() const;
    bool writeFile(const std::string& path, bool append, TOvxTraceOptions options) const;

    static constexpr size_t kHeaderBytes = 16;

private:
    mutable Mutex mu_;
    const TOvxClock* clock_;
    bool recording_ TELVANE_GUARDED_BY(mu_) = false;
    size_t capacity_ TELVANE_GUARDED_BY(mu_) = 0;
    size_t used_ TELVANE_GUARDED_BY(mu_) = 0;  // header and data bytes of the entries in ring_
    int64_t startMs_ TELVANE_GUARDED_BY(mu_) = 0;
    std::deque<TOvxLogEntry> ring_ TELVANE_GUARDED_BY(mu_);
};

}  // namespace telvane::transport
