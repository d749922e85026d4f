// Base of the fax state machines: the session record's common parts, command framing
// (pause, command, CR), result-line collection, HDLC frame and data reception with DLE
// transparency, the response timer, the status timer, the cancel check and start-up command
// scripts (init strings, class detection, capability query).
// A machine is re-entered by Service() on every serial event and runs until it must wait for
// the modem; it never blocks except for the protocol's own short pauses.
// Guarantees: after Finished() no further event is raised; every state change is written to
// the dispatch log with its state name and number, and is one the machine's table of state
// changes lists (asserted where assertions are on).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "transport/fax/faxlink.h"
#include "transport/fax/hdlc.h"
#include "transport/fax/resultline.h"
#include "transport/fax/t30.h"

namespace telvane::transport {

class TOvxCustomAbstractFax;

// A set of states as a bit mask (bit n: state n).
constexpr uint64_t States(std::initializer_list<int> states) {
    uint64_t mask = 0;
    for (int state : states) mask |= uint64_t(1) << state;
    return mask;
}

// The states one state may go to.
struct TStateEdges {
    int From;
    uint64_t To;
};

// The state changes of a machine, written out as a table that can be read beside the protocol:
// the edges its class shares with the others of its kind and its own. Besides those a machine
// may stay in a state, and go from any state but its last to its abort state (a failure, a
// cancel or a lost line can end every state); nothing leaves the last state.
class TStateChanges {
public:
    static constexpr int kMaxStates = 64;
    constexpr TStateChanges(std::span<const TStateEdges> shared, std::span<const TStateEdges> own, int abortState,
                            int lastState)
        : abort_(abortState), last_(lastState) {
        for (const auto edges : {shared, own})
            for (const TStateEdges& e : edges) next_[static_cast<size_t>(e.From)] |= e.To;
    }
    constexpr bool Allows(int from, int to) const {
        if (from < 0 || from >= kMaxStates || to < 0 || to >= kMaxStates) return false;
        if (from == last_) return false;
        return from == to || to == abort_ || ((next_[static_cast<size_t>(from)] >> to) & 1) != 0;
    }

private:
    std::array<uint64_t, kMaxStates> next_{};
    int abort_;
    int last_;
};

class TFaxMachine {
public:
    TFaxMachine(TOvxCustomAbstractFax& fax, TFaxLink& link);
    virtual ~TFaxMachine() = default;
    // Handles everything that can be handled now.
    void Service();
    bool Finished() const { return finished_; }
    // The time (link clock, ms) by which Service() must run again; -1 when only input matters.
    int64_t NextWakeMs() const;
    bool WantsOutputRoom() const { return wantRoom_; }
    bool WantsOutputEmpty() const { return wantEmpty_; }
    static constexpr size_t kRoomNeeded = 4096;

protected:
    enum class InMode { Lines, Frame, Data };

    // --- hooks of the concrete machine ---
    virtual void OnStart() = 0;
    virtual void OnLine(TResult r, const std::string& line) = 0;
    virtual void OnFrame(const hdlc::TFrame& frame) = 0;
    virtual void OnFrameFailed(TResult r) = 0;  // ERROR / NO CARRIER instead of a frame
    virtual void OnData(const uint8_t* data, size_t len, bool end) = 0;
    virtual void OnTimeout() = 0;
    virtual void OnOutput() {}  // room in or end of the output buffer
    virtual void OnCancel() = 0;
    virtual void OnDeviceLost() = 0;  // the port or modem has gone away
    // Sees every byte that arrives between result lines first; true when it took the byte
    // (a Class 2 modem's XON before page data).
    virtual bool OnByte(uint8_t) { return false; }
    virtual const char* StateName(int state) const = 0;
    virtual const TStateChanges& StateChanges() const = 0;

    // --- helpers ---
    // The one place the state changes: logged, and checked against StateChanges().
    void Goto(int state);
    int State() const { return state_; }
    void SendCommand(const std::string& cmd, int64_t pauseMs = 100);
    void SendFrame(uint8_t fcf, const std::vector<uint8_t>& fif, bool final);
    void WriteRaw(const std::vector<uint8_t>& bytes);
    void SetTimer(int64_t ticks);
    void StopTimer() { deadline_ = -1; }
    // After "AT+FRH=3": the next CONNECT starts a frame, which ends with OK or ERROR. Once
    // CONNECT has come (the modem found the flags) a running timer is extended so that a frame
    // already on its way is not cut off.
    void ExpectFrame() { frameArmed_ = true; }
    // Ends a frame or data reception the modem is still in (any character does that) and goes
    // back to reading result lines, whether or not the modem closes the reception with DLE ETX.
    void AbortReception();
    // After a CONNECT for received data: bytes go to OnData until DLE ETX.
    void StartData(bool keep);
    size_t DataCount() const { return decoder_.Count(); }
    size_t DataNonZero() const { return decoder_.NonZero(); }
    void Progress(int code);
    // Raises a status event; unless it is the last, the next timed one is due one period later.
    void Status(bool first, bool last);
    // Timed status events come every StatusInterval seconds; while a page is sent the first
    // comes after 3 and the next every 2 intervals (PageStatusRhythm), until NormalStatusRhythm.
    void PageStatusRhythm();
    void NormalStatusRhythm();
    // Runs AT commands one after another, each needing OK within 36 ticks (other lines are
    // collected as the reply); `done` gets 0 or the failing step's code and the replies.
    struct TScriptStep {
        std::string Command;
        int FailCode;
    };
    void RunScript(std::vector<TScriptStep> steps,
                   std::function<void(int rc, const std::vector<std::string>& replies)> done);
    // The steps of the first start (none later): the user's modem init string, if any, and
    // `defaultInit`, both failing with ecFaxBadModemResult.
    std::vector<TScriptStep> FirstStartSteps(const std::string& defaultInit) const;
    bool ScriptRunning() const { return scriptIndex_ >= 0; }
    void Finish();
    // Hang-up: +++ / ATH with pauses, dropping DTR and RTS when the carrier stays.
    void HangUp();
    void WantRoom(bool on) { wantRoom_ = on; }
    void WantEmpty(bool on) { wantEmpty_ = on; }
    int64_t Now() { return link_.NowMs(); }

    TOvxCustomAbstractFax& fax_;
    TFaxLink& link_;
    bool cancelled_ = false;
    bool waitingForCall_ = false;  // NO CARRIER is matched by "NO C" while waiting for calls

private:
    void HandleInput(const uint8_t* buf, size_t n);
    void HandleLine(const std::string& line);
    // Bytes up to the end of a bare result line seen in frame data (0: none).
    size_t FrameEndedByResult(const uint8_t* raw, size_t n);
    static constexpr size_t kMaxFrameBytes = 1024;
    void ScriptLine(TResult r, const std::string& line);
    void NextScriptStep();

    int state_ = 0;
    bool started_ = false;
    bool finished_ = false;
    bool wantRoom_ = false;
    bool wantEmpty_ = false;
    int64_t deadline_ = -1;
    int64_t statusDue_ = -1;
    int64_t statusPeriodMs_ = -1;  // -1: StatusInterval seconds
    InMode mode_ = InMode::Lines;
    bool frameArmed_ = false;
    bool awaitConfirm_ = false;
    bool frameOk_ = false;
    hdlc::TFrame frame_;
    bool skipLf_ = false;
    std::string frameTail_;  // last raw bytes of a frame reception, to spot a bare result line
    TResultLineCollector lines_;
    hdlc::TDleDecoder decoder_{4096};
    bool keepData_ = true;
    std::vector<TScriptStep> script_;
    int scriptIndex_ = -1;
    std::vector<std::string> scriptReplies_;
    std::function<void(int, const std::vector<std::string>&)> scriptDone_;
};

}  // namespace telvane::transport
