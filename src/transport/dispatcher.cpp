// Dispatcher of one serial port: ring buffers, trigger evaluation, handler delivery, threads.
#include "transport/dispatcher.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "errors/errors.h"
#include "transport/ringbuffer.h"
#include "transport/threadsafety.h"
#include "transport/triggers.h"

namespace telvane::transport {

namespace {

Mutex gPumpMutex;
std::function<void()> gPump;
std::atomic<int> gNextDispatcherNumber{1};

enum class HandlerKind { Event = 0, Proc = 1, Window = 2 };

}  // namespace

void setEventPump(std::function<void()> pump) {
    MutexLock lock(gPumpMutex);
    gPump = std::move(pump);
}

void pumpEvents() {
    std::function<void()> pump;
    {
        MutexLock lock(gPumpMutex);
        pump = gPump;
    }
    if (pump) pump();
}

void normaliseThresholds(TOvxDispatcherConfig& c) {
    const bool hw = c.Line.HWFlowOptions != 0;
    if (!hw) return;
    if (c.BufferFull == 0 || c.BufferFull > c.InSize) c.BufferFull = c.InSize * 9 / 10;
    if (c.BufferResume == 0 || c.BufferResume > c.BufferFull) c.BufferResume = c.InSize / 10;
}

struct TOvxBaseDispatcher::Impl {
    struct Handler {
        int Id = 0;
        HandlerKind Kind = HandlerKind::Proc;
        TOvxTriggerProc Proc;
        TOvxEventSink* Sink = nullptr;
        bool Removed = false;
    };

    // Buffers, triggers, handlers and the port's state: shared by the application, dispatch,
    // comm-event and output threads.
    Mutex mu;
    ByteRing in TELVANE_GUARDED_BY(mu), out TELVANE_GUARDED_BY(mu);
    uint64_t outFlushes TELVANE_GUARDED_BY(mu) = 0;
    uint64_t newSinceAvail TELVANE_GUARDED_BY(mu) = 0;
    TriggerTable triggers TELVANE_GUARDED_BY(mu){kMaxTriggersPerKind};
    std::vector<std::shared_ptr<Handler>> handlers TELVANE_GUARDED_BY(mu);
    std::vector<int> dataMatches TELVANE_GUARDED_BY(mu);  // data triggers matched, in arrival order
    int nextHandler TELVANE_GUARDED_BY(mu) = 1;
    bool delivering TELVANE_GUARDED_BY(mu) = false;
    bool flushedDuringDelivery TELVANE_GUARDED_BY(mu) = false;
    bool lineLost TELVANE_GUARDED_BY(mu) = false;
    bool open TELVANE_GUARDED_BY(mu) = false;
    bool closing TELVANE_GUARDED_BY(mu) = false;
    bool running TELVANE_GUARDED_BY(mu) = false;
    uint8_t lastModem TELVANE_GUARDED_BY(mu) = 0;  // modem status seen by the last dispatch pass
    std::condition_variable_any inputCv;           // (with mu) input arrived, output drained, stop
    std::condition_variable_any outCv;             // (with mu) output queued, stop

    // Orders the trace and the log with the line: bytes written are recorded before bytes read in
    // reply to them, although the write and its record happen on another thread than the read.
    Mutex recordMu;

    // Thread hand-over between the comm-event and dispatch threads, and start/end confirmation.
    Mutex evMu;
    std::condition_variable_any dispatchCv, commCv, startCv;  // (with evMu)
    bool eventPending TELVANE_GUARDED_BY(evMu) = false;
    bool kick TELVANE_GUARDED_BY(evMu) = false;
    int started TELVANE_GUARDED_BY(evMu) = 0;

    // Lock-free flags, read by every thread.
    std::atomic<bool> stop{false};
    std::atomic<int> ended{0};
    std::atomic<bool> closeOnExit{false};
    // The last poll saw a hang-up or error on the device: a read of nothing then means the
    // line is gone (a hung-up tty reads as end of file for ever, so it must not be polled again).
    std::atomic<bool> hangupSeen{false};

    // Set while no worker thread runs (StartDispatcher, Close) and read-only while they do.
    int wake[2] = {-1, -1};
    std::thread comm, dispatch, output;
    std::thread::id dispatchId;

    size_t inUsed() const TELVANE_REQUIRES(mu) { return in.used(); }
    size_t outUsed() const TELVANE_REQUIRES(mu) { return out.used(); }

    void wakeThreads() {
        if (wake[1] >= 0) {
            const char c = 1;
            [[maybe_unused]] ssize_t n = ::write(wake[1], &c, 1);
        }
    }
    void kickDispatch() {
        {
            MutexLock lock(evMu);
            kick = true;
        }
        dispatchCv.notify_all();
    }
};

TOvxBaseDispatcher::TOvxBaseDispatcher(std::unique_ptr<TOvxDevice> device, const TOvxClock& clock)
    : device_(std::move(device)),
      clock_(clock),
      number_(gNextDispatcherNumber.fetch_add(1) & 0x7FFF),
      impl_(std::make_unique<Impl>()) {}

TOvxBaseDispatcher::~TOvxBaseDispatcher() {
    close();
    joinThreads();
}

void TOvxBaseDispatcher::setTraceLog(TOvxTrace* trace, TOvxEventLog* log) {
    trace_ = trace ? trace : &ownTrace_;
    log_ = log ? log : &ownLog_;
}

void TOvxBaseDispatcher::openDevice(const TOvxDispatcherConfig& config) {
    Impl& d = *impl_;
    if (isOpen()) throw errors::EOvxException(errors::ecAlreadyOpen, "Port already open");
    joinThreads();
    if (config.InSize == 0 || config.OutSize == 0)
        throw errors::EOvxException(errors::ecBadArgument, "Buffer sizes must not be zero");
    config_ = config;
    normaliseThresholds(config_);
    device_->Open(config_.Path);
    try {
        device_->configure(config_.Line);
    } catch (...) {
        device_->close();
        throw;
    }
    device_->setDTR(config_.DTR);
    device_->setRTS(config_.RTS);
    device_->flushInput();
    MutexLock lock(d.mu);
    d.in.reset(config_.InSize);
    d.out.reset(config_.OutSize);
    d.newSinceAvail = 0;
    d.dataMatches.clear();
    d.lineLost = false;
    d.lastModem = device_->modemStatus();
    d.stop = false;
    d.closeOnExit = false;
    d.open = true;
}

bool TOvxBaseDispatcher::isOpen() const {
    MutexLock lock(impl_->mu);
    return impl_->open;
}

bool TOvxBaseDispatcher::running() const {
    MutexLock lock(impl_->mu);
    return impl_->running;
}

bool TOvxBaseDispatcher::lineLost() const {
    MutexLock lock(impl_->mu);
    return impl_->lineLost;
}

void TOvxBaseDispatcher::startDispatcher() {
    Impl& d = *impl_;
    {
        MutexLock lock(d.mu);
        if (d.running) throw errors::EOvxException(errors::ecBadArgument, "Dispatcher already started");
        if (!d.open) throw errors::EOvxException(errors::ecNotOpen, "Port not open");
        d.running = true;
    }
    if (::pipe2(d.wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        MutexLock lock(d.mu);
        d.running = false;
        throw errors::EOvxException(errors::ecDeviceError, "Cannot create the dispatcher's wake-up pipe");
    }
    d.ended = 0;
    {
        MutexLock lock(d.evMu);
        d.started = 0;
    }
    auto startOne = [&](std::thread& t, void (TOvxBaseDispatcher::*body)(), int index) {
        t = std::thread([this, body] { (this->*body)(); });
        UniqueLock lock(d.evMu);
        if (!d.startCv.wait_for(lock.get(), std::chrono::milliseconds(3000),
                                [&]() TELVANE_LOCKED_PREDICATE { return d.started >= index; })) {
            lock.unlock();
            close();
            throw errors::EOvxException(errors::ecDeviceError, "Dispatcher thread did not start");
        }
    };
    startOne(d.comm, &TOvxBaseDispatcher::commEventThread, 1);
    startOne(d.dispatch, &TOvxBaseDispatcher::dispatchThread, 2);
    startOne(d.output, &TOvxBaseDispatcher::outputThread, 3);
}

void TOvxBaseDispatcher::stopThreads() {
    Impl& d = *impl_;
    d.stop = true;
    d.wakeThreads();
    {
        MutexLock lock(d.evMu);
        d.kick = true;
    }
    d.dispatchCv.notify_all();
    d.commCv.notify_all();
    // `stop` is not set under mu: taking mu once makes sure that a thread which saw it false
    // while holding mu has started waiting before the notifications below, so none is lost.
    { MutexLock lock(d.mu); }
    d.outCv.notify_all();
    d.inputCv.notify_all();
}

void TOvxBaseDispatcher::joinThreads() {
    Impl& d = *impl_;
    const auto self = std::this_thread::get_id();
    for (std::thread* t : {&d.comm, &d.dispatch, &d.output})
        if (t->joinable() && t->get_id() != self) t->join();
    if (!d.comm.joinable() && !d.dispatch.joinable() && !d.output.joinable()) {
        for (int& fd : d.wake) {
            if (fd >= 0) ::close(fd);
            fd = -1;
        }
    }
}

namespace {
constexpr int64_t kCloseDrainMs = 2000;
}  // namespace

void TOvxBaseDispatcher::close() {
    Impl& d = *impl_;
    {
        MutexLock lock(d.mu);
        if (!d.open || d.closing) return;
        d.closing = true;
    }
    const bool threads = d.comm.joinable() || d.dispatch.joinable() || d.output.joinable();
    const bool onDispatchThread = threads && std::this_thread::get_id() == d.dispatchId;
    // What was written last (a reset string after a session, say) still goes out: closing waits
    // a little for the output buffer to empty instead of dropping it.
    if (threads && !onDispatchThread) waitForOutputEmpty(kCloseDrainMs);
    stopThreads();
    if (onDispatchThread) {
        // Called from a handler: the dispatch thread closes the device when it returns.
        d.closeOnExit = true;
        if (d.comm.joinable()) d.comm.join();
        if (d.output.joinable()) d.output.join();
        MutexLock lock(d.mu);
        d.open = false;
        d.closing = false;
        return;
    }
    if (threads) {
        // A handler may be waiting for the application thread: keep its events running. The
        // port stays usable for handlers until every thread has ended.
        auto allEnded = [&] {
            MutexLock lock(d.evMu);
            return d.ended.load() >= d.started;
        };
        while (!allEnded()) {
            pumpEvents();
            UniqueLock lock(d.evMu);
            d.startCv.wait_for(lock.get(), std::chrono::milliseconds(5),
                               [&]() TELVANE_LOCKED_PREDICATE { return d.ended.load() >= d.started; });
        }
        joinThreads();
    }
    {
        MutexLock lock(d.mu);
        d.running = false;
        d.open = false;
        d.closing = false;
    }
    d.inputCv.notify_all();
    device_->close();
}

// --- output ---

int TOvxBaseDispatcher::putChar(uint8_t c) { return putBlock(&c, 1); }

int TOvxBaseDispatcher::putBlock(const void* data, size_t len) {
    Impl& d = *impl_;
    {
        MutexLock lock(d.mu);
        if (!d.open) return errors::ecNotOpen;
        if (len > d.out.capacity()) return errors::ecOutputBufferTooSmall;
        if (len > d.out.room()) return errors::ecBufferIsFull;
        const auto* p = static_cast<const uint8_t*>(data);
        d.out.push(p, len);
    }
    d.outCv.notify_all();
    return 0;
}

size_t TOvxBaseDispatcher::outBuffFree() const {
    MutexLock lock(impl_->mu);
    return impl_->out.room();
}

size_t TOvxBaseDispatcher::outBuffUsed() const {
    MutexLock lock(impl_->mu);
    return impl_->outUsed();
}

void TOvxBaseDispatcher::flushOutBuffer() {
    Impl& d = *impl_;
    {
        MutexLock lock(d.mu);
        d.out.clear();
        ++d.outFlushes;
    }
    if (isOpen()) device_->flushOutput();
    d.inputCv.notify_all();
    d.kickDispatch();
}

// --- input ---

size_t TOvxBaseDispatcher::inBuffUsed() const {
    MutexLock lock(impl_->mu);
    return impl_->inUsed();
}

size_t TOvxBaseDispatcher::inBuffFree() const {
    MutexLock lock(impl_->mu);
    return impl_->in.room();
}

int TOvxBaseDispatcher::getChar(uint8_t& c) { return getBlock(&c, 1) == 1 ? 0 : errors::ecBufferIsEmpty; }

int TOvxBaseDispatcher::peekChar(uint8_t& c, size_t index) const {
    Impl& d = *impl_;
    MutexLock lock(d.mu);
    if (index >= d.inUsed()) return errors::ecBufferIsEmpty;
    c = d.in.at(index);
    return 0;
}

size_t TOvxBaseDispatcher::peekBlock(void* data, size_t len) const {
    Impl& d = *impl_;
    MutexLock lock(d.mu);
    return d.in.peek(static_cast<uint8_t*>(data), len);
}

size_t TOvxBaseDispatcher::getBlock(void* data, size_t len) {
    Impl& d = *impl_;
    size_t n;
    {
        MutexLock lock(d.mu);
        n = d.in.take(static_cast<uint8_t*>(data), len);
    }
    if (n > 0) d.wakeThreads();  // room again: the comm-event thread may resume watching the device
    return n;
}

void TOvxBaseDispatcher::flushInBuffer() {
    Impl& d = *impl_;
    {
        MutexLock lock(d.mu);
        d.in.clear();
        if (d.delivering) d.flushedDuringDelivery = true;
    }
    d.wakeThreads();
}

bool TOvxBaseDispatcher::waitForInput(size_t have, int64_t ms) {
    Impl& d = *impl_;
    UniqueLock lock(d.mu);
    return d.inputCv.wait_for(lock.get(), std::chrono::milliseconds(std::max<int64_t>(ms, 0)),
                              [&]()
                                  TELVANE_LOCKED_PREDICATE { return d.inUsed() > have || !d.open || d.stop.load(); }) &&
           d.inUsed() > have;
}

bool TOvxBaseDispatcher::waitForOutputEmpty(int64_t ms) {
    Impl& d = *impl_;
    UniqueLock lock(d.mu);
    return d.inputCv.wait_for(lock.get(), std::chrono::milliseconds(std::max<int64_t>(ms, 0)),
                              [&]()
                                  TELVANE_LOCKED_PREDICATE { return d.outUsed() == 0 || !d.open || d.stop.load(); }) &&
           d.outUsed() == 0;
}

// --- lines ---

void TOvxBaseDispatcher::setDTR(bool on) {
    config_.DTR = on;
    if (isOpen()) device_->setDTR(on);
}

void TOvxBaseDispatcher::setRTS(bool on) {
    config_.RTS = on;
    if (isOpen()) device_->setRTS(on);
}

uint8_t TOvxBaseDispatcher::modemStatus() { return isOpen() ? device_->modemStatus() : 0; }

void TOvxBaseDispatcher::setLine(const TOvxLineSettings& line) {
    if (isOpen()) device_->configure(line);
    config_.Line = line;
}

void TOvxBaseDispatcher::setBaud(long baud) {
    TOvxLineSettings line = config_.Line;
    line.Baud = baud;
    setLine(line);
}

// --- triggers ---

int TOvxBaseDispatcher::addAvailTrigger(size_t count) {
    Impl& d = *impl_;
    MutexLock lock(d.mu);
    auto t = d.triggers.add(TriggerKind::Avail);
    if (!t) return errors::ecNoMoreTriggers;
    t->Count = std::max<size_t>(count, 1);
    log_->add(ltTrigAlloc, lsAvail, static_cast<uint32_t>(t->Handle));
    return t->Handle;
}

int TOvxBaseDispatcher::addDataTrigger(std::string_view data, bool ignoreCase) {
    Impl& d = *impl_;
    if (data.empty() || data.size() > kMaxDataTriggerLength) return errors::ecTriggerTooLong;
    MutexLock lock(d.mu);
    auto t = d.triggers.addData(data, ignoreCase);
    if (!t) return errors::ecNoMoreTriggers;
    log_->add(ltTrigAlloc, lsData, static_cast<uint32_t>(t->Handle), data);
    return t->Handle;
}

int TOvxBaseDispatcher::addTimerTrigger() {
    Impl& d = *impl_;
    MutexLock lock(d.mu);
    auto t = d.triggers.add(TriggerKind::Timer);
    if (!t) return errors::ecNoMoreTriggers;
    log_->add(ltTrigAlloc, lsTimer, static_cast<uint32_t>(t->Handle));
    return t->Handle;
}

int TOvxBaseDispatcher::addStatusTrigger(int type) {
    Impl& d = *impl_;
    if (type < stModem || type > stOutSent) return errors::ecBadArgument;
    MutexLock lock(d.mu);
    auto t = d.triggers.add(TriggerKind::Status);
    if (!t) return errors::ecNoMoreTriggers;
    t->Type = type;
    log_->add(ltTrigAlloc, lsStatus, static_cast<uint32_t>(t->Handle), {}, static_cast<uint8_t>(type));
    return t->Handle;
}

int TOvxBaseDispatcher::removeTrigger(int handle) {
    Impl& d = *impl_;
    MutexLock lock(d.mu);
    // A trigger being delivered stays alive through the delivery's own reference.
    if (!d.triggers.remove(handle)) return errors::ecBadTriggerHandle;
    log_->add(ltTrigDispose, lsNone, static_cast<uint32_t>(handle));
    return 0;
}

int TOvxBaseDispatcher::setTimerTrigger(int handle, int64_t ticks, bool activate) {
    Impl& d = *impl_;
    {
        MutexLock lock(d.mu);
        auto t = d.triggers.find(handle);
        if (!t || t->Kind != TriggerKind::Timer) return errors::ecBadTriggerHandle;
        t->Active = activate;
        t->DueMs = clock_.nowMs() + ticksToMs(std::max<int64_t>(ticks, 0));
    }
    d.kickDispatch();  // the dispatch thread recomputes its wake-up time
    return 0;
}

int TOvxBaseDispatcher::setStatusTrigger(int handle, uint32_t value, bool activate) {
    Impl& d = *impl_;
    {
        MutexLock lock(d.mu);
        auto t = d.triggers.find(handle);
        if (!t || t->Kind != TriggerKind::Status) return errors::ecBadTriggerHandle;
        t->Value = value;
        t->Active = activate;
        if (t->Type == stModem) t->LastModem = d.lastModem;
        log_->add(ltTrigDataChange, lsStatus, value, {},
                  static_cast<uint8_t>(t->Type | (activate ? 0 : kLogNotActive)));
    }
    d.kickDispatch();
    return 0;
}

int TOvxBaseDispatcher::statusTriggerType(int handle) const {
    MutexLock lock(impl_->mu);
    auto t = impl_->triggers.find(handle);
    return t && t->Kind == TriggerKind::Status ? t->Type : 0;
}

// --- handlers ---

namespace {
int registerHandler(TOvxBaseDispatcher::Impl& d, TOvxEventLog& log, HandlerKind kind, TOvxTriggerProc proc,
                    TOvxEventSink* sink) {
    MutexLock lock(d.mu);
    auto h = std::make_shared<TOvxBaseDispatcher::Impl::Handler>();
    h->Id = d.nextHandler++;
    h->Kind = kind;
    h->Proc = std::move(proc);
    h->Sink = sink;
    // Keep event, procedure and window handlers grouped in delivery order.
    auto pos = std::find_if(d.handlers.begin(), d.handlers.end(), [&](const auto& o) { return o->Kind > kind; });
    d.handlers.insert(pos, h);
    log.add(ltTrigHandlerAlloc, lsHandler, static_cast<uint32_t>(h->Id));
    return h->Id;
}
}  // namespace

int TOvxBaseDispatcher::registerEventTriggerHandler(TOvxTriggerProc proc) {
    return registerHandler(*impl_, *log_, HandlerKind::Event, std::move(proc), nullptr);
}

int TOvxBaseDispatcher::registerProcTriggerHandler(TOvxTriggerProc proc) {
    return registerHandler(*impl_, *log_, HandlerKind::Proc, std::move(proc), nullptr);
}

int TOvxBaseDispatcher::registerWindowTriggerHandler(TOvxEventSink* sink, TOvxTriggerProc proc) {
    return registerHandler(*impl_, *log_, HandlerKind::Window, std::move(proc), sink);
}

void TOvxBaseDispatcher::deregisterTriggerHandler(int id) {
    Impl& d = *impl_;
    MutexLock lock(d.mu);
    auto it = std::find_if(d.handlers.begin(), d.handlers.end(), [&](const auto& h) { return h->Id == id; });
    if (it == d.handlers.end()) return;
    // The delivery in progress holds its own reference, so a handler may remove itself.
    (*it)->Removed = true;
    log_->add(ltTrigHandlerDispose, lsHandler, static_cast<uint32_t>(id));
    d.handlers.erase(it);
}

// --- dispatching ---

namespace {

// Delivers one notification to every handler; for available and data notifications each
// handler reads from the same position and the read position then advances by the most
// any handler took.
void deliver(TOvxBaseDispatcher::Impl& d, int number, uint32_t msg, uint32_t param, uint32_t value, bool readRule) {
    const int32_t lparam = static_cast<int32_t>((value & 0xFFFF) | (static_cast<uint32_t>(number) << 16));
    std::vector<std::shared_ptr<TOvxBaseDispatcher::Impl::Handler>> snapshot;
    uint64_t savedTail;
    {
        MutexLock lock(d.mu);
        snapshot = d.handlers;
        d.delivering = true;
        d.flushedDuringDelivery = false;
        savedTail = d.in.tail();
    }
    uint64_t maxTaken = 0;
    for (const auto& h : snapshot) {
        {
            MutexLock lock(d.mu);
            if (h->Removed) continue;
            if (readRule && !d.flushedDuringDelivery) d.in.setTail(savedTail);
        }
        if (h->Kind == HandlerKind::Window && h->Sink) {
            auto proc = h->Proc;
            h->Sink->runOnAppThread([proc, msg, param, lparam] { proc(msg, param, lparam); },
                                    TOvxBaseDispatcher::kWindowTimeoutMs);
        } else {
            h->Proc(msg, param, lparam);
        }
        MutexLock lock(d.mu);
        if (readRule && !d.flushedDuringDelivery && d.in.tail() > savedTail)
            maxTaken = std::max(maxTaken, d.in.tail() - savedTail);
    }
    {
        MutexLock lock(d.mu);
        if (readRule) d.in.setTail(d.flushedDuringDelivery ? d.in.head() : std::min(d.in.head(), savedTail + maxTaken));
        d.delivering = false;
    }
}

}  // namespace

size_t TOvxBaseDispatcher::dispatchOnce() {
    if (!isOpen()) return 0;
    const size_t total = readDevice();
    if (total > 0) impl_->inputCv.notify_all();
    // Without an output thread, write what the device takes now.
    if (!running()) writeOutputOnce();

    const uint8_t modem = device_->modemStatus();
    const uint8_t errors = device_->takeLineErrors();
    {
        MutexLock lock(impl_->mu);
        if (modem != impl_->lastModem) log_->add(ltDispatch, lsModemStatus, modem);
        if (errors) log_->add(ltDispatch, lsLineStatus, errors);
        impl_->lastModem = modem;
    }
    // The triggers as they are now: a handler that adds one makes it count from the next pass.
    std::vector<std::shared_ptr<Trigger>> triggers;
    {
        MutexLock lock(impl_->mu);
        triggers = impl_->triggers.all();
    }
    fireStatusTriggers(triggers, modem, errors);
    fireDataTriggers();
    fireAvailTrigger();
    fireTimerTriggers(triggers);
    return total;
}

// Reads what the device has into the input buffer (as much as fits); returns the byte count.
size_t TOvxBaseDispatcher::readDevice() {
    Impl& d = *impl_;
    size_t total = 0;
    uint8_t chunk[4096];
    for (;;) {
        size_t room;
        {
            MutexLock lock(d.mu);
            room = d.in.room();
        }
        if (room == 0) break;
        const ssize_t n = device_->read(chunk, std::min(room, sizeof chunk));
        if (n < 0) {
            MutexLock lock(d.mu);
            if (!d.lineLost) log_->add(ltError, lsReadCom, static_cast<uint32_t>(errors::ecDeviceError));
            d.lineLost = true;
            break;
        }
        if (n == 0) {
            if (total == 0 && d.hangupSeen.exchange(false)) {
                MutexLock lock(d.mu);
                if (!d.lineLost) log_->add(ltError, lsReadCom, static_cast<uint32_t>(errors::ecDeviceError));
                d.lineLost = true;
            }
            break;
        }
        {
            MutexLock recording(d.recordMu);
            trace_->add('R', chunk, static_cast<size_t>(n));
            log_->add(ltDispatch, lsReadCom, static_cast<uint32_t>(n),
                      std::string_view(reinterpret_cast<const char*>(chunk), static_cast<size_t>(n)));
        }
        {
            MutexLock lock(d.mu);
            d.lineLost = false;
            d.in.push(chunk, static_cast<size_t>(n));
            d.newSinceAvail += static_cast<uint64_t>(n);
            d.triggers.scan(chunk, static_cast<size_t>(n), d.dataMatches);
        }
        total += static_cast<size_t>(n);
    }
    return total;
}

void TOvxBaseDispatcher::fireStatusTriggers(const std::vector<std::shared_ptr<Trigger>>& triggers, uint8_t modem,
                                            uint8_t errors) {
    Impl& d = *impl_;
    for (const auto& t : triggers) {
        if (t->Kind != TriggerKind::Status || d.stop) continue;
        uint32_t value = 0;
        bool fire = false;
        {
            MutexLock lock(d.mu);
            if (t->Removed || !t->Active) continue;
            switch (t->Type) {
            case stModem:
                fire = ((modem ^ t->LastModem) & t->Value) != 0;
                t->LastModem = modem;
                value = modem;
                break;
            case stLine:
                fire = errors != 0;
                value = errors;
                break;
            case stOutBuffFree:
                value = static_cast<uint32_t>(d.out.room());
                fire = value >= t->Value;
                break;
            case stOutBuffUsed:
                value = static_cast<uint32_t>(d.outUsed());
                fire = value <= t->Value;
                break;
            case stOutSent: fire = d.outUsed() == 0; break;
            }
            // Output triggers fire once and must be re-armed.
            if (fire && t->Type >= stOutBuffFree) t->Active = false;
        }
        if (fire) {
            log_->add(ltTrigger, lsStatus, static_cast<uint32_t>(t->Handle), {}, static_cast<uint8_t>(t->Type));
            deliver(d, number_, ovTriggerStatus, static_cast<uint32_t>(t->Handle), value, false);
        }
    }
}

// Data triggers in the order their strings arrived.
void TOvxBaseDispatcher::fireDataTriggers() {
    Impl& d = *impl_;
    std::vector<int> matches;
    {
        MutexLock lock(d.mu);
        matches.swap(d.dataMatches);
    }
    for (int handle : matches) {
        if (d.stop) break;
        std::shared_ptr<Trigger> t;
        {
            MutexLock lock(d.mu);
            t = d.triggers.find(handle);
        }
        if (!t) continue;
        log_->add(ltTrigger, lsData, static_cast<uint32_t>(handle));
        deliver(d, number_, ovTriggerData, static_cast<uint32_t>(handle), static_cast<uint32_t>(t->Data.size()), true);
    }
}

// The available count, once per pass with new input, when the smallest trigger count is reached.
void TOvxBaseDispatcher::fireAvailTrigger() {
    Impl& d = *impl_;
    size_t availCount = 0;
    {
        MutexLock lock(d.mu);
        const size_t need = d.triggers.smallestAvailCount();
        if (d.newSinceAvail > 0 && need != SIZE_MAX && d.inUsed() >= need) {
            availCount = d.inUsed();
            d.newSinceAvail = 0;
        }
    }
    if (availCount > 0 && !d.stop) {
        log_->add(ltTrigger, lsAvail, static_cast<uint32_t>(availCount));
        deliver(d, number_, ovTriggerAvail, static_cast<uint32_t>(availCount), 0, true);
    }
}

void TOvxBaseDispatcher::fireTimerTriggers(const std::vector<std::shared_ptr<Trigger>>& triggers) {
    Impl& d = *impl_;
    for (const auto& t : triggers) {
        if (t->Kind != TriggerKind::Timer || d.stop) continue;
        {
            MutexLock lock(d.mu);
            if (t->Removed || !t->Active || clock_.nowMs() < t->DueMs) continue;
            t->Active = false;
        }
        log_->add(ltTrigger, lsTimer, static_cast<uint32_t>(t->Handle));
        deliver(d, number_, ovTriggerTimer, static_cast<uint32_t>(t->Handle), 0, false);
    }
}

size_t TOvxBaseDispatcher::writeOutputOnce() {
    Impl& d = *impl_;
    uint8_t chunk[4096];
    size_t len;
    uint64_t flushes;
    {
        MutexLock lock(d.mu);
        if (!d.open || d.outUsed() == 0) return 0;
        const uint8_t* start = nullptr;
        len = d.out.contiguous(&start, sizeof chunk);
        std::copy_n(start, len, chunk);
        flushes = d.outFlushes;
    }
    d.recordMu.lock();
    const ssize_t n = device_->write(chunk, len);
    if (n <= 0) {
        d.recordMu.unlock();
        if (n == 0) return 0;
        // The line is gone: drop what was queued so that nobody waits for it forever.
        MutexLock lock(d.mu);
        if (!d.lineLost) log_->add(ltError, lsWriteCom, static_cast<uint32_t>(errors::ecDeviceError));
        d.lineLost = true;
        d.out.clear();
        d.inputCv.notify_all();
        return 0;
    }
    trace_->add('T', chunk, static_cast<size_t>(n));
    log_->add(ltDispatch, lsWriteCom, static_cast<uint32_t>(n),
              std::string_view(reinterpret_cast<const char*>(chunk), static_cast<size_t>(n)));
    d.recordMu.unlock();
    {
        MutexLock lock(d.mu);
        if (d.outFlushes == flushes) d.out.consume(static_cast<size_t>(n));
    }
    d.inputCv.notify_all();
    return static_cast<size_t>(n);
}

namespace {
void confirmStarted(TOvxBaseDispatcher::Impl& d) {
    {
        MutexLock lock(d.evMu);
        ++d.started;
    }
    d.startCv.notify_all();
}

void confirmEnded(TOvxBaseDispatcher::Impl& d) {
    {
        MutexLock lock(d.evMu);
        d.ended.fetch_add(1);
    }
    d.startCv.notify_all();
}
}  // namespace

void TOvxBaseDispatcher::commEventThread() {
    Impl& d = *impl_;
    log_->add(ltThread, lsStart, 1);
    confirmStarted(d);
    while (!d.stop) {
        bool watch;
        {
            MutexLock lock(d.mu);
            watch = !d.lineLost && d.in.room() > 0;
        }
        pollfd fds[2] = {{d.wake[0], POLLIN, 0}, {device_->pollFd(), POLLIN, 0}};
        const nfds_t count = (watch && fds[1].fd >= 0) ? 2 : 1;
        const int r = ::poll(fds, count, kPollMs);
        if (r < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) {
            char buf[64];
            while (::read(d.wake[0], buf, sizeof buf) > 0) {}
        }
        if (count == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            // Hand the event to the dispatch thread and wait until it has been processed.
            UniqueLock lock(d.evMu);
            d.hangupSeen = (fds[1].revents & (POLLHUP | POLLERR)) != 0;
            d.eventPending = true;
            d.dispatchCv.notify_all();
            d.commCv.wait(lock.get(), [&]() TELVANE_LOCKED_PREDICATE { return !d.eventPending || d.stop.load(); });
        }
    }
    log_->add(ltThread, lsExit, 1);
    confirmEnded(d);
}

void TOvxBaseDispatcher::dispatchThread() {
    Impl& d = *impl_;
    d.dispatchId = std::this_thread::get_id();
    log_->add(ltThread, lsStart, 2);
    confirmStarted(d);
    while (!d.stop) {
        int64_t waitMs = kPollMs;
        {
            MutexLock lock(d.mu);
            const int64_t now = clock_.nowMs();
            for (const auto& t : d.triggers.all())
                if (t->Kind == TriggerKind::Timer && t->Active) waitMs = std::clamp<int64_t>(t->DueMs - now, 0, waitMs);
        }
        {
            UniqueLock lock(d.evMu);
            d.dispatchCv.wait_for(lock.get(), std::chrono::milliseconds(waitMs),
                                  [&]() TELVANE_LOCKED_PREDICATE { return d.eventPending || d.kick || d.stop.load(); });
            d.kick = false;
        }
        if (d.stop) break;
        dispatchOnce();
        {
            MutexLock lock(d.evMu);
            d.eventPending = false;
        }
        d.commCv.notify_all();
    }
    if (d.closeOnExit) {
        {
            MutexLock lock(d.mu);
            d.running = false;
        }
        device_->close();
    }
    log_->add(ltThread, lsExit, 2);
    confirmEnded(d);
}

void TOvxBaseDispatcher::outputThread() {
    Impl& d = *impl_;
    log_->add(ltThread, lsStart, 3);
    confirmStarted(d);
    while (!d.stop) {
        {
            UniqueLock lock(d.mu);
            d.outCv.wait_for(lock.get(), std::chrono::milliseconds(kPollMs),
                             [&]() TELVANE_LOCKED_PREDICATE { return d.stop.load() || d.outUsed() > 0; });
            if (d.stop) break;
            if (d.outUsed() == 0) continue;
        }
        const size_t n = writeOutputOnce();
        if (n > 0) {
            d.kickDispatch();  // output triggers may fire now
            continue;
        }
        // The device takes nothing at the moment: wait until it can, or for the next poll.
        pollfd fds[2] = {{d.wake[0], POLLIN, 0}, {device_->pollFd(), POLLOUT, 0}};
        if (fds[1].fd >= 0)
            ::poll(fds, 2, kPollMs);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    log_->add(ltThread, lsExit, 3);
    confirmEnded(d);
}

}  // namespace telvane::transport
