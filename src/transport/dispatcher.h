// Dispatcher of one serial port: buffers, triggers, handlers and the three worker threads.
// TOvxBaseDispatcher owns the device, a circular input and output buffer, the trigger lists
// and the handler lists. Started, it runs a comm-event thread (waits for device input), a
// dispatch thread (reads the device, evaluates triggers, calls handlers) and an output thread
// (writes queued bytes). Without threads, DispatchOnce() does one dispatch pass on the calling
// thread, which lets tests drive a scripted device with a fake clock.
//
// Locking (annotated for Clang's thread-safety analysis, see dispatcher.cpp): one mutex guards the
// buffers, triggers, handlers and open/closing state and is never held while a handler runs; a
// second one hands device events from the comm-event thread to the dispatch thread.
// Guarantees:
// each firing trigger is delivered to every handler (event, then procedure, then window
// handlers) before the next trigger is evaluated; a handler or trigger removed during delivery
// is removed once that delivery ends; after an available or data notification the read
// position advances by the largest number of bytes any handler took; Close() stops every
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
inline uint16_t TriggerValue(int32_t lparam) { return static_cast<uint16_t>(lparam & 0xFFFF); }
inline uint16_t TriggerDispatcher(int32_t lparam) { return static_cast<uint16_t>(static_cast<uint32_t>(lparam) >> 16); }

// A trigger handler: (message number, trigger handle or count, value + dispatcher * 65536).
using TOvxTriggerProc = std::function<void(uint32_t msg, uint32_t param, int32_t lparam)>;

// Hook that lets application (UI) events run; set by the application, empty in tools.
void SetEventPump(std::function<void()> pump);
void PumpEvents();

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
void NormaliseThresholds(TOvxDispatcherConfig& config);

class TOvxBaseDispatcher {
public:
    explicit TOvxBaseDispatcher(std::unique_ptr<TOvxDevice> device, const TOvxClock& clock = SystemClock());
    ~TOvxBaseDispatcher();
    TOvxBaseDispatcher(const TOvxBaseDispatcher&) = delete;
    TOvxBaseDispatcher& operator=(const TOvxBaseDispatcher&) = delete;

    // Opens the device and applies the settings (throws EOvxException). Threads are not started.
    void OpenDevice(const TOvxDispatcherConfig& config);
    // Starts the comm-event, dispatch and output threads, each confirmed within 3000 ms.
    // Throws EOvxException("Dispatcher already started") when they run.
    void StartDispatcher();
    // Stops the threads (letting application events run while waiting) and closes the device.
    // Called from a handler on the dispatch thread, the dispatch thread ends after it returns.
    void Close();
    bool IsOpen() const;
    bool Running() const;
    // The device stopped answering reads or writes (unplugged, or the far side of a
    // pseudo-terminal closed); cleared by reopening or when data arrives again.
    bool LineLost() const;
    // One dispatch pass on the calling thread (for use without threads): reads the device,
    // evaluates triggers and delivers notifications. Returns the number of bytes read.
    size_t DispatchOnce();
    int Number() const { return number_; }
    TOvxDevice& Device() { return *device_; }
    const TOvxClock& Clock() const { return clock_; }

    // Output. Return 0 or a negative error code (ecOutputBufferTooSmall, ecBufferIsFull, ecNotOpen).
    int PutChar(uint8_t c);
    int PutBlock(const void* data, size_t len);
    int PutString(std::string_view s) { return PutBlock(s.data(), s.size()); }
    size_t OutBuffFree() const;
    size_t OutBuffUsed() const;
    void FlushOutBuffer();

    // Input. GetChar/PeekChar return 0 or ecBufferIsEmpty; GetBlock/PeekBlock return the
    // number of bytes copied (at most len).
    size_t InBuffUsed() const;
    size_t InBuffFree() const;
    size_t CharReady() const { return InBuffUsed(); }
    int GetChar(uint8_t& c);
    int PeekChar(uint8_t& c, size_t index = 0) const;
    size_t GetBlock(void* data, size_t len);
    size_t PeekBlock(void* data, size_t len) const;
    void FlushInBuffer();
    // Waits until unread input exceeds `have` bytes or `ms` pass; true when it does.
    bool WaitForInput(size_t have, int64_t ms);
    // Waits until the output buffer is empty or `ms` pass; true when it is.
    bool WaitForOutputEmpty(int64_t ms);

    // Lines.
    void SetDTR(bool on);
    void SetRTS(bool on);
    uint8_t ModemStatus();
    void SetLine(const TOvxLineSettings& line);  // throws EOvxException
    void SetBaud(long baud);                     // throws EOvxException
    const TOvxLineSettings& LineSettings() const { return config_.Line; }

    // Triggers. Add* return a handle (> 0) or a negative error code.
    int AddAvailTrigger(size_t count);
    int AddDataTrigger(std::string_view data, bool ignoreCase);
    int AddTimerTrigger();
    int AddStatusTrigger(int type);
    int RemoveTrigger(int handle);
    int SetTimerTrigger(int handle, int64_t ticks, bool activate);
    int SetStatusTrigger(int handle, uint32_t value, bool activate);
    // The type (1..5) of a status trigger; 0 for any other handle.
    int StatusTriggerType(int handle) const;

    // Handlers. Register* return a handler id (> 0); removal during delivery is deferred.
    int RegisterEventTriggerHandler(TOvxTriggerProc proc);
    int RegisterProcTriggerHandler(TOvxTriggerProc proc);
    // The call reaches the application thread through `sink`, waiting at most 3000 ms.
    int RegisterWindowTriggerHandler(TOvxEventSink* sink, TOvxTriggerProc proc);
    void DeregisterTriggerHandler(int id);

    // Trace and log to record into (owned by the caller, e.g. the port component, so that they
    // outlive the dispatcher); by default the dispatcher's own.
    void SetTraceLog(TOvxTrace* trace, TOvxEventLog* log);
    TOvxTrace& Trace() { return *trace_; }
    TOvxEventLog& Log() { return *log_; }

    static constexpr int kWindowTimeoutMs = 3000;
    static constexpr int kPollMs = 50;
    static constexpr size_t kMaxTriggersPerKind = 64;
    static constexpr size_t kMaxDataTriggerLength = 255;

    struct Impl;

private:
    // The steps of one dispatch pass, in their order.
    size_t ReadDevice();
    void FireStatusTriggers(const std::vector<std::shared_ptr<Trigger>>& triggers, uint8_t modem, uint8_t errors);
    void FireDataTriggers();
    void FireAvailTrigger();
    void FireTimerTriggers(const std::vector<std::shared_ptr<Trigger>>& triggers);
    size_t WriteOutputOnce();
    void CommEventThread();
    void DispatchThread();
    void OutputThread();
    void StopThreads();
    void JoinThreads();

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
