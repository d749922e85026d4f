// TOvxComPort: properties, open/close through the dispatcher, component events.
#include "transport/comport.h"

#include "ports/portmap.h"

namespace telvane::transport {

namespace {
void Check(int code, const char* what) {
    if (code < 0) throw EOvxException(code, what);
}
}  // namespace

TOvxComPort::TOvxComPort(const TOvxClock& clock) : clock_(clock), log_(clock) {}

TOvxComPort::~TOvxComPort() {
    DoClose();
    dispatcher_.reset();
}

void TOvxComPort::SetComNumber(int n) {
    if (n == comNumber_) return;
    const bool wasOpen = Open();
    if (wasOpen) DoClose();
    comNumber_ = n;
    if (wasOpen) DoOpen();
}

std::string TOvxComPort::DevicePath() const {
    return devicePath_.empty() ? ports::DefaultDevicePath(comNumber_) : devicePath_;
}

void TOvxComPort::SetDevicePath(std::string path) {
    if (path == devicePath_) return;
    const bool wasOpen = Open();
    if (wasOpen) DoClose();
    devicePath_ = std::move(path);
    if (wasOpen) DoOpen();
}

void TOvxComPort::ApplyLine() {
    if (Open()) dispatcher_->SetLine(line_);
}

void TOvxComPort::SetBaud(long baud) {
    const TOvxLineSettings old = line_;
    line_.Baud = baud;
    try {
        ApplyLine();
    } catch (...) {
        line_ = old;
        throw;
    }
}

void TOvxComPort::SetParity(TParity p) {
    line_.Parity = p;
    ApplyLine();
}
void TOvxComPort::SetDataBits(int bits) {
    line_.DataBits = bits;
    ApplyLine();
}
void TOvxComPort::SetStopBits(int bits) {
    line_.StopBits = bits;
    ApplyLine();
}
void TOvxComPort::SetInSize(size_t size) { inSize_ = size; }
void TOvxComPort::SetOutSize(size_t size) { outSize_ = size; }
void TOvxComPort::SetHWFlowOptions(unsigned options) {
    line_.HWFlowOptions = options;
    ApplyLine();
}
void TOvxComPort::SetSWFlowOptions(TSWFlowOptions options) {
    line_.SWFlowOptions = options;
    ApplyLine();
}
void TOvxComPort::SetXOnChar(uint8_t c) {
    line_.XOnChar = c;
    ApplyLine();
}
void TOvxComPort::SetXOffChar(uint8_t c) {
    line_.XOffChar = c;
    ApplyLine();
}

size_t TOvxComPort::BufferFull() const {
    TOvxDispatcherConfig c;
    c.Line = line_;
    c.InSize = inSize_;
    c.BufferFull = bufferFull_;
    c.BufferResume = bufferResume_;
    NormaliseThresholds(c);
    return c.BufferFull;
}

size_t TOvxComPort::BufferResume() const {
    TOvxDispatcherConfig c;
    c.Line = line_;
    c.InSize = inSize_;
    c.BufferFull = bufferFull_;
    c.BufferResume = bufferResume_;
    NormaliseThresholds(c);
    return c.BufferResume;
}

void TOvxComPort::SetDTR(bool on) {
    dtr_ = on;
    if (Open()) dispatcher_->SetDTR(on);
}

void TOvxComPort::SetRTS(bool on) {
    rts_ = on;
    if (Open()) dispatcher_->SetRTS(on);
}

bool TOvxComPort::Open() const { return dispatcher_ && dispatcher_->IsOpen(); }

void TOvxComPort::SetOpen(bool open) {
    if (open == Open()) return;
    if (open)
        DoOpen();
    else
        DoClose();
}

void TOvxComPort::SetDeviceFactory(std::function<std::unique_ptr<TOvxDevice>()> factory) {
    deviceFactory_ = std::move(factory);
}

void TOvxComPort::DoOpen() {
    const std::string path = DevicePath();
    if (path.empty()) throw EOvxException(ecBadId, "ie_BadId - Specified comport doesn't exist (no port selected)");
    if (dispatcher_) {
        dispatcher_->Close();
        dispatcher_.reset();
    }
    auto device = deviceFactory_ ? deviceFactory_() : std::make_unique<TOvxTtyDevice>();
    auto dispatcher = std::make_unique<TOvxBaseDispatcher>(std::move(device), clock_);
    dispatcher->SetTraceLog(&trace_, &log_);
    TOvxDispatcherConfig config;
    config.Path = path;
    config.Line = line_;
    config.InSize = inSize_;
    config.OutSize = outSize_;
    config.BufferFull = bufferFull_;
    config.BufferResume = bufferResume_;
    config.DTR = dtr_;
    config.RTS = rts_;
    dispatcher->OpenDevice(config);
    if (tracing_ == tlOn && !trace_.Recording()) trace_.Start(traceSize_);
    if (logging_ == tlOn && !log_.Recording()) log_.Start(logSize_);
    dispatcher->RegisterEventTriggerHandler(
        [this](uint32_t msg, uint32_t param, int32_t lparam) { DeliverEvent(msg, param, lparam); });
    dispatcher_ = std::move(dispatcher);
    if (startThreads_) dispatcher_->StartDispatcher();
}

void TOvxComPort::DoClose() {
    if (dispatcher_) dispatcher_->Close();
}

// Component events: OnTrigger first, then the event of the notification's kind.
void TOvxComPort::DeliverEvent(uint32_t msg, uint32_t param, int32_t lparam) {
    const uint16_t value = TriggerValue(lparam);
    int statusType = 0;
    if (msg == ovTriggerStatus && dispatcher_) statusType = dispatcher_->StatusTriggerType(static_cast<int>(param));
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
        eventSink_->RunOnAppThread(call, TOvxBaseDispatcher::kWindowTimeoutMs);
    else
        call();
}

// tlOn/tlPause/tlOff set the recording state; tlDump/tlAppend write the file and turn
// recording off; tlClear empties the buffer and keeps the state.
void TOvxComPort::ApplyTraceState(TTraceLogState requested, bool isTrace) {
    TTraceLogState& state = isTrace ? tracing_ : logging_;
    auto start = [&] { isTrace ? trace_.Start(traceSize_) : log_.Start(logSize_); };
    auto pause = [&] { isTrace ? trace_.Pause() : log_.Pause(); };
    auto stop = [&] { isTrace ? trace_.Stop() : log_.Stop(); };
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
    case tlClear: isTrace ? trace_.Clear() : log_.Clear(); break;
    case tlDump:
    case tlAppend: {
        const bool append = requested == tlAppend;
        const bool ok = isTrace ? trace_.WriteFile(traceName_, append, TraceOptions())
                                : log_.WriteFile(logName_, append, LogOptions());
        if (!ok) throw EOvxException(-5, "Cannot write " + (isTrace ? traceName_ : logName_));
        stop();
        state = tlOff;
        break;
    }
    }
}

void TOvxComPort::SetTracing(TTraceLogState state) { ApplyTraceState(state, true); }
void TOvxComPort::SetLogging(TTraceLogState state) { ApplyTraceState(state, false); }

void TOvxComPort::AddLogEntry(TOvxLogType type, uint16_t subtype, uint32_t value, std::string_view data) {
    log_.Add(type, subtype, value, data);
}

void TOvxComPort::LogFaxState(std::string_view stateName, uint32_t stateNumber) {
    log_.Add(ltFax, lsNone, stateNumber, stateName);
}

TOvxBaseDispatcher& TOvxComPort::Ready() {
    if (!Open()) {
        if (!autoOpen_) throw EOvxException(ecNotOpen, "Port not open");
        DoOpen();
    }
    return *dispatcher_;
}

TOvxBaseDispatcher& TOvxComPort::Dispatcher() { return Ready(); }

void TOvxComPort::PutChar(uint8_t c) { Check(Ready().PutChar(c), "Cannot queue output"); }

void TOvxComPort::PutBlock(const void* data, size_t len) {
    const int rc = Ready().PutBlock(data, len);
    if (rc == ecOutputBufferTooSmall) throw EOvxException(rc, "Output buffer too small for block");
    Check(rc, "Output buffer full");
}

size_t TOvxComPort::OutBuffFree() { return Ready().OutBuffFree(); }
size_t TOvxComPort::OutBuffUsed() { return Ready().OutBuffUsed(); }
void TOvxComPort::FlushOutBuffer() { Ready().FlushOutBuffer(); }
size_t TOvxComPort::CharReady() { return Ready().CharReady(); }
size_t TOvxComPort::InBuffUsed() { return Ready().InBuffUsed(); }
size_t TOvxComPort::InBuffFree() { return Ready().InBuffFree(); }

uint8_t TOvxComPort::GetChar() {
    uint8_t c = 0;
    Check(Ready().GetChar(c), "Input buffer empty");
    return c;
}

uint8_t TOvxComPort::PeekChar(size_t index) {
    uint8_t c = 0;
    Check(Ready().PeekChar(c, index), "Input buffer empty");
    return c;
}

size_t TOvxComPort::GetBlock(void* data, size_t len) { return Ready().GetBlock(data, len); }
size_t TOvxComPort::PeekBlock(void* data, size_t len) { return Ready().PeekBlock(data, len); }
void TOvxComPort::FlushInBuffer() { Ready().FlushInBuffer(); }

uint8_t TOvxComPort::ModemStatus() { return Ready().ModemStatus(); }
bool TOvxComPort::CTS() { return (ModemStatus() & msCTS) != 0; }
bool TOvxComPort::DSR() { return (ModemStatus() & msDSR) != 0; }
bool TOvxComPort::DCD() { return (ModemStatus() & msDCD) != 0; }
bool TOvxComPort::RI() { return (ModemStatus() & msRI) != 0; }

int TOvxComPort::AddAvailTrigger(size_t count) {
    const int h = Ready().AddAvailTrigger(count);
    Check(h, "No more trigger slots");
    return h;
}

int TOvxComPort::AddDataTrigger(std::string_view data, bool ignoreCase) {
    const int h = Ready().AddDataTrigger(data, ignoreCase);
    Check(h, h == ecTriggerTooLong ? "Data trigger string empty or too long" : "No more trigger slots");
    return h;
}

int TOvxComPort::AddTimerTrigger() {
    const int h = Ready().AddTimerTrigger();
    Check(h, "No more trigger slots");
    return h;
}

int TOvxComPort::AddStatusTrigger(int type) {
    const int h = Ready().AddStatusTrigger(type);
    Check(h, h == ecBadArgument ? "Bad argument passed to function" : "No more trigger slots");
    return h;
}

void TOvxComPort::RemoveTrigger(int handle) { Check(Ready().RemoveTrigger(handle), "Bad trigger handle"); }

void TOvxComPort::SetTimerTrigger(int handle, int64_t ticks, bool activate) {
    Check(Ready().SetTimerTrigger(handle, ticks, activate), "Bad trigger handle");
}

void TOvxComPort::SetStatusTrigger(int handle, uint32_t value, bool activate) {
    Check(Ready().SetStatusTrigger(handle, value, activate), "Bad trigger handle");
}

int TOvxComPort::RegisterProcTriggerHandler(TOvxTriggerProc proc) {
    return Ready().RegisterProcTriggerHandler(std::move(proc));
}

int TOvxComPort::RegisterWindowTriggerHandler(TOvxEventSink* sink, TOvxTriggerProc proc) {
    return Ready().RegisterWindowTriggerHandler(sink, std::move(proc));
}

void TOvxComPort::DeregisterTriggerHandler(int id) {
    if (dispatcher_) dispatcher_->DeregisterTriggerHandler(id);
}

}  // namespace telvane::transport
