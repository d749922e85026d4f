// The Class 1 receive machine: start-up, waiting for rings, answering, CSI/DIS, TSI/DCS, the
// training check, CFR or FTT, the accept question, page data stored raw into the fax file,
// post-page frames answered with MCF, DCN and hang-up; then the next call or the end.
#include "transport/fax/class1.h"

#include <ctime>

#include "transport/fax/class1at.h"
#include "transport/fax/faxsession.h"
#include "transport/fax/t30timers.h"

namespace telvane::transport {

namespace {
// A modem answers a command within T3 (10 s) or is taken to have failed.
constexpr int64_t kResponseTicks = t30::kT3Ticks;
// Answering a call: the modem's answer tone and the caller's first signals.
constexpr int64_t kAnswerTicks = t30::kT5Ticks;

// Besides those of every receiver: init, CSI/DIS and their repetition, the training and its
// answer, the page and its post-page exchange, the end of the call.
constexpr TStateEdges kClass1ReceiveEdges[] = {
    {rfNone, States({rfInit})},
    {rfInit, States({rf1Init1})},
    {rf1Init1, States({rfWaiting})},
    {rfAnswer, States({rf1SendCSI})},
    {rf1SendCSI, States({rf1SendDIS})},
    {rf1SendDIS, States({rf1CollFrms})},
    {rf1CollFrms, States({rf1StrtTrn, rf1CollRtry1})},
    {rf1CollRtry1, States({rf1CollRtry2})},
    {rf1CollRtry2, States({rf1SendCSI})},
    {rf1StrtTrn, States({rf1CollTrn, rf1Retrain})},
    {rf1CollTrn, States({rf1FinTrn})},
    {rf1FinTrn, States({rf1SendCFR, rf1Retrain})},
    {rf1Retrain, States({rf1CollFrms})},
    {rf1SendCFR, States({rf1WtPgCnnct})},
    {rf1WtPgCnnct, States({rfStartPage, rf1WaitEOP})},
    {rfGtPgDta, States({rf1FinPage})},
    {rf1FinPage, States({rf1WaitEOP})},
    {rf1WaitEOP, States({rf1WritePage, rf1StrtTrn})},
    {rf1WritePage, States({rf1SendMCF})},
    {rf1SendMCF, States({rf1WtPgCnnct, rf1CollRtry2, rf1WaitDCN})},
    {rf1WaitDCN, States({rf1SendMCF, rf1WtHngp, rfComplete})},
    {rf1WtHngp, States({rfComplete})},
};
constexpr TStateChanges kClass1ReceiveChanges{kReceiveSharedEdges, kClass1ReceiveEdges, rfAbort, rfDone};

}  // namespace

TClass1Receiver::TClass1Receiver(TOvxCustomReceiveFax& fax, TFaxLink& link) : TFaxReceiver(fax, link) {}

const TStateChanges& TClass1Receiver::StateChanges() const { return kClass1ReceiveChanges; }

void TClass1Receiver::OnStart() {
    Progress(fpInitModem);
    if (recv_.SoftwareFlow) link_.SetSoftwareFlow(false);
    if (recv_.InitBaud) link_.SetBaud(recv_.InitBaud);
    StartUp();
}

void TClass1Receiver::StartUp() {
    std::vector<TScriptStep> steps = FirstStartSteps(DefaultInitString(true, false));
    const bool detect = recv_.FaxClass() == fcDetect || recv_.FaxClass() == fcUnknown;
    if (detect) steps.push_back({at::kClassQuery, ecFaxBadModemResult});
    steps.push_back({at::kClass1, ecFaxInitError});
    steps.push_back({at::kRxModulations, ecFaxBadModemResult});
    RunScript(std::move(steps), [this, detect](int rc, const std::vector<std::string>& replies) {
        if (rc != 0) {
            Fail(rc);
            return;
        }
        recv_.MarkInitDone();
        const size_t i = replies.size() - 2;
        if (detect) {
            const TFaxClassSet set = ParseFaxClasses(replies[i - 1]);
            recv_.SetSupported(set);
            if (!(set & FaxClassBit(fcClass1))) {
                Fail(ecFaxBadModemResult);
                return;
            }
        }
        // Own speeds: those the modem can receive, up to DesiredBPS.
        own_ = 0;
        const t30::SpeedSet modem = t30::ParseModulations(replies[i + 1]);
        for (int s = 1; s <= 6; ++s)
            if ((modem & (1u << s)) && t30::SpeedBps(s) <= recv_.DesiredBPS) own_ |= 1u << s;
        if (own_ == 0) own_ = 1u << 1;
        InitCall();
    });
}

void TClass1Receiver::InitCall() {
    Goto(rfInit);
    rings_ = 0;
    identRepeats_ = 0;
    frameRetries_ = 0;
    gotDCS_ = false;
    accepted_ = false;
    frameSent_ = false;
    pages_ = 0;
    eopAnswered_ = false;
    fax_.SetRemoteID("");
    fax_.SetPageInfo(0, 0);
    fax_.SetBytes(0, 0);
    link_.SetDTR(true);
    link_.SetRTS(true);
    SendCommand(at::kClass1);
    SetTimer(kResponseTicks);
    Goto(rf1Init1);
}

void TClass1Receiver::SendIdent() {
    SendFrame(t30::fcfCSI, t30::EncodeId(recv_.StationID()), false);
    SetTimer(kResponseTicks);
    Goto(rf1SendCSI);
}

// Awaits the caller's next command for T2.
void TClass1Receiver::ReceiveFrames() {
    SendCommand(at::kRxFrames, kCommandPauseMs);
    ExpectFrame();
    SetTimer(t30::kT2Ticks);
}

// No valid command after our DIS: CSI and DIS again, for as long as T1 allows.
void TClass1Receiver::RepeatIdent() {
    if (Now() - t1StartMs_ >= t30::kT1Ticks * t30::kMsPerTick) {
        Fail(ecFatalTimeout);
        return;
    }
    ++identRepeats_;
    Goto(rf1CollRtry2);
    link_.Pause(t30::kSignalGapMs - kCommandPauseMs);
    SendCommand(at::kTxFrames, kCommandPauseMs);
    SetTimer(kResponseTicks);
}

void TClass1Receiver::Answer() {
    SendCommand(at::kAnswer);
    SetTimer(kAnswerTicks);
    Progress(fpAnswer);
    Goto(rfAnswer);
}

void TClass1Receiver::Reject() { Fail(ecFileRejected); }

bool TClass1Receiver::FrameSent(TResult r, uint8_t fcf) {
    if (r == TResult::Connect) {
        SendFrame(fcf, {}, true);
        frameSent_ = true;
        return false;
    }
    if (r == TResult::Ok && frameSent_) {
        frameSent_ = false;
        return true;
    }
    return false;
}

void TClass1Receiver::OnLine(TResult r, const std::string& line) {
    switch (State()) {
    case rf1Init1: rf1Init1Line(r); break;
    case rfWaiting: RingLine(r); break;
    case rfAnswer: rfAnswerLine(r); break;
    case rf1SendCSI: rf1SendCSILine(r); break;
    case rf1SendDIS: rf1SendDISLine(r); break;
    case rf1CollRtry2: rf1CollRtry2Line(r); break;
    case rf1StrtTrn: rf1StrtTrnLine(r, line); break;
    case rf1FinTrn: rf1FinTrnLine(r); break;
    case rf1Retrain: rf1RetrainLine(r); break;
    case rf1SendCFR: rf1SendCFRLine(r); break;
    case rf1WtPgCnnct: rf1WtPgCnnctLine(r); break;
    case rf1FinPage: rf1FinPageLine(r); break;
    case rf1SendMCF: rf1SendMCFLine(r); break;
    case rf1WtHngp: rf1WtHngpLine(r); break;
    default: break;
    }
}

void TClass1Receiver::rf1Init1Line(TResult r) {
    if (r == TResult::Ok)
        WaitForCall();
    else if (r != TResult::None)
        Fail(ecFaxInitError);
}

void TClass1Receiver::rfAnswerLine(TResult r) {
    if (r == TResult::Connect) {
        t1StartMs_ = Now();
        identRepeats_ = 0;
        SendIdent();
    } else if (r == TResult::NoCarrier || r == TResult::Error) {
        Fail(ecFaxNoCarrier);
    } else if (r == TResult::Voice) {
        Fail(ecFaxVoiceCall);
    }
}

void TClass1Receiver::rf1SendCSILine(TResult r) {
    if (r == TResult::Connect) {
        SendFrame(t30::fcfDIS, t30::BuildDISFif(t30::HighestIndex(own_)), true);
        Goto(rf1SendDIS);
    } else if (r == TResult::Error || r == TResult::NoCarrier) {
        Fail(ecFaxBadModemResult);
    }
}

// The command is awaited for T4, then DIS is repeated.
void TClass1Receiver::rf1SendDISLine(TResult r) {
    if (r == TResult::Ok) {
        SendCommand(at::kRxFrames, kCommandPauseMs);
        ExpectFrame();
        SetTimer(t30::kT4Ticks);
        Goto(rf1CollFrms);
    } else if (r == TResult::Error || r == TResult::NoCarrier) {
        Fail(ecFaxBadModemResult);
    }
}

void TClass1Receiver::rf1CollRtry2Line(TResult r) {
    if (r == TResult::Connect) SendIdent();
}

void TClass1Receiver::rf1StrtTrnLine(TResult r, const std::string& line) {
    if (r == TResult::Connect) {
        StartData(false);
        Goto(rf1CollTrn);
    } else if (r == TResult::Error && line.find("+FCERROR") != std::string::npos && ++fcErrors_ <= t30::kMaxRepeats) {
        // The modem still hears V.21 (the tail of DCS): ask for the training again.
        SendCommand(at::RxData(t30::LongTrainCode(dcs_.SpeedIndex, dcs_.Mod)), kCommandPauseMs);
    } else if (r == TResult::NoCarrier || r == TResult::Error) {
        trainingGood_ = false;
        SendCommand(at::kTxFrames, kCommandPauseMs);
        SetTimer(kResponseTicks);
        Goto(rf1Retrain);
    }
}

void TClass1Receiver::rf1FinTrnLine(TResult r) {
    if (r != TResult::NoCarrier && r != TResult::Ok && r != TResult::Error) return;
    link_.Pause(t30::kSignalGapMs - kCommandPauseMs);
    SendCommand(at::kTxFrames, kCommandPauseMs);
    SetTimer(kResponseTicks);
    Goto(trainingGood_ ? rf1SendCFR : rf1Retrain);
}

void TClass1Receiver::rf1RetrainLine(TResult r) {
    if (FrameSent(r, t30::fcfFTT)) {
        if (dcs_.SpeedIndex <= 1) {
            Fail(ecFaxTrainError);
            return;
        }
        gotDCS_ = false;
        ReceiveFrames();
        Goto(rf1CollFrms);
    } else if (r == TResult::Error) {
        Fail(ecFaxBadModemResult);
    }
}

void TClass1Receiver::rf1SendCFRLine(TResult r) {
    if (FrameSent(r, t30::fcfCFR)) {
        AwaitPage();
        Accept();
    } else if (r == TResult::Error) {
        Fail(ecFaxBadModemResult);
    }
}

void TClass1Receiver::rf1WtPgCnnctLine(TResult r) {
    if (r == TResult::Connect) {
        Progress(fpSessionParams);
        Progress(fpGetPage);
        Goto(rfStartPage);
        // A page sent again after a retrain replaces the unfinished one.
        if (int rc = BeginPage(dcs_.Fine, dcs_.Wide)) {
            Fail(rc);
            return;
        }
        // Renewed with every piece of page data: a page may take minutes, a dead line not.
        SetTimer(t30::kPageIdleTicks);
        Goto(rfGtPgDta);
    } else if (r == TResult::NoCarrier || r == TResult::Error) {
        // No page carrier: the sender may be repeating its post-page or training frames.
        ReceiveFrames();
        Goto(rf1WaitEOP);
    }
}

void TClass1Receiver::rf1FinPageLine(TResult r) {
    if (r != TResult::NoCarrier && r != TResult::Ok && r != TResult::Error) return;
    ReceiveFrames();
    Goto(rf1WaitEOP);
}

void TClass1Receiver::rf1SendMCFLine(TResult r) {
    if (FrameSent(r, t30::fcfMCF)) {
        if (postPage_ == t30::Frame::MPS) {
            AwaitPage();
        } else if (postPage_ == t30::Frame::EOM) {
            gotDCS_ = false;
            identRepeats_ = 0;
            t1StartMs_ = Now();
            SendCommand(at::kTxFrames, kCommandPauseMs);
            SetTimer(kResponseTicks);
            Goto(rf1CollRtry2);
        } else {
            if (!eopAnswered_) {
                eopAnswered_ = true;
                CloseFile(lfaxReceiveOk);
                accepted_ = false;
                Progress(fpGetHangup);
            }
            ReceiveFrames();
            Goto(rf1WaitDCN);
        }
    } else if (r == TResult::Error) {
        Fail(ecFaxBadModemResult);
    }
}

void TClass1Receiver::rf1WtHngpLine(TResult r) {
    if (r != TResult::Ok && r != TResult::Error) return;
    Progress(fpGotHangup);
    CallDone();
}

void TClass1Receiver::OnFrameFailed(TResult) {
    switch (State()) {
    case rf1CollFrms:
    case rf1WaitEOP:
        // A garbled frame: listen again; the sender repeats its command after its T4.
        if (++frameRetries_ > 20) {
            Fail(ecFatalTimeout);
            return;
        }
        if (State() == rf1WaitEOP)
            ReceiveFrames();
        else {
            SendCommand(at::kRxFrames, kCommandPauseMs);
            ExpectFrame();
        }
        break;
    case rf1WaitDCN:
        SendCommand(at::kHangUp);
        SetTimer(kHangUpTicks);
        Goto(rf1WtHngp);
        break;
    default: break;
    }
}

void TClass1Receiver::OnFrame(const hdlc::TFrame& frame) {
    const t30::Frame kind = t30::Classify(frame.Fcf);
    switch (State()) {
    case rf1CollFrms:
        SetTimer(kResponseTicks);
        if (kind == t30::Frame::CSI) {
            fax_.SetRemoteID(t30::DecodeId(frame.Fif.data(), frame.Fif.size()));
            Progress(fpGotRemoteID);
        } else if (kind == t30::Frame::DCS) {
            dcs_ = t30::ParseDCS(frame.Fif.data(), frame.Fif.size());
            fax_.SetConnection(t30::SpeedBps(dcs_.SpeedIndex), dcs_.Fine, dcs_.Wide, false);
            gotDCS_ = true;
            Progress(fpSessionParams);
        } else if (kind == t30::Frame::DCN) {
            Fail(ecCancelRequested);
            return;
        }
        if (!frame.Final()) {
            ReceiveFrames();
            return;
        }
        if (!gotDCS_) {
            ReceiveFrames();
            return;
        }
        if (!dcs_.Valid) {
            Fail(ecFaxIncompatible);
            return;
        }
        StartTraining();
        break;
    case rf1WaitEOP:
        if (kind == t30::Frame::MPS || kind == t30::Frame::EOM || kind == t30::Frame::EOP) {
            PostPageFrame(kind);
        } else if (kind == t30::Frame::DCS && frame.Final()) {
            // The sender trains again (after our silence or at a new speed).
            dcs_ = t30::ParseDCS(frame.Fif.data(), frame.Fif.size());
            if (!dcs_.Valid) {
                Fail(ecFaxIncompatible);
                return;
            }
            fax_.SetConnection(t30::SpeedBps(dcs_.SpeedIndex), dcs_.Fine, dcs_.Wide, false);
            StartTraining();
        } else if (kind == t30::Frame::DCN) {
            Fail(ecCancelRequested);
        } else {
            ReceiveFrames();
        }
        break;
    case rf1WaitDCN:
        // Our MCF was lost: the sender repeats its post-page command and gets MCF again.
        if (kind == t30::Frame::EOP || kind == t30::Frame::MPS || kind == t30::Frame::EOM) {
            SendMCF();
            return;
        }
        if (!frame.Final()) {
            ReceiveFrames();
            return;
        }
        SendCommand(at::kHangUp);
        SetTimer(kHangUpTicks);
        Goto(rf1WtHngp);
        break;
    default: break;
    }
}

// A post-page command: completes the page (only once, however often the command is repeated)
// and answers MCF.
void TClass1Receiver::PostPageFrame(t30::Frame kind) {
    postPage_ = kind;
    Goto(rf1WritePage);
    if (int rc = KeepPage()) {
        Fail(rc);
        return;
    }
    Progress(fpGetPageResult);
    SendMCF();
}

// The post-page command is answered: the line is turned round for MCF.
void TClass1Receiver::SendMCF() {
    Progress(fpCheckMorePages);
    link_.Pause(t30::kSignalGapMs - kCommandPauseMs);
    SendCommand(at::kTxFrames, kCommandPauseMs);
    SetTimer(kResponseTicks);
    Goto(rf1SendMCF);
}

// DCS has come: the training and TCF are received at its speed.
void TClass1Receiver::StartTraining() {
    fcErrors_ = 0;
    SendCommand(at::RxData(t30::LongTrainCode(dcs_.SpeedIndex, dcs_.Mod)), kCommandPauseMs);
    SetTimer(kResponseTicks);
    Goto(rf1StrtTrn);
}

// Page data is awaited after the short training, for T2.
void TClass1Receiver::AwaitPage() {
    SendCommand(at::RxData(t30::ShortTrainCode(dcs_.SpeedIndex, dcs_.Mod)), kCommandPauseMs);
    SetTimer(t30::kT2Ticks);
    Goto(rf1WtPgCnnct);
}

void TClass1Receiver::OnData(const uint8_t* data, size_t len, bool end) {
    if (State() == rf1CollTrn) {
        if (!end) return;
        trainingGood_ = TcfGood(DataCount(), DataNonZero(), t30::SpeedBps(dcs_.SpeedIndex));
        SetTimer(kResponseTicks);
        Goto(rf1FinTrn);
        return;
    }
    if (State() != rfGtPgDta) return;
    if (!StorePageData(data, len)) return;
    if (len > 0) SetTimer(t30::kPageIdleTicks);
    if (end) {
        SetTimer(kResponseTicks);
        Goto(rf1FinPage);
    }
}

void TClass1Receiver::OnTimeout() {
    switch (State()) {
    case rf1CollFrms:
        // No valid command (a TSI whose DCS was lost counts as none): DIS again until T1.
        Goto(rf1CollRtry1);
        AbortReception();
        gotDCS_ = false;
        RepeatIdent();
        break;
    case rf1WaitDCN:
    case rf1WtHngp:
        HangUp();
        Progress(fpGotHangup);
        CallDone();
        break;
    default: Fail(ecFatalTimeout); break;
    }
}

}  // namespace telvane::transport
