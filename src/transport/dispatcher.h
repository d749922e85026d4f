// Dispatcher of one serial port: buffers, triggers, handlers and the three worker threads.
// TOvxBaseDispatcher owns the device, a circular input and output buffer, the trigger lists
// and the handler lists. Started, it runs a comm-event thread (waits for device input), a
// dispatch thread (reads the device, evaluates triggers, calls handlers) and an output thread
// (writes queued bytes). Without threads, dispatchOnce() does one dispatch pass on the calling
// thread, which lets tests drive a scripted device with a fake clock.
//
// Locking (annotated for Clang's thread-safety analysis, see dispatcher.cpp): one mutex guards the
// buffers, triggers, handlers and open/closing state and is never held while a handler runs; a
// second one hands device events from the comm-event thread to the dispatch thread.
// Guarantees:
// each firing trigger is delivered to every handler (event, then procedure, then window
// handlers) before the next trigger is evaluated; a handler or trigger removed during delivery
// is removed once that delivery ends; after an available or data notification the read
// position advances by the largest number of bytes any handler took; close() stops every
// thread, also while a handler runs, and never deadlocks with a window handler because it lets
// application events run while it waits.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "transport/eventsink.h"
#include "transport/ovxdevice.h"
#include "transport/ticks.h"
#include "transport/tracelog.h"
#include "transport/triggers.h"

namespace telvane::transport {

// Notification message numbers.
inline constexpr uint32_t ovTriggerAvail = 32257;   // param = bytes available
inline constexpr uint32_t ovTriggerData = 32258;    // param = handle, value = string length
inline constexpr uint32_t ovTriggerTimer = 32259;   // param = handle
inline constexpr uint32_t ovTriggerStatus = 32260;  // param = handle, value = status value

// Status trigger types.
enum TOvxStatusType {
    stModem = 1,        // a watched modem-status bit changed (value: mask of msCTS..msDCD)
    stLine = 2,         // a line error occurred
    stOutBuffFree = 3,  // output buffer free space at least N
    stOutBuffUsed = 4,  // output buffer used at most N
    stOutSent = 5,      // everything queued has been written to the device
};

// lparam of a notification: value + dispatcher number * 65536.
inline uint16_t triggerValue(int32_t lparam) { return static_cast<uint16_t>(lparam & 0xFFFF); }
inline uint16_t triggerDispatcher(int32_t lparam) { return static_cast<uint16_t>(static_cast<uint32_t>(lparam) >> 16); }

// A trigger handler: (message number, trigger handle or count, value + dispatcher * 65536).
using TOvxTriggerProc = std::function<void(uint32_t msg, uint32_t param, int32_t lparam)>;

// Hook that lets application (UI) events run; set by the application, empty in tools.
void setEventPump(std::function<void()> pump);
void pumpEvents();

struct TOvxDispatcherConfig {
    std::string Path;
    TOvxLineSettings Line;
    size_t InSize = 4096;
    size_t OutSize = 4096;
    size_t BufferFull = 0;    // input level at which hardware flow control holds the sender
    size_t BufferResume = 0;  // level at which it releases it
    bool DTR = true;
    bool RTS = true;
};

// Normalises the flow thresholds: with hardware flow control, 0 or too-large values become
// 90 % and 10 % of InSize.
void normaliseThresholds(TOvxDispatcherConfig& config);

class TOvxBaseDispatcher {
public:
    explicit TOvxBaseDispatcher(std::unique_ptr<TOvxDevice> device, const TOvxClock& clock = systemClock());
    ~TOvxBaseDispatcher();
    TOvxBaseDispatcher(const TOvxBaseDispatcher&) = delete;
    TOvxBaseDispatcher& operator=(const TOvxBaseDispatcher&) = delete;

    // Opens the device and applies the settings (throws EOvxException). Threads are not started.
    void openDevice(const TOvxDispatcherConfig& config);
    // Starts the comm-event, dispatch and output threads, each confirmed within 3000 ms.
    // Throws EOvxException("Dispatcher already started") when they run.
    void startDispatcher();
    // Stops the threads (letting application events run while waiting) and closes the device.
    // Called from a handler on the dispatch thread, the dispatch thread ends after it returns.
    void close();
    bool isOpen() const;
    bool running() const;
    // The device stopped answering reads or writes (unplugged, or the far side of a
    // pseudo-terminal closed); cleared by reopening or when data arrives again.
    bool lineLost() const;
    // One dispatch pass on the calling thread (for use without threads): reads the device,
    // evaluates triggers and delivers notifications. Returns the number of bytes read.
    size_t dispatchOnce();
    int Number() const { return number_; }
    TOvxDevice& device() { return *device_; }
    const TOvxClock& clock() const { return clock_; }

    // Output. Return 0 or a negative error code (ecOutputBufferTooSmall, ecBufferIsFull, ecNotOpen).
    int putChar(uint8_t c);
    int putBlock(const void* data, size_t len);
    int putString(std::string_view s) { return putBlock(s.data(), s.size()); }
    size_t outBuffFree() const;
    size_t outBuffUsed() const;
    void flushOutBuffer();

    // Input. GetChar/PeekChar return 0 or ecBufferIsEmpty; GetBlock/PeekBlock return the
    // number of bytes copied (at most len).
    size_t inBuffUsed() const;
    size_t inBuffFree() const;
    size_t charReady() const { return inBuffUsed(); }
    int getChar(uint8_t& c);
    int peekChar(uint8_t& c, size_t index = 0) const;
    size_t getBlock(void* data, size_t len);
    size_t peekBlock(void* data, size_t len) const;
    void flushInBuffer();
    // Waits until unread input exceeds `have` bytes or `ms` pass; true when it does.
    bool waitForInput(size_t have, int64_t ms);
    // Waits until the output buffer is empty or `ms` pass; true when it is.
    bool waitForOutputEmpty(int64_t ms);

    // Lines.
    void setDTR(bool on);
    void setRTS(bool on);
    uint8_t modemStatus();
    void setLine(const TOvxLineSettings& line);  // throws EOvxException
    void setBaud(long baud);                     // throws EOvxException
    const TOvxLineSettings& lineSettings() const { return config_.Line; }

    // Triggers. Add* return a handle (> 0) or a negative error code.
    int addAvailTrigger(size_t count);
    int addDataTrigger(std::string_view data, bool ignoreCase);
    int addTimerTrigger();
    int addStatusTrigger(int type);
    int removeTrigger(int handle);
    int setTimerTrigger(int handle, int64_t ticks, bool activate);
    int setStatusTrigger(int handle, uint32_t value, bool activate);
    // The type (1..5) of a status trigger; 0 for any other handle.
    int statusTriggerType(int handle) const;

    // Handlers. Register* return a handler id (> 0); removal during delivery is deferred.
    int registerEventTriggerHandler(TOvxTriggerProc proc);
    int registerProcTriggerHandler(TOvxTriggerProc proc);
    // The call reaches the application thread through `sink`, waiting at most 3000 ms.
    int registerWindowTriggerHandler(TOvxEventSink* sink, TOvxTriggerProc proc);
    void deregisterTriggerHandler(int id);

    // Trace and log to record into (owned by the caller, e.g. the port component, so that they
    // outlive the dispatcher); by default the dispatcher's own.
    void setTraceLog(TOvxTrace* trace, TOvxEventLog* log);
    TOvxTrace& trace() { return *trace_; }
    TOvxEventLog& log() { return *log_; }

    static constexpr int kWindowTimeoutMs = 3000;
    static constexpr int kPollMs = 50;
    static constexpr size_t kMaxTriggersPerKind = 64;
    static constexpr size_t kMaxDataTriggerLength = 255;

    struct Impl;

private:
    // The steps of one dispatch pass, in their order.
    size_t readDevice();
    void fireStatusTriggers(const std::vector<std::shared_ptr<Trigger>>& triggers, uint8_t modem, uint8_t errors);
    void fireDataTriggers();
    void fireAvailTrigger();
    void fireTimerTriggers(const std::vector<std::shared_ptr<Trigger>>& triggers);
    size_t writeOutputOnce();
    void commEventThread();
    void dispatchThread();
    void outputThread();
    void stopThreads();
    void joinThreads();

    std::unique_ptr<TOvxDevice> device_;
    const TOvxClock& clock_;
    const int number_;
    TOvxDispatcherConfig config_;
    TOvxTrace ownTrace_;
    TOvxEventLog ownLog_;
    TOvxTrace* trace_ = &ownTrace_;
    TOvxEventLog* log_ = &ownLog_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace telvane::transport
