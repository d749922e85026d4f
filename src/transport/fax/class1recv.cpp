// The Class 1 receive machine: start-up, waiting for rings, answering, CSI/DIS, TSI/DCS, the
// training check, CFR or FTT, the accept question, page data stored raw into the fax file and
// checked as it arrives, post-page frames answered with MCF, RTP or RTN by the page's quality,
// DCN and hang-up; then the next call or the end. With error correction (offered when wanted) a
// page comes in blocks of HDLC frames sent as page data, each completed by asking for its
// missing frames, and is coded into the fax file's MH once whole; MR or MMR pages are coded into
// MH as well, so that every reader of the file reads them.
#include "transport/fax/class1.h"

#include <algorithm>
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
    {rfNone, states({rfInit})},
    {rfInit, states({rf1Init1})},
    {rf1Init1, states({rfWaiting})},
    {rfAnswer, states({rf1SendCSI})},
    {rf1SendCSI, states({rf1SendDIS})},
    {rf1SendDIS, states({rf1CollFrms})},
    {rf1CollFrms, states({rf1StrtTrn, rf1CollRtry1})},
    {rf1CollRtry1, states({rf1CollRtry2})},
    {rf1CollRtry2, states({rf1SendCSI})},
    {rf1StrtTrn, states({rf1CollTrn, rf1Retrain})},
    {rf1CollTrn, states({rf1FinTrn})},
    {rf1FinTrn, states({rf1SendCFR, rf1Retrain})},
    {rf1Retrain, states({rf1CollFrms})},
    {rf1SendCFR, states({rf1WtPgCnnct})},
    {rf1WtPgCnnct, states({rfStartPage, rf1WaitEOP})},
    {rfGtPgDta, states({rf1FinPage})},
    {rf1FinPage, states({rf1WaitEOP})},
    {rf1WaitEOP, states({rf1WritePage, rf1StrtTrn, rf1SendMCF})},
    {rf1WritePage, states({rf1SendMCF})},
    {rf1SendMCF, states({rf1WtPgCnnct, rf1CollRtry2, rf1WaitDCN, rf1WaitEOP})},
    {rf1WaitDCN, states({rf1SendMCF, rf1WtHngp, rfComplete})},
    {rf1WtHngp, states({rfComplete})},
};
constexpr TStateChanges kClass1ReceiveChanges{kReceiveSharedEdges, kClass1ReceiveEdges, rfAbort, rfDone};

}  // namespace

TClass1Receiver::TClass1Receiver(TOvxCustomReceiveFax& fax, TFaxLink& link) : TFaxReceiver(fax, link) {}

const TStateChanges& TClass1Receiver::stateChanges() const { return kClass1ReceiveChanges; }

void TClass1Receiver::onStart() {
    progress(fpInitModem);
    if (recv_.SoftwareFlow) link_.setSoftwareFlow(false);
    if (recv_.InitBaud) link_.setBaud(recv_.InitBaud);
    startUp();
}

void TClass1Receiver::startUp() {
    std::vector<TScriptStep> steps = firstStartSteps(defaultInitString(true, false));
    const bool detect = recv_.FaxClass() == fcDetect || recv_.FaxClass() == fcUnknown;
    if (detect) steps.push_back({at::kClassQuery, errors::ecFaxBadModemResult});
    steps.push_back({at::kClass1, errors::ecFaxInitError});
    steps.push_back({at::kRxModulations, errors::ecFaxBadModemResult});
    runScript(std::move(steps), [this, detect](int rc, const std::vector<std::string>& replies) {
        if (rc != 0) {
            fail(rc);
            return;
        }
        recv_.markInitDone();
        const size_t i = replies.size() - 2;
        if (detect) {
            const TFaxClassSet set = parseFaxClasses(replies[i - 1]);
            recv_.setSupported(set);
            if (!(set & faxClassBit(fcClass1))) {
                fail(errors::ecFaxBadModemResult);
                return;
            }
        }
        // Own speeds: those the modem can receive, up to DesiredBPS.
        own_ = 0;
        const t30::SpeedSet modem = t30::parseModulations(replies[i + 1]);
        for (int s = 1; s <= 6; ++s)
            if ((modem & (1u << s)) && t30::speedBps(s) <= recv_.DesiredBPS) own_ |= 1u << s;
        if (own_ == 0) own_ = 1u << 1;
        initCall();
    });
}

void TClass1Receiver::initCall() {
    goTo(rfInit);
    rings_ = 0;
    identRepeats_ = 0;
    frameRetries_ = 0;
    pageWaits_ = 0;
    answerRepeats_ = 0;
    response_ = 0;
    gotDCS_ = false;
    accepted_ = false;
    frameSent_ = false;
    pages_ = 0;
    eopAnswered_ = false;
    coding_ = {};
    blockOpen_ = false;
    ecmPage_.clear();
    fax_.setRemoteID("");
    fax_.setPageInfo(0, 0);
    fax_.setBytes(0, 0);
    link_.setDTR(true);
    link_.setRTS(true);
    sendCommand(at::kClass1);
    setTimer(kResponseTicks);
    goTo(rf1Init1);
}

void TClass1Receiver::sendIdent() {
    sendFrame(t30::fcfCSI, t30::encodeId(recv_.StationID()), false);
    setTimer(kResponseTicks);
    goTo(rf1SendCSI);
}

// Awaits the caller's next command for T2.
void TClass1Receiver::receiveFrames() {
    sendCommand(at::kRxFrames, kCommandPauseMs);
    expectFrame();
    setTimer(t30::kT2Ticks);
}

// No valid command after our DIS: CSI and DIS again, for as long as T1 allows.
void TClass1Receiver::repeatIdent() {
    if (now() - t1StartMs_ >= t30::kT1Ticks * t30::kMsPerTick) {
        fail(errors::ecFatalTimeout);
        return;
    }
    ++identRepeats_;
    goTo(rf1CollRtry2);
    link_.pause(t30::kSignalGapMs - kCommandPauseMs);
    sendCommand(at::kTxFrames, kCommandPauseMs);
    setTimer(kResponseTicks);
}

void TClass1Receiver::answer() {
    sendCommand(at::kAnswer);
    setTimer(kAnswerTicks);
    progress(fpAnswer);
    goTo(rfAnswer);
}

void TClass1Receiver::reject() { fail(errors::ecFileRejected); }

bool TClass1Receiver::frameSent(TResult r, uint8_t fcf, const std::vector<uint8_t>& fif) {
    if (r == TResult::Connect) {
        sendFrame(fcf, fif, true);
        frameSent_ = true;
        return false;
    }
    if (r == TResult::Ok && frameSent_) {
        frameSent_ = false;
        return true;
    }
    return false;
}

void TClass1Receiver::onLine(TResult r, const std::string& line) {
    switch (state()) {
    case rf1Init1: rf1Init1Line(r); break;
    case rfWaiting: ringLine(r); break;
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

// An unsolicited RING before the modem confirmed the set-up is passed over: the call rings
// again once calls are awaited.
void TClass1Receiver::rf1Init1Line(TResult r) {
    if (r == TResult::Ok)
        waitForCall();
    else if (r != TResult::None && r != TResult::Ring)
        fail(errors::ecFaxInitError);
}

void TClass1Receiver::rfAnswerLine(TResult r) {
    if (r == TResult::Connect) {
        t1StartMs_ = now();
        identRepeats_ = 0;
        sendIdent();
    } else if (r == TResult::NoCarrier || r == TResult::Error) {
        fail(errors::ecFaxNoCarrier);
    } else if (r == TResult::Voice) {
        fail(errors::ecFaxVoiceCall);
    }
}

void TClass1Receiver::rf1SendCSILine(TResult r) {
    if (r == TResult::Connect) {
        std::vector<uint8_t> dis = t30::buildDISFif(t30::highestIndex(own_));
        // 2-D coding (MR) is offered always: it is coded into MH as it comes. Error correction
        // and T.6 coding only when error correction is wanted.
        ecm::addCoding(dis, {true, recv_.DesiredECM(), recv_.DesiredECM(), false});
        sendFrame(t30::fcfDIS, dis, true);
        goTo(rf1SendDIS);
    } else if (r == TResult::Error || r == TResult::NoCarrier) {
        fail(errors::ecFaxBadModemResult);
    }
}

// The command is awaited for T4, then DIS is repeated.
void TClass1Receiver::rf1SendDISLine(TResult r) {
    if (r == TResult::Ok) {
        sendCommand(at::kRxFrames, kCommandPauseMs);
        expectFrame();
        setTimer(t30::kT4Ticks);
        goTo(rf1CollFrms);
    } else if (r == TResult::Error || r == TResult::NoCarrier) {
        fail(errors::ecFaxBadModemResult);
    }
}

void TClass1Receiver::rf1CollRtry2Line(TResult r) {
    if (r == TResult::Connect) sendIdent();
}

void TClass1Receiver::rf1StrtTrnLine(TResult r, const std::string& line) {
    if (r == TResult::Connect) {
        startData(false);
        goTo(rf1CollTrn);
    } else if (r == TResult::Error && line.find("+FCERROR") != std::string::npos && ++fcErrors_ <= t30::kMaxRepeats) {
        // The modem still hears V.21 (the tail of DCS): ask for the training again.
        sendCommand(at::rxData(t30::longTrainCode(dcs_.SpeedIndex, dcs_.Mod)), kCommandPauseMs);
    } else if (r == TResult::NoCarrier || r == TResult::Error) {
        trainingGood_ = false;
        sendCommand(at::kTxFrames, kCommandPauseMs);
        setTimer(kResponseTicks);
        goTo(rf1Retrain);
    }
}

void TClass1Receiver::rf1FinTrnLine(TResult r) {
    if (r != TResult::NoCarrier && r != TResult::Ok && r != TResult::Error) return;
    link_.pause(t30::kSignalGapMs - kCommandPauseMs);
    sendCommand(at::kTxFrames, kCommandPauseMs);
    setTimer(kResponseTicks);
    goTo(trainingGood_ ? rf1SendCFR : rf1Retrain);
}

void TClass1Receiver::rf1RetrainLine(TResult r) {
    if (frameSent(r, t30::fcfFTT)) {
        if (dcs_.SpeedIndex <= 1) {
            fail(errors::ecFaxTrainError);
            return;
        }
        gotDCS_ = false;
        receiveFrames();
        goTo(rf1CollFrms);
    } else if (r == TResult::Error) {
        fail(errors::ecFaxBadModemResult);
    }
}

void TClass1Receiver::rf1SendCFRLine(TResult r) {
    if (frameSent(r, t30::fcfCFR)) {
        awaitPage();
        Accept();
    } else if (r == TResult::Error) {
        fail(errors::ecFaxBadModemResult);
    }
}

void TClass1Receiver::rf1WtPgCnnctLine(TResult r) {
    if (r == TResult::Connect && coding_.Ecm) {
        progress(fpGetPage);
        goTo(rfStartPage);
        if (!blockOpen_) {
            block_.beginBlock(coding_.FrameSize);
            blockOpen_ = true;
            ppsFrames_ = 0;
        }
        frameBits_ = hdlc::THdlcDecoder(ecm::kFrameSize + 8);
        startData(true);
        response_ = 0;
        pageWaits_ = 0;
        setTimer(t30::kPageIdleTicks);
        goTo(rfGtPgDta);
    } else if (r == TResult::Connect) {
        progress(fpSessionParams);
        progress(fpGetPage);
        goTo(rfStartPage);
        // A page sent again after a retrain replaces the unfinished one.
        if (int rc = beginPage(dcs_.Fine, dcs_.Wide)) {
            fail(rc);
            return;
        }
        if (coding_.Coding != faximage::FaxCoding::MH) transcoder_.begin(coding_.Coding, dcs_.Wide ? 2048 : 1728);
        response_ = 0;
        pageWaits_ = 0;
        // Renewed with every piece of page data: a page may take minutes, a dead line not.
        setTimer(t30::kPageIdleTicks);
        goTo(rfGtPgDta);
    } else if (r == TResult::NoCarrier || r == TResult::Error) {
        // No page carrier: the sender may be repeating its post-page or training frames.
        receiveFrames();
        goTo(rf1WaitEOP);
    }
}

void TClass1Receiver::rf1FinPageLine(TResult r) {
    if (r != TResult::NoCarrier && r != TResult::Ok && r != TResult::Error) return;
    receiveFrames();
    goTo(rf1WaitEOP);
}

void TClass1Receiver::rf1SendMCFLine(TResult r) {
    if (frameSent(r, response_, responseFif_)) {
        if (ecmAwaitCarrier_) {
            // The next block, or the missing frames of this one.
            awaitPage();
        } else if (postPage_ == t30::Frame::EOM) {
            // Phase B again: the sender waits for our DIS whatever the answer was.
            gotDCS_ = false;
            identRepeats_ = 0;
            t1StartMs_ = now();
            sendCommand(at::kTxFrames, kCommandPauseMs);
            setTimer(kResponseTicks);
            goTo(rf1CollRtry2);
        } else if (response_ == t30::fcfRTN || (response_ == t30::fcfRTP && postPage_ == t30::Frame::MPS)) {
            // The sender trains again (DCS and TCF), then sends the page again or the next one;
            // after RTN to its last page it may also give up (DCN).
            receiveFrames();
            goTo(rf1WaitEOP);
        } else if (postPage_ == t30::Frame::MPS) {
            awaitPage();
        } else {
            if (!eopAnswered_) {
                eopAnswered_ = true;
                closeFile(lfaxReceiveOk);
                accepted_ = false;
                progress(fpGetHangup);
            }
            receiveFrames();
            goTo(rf1WaitDCN);
        }
    } else if (r == TResult::Error) {
        fail(errors::ecFaxBadModemResult);
    }
}

void TClass1Receiver::rf1WtHngpLine(TResult r) {
    if (r != TResult::Ok && r != TResult::Error) return;
    progress(fpGotHangup);
    callDone();
}

void TClass1Receiver::onFrameFailed(TResult) {
    switch (state()) {
    case rf1CollFrms:
    case rf1WaitEOP:
        // A garbled frame: listen again; the sender repeats its command after its T4.
        if (++frameRetries_ > 20) {
            fail(errors::ecFatalTimeout);
            return;
        }
        if (state() == rf1WaitEOP)
            receiveFrames();
        else {
            sendCommand(at::kRxFrames, kCommandPauseMs);
            expectFrame();
        }
        break;
    case rf1WaitDCN:
        // A garbled frame after our answer to EOP: the sender repeating EOP because our answer
        // was lost (a garbled DCN needs no answer, and gets a harmless one). Answered like the
        // clean repeat, a bounded number of times.
        if (++answerRepeats_ > t30::kMaxRepeats) {
            sendCommand(at::kHangUp);
            setTimer(kHangUpTicks);
            goTo(rf1WtHngp);
            return;
        }
        sendResponse();
        break;
    default: break;
    }
}

void TClass1Receiver::onFrame(const hdlc::TFrame& frame) {
    const t30::Frame kind = t30::classify(frame.Fcf);
    switch (state()) {
    case rf1CollFrms:
        setTimer(kResponseTicks);
        if (kind == t30::Frame::CSI) {
            fax_.setRemoteID(t30::decodeId(frame.Fif.data(), frame.Fif.size()));
            progress(fpGotRemoteID);
        } else if (kind == t30::Frame::DCS) {
            takeDcs(frame);
            gotDCS_ = true;
            progress(fpSessionParams);
        } else if (kind == t30::Frame::DCN) {
            fail(errors::ecCancelRequested);
            return;
        }
        if (!frame.isFinal()) {
            receiveFrames();
            return;
        }
        if (!gotDCS_) {
            receiveFrames();
            return;
        }
        if (!dcs_.Valid) {
            fail(errors::ecFaxIncompatible);
            return;
        }
        startTraining();
        break;
    case rf1WaitEOP:
        if (coding_.Ecm && ecm::classify(frame.Fcf) != ecm::Frame::Unknown) {
            ecmFrame(frame);
        } else if (kind == t30::Frame::MPS || kind == t30::Frame::EOM || kind == t30::Frame::EOP) {
            postPageFrame(kind);
        } else if (kind == t30::Frame::DCS && frame.isFinal()) {
            // The sender trains again (after our silence or at a new speed).
            takeDcs(frame);
            if (!dcs_.Valid) {
                fail(errors::ecFaxIncompatible);
                return;
            }
            startTraining();
        } else if (kind == t30::Frame::DCN) {
            // The sender gives up: after our RTN the page it could not deliver is the failure.
            fail(response_ == t30::fcfRTN ? errors::ecFaxSessionError : errors::ecCancelRequested);
        } else {
            receiveFrames();
        }
        break;
    case rf1WaitDCN:
        // Our answer was lost: the sender repeats its post-page command and gets it again.
        if (kind == t30::Frame::EOP || kind == t30::Frame::MPS || kind == t30::Frame::EOM ||
            ecm::classify(frame.Fcf) == ecm::Frame::PPS) {
            sendResponse();
            return;
        }
        if (!frame.isFinal()) {
            receiveFrames();
            return;
        }
        sendCommand(at::kHangUp);
        setTimer(kHangUpTicks);
        goTo(rf1WtHngp);
        break;
    default: break;
    }
}

// A post-page command: the page just received is judged (T.30 copy quality) and answered MCF
// (kept), RTP (kept; the sender retrains before going on) or RTN (not kept: unreadable, or
// longer than the readers can show). A post-page command that comes again after our answer (the
// answer was lost) gets the same answer; one that comes without any page (its carrier never
// came) gets RTN, so the sender never takes a page for delivered that we do not have.
void TClass1Receiver::postPageFrame(t30::Frame kind) {
    postPage_ = kind;
    responseFif_.clear();
    goTo(rf1WritePage);
    if (inPage() && coding_.Coding != faximage::FaxCoding::MH && !storeCoded(nullptr, 0, true)) return;
    if (inPage()) {
        const TPageVerdict verdict = pageVerdict();
        if (verdict == TPageVerdict::Good || verdict == TPageVerdict::Poor) {
            if (int rc = keepPage()) {
                fail(rc);
                return;
            }
            response_ = verdict == TPageVerdict::Good ? t30::fcfMCF : t30::fcfRTP;
        } else {
            dropPage();
            response_ = t30::fcfRTN;
        }
    } else if (response_ == 0) {
        response_ = t30::fcfRTN;
    }
    progress(fpGetPageResult);
    sendResponse();
}

// The post-page command is answered: the line is turned round for the response.
void TClass1Receiver::sendResponse() {
    progress(fpCheckMorePages);
    link_.pause(t30::kSignalGapMs - kCommandPauseMs);
    sendCommand(at::kTxFrames, kCommandPauseMs);
    setTimer(kResponseTicks);
    goTo(rf1SendMCF);
}

// DCS has come: the training and TCF are received at its speed.
void TClass1Receiver::startTraining() {
    fcErrors_ = 0;
    sendCommand(at::rxData(t30::longTrainCode(dcs_.SpeedIndex, dcs_.Mod)), kCommandPauseMs);
    setTimer(kResponseTicks);
    goTo(rf1StrtTrn);
}

// Page data is awaited after the short training (the long one at a speed a CTC named), for T2.
void TClass1Receiver::awaitPage() {
    const char* code = ecmLongTraining_ ? t30::longTrainCode(dcs_.SpeedIndex, dcs_.Mod)
                                        : t30::shortTrainCode(dcs_.SpeedIndex, dcs_.Mod);
    ecmLongTraining_ = false;
    ecmAwaitCarrier_ = false;
    sendCommand(at::rxData(code), kCommandPauseMs);
    setTimer(t30::kT2Ticks);
    goTo(rf1WtPgCnnct);
}

void TClass1Receiver::onData(const uint8_t* data, size_t len, bool end) {
    if (state() == rf1CollTrn) {
        if (!end) return;
        trainingGood_ = tcfGood(dataCount(), dataNonZero(), t30::speedBps(dcs_.SpeedIndex));
        setTimer(kResponseTicks);
        goTo(rf1FinTrn);
        return;
    }
    if (state() != rfGtPgDta) return;
    if (coding_.Ecm) {
        std::vector<std::vector<uint8_t>> frames;
        frameBits_.feed(data, len, frames);
        for (const auto& f : frames)
            if (f.size() > 3 && f[2] == ecm::fcfFCD) block_.addFrame(f.data() + 3, f.size() - 3);
    } else if (coding_.Coding != faximage::FaxCoding::MH) {
        if (!storeCoded(data, len, false)) return;
    } else if (!storePageData(data, len)) {
        return;
    }
    if (len > 0) setTimer(t30::kPageIdleTicks);
    if (end) {
        setTimer(kResponseTicks);
        goTo(rf1FinPage);
    }
}

void TClass1Receiver::onTimeout() {
    switch (state()) {
    case rf1CollFrms:
        // No valid command (a TSI whose DCS was lost counts as none): DIS again until T1.
        goTo(rf1CollRtry1);
        abortReception();
        gotDCS_ = false;
        repeatIdent();
        break;
    case rf1WtPgCnnct:
        // No page carrier within T2, and the modem says nothing: the sender may be repeating
        // its training or post-page command on V.21. Listen for that instead, as T.30 does
        // (a modem that reports "+FCERROR" takes the same way at once).
        if (++pageWaits_ > t30::kMaxRepeats) {
            fail(errors::ecFatalTimeout);
            return;
        }
        abortReception();
        receiveFrames();
        goTo(rf1WaitEOP);
        break;
    case rf1WaitDCN:
    case rf1WtHngp:
        hangUp();
        progress(fpGotHangup);
        callDone();
        break;
    default: fail(errors::ecFatalTimeout); break;
    }
}

void TClass1Receiver::takeDcs(const hdlc::TFrame& frame) {
    dcs_ = t30::parseDCS(frame.Fif.data(), frame.Fif.size());
    // A DCS may select only what our DIS offered: without error correction wanted, MH or MR.
    ecm::CodingOffer selected = ecm::parseCoding(frame.Fif.data(), frame.Fif.size());
    if (!recv_.DesiredECM()) selected = {selected.TwoD, false, false, false};
    coding_ = {};
    coding_.Ecm = selected.Ecm;
    coding_.Coding = selected.T6     ? faximage::FaxCoding::MMR
                     : selected.TwoD ? faximage::FaxCoding::MR
                                     : faximage::FaxCoding::MH;
    coding_.FrameSize = !selected.Ecm ? 0 : selected.Frames64 ? ecm::kSmallFrameSize : ecm::kFrameSize;
    fax_.setConnection(t30::speedBps(dcs_.SpeedIndex), dcs_.Fine, dcs_.Wide, coding_.Ecm, coding_.Coding);
}

bool TClass1Receiver::storeCoded(const uint8_t* data, size_t len, bool end) {
    std::vector<uint8_t> mh;
    if (len > 0) transcoder_.feed(data, len, mh);
    if (end) {
        transcoder_.finish(mh);
        // The lines the 2-D decoding dropped count in the page's copy quality (RTP, RTN) too.
        if (transcoder_.damaged()) {
            const long lost = std::max(1L, transcoder_.damagedLines());
            fax_.addDamagedLines(lost);
            pageLinesLost(lost);
        }
    }
    return storePageData(mh.data(), mh.size());
}

void TClass1Receiver::ecmRespond(uint8_t fcf, std::vector<uint8_t> fif, bool nextCarrier) {
    response_ = fcf;
    responseFif_ = std::move(fif);
    ecmAwaitCarrier_ = nextCarrier;
    sendResponse();
}

void TClass1Receiver::ecmTakeBlock(int frames) {
    block_.Data(frames, ecmPage_);
    blockOpen_ = false;
}

bool TClass1Receiver::ecmEndPage() {
    goTo(rf1WritePage);
    if (int rc = beginPage(dcs_.Fine, dcs_.Wide, false)) {
        fail(rc);
        return false;
    }
    std::vector<uint8_t> mh;
    if (coding_.Coding == faximage::FaxCoding::MH) {
        mh.swap(ecmPage_);
    } else {
        transcoder_.begin(coding_.Coding, dcs_.Wide ? 2048 : 1728);
        transcoder_.feed(ecmPage_.data(), ecmPage_.size(), mh);
        transcoder_.finish(mh);
        if (transcoder_.damaged()) fax_.addDamagedLines(std::max(1L, transcoder_.damagedLines()));
    }
    ecmPage_.clear();
    if (!storePageData(mh.data(), mh.size())) return false;
    // Whatever its lines look like, the page is kept: the sender has nothing better to give.
    pageVerdict();
    if (int rc = keepPage()) {
        fail(rc);
        return false;
    }
    return true;
}

void TClass1Receiver::ecmFrame(const hdlc::TFrame& frame) {
    const uint8_t* fif = frame.Fif.data();
    const size_t len = frame.Fif.size();
    const ecm::Frame kind = ecm::classify(frame.Fcf);
    ecm::PostPage command = ecm::PostPage::Null;
    if (kind == ecm::Frame::PPS) {
        ecm::PpsFields pps;
        if (!ecm::parsePps(fif, len, pps)) {
            receiveFrames();
            return;
        }
        if (!blockOpen_ && response_ != 0) {
            // Our answer was lost: the same answer again.
            sendResponse();
            return;
        }
        if (!blockOpen_) {
            // No frame of the block arrived (its carrier never came): all of them are asked for.
            block_.beginBlock(coding_.FrameSize);
            blockOpen_ = true;
            ppsFrames_ = 0;
        }
        // After a PPR some senders count only the frames sent again: the block keeps the count
        // its first PPS gave.
        ppsFrames_ = std::max(ppsFrames_, pps.Frames);
        const ecm::TFrameMap missing = block_.missing(ppsFrames_);
        if (!missing.empty()) {
            ecmRespond(ecm::fcfPPR, ecm::buildPpr(missing, false).Fif, true);
            return;
        }
        ecmTakeBlock(ppsFrames_);
        command = pps.Command;
    } else if (kind == ecm::Frame::EOR) {
        // The sender gives the block up: what arrived of it is kept.
        if (!ecm::parseEor(fif, len, command)) {
            receiveFrames();
            return;
        }
        if (blockOpen_) {
            progress(fpPageError);
            ecmTakeBlock(ppsFrames_);
        }
    } else if (kind == ecm::Frame::CTC) {
        t30::Modulation modulation = t30::Modulation::V29;
        const int speed = ecm::parseCtc(fif, len, &modulation);
        if (speed == 0) {
            receiveFrames();
            return;
        }
        dcs_.SpeedIndex = speed;
        dcs_.Mod = modulation;
        fax_.setConnection(t30::speedBps(speed), dcs_.Fine, dcs_.Wide, true, coding_.Coding);
        ecmLongTraining_ = true;
        ecmRespond(ecm::buildSimple(ecm::Frame::CTR, false).Fcf, {}, true);
        return;
    } else if (kind == ecm::Frame::RR && response_ != 0) {
        sendResponse();
        return;
    } else {
        receiveFrames();
        return;
    }
    const uint8_t answer = kind == ecm::Frame::EOR ? ecm::buildSimple(ecm::Frame::ERR, false).Fcf : t30::fcfMCF;
    if (command == ecm::PostPage::Null) {
        ecmRespond(answer, {}, true);
        return;
    }
    // The page's last block: the page goes into the file, then the post-page command's way.
    if (!ecmEndPage()) return;
    const bool mps = command == ecm::PostPage::MPS || command == ecm::PostPage::PriMPS;
    const bool eom = command == ecm::PostPage::EOM || command == ecm::PostPage::PriEOM;
    postPage_ = mps ? t30::Frame::MPS : eom ? t30::Frame::EOM : t30::Frame::EOP;
    progress(fpGetPageResult);
    ecmRespond(answer, {}, false);
}

}  // namespace telvane::transport
