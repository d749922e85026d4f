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
void unlist(std::vector<T*>& list, const void* item) {
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

TOvxAbstractFaxStatus* TOvxComponentOwner::firstStatusDisplay() const {
    return displays_.empty() ? nullptr : displays_.front();
}

TOvxFaxLog* TOvxComponentOwner::firstFaxLog() const { return logs_.empty() ? nullptr : logs_.front(); }

void TOvxComponentOwner::forget(const void* component) {
    unlist(displays_, component);
    unlist(logs_, component);
    unlist(faxes_, component);
    // A fax component must not keep a display or log that is going away.
    for (auto* f : faxes_) {
        if (f->StatusDisplay == component) f->StatusDisplay = nullptr;
        if (f->FaxLog == component) f->FaxLog = nullptr;
    }
}

template <class T>
void TOvxComponentOwner::enlist(T* component, TOvxComponentOwner*& slot, TOvxComponentOwner* owner,
                                std::vector<T*> TOvxComponentOwner::*list) {
    if (slot) slot->forget(component);
    slot = owner;
    if (owner) (owner->*list).push_back(component);
}

void TOvxAbstractFaxStatus::setOwner(TOvxComponentOwner* owner) {
    TOvxComponentOwner::enlist(this, owner_, owner, &TOvxComponentOwner::displays_);
}

void TOvxFaxLog::setOwner(TOvxComponentOwner* owner) {
    TOvxComponentOwner::enlist(this, owner_, owner, &TOvxComponentOwner::logs_);
}

void TOvxCustomAbstractFax::setOwner(TOvxComponentOwner* owner) {
    TOvxComponentOwner::enlist(this, owner_, owner, &TOvxComponentOwner::faxes_);
}

void TOvxCustomSendFax::setEnhancedTextFactory(TEnhancedTextFactory factory) {
    MutexLock lock(factoryMu);
    enhancedFactory = std::move(factory);
}

std::unique_ptr<telvane::faximage::FaxTextRenderer> TOvxCustomSendFax::makeEnhancedRenderer(const TOvxFont& font,
                                                                                            bool& haveFactory) {
    TEnhancedTextFactory factory;
    {
        MutexLock lock(factoryMu);
        factory = enhancedFactory;
    }
    haveFactory = static_cast<bool>(factory);
    return factory ? factory(font) : nullptr;
}

void TOvxFaxLog::updateLog(TOvxAbstractFax& fax, int logCode) {
    if (FaxHistoryName.empty()) return;
    THistoryInfo info;
    const std::time_t now = std::time(nullptr);
    info.DateTime = shortDate(now) + " " + longTime(now);
    info.remoteID = fax.remoteID();
    info.hangupCode = fax.hangupCode();
    info.ErrorText = errors::ovxErrorText(fax.FaxError());
    info.Pages = fax.pagesConfirmed();
    std::string lines;
    if (auto* send = dynamic_cast<TOvxCustomSendFax*>(&fax)) {
        info.Phone = send->ActivePhone;
        // Code 1 names every file of the call, also when they were merged into one.
        for (const std::string& file : send->ActiveFiles) {
            info.File = file;
            lines += historyLines(logCode, info);
            if (logCode != lfaxTransmitStart) break;
        }
    } else {
        info.File = fax.FaxFile();
        lines = historyLines(logCode, info);
    }
    if (lines.empty()) return;
    if (std::FILE* f = std::fopen(FaxHistoryName.c_str(), "ab")) {
        std::fwrite(lines.data(), 1, lines.size(), f);
        std::fclose(f);
    }
}

TOvxCustomAbstractFax::TOvxCustomAbstractFax(TOvxComponentOwner* owner) {
    setOwner(owner);
    MutexLock lock(gate_->mu);
    gate_->fax = this;
}

TOvxCustomAbstractFax::~TOvxCustomAbstractFax() {
    stopSession();
    setOwner(nullptr);
}

TOvxAbstractFax& TOvxCustomAbstractFax::self() { return static_cast<TOvxAbstractFax&>(*this); }

void TOvxCustomAbstractFax::setComPort(TOvxComPort* port) {
    comPort_ = port;
    if (!port) return;
    port->setBaud(19200);
    port->setDataBits(8);
    port->setStopBits(1);
    port->setParity(pNone);
    port->setInSize(8192);
    port->setOutSize(8192);
    port->setHWFlowOptions(hwfUseRTS | hwfRequireCTS);
}

std::string TOvxCustomAbstractFax::FaxFile() const {
    MutexLock lock(stateMu_);
    return faxFile_;
}

void TOvxCustomAbstractFax::SetFaxFile(const std::string& f) {
    MutexLock lock(stateMu_);
    faxFile_ = f;
}

std::string TOvxCustomAbstractFax::remoteID() const {
    MutexLock lock(stateMu_);
    return remoteID_;
}

void TOvxCustomAbstractFax::setRemoteID(const std::string& id) {
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

std::string TOvxCustomAbstractFax::hangupCode() const {
    MutexLock lock(stateMu_);
    return hangupCode_;
}

void TOvxCustomAbstractFax::setHangupCode(const std::string& code) {
    MutexLock lock(stateMu_);
    hangupCode_ = code;
}

bool TOvxCustomAbstractFax::runEvent(const std::function<void()>& call, int timeoutMs) {
    TOvxEventSink* sink = eventSink_ ? eventSink_ : (comPort_ ? comPort_->eventSink() : nullptr);
    if (!sink) {
        call();
        return true;
    }
    return sink->runOnAppThread(call, timeoutMs);
}

void TOvxCustomAbstractFax::fireStatus(bool first, bool last) {
    runEvent(
        [this, first, last] {
            if (StatusDisplay) StatusDisplay->updateDisplay(self(), first, last);
            if (OnFaxStatus) OnFaxStatus(self(), first, last);
        },
        1000);
}

void TOvxCustomAbstractFax::fireLog(int code) {
    runEvent(
        [this, code] {
            if (FaxLog) FaxLog->updateLog(self(), code);
            if (OnFaxLog) OnFaxLog(self(), code);
        },
        1000);
}

void TOvxCustomAbstractFax::fireError(int code) {
    faxError_ = code;
    runEvent(
        [this, code] {
            if (OnFaxError) OnFaxError(self(), code);
        },
        1000);
}

void TOvxCustomAbstractFax::fireFinish(int code) {
    running_ = false;
    runEvent(
        [this, code] {
            if (OnFaxFinish) OnFaxFinish(self(), code);
        },
        1000);
}

TFaxLink& TOvxCustomAbstractFax::link() { return testLink_ ? *testLink_ : *portLink_; }

void TOvxCustomAbstractFax::checkStart() {
    if (running_) throw errors::EOvxException(errors::ecBadArgument, "A fax session is already running");
    if (testLink_) return;
    if (!comPort_)
        throw errors::EOvxException(errors::ecPortNotAssigned, errors::ovxErrorText(errors::ecPortNotAssigned));
    if (comPort_->DeviceLayer() == dlWinsock)
        throw errors::EOvxException(errors::ecNotCompatibleWinsock,
                                    errors::ovxErrorText(errors::ecNotCompatibleWinsock));
    if (comPort_->OutSize() < 8192)
        throw errors::EOvxException(errors::ecOutputBufferTooSmall,
                                    errors::ovxErrorText(errors::ecOutputBufferTooSmall));
}

std::string TOvxCustomAbstractFax::codingText() const {
    std::string text = telvane::faximage::codingName(coding_);
    if (ecm_) text += ", ECM";
    return text;
}

void TOvxCustomAbstractFax::startMachine(std::unique_ptr<TFaxMachine> machine) {
    {
        MutexLock lock(serviceMu_);
        releaseTriggers();
    }
    cancel_ = false;
    faxError_ = 0;
    progress_ = fpInitModem;
    setConnection(0, false, false, false);
    damagedLines_ = 0;
    if (owner_ && !StatusDisplay) StatusDisplay = owner_->firstStatusDisplay();
    if (owner_ && !FaxLog) FaxLog = owner_->firstFaxLog();
    {
        MutexLock lock(serviceMu_);
        handover_.reset();
        machine_ = std::move(machine);
    }
    running_ = true;
    fireStatus(true, false);
    if (testLink_ || registerTriggers()) return;
    // Without its triggers the session cannot run: it is reported and finished at once.
    fireError(errors::ecNoMoreTriggers);
    fireFinish(errors::ecNoMoreTriggers);
    MutexLock lock(serviceMu_);
    machine_.reset();
}

bool TOvxCustomAbstractFax::registerTriggers() {
    MutexLock lock(serviceMu_);
    try {
        handlerId_ = comPort_->registerProcTriggerHandler([gate = gate_](uint32_t, uint32_t, int32_t) {
            MutexLock lock(gate->mu);
            if (gate->fax) gate->fax->OnTrigger();
        });
        availTrigger_ = comPort_->addAvailTrigger(1);
        timerTrigger_ = comPort_->addTimerTrigger();
        roomTrigger_ = comPort_->addStatusTrigger(stOutBuffUsed);
        emptyTrigger_ = comPort_->addStatusTrigger(stOutSent);
        comPort_->setTimerTrigger(timerTrigger_, 0, true);
        cancelTimer_ = timerTrigger_;
        return true;
    } catch (const errors::EOvxException&) {
        releaseTriggers();
        return false;
    }
}

void TOvxCustomAbstractFax::releaseTriggers() {
    cancelTimer_ = 0;
    if (!comPort_ || handlerId_ == 0) return;
    try {
        for (int* t : {&availTrigger_, &timerTrigger_, &roomTrigger_, &emptyTrigger_})
            if (*t > 0) comPort_->removeTrigger(*t);
        comPort_->deregisterTriggerHandler(handlerId_);
    } catch (const errors::EOvxException&) {}
    availTrigger_ = timerTrigger_ = roomTrigger_ = emptyTrigger_ = 0;
    handlerId_ = 0;
}

void TOvxCustomAbstractFax::handOver(std::unique_ptr<TFaxMachine> next) { handover_ = std::move(next); }

void TOvxCustomAbstractFax::serviceSession() {
    MutexLock lock(serviceMu_);
    serviceMachine();
}

void TOvxCustomAbstractFax::serviceMachine() {
    if (machine_ && !machine_->finished()) machine_->service();
    while (handover_ && machine_) {
        machine_ = std::move(handover_);
        machine_->service();
    }
}

int64_t TOvxCustomAbstractFax::nextWakeMs() const {
    MutexLock lock(serviceMu_);
    if (!machine_ || machine_->finished()) return -1;
    if (machine_->wantsOutputRoom() || machine_->wantsOutputEmpty()) return testLink_ ? testLink_->nowMs() : 0;
    return machine_->nextWakeMs();
}

void TOvxCustomAbstractFax::OnTrigger() {
    MutexLock lock(serviceMu_);
    serviceMachine();
    armTriggers();
}

void TOvxCustomAbstractFax::armTriggers() {
    if (!comPort_ || handlerId_ == 0 || !machine_) return;
    try {
        if (machine_->finished()) {
            releaseTriggers();
            return;
        }
        const int64_t wake = machine_->nextWakeMs();
        if (wake >= 0) {
            const int64_t ms = wake - link().nowMs();
            comPort_->setTimerTrigger(timerTrigger_, ms <= 0 ? 0 : (ms + 54) / 55, true);
        } else {
            comPort_->setTimerTrigger(timerTrigger_, 0, false);
        }
        if (machine_->wantsOutputRoom()) {
            auto* send = dynamic_cast<TOvxCustomSendFax*>(this);
            const size_t minimum = send ? send->BufferMinimum : 1000;
            comPort_->setStatusTrigger(roomTrigger_, static_cast<uint32_t>(minimum), true);
        }
        if (machine_->wantsOutputEmpty()) comPort_->setStatusTrigger(emptyTrigger_, 0, true);
    } catch (const errors::EOvxException&) {}
}

void TOvxCustomAbstractFax::CancelSession() {
    cancel_ = true;
    // A timer trigger already removed (the session ended meanwhile) only makes the call fail.
    const int timer = cancelTimer_;
    if (comPort_ && timer != 0 && !testLink_) {
        try {
            comPort_->setTimerTrigger(timer, 0, true);
        } catch (const errors::EOvxException&) {}
    }
}

void TOvxCustomAbstractFax::stopSession() {
    if (running_) {
        CancelSession();
        for (int i = 0; i < 200 && running_ && comPort_ && !testLink_; ++i) delayMs(50);
    }
    {
        // After this no trigger delivery reaches the component, not even one already under way.
        MutexLock lock(gate_->mu);
        gate_->fax = nullptr;
    }
    MutexLock lock(serviceMu_);
    releaseTriggers();
    machine_.reset();
    handover_.reset();
    portLink_.reset();
}

TFaxClassSet TOvxCustomAbstractFax::supportedFaxClasses() {
    if (running_ || !comPort_) return supported_;
    try {
        comPort_->flushInBuffer();
        comPort_->putString("AT+FCLASS=?\r");
        std::string reply;
        const int64_t end = comPort_->clock().nowMs() + 36 * 55;
        TResultLineCollector lines;
        while (comPort_->clock().nowMs() < end) {
            uint8_t c;
            if (comPort_->charReady() == 0) {
                delayMs(10, comPort_->clock());
                continue;
            }
            c = comPort_->getChar();
            if (!lines.put(c)) continue;
            const TResult r = classifyResult(lines.line());
            if (r == TResult::Ok) {
                supported_ = parseFaxClasses(reply);
                break;
            }
            if (r == TResult::Error) break;
            reply += lines.line();
        }
    } catch (const errors::EOvxException&) {}
    return supported_;
}

void TOvxCustomSendFax::SetFaxFile(const std::string& f) {
    FaxFileList.clear();
    if (!f.empty()) FaxFileList.push_back(f);
}

void TOvxCustomSendFax::StartSend() {
    checkStart();
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
        if (fd < 0) throw errors::EOvxException(-5, errors::ovxErrorText(-5));
        close(fd);
        mergedFile_ = buf.data();
        if (int rc = telvane::faximage::mergeOvfFiles(FaxFileList, mergedFile_)) {
            mergedFile_.clear();
            throw errors::EOvxException(rc, errors::ovxErrorText(rc));
        }
    }
    if (!testLink_) portLink_ = std::make_unique<TComPortLink>(*ComPort());
    startMachine(makeSendMachine(*this, link()));
}

bool TOvxCustomSendFax::nextFax(std::string& number, std::string& file, std::string& cover) {
    number.clear();
    file.clear();
    cover.clear();
    if (OnFaxNext) {
        std::string n, f, c;
        const bool answered = runEvent([&] { OnFaxNext(self(), n, f, c); }, 2000);
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

void TOvxCustomSendFax::sessionEnded() {
    if (!mergedFile_.empty()) {
        std::remove(mergedFile_.c_str());
        mergedFile_.clear();
    }
}

void TOvxCustomReceiveFax::StartReceive() {
    checkStart();
    if (!destinationUsable())
        throw errors::EOvxException(
            telvane::errors::ecPathNotFound,
            errors::ovxErrorText(telvane::errors::ecPathNotFound) + " (" + DestinationDir() + ")");
    if (!testLink_) portLink_ = std::make_unique<TComPortLink>(*ComPort());
    startMachine(makeReceiveMachine(*this, link()));
}

bool TOvxCustomReceiveFax::acceptFax() {
    if (!OnFaxAccept) return true;
    bool accept = true;
    bool result = true;
    if (runEvent(
            [&] {
                OnFaxAccept(self(), accept);
                result = accept;
            },
            1000))
        return result;
    return true;
}

std::string TOvxCustomReceiveFax::nameFax() {
    std::string name;
    if (OnFaxName) runEvent([&] { OnFaxName(self(), name); }, 1000);
    if (!name.empty()) return name;
    return nextReceiveFileName(DestinationDir(), FaxNameMode, FaxFileExt, std::time(nullptr));
}

}  // namespace telvane::transport

namespace telvane::transport {

bool TOvxCustomReceiveFax::destinationUsable() const {
    const std::string& dir = DestinationDir();
    if (dir.empty()) return true;  // the current directory
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

int TOvxCustomReceiveFax::CreateFaxFile(telvane::faximage::OvfWriter& file, const std::string& senderId,
                                        std::string& name) {
    name = nameFax();
    // Another process may take a name between the directory scan and the creation: retry
    // with a fresh scan a few times.
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (name.empty()) return telvane::errors::ecFileExists;
        const int rc = file.createExclusive(name, senderId);
        if (rc != telvane::errors::ecFileExists) return rc;
        name = nextReceiveFileName(DestinationDir(), FaxNameMode, FaxFileExt, std::time(nullptr));
    }
    return telvane::errors::ecFileExists;
}

}  // namespace telvane::transport
