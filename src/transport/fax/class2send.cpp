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
constexpr int64_t kFdtTicks = t30::TicksFromMs(30000);
// The answer to a page's end comes once the modem has put the page on the line and exchanged
// the post-page command (with repetitions and a retrain); at least this long.
constexpr int64_t kPageEndFloorTicks = t30::TicksFromMs(180000);
constexpr int64_t kPageEndExtraTicks = t30::TicksFromMs(60000);
constexpr uint8_t kXon = 0x11;

// Besides those of every sender: the class, local ID, flow control and session set-up, the
// dial and the modem's negotiation, XON, the page end with its status (Class 2: DLE ETX and
// AT+FET=; Class 2.0: the page check), retransmission and new session parameters between pages.
constexpr TStateEdges kClass2SendEdges[] = {
    {tfNone, States({tfInit})},
    {tfInit, States({tfGetEntry, tf2Init1})},
    {tfGetEntry, States({tfInit})},
    {tf2Init1, States({tf2Init1A})},
    {tf2Init1A, States({tf2Init1B, tf2Init2})},
    {tf2Init1B, States({tf2Init2})},
    {tf2Init2, States({tf2Init3})},
    {tf2Init3, States({tfDial})},
    {tfDial, States({tf2Connect})},
    {tf2Connect, States({tfRetryWait, tf2GetParams})},
    {tf2GetParams, States({tfWaitXon, tfWaitFrHead})},
    {tfWaitXon, States({tfWaitFrHead})},
    {tfSendPage, States({tf2SendEOP, tf20ChckPg})},
    {tf2SendEOP, States({tf2WaitFPTS, tf2WaitFET})},
    {tf2WaitFPTS, States({tf2WaitFET})},
    {tf2WaitFET, States({tfClose, tf2SndNwPrm, tf2NextPage, tf2WaitPgOK})},
    {tf20ChckPg, States({tfClose, tf2SndNwPrm, tf2NextPage, tf2WaitPgOK})},
    {tf2WaitPgOK, States({tf2GetParams})},
    {tf2SndNwPrm, States({tf2GetParams})},
    {tf2NextPage, States({tf2GetParams})},
};
constexpr TStateChanges kClass2SendChanges{kSendSharedEdges, kClass2SendEdges, tfAbort, tfDone};

}  // namespace

TClass2Sender::TClass2Sender(TOvxCustomSendFax& fax, TFaxLink& link, TFaxClass cls)
    : TFaxSender(fax, link), cls_(cls), names_(Class2Names(cls)) {}

TClass2Sender::~TClass2Sender() = default;

const TStateChanges& TClass2Sender::StateChanges() const { return kClass2SendChanges; }

void TClass2Sender::OnStart() {
    Progress(fpInitModem);
    link_.SetBaud(19200);
    link_.SetDTR(true);
    link_.SetRTS(true);
    if (send_.SoftwareFlow) link_.SetSoftwareFlow(false);
    fax_.SetSessionClass(cls_);
    StartUp();
}

void TClass2Sender::StartUp() {
    Goto(tfInit);
    RunScript(FirstStartSteps(send_.DefaultInit()), [this](int rc, const std::vector<std::string>&) {
        if (rc != 0) {
            Fail(rc);
            return;
        }
        send_.MarkInitDone();
        if (send_.InitBaud) link_.SetBaud(send_.InitBaud);
        GetEntry();
    });
}

void TClass2Sender::Command(const std::string& cmd, int next, int64_t ticks) {
    SendCommand(cmd);
    SetTimer(ticks);
    Goto(next);
}

void TClass2Sender::NewFax() {
    fax_.SetHangupCode("");
    confirmed_ = 0;
    fax_.SetPagesConfirmed(0);
}

// The pages are checked; then the modem is set up for the call, one command after another.
void TClass2Sender::StartFax() {
    if (!CheckPages()) return;
    Goto(tfInit);
    Progress(fpInitModem);
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
        {tf2Init1A, !Is20(),
         [this] {
             if (RangeOffers(flowReply_, 1)) return std::string("AT+FLO=1");
             if (RangeOffers(flowReply_, 2) || Is20()) return std::string("AT+FLO=2");
             return std::string();
         },
         nullptr},
        {tf2Init1B, false, [this] { return Is20() ? std::string("AT+FNR=1,1,1,0") : std::string(); }, nullptr},
        {tf2Init2, true, [session] { return session + "=?"; }, [this](const std::string& r) { rangesReply_ = r; }},
        {tf2Init3, false, [this, session] { return session + "=" + SessionParams(0); }, nullptr},
    };
    step_ = 0;
    NextStep();
}

// The session parameters for page `index`, within what the modem offers: a modem that cannot
// do the desired rate or error correction is asked for the best it has, not refused.
std::string TClass2Sender::SessionParams(size_t index) const {
    char bps = send_.DesiredBPSDigit();
    bool ecm = send_.DesiredECM();
    ParseClass2Ranges(rangesReply_).Clamp(bps, ecm);
    return Class2SessionParams(pages_.PageFine(index), bps, pages_.PageWide(index), ecm);
}

void TClass2Sender::NextStep() {
    while (step_ < steps_.size()) {
        const std::string cmd = steps_[step_].MakeCommand();
        if (!cmd.empty()) {
            reply_.clear();
            Command(cmd, steps_[step_].State);
            return;
        }
        ++step_;
    }
    Dial();
}

// One set-up command answered (tf2Init1 .. tf2Init3): information lines are its reply; OK goes
// on; ERROR fails the set-up unless the command was only a question.
void TClass2Sender::InitLine(TResult r, const std::string& line) {
    const TStep& s = steps_[step_];
    if (r == TResult::None) {
        if (!reply_.empty()) reply_ += ',';
        reply_ += line;
        return;
    }
    if (r != TResult::Ok && !(r == TResult::Error && s.Optional)) {
        Fail(ecFaxInitError);
        return;
    }
    if (s.TakeReply) s.TakeReply(r == TResult::Ok ? reply_ : std::string());
    ++step_;
    NextStep();
}

void TClass2Sender::Dial() {
    Goto(tfDial);
    Progress(fpDialing);
    fdtSent_ = false;
    remote_ = {};
    SendCommand(std::string(send_.ToneDial ? "ATDT" : "ATDP") + send_.DialPrefix() + number_);
    SetTimer(send_.DialWaitTicks());
    Goto(tf2Connect);
}

void TClass2Sender::Fail(int code) {
    abortCode_ = 0;  // an abort awaiting its answer is over
    link_.SetOutputFlow(false);
    TFaxSender::Fail(code);
}

void TClass2Sender::SendFDT() {
    fdtSent_ = true;
    SendCommand("AT+FDT");
    SetTimer(kFdtTicks);
    Goto(tf2GetParams);
}

// Negotiation and status reports ("+F..."), whatever the state they arrive in.
void TClass2Sender::Report(const std::string& line) {
    if (IsClass2Report(line, names_.Hangup)) {
        fax_.SetHangupCode(Class2HangupCode(line));
        hungUp_ = true;
        switch (State()) {
        case tf2WaitFET:
        case tf2WaitFPTS:
        case tf20ChckPg:
        case tf2WaitPgOK:
            // The modem ends the call after the last page (or after giving up): the OK that
            // follows decides.
            return;
        default: Fail(ecFaxHungUp); return;
        }
    }
    if (IsClass2Report(line, names_.Connect)) {
        if (State() == tf2Connect) {
            SetTimer(kResponseTicks);
            Goto(tf2GetParams);
        }
        return;
    }
    if (IsClass2Report(line, names_.RemoteCaps)) {
        remote_ = ParseClass2Params(line);
        if (!pages_.FitFor(remote_.Fine, remote_.Wide)) {
            Fail(ecFaxIncompatible);
            return;
        }
        Progress(fpSessionParams);
        return;
    }
    if (IsClass2Report(line, names_.CalledId)) {
        fax_.SetRemoteID(CleanClass2Id(line));
        Progress(fpGotRemoteID);
        return;
    }
    if (IsClass2Report(line, names_.Negotiated)) {
        session_ = ParseClass2Params(line);
        fax_.SetConnection(session_.Bps, session_.Fine, session_.Wide, session_.Ecm);
        Progress(fpSessionParams);
        return;
    }
    if (IsClass2Report(line, names_.PageStatus)) {
        const std::string v = ReportValue(line);
        lastStatus_ = v.empty() ? '?' : v[0];
        if (State() == tf2WaitFET) {
            if (lastStatus_ == '1' || lastStatus_ == '3')
                PageAccepted();
            else if (lastStatus_ == '2')
                PageRejected();
            else if (lastStatus_ == '4' || lastStatus_ == '5')
                Fail(ecCancelRequested);
            else
                Fail(ecFaxPageError);
        }
        return;
    }
    // Other reports (+FNSF, +FCFR, +FPOLL, +FET...) tell nothing this machine needs.
}

void TClass2Sender::OnLine(TResult r, const std::string& line) {
    if (abortCode_ != 0) {
        if (r == TResult::Ok || r == TResult::Error || r == TResult::NoCarrier) Fail(abortCode_);
        return;
    }
    if (IsClass2ReportLine(line)) {
        Report(line);
        return;
    }
    // CONNECT means something only in answer to "AT+FDT"; a modem that also prints it when the
    // call is made (or elsewhere) is not taken for a failure.
    if (r == TResult::Connect && !(State() == tf2GetParams && fdtSent_)) return;
    switch (State()) {
    case tf2Init1:
    case tf2Init1A:
    case tf2Init1B:
    case tf2Init2:
    case tf2Init3: InitLine(r, line); return;
    default: break;
    }
    if (r == TResult::None) {
        // In the page check of Class 2.0 only OK, ERROR and reports may come.
        if (State() == tf20ChckPg || State() == tf2WaitFET) Fail(ecFaxPageError);
        return;
    }
    switch (State()) {
    case tf2Connect: tf2ConnectLine(r); break;
    case tf2GetParams: tf2GetParamsLine(r); break;
    case tf2SndNwPrm: tf2SndNwPrmLine(r); break;
    case tf2SendEOP:
    case tf2WaitFPTS: tf2SendEOPLine(r); break;
    case tf2WaitFET: tf2WaitFETLine(r); break;
    case tf20ChckPg: tf20ChckPgLine(r); break;
    case tf2WaitPgOK: tf2WaitPgOKLine(r); break;
    default:
        if (r == TResult::Error) Fail(ecFaxBadModemResult);
        break;
    }
}

void TClass2Sender::tf2ConnectLine(TResult r) {
    if (DialFailed(r)) return;
    if (r == TResult::NoCarrier)
        // Nobody answered (many modems say NO CARRIER then): dialled again while attempts last.
        BusyOrRetry(false);
    else if (r == TResult::Ok)
        // Some modems confirm the negotiation without a connection report first.
        SendFDT();
    else
        Fail(ecFaxBadModemResult);
}

void TClass2Sender::tf2GetParamsLine(TResult r) {
    if (r == TResult::Ok && !fdtSent_)
        SendFDT();
    else if (r == TResult::Connect && fdtSent_)
        BeginData();
    else if (r == TResult::NoCarrier)
        Fail(ecFaxSessionError);
    else
        Fail(ecFaxBadModemResult);
}

void TClass2Sender::tf2SndNwPrmLine(TResult r) {
    if (r == TResult::Ok)
        SendFDT();
    else
        Fail(ecFaxBadModemResult);
}

// Class 2, in tf2SendEOP or tf2WaitFPTS: OK after DLE ETX, then the post-page message.
void TClass2Sender::tf2SendEOPLine(TResult r) {
    link_.SetOutputFlow(false);
    if (r != TResult::Ok) {
        Fail(ecFaxPageError);
        return;
    }
    const bool last = LastPage();
    const bool sameRes = !last && pages_.PageFine(pageIndex_ + 1) == pages_.PageFine(pageIndex_);
    lastStatus_ = 0;
    Command(std::string("AT+FET=") + (last ? "2" : sameRes ? "0" : "1"), tf2WaitFET, PageEndTicks());
}

// The status report came before: OK goes on with the next page or the retry.
void TClass2Sender::tf2WaitFETLine(TResult r) {
    if (r != TResult::Ok || lastStatus_ == 0)
        Fail(ecFaxPageError);
    else if (pageGood_)
        AfterPageOk();
    else
        Retransmit();
}

void TClass2Sender::tf20ChckPgLine(TResult r) {
    link_.SetOutputFlow(false);
    if (r == TResult::Ok) {
        if (lastStatus_ == '2') {
            PageRejected();
            Retransmit();
        } else {
            PageAccepted();
            AfterPageOk();
        }
    } else if (r == TResult::Error) {
        PageRejected();
        Command("AT+FPS?", tf2WaitPgOK);
    } else {
        Fail(ecFaxPageError);
    }
}

void TClass2Sender::tf2WaitPgOKLine(TResult r) {
    if (r == TResult::Ok)
        Retransmit();
    else
        Fail(ecFaxSessionError);
}

bool TClass2Sender::OnByte(uint8_t c) {
    if (State() == tfWaitXon && c == kXon) {
        StopTimer();
        StartData();
        return true;
    }
    return false;
}

void TClass2Sender::BeginData() {
    // Class 2 sends XON when it is ready for data; Class 2.0 takes data at once.
    if (Is20()) {
        StartData();
    } else {
        Goto(tfWaitXon);
        SetTimer(18);
    }
}

// The modem takes page data: from here its XOFF and XON pace our output, and the page is given
// up when nothing moves for the page timer.
void TClass2Sender::StartData() {
    link_.SetOutputFlow(true);
    DataConnected();
    Goto(tfWaitFrHead);
    SetTimer(t30::kPageIdleTicks);
    WantRoom(true);
    OnOutput();
}

void TClass2Sender::OnTimeout() {
    if (abortCode_ != 0) {
        Fail(abortCode_);
        return;
    }
    switch (State()) {
    case tf2Connect:
        // Nobody answered within the dial wait: the dial is abandoned and made again later.
        AbortReception();
        BusyOrRetry(false);
        break;
    case tfRetryWait: Dial(); break;
    case tfWaitXon:
        // A modem that never sends XON gets its data after 18 ticks anyway.
        StartData();
        break;
    case tf2WaitFET:
    case tf20ChckPg:
    case tf2SendEOP:
    case tf2WaitFPTS: Fail(ecFaxPageError); break;
    default: Fail(ecFatalTimeout); break;
    }
}

void TClass2Sender::OnOutput() {
    if (State() == tfWaitFrHead) {
        if (link_.OutFree() < kRoomNeeded) return;
        StartPage();
        return;
    }
    // A modem that stops taking data (XOFF without XON, CTS held low) must not hold the call:
    // the page timer runs while nothing moves and is renewed whenever data does.
    const size_t used = link_.OutUsed();
    if (State() == tfSendPage && used < lastOutUsed_) SetTimer(t30::kPageIdleTicks);
    lastOutUsed_ = used;
    if (State() == tfSendPage) {
        PumpPage();
        return;
    }
    if (State() == tf2SendEOP && used == 0) {
        WantEmpty(false);
        if (!Is20()) Goto(tf2WaitFPTS);
    }
}

void TClass2Sender::StartPage() {
    Progress(fpSendPage);
    if (!PreparePage(session_.ScanCode, SessionBps())) return;
    filler_.Reset(static_cast<size_t>(minBytes_));
    lastOutUsed_ = link_.OutUsed();
    SetTimer(t30::kPageIdleTicks);
    PageStatusRhythm();
    PumpPage();
}

void TClass2Sender::PageDataWritten(size_t) { SetTimer(t30::kPageIdleTicks); }

// The answer to a page's end: the line time of what the modem still holds, and then some,
// never less than the floor.
int64_t TClass2Sender::PageEndTicks() {
    return std::max(kPageEndFloorTicks, LineTicksLeft(SessionBps()) + kPageEndExtraTicks);
}

void TClass2Sender::EndPageData() {
    uint8_t end[2] = {hdlc::DLE, hdlc::ETX};
    if (Is20()) {
        const bool last = LastPage();
        end[1] = last ? '.' : pages_.PageFine(pageIndex_ + 1) == pages_.PageFine(pageIndex_) ? ',' : ';';
    }
    std::vector<uint8_t> last, out;
    filler_.Flush(last);
    hdlc::EscapeDle(last.data(), last.size(), out);
    out.insert(out.end(), end, end + 2);
    link_.Write(out.data(), out.size());
    inData_ = false;
    NormalStatusRhythm();
    WantRoom(false);
    Progress(fpSendPageStatus);
    lastStatus_ = 0;
    pageGood_ = false;
    if (Is20()) {
        Goto(tf20ChckPg);
    } else {
        Goto(tf2SendEOP);
        WantEmpty(true);
    }
    SetTimer(PageEndTicks());
}

void TClass2Sender::PageAccepted() {
    pageGood_ = true;
    ++confirmed_;
    fax_.SetPagesConfirmed(confirmed_);
    Progress(fpPageOK);
}

void TClass2Sender::PageRejected() {
    pageGood_ = false;
    Progress(fpPageError);
}

void TClass2Sender::AfterPageOk() {
    retries_ = 0;
    if (LastPage()) {
        FaxDone();
        return;
    }
    if (hungUp_) {
        // The modem ended the call although pages are left.
        Fail(ecFaxHungUp);
        return;
    }
    const bool change = pages_.PageFine(pageIndex_ + 1) != pages_.PageFine(pageIndex_);
    ++pageIndex_;
    fax_.SetBytes(0, 0);
    if (change) {
        Command("AT+F" + names_.SessionCmd + "=" + (pages_.PageFine(pageIndex_) ? "1" : "0"), tf2SndNwPrm);
        return;
    }
    Goto(tf2NextPage);
    link_.Pause(5 * 55);
    SendFDT();
}

void TClass2Sender::Retransmit() {
    Goto(tf2WaitPgOK);
    if (++retries_ > 2) {
        // Abort the session; the error follows the modem's answer (a hang-up flushes output).
        abortCode_ = ecFaxSessionError;
        Command("AT+F" + names_.Abort, tf2WaitPgOK);
        return;
    }
    if (hungUp_) {
        // A rejected page after which the modem hung up cannot be sent again.
        Fail(ecFaxSessionError);
        return;
    }
    // StartPage reads the page (or renders the cover) again from its beginning.
    SendFDT();
}

}  // namespace telvane::transport
