// TOvxComPort: properties, open/close through the dispatcher, component events.
#include "transport/comport.h"

#include "ports/portmap.h"

namespace telvane::transport {

namespace {
void check(int code, const char* what) {
    if (code < 0) throw errors::EOvxException(code, what);
}
}  // namespace

TOvxComPort::TOvxComPort(const TOvxClock& clock) : clock_(clock), log_(clock) {}

TOvxComPort::~TOvxComPort() {
    doClose();
    dispatcher_.reset();
}

void TOvxComPort::setComNumber(int n) {
    if (n == comNumber_) return;
    const bool wasOpen = Open();
    if (wasOpen) doClose();
    comNumber_ = n;
    if (wasOpen) doOpen();
}

std::string TOvxComPort::devicePath() const {
    return devicePath_.empty() ? ports::defaultDevicePath(comNumber_) : devicePath_;
}

void TOvxComPort::setDevicePath(std::string path) {
    if (path == devicePath_) return;
    const bool wasOpen = Open();
    if (wasOpen) doClose();
    devicePath_ = std::move(path);
    if (wasOpen) doOpen();
}

void TOvxComPort::applyLine() {
    if (Open()) dispatcher_->setLine(line_);
}

void TOvxComPort::setBaud(long baud) {
    const TOvxLineSettings old = line_;
    line_.Baud = baud;
    try {
        applyLine();
    } catch (...) {
        line_ = old;
        throw;
    }
}

void TOvxComPort::setParity(TParity p) {
    line_.Parity = p;
    applyLine();
}
void TOvxComPort::setDataBits(int bits) {
    line_.DataBits = bits;
    applyLine();
}
void TOvxComPort::setStopBits(int bits) {
    line_.StopBits = bits;
    applyLine();
}
void TOvxComPort::setInSize(size_t size) { inSize_ = size; }
void TOvxComPort::setOutSize(size_t size) { outSize_ = size; }
void TOvxComPort::setHWFlowOptions(unsigned options) {
    line_.HWFlowOptions = options;
    applyLine();
}
void TOvxComPort::setSWFlowOptions(TSWFlowOptions options) {
    line_.SWFlowOptions = options;
    applyLine();
}
void TOvxComPort::setXOnChar(uint8_t c) {
    line_.XOnChar = c;
    applyLine();
}
void TOvxComPort::setXOffChar(uint8_t c) {
    line_.XOffChar = c;
    applyLine();
}

size_t TOvxComPort::BufferFull() const {
    TOvxDispatcherConfig c;
    c.Line = line_;
    c.InSize = inSize_;
    c.BufferFull = bufferFull_;
    c.BufferResume = bufferResume_;
    normaliseThresholds(c);
    return c.BufferFull;
}

size_t TOvxComPort::BufferResume() const {
    TOvxDispatcherConfig c;
    c.Line = line_;
    c.InSize = inSize_;
    c.BufferFull = bufferFull_;
    c.BufferResume = bufferResume_;
    normaliseThresholds(c);
    return c.BufferResume;
}

void TOvxComPort::setDTR(bool on) {
    dtr_ = on;
    if (Open()) dispatcher_->setDTR(on);
}

void TOvxComPort::setRTS(bool on) {
    rts_ = on;
    if (Open()) dispatcher_->setRTS(on);
}

bool TOvxComPort::Open() const { return dispatcher_ && dispatcher_->isOpen(); }

void TOvxComPort::setOpen(bool open) {
    if (open == Open()) return;
    if (open)
        doOpen();
    else
        doClose();
}

void TOvxComPort::setDeviceFactory(std::function<std::unique_ptr<TOvxDevice>()> factory) {
    deviceFactory_ = std::move(factory);
}

void TOvxComPort::doOpen() {
    const std::string path = devicePath();
    if (path.empty())
        throw errors::EOvxException(errors::ecBadId, "ie_BadId - Specified comport doesn't exist (no port selected)");
    if (dispatcher_) {
        dispatcher_->close();
        dispatcher_.reset();
    }
    auto device = deviceFactory_ ? deviceFactory_() : std::make_unique<TOvxTtyDevice>();
    auto dispatcher = std::make_unique<TOvxBaseDispatcher>(std::move(device), clock_);
    dispatcher->setTraceLog(&trace_, &log_);
    TOvxDispatcherConfig config;
    config.Path = path;
    config.Line = line_;
    config.InSize = inSize_;
    config.OutSize = outSize_;
    config.BufferFull = bufferFull_;
    config.BufferResume = bufferResume_;
    config.DTR = dtr_;
    config.RTS = rts_;
    dispatcher->openDevice(config);
    if (tracing_ == tlOn && !trace_.recording()) trace_.start(traceSize_);
    if (logging_ == tlOn && !log_.recording()) log_.start(logSize_);
    dispatcher->registerEventTriggerHandler(
        [this](uint32_t msg, uint32_t param, int32_t lparam) { deliverEvent(msg, param, lparam); });
    dispatcher_ = std::move(dispatcher);
    if (startThreads_) dispatcher_->startDispatcher();
}

void TOvxComPort::doClose() {
    if (dispatcher_) dispatcher_->close();
}

// Component events: OnTrigger first, then the event of the notification's kind.
void TOvxComPort::deliverEvent(uint32_t msg, uint32_t param, int32_t lparam) {
    const uint16_t value = triggerValue(lparam);
    int statusType = 0;
    if (msg == ovTriggerStatus && dispatcher_) statusType = dispatcher_->statusTriggerType(static_cast<int>(param));
    // Do not make the dispatch thread wait for the application when nobody listens.
    bool wanted = static_cast<bool>(OnTrigger);
    switch (msg) {
    case ovTriggerAvail: wanted |= static_cast<bool>(OnTriggerAvail); break;
    case ovTriggerData: wanted |= static_cast<bool>(OnTriggerData); break;
    case ovTriggerTimer: wanted |= static_cast<bool>(OnTriggerTimer); break;
    case ovTriggerStatus:
        wanted |= OnTriggerStatus || OnTriggerModemStatus || OnTriggerLineError || OnTriggerOutbuffFree ||
                  OnTriggerOutbuffUsed || OnTriggerOutSent;
        break;
    default: break;
    }
    if (!wanted) return;
    auto call = [this, msg, param, value, statusType] {
        if (OnTrigger) OnTrigger(*this, msg, param, value);
        switch (msg) {
        case ovTriggerAvail:
            if (OnTriggerAvail) OnTriggerAvail(*this, param);
            break;
        case ovTriggerData:
            if (OnTriggerData) OnTriggerData(*this, param);
            break;
        case ovTriggerTimer:
            if (OnTriggerTimer) OnTriggerTimer(*this, param);
            break;
        case ovTriggerStatus:
            if (OnTriggerStatus) OnTriggerStatus(*this, param);
            if (statusType == stModem && OnTriggerModemStatus)
                OnTriggerModemStatus(*this);
            else if (statusType == stLine && OnTriggerLineError)
                OnTriggerLineError(*this, static_cast<uint8_t>(value), (value & leBreak) != 0);
            else if (statusType == stOutBuffFree && OnTriggerOutbuffFree)
                OnTriggerOutbuffFree(*this);
            else if (statusType == stOutBuffUsed && OnTriggerOutbuffUsed)
                OnTriggerOutbuffUsed(*this);
            else if (statusType == stOutSent && OnTriggerOutSent)
                OnTriggerOutSent(*this);
            break;
        default: break;
        }
    };
    if (eventSink_)
        eventSink_->runOnAppThread(call, TOvxBaseDispatcher::kWindowTimeoutMs);
    else
        call();
}

// tlOn/tlPause/tlOff set the recording state; tlDump/tlAppend write the file and turn
// recording off; tlClear empties the buffer and keeps the state.
void TOvxComPort::applyTraceState(TTraceLogState requested, bool isTrace) {
    TTraceLogState& state = isTrace ? tracing_ : logging_;
    auto start = [&] { isTrace ? trace_.start(traceSize_) : log_.start(logSize_); };
    auto pause = [&] { isTrace ? trace_.pause() : log_.pause(); };
    auto stop = [&] { isTrace ? trace_.stop() : log_.stop(); };
    switch (requested) {
    case tlOn:
        start();
        state = tlOn;
        break;
    case tlPause:
        pause();
        state = tlPause;
        break;
    case tlOff:
        stop();
        state = tlOff;
        break;
    case tlClear: isTrace ? trace_.clearAll() : log_.clearAll(); break;
    case tlDump:
    case tlAppend: {
        const bool append = requested == tlAppend;
        const bool ok = isTrace ? trace_.writeFile(traceName_, append, traceOptions())
                                : log_.writeFile(logName_, append, logOptions());
        if (!ok) throw errors::EOvxException(-5, "Cannot write " + (isTrace ? traceName_ : logName_));
        stop();
        state = tlOff;
        break;
    }
    }
}

void TOvxComPort::setTracing(TTraceLogState state) { applyTraceState(state, true); }
void TOvxComPort::setLogging(TTraceLogState state) { applyTraceState(state, false); }

void TOvxComPort::addLogEntry(TOvxLogType type, uint16_t subtype, uint32_t value, std::string_view data) {
    log_.add(type, subtype, value, data);
}

void TOvxComPort::logFaxState(std::string_view stateName, uint32_t stateNumber) {
    log_.add(ltFax, lsNone, stateNumber, stateName);
}

TOvxBaseDispatcher& TOvxComPort::ready() {
    if (!Open()) {
        if (!autoOpen_) throw errors::EOvxException(errors::ecNotOpen, "Port not open");
        doOpen();
    }
    return *dispatcher_;
}

TOvxBaseDispatcher& TOvxComPort::dispatcher() { return ready(); }

void TOvxComPort::putChar(uint8_t c) { check(ready().putChar(c), "Cannot queue output"); }

void TOvxComPort::putBlock(const void* data, size_t len) {
    const int rc = ready().putBlock(data, len);
    if (rc == errors::ecOutputBufferTooSmall) throw errors::EOvxException(rc, "Output buffer too small for block");
    check(rc, "Output buffer full");
}

size_t TOvxComPort::outBuffFree() { return ready().outBuffFree(); }
size_t TOvxComPort::outBuffUsed() { return ready().outBuffUsed(); }
void TOvxComPort::flushOutBuffer() { ready().flushOutBuffer(); }
size_t TOvxComPort::charReady() { return ready().charReady(); }
size_t TOvxComPort::inBuffUsed() { return ready().inBuffUsed(); }
size_t TOvxComPort::inBuffFree() { return ready().inBuffFree(); }

uint8_t TOvxComPort::getChar() {
    uint8_t c = 0;
    check(ready().getChar(c), "Input buffer empty");
    return c;
}

uint8_t TOvxComPort::peekChar(size_t index) {
    uint8_t c = 0;
    check(ready().peekChar(c, index), "Input buffer empty");
    return c;
}

size_t TOvxComPort::getBlock(void* data, size_t len) { return ready().getBlock(data, len); }
size_t TOvxComPort::peekBlock(void* data, size_t len) { return ready().peekBlock(data, len); }
void TOvxComPort::flushInBuffer() { ready().flushInBuffer(); }

uint8_t TOvxComPort::modemStatus() { return ready().modemStatus(); }
bool TOvxComPort::CTS() { return (modemStatus() & msCTS) != 0; }
bool TOvxComPort::DSR() { return (modemStatus() & msDSR) != 0; }
bool TOvxComPort::DCD() { return (modemStatus() & msDCD) != 0; }
bool TOvxComPort::RI() { return (modemStatus() & msRI) != 0; }

int TOvxComPort::addAvailTrigger(size_t count) {
    const int h = ready().addAvailTrigger(count);
    check(h, "No more trigger slots");
    return h;
}

int TOvxComPort::addDataTrigger(std::string_view data, bool ignoreCase) {
    const int h = ready().addDataTrigger(data, ignoreCase);
    check(h, h == errors::ecTriggerTooLong ? "Data trigger string empty or too long" : "No more trigger slots");
    return h;
}

int TOvxComPort::addTimerTrigger() {
    const int h = ready().addTimerTrigger();
    check(h, "No more trigger slots");
    return h;
}

int TOvxComPort::addStatusTrigger(int type) {
    const int h = ready().addStatusTrigger(type);
    check(h, h == errors::ecBadArgument ? "Bad argument passed to function" : "No more trigger slots");
    return h;
}

void TOvxComPort::removeTrigger(int handle) { check(ready().removeTrigger(handle), "Bad trigger handle"); }

void TOvxComPort::setTimerTrigger(int handle, int64_t ticks, bool activate) {
    check(ready().setTimerTrigger(handle, ticks, activate), "Bad trigger handle");
}

void TOvxComPort::setStatusTrigger(int handle, uint32_t value, bool activate) {
    check(ready().setStatusTrigger(handle, value, activate), "Bad trigger handle");
}

int TOvxComPort::registerProcTriggerHandler(TOvxTriggerProc proc) {
    return ready().registerProcTriggerHandler(std::move(proc));
}

int TOvxComPort::registerWindowTriggerHandler(TOvxEventSink* sink, TOvxTriggerProc proc) {
    return ready().registerWindowTriggerHandler(sink, std::move(proc));
}

void TOvxComPort::deregisterTriggerHandler(int id) {
    if (dispatcher_) dispatcher_->deregisterTriggerHandler(id);
}

}  // namespace telvane::transport
