// Base of the fax state machines: the session record's common parts, command framing
// (pause, command, CR), result-line collection, HDLC frame and data reception with DLE
// transparency, the response timer, the status timer, the cancel check and start-up command
// scripts (init strings, class detection, capability query).
// A machine is re-entered by service() on every serial event and runs until it must wait for
// the modem; it never blocks except for the protocol's own short pauses.
// Guarantees: after finished() no further event is raised; every state change is written to
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
constexpr uint64_t states(std::initializer_list<int> states) {
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
    constexpr bool allows(int from, int to) const {
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
    void service();
    bool finished() const { return finished_; }
    // The time (link clock, ms) by which service() must run again; -1 when only input matters.
    int64_t nextWakeMs() const;
    bool wantsOutputRoom() const { return wantRoom_; }
    bool wantsOutputEmpty() const { return wantEmpty_; }
    static constexpr size_t kRoomNeeded = 4096;

protected:
    enum class InMode { Lines, Frame, Data };

    // --- hooks of the concrete machine ---
    virtual void onStart() = 0;
    virtual void onLine(TResult r, const std::string& line) = 0;
    virtual void onFrame(const hdlc::TFrame& frame) = 0;
    virtual void onFrameFailed(TResult r) = 0;  // ERROR / NO CARRIER instead of a frame
    virtual void onData(const uint8_t* data, size_t len, bool end) = 0;
    virtual void onTimeout() = 0;
    virtual void onOutput() {}  // room in or end of the output buffer
    virtual void onCancel() = 0;
    virtual void onDeviceLost() = 0;  // the port or modem has gone away
    // Sees every byte that arrives between result lines first; true when it took the byte
    // (a Class 2 modem's XON before page data).
    virtual bool onByte(uint8_t) { return false; }
    // The modem found the flags of a frame it was asked to receive (its CONNECT): a frame is
    // on its way, so something is on the line.
    virtual void onFrameStart() {}
    virtual const char* stateName(int state) const = 0;
    virtual const TStateChanges& stateChanges() const = 0;

    // --- helpers ---
    // The one place the state changes: logged, and checked against stateChanges().
    void goTo(int state);
    int state() const { return state_; }
    void sendCommand(const std::string& cmd, int64_t pauseMs = 100);
    void sendFrame(uint8_t fcf, const std::vector<uint8_t>& fif, bool final);
    void writeRaw(const std::vector<uint8_t>& bytes);
    void setTimer(int64_t ticks);
    void stopTimer() { deadline_ = -1; }
    // After "AT+FRH=3": the next CONNECT starts a frame, which ends with OK or ERROR. Once
    // CONNECT has come (the modem found the flags) a running timer is extended so that a frame
    // already on its way is not cut off.
    void expectFrame() { frameArmed_ = true; }
    // Ends a frame or data reception the modem is still in (any character does that) and goes
    // back to reading result lines, whether or not the modem closes the reception with DLE ETX.
    void abortReception();
    // After a CONNECT for received data: bytes go to OnData until DLE ETX.
    void startData(bool keep);
    size_t dataCount() const { return decoder_.count(); }
    size_t dataNonZero() const { return decoder_.nonZero(); }
    void progress(int code);
    // Raises a status event; unless it is the last, the next timed one is due one period later.
    void Status(bool first, bool last);
    // Timed status events come every StatusInterval seconds; while a page is sent the first
    // comes after 3 and the next every 2 intervals (PageStatusRhythm), until NormalStatusRhythm.
    void pageStatusRhythm();
    void normalStatusRhythm();
    // Runs AT commands one after another, each needing OK within 36 ticks (other lines are
    // collected as the reply); `done` gets 0 or the failing step's code and the replies.
    struct TScriptStep {
        std::string Command;
        int FailCode;
    };
    void runScript(std::vector<TScriptStep> steps,
                   std::function<void(int rc, const std::vector<std::string>& replies)> done);
    // The steps of the first start (none later): the user's modem init string, if any, and
    // `defaultInit`, both failing with ecFaxBadModemResult.
    std::vector<TScriptStep> firstStartSteps(const std::string& defaultInit) const;
    bool scriptRunning() const { return scriptIndex_ >= 0; }
    void finish();
    // Hang-up: +++ / ATH with pauses, dropping DTR and RTS when the carrier stays.
    void hangUp();
    void wantRoom(bool on) { wantRoom_ = on; }
    void wantEmpty(bool on) { wantEmpty_ = on; }
    int64_t now() { return link_.nowMs(); }

    TOvxCustomAbstractFax& fax_;
    TFaxLink& link_;
    bool cancelled_ = false;
    bool waitingForCall_ = false;  // NO CARRIER is matched by "NO C" while waiting for calls

private:
    void handleInput(const uint8_t* buf, size_t n);
    void handleLine(const std::string& line);
    // Bytes up to the end of a bare result line seen in frame data (0: none).
    size_t frameEndedByResult(const uint8_t* raw, size_t n);
    static constexpr size_t kMaxFrameBytes = 1024;
    void scriptLine(TResult r, const std::string& line);
    void nextScriptStep();

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
