// The Class 1 send machine: start-up (init strings, class check, capability query), dial and
// busy redial, phase B (CSI/DIS in, TSI/DCS out, TCF, CFR/FTT with speed fall-back), page data
// with header line, text cover and minimum line length, post-page frames with repetition,
// MCF, RTP (retrain, then the next page) and RTN (retrain and send the page again, bounded),
// DCN and hang-up, then the next fax of the call list. With error correction (both ends offer
// it and it is wanted) the page goes out in MMR, MR or MH as both ends can, in blocks of HDLC
// frames at the page speed, each confirmed or partly sent again before the next; without it the
// page goes out in MR when both ends offer 2-D coding, else in MH. The ECM frames
// are framed here and sent as page data ("AT+FTM="): many modems (spandsp's T.31 among them)
// offer "AT+FTH=" at V.21 only.
#include "transport/fax/class1.h"

#include <algorithm>
#include <memory>

#include "faximage/mhdecoder.h"
#include "faximage/mrcoder.h"
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
    {tfNone, states({tfGetEntry})},
    {tfGetEntry, states({tfInit})},
    {tfInit, states({tf1Init1})},
    {tf1Init1, states({tfDial})},
    {tfDial, states({tf1Connect})},
    {tf1Connect, states({tfRetryWait, tf1SendTSI})},
    {tf1SendTSI, states({tf1TSIRespns})},
    {tf1TSIRespns, states({tf1DCSRspns})},
    {tf1DCSRspns, states({tf1TrainStrt})},
    {tf1TrainStrt, states({tf1TrainFnsh})},
    {tf1TrainFnsh, states({tf1WaitCFR})},
    {tf1WaitCFR, states({tf1WaitPgCn, tf1TSIRespns, tf1SendTSI})},
    {tf1WaitPgCn, states({tfWaitFrHead, tf1EcmFrames})},
    {tfSendPage, states({tfDrainPage, tf1EcmFrames})},
    {tf1EcmFrames, states({tf1PrepEOP})},
    {tfDrainPage, states({tf1PrepEOP, tf1PageEnd})},
    {tf1PageEnd, states({tf1PrepEOP})},
    {tf1PrepEOP, states({tf1SendEOP})},
    {tf1SendEOP, states({tf1WaitMPS, tf1WaitEOP, tf1PrepEOP})},
    {tf1WaitMPS, states({tf1WaitMCF, tf1PrepEOP})},
    {tf1WaitEOP, states({tf1WaitMCF, tf1PrepEOP})},
    {tf1WaitMCF, states({tf1SendDCN, tf1WaitPgCn, tf1Connect, tf1TSIRespns, tf1PrepEOP})},
    {tf1SendDCN, states({tf1Hangup, tfClose})},
    {tf1Hangup, states({tf1WaitHngp})},
    {tf1WaitHngp, states({tfClose})},
};
constexpr TStateChanges kClass1SendChanges{kSendSharedEdges, kClass1SendEdges, tfAbort, tfDone};

// Codes the lines of an MH page again in MR or MMR, every line at the page's width and, in MR,
// filled to `minLineBits` from its EOL to the next.
class TPageRecoder final : public faximage::FaxLineSink {
public:
    TPageRecoder(faximage::FaxCoding coding, int width, int k, int minLineBits, std::vector<uint8_t>& out)
        : coder_(std::make_unique<faximage::FaxMrCoder>()), line_(static_cast<size_t>(width) / 8), out_(out) {
        coder_->beginPage(coding, width, k, minLineBits);
    }
    void faxLine(const uint8_t* line, size_t bytes) override {
        // A line of another width (a 1728-pel header on a wide page) is cut or padded white.
        std::fill(line_.begin(), line_.end(), 0);
        std::copy_n(line, std::min(bytes, line_.size()), line_.begin());
        const size_t n = coder_->codeLine(line_.data());
        out_.insert(out_.end(), coder_->data(), coder_->data() + n);
    }
    void end() {
        const size_t n = coder_->endPage();
        out_.insert(out_.end(), coder_->data(), coder_->data() + n);
    }

private:
    std::unique_ptr<faximage::FaxMrCoder> coder_;
    std::vector<uint8_t> line_;
    std::vector<uint8_t>& out_;
};

}  // namespace

size_t tcfLength(long bps) {
    const long n = bps / 100 * 18;
    return static_cast<size_t>(std::clamp(n, 0L, 8192L));
}

bool tcfGood(size_t count, size_t nonZero, long bps) {
    const auto bytesIn = [bps](int64_t ms) { return static_cast<size_t>(bps / 8 * ms / 1000); };
    if (count < bytesIn(t30::kTcfMinMs) || count > bytesIn(t30::kTcfMaxMs)) return false;
    return nonZero * 10 < count;
}

TClass1Sender::TClass1Sender(TOvxCustomSendFax& fax, TFaxLink& link) : TFaxSender(fax, link) {}

TClass1Sender::~TClass1Sender() = default;

const TStateChanges& TClass1Sender::stateChanges() const { return kClass1SendChanges; }

void TClass1Sender::onStart() {
    progress(fpInitModem);
    link_.setDTR(true);
    link_.setRTS(true);
    if (send_.SoftwareFlow) link_.setSoftwareFlow(false);
    if (send_.InitBaud) link_.setBaud(send_.InitBaud);
    startUp();
}

void TClass1Sender::startUp() {
    std::vector<TScriptStep> steps = firstStartSteps(send_.defaultInit());
    const bool detect = send_.FaxClass() == fcDetect || send_.FaxClass() == fcUnknown;
    if (detect) steps.push_back({at::kClassQuery, errors::ecFaxBadModemResult});
    steps.push_back({at::kClass1, errors::ecFaxInitError});
    steps.push_back({at::kTxModulations, errors::ecFaxBadModemResult});
    runScript(std::move(steps), [this, detect](int rc, const std::vector<std::string>& replies) {
        if (rc != 0) {
            fail(rc);
            return;
        }
        send_.markInitDone();
        size_t i = replies.size() - 2;
        if (detect) {
            const TFaxClassSet set = parseFaxClasses(replies[i - 1]);
            send_.setSupported(set);
            // Only the Class 1 machine exists in this engine: a modem without it cannot be used.
            if (!(set & faxClassBit(fcClass1))) {
                fail(errors::ecFaxBadModemResult);
                return;
            }
        }
        own_ = t30::parseModulations(replies[i + 1]);
        if (send_.NormalBaud) link_.setBaud(send_.NormalBaud);
        goTo(tfGetEntry);
        getEntry();
    });
}

// The pages are checked in tfInit; then the modem is put in Class 1 again and the number dialled.
void TClass1Sender::startFax() {
    goTo(tfInit);
    confirmed_ = 0;
    rtnCount_ = 0;
    rtnTraining_ = false;
    ecmNewPage_ = true;
    fax_.setPagesConfirmed(0);
    if (!checkPages()) return;
    progress(fpInitModem);
    sendCommand(at::kClass1);
    setTimer(kResponseTicks);
    goTo(tf1Init1);
}

void TClass1Sender::dial() {
    goTo(tfDial);
    send_.setDialAttempt(send_.DialAttempt());
    progress(fpDialing);
    gotDIS_ = false;
    framesSeen_ = false;
    connected_ = false;
    sendCommand(at::dial(send_.ToneDial, send_.DialPrefix(), number_));
    expectFrame();
    setTimer(send_.dialWaitTicks());
    goTo(tf1Connect);
}

// The code a state fails with when the modem answers ERROR or NO CARRIER instead of going on
// (0: the state handles those answers itself).
int TClass1Sender::refusalCode(int state) {
    switch (state) {
    case tf1SendTSI:
    case tf1TSIRespns:
    case tf1DCSRspns: return errors::ecFaxBadModemResult;
    case tf1TrainStrt:
    case tf1TrainFnsh: return errors::ecFaxTrainError;
    case tf1WaitPgCn:
    case tfWaitFrHead:
    case tfSendPage:
    case tfDrainPage:
    case tf1PageEnd:
    case tf1EcmFrames: return errors::ecFaxSessionError;
    default: return 0;
    }
}

void TClass1Sender::command(const std::string& cmd, int next, int64_t pauseMs) {
    sendCommand(cmd, pauseMs);
    setTimer(kResponseTicks);
    goTo(next);
}

void TClass1Sender::awaitFrame(int next, int64_t ticks) {
    sendCommand(at::kRxFrames, kCommandPauseMs);
    expectFrame();
    setTimer(ticks);
    goTo(next);
}

void TClass1Sender::onLine(TResult r, const std::string&) {
    if (state() == tf1DCSRspns && tcfSilence_ && r == TResult::Error) {
        // A modem without "AT+FTS": the silence is our own pause instead.
        link_.pause(t30::kSignalGapMs);
        command(at::txData(t30::longTrainCode(speed_)), tf1TrainStrt, 0);
        return;
    }
    if (r == TResult::Error || r == TResult::NoCarrier) {
        if (const int code = refusalCode(state())) {
            fail(trainingError(code));
            return;
        }
    }
    switch (state()) {
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
    case tf1EcmFrames: tf1EcmFramesLine(r); break;
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
        dial();
    else if (r == TResult::Error)
        fail(errors::ecFaxInitError);
}

void TClass1Sender::tf1ConnectLine(TResult r) {
    if (!dialFailed(r) && r == TResult::Error) fail(errors::ecFaxNoCarrier);
}

void TClass1Sender::tf1SendTSILine(TResult r) {
    if (r != TResult::Connect) return;
    sendFrame(t30::fcfTSI, t30::encodeId(send_.StationID()), false);
    goTo(tf1TSIRespns);
}

void TClass1Sender::tf1TSIRespnsLine(TResult r) {
    if (r == TResult::Connect) sendDCS();
}

// DCS is out: 75 ms of silence, then the training and TCF. The modem times the silence
// ("AT+FTS=7" answers OK once it has passed), so each command goes out as soon as the modem's
// OK comes: any pause of ours would only lengthen the gap T.30 fixes at 75 +/- 20 ms.
void TClass1Sender::tf1DCSRspnsLine(TResult r) {
    if (r != TResult::Ok) return;
    if (!tcfSilence_) {
        tcfSilence_ = true;
        command(at::txSilence(t30::kTcfSilence), tf1DCSRspns, 0);
    } else {
        command(at::txData(t30::longTrainCode(speed_)), tf1TrainStrt, 0);
    }
}

void TClass1Sender::tf1TrainStrtLine(TResult r) {
    if (r != TResult::Connect) return;
    std::vector<uint8_t> tcf(tcfLength(bps()), 0);
    tcf.push_back(hdlc::DLE);
    tcf.push_back(hdlc::ETX);
    writeRaw(tcf);
    goTo(tf1TrainFnsh);
}

// The answer to DCS + TCF is awaited for T4, then the command is repeated.
void TClass1Sender::tf1TrainFnshLine(TResult r) {
    if (r == TResult::Ok) awaitFrame(tf1WaitCFR, t30::kT4Ticks);
}

void TClass1Sender::tf1WaitPgCnLine(TResult r) {
    if (r != TResult::Connect) return;
    if (coding_.Ecm) {
        ecmBlockConnected();
        return;
    }
    // Page data may follow CONNECT at once: the modem sends its training first and fills with
    // zeros until data comes, so no fixed wait is added here.
    pageDataProgress();
    dataConnected();
    goTo(tfWaitFrHead);
    setTimer(kRoomTicks);
    wantRoom(true);
    onOutput();
}

void TClass1Sender::tfDrainPageLine(TResult r) {
    if (r != TResult::Ok) return;
    pagePumped();
    prepPostPage();
}

void TClass1Sender::tf1PageEndLine(TResult r) {
    if (r == TResult::Ok) prepPostPage();
}

void TClass1Sender::tf1SendEOPLine(TResult r) {
    if (r == TResult::Connect) {
        if (coding_.Ecm)
            sendFrame(command_.Fcf, command_.Fif, true);
        else
            sendFrame(static_cast<uint8_t>(postPageFcf_), {}, true);
        goTo(retries_ > 0 ? tf1WaitEOP : tf1WaitMPS);
    } else if (r == TResult::Error) {
        repeatPostPage();
    }
}

// The post-page frame is out (tf1WaitMPS, or tf1WaitEOP when repeated): its answer is awaited.
void TClass1Sender::tf1WaitMPSLine(TResult r) {
    if (r == TResult::Ok)
        awaitFrame(tf1WaitMCF, t30::kT4Ticks);
    else if (r == TResult::Error)
        repeatPostPage();
}

void TClass1Sender::tf1SendDCNLine(TResult r) {
    if (r == TResult::Connect) {
        sendFrame(t30::fcfDCN, {}, true);
        goTo(tf1Hangup);
    } else if (r == TResult::Error || r == TResult::NoCarrier) {
        faxDone();
    }
}

void TClass1Sender::tf1HangupLine(TResult r) {
    if (r != TResult::Ok && r != TResult::Error && r != TResult::NoCarrier) return;
    sendCommand(at::kHangUp);
    setTimer(kHangUpTicks);
    goTo(tf1WaitHngp);
}

void TClass1Sender::tf1WaitHngpLine(TResult r) {
    if (r == TResult::Ok || r == TResult::Error) faxDone();
}

void TClass1Sender::onFrameFailed(TResult r) {
    switch (state()) {
    case tf1Connect:
        // Before the modem has heard anything, ERROR is its refusal of the dial (the call was
        // not made) and NO CARRIER its report that nobody answered. Once the call is connected
        // a garbled or missing frame is listened for again: T.30 waits for DIS until T1.
        if (!connected_) {
            if (r == TResult::NoCarrier)
                busyOrRetry(false);
            else
                fail(errors::ecFaxNoCarrier);
            return;
        }
        listenForDis();
        break;
    case tf1WaitCFR:
        // A response received in error (bad FCS): T.30 repeats the command.
        repeatTraining();
        break;
    case tf1WaitMCF: repeatPostPage(); break;
    default: break;
    }
}

void TClass1Sender::onFrame(const hdlc::TFrame& frame) {
    const t30::Frame kind = t30::classify(frame.Fcf);
    switch (state()) {
    case tf1Connect:
        framesSeen_ = true;
        setTimer(std::min<int64_t>(kResponseTicks, (t1DeadlineMs_ - now()) / t30::kMsPerTick + 1));
        if (kind == t30::Frame::CSI) {
            fax_.setRemoteID(t30::decodeId(frame.Fif.data(), frame.Fif.size()));
            progress(fpGotRemoteID);
        } else if (kind == t30::Frame::DIS) {
            remote_ = t30::parseDIS(frame.Fif.data(), frame.Fif.size());
            remoteCoding_ = ecm::parseCoding(frame.Fif.data(), frame.Fif.size());
            gotDIS_ = true;
            progress(fpSessionParams);
        } else if (kind == t30::Frame::DCN) {
            fail(errors::ecCancelRequested);
            return;
        }
        if (!frame.isFinal()) {
            sendCommand(at::kRxFrames, kCommandPauseMs);
            expectFrame();
            return;
        }
        afterRemoteFrames();
        break;
    case tf1WaitCFR:
        if (kind == t30::Frame::CFR) {
            rtnTraining_ = false;
            turnaround(pageCarrier(false), tf1WaitPgCn);
        } else if (kind == t30::Frame::FTT || kind == t30::Frame::RTN) {
            speed_ = t30::stepDown(own_, remote_.Speeds, speed_);
            if (speed_ == 0) {
                fail(trainingError(errors::ecFaxTrainError));
                return;
            }
            retries_ = 0;
            tcfSilence_ = false;
            turnaround(at::kTxFrames, tf1TSIRespns);
        } else if (kind == t30::Frame::DCN) {
            fail(trainingError(errors::ecCancelRequested));
        } else if (!frame.isFinal()) {
            sendCommand(at::kRxFrames, kCommandPauseMs);
            expectFrame();
        } else {
            // DIS again (our DCS was not heard), CRP or anything else final: repeat the command.
            repeatTraining();
        }
        break;
    case tf1WaitMCF: postPageAnswer(frame); break;
    default: break;
    }
}

void TClass1Sender::onFrameStart() {
    if (state() != tf1Connect || connected_) return;
    // The call is connected: phase B lasts at most T1 from here.
    connected_ = true;
    t1DeadlineMs_ = now() + t30::kT1Ticks * t30::kMsPerTick;
    setTimer(t30::kT1Ticks);
}

// Listens for the far end's frames again, while T1 lasts; without DIS by then the call failed.
void TClass1Sender::listenForDis() {
    const int64_t left = t1DeadlineMs_ - now();
    if (left <= 0) {
        fail(errors::ecFaxNoCarrier);
        return;
    }
    sendCommand(at::kRxFrames, kCommandPauseMs);
    expectFrame();
    setTimer(left / t30::kMsPerTick + 1);
}

void TClass1Sender::afterRemoteFrames() {
    if (!gotDIS_) {
        fail(errors::ecFaxBadModemResult);
        return;
    }
    if (!pages_.fitFor(remote_.Fine, remote_.Wide)) {
        fail(errors::ecFaxIncompatible);
        return;
    }
    speed_ = t30::chooseSpeed(own_, remote_.Speeds, send_.DesiredBPS);
    if (speed_ == 0) {
        fail(errors::ecFaxIncompatible);
        return;
    }
    // T.4 2-D coding (MR) needs no option: it is used whenever the far end offers it. Error
    // correction is offered as the fax asks, and T.6 (MMR) only with it.
    const bool ecmWanted = send_.DesiredECM();
    coding_ = ecm::chooseCoding({true, ecmWanted, ecmWanted, false}, remoteCoding_, false);
    retries_ = 0;
    tcfSilence_ = false;
    turnaround(at::kTxFrames, tf1SendTSI);
}

void TClass1Sender::turnaround(const std::string& cmd, int next) {
    link_.pause(t30::kSignalGapMs - kCommandPauseMs);
    command(cmd, next);
}

// DCS (with TSI) and TCF again, after T4 without an answer or after a garbled one.
void TClass1Sender::repeatTraining() {
    if (++retries_ > t30::kMaxRepeats) {
        fail(trainingError(errors::ecFatalTimeout));
        return;
    }
    tcfSilence_ = false;
    turnaround(at::kTxFrames, tf1SendTSI);
}

int TClass1Sender::trainingError(int code) const { return rtnTraining_ ? errors::ecFaxSessionError : code; }

void TClass1Sender::sendDCS() {
    const bool fine = pages_.pageFine(pageIndex_);
    const bool wide = pages_.pageWide(pageIndex_);
    std::vector<uint8_t> fif = t30::buildDCSFif(speed_, fine, wide, remote_.ScanTimeCode);
    ecm::addCoding(fif, ecm::selectedCoding(coding_));
    sendFrame(t30::fcfDCS, fif, true);
    fax_.setConnection(bps(), fine, wide, coding_.Ecm, coding_.Coding);
    goTo(tf1DCSRspns);
}

void TClass1Sender::onTimeout() {
    switch (state()) {
    case tf1Connect:
        if (!connected_) {
            // Nobody answered within the dial wait: the dial is abandoned (any character does
            // that) and, attempts left, made again later.
            abortReception();
            busyOrRetry(false);
        } else {
            abortReception();
            listenForDis();
        }
        break;
    case tfRetryWait: dial(); break;
    case tf1WaitCFR:
        // End the modem's frame reception with a single character, then repeat the command.
        abortReception();
        repeatTraining();
        break;
    case tf1WaitMCF:
        abortReception();
        repeatPostPage();
        break;
    case tf1WaitHngp:
        hangUp();
        faxDone();
        break;
    default: fail(errors::ecFatalTimeout); break;
    }
}

void TClass1Sender::onOutput() {
    if (state() == tfWaitFrHead) {
        if (link_.outFree() < kRoomNeeded) return;
        startPage();
        return;
    }
    // A modem that takes no page data (CTS held low, no result) must not hold the call
    // forever: the page timer runs while nothing moves and is renewed whenever data does.
    const size_t used = link_.outUsed();
    if ((state() == tfSendPage || state() == tfDrainPage) && used < lastOutUsed_) setTimer(t30::kPageIdleTicks);
    lastOutUsed_ = used;
    if (state() == tfSendPage) {
        pumpPage();
        return;
    }
    if (state() == tf1EcmFrames) {
        if (!ecmEnded_) sendEcmData();
        return;
    }
    if (state() == tfDrainPage && link_.outUsed() == 0) {
        wantEmpty(false);
        pagePumped();
        setTimer(kResponseTicks + lineTicksLeft(bps()));
        goTo(tf1PageEnd);
    }
}

void TClass1Sender::startPage() {
    if (!preparePage(remote_.ScanTimeCode, bps())) return;
    setTimer(t30::kPageIdleTicks);
    lastOutUsed_ = link_.outUsed();
    if (coding_.Coding == faximage::FaxCoding::MR) {
        // The page is coded again as a whole; the coder fills each line to the minimum.
        filler_.reset(0);
        std::vector<uint8_t> coded;
        if (const int rc = codePage(coded, minBytes_ * 8)) {
            fail(rc);
            return;
        }
        replacePageData(coded);
    } else {
        filler_.reset(static_cast<size_t>(minBytes_));
    }
    pageStatusRhythm();
    pumpPage();
}

void TClass1Sender::pageDataWritten(size_t) { setTimer(t30::kPageIdleTicks); }

void TClass1Sender::endPageData() {
    std::vector<uint8_t> last, out;
    filler_.flush(last);
    hdlc::escapeDle(last.data(), last.size(), out);
    out.push_back(hdlc::DLE);
    out.push_back(hdlc::ETX);
    link_.write(out.data(), out.size());
    inData_ = false;
    normalStatusRhythm();
    wantRoom(false);
    wantEmpty(true);
    goTo(tfDrainPage);
    setTimer(t30::kPageIdleTicks);
}

void TClass1Sender::pagePumped() {
    wantRoom(false);
    wantEmpty(false);
    lastPage_ = lastPage();
    sentIndex_ = pageIndex_;
    if (!lastPage_) ++pageIndex_;
    // A change of resolution needs a new DCS: end the page with EOM and return to phase B.
    const bool sameMode = lastPage_ || pages_.pageFine(pageIndex_) == pages_.pageFine(pageIndex_ - 1);
    postPageFcf_ = lastPage_ ? t30::fcfEOP : (send_.PageContinuation && sameMode ? t30::fcfMPS : t30::fcfEOM);
    retries_ = 0;
    progress(fpSendPageStatus);
}

void TClass1Sender::prepPostPage() {
    goTo(tf1PrepEOP);
    turnaround(at::kTxFrames, tf1SendEOP);
}

void TClass1Sender::repeatPostPage() {
    if (++retries_ > t30::kMaxRepeats) {
        fail(errors::ecFatalTimeout);
        return;
    }
    prepPostPage();
}

std::string TClass1Sender::pageCarrier(bool longTraining) const {
    return at::txData(longTraining ? t30::longTrainCode(speed_) : t30::shortTrainCode(speed_));
}

void TClass1Sender::pageArrived(bool retrain) {
    rtnCount_ = 0;
    ++confirmed_;
    fax_.setPagesConfirmed(confirmed_);
    progress(fpPageOK);
    if (lastPage_) {
        turnaround(at::kTxFrames, tf1SendDCN);
    } else if (postPageFcf_ == t30::fcfEOM) {
        awaitPhaseB();
    } else if (retrain) {
        tcfSilence_ = false;
        turnaround(at::kTxFrames, tf1TSIRespns);
    } else {
        // T.30: pages after the first are sent with the short training of the same modem.
        turnaround(pageCarrier(false), tf1WaitPgCn);
    }
}

void TClass1Sender::postPageAnswer(const hdlc::TFrame& frame) {
    if (coding_.Ecm) {
        ecmAnswer(frame);
        return;
    }
    const t30::Frame kind = t30::classify(frame.Fcf);
    if (kind == t30::Frame::MCF || kind == t30::Frame::RTP) {
        // The page has arrived (RTP: and the line wants retraining before the next one).
        pageArrived(kind == t30::Frame::RTP);
    } else if (kind == t30::Frame::RTN) {
        // The page did not arrive in a usable state: train again (DCS and TCF, falling back on
        // FTT) and send the same page again, at most kMaxPageResends times.
        progress(fpPageError);
        if (++rtnCount_ > kMaxPageResends) {
            fail(errors::ecFaxSessionError);
            return;
        }
        pageIndex_ = sentIndex_;
        if (postPageFcf_ == t30::fcfEOM) {
            awaitPhaseB();
        } else {
            rtnTraining_ = true;
            tcfSilence_ = false;
            retries_ = 0;
            turnaround(at::kTxFrames, tf1TSIRespns);
        }
    } else if (kind == t30::Frame::DCN) {
        fail(errors::ecCancelRequested);
    } else {
        repeatPostPage();
    }
}

// After EOM: back to phase B, where the far end's DIS may take a while (T1).
void TClass1Sender::awaitPhaseB() {
    gotDIS_ = false;
    t1DeadlineMs_ = now() + t30::kT1Ticks * t30::kMsPerTick;
    awaitFrame(tf1Connect, t30::kT1Ticks);
}

// CONNECT for page data: a new page is read and coded and its first block cut; then the
// frames of this transmission go out as one bit stream.
void TClass1Sender::ecmBlockConnected() {
    pageDataProgress();
    if (ecmNewPage_) {
        goTo(tfWaitFrHead);
        if (!preparePage(0, bps())) return;
        ecmPagePos_ = 0;
        if (const int rc = codePage(ecmPage_, 0)) {
            fail(rc);
            return;
        }
        ecmNewPage_ = false;
        ecmPageOut_ = false;
        ecmPageNo_ = static_cast<int>(pageIndex_);
        splitter_.beginPage(coding_.FrameSize);
        fillEcmBlock();
    }
    // Flags for about 200 ms let the far end's HDLC receiver settle after the training; each
    // frame is closed by a flag of its own.
    hdlc::THdlcEncoder bits;
    bits.addFlags(static_cast<int>(bps() / 40));
    const auto body = [](uint8_t fcf, const std::vector<uint8_t>& fif) {
        std::vector<uint8_t> b{t30::kAddress, t30::ctlNotFinal, fcf};
        b.insert(b.end(), fif.begin(), fif.end());
        return b;
    };
    for (int frame : ecmFrames_) bits.addFrame(body(ecm::fcfFCD, splitter_.fcdFif(frame)));
    for (int i = 0; i < kRcpFrames; ++i) bits.addFrame(body(ecm::fcfRCP, {}));
    bits.addFlags(2);
    const std::vector<uint8_t> stream = bits.bytes();
    ecmTx_.clear();
    hdlc::escapeDle(stream.data(), stream.size(), ecmTx_);
    ecmTxPos_ = 0;
    ecmEnded_ = false;
    inData_ = true;
    dataConnected();
    // The whole block may sit in the tty and the modem long before it is on the line: the
    // wait for the modem's OK after DLE ETX counts from the line time of all of it.
    dataQueued(stream.size());
    goTo(tf1EcmFrames);
    wantRoom(true);
    setTimer(t30::kPageIdleTicks);
    onOutput();
}

int TClass1Sender::codePage(std::vector<uint8_t>& out, int minLineBits) {
    std::vector<uint8_t> mh;
    if (const int rc = wholePageData(mh)) return rc;
    out.clear();
    if (coding_.Coding == faximage::FaxCoding::MH) {
        out = std::move(mh);
        return 0;
    }
    const bool fine = pages_.pageFine(pageIndex_);
    TPageRecoder recoder(coding_.Coding, pages_.pageWide(pageIndex_) ? 2048 : 1728, faximage::kFactor(fine),
                         minLineBits, out);
    faximage::FaxLineDecoder decoder(&recoder);
    decoder.feed(mh.data(), mh.size());
    decoder.finish();
    recoder.end();
    return 0;
}

// The next block of the page, with every one of its frames to go out.
void TClass1Sender::fillEcmBlock() {
    while (!splitter_.full() && ecmPagePos_ < ecmPage_.size())
        ecmPagePos_ += splitter_.append(ecmPage_.data() + ecmPagePos_, ecmPage_.size() - ecmPagePos_);
    if (ecmPagePos_ == ecmPage_.size()) splitter_.endPage();
    ecmFrames_.clear();
    for (int f = 0; f < splitter_.frameCount(); ++f) ecmFrames_.push_back(f);
}

// Hands the block's bit stream to the modem while it has room; DLE ETX after the last of it,
// then the modem's OK says the carrier has ended.
void TClass1Sender::sendEcmData() {
    while (ecmTxPos_ < ecmTx_.size()) {
        const size_t room = link_.outFree();
        if (room < kRoomNeeded) return;
        const size_t n = std::min(room - kRoomNeeded / 2, ecmTx_.size() - ecmTxPos_);
        if (!link_.write(ecmTx_.data() + ecmTxPos_, n)) {
            fail(-160);
            return;
        }
        ecmTxPos_ += n;
        setTimer(t30::kPageIdleTicks);
    }
    const uint8_t end[2] = {hdlc::DLE, hdlc::ETX};
    link_.write(end, 2);
    inData_ = false;
    ecmEnded_ = true;
    wantRoom(false);
    setTimer(kResponseTicks + lineTicksLeft(bps()));
}

void TClass1Sender::tf1EcmFramesLine(TResult r) {
    if (r == TResult::Ok && ecmEnded_) ecmBlockSent();
}

// The block is out: PPS names its page, block and frame count, and the page's post-page
// command when it is the page's last block (NULL otherwise).
void TClass1Sender::ecmBlockSent() {
    if (splitter_.lastBlock() && !ecmPageOut_) {
        ecmPageOut_ = true;
        pagePumped();
    }
    ecmBlockCommand_ = ecm::PostPage::Null;
    if (splitter_.lastBlock()) ecm::parsePostPage(static_cast<uint8_t>(postPageFcf_), ecmBlockCommand_);
    sendEcmCommand(ecm::buildPps(
        {ecmBlockCommand_, ecmPageNo_ & 0xFF, splitter_.blockNumber() & 0xFF, splitter_.frameCount()}, true));
}

void TClass1Sender::sendEcmCommand(ecm::Content command) {
    command_ = std::move(command);
    retries_ = 0;
    prepPostPage();
}

void TClass1Sender::ecmAnswer(const hdlc::TFrame& frame) {
    const ecm::Frame kind = ecm::classify(frame.Fcf);
    const t30::Frame basic = t30::classify(frame.Fcf);
    if (kind != ecm::Frame::RNR) rnrSinceMs_ = -1;
    if (basic == t30::Frame::MCF || kind == ecm::Frame::ERR) {
        ecmBlockDone();
    } else if (kind == ecm::Frame::PPR) {
        ecm::TFrameMap missing;
        if (!ecm::parsePpr(frame.Fif.data(), frame.Fif.size(), missing)) {
            repeatPostPage();
            return;
        }
        // Only frames of the block: a receiver may set the bits past its last frame too.
        ecmFrames_.clear();
        for (int f : missing.frames())
            if (f < splitter_.frameCount()) ecmFrames_.push_back(f);
        if (++pprCount_ < kPprsBeforeCtc) {
            turnaround(pageCarrier(false), tf1WaitPgCn);
            return;
        }
        // The fourth PPR: go on one speed lower, or give the block up when none is left.
        pprCount_ = 0;
        ctcSpeed_ = t30::stepDown(own_, remote_.Speeds, speed_);
        if (ctcSpeed_ != 0) {
            sendEcmCommand(ecm::buildCtc(ctcSpeed_, true));
        } else {
            progress(fpPageError);
            sendEcmCommand(ecm::buildEor(ecmBlockCommand_, true));
        }
    } else if (kind == ecm::Frame::CTR) {
        speed_ = ctcSpeed_;
        fax_.setConnection(bps(), fax_.highResolution(), fax_.pageWidth() == 2048, true, coding_.Coding);
        turnaround(pageCarrier(true), tf1WaitPgCn);
    } else if (kind == ecm::Frame::RNR) {
        // The far end is busy with the block: asked again with RR until T5 runs out.
        if (rnrSinceMs_ < 0) rnrSinceMs_ = now();
        if (now() - rnrSinceMs_ > t30::kT5Ticks * t30::kMsPerTick) {
            fail(errors::ecFatalTimeout);
            return;
        }
        sendEcmCommand(ecm::buildSimple(ecm::Frame::RR, true));
    } else if (basic == t30::Frame::DCN) {
        fail(errors::ecCancelRequested);
    } else {
        repeatPostPage();
    }
}

// The block has arrived (or was given up with EOR): the next block, or the page is done.
void TClass1Sender::ecmBlockDone() {
    pprCount_ = 0;
    if (!splitter_.lastBlock()) {
        splitter_.nextBlock();
        fillEcmBlock();
        turnaround(pageCarrier(false), tf1WaitPgCn);
        return;
    }
    ecmNewPage_ = true;
    pageArrived(false);
}

}  // namespace telvane::transport
