// TriggerTable: the triggers of one dispatcher. Available-count triggers fire when enough unread
// input is buffered, data triggers when a byte string arrives (matched incrementally over the
// input stream with a Knuth-Morris-Pratt automaton, so a string split across reads is found),
// timer triggers when their due time passes, status triggers on modem-line, line-error and
// output-buffer conditions. Handles are unique and never reused within a table.
// Not synchronised: the dispatcher guards the table with its buffer mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace telvane::transport {

enum class TriggerKind { Avail, Data, Timer, Status };

struct Trigger {
    int Handle = 0;
    TriggerKind Kind = TriggerKind::Avail;
    bool Removed = false;  // set when removed while a delivery still holds it
    size_t Count = 0;      // available
    std::string Data;      // data (folded to upper case when IgnoreCase)
    bool IgnoreCase = false;
    std::vector<size_t> Failure;  // KMP failure table of Data
    size_t Matched = 0;           // length of the longest prefix of Data ending the input so far
    bool Active = false;          // timer, status
    int64_t DueMs = 0;            // timer
    int Type = 0;                 // status
    uint32_t Value = 0;           // status
    uint8_t LastModem = 0;        // status type 1
};

class TriggerTable {
public:
    explicit TriggerTable(size_t maxPerKind) : maxPerKind_(maxPerKind) {}

    // Adds a trigger of `kind` with a new handle; nullptr when the kind has reached its limit.
    std::shared_ptr<Trigger> add(TriggerKind kind);
    // Adds a data trigger for `data` (not empty); nullptr when data triggers reached their limit.
    std::shared_ptr<Trigger> addData(std::string_view data, bool ignoreCase);
    std::shared_ptr<Trigger> find(int handle) const;
    // Removes a trigger (marking it Removed for a delivery that still holds it); false when unknown.
    bool remove(int handle);
    size_t count(TriggerKind kind) const;
    const std::vector<std::shared_ptr<Trigger>>& all() const { return triggers_; }
    // The smallest count of the available-count triggers; SIZE_MAX when there is none.
    size_t smallestAvailCount() const;
    // Advances every data trigger over `bytes`, appending the handle of each completed match in
    // arrival order to `matches`. Overlapping matches are all found.
    void scan(const uint8_t* bytes, size_t len, std::vector<int>& matches);

    static uint8_t fold(uint8_t c, bool ignoreCase);

private:
    size_t maxPerKind_;
    int nextHandle_ = 1;
    std::vector<std::shared_ptr<Trigger>> triggers_;
};

}  // namespace telvane::transport
