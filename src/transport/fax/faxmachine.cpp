// Common machinery of the fax state machines (see faxmachine.h).
#include "transport/fax/faxmachine.h"

#include <cassert>

#include "transport/fax/class1at.h"
#include "transport/fax/faxsession.h"
#include "transport/fax/t30timers.h"

namespace telvane::transport {

TFaxMachine::TFaxMachine(TOvxCustomAbstractFax& fax, TFaxLink& link) : fax_(fax), link_(link) {}

int64_t TFaxMachine::nextWakeMs() const {
    if (finished_) return -1;
    if (!started_) return 0;
    int64_t wake = deadline_;
    if (statusDue_ >= 0 && (wake < 0 || statusDue_ < wake)) wake = statusDue_;
    return wake;
}

void TFaxMachine::goTo(int state) {
    // Whatever the modem or the far end does, a machine only makes the changes its table lists.
    assert(stateChanges().allows(state_, state));
    state_ = state;
    link_.logState(stateName(state), static_cast<uint32_t>(state));
}

void TFaxMachine::sendCommand(const std::string& cmd, int64_t pauseMs) {
    if (pauseMs > 0) link_.pause(pauseMs);
    // A new command ends any frame reception that was asked for before.
    frameArmed_ = false;
    awaitConfirm_ = false;
    // Whatever the modem was delivering is over once it is given a command.
    mode_ = InMode::Lines;
    std::string line = cmd + "\r";
    link_.write(reinterpret_cast<const uint8_t*>(line.data()), line.size());
}

void TFaxMachine::sendFrame(uint8_t fcf, const std::vector<uint8_t>& fif, bool final) {
    link_.pause(20);
    writeRaw(hdlc::buildFrame(fcf, fif, final));
}

void TFaxMachine::abortReception() {
    const uint8_t space = ' ';
    link_.write(&space, 1);
    mode_ = InMode::Lines;
    frameArmed_ = false;
    awaitConfirm_ = false;
    lines_.reset();
}

void TFaxMachine::writeRaw(const std::vector<uint8_t>& bytes) { link_.write(bytes.data(), bytes.size()); }

void TFaxMachine::setTimer(int64_t ticks) { deadline_ = now() + ticks * 55; }

void TFaxMachine::startData(bool keep) {
    mode_ = InMode::Data;
    skipLf_ = true;
    keepData_ = keep;
    decoder_.reset();
    decoder_.setKeep(keep);
}

void TFaxMachine::progress(int code) {
    // Each main step of the session is reported once to the status display.
    if (fax_.faxProgress() == code) return;
    fax_.setProgress(code);
    if (started_) fax_.fireStatus(false, false);
}

void TFaxMachine::Status(bool first, bool last) {
    fax_.fireStatus(first, last);
    if (!last && fax_.StatusInterval > 0)
        statusDue_ = now() + (statusPeriodMs_ > 0 ? statusPeriodMs_ : fax_.StatusInterval * 1000);
}

void TFaxMachine::pageStatusRhythm() {
    if (fax_.StatusInterval <= 0 || finished_) return;
    statusPeriodMs_ = 2 * fax_.StatusInterval * 1000;
    statusDue_ = now() + 3 * fax_.StatusInterval * 1000;
}

void TFaxMachine::normalStatusRhythm() {
    if (statusPeriodMs_ < 0 || finished_) return;
    statusPeriodMs_ = -1;
    statusDue_ = now() + fax_.StatusInterval * 1000;
}

void TFaxMachine::finish() {
    if (finished_) return;
    finished_ = true;
    deadline_ = statusDue_ = -1;
    wantRoom_ = wantEmpty_ = false;
}

void TFaxMachine::hangUp() {
    link_.flushOut();
    if (link_.carrier()) {
        link_.pause(1000);
        link_.write(reinterpret_cast<const uint8_t*>("+++"), 3);
        link_.pause(1000);
        sendCommand(at::kHangUp, 0);
        link_.pause(1000);
        link_.flushIn();
        if (link_.carrier()) {
            link_.setDTR(false);
            link_.setRTS(false);
            link_.pause(500);
            link_.setDTR(true);
            link_.setRTS(true);
            link_.pause(500);
        }
    }
    sendCommand(at::kHangUp, 0);
    link_.pause(100);
    link_.flushIn();
    mode_ = InMode::Lines;
    frameArmed_ = false;
    awaitConfirm_ = false;
    lines_.reset();
}

void TFaxMachine::runScript(std::vector<TScriptStep> steps,
                            std::function<void(int, const std::vector<std::string>&)> done) {
    script_ = std::move(steps);
    scriptDone_ = std::move(done);
    scriptReplies_.clear();
    scriptIndex_ = 0;
    nextScriptStep();
}

std::vector<TFaxMachine::TScriptStep> TFaxMachine::firstStartSteps(const std::string& defaultInit) const {
    std::vector<TScriptStep> steps;
    if (!fax_.firstStartDone()) {
        if (!fax_.ModemInit().empty()) steps.push_back({fax_.ModemInit(), errors::ecFaxBadModemResult});
        steps.push_back({defaultInit, errors::ecFaxBadModemResult});
    }
    return steps;
}

void TFaxMachine::nextScriptStep() {
    if (scriptIndex_ >= static_cast<int>(script_.size())) {
        scriptIndex_ = -1;
        stopTimer();
        auto done = std::move(scriptDone_);
        done(0, scriptReplies_);
        return;
    }
    scriptReplies_.emplace_back();
    sendCommand(script_[static_cast<size_t>(scriptIndex_)].Command);
    setTimer(36);
}

void TFaxMachine::scriptLine(TResult r, const std::string& line) {
    if (r == TResult::Ok) {
        ++scriptIndex_;
        nextScriptStep();
    } else if (r == TResult::Error) {
        const int code = script_[static_cast<size_t>(scriptIndex_)].FailCode;
        scriptIndex_ = -1;
        stopTimer();
        auto done = std::move(scriptDone_);
        done(code, scriptReplies_);
    } else {
        std::string& reply = scriptReplies_.back();
        if (!reply.empty()) reply += ' ';
        reply += line;
    }
}

void TFaxMachine::handleLine(const std::string& line) {
    const TResult r = classifyResult(line, waitingForCall_);
    if (scriptRunning()) {
        scriptLine(r, line);
        return;
    }
    if (awaitConfirm_) {
        if (r != TResult::Ok && r != TResult::Error && r != TResult::NoCarrier) return;
        awaitConfirm_ = false;
        if (r == TResult::Ok && frameOk_)
            onFrame(frame_);
        else
            onFrameFailed(r == TResult::Ok ? TResult::Error : r);
        return;
    }
    if (frameArmed_ && r == TResult::Connect) {
        onFrameStart();
        mode_ = InMode::Frame;
        frameTail_.clear();
        const int64_t arrival = now() + t30::kFrameArrivalTicks * t30::kMsPerTick;
        if (deadline_ >= 0 && deadline_ < arrival) deadline_ = arrival;
        skipLf_ = true;
        decoder_.reset();
        decoder_.setKeep(true);
        return;
    }
    if (frameArmed_ && (r == TResult::Error || r == TResult::NoCarrier)) {
        frameArmed_ = false;
        onFrameFailed(r);
        return;
    }
    onLine(r, line);
}

// A modem that gives up a frame reception may print its result (OK, ERROR, NO CARRIER)
// without closing the frame with DLE ETX. A frame is at most a few hundred bytes and never holds
// a whole result line, so one seen in the raw bytes ends the reception as failed; the result
// is not swallowed as frame data.
size_t TFaxMachine::frameEndedByResult(const uint8_t* raw, size_t n) {
    static const char* const kEnds[] = {"\r\nOK\r", "\r\nERROR\r", "\r\nNO CARRIER\r"};
    for (size_t k = 0; k < n; ++k) {
        frameTail_ += static_cast<char>(raw[k]);
        if (frameTail_.size() > 16) frameTail_.erase(0, frameTail_.size() - 16);
        for (const char* end : kEnds) {
            const std::string e(end);
            if (frameTail_.size() >= e.size() && frameTail_.compare(frameTail_.size() - e.size(), e.size(), e) == 0) {
                mode_ = InMode::Lines;
                frameArmed_ = false;
                awaitConfirm_ = false;
                lines_.reset();
                onFrameFailed(e.find("CARRIER") != std::string::npos ? TResult::NoCarrier : TResult::Error);
                return k + 1;
            }
        }
    }
    if (decoder_.count() > kMaxFrameBytes) {
        mode_ = InMode::Lines;
        frameArmed_ = false;
        lines_.reset();
        onFrameFailed(TResult::Error);
        return n;
    }
    return 0;
}

void TFaxMachine::handleInput(const uint8_t* buf, size_t n) {
    size_t i = 0;
    while (i < n && !finished_) {
        if (mode_ == InMode::Lines) {
            if (onByte(buf[i])) {
                ++i;
                continue;
            }
            if (lines_.put(buf[i++])) handleLine(lines_.line());
            continue;
        }
        if (skipLf_) {
            skipLf_ = false;
            if (buf[i] == '\n') {
                ++i;
                continue;
            }
        }
        const size_t used = decoder_.feed(buf + i, n - i);
        if (mode_ == InMode::Frame) {
            if (const size_t upTo = frameEndedByResult(buf + i, used)) {
                i += upTo;  // the rest is read as result lines again
                continue;
            }
        }
        i += used;
        if (mode_ == InMode::Data && keepData_ && !decoder_.Data().empty()) {
            onData(decoder_.Data().data(), decoder_.Data().size(), false);
            decoder_.Data().clear();
        }
        if (!decoder_.done()) continue;
        if (mode_ == InMode::Frame) {
            // The frame is delivered once the modem confirms its check sequence with OK.
            mode_ = InMode::Lines;
            frameArmed_ = false;
            frameOk_ = hdlc::parseFrame(decoder_.Data(), frame_);
            awaitConfirm_ = true;
        } else {
            mode_ = InMode::Lines;
            onData(nullptr, 0, true);
        }
    }
}

void TFaxMachine::service() {
    if (finished_) return;
    if (!started_) {
        started_ = true;
        if (fax_.StatusInterval > 0) statusDue_ = now() + fax_.StatusInterval * 1000;
        onStart();
    }
    if (fax_.cancelRequested() && !cancelled_ && !finished_) {
        cancelled_ = true;
        onCancel();
    }
    if (!link_.alive() && !finished_) onDeviceLost();
    uint8_t buf[4096];
    for (int rounds = 0; rounds < 64 && !finished_; ++rounds) {
        const size_t n = link_.read(buf, sizeof buf);
        if (n == 0) break;
        handleInput(buf, n);
    }
    if (finished_) return;
    const int64_t atMs = now();
    if (statusDue_ >= 0 && atMs >= statusDue_) Status(false, false);
    if (deadline_ >= 0 && atMs >= deadline_) {
        deadline_ = -1;
        if (scriptRunning()) {
            const int code = script_[static_cast<size_t>(scriptIndex_)].FailCode;
            scriptIndex_ = -1;
            auto done = std::move(scriptDone_);
            done(code, scriptReplies_);
        } else {
            onTimeout();
        }
    }
    if (!finished_ && (wantRoom_ || wantEmpty_)) onOutput();
}

}  // namespace telvane::transport
