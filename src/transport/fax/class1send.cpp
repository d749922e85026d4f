// The Class 1 send machine: start-up (init strings, class check, capability query), dial and
// busy redial, phase B (CSI/DIS in, TSI/DCS out, TCF, CFR/FTT with speed fall-back), page data
// with header line, text cover and minimum line length, post-page frames with repetition,
// MCF/RTN/RTP, DCN and hang-up, then the next fax of the call list.
#include "transport/fax/class1.h"

#include <algorithm>

#include "transport/fax/class1at.h"
#include "transport/fax/faxsession.h"
#include "transport/fax/t30timers.h"
#include "transport/fax/t4fill.h"
#include "transport/ticks.h"

namespace telvane::transport {

namespace {
// A modem answers a command within T3 (10 s) or is taken to have failed.
constexpr int64_t kResponseTicks = t30::kT3Ticks;
// Waiting for room in the output buffer when page data begins (about 60 s).
constexpr int64_t kRoomTicks = t30::kT5Ticks;

// Besides those of every sender: init, dial, phase B with training and its fall-back, the page
// and its post-page exchange with repetition, DCN and hang-up.
constexpr TStateEdges kClass1SendEdges[] = {
    {tfNone, States({tfGetEntry})},
    {tfGetEntry, States({tfInit})},
    {tfInit, States({tf1Init1})},
    {tf1Init1, States({tfDial})},
    {tfDial, States({tf1Connect})},
    {tf1Connect, States({tfRetryWait, tf1SendTSI})},
    {tf1SendTSI, States({tf1TSIRespns})},
    {tf1TSIRespns, States({tf1DCSRspns})},
    {tf1DCSRspns, States({tf1TrainStrt})},
    {tf1TrainStrt, States({tf1TrainFnsh})},
    {tf1TrainFnsh, States({tf1WaitCFR})},
    {tf1WaitCFR, States({tf1WaitPgCn, tf1TSIRespns, tf1SendTSI})},
    {tf1WaitPgCn, States({tfWaitFrHead})},
    {tfSendPage, States({tfDrainPage})},
    {tfDrainPage, States({tf1PrepEOP, tf1PageEnd})},
    {tf1PageEnd, States({tf1PrepEOP})},
    {tf1PrepEOP, States({tf1SendEOP})},
    {tf1SendEOP, States({tf1WaitMPS, tf1WaitEOP, tf1PrepEOP})},
    {tf1WaitMPS, States({tf1WaitMCF, tf1PrepEOP})},
    {tf1WaitEOP, States({tf1WaitMCF, tf1PrepEOP})},
    {tf1WaitMCF, States({tf1SendDCN, tf1WaitPgCn, tf1Connect, tf1TSIRespns, tf1PrepEOP})},
    {tf1SendDCN, States({tf1Hangup, tfClose})},
    {tf1Hangup, States({tf1WaitHngp})},
    {tf1WaitHngp, States({tfClose})},
};
constexpr TStateChanges kClass1SendChanges{kSendSharedEdges, kClass1SendEdges, tfAbort, tfDone};

}  // namespace

size_t TcfLength(long bps) {
    const long n = bps / 100 * 18;
    return static_cast<size_t>(std::clamp(n, 0L, 8192L));
}

bool TcfGood(size_t count, size_t nonZero, long bps) {
    const auto bytesIn = [bps](int64_t ms) { return static_cast<size_t>(bps / 8 * ms / 1000); };
    if (count < bytesIn(t30::kTcfMinMs) || count > bytesIn(t30::kTcfMaxMs)) return false;
    return nonZero * 10 < count;
}

TClass1Sender::TClass1Sender(TOvxCustomSendFax& fax, TFaxLink& link) : TFaxSender(fax, link) {}

TClass1Sender::~TClass1Sender() = default;

const TStateChanges& TClass1Sender::StateChanges() const { return kClass1SendChanges; }

void TClass1Sender::OnStart() {
    Progress(fpInitModem);
    link_.SetDTR(true);
    link_.SetRTS(true);
    if (send_.SoftwareFlow) link_.SetSoftwareFlow(false);
    if (send_.InitBaud) link_.SetBaud(send_.InitBaud);
    StartUp();
}

void TClass1Sender::StartUp() {
    std::vector<TScriptStep> steps = FirstStartSteps(send_.DefaultInit());
    const bool detect = send_.FaxClass() == fcDetect || send_.FaxClass() == fcUnknown;
    if (detect) steps.push_back({at::kClassQuery, ecFaxBadModemResult});
    steps.push_back({at::kClass1, ecFaxInitError});
    steps.push_back({at::kTxModulations, ecFaxBadModemResult});
    RunScript(std::move(steps), [this, detect](int rc, const std::vector<std::string>& replies) {
        if (rc != 0) {
            Fail(rc);
            return;
        }
        send_.MarkInitDone();
        size_t i = replies.size() - 2;
        if (detect) {
            const TFaxClassSet set = ParseFaxClasses(replies[i - 1]);
            send_.SetSupported(set);
            // Only the Class 1 machine exists in this engine: a modem without it cannot be used.
            if (!(set & FaxClassBit(fcClass1))) {
                Fail(ecFaxBadModemResult);
                return;
            }
        }
        own_ = t30::ParseModulations(replies[i + 1]);
        if (send_.NormalBaud) link_.SetBaud(send_.NormalBaud);
        Goto(tfGetEntry);
        GetEntry();
    });
}

// The pages are checked in tfInit; then the modem is put in Class 1 again and the number dialled.
void TClass1Sender::StartFax() {
    Goto(tfInit);
    if (!CheckPages()) return;
    Progress(fpInitModem);
    SendCommand(at::kClass1);
    SetTimer(kResponseTicks);
    Goto(tf1Init1);
}

void TClass1Sender::Dial() {
    Goto(tfDial);
    send_.SetDialAttempt(send_.DialAttempt());
    Progress(fpDialing);
    gotDIS_ = false;
    framesSeen_ = false;
    SendCommand(at::Dial(send_.ToneDial, send_.DialPrefix(), number_));
    ExpectFrame();
    SetTimer(send_.DialWaitTicks());
    Goto(tf1Connect);
}

// The code a state fails with when the modem answers ERROR or NO CARRIER instead of going on
// (0: the state handles those answers itself).
int TClass1Sender::RefusalCode(int state) {
    switch (state) {
    case tf1SendTSI:
    case tf1TSIRespns:
    case tf1DCSRspns: return ecFaxBadModemResult;
    case tf1TrainStrt:
    case tf1TrainFnsh: return ecFaxTrainError;
    case tf1WaitPgCn:
    case tfWaitFrHead:
    case tfSendPage:
    case tfDrainPage:
    case tf1PageEnd: return ecFaxSessionError;
    default: return 0;
    }
}

void TClass1Sender::Command(const std::string& cmd, int next) {
    SendCommand(cmd, kCommandPauseMs);
    SetTimer(kResponseTicks);
    Goto(next);
}

void TClass1Sender::AwaitFrame(int next, int64_t ticks) {
    SendCommand(at::kRxFrames, kCommandPauseMs);
    ExpectFrame();
    SetTimer(ticks);
    Goto(next);
}

void TClass1Sender::OnLine(TResult r, const std::string&) {
    if (State() == tf1DCSRspns && tcfSilence_ && r == TResult::Error) {
        // A modem without "AT+FTS": the silence is our own pause instead.
        link_.Pause(t30::kSignalGapMs - kCommandPauseMs);
        Command(at::TxData(t30::LongTrainCode(speed_)), tf1TrainStrt);
        return;
    }
    if (r == TResult::Error || r == TResult::NoCarrier) {
        if (const int code = RefusalCode(State())) {
            Fail(code);
            return;
        }
    }
    switch (State()) {
    case tf1Init1: tf1Init1Line(r); break;
    case tf1Connect: tf1ConnectLine(r); break;
    case tf1SendTSI: tf1SendTSILine(r); break;
    case tf1TSIRespns: tf1TSIRespnsLine(r); break;
    case tf1DCSRspns: tf1DCSRspnsLine(r); break;
    case tf1TrainStrt: tf1TrainStrtLine(r); break;
    case tf1TrainFnsh: tf1TrainFnshLine(r); break;
    case tf1WaitPgCn: tf1WaitPgCnLine(r); break;
    case tfDrainPage: tfDrainPageLine(r); break;
    case tf1PageEnd: tf1PageEndLine(r); break;
    case tf1SendEOP: tf1SendEOPLine(r); break;
    case tf1WaitMPS:
    case tf1WaitEOP: tf1WaitMPSLine(r); break;
    case tf1SendDCN: tf1SendDCNLine(r); break;
    case tf1Hangup: tf1HangupLine(r); break;
    case tf1WaitHngp: tf1WaitHngpLine(r); break;
    default: break;
    }
}

void TClass1Sender::tf1Init1Line(TResult r) {
    if (r == TResult::Ok)
        Dial();
    else if (r == TResult::Error)
        Fail(ecFaxInitError);
}

void TClass1Sender::tf1ConnectLine(TResult r) {
    if (!DialFailed(r) && r == TResult::Error) Fail(ecFaxNoCarrier);
}

void TClass1Sender::tf1SendTSILine(TResult r) {
    if (r != TResult::Connect) return;
    SendFrame(t30::fcfTSI, t30::EncodeId(send_.StationID()), false);
    Goto(tf1TSIRespns);
}

void TClass1Sender::tf1TSIRespnsLine(TResult r) {
    if (r == TResult::Connect) SendDCS();
}

// DCS is out: 75 ms of silence ("AT+FTS=7"), then the training and TCF.
void TClass1Sender::tf1DCSRspnsLine(TResult r) {
    if (r != TResult::Ok) return;
    if (!tcfSilence_) {
        tcfSilence_ = true;
        Command(at::TxSilence(t30::kTcfSilence), tf1DCSRspns);
    } else {
        Command(at::TxData(t30::LongTrainCode(speed_)), tf1TrainStrt);
    }
}

void TClass1Sender::tf1TrainStrtLine(TResult r) {
    if (r != TResult::Connect) return;
    std::vector<uint8_t> tcf(TcfLength(Bps()), 0);
    tcf.push_back(hdlc::DLE);
    tcf.push_back(hdlc::ETX);
    WriteRaw(tcf);
    Goto(tf1TrainFnsh);
}

// The answer to DCS + TCF is awaited for T4, then the command is repeated.
void TClass1Sender::tf1TrainFnshLine(TResult r) {
    if (r == TResult::Ok) AwaitFrame(tf1WaitCFR, t30::kT4Ticks);
}

void TClass1Sender::tf1WaitPgCnLine(TResult r) {
    if (r != TResult::Connect) return;
    // Page data may follow CONNECT at once: the modem sends its training first and fills with
    // zeros until data comes, so no fixed wait is added here.
    Progress(fpSendPage);
    dataStartMs_ = Now();
    dataBytes_ = 0;
    Goto(tfWaitFrHead);
    SetTimer(kRoomTicks);
    WantRoom(true);
    OnOutput();
}

void TClass1Sender::tfDrainPageLine(TResult r) {
    if (r != TResult::Ok) return;
    PagePumped();
    PrepPostPage();
}

void TClass1Sender::tf1PageEndLine(TResult r) {
    if (r == TResult::Ok) PrepPostPage();
}

void TClass1Sender::tf1SendEOPLine(TResult r) {
    if (r == TResult::Connect) {
        SendFrame(static_cast<uint8_t>(postPageFcf_), {}, true);
        Goto(retries_ > 0 ? tf1WaitEOP : tf1WaitMPS);
    } else if (r == TResult::Error) {
        RepeatPostPage();
    }
}

// The post-page frame is out (tf1WaitMPS, or tf1WaitEOP when repeated): its answer is awaited.
void TClass1Sender::tf1WaitMPSLine(TResult r) {
    if (r == TResult::Ok)
        AwaitFrame(tf1WaitMCF, t30::kT4Ticks);
    else if (r == TResult::Error)
        RepeatPostPage();
}

void TClass1Sender::tf1SendDCNLine(TResult r) {
    if (r == TResult::Connect) {
        SendFrame(t30::fcfDCN, {}, true);
        Goto(tf1Hangup);
    } else if (r == TResult::Error || r == TResult::NoCarrier) {
        FaxDone();
    }
}

void TClass1Sender::tf1HangupLine(TResult r) {
    if (r != TResult::Ok && r != TResult::Error && r != TResult::NoCarrier) return;
    SendCommand(at::kHangUp);
    SetTimer(kHangUpTicks);
    Goto(tf1WaitHngp);
}

void TClass1Sender::tf1WaitHngpLine(TResult r) {
    if (r == TResult::Ok || r == TResult::Error) FaxDone();
}

void TClass1Sender::OnFrameFailed(TResult) {
    switch (State()) {
    case tf1Connect:
        // ERROR or NO CARRIER before any frame is the modem's answer to the dial: the call
        // was not made. After frames it is a frame with a bad check sequence: listen again.
        if (!framesSeen_) {
            Fail(ecFaxNoCarrier);
            return;
        }
        SendCommand(at::kRxFrames, kCommandPauseMs);
        ExpectFrame();
        break;
    case tf1WaitCFR:
        // A response received in error (bad FCS): T.30 repeats the command.
        RepeatTraining();
        break;
    case tf1WaitMCF: RepeatPostPage(); break;
    default: break;
    }
}

void TClass1Sender::OnFrame(const hdlc::TFrame& frame) {
    const t30::Frame kind = t30::Classify(frame.Fcf);
    switch (State()) {
    case tf1Connect:
        framesSeen_ = true;
        SetTimer(kResponseTicks);
        if (kind == t30::Frame::CSI) {
            fax_.SetRemoteID(t30::DecodeId(frame.Fif.data(), frame.Fif.size()));
            Progress(fpGotRemoteID);
        } else if (kind == t30::Frame::DIS) {
            remote_ = t30::ParseDIS(frame.Fif.data(), frame.Fif.size());
            gotDIS_ = true;
            Progress(fpSessionParams);
        } else if (kind == t30::Frame::DCN) {
            Fail(ecCancelRequested);
            return;
        }
        if (!frame.Final()) {
            SendCommand(at::kRxFrames, kCommandPauseMs);
            ExpectFrame();
            return;
        }
        AfterRemoteFrames();
        break;
    case tf1WaitCFR:
        if (kind == t30::Frame::CFR) {
            Turnaround(at::TxData(t30::ShortTrainCode(speed_)), tf1WaitPgCn);
        } else if (kind == t30::Frame::FTT || kind == t30::Frame::RTN) {
            speed_ = t30::StepDown(own_, remote_.Speeds, speed_);
            if (speed_ == 0) {
                Fail(ecFaxTrainError);
                return;
            }
            retries_ = 0;
            tcfSilence_ = false;
            Turnaround(at::kTxFrames, tf1TSIRespns);
        } else if (kind == t30::Frame::DCN) {
            Fail(ecCancelRequested);
        } else if (!frame.Final()) {
            SendCommand(at::kRxFrames, kCommandPauseMs);
            ExpectFrame();
        } else {
            // DIS again (our DCS was not heard), CRP or anything else final: repeat the command.
            RepeatTraining();
        }
        break;
    case tf1WaitMCF: PostPageAnswer(frame); break;
    default: break;
    }
}

void TClass1Sender::AfterRemoteFrames() {
    if (!gotDIS_) {
        Fail(ecFaxBadModemResult);
        return;
    }
    if (!pages_.FitFor(remote_.Fine, remote_.Wide)) {
        Fail(ecFaxIncompatible);
        return;
    }
    speed_ = t30::ChooseSpeed(own_, remote_.Speeds, send_.DesiredBPS);
    if (speed_ == 0) {
        Fail(ecFaxIncompatible);
        return;
    }
    retries_ = 0;
    tcfSilence_ = false;
    Turnaround(at::kTxFrames, tf1SendTSI);
}

void TClass1Sender::Turnaround(const std::string& cmd, int next) {
    link_.Pause(t30::kSignalGapMs - kCommandPauseMs);
    Command(cmd, next);
}

// DCS (with TSI) and TCF again, after T4 without an answer or after a garbled one.
void TClass1Sender::RepeatTraining() {
    if (++retries_ > t30::kMaxRepeats) {
        Fail(ecFatalTimeout);
        return;
    }
    tcfSilence_ = false;
    Turnaround(at::kTxFrames, tf1SendTSI);
}

void TClass1Sender::SendDCS() {
    const bool fine = pages_.PageFine(pageIndex_);
    const bool wide = pages_.PageWide(pageIndex_);
    SendFrame(t30::fcfDCS, t30::BuildDCSFif(speed_, fine, wide, remote_.ScanTimeCode), true);
    fax_.SetConnection(Bps(), fine, wide, false);
    Goto(tf1DCSRspns);
}

void TClass1Sender::OnTimeout() {
    switch (State()) {
    case tf1Connect: Fail(framesSeen_ ? ecFatalTimeout : ecFaxNoAnswer); break;
    case tfRetryWait: Dial(); break;
    case tf1WaitCFR:
        // End the modem's frame reception with a single character, then repeat the command.
        AbortReception();
        RepeatTraining();
        break;
    case tf1WaitMCF:
        AbortReception();
        RepeatPostPage();
        break;
    case tf1WaitHngp:
        HangUp();
        FaxDone();
        break;
    default: Fail(ecFatalTimeout); break;
    }
}

void TClass1Sender::OnOutput() {
    if (State() == tfWaitFrHead) {
        if (link_.OutFree() < kRoomNeeded) return;
        StartPage();
        return;
    }
    // A modem that takes no page data (CTS held low, no result) must not hold the call
    // forever: the page timer runs while nothing moves and is renewed whenever data does.
    const size_t used = link_.OutUsed();
    if ((State() == tfSendPage || State() == tfDrainPage) && used < lastOutUsed_) SetTimer(t30::kPageIdleTicks);
    lastOutUsed_ = used;
    if (State() == tfSendPage) {
        PumpPage();
        return;
    }
    if (State() == tfDrainPage && link_.OutUsed() == 0) {
        WantEmpty(false);
        PagePumped();
        SetTimer(kResponseTicks + LineTicksLeft());
        Goto(tf1PageEnd);
    }
}

void TClass1Sender::StartPage() {
    if (!PreparePage(remote_.ScanTimeCode, Bps())) return;
    SetTimer(t30::kPageIdleTicks);
    lastOutUsed_ = link_.OutUsed();
    filler_.Reset(static_cast<size_t>(minBytes_));
    PageStatusRhythm();
    PumpPage();
}

void TClass1Sender::PageDataWritten(size_t bytes) {
    SetTimer(t30::kPageIdleTicks);
    dataBytes_ += static_cast<int64_t>(bytes);
}

void TClass1Sender::EndPageData() {
    std::vector<uint8_t> last, out;
    filler_.Flush(last);
    hdlc::EscapeDle(last.data(), last.size(), out);
    out.push_back(hdlc::DLE);
    out.push_back(hdlc::ETX);
    link_.Write(out.data(), out.size());
    inData_ = false;
    NormalStatusRhythm();
    WantRoom(false);
    WantEmpty(true);
    Goto(tfDrainPage);
    SetTimer(t30::kPageIdleTicks);
}

// Ticks the modem still needs to put the page data handed to it on the line at the session
// speed: the answer to the page cannot come before that.
int64_t TClass1Sender::LineTicksLeft() {
    const int64_t lineMs = dataBytes_ * 8 * 1000 / Bps();
    const int64_t elapsed = Now() - dataStartMs_;
    return lineMs > elapsed ? MsToTicks(lineMs - elapsed) + 1 : 0;
}

void TClass1Sender::PagePumped() {
    WantRoom(false);
    WantEmpty(false);
    lastPage_ = LastPage();
    if (!lastPage_) ++pageIndex_;
    // A change of resolution needs a new DCS: end the page with EOM and return to phase B.
    const bool sameMode = lastPage_ || pages_.PageFine(pageIndex_) == pages_.PageFine(pageIndex_ - 1);
    postPageFcf_ = lastPage_ ? t30::fcfEOP : (send_.PageContinuation && sameMode ? t30::fcfMPS : t30::fcfEOM);
    retries_ = 0;
    Progress(fpSendPageStatus);
}

void TClass1Sender::PrepPostPage() {
    Goto(tf1PrepEOP);
    Turnaround(at::kTxFrames, tf1SendEOP);
}

void TClass1Sender::RepeatPostPage() {
    if (++retries_ > t30::kMaxRepeats) {
        Fail(ecFatalTimeout);
        return;
    }
    PrepPostPage();
}

void TClass1Sender::PostPageAnswer(const hdlc::TFrame& frame) {
    const t30::Frame kind = t30::Classify(frame.Fcf);
    if (kind == t30::Frame::MCF || (kind == t30::Frame::RTP && lastPage_)) {
        Progress(fpPageOK);
        if (lastPage_) {
            Turnaround(at::kTxFrames, tf1SendDCN);
        } else if (postPageFcf_ == t30::fcfMPS) {
            // T.30: pages after the first are sent with the short training of the same modem.
            Turnaround(at::TxData(t30::ShortTrainCode(speed_)), tf1WaitPgCn);
        } else {
            // EOM: back to phase B, where the far end's DIS may take a while (T1).
            gotDIS_ = false;
            AwaitFrame(tf1Connect, t30::kT1Ticks);
        }
    } else if (kind == t30::Frame::RTP) {
        tcfSilence_ = false;
        Turnaround(at::kTxFrames, tf1TSIRespns);
    } else if (kind == t30::Frame::RTN) {
        Progress(fpPageError);
        Fail(ecFaxSessionError);
    } else if (kind == t30::Frame::DCN) {
        Fail(ecCancelRequested);
    } else {
        RepeatPostPage();
    }
}

}  // namespace telvane::transport
