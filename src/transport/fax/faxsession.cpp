// The fax components, their event delivery, start checks, trigger wiring and history file
// (see faxsession.h).
#include "transport/fax/faxsession.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>
#include <sys/stat.h>

#include "transport/comport.h"
#include "transport/eventsink.h"
#include "transport/fax/class1.h"
#include "transport/fax/class2.h"
#include "transport/fax/faxlink.h"
#include "transport/fax/faxmachine.h"
#include "errors/errors.h"
#include "faximage/ovffile.h"

namespace telvane::transport {

namespace {

template <typename T>
void Unlist(std::vector<T*>& list, const void* item) {
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

Mutex factoryMu;
TEnhancedTextFactory enhancedFactory TELVANE_GUARDED_BY(factoryMu);

}  // namespace

TOvxComponentOwner::~TOvxComponentOwner() {
    for (auto* d : displays_) d->owner_ = nullptr;
    for (auto* l : logs_) l->owner_ = nullptr;
    for (auto* f : faxes_) f->owner_ = nullptr;
}

TOvxAbstractFaxStatus* TOvxComponentOwner::FirstStatusDisplay() const {
    return displays_.empty() ? nullptr : displays_.front();
}

TOvxFaxLog* TOvxComponentOwner::FirstFaxLog() const { return logs_.empty() ? nullptr : logs_.front(); }

void TOvxComponentOwner::Forget(const void* component) {
    Unlist(displays_, component);
    Unlist(logs_, component);
    Unlist(faxes_, component);
    // A fax component must not keep a display or log that is going away.
    for (auto* f : faxes_) {
        if (f->StatusDisplay == component) f->StatusDisplay = nullptr;
        if (f->FaxLog == component) f->FaxLog = nullptr;
    }
}

template <class T>
void TOvxComponentOwner::Enlist(T* component, TOvxComponentOwner*& slot, TOvxComponentOwner* owner,
                                std::vector<T*> TOvxComponentOwner::*list) {
    if (slot) slot->Forget(component);
    slot = owner;
    if (owner) (owner->*list).push_back(component);
}

void TOvxAbstractFaxStatus::SetOwner(TOvxComponentOwner* owner) {
    TOvxComponentOwner::Enlist(this, owner_, owner, &TOvxComponentOwner::displays_);
}

void TOvxFaxLog::SetOwner(TOvxComponentOwner* owner) {
    TOvxComponentOwner::Enlist(this, owner_, owner, &TOvxComponentOwner::logs_);
}

void TOvxCustomAbstractFax::SetOwner(TOvxComponentOwner* owner) {
    TOvxComponentOwner::Enlist(this, owner_, owner, &TOvxComponentOwner::faxes_);
}

void TOvxCustomSendFax::SetEnhancedTextFactory(TEnhancedTextFactory factory) {
    MutexLock lock(factoryMu);
    enhancedFactory = std::move(factory);
}

std::unique_ptr<telvane::faximage::FaxTextRenderer> TOvxCustomSendFax::MakeEnhancedRenderer(const TOvxFont& font,
                                                                                            bool& haveFactory) {
    TEnhancedTextFactory factory;
    {
        MutexLock lock(factoryMu);
        factory = enhancedFactory;
    }
    haveFactory = static_cast<bool>(factory);
    return factory ? factory(font) : nullptr;
}

void TOvxFaxLog::UpdateLog(TOvxAbstractFax& fax, int logCode) {
    if (FaxHistoryName.empty()) return;
    THistoryInfo info;
    const std::time_t now = std::time(nullptr);
    info.DateTime = ShortDate(now) + " " + LongTime(now);
    info.RemoteID = fax.RemoteID();
    info.HangupCode = fax.HangupCode();
    info.ErrorText = OvxErrorText(fax.FaxError());
    info.Pages = fax.PagesConfirmed();
    std::string lines;
    if (auto* send = dynamic_cast<TOvxCustomSendFax*>(&fax)) {
        info.Phone = send->ActivePhone;
        // Code 1 names every file of the call, also when they were merged into one.
        for (const std::string& file : send->ActiveFiles) {
            info.File = file;
            lines += HistoryLines(logCode, info);
            if (logCode != lfaxTransmitStart) break;
        }
    } else {
        info.File = fax.FaxFile();
        lines = HistoryLines(logCode, info);
    }
    if (lines.empty()) return;
    if (std::FILE* f = std::fopen(FaxHistoryName.c_str(), "ab")) {
        std::fwrite(lines.data(), 1, lines.size(), f);
        std::fclose(f);
    }
}

TOvxCustomAbstractFax::TOvxCustomAbstractFax(TOvxComponentOwner* owner) {
    SetOwner(owner);
    MutexLock lock(gate_->mu);
    gate_->fax = this;
}

TOvxCustomAbstractFax::~TOvxCustomAbstractFax() {
    StopSession();
    SetOwner(nullptr);
}

TOvxAbstractFax& TOvxCustomAbstractFax::Self() { return static_cast<TOvxAbstractFax&>(*this); }

void TOvxCustomAbstractFax::SetComPort(TOvxComPort* port) {
    comPort_ = port;
    if (!port) return;
    port->SetBaud(19200);
    port->SetDataBits(8);
    port->SetStopBits(1);
    port->SetParity(pNone);
    port->SetInSize(8192);
    port->SetOutSize(8192);
    port->SetHWFlowOptions(hwfUseRTS | hwfRequireCTS);
}

std::string TOvxCustomAbstractFax::FaxFile() const {
    MutexLock lock(stateMu_);
    return faxFile_;
}

void TOvxCustomAbstractFax::SetFaxFile(const std::string& f) {
    MutexLock lock(stateMu_);
    faxFile_ = f;
}

std::string TOvxCustomAbstractFax::RemoteID() const {
    MutexLock lock(stateMu_);
    return remoteID_;
}

void TOvxCustomAbstractFax::SetRemoteID(const std::string& id) {
    // A remote station chooses these bytes: control bytes (C0, DEL and C1) become blanks whatever
    // the class that reported them, so they never reach a log, a terminal or a window raw.
    std::string clean = id.substr(0, 20);
    for (char& c : clean) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F)) c = ' ';
    }
    MutexLock lock(stateMu_);
    remoteID_ = std::move(clean);
}

std::string TOvxCustomAbstractFax::HangupCode() const {
    MutexLock lock(stateMu_);
    return hangupCode_;
}

void TOvxCustomAbstractFax::SetHangupCode(const std::string& code) {
    MutexLock lock(stateMu_);
    hangupCode_ = code;
}

bool TOvxCustomAbstractFax::RunEvent(const std::function<void()>& call, int timeoutMs) {
    TOvxEventSink* sink = eventSink_ ? eventSink_ : (comPort_ ? comPort_->EventSink() : nullptr);
    if (!sink) {
        call();
        return true;
    }
    return sink->RunOnAppThread(call, timeoutMs);
}

void TOvxCustomAbstractFax::FireStatus(bool first, bool last) {
    RunEvent(
        [this, first, last] {
            if (StatusDisplay) StatusDisplay->UpdateDisplay(Self(), first, last);
            if (OnFaxStatus) OnFaxStatus(Self(), first, last);
        },
        1000);
}

void TOvxCustomAbstractFax::FireLog(int code) {
    RunEvent(
        [this, code] {
            if (FaxLog) FaxLog->UpdateLog(Self(), code);
            if (OnFaxLog) OnFaxLog(Self(), code);
        },
        1000);
}

void TOvxCustomAbstractFax::FireError(int code) {
    faxError_ = code;
    RunEvent(
        [this, code] {
            if (OnFaxError) OnFaxError(Self(), code);
        },
        1000);
}

void TOvxCustomAbstractFax::FireFinish(int code) {
    running_ = false;
    RunEvent(
        [this, code] {
            if (OnFaxFinish) OnFaxFinish(Self(), code);
        },
        1000);
}

TFaxLink& TOvxCustomAbstractFax::Link() { return testLink_ ? *testLink_ : *portLink_; }

void TOvxCustomAbstractFax::CheckStart() {
    if (running_) throw EOvxException(ecBadArgument, "A fax session is already running");
    if (testLink_) return;
    if (!comPort_) throw EOvxException(ecPortNotAssigned, OvxErrorText(ecPortNotAssigned));
    if (comPort_->DeviceLayer() == dlWinsock)
        throw EOvxException(ecNotCompatibleWinsock, OvxErrorText(ecNotCompatibleWinsock));
    if (comPort_->OutSize() < 8192) throw EOvxException(ecOutputBufferTooSmall, OvxErrorText(ecOutputBufferTooSmall));
}

void TOvxCustomAbstractFax::StartMachine(std::unique_ptr<TFaxMachine> machine) {
    {
        MutexLock lock(serviceMu_);
        ReleaseTriggers();
    }
    cancel_ = false;
    faxError_ = 0;
    progress_ = fpInitModem;
    SetConnection(0, false, false, false);
    if (owner_ && !StatusDisplay) StatusDisplay = owner_->FirstStatusDisplay();
    if (owner_ && !FaxLog) FaxLog = owner_->FirstFaxLog();
    {
        MutexLock lock(serviceMu_);
        handover_.reset();
        machine_ = std::move(machine);
    }
    running_ = true;
    FireStatus(true, false);
    if (testLink_ || registerTriggers()) return;
    // Without its triggers the session cannot run: it is reported and finished at once.
    FireError(ecNoMoreTriggers);
    FireFinish(ecNoMoreTriggers);
    MutexLock lock(serviceMu_);
    machine_.reset();
}

bool TOvxCustomAbstractFax::registerTriggers() {
    MutexLock lock(serviceMu_);
    try {
        handlerId_ = comPort_->RegisterProcTriggerHandler([gate = gate_](uint32_t, uint32_t, int32_t) {
            MutexLock lock(gate->mu);
            if (gate->fax) gate->fax->OnTrigger();
        });
        availTrigger_ = comPort_->AddAvailTrigger(1);
        timerTrigger_ = comPort_->AddTimerTrigger();
        roomTrigger_ = comPort_->AddStatusTrigger(stOutBuffUsed);
        emptyTrigger_ = comPort_->AddStatusTrigger(stOutSent);
        comPort_->SetTimerTrigger(timerTrigger_, 0, true);
        cancelTimer_ = timerTrigger_;
        return true;
    } catch (const EOvxException&) {
        ReleaseTriggers();
        return false;
    }
}

void TOvxCustomAbstractFax::ReleaseTriggers() {
    cancelTimer_ = 0;
    if (!comPort_ || handlerId_ == 0) return;
    try {
        for (int* t : {&availTrigger_, &timerTrigger_, &roomTrigger_, &emptyTrigger_})
            if (*t > 0) comPort_->RemoveTrigger(*t);
        comPort_->DeregisterTriggerHandler(handlerId_);
    } catch (const EOvxException&) {}
    availTrigger_ = timerTrigger_ = roomTrigger_ = emptyTrigger_ = 0;
    handlerId_ = 0;
}

void TOvxCustomAbstractFax::HandOver(std::unique_ptr<TFaxMachine> next) { handover_ = std::move(next); }

void TOvxCustomAbstractFax::ServiceSession() {
    MutexLock lock(serviceMu_);
    ServiceMachine();
}

void TOvxCustomAbstractFax::ServiceMachine() {
    if (machine_ && !machine_->Finished()) machine_->Service();
    while (handover_ && machine_) {
        machine_ = std::move(handover_);
        machine_->Service();
    }
}

int64_t TOvxCustomAbstractFax::NextWakeMs() const {
    MutexLock lock(serviceMu_);
    if (!machine_ || machine_->Finished()) return -1;
    if (machine_->WantsOutputRoom() || machine_->WantsOutputEmpty()) return testLink_ ? testLink_->NowMs() : 0;
    return machine_->NextWakeMs();
}

void TOvxCustomAbstractFax::OnTrigger() {
    MutexLock lock(serviceMu_);
    ServiceMachine();
    ArmTriggers();
}

void TOvxCustomAbstractFax::ArmTriggers() {
    if (!comPort_ || handlerId_ == 0 || !machine_) return;
    try {
        if (machine_->Finished()) {
            ReleaseTriggers();
            return;
        }
        const int64_t wake = machine_->NextWakeMs();
        if (wake >= 0) {
            const int64_t ms = wake - Link().NowMs();
            comPort_->SetTimerTrigger(timerTrigger_, ms <= 0 ? 0 : (ms + 54) / 55, true);
        } else {
            comPort_->SetTimerTrigger(timerTrigger_, 0, false);
        }
        if (machine_->WantsOutputRoom()) {
            auto* send = dynamic_cast<TOvxCustomSendFax*>(this);
            const size_t minimum = send ? send->BufferMinimum : 1000;
            comPort_->SetStatusTrigger(roomTrigger_, static_cast<uint32_t>(minimum), true);
        }
        if (machine_->WantsOutputEmpty()) comPort_->SetStatusTrigger(emptyTrigger_, 0, true);
    } catch (const EOvxException&) {}
}

void TOvxCustomAbstractFax::CancelSession() {
    cancel_ = true;
    // A timer trigger already removed (the session ended meanwhile) only makes the call fail.
    const int timer = cancelTimer_;
    if (comPort_ && timer != 0 && !testLink_) {
        try {
            comPort_->SetTimerTrigger(timer, 0, true);
        } catch (const EOvxException&) {}
    }
}

void TOvxCustomAbstractFax::StopSession() {
    if (running_) {
        CancelSession();
        for (int i = 0; i < 200 && running_ && comPort_ && !testLink_; ++i) DelayMs(50);
    }
    {
        // After this no trigger delivery reaches the component, not even one already under way.
        MutexLock lock(gate_->mu);
        gate_->fax = nullptr;
    }
    MutexLock lock(serviceMu_);
    ReleaseTriggers();
    machine_.reset();
    handover_.reset();
    portLink_.reset();
}

TFaxClassSet TOvxCustomAbstractFax::SupportedFaxClasses() {
    if (running_ || !comPort_) return supported_;
    try {
        comPort_->FlushInBuffer();
        comPort_->PutString("AT+FCLASS=?\r");
        std::string reply;
        const int64_t end = comPort_->Clock().NowMs() + 36 * 55;
        TResultLineCollector lines;
        while (comPort_->Clock().NowMs() < end) {
            uint8_t c;
            if (comPort_->CharReady() == 0) {
                DelayMs(10, comPort_->Clock());
                continue;
            }
            c = comPort_->GetChar();
            if (!lines.Put(c)) continue;
            const TResult r = ClassifyResult(lines.Line());
            if (r == TResult::Ok) {
                supported_ = ParseFaxClasses(reply);
                break;
            }
            if (r == TResult::Error) break;
            reply += lines.Line();
        }
    } catch (const EOvxException&) {}
    return supported_;
}

void TOvxCustomSendFax::SetFaxFile(const std::string& f) {
    FaxFileList.clear();
    if (!f.empty()) FaxFileList.push_back(f);
}

void TOvxCustomSendFax::StartSend() {
    CheckStart();
    nextCount_ = 0;
    if (!mergedFile_.empty()) {
        std::remove(mergedFile_.c_str());
        mergedFile_.clear();
    }
    if (FaxFileList.size() >= 2 && !OnFaxNext) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/~OVXXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        const int fd = mkstemp(buf.data());
        if (fd < 0) throw EOvxException(-5, OvxErrorText(-5));
        close(fd);
        mergedFile_ = buf.data();
        if (int rc = telvane::faximage::MergeOvfFiles(FaxFileList, mergedFile_)) {
            mergedFile_.clear();
            throw EOvxException(rc, OvxErrorText(rc));
        }
    }
    if (!testLink_) portLink_ = std::make_unique<TComPortLink>(*ComPort());
    StartMachine(MakeSendMachine(*this, Link()));
}

bool TOvxCustomSendFax::NextFax(std::string& number, std::string& file, std::string& cover) {
    number.clear();
    file.clear();
    cover.clear();
    if (OnFaxNext) {
        std::string n, f, c;
        const bool answered = RunEvent([&] { OnFaxNext(Self(), n, f, c); }, 2000);
        if (!answered || n.empty()) return false;
        number = n;
        file = f;
        cover = c;
        ActiveFiles = {f};
        return true;
    }
    if (nextCount_++ > 0) return false;
    number = PhoneNumber;
    file = mergedFile_.empty() ? FaxFile() : mergedFile_;
    ActiveFiles = mergedFile_.empty() ? std::vector<std::string>{file} : FaxFileList;
    cover = CoverFile;
    return !number.empty();
}

void TOvxCustomSendFax::SessionEnded() {
    if (!mergedFile_.empty()) {
        std::remove(mergedFile_.c_str());
        mergedFile_.clear();
    }
}

void TOvxCustomReceiveFax::StartReceive() {
    CheckStart();
    if (!DestinationUsable())
        throw EOvxException(telvane::ecPathNotFound,
                            OvxErrorText(telvane::ecPathNotFound) + " (" + DestinationDir() + ")");
    if (!testLink_) portLink_ = std::make_unique<TComPortLink>(*ComPort());
    StartMachine(MakeReceiveMachine(*this, Link()));
}

bool TOvxCustomReceiveFax::AcceptFax() {
    if (!OnFaxAccept) return true;
    bool accept = true;
    bool result = true;
    if (RunEvent(
            [&] {
                OnFaxAccept(Self(), accept);
                result = accept;
            },
            1000))
        return result;
    return true;
}

std::string TOvxCustomReceiveFax::NameFax() {
    std::string name;
    if (OnFaxName) RunEvent([&] { OnFaxName(Self(), name); }, 1000);
    if (!name.empty()) return name;
    return NextReceiveFileName(DestinationDir(), FaxNameMode, FaxFileExt, std::time(nullptr));
}

}  // namespace telvane::transport

namespace telvane::transport {

bool TOvxCustomReceiveFax::DestinationUsable() const {
    const std::string& dir = DestinationDir();
    if (dir.empty()) return true;  // the current directory
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

int TOvxCustomReceiveFax::CreateFaxFile(telvane::faximage::OvfWriter& file, const std::string& senderId,
                                        std::string& name) {
    name = NameFax();
    // Another process may take a name between the directory scan and the creation: retry
    // with a fresh scan a few times.
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (name.empty()) return telvane::ecFileExists;
        const int rc = file.createExclusive(name, senderId);
        if (rc != telvane::ecFileExists) return rc;
        name = NextReceiveFileName(DestinationDir(), FaxNameMode, FaxFileExt, std::time(nullptr));
    }
    return telvane::ecFileExists;
}

}  // namespace telvane::transport
