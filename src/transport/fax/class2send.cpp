// The Class 2 / 2.0 send machine: select class, local ID, flow control (XON/XOFF where the
// modem offers it), the session parameters within the modem's ranges, dial, the negotiation
// reports, "AT+FDT" and page data (header line, text cover, file pages with the minimum line
// length) paced by the modem's flow control, the page-end codes, "AT+FET=" or the Class 2.0
// page check, the page transfer status with retransmission, resolution changes between pages,
// then the next fax.

#include <algorithm>

#include "transport/fax/class2.h"
#include "transport/fax/faxsession.h"
#include "transport/fax/t30timers.h"

namespace telvane::transport {

namespace {
constexpr int64_t kResponseTicks = t30::kT3Ticks;
// After "AT+FDT": the modem negotiates (and may train again) before its CONNECT.
constexpr int64_t kFdtTicks = t30::ticksFromMs(30000);
// The answer to a page's end comes once the modem has put the page on the line and exchanged
// the post-page command (with repetitions and a retrain); at least this long.
constexpr int64_t kPageEndFloorTicks = t30::ticksFromMs(180000);
constexpr int64_t kPageEndExtraTicks = t30::ticksFromMs(60000);
constexpr uint8_t kXon = 0x11;

// Besides those of every sender: the class, local ID, flow control and session set-up, the
// dial and the modem's negotiation, XON, the page end with its status (Class 2: DLE ETX and
// AT+FET=; Class 2.0: the page check), retransmission and new session parameters between pages.
constexpr TStateEdges kClass2SendEdges[] = {
    {tfNone, states({tfInit})},
    {tfInit, states({tfGetEntry, tf2Init1})},
    {tfGetEntry, states({tfInit})},
    {tf2Init1, states({tf2Init1A})},
    {tf2Init1A, states({tf2Init1B, tf2Init2})},
    {tf2Init1B, states({tf2Init2})},
    {tf2Init2, states({tf2Init3})},
    {tf2Init3, states({tfDial})},
    {tfDial, states({tf2Connect})},
    {tf2Connect, states({tfRetryWait, tf2GetParams})},
    {tf2GetParams, states({tfWaitXon, tfWaitFrHead})},
    {tfWaitXon, states({tfWaitFrHead})},
    {tfSendPage, states({tf2SendEOP, tf20ChckPg})},
    {tf2SendEOP, states({tf2WaitFPTS, tf2WaitFET})},
    {tf2WaitFPTS, states({tf2WaitFET})},
    {tf2WaitFET, states({tfClose, tf2SndNwPrm, tf2NextPage, tf2WaitPgOK})},
    {tf20ChckPg, states({tfClose, tf2SndNwPrm, tf2NextPage, tf2WaitPgOK})},
    {tf2WaitPgOK, states({tf2GetParams})},
    {tf2SndNwPrm, states({tf2GetParams})},
    {tf2NextPage, states({tf2GetParams})},
};
constexpr TStateChanges kClass2SendChanges{kSendSharedEdges, kClass2SendEdges, tfAbort, tfDone};

}  // namespace

TClass2Sender::TClass2Sender(TOvxCustomSendFax& fax, TFaxLink& link, TFaxClass cls)
    : TFaxSender(fax, link), cls_(cls), names_(class2Names(cls)) {}

TClass2Sender::~TClass2Sender() = default;

const TStateChanges& TClass2Sender::stateChanges() const { return kClass2SendChanges; }

void TClass2Sender::onStart() {
    progress(fpInitModem);
    link_.setBaud(19200);
    link_.setDTR(true);
    link_.setRTS(true);
    if (send_.SoftwareFlow) link_.setSoftwareFlow(false);
    fax_.setSessionClass(cls_);
    startUp();
}

void TClass2Sender::startUp() {
    goTo(tfInit);
    runScript(firstStartSteps(send_.defaultInit()), [this](int rc, const std::vector<std::string>&) {
        if (rc != 0) {
            fail(rc);
            return;
        }
        send_.markInitDone();
        if (send_.InitBaud) link_.setBaud(send_.InitBaud);
        getEntry();
    });
}

void TClass2Sender::command(const std::string& cmd, int next, int64_t ticks) {
    sendCommand(cmd);
    setTimer(ticks);
    goTo(next);
}

void TClass2Sender::newFax() {
    fax_.setHangupCode("");
    confirmed_ = 0;
    fax_.setPagesConfirmed(0);
}

// The pages are checked; then the modem is set up for the call, one command after another.
void TClass2Sender::startFax() {
    if (!checkPages()) return;
    goTo(tfInit);
    progress(fpInitModem);
    hungUp_ = false;
    flowReply_.clear();
    rangesReply_.clear();
    const std::string session = "AT+F" + names_.SessionCmd;
    steps_ = {
        {tf2Init1, false, [this] { return "AT+F" + names_.SelectClass; }, nullptr},
        {tf2Init1, false, [this] { return "AT+F" + names_.LocalIdCmd + "=\"" + send_.StationID() + "\""; }, nullptr},
        {tf2Init1A, true, [] { return std::string("AT+FLO=?"); }, [this](const std::string& r) { flowReply_ = r; }},
        // XON/XOFF works on every link (a pseudo-terminal has no CTS); Class 2.0 names RTS/CTS as
        // its default when the modem says nothing of its choices.
        {tf2Init1A, !is20(),
         [this] {
             if (rangeOffers(flowReply_, 1)) return std::string("AT+FLO=1");
             if (rangeOffers(flowReply_, 2) || is20()) return std::string("AT+FLO=2");
             return std::string();
         },
         nullptr},
        {tf2Init1B, false, [this] { return is20() ? std::string("AT+FNR=1,1,1,0") : std::string(); }, nullptr},
        {tf2Init2, true, [session] { return session + "=?"; }, [this](const std::string& r) { rangesReply_ = r; }},
        {tf2Init3, false, [this, session] { return session + "=" + sessionParams(0); }, nullptr},
    };
    step_ = 0;
    nextStep();
}

// The session parameters for page `index`, within what the modem offers: a modem that cannot
// do the desired rate or error correction is asked for the best it has, not refused.
std::string TClass2Sender::sessionParams(size_t index) const {
    char bps = send_.desiredBPSDigit();
    bool ecm = send_.DesiredECM();
    parseClass2Ranges(rangesReply_).clamp(bps, ecm);
    return class2SessionParams(pages_.pageFine(index), bps, pages_.pageWide(index), ecm);
}

void TClass2Sender::nextStep() {
    while (step_ < steps_.size()) {
        const std::string cmd = steps_[step_].MakeCommand();
        if (!cmd.empty()) {
            reply_.clear();
            command(cmd, steps_[step_].State);
            return;
        }
        ++step_;
    }
    dial();
}

// One set-up command answered (tf2Init1 .. tf2Init3): information lines are its reply; OK goes
// on; ERROR fails the set-up unless the command was only a question.
void TClass2Sender::initLine(TResult r, const std::string& line) {
    const TStep& s = steps_[step_];
    if (r == TResult::None) {
        if (!reply_.empty()) reply_ += ',';
        reply_ += line;
        return;
    }
    if (r != TResult::Ok && !(r == TResult::Error && s.Optional)) {
        fail(errors::ecFaxInitError);
        return;
    }
    if (s.TakeReply) s.TakeReply(r == TResult::Ok ? reply_ : std::string());
    ++step_;
    nextStep();
}

void TClass2Sender::dial() {
    goTo(tfDial);
    progress(fpDialing);
    fdtSent_ = false;
    remote_ = {};
    sendCommand(std::string(send_.ToneDial ? "ATDT" : "ATDP") + send_.DialPrefix() + number_);
    setTimer(send_.dialWaitTicks());
    goTo(tf2Connect);
}

void TClass2Sender::fail(int code) {
    abortCode_ = 0;  // an abort awaiting its answer is over
    link_.setOutputFlow(false);
    TFaxSender::fail(code);
}

void TClass2Sender::sendFDT() {
    fdtSent_ = true;
    sendCommand("AT+FDT");
    setTimer(kFdtTicks);
    goTo(tf2GetParams);
}

// Negotiation and status reports ("+F..."), whatever the state they arrive in.
void TClass2Sender::report(const std::string& line) {
    if (isClass2Report(line, names_.Hangup)) {
        fax_.setHangupCode(class2HangupCode(line));
        hungUp_ = true;
        switch (state()) {
        case tf2WaitFET:
        case tf2WaitFPTS:
        case tf20ChckPg:
        case tf2WaitPgOK:
            // The modem ends the call after the last page (or after giving up): the OK that
            // follows decides.
            return;
        default: fail(errors::ecFaxHungUp); return;
        }
    }
    if (isClass2Report(line, names_.Connect)) {
        if (state() == tf2Connect) {
            setTimer(kResponseTicks);
            goTo(tf2GetParams);
        }
        return;
    }
    if (isClass2Report(line, names_.RemoteCaps)) {
        remote_ = parseClass2Params(line);
        if (!pages_.fitFor(remote_.Fine, remote_.Wide)) {
            fail(errors::ecFaxIncompatible);
            return;
        }
        progress(fpSessionParams);
        return;
    }
    if (isClass2Report(line, names_.CalledId)) {
        fax_.setRemoteID(cleanClass2Id(line));
        progress(fpGotRemoteID);
        return;
    }
    if (isClass2Report(line, names_.Negotiated)) {
        session_ = parseClass2Params(line);
        fax_.setConnection(session_.Bps, session_.Fine, session_.Wide, session_.Ecm);
        progress(fpSessionParams);
        return;
    }
    if (isClass2Report(line, names_.PageStatus)) {
        const std::string v = reportValue(line);
        lastStatus_ = v.empty() ? '?' : v[0];
        if (state() == tf2WaitFET) {
            if (lastStatus_ == '1' || lastStatus_ == '3')
                pageAccepted();
            else if (lastStatus_ == '2')
                pageRejected();
            else if (lastStatus_ == '4' || lastStatus_ == '5')
                fail(errors::ecCancelRequested);
            else
                fail(errors::ecFaxPageError);
        }
        return;
    }
    // Other reports (+FNSF, +FCFR, +FPOLL, +FET...) tell nothing this machine needs.
}

void TClass2Sender::onLine(TResult r, const std::string& line) {
    if (abortCode_ != 0) {
        if (r == TResult::Ok || r == TResult::Error || r == TResult::NoCarrier) fail(abortCode_);
        return;
    }
    if (isClass2ReportLine(line)) {
        report(line);
        return;
    }
    // CONNECT means something only in answer to "AT+FDT"; a modem that also prints it when the
    // call is made (or elsewhere) is not taken for a failure.
    if (r == TResult::Connect && !(state() == tf2GetParams && fdtSent_)) return;
    switch (state()) {
    case tf2Init1:
    case tf2Init1A:
    case tf2Init1B:
    case tf2Init2:
    case tf2Init3: initLine(r, line); return;
    default: break;
    }
    if (r == TResult::None) {
        // In the page check of Class 2.0 only OK, ERROR and reports may come.
        if (state() == tf20ChckPg || state() == tf2WaitFET) fail(errors::ecFaxPageError);
        return;
    }
    switch (state()) {
    case tf2Connect: tf2ConnectLine(r); break;
    case tf2GetParams: tf2GetParamsLine(r); break;
    case tf2SndNwPrm: tf2SndNwPrmLine(r); break;
    case tf2SendEOP:
    case tf2WaitFPTS: tf2SendEOPLine(r); break;
    case tf2WaitFET: tf2WaitFETLine(r); break;
    case tf20ChckPg: tf20ChckPgLine(r); break;
    case tf2WaitPgOK: tf2WaitPgOKLine(r); break;
    default:
        if (r == TResult::Error) fail(errors::ecFaxBadModemResult);
        break;
    }
}

void TClass2Sender::tf2ConnectLine(TResult r) {
    if (dialFailed(r)) return;
    if (r == TResult::NoCarrier)
        // Nobody answered (many modems say NO CARRIER then): dialled again while attempts last.
        busyOrRetry(false);
    else if (r == TResult::Ok)
        // Some modems confirm the negotiation without a connection report first.
        sendFDT();
    else
        fail(errors::ecFaxBadModemResult);
}

void TClass2Sender::tf2GetParamsLine(TResult r) {
    if (r == TResult::Ok && !fdtSent_)
        sendFDT();
    else if (r == TResult::Connect && fdtSent_)
        beginData();
    else if (r == TResult::NoCarrier)
        fail(errors::ecFaxSessionError);
    else
        fail(errors::ecFaxBadModemResult);
}

void TClass2Sender::tf2SndNwPrmLine(TResult r) {
    if (r == TResult::Ok)
        sendFDT();
    else
        fail(errors::ecFaxBadModemResult);
}

// Class 2, in tf2SendEOP or tf2WaitFPTS: OK after DLE ETX, then the post-page message.
void TClass2Sender::tf2SendEOPLine(TResult r) {
    link_.setOutputFlow(false);
    if (r != TResult::Ok) {
        fail(errors::ecFaxPageError);
        return;
    }
    const bool last = lastPage();
    const bool sameRes = !last && pages_.pageFine(pageIndex_ + 1) == pages_.pageFine(pageIndex_);
    lastStatus_ = 0;
    command(std::string("AT+FET=") + (last ? "2" : sameRes ? "0" : "1"), tf2WaitFET, pageEndTicks());
}

// The status report came before: OK goes on with the next page or the retry.
void TClass2Sender::tf2WaitFETLine(TResult r) {
    if (r != TResult::Ok || lastStatus_ == 0)
        fail(errors::ecFaxPageError);
    else if (pageGood_)
        afterPageOk();
    else
        retransmit();
}

void TClass2Sender::tf20ChckPgLine(TResult r) {
    link_.setOutputFlow(false);
    if (r == TResult::Ok) {
        if (lastStatus_ == '2') {
            pageRejected();
            retransmit();
        } else {
            pageAccepted();
            afterPageOk();
        }
    } else if (r == TResult::Error) {
        pageRejected();
        command("AT+FPS?", tf2WaitPgOK);
    } else {
        fail(errors::ecFaxPageError);
    }
}

void TClass2Sender::tf2WaitPgOKLine(TResult r) {
    if (r == TResult::Ok)
        retransmit();
    else
        fail(errors::ecFaxSessionError);
}

bool TClass2Sender::onByte(uint8_t c) {
    if (state() == tfWaitXon && c == kXon) {
        stopTimer();
        startData();
        return true;
    }
    return false;
}

void TClass2Sender::beginData() {
    // Class 2 sends XON when it is ready for data; Class 2.0 takes data at once.
    if (is20()) {
        startData();
    } else {
        goTo(tfWaitXon);
        setTimer(18);
    }
}

// The modem takes page data: from here its XOFF and XON pace our output, and the page is given
// up when nothing moves for the page timer.
void TClass2Sender::startData() {
    link_.setOutputFlow(true);
    dataConnected();
    goTo(tfWaitFrHead);
    setTimer(t30::kPageIdleTicks);
    wantRoom(true);
    onOutput();
}

void TClass2Sender::onTimeout() {
    if (abortCode_ != 0) {
        fail(abortCode_);
        return;
    }
    switch (state()) {
    case tf2Connect:
        // Nobody answered within the dial wait: the dial is abandoned and made again later.
        abortReception();
        busyOrRetry(false);
        break;
    case tfRetryWait: dial(); break;
    case tfWaitXon:
        // A modem that never sends XON gets its data after 18 ticks anyway.
        startData();
        break;
    case tf2WaitFET:
    case tf20ChckPg:
    case tf2SendEOP:
    case tf2WaitFPTS: fail(errors::ecFaxPageError); break;
    default: fail(errors::ecFatalTimeout); break;
    }
}

void TClass2Sender::onOutput() {
    if (state() == tfWaitFrHead) {
        if (link_.outFree() < kRoomNeeded) return;
        startPage();
        return;
    }
    // A modem that stops taking data (XOFF without XON, CTS held low) must not hold the call:
    // the page timer runs while nothing moves and is renewed whenever data does.
    const size_t used = link_.outUsed();
    if (state() == tfSendPage && used < lastOutUsed_) setTimer(t30::kPageIdleTicks);
    lastOutUsed_ = used;
    if (state() == tfSendPage) {
        pumpPage();
        return;
    }
    if (state() == tf2SendEOP && used == 0) {
        wantEmpty(false);
        if (!is20()) goTo(tf2WaitFPTS);
    }
}

void TClass2Sender::startPage() {
    pageDataProgress();
    if (!preparePage(session_.ScanCode, sessionBps())) return;
    filler_.reset(static_cast<size_t>(minBytes_));
    lastOutUsed_ = link_.outUsed();
    setTimer(t30::kPageIdleTicks);
    pageStatusRhythm();
    pumpPage();
}

void TClass2Sender::pageDataWritten(size_t) { setTimer(t30::kPageIdleTicks); }

// The answer to a page's end: the line time of what the modem still holds, and then some,
// never less than the floor.
int64_t TClass2Sender::pageEndTicks() {
    return std::max(kPageEndFloorTicks, lineTicksLeft(sessionBps()) + kPageEndExtraTicks);
}

void TClass2Sender::endPageData() {
    uint8_t end[2] = {hdlc::DLE, hdlc::ETX};
    if (is20()) {
        const bool last = lastPage();
        end[1] = last ? '.' : pages_.pageFine(pageIndex_ + 1) == pages_.pageFine(pageIndex_) ? ',' : ';';
    }
    std::vector<uint8_t> last, out;
    filler_.flush(last);
    hdlc::escapeDle(last.data(), last.size(), out);
    out.insert(out.end(), end, end + 2);
    link_.write(out.data(), out.size());
    inData_ = false;
    normalStatusRhythm();
    wantRoom(false);
    progress(fpSendPageStatus);
    lastStatus_ = 0;
    pageGood_ = false;
    if (is20()) {
        goTo(tf20ChckPg);
    } else {
        goTo(tf2SendEOP);
        wantEmpty(true);
    }
    setTimer(pageEndTicks());
}

void TClass2Sender::pageAccepted() {
    pageGood_ = true;
    ++confirmed_;
    fax_.setPagesConfirmed(confirmed_);
    progress(fpPageOK);
}

void TClass2Sender::pageRejected() {
    pageGood_ = false;
    progress(fpPageError);
}

void TClass2Sender::afterPageOk() {
    retries_ = 0;
    if (lastPage()) {
        faxDone();
        return;
    }
    if (hungUp_) {
        // The modem ended the call although pages are left.
        fail(errors::ecFaxHungUp);
        return;
    }
    const bool change = pages_.pageFine(pageIndex_ + 1) != pages_.pageFine(pageIndex_);
    ++pageIndex_;
    fax_.setBytes(0, 0);
    if (change) {
        command("AT+F" + names_.SessionCmd + "=" + (pages_.pageFine(pageIndex_) ? "1" : "0"), tf2SndNwPrm);
        return;
    }
    goTo(tf2NextPage);
    link_.pause(5 * 55);
    sendFDT();
}

void TClass2Sender::retransmit() {
    goTo(tf2WaitPgOK);
    if (++retries_ > 2) {
        // Abort the session; the error follows the modem's answer (a hang-up flushes output).
        abortCode_ = errors::ecFaxSessionError;
        command("AT+F" + names_.Abort, tf2WaitPgOK);
        return;
    }
    if (hungUp_) {
        // A rejected page after which the modem hung up cannot be sent again.
        fail(errors::ecFaxSessionError);
        return;
    }
    // StartPage reads the page (or renders the cover) again from its beginning.
    sendFDT();
}

}  // namespace telvane::transport
