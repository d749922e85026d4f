// The fax components: TOvxSendFax and TOvxReceiveFax with their bases, the history writer
// TOvxFaxLog and the status-display hook TOvxAbstractFaxStatus.
// A component is attached to a TOvxComPort, given its properties and started; the session then
// runs as a state machine on the port's dispatch thread, driven by the port's triggers, and
// reports through events that run on the application thread (through the port's event sink,
// or in place when none is set), each waited for at most 1000 ms (2000 ms for next-fax); a
// handler that does not answer in time leaves the default result.
// Components may belong to a TOvxComponentOwner; a fax component started without a status
// display or fax log takes the first one its owner holds.
// Guarantees: StartSend/StartReceive either throw EOvxException (-1005, -1009, -3006) or
// return with the session running (or, without triggers, finished with -5001); every session
// ends with exactly one OnFaxFinish whose code equals the one reported by OnFaxError (0 and no
// error event on success); CancelSession always ends a running session (progress 4842, error
// -6005); destroying a component stops its session before anything the session reads is
// destroyed, and no trigger delivery reaches it afterwards; a status display or fax log that is
// destroyed is first taken out of every fax component of its owner.
// Locking (annotated for Clang's thread-safety analysis): each service pass runs under the
// component's service lock, which also guards the machine and the trigger handles; the texts
// the application reads (file, remote ID, hang-up code) have a lock of their own.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "errors/errors.h"
#include "transport/fax/faxframework.h"
#include "transport/threadsafety.h"
#include "faximage/faxinput.h"
#include "faximage/mrcodes.h"
#include "faximage/ovffile.h"

namespace telvane::transport {

class TOvxComPort;
class TOvxEventSink;
class TFaxLink;
class TFaxMachine;
class TOvxAbstractFax;
class TOvxComponentOwner;
class TOvxAbstractFaxStatus;
class TOvxFaxLog;
class TOvxCustomAbstractFax;

// The components of one owner (a window, a tool): non-owning pointers, kept up to date by the
// components' SetOwner calls and destructors. Destroying the owner first detaches its components.
class TOvxComponentOwner {
public:
    TOvxComponentOwner() = default;
    ~TOvxComponentOwner();
    TOvxComponentOwner(const TOvxComponentOwner&) = delete;
    TOvxComponentOwner& operator=(const TOvxComponentOwner&) = delete;

    // The first registered status display and fax log; null when there is none.
    TOvxAbstractFaxStatus* firstStatusDisplay() const;
    TOvxFaxLog* firstFaxLog() const;

private:
    friend class TOvxAbstractFaxStatus;
    friend class TOvxFaxLog;
    friend class TOvxCustomAbstractFax;
    void forget(const void* component);
    // Moves `component` from the owner in `slot` to `owner`, in that owner's `list`.
    template <class T>
    static void enlist(T* component, TOvxComponentOwner*& slot, TOvxComponentOwner* owner,
                       std::vector<T*> TOvxComponentOwner::*list);

    std::vector<TOvxAbstractFaxStatus*> displays_;
    std::vector<TOvxFaxLog*> logs_;
    std::vector<TOvxCustomAbstractFax*> faxes_;
};

enum TFaxLogCode {
    lfaxNone = 0,
    lfaxTransmitStart = 1,
    lfaxTransmitOk = 2,
    lfaxTransmitFail = 3,
    lfaxReceiveStart = 4,
    lfaxReceiveOk = 5,
    lfaxReceiveSkip = 6,
    lfaxReceiveFail = 7,
    // The call failed after pages had been confirmed to the sender: the fax file holds those
    // pages (ReceivedPages()) and is kept; the error event came before.
    lfaxReceivePartial = 8
};

// Progress codes of the fax sessions (their texts: OvxStatusText).
inline constexpr int fpInitModem = 4801, fpDialing = 4802, fpBusyWait = 4803, fpSendPage = 4804,
                     fpSendPageStatus = 4805, fpPageError = 4806, fpPageOK = 4807, fpConnecting = 4808,
                     fpNoAnswerWait = 4809, fpWaiting = 4820, fpNoConnect = 4821, fpAnswer = 4822, fpIncoming = 4823,
                     fpGetPage = 4824, fpGetPageResult = 4825, fpCheckMorePages = 4826, fpGetHangup = 4827,
                     fpGotHangup = 4828, fpSessionParams = 4840, fpGotRemoteID = 4841, fpCancel = 4842,
                     fpFinished = 4843;

class TOvxAbstractFaxStatus {
public:
    explicit TOvxAbstractFaxStatus(TOvxComponentOwner* owner = nullptr) { setOwner(owner); }
    virtual ~TOvxAbstractFaxStatus() { setOwner(nullptr); }
    TOvxAbstractFaxStatus(const TOvxAbstractFaxStatus&) = delete;
    TOvxAbstractFaxStatus& operator=(const TOvxAbstractFaxStatus&) = delete;
    virtual void updateDisplay(TOvxAbstractFax& fax, bool First, bool Last) = 0;
    void setOwner(TOvxComponentOwner* owner);
    TOvxComponentOwner* owner() const { return owner_; }

private:
    friend class TOvxComponentOwner;
    TOvxComponentOwner* owner_ = nullptr;
};

// Writes the fax history file; an empty name writes nothing; failures are not reported.
class TOvxFaxLog {
public:
    explicit TOvxFaxLog(TOvxComponentOwner* owner = nullptr) { setOwner(owner); }
    virtual ~TOvxFaxLog() { setOwner(nullptr); }
    TOvxFaxLog(const TOvxFaxLog&) = delete;
    TOvxFaxLog& operator=(const TOvxFaxLog&) = delete;
    std::string FaxHistoryName = "OVEXFAX.HIS";
    virtual void updateLog(TOvxAbstractFax& fax, int logCode);
    void setOwner(TOvxComponentOwner* owner);
    TOvxComponentOwner* owner() const { return owner_; }

private:
    friend class TOvxComponentOwner;
    TOvxComponentOwner* owner_ = nullptr;
};

// A system font for enhanced text: a family name as the user's settings give it (Windows names
// such as "MS Sans Serif" included; the renderer substitutes what the system has) and a height
// in the Windows sense: negative, the pixel height of the characters; positive, of the whole
// character cell. Assigning a string sets the name and keeps the height.
struct TOvxFont {
    std::string Name;
    int Height = -11;
    TOvxFont& operator=(std::string name) {
        Name = std::move(name);
        return *this;
    }
};

// Makes a text renderer for an enhanced font; null when the font cannot be loaded.
using TEnhancedTextFactory = std::function<std::unique_ptr<telvane::faximage::FaxTextRenderer>(const TOvxFont& font)>;

class TOvxCustomAbstractFax {
public:
    explicit TOvxCustomAbstractFax(TOvxComponentOwner* owner = nullptr);
    virtual ~TOvxCustomAbstractFax();
    TOvxCustomAbstractFax(const TOvxCustomAbstractFax&) = delete;
    TOvxCustomAbstractFax& operator=(const TOvxCustomAbstractFax&) = delete;

    // --- properties ---
    TOvxComPort* ComPort() const { return comPort_; }
    // Attaching sets the port to 19200 8N1, 8192-byte buffers, RTS/CTS flow control.
    void setComPort(TOvxComPort* port);
    TFaxClass FaxClass() const { return faxClass_; }
    void setFaxClass(TFaxClass c) { faxClass_ = c; }
    long InitBaud = 0;
    long NormalBaud = 0;
    const std::string& ModemInit() const { return modemInit_; }
    void setModemInit(std::string_view s) { modemInit_ = normaliseModemInit(s); }
    const std::string& StationID() const { return stationID_; }
    void setStationID(std::string_view s) { stationID_ = std::string(s.substr(0, 20)); }
    // Null: the first status display / fax log of the owner, looked up at start.
    TOvxAbstractFaxStatus* StatusDisplay = nullptr;
    TOvxFaxLog* FaxLog = nullptr;
    void setOwner(TOvxComponentOwner* owner);
    TOvxComponentOwner* owner() const { return owner_; }
    virtual std::string FaxFile() const;
    virtual void SetFaxFile(const std::string& f);
    bool AbortNoConnect = false;
    bool ExitOnError = false;
    bool SoftwareFlow = false;
    int StatusInterval = 1;
    long DesiredBPS = 9600;
    char desiredBPSDigit() const { return bitRateDigit(DesiredBPS); }
    bool DesiredECM() const { return desiredECM_ == '1'; }
    void setDesiredECM(bool on) { desiredECM_ = on ? '1' : '0'; }
    std::string FaxFileExt = "OVF";
    // Where events run; null: the port's event sink, or in place when the port has none.
    void setEventSink(TOvxEventSink* sink) { eventSink_ = sink; }

    // --- read-only state ---
    std::string remoteID() const;
    int faxProgress() const { return progress_; }
    int FaxError() const { return faxError_; }
    std::string hangupCode() const;
    int currentPage() const { return currentPage_; }
    int totalPages() const { return totalPages_; }
    long bytesTransferred() const { return bytesTransferred_; }
    long pageLength() const { return pageLength_; }
    // Pages of the current fax that are confirmed: sending, those the far end answered with MCF
    // (or "+FPTS:1"), so a page whose data went out but whose answer never came is not among them;
    // receiving, those confirmed to the sender and kept in the fax file.
    int pagesConfirmed() const { return pagesConfirmed_; }
    std::string statusText() const { return errors::ovxStatusText(progress_); }
    // Parameters of the current connection, as last negotiated (DCS sent or received):
    // bit rate (0 before training), high resolution, 2048-pel width, error correction.
    long connectBPS() const { return connectBps_; }
    bool highResolution() const { return highRes_; }
    int pageWidth() const { return wide_ ? 2048 : 1728; }
    bool errorControl() const { return ecm_; }
    // The coding of the connection's page data, and with error control: "MMR, ECM", "MR", "MH".
    telvane::faximage::FaxCoding coding() const { return coding_; }
    std::string codingText() const;
    // Lines lost in the pages of the fax being (or last) received (a block given up, damaged
    // 2-D data); those pages are kept with what arrived.
    long damagedLines() const { return damagedLines_; }
    bool inProgress() const { return running_; }
    // Classes the modem supports ("AT+FCLASS=?" when idle; the last answer while a session runs).
    TFaxClassSet supportedFaxClasses();
    // Posts the cancel request to the running session.
    void CancelSession();

    // --- events ---
    std::function<void(TOvxAbstractFax& CP, bool First, bool Last)> OnFaxStatus;
    std::function<void(TOvxAbstractFax& CP, int LogCode)> OnFaxLog;
    std::function<void(TOvxAbstractFax& CP, int ErrorCode)> OnFaxError;
    std::function<void(TOvxAbstractFax& CP, int ErrorCode)> OnFaxFinish;

    // Runs the session on `link` instead of the port (scripted modems in tests); the caller
    // then drives it with serviceSession() instead of the port's dispatcher.
    void useLinkForTesting(TFaxLink* link) { testLink_ = link; }
    void serviceSession() TELVANE_EXCLUDES(serviceMu_);
    // When a session driven by ServiceSession next needs a call (ms on the link's clock; -1 = none).
    int64_t nextWakeMs() const;

    // --- used by the state machines (dispatch thread) ---
    void fireStatus(bool first, bool last);
    void fireLog(int code);
    void fireError(int code);
    void fireFinish(int code);
    void setProgress(int code) { progress_ = code; }
    void setRemoteID(const std::string& id);
    void setHangupCode(const std::string& code);
    void setPageInfo(int page, int total) {
        currentPage_ = page;
        totalPages_ = total;
    }
    void setPagesConfirmed(int n) { pagesConfirmed_ = n; }
    void setBytes(long sent, long length) {
        bytesTransferred_ = sent;
        pageLength_ = length;
    }
    void setConnection(long bps, bool fine, bool wide, bool ecm,
                       telvane::faximage::FaxCoding coding = telvane::faximage::FaxCoding::MH) {
        connectBps_ = bps;
        highRes_ = fine;
        wide_ = wide;
        ecm_ = ecm;
        coding_ = coding;
    }
    void addDamagedLines(long lines) { damagedLines_ += lines; }
    void clearDamagedLines() { damagedLines_ = 0; }
    bool cancelRequested() const { return cancel_; }
    void setSupported(TFaxClassSet s) { supported_ = s; }
    // The class the running (or last) session uses; fcDetect until it is resolved.
    TFaxClass sessionClass() const { return sessionClass_; }
    void setSessionClass(TFaxClass c) { sessionClass_ = c; }
    // A machine that has resolved the class hands the session to the machine of that class,
    // which takes over once the current service pass ends. Called by the machine during the
    // pass, which holds serviceMu_ (the analysis cannot follow the call through the machine).
    void handOver(std::unique_ptr<TFaxMachine> next) TELVANE_NO_THREAD_SAFETY_ANALYSIS;
    bool firstStartDone() const { return initDone_; }
    void markInitDone() { initDone_ = true; }

protected:
    TOvxAbstractFax& self();
    // Runs `call` on the application thread; false when it timed out.
    bool runEvent(const std::function<void()>& call, int timeoutMs);
    void startMachine(std::unique_ptr<TFaxMachine> machine) TELVANE_EXCLUDES(serviceMu_);
    void checkStart();
    void stopSession() TELVANE_EXCLUDES(serviceMu_);
    TFaxLink& link();
    std::unique_ptr<TFaxLink> portLink_;
    TFaxLink* testLink_ = nullptr;

private:
    friend class TOvxComponentOwner;
    // What the port's trigger handler holds: a delivery that began before the handler was
    // removed may still call it once, and must then find no component rather than a destroyed
    // one. Closing the gate (fax = null) waits for a call in progress to end.
    struct TTriggerGate {
        Mutex mu;
        TOvxCustomAbstractFax* fax TELVANE_GUARDED_BY(mu) = nullptr;
    };
    // The port's trigger handler and the session's triggers; false when the port refused them.
    bool registerTriggers() TELVANE_EXCLUDES(serviceMu_);
    // One service pass on the dispatch thread: the machine, then the triggers it now needs.
    void OnTrigger() TELVANE_EXCLUDES(serviceMu_);
    void serviceMachine() TELVANE_REQUIRES(serviceMu_);
    void armTriggers() TELVANE_REQUIRES(serviceMu_);
    void releaseTriggers() TELVANE_REQUIRES(serviceMu_);

    TOvxComponentOwner* owner_ = nullptr;
    TOvxComPort* comPort_ = nullptr;
    TFaxClass faxClass_ = fcDetect;
    std::string modemInit_;
    std::string stationID_;
    char desiredECM_ = '0';
    TOvxEventSink* eventSink_ = nullptr;
    // Lock order: gate_->mu, then serviceMu_, then stateMu_; no event is raised under stateMu_.
    const std::shared_ptr<TTriggerGate> gate_ = std::make_shared<TTriggerGate>();
    // Held for each service pass (a machine runs on one thread at a time) and while a session's
    // machine or triggers are set up or taken down.
    mutable Mutex serviceMu_;
    std::unique_ptr<TFaxMachine> machine_ TELVANE_GUARDED_BY(serviceMu_);
    std::unique_ptr<TFaxMachine> handover_ TELVANE_GUARDED_BY(serviceMu_);
    std::atomic<TFaxClass> sessionClass_{fcDetect};
    // The texts the application reads while the dispatch thread writes them.
    mutable Mutex stateMu_;
    std::string faxFile_ TELVANE_GUARDED_BY(stateMu_);
    std::string remoteID_ TELVANE_GUARDED_BY(stateMu_);
    std::string hangupCode_ TELVANE_GUARDED_BY(stateMu_);
    std::atomic<int> progress_{0};
    std::atomic<int> faxError_{0};
    std::atomic<int> currentPage_{0}, totalPages_{0}, pagesConfirmed_{0};
    std::atomic<long> bytesTransferred_{0}, pageLength_{0};
    std::atomic<long> connectBps_{0};
    std::atomic<bool> highRes_{false}, wide_{false}, ecm_{false};
    std::atomic<telvane::faximage::FaxCoding> coding_{telvane::faximage::FaxCoding::MH};
    std::atomic<long> damagedLines_{0};
    std::atomic<bool> cancel_{false};
    std::atomic<bool> running_{false};
    std::atomic<TFaxClassSet> supported_{0};
    bool initDone_ = false;
    int handlerId_ TELVANE_GUARDED_BY(serviceMu_) = 0;
    int availTrigger_ TELVANE_GUARDED_BY(serviceMu_) = 0;
    int timerTrigger_ TELVANE_GUARDED_BY(serviceMu_) = 0;
    int roomTrigger_ TELVANE_GUARDED_BY(serviceMu_) = 0;
    int emptyTrigger_ TELVANE_GUARDED_BY(serviceMu_) = 0;
    // The timer trigger while the session's triggers are armed (0 otherwise), for CancelSession,
    // which must not wait for a service pass: the pass may be waiting for the application thread.
    std::atomic<int> cancelTimer_{0};
};

class TOvxAbstractFax : public TOvxCustomAbstractFax {
public:
    using TOvxCustomAbstractFax::TOvxCustomAbstractFax;
};

class TOvxCustomSendFax : public TOvxAbstractFax {
public:
    explicit TOvxCustomSendFax(TOvxComponentOwner* owner = nullptr) : TOvxAbstractFax(owner) { setFaxClass(fcClass1); }
    // Stops the session before the properties it reads are destroyed.
    ~TOvxCustomSendFax() override { stopSession(); }
    std::vector<std::string> FaxFileList;
    std::string FaxFile() const override { return FaxFileList.empty() ? std::string() : FaxFileList.front(); }
    void SetFaxFile(const std::string& f) override;
    std::string PhoneNumber;
    std::string CoverFile;
    const std::string& DialPrefix() const { return dialPrefix_; }
    void setDialPrefix(std::string_view s) { dialPrefix_ = std::string(s.substr(0, 40)); }
    bool ToneDial = true;
    bool BlindDial = false;
    bool DetectBusy = true;
    int64_t DialWait() const { return ticksToSeconds(dialWaitTicks_); }
    void setDialWait(int64_t seconds) { dialWaitTicks_ = secondsToTicks(seconds); }
    int64_t dialWaitTicks() const { return dialWaitTicks_; }
    int DialAttempts = 3;
    int DialAttempt() const { return dialAttempt_; }
    void setDialAttempt(int n) { dialAttempt_ = n; }
    int64_t DialRetryWait() const { return ticksToSeconds(retryWaitTicks_); }
    void setDialRetryWait(int64_t seconds) { retryWaitTicks_ = secondsToTicks(seconds); }
    int64_t dialRetryWaitTicks() const { return retryWaitTicks_; }
    int MaxSendCount = 50;
    size_t BufferMinimum = 1000;
    bool SafeMode = true;
    // Page continuation: MPS between pages (on), EOM otherwise.
    bool PageContinuation = true;
    std::string HeaderLine;
    std::string HeaderSender, HeaderRecipient, HeaderTitle;
    // With EnhTextEnabled the header line is drawn with EnhHeaderFont and a text cover with
    // EnhFont through the registered enhanced-text factory; without a factory, or with the
    // option off, with the built-in bitmap font.
    bool EnhTextEnabled = false;
    TOvxFont EnhFont, EnhHeaderFont{"", -13};
    // Installed once by the program (the Qt bridge installs the system-font renderer); an empty
    // function removes it. Safe to call from any thread.
    static void setEnhancedTextFactory(TEnhancedTextFactory factory);
    // A renderer for `font` from the installed factory: null without a factory, otherwise the
    // factory's result (null when the font cannot be loaded).
    static std::unique_ptr<telvane::faximage::FaxTextRenderer> makeEnhancedRenderer(const TOvxFont& font,
                                                                                    bool& haveFactory);

    std::function<void(TOvxAbstractFax& CP, std::string& APhoneNumber, std::string& AFaxFile, std::string& ACoverFile)>
        OnFaxNext;

    // Checks the port, merges the file list when needed and starts the session.
    void StartSend();

    // Used by the send machine: the next entry of the call list; false when none is left.
    bool nextFax(std::string& number, std::string& file, std::string& cover);
    std::string defaultInit() const { return defaultInitString(DetectBusy, BlindDial); }
    // The entry being sent (for the history file).
    std::string ActivePhone;
    std::vector<std::string> ActiveFiles;
    // Ends the session: removes the merged temporary file.
    void sessionEnded();

private:
    std::string dialPrefix_;
    int64_t dialWaitTicks_ = secondsToTicks(60);
    int64_t retryWaitTicks_ = secondsToTicks(60);
    int dialAttempt_ = 0;
    int nextCount_ = 0;
    std::string mergedFile_;
};

class TOvxSendFax final : public TOvxCustomSendFax {
public:
    using TOvxCustomSendFax::TOvxCustomSendFax;
};

class TOvxCustomReceiveFax : public TOvxAbstractFax {
public:
    explicit TOvxCustomReceiveFax(TOvxComponentOwner* owner = nullptr) : TOvxAbstractFax(owner) {
        setFaxClass(fcDetect);
    }
    ~TOvxCustomReceiveFax() override { stopSession(); }
    int AnswerOnRing = 1;
    bool FaxAndData = false;
    bool OneFax = false;
    bool ConstantStatus = false;
    const std::string& DestinationDir() const { return destinationDir_; }
    void setDestinationDir(std::string_view s) { destinationDir_ = normaliseDestinationDir(s); }
    int FaxNameMode = fnCount;

    std::function<void(TOvxAbstractFax& CP, bool& Accept)> OnFaxAccept;
    std::function<void(TOvxAbstractFax& CP, std::string& Name)> OnFaxName;

    // Throws (-3, "Path not found") when the destination directory cannot take received faxes:
    // a call is never answered whose fax could not be stored.
    void StartReceive();
    // Whether the destination directory (when one is set) exists and takes new files.
    bool destinationUsable() const;

    // Used by the receive machine.
    bool acceptFax();
    std::string nameFax();
    // Creates the received fax file under a new name (never replacing or following a link to
    // an existing file): the handler's or naming mode's name while it is free, else the next
    // free one. 0 with `name` set, or a negative code.
    int CreateFaxFile(telvane::faximage::OvfWriter& file, const std::string& senderId, std::string& name);

private:
    std::string destinationDir_;
};

class TOvxReceiveFax final : public TOvxCustomReceiveFax {
public:
    using TOvxCustomReceiveFax::TOvxCustomReceiveFax;
};

}  // namespace telvane::transport
