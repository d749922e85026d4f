// The Class 2 / 2.0 receive machine: select class, enable receiving, local ID, answer mode,
// the bit order of page data and the capabilities within the modem's ranges; rings and "ATA";
// the connection report, the sender's ID (with the accept question) and the negotiated
// parameters; "AT+FDR", DC2 and page data (read in whichever bit order the modem uses, judged as
// it arrives); the page transfer status and the post-page report; every page of the call into
// one fax file; the hang-up report; then the next call or the end.
#include "transport/fax/class2.h"
#include "transport/fax/faxsession.h"
#include "transport/fax/t30timers.h"

namespace telvane::transport {

namespace {
constexpr int64_t kResponseTicks = t30::kT3Ticks;
constexpr int64_t kAnswerTicks = t30::kT5Ticks;
constexpr uint8_t kDc2 = 0x12;
// "ERROR" in place of a page's status this many times in a row ends the call.
constexpr int kMaxPageErrors = 3;

// Besides those of every receiver: the set-up steps, the answer and the modem's connection
// report, the sender's ID, each page with its status, the hang-up report.
constexpr TStateEdges kClass2ReceiveEdges[] = {
    {rfNone, states({rfInit})},
    {rfInit, states({rf2Init1})},
    {rf2Init1, states({rf2Init1A, rf2Init3})},
    {rf2Init1A, states({rf2Init1B})},
    {rf2Init1B, states({rf2Init3})},
    {rf2Init3, states({rfWaiting})},
    {rfAnswer, states({rf2ValCnnct, rf2GtSndID})},
    {rf2ValCnnct, states({rf2GtSndID})},
    {rf2GtSndID, states({rf2GtCnnct})},
    {rf2GtCnnct, states({rfStartPage, rf2GetFHNG})},
    {rfGtPgDta, states({rf2GtPgRslt})},
    {rf2GtPgRslt, states({rf2GtCnnct, rf2GetFHNG})},
    {rf2GetFHNG, states({rfComplete})},
};
constexpr TStateChanges kClass2ReceiveChanges{kReceiveSharedEdges, kClass2ReceiveEdges, rfAbort, rfDone};

}  // namespace

TClass2Receiver::TClass2Receiver(TOvxCustomReceiveFax& fax, TFaxLink& link, TFaxClass cls)
    : TFaxReceiver(fax, link), cls_(cls), names_(class2Names(cls)) {}

const TStateChanges& TClass2Receiver::stateChanges() const { return kClass2ReceiveChanges; }

void TClass2Receiver::onStart() {
    progress(fpInitModem);
    if (recv_.SoftwareFlow) link_.setSoftwareFlow(false);
    if (recv_.InitBaud) link_.setBaud(recv_.InitBaud);
    fax_.setSessionClass(cls_);
    startUp();
}

void TClass2Receiver::startUp() {
    goTo(rfInit);
    runScript(firstStartSteps(defaultInitString(true, false)), [this](int rc, const std::vector<std::string>&) {
        if (rc != 0) {
            fail(rc);
            return;
        }
        recv_.markInitDone();
        initCall();
    });
}

void TClass2Receiver::command(const std::string& cmd, int next, int64_t ticks) {
    sendCommand(cmd);
    setTimer(ticks);
    goTo(next);
}

void TClass2Receiver::initCall() {
    goTo(rfInit);
    rings_ = 0;
    accepted_ = false;
    pages_ = 0;
    pageErrors_ = 0;
    lastPage_ = false;
    refusing_ = false;
    dcs_ = {};
    fax_.setRemoteID("");
    fax_.setHangupCode("");
    fax_.setPageInfo(0, 0);
    fax_.setPagesConfirmed(0);
    fax_.setBytes(0, 0);
    link_.setDTR(true);
    link_.setRTS(true);
    rangesReply_.clear();
    const std::string caps = "AT+F" + names_.CapabilitiesCmd;
    // Page data in the direct bit order (the T.4 order of Class 1) is asked for; a modem that
    // cannot or does not comply is read right all the same (TBitOrder).
    steps_ = {{rfInit, false, "AT+F" + names_.SelectClass},
              {rfInit, false, "AT+FCR=1"},
              {rfInit, false, "AT+F" + names_.LocalIdCmd + "=\"" + recv_.StationID() + "\""},
              {rfInit, false, std::string("AT+FAA=") + (recv_.FaxAndData ? "1" : "0")},
              {rfInit, true, "AT+F" + names_.BitOrder + "=0"},
              {rf2Init1, true, caps + "=?"},
              {rf2Init1, false, ""}};
    if (is20()) {
        steps_.push_back({rf2Init1A, false, "AT+FLO=2"});
        steps_.push_back({rf2Init1B, false, "AT+FNR=1,1,1,0"});
    }
    step_ = 0;
    nextInitStep();
}

// The capabilities: fine, 1728 pels, the desired rate and error correction as far as the
// modem offers them (asked with "=?" just before).
std::string TClass2Receiver::capabilities() const {
    char bps = recv_.desiredBPSDigit();
    bool ecm = recv_.DesiredECM();
    parseClass2Ranges(rangesReply_).clamp(bps, ecm);
    return "AT+F" + names_.CapabilitiesCmd + "=1," + std::string(1, bps) + ",0,2,0," + (ecm ? "1" : "0") + ",0,0";
}

void TClass2Receiver::nextInitStep() {
    if (step_ >= steps_.size()) {
        goTo(rf2Init3);
        waitForCall();
        return;
    }
    const TStep& s = steps_[step_];
    reply_.clear();
    command(s.Command.empty() ? this->capabilities() : s.Command, s.State);
}

void TClass2Receiver::fail(int code) {
    abortCode_ = 0;  // an abort awaiting its answer is over
    TFaxReceiver::fail(code);
}

void TClass2Receiver::callFailed(TResult r) {
    if (r == TResult::Error)
        fail(errors::ecFaxBadModemResult);
    else if (r == TResult::NoCarrier)
        fail(errors::ecFaxSessionError);
}

void TClass2Receiver::report(const std::string& line) {
    if (isClass2Report(line, names_.Hangup)) {
        fax_.setHangupCode(class2HangupCode(line));
        if (state() == rf2GetFHNG) {
            progress(fpGotHangup);
            return;
        }
        // The call ended before the sender's last page: what was confirmed stays (Fail).
        fail(errors::ecFaxHungUp);
        return;
    }
    if (isClass2Report(line, names_.Connect)) {
        if (state() == rf2ValCnnct || state() == rfAnswer) {
            progress(fpIncoming);
            setTimer(kAnswerTicks);
            goTo(rf2GtSndID);
        }
        return;
    }
    if (isClass2Report(line, names_.TransmitId)) {
        fax_.setRemoteID(cleanClass2Id(line));
        progress(fpGotRemoteID);
        Accept();
        return;
    }
    if (isClass2Report(line, names_.Negotiated)) {
        dcs_ = parseClass2Params(line);
        fax_.setConnection(dcs_.Bps, dcs_.Fine, dcs_.Wide, dcs_.Ecm);
        progress(fpSessionParams);
        return;
    }
    if (isClass2Report(line, names_.PageStatus)) {
        if (state() == rf2GtPgRslt) {
            const std::string v = reportValue(line);
            status_ = v.empty() ? '?' : v[0];
            progress(fpGetPageResult);
        }
        return;
    }
    if (isClass2Report(line, "ET")) {
        if (state() == rf2GtPgRslt) {
            const std::string v = reportValue(line);
            // 3, 4 and 5 are the procedure-interrupt forms of 0, 1 and 2: the interrupt
            // itself is not offered to anyone, the pages are handled alike.
            const char d = v.empty() ? '?' : v[0];
            postPage_ = d == '3' ? '0' : d == '4' ? '1' : d == '5' ? '2' : d;
            progress(fpCheckMorePages);
        }
        return;
    }
    // Other reports (+FCFR, +FNSS, +FHR...) tell nothing this machine needs.
}

// The call is refused: the abort command, and the error once the modem has answered it (a
// hang-up would flush the command from the output buffer).
void TClass2Receiver::reject() {
    abortCode_ = errors::ecFileRejected;
    sendCommand("AT+F" + names_.Abort);
    setTimer(kResponseTicks);
}

void TClass2Receiver::answer() {
    progress(fpAnswer);
    goTo(rfAnswer);
    command("ATA", rf2ValCnnct, kAnswerTicks);
}

void TClass2Receiver::onLine(TResult r, const std::string& line) {
    if (abortCode_ != 0) {
        if (r == TResult::Ok || r == TResult::Error || r == TResult::NoCarrier) fail(abortCode_);
        return;
    }
    if (isClass2ReportLine(line) && state() != rfWaiting) {
        report(line);
        return;
    }
    // CONNECT means page data after "AT+FDR", and a data call while waiting (or after answering
    // with data calls allowed); elsewhere a modem's stray CONNECT is passed over.
    if (r == TResult::Connect && state() != rf2GtCnnct && state() != rfWaiting &&
        !(recv_.FaxAndData && (state() == rfAnswer || state() == rf2ValCnnct)))
        return;
    switch (state()) {
    case rfInit:
    case rf2Init1:
    case rf2Init1A:
    case rf2Init1B: rfInitLine(r, line); break;
    case rfWaiting: ringLine(r); break;
    case rfAnswer:
    case rf2ValCnnct: rf2ValCnnctLine(r); break;
    case rf2GtSndID: rf2GtSndIDLine(r); break;
    case rf2GtCnnct: rf2GtCnnctLine(r); break;
    case rf2GtPgRslt: rf2GtPgRsltLine(r); break;
    case rf2GetFHNG: rf2GetFHNGLine(r); break;
    default: break;
    }
}

// One set-up step answered (rfInit, rf2Init1, rf2Init1A, rf2Init1B): the next one. A question
// the modem does not know (ERROR) leaves its setting as it is. An unsolicited RING (a call that
// rings while the modem is set up) is passed over: the call rings again once calls are awaited.
void TClass2Receiver::rfInitLine(TResult r, const std::string& line) {
    if (r == TResult::Ring) return;
    if (r == TResult::None) {
        if (!reply_.empty()) reply_ += ',';
        reply_ += line;
        return;
    }
    const TStep& s = steps_[step_];
    if (r == TResult::Ok || (r == TResult::Error && s.Optional)) {
        if (r == TResult::Ok && s.Command.size() > 2 && s.Command.compare(s.Command.size() - 2, 2, "=?") == 0)
            rangesReply_ = reply_;
        ++step_;
        nextInitStep();
    } else {
        fail(errors::ecFaxInitError);
    }
}

// A result instead of the connection report after "ATA" (rfAnswer, rf2ValCnnct).
void TClass2Receiver::rf2ValCnnctLine(TResult r) {
    if (r == TResult::NoCarrier)
        fail(errors::ecFaxNoCarrier);
    else if (r == TResult::Voice)
        fail(errors::ecFaxVoiceCall);
    else if (r == TResult::Connect)
        fail(errors::ecFaxDataCall);
    else if (r == TResult::Error)
        fail(errors::ecFaxBadModemResult);
}

void TClass2Receiver::rf2GtSndIDLine(TResult r) {
    if (r != TResult::Ok) {
        callFailed(r);
        return;
    }
    // Without a reported sender ID the question is asked now.
    if (!Accept()) return;
    command("AT+FDR", rf2GtCnnct, kAnswerTicks);
}

void TClass2Receiver::rf2GtCnnctLine(TResult r) {
    if (r == TResult::Connect) {
        startPage();
    } else if (r == TResult::Ok && lastPage_) {
        // The modem confirms the end of the call without a hang-up report.
        goTo(rf2GetFHNG);
        callDone();
    } else {
        callFailed(r);
    }
}

// CONNECT to "AT+FDR": the page data follows DC2. Every page of the call goes into the call's
// fax file, also after the sender's EOM ("+FET:1"): a sender that changes resolution between
// pages sends one fax all the same.
void TClass2Receiver::startPage() {
    goTo(rfStartPage);
    if (int rc = beginPage(dcs_.Fine, dcs_.Wide)) {
        fail(rc);
        return;
    }
    status_ = 0;
    postPage_ = 0;
    bitOrder_.reset();
    const uint8_t dc2 = kDc2;
    link_.write(&dc2, 1);
    progress(fpGetPage);
    setTimer(kAnswerTicks);
    goTo(rfGtPgDta);
}

// OK after a page's status and post-page reports: the page is kept when the modem found it
// good (1 MCF, 3 PIP, 5 PIN) and it can be shown; a page too long for the readers is refused
// to the sender ("AT+FPTS=2" / "AT+FPS=2": the modem answers RTN) before the next "AT+FDR".
void TClass2Receiver::rf2GtPgRsltLine(TResult r) {
    if (refusing_) {
        // The answer to the page status we set: whatever it is, the sender's next step follows.
        refusing_ = false;
        command("AT+FDR", rf2GtCnnct, kAnswerTicks);
        return;
    }
    if (r == TResult::Ok) {
        pageErrors_ = 0;
        if (pageVerdict() == TPageVerdict::TooTall) {
            dropPage();
            refusing_ = true;
            command("AT+F" + names_.PageStatus + "=2", rf2GtPgRslt);
            return;
        }
        const char status = status_ == 0 ? '1' : status_;
        if (status == '1' || status == '3' || status == '5') {
            if (int rc = keepPage()) {
                fail(rc);
                return;
            }
        } else {
            dropPage();
        }
        if (postPage_ == '2') {
            lastPage_ = true;
            closeFile(lfaxReceiveOk);
            accepted_ = false;
            progress(fpGetHangup);
            command("AT+FDR", rf2GetFHNG, kResponseTicks);
        } else {
            command("AT+FDR", rf2GtCnnct, kAnswerTicks);
        }
    } else if (r == TResult::Error) {
        // The page is lost: drop it and ask for the next (a bounded number of times).
        dropPage();
        if (++pageErrors_ >= kMaxPageErrors) {
            fail(errors::ecFaxSessionError);
            return;
        }
        command("AT+FDR", rf2GtCnnct, kAnswerTicks);
    } else if (r == TResult::NoCarrier) {
        fail(errors::ecFaxSessionError);
    }
}

void TClass2Receiver::rf2GetFHNGLine(TResult r) {
    if (r == TResult::Ok || r == TResult::Error || r == TResult::NoCarrier) callDone();
}

void TClass2Receiver::onData(const uint8_t* data, size_t len, bool end) {
    if (state() != rfGtPgDta) return;
    converted_.clear();
    bitOrder_.feed(data, len, converted_);
    if (end) bitOrder_.flush(converted_);
    if (!storePageData(converted_.data(), converted_.size())) return;
    // Renewed with every piece of page data: a page may take minutes, a dead line not.
    if (len > 0) setTimer(t30::kPageIdleTicks);
    if (end) {
        progress(fpGetPageResult);
        setTimer(kAnswerTicks);
        goTo(rf2GtPgRslt);
    }
}

void TClass2Receiver::onTimeout() {
    if (abortCode_ != 0) {
        fail(abortCode_);
        return;
    }
    switch (state()) {
    case rf2GetFHNG:
        hangUp();
        progress(fpGotHangup);
        callDone();
        break;
    case rfInit:
    case rf2Init1:
    case rf2Init1A:
    case rf2Init1B: fail(errors::ecFaxInitError); break;
    default: fail(errors::ecFatalTimeout); break;
    }
}

}  // namespace telvane::transport
