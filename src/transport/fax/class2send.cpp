// The Class 2 / 2.0 send machine: select class, local ID, session parameters, dial, the
// negotiation reports, "AT+FDT" and page data (header line, text cover, file pages with the
// minimum line length), the page-end codes, "AT+FET=" or the Class 2.0 page check, the page
// transfer status with retransmission, resolution changes between pages, then the next fax.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "transport/fax/class2.h"
#include "faximage/faxinput.h"
#include "faximage/mhcoder.h"
#include "faximage/raster.h"
#include "transport/fax/faxsession.h"

namespace telvane::transport {

namespace {
constexpr int64_t kResponseTicks = 182;
constexpr int64_t kPageTicks = 546;
constexpr uint8_t kXon = 0x11;

}  // namespace

TClass2Sender::TClass2Sender(TOvxCustomSendFax& fax, TFaxLink& link, TFaxClass cls)
    : TFaxMachine(fax, link), send_(fax), cls_(cls), names_(Class2Names(cls)) {}

TClass2Sender::~TClass2Sender() = default;

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
    std::vector<TScriptStep> steps;
    if (!send_.FirstStartDone()) {
        if (!send_.ModemInit().empty()) steps.push_back({send_.ModemInit(), ecFaxBadModemResult});
        steps.push_back({send_.DefaultInit(), ecFaxBadModemResult});
    }
    RunScript(std::move(steps), [this](int rc, const std::vector<std::string>&) {
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

void TClass2Sender::GetEntry() {
    Goto(tfGetEntry);
    if (!send_.NextFax(number_, file_, cover_)) {
        Goto(tfCompleteOK);
        EndOfCall();
        return;
    }
    send_.ActivePhone = number_;
    haveFax_ = true;
    fax_.FireLog(lfaxTransmitStart);
    send_.SetDialAttempt(0);
    fax_.SetRemoteID("");
    fax_.SetHangupCode("");
    fax_.SetBytes(0, 0);
    pageIndex_ = 0;
    retries_ = 0;
    if (int rc = pages_.Load(file_, cover_, send_.FaxFileExt)) {
        Fail(rc);
        return;
    }
    fax_.SetPageInfo(0, static_cast<int>(pages_.plan.size()));
    if (int rc = pages_.Verify(file_, cover_)) {
        Fail(rc);
        return;
    }
    InitFax();
}

void TClass2Sender::InitFax() {
    Goto(tfInit);
    Progress(fpInitModem);
    hungUp_ = false;
    Command("AT+F" + names_.SelectClass, tf2Init1);
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

void TClass2Sender::BusyOrRetry() {
    send_.SetDialAttempt(send_.DialAttempt() + 1);
    if (send_.DialAttempts == 0 || send_.DialAttempt() < send_.DialAttempts) {
        Progress(fpBusyWait);
        fax_.FireStatus(false, false);
        Goto(tfRetryWait);
        SetTimer(send_.DialRetryWaitTicks());
        return;
    }
    Fail(ecFaxBusy);
}

void TClass2Sender::Fail(int code) {
    if (Finished()) return;
    abortCode_ = 0;
    Goto(tfAbort);
    StopTimer();
    NormalStatusRhythm();
    WantRoom(false);
    WantEmpty(false);
    sessionError_ = code;
    fax_.FireError(code);
    pages_.reader[0].close();
    pages_.reader[1].close();
    const bool hadFax = haveFax_;
    if (haveFax_) {
        haveFax_ = false;
        fax_.FireLog(lfaxTransmitFail);
    }
    if (inData_) {
        // End the page data so that the modem reads commands again.
        link_.FlushOut();
        const uint8_t end[2] = {hdlc::DLE, hdlc::ETX};
        link_.Write(end, 2);
        inData_ = false;
    }
    if (link_.Alive()) HangUp();
    if (send_.NormalBaud) link_.SetBaud(send_.NormalBaud);
    const bool endAll = !hadFax || send_.ExitOnError || send_.AbortNoConnect || cancelled_ || !link_.Alive();
    if (endAll) {
        EndOfCall();
        return;
    }
    GetEntry();
}

void TClass2Sender::EndOfCall() {
    StopTimer();
    Status(false, true);
    send_.SessionEnded();
    Goto(tfDone);
    fax_.FireFinish(sessionError_);
    Finish();
}

void TClass2Sender::OnCancel() {
    Progress(fpCancel);
    Fail(ecCancelRequested);
}

void TClass2Sender::OnDeviceLost() { Fail(-160); }

void TClass2Sender::SendFDT() {
    fdtSent_ = true;
    SendCommand("AT+FDT");
    SetTimer(kPageTicks);
    Goto(tf2GetParams);
}

// Negotiation and status reports ("+F..."), whatever the state they arrive in.
void TClass2Sender::Report(const std::string& line) {
    if (line.find(names_.Hangup) != std::string::npos) {
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
        default: Fail(ecFaxBadModemResult); return;
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
        for (size_t i = 0; i < pages_.plan.size(); ++i) {
            if ((pages_.PageWide(i) && !remote_.Wide) || (pages_.PageFine(i) && !remote_.Fine)) {
                Fail(ecFaxIncompatible);
                return;
            }
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
    size_t lead = 0;
    while (lead < line.size() && line[lead] == ' ') ++lead;
    if (line.compare(lead, 2, "+F") == 0) {
        Report(line);
        return;
    }
    if (r == TResult::None) {
        // In the page check of Class 2.0 only OK, ERROR and reports may come.
        if (State() == tf20ChckPg || State() == tf2WaitFET) Fail(ecFaxPageError);
        return;
    }
    switch (State()) {
    case tf2Init1:
    case tf2Init1A:
    case tf2Init1B:
    case tf2Init2:
    case tf2Init3:
        if (r != TResult::Ok) {
            Fail(ecFaxInitError);
            return;
        }
        if (State() == tf2Init1) {
            Command("AT+F" + names_.LocalIdCmd + "=\"" + send_.StationID() + "\"", Is20() ? tf2Init1A : tf2Init2);
        } else if (State() == tf2Init1A) {
            Command("AT+FLO=2", tf2Init1B);
        } else if (State() == tf2Init1B) {
            Command("AT+FNR=1,1,1,0", tf2Init2);
        } else if (State() == tf2Init2) {
            Command("AT+F" + names_.SessionCmd + "=" +
                        Class2SessionParams(pages_.PageFine(0), send_.DesiredBPSDigit(), pages_.PageWide(0),
                                            send_.DesiredECM()),
                    tf2Init3);
        } else {
            Dial();
        }
        return;
    case tf2Connect:
        if (r == TResult::Busy || r == TResult::NoAnswer)
            BusyOrRetry();
        else if (r == TResult::Voice)
            Fail(ecFaxVoiceCall);
        else if (r == TResult::NoDialTone)
            Fail(ecFaxNoDialTone);
        else if (r == TResult::NoCarrier)
            Fail(ecFaxNoCarrier);
        else if (r == TResult::Ok)
            // Some modems confirm the negotiation without a connection report first.
            SendFDT();
        else
            Fail(ecFaxBadModemResult);
        return;
    case tf2GetParams:
        if (r == TResult::Ok && !fdtSent_) {
            SendFDT();
        } else if (r == TResult::Connect && fdtSent_) {
            BeginData();
        } else if (r == TResult::NoCarrier) {
            Fail(ecFaxSessionError);
        } else {
            Fail(ecFaxBadModemResult);
        }
        return;
    case tf2SndNwPrm:
        if (r == TResult::Ok)
            SendFDT();
        else
            Fail(ecFaxBadModemResult);
        return;
    case tf2SendEOP:
    case tf2WaitFPTS:
        // Class 2: OK after DLE ETX, then the post-page message.
        if (r == TResult::Ok) {
            const bool last = LastPage();
            const bool sameRes = !last && pages_.PageFine(pageIndex_ + 1) == pages_.PageFine(pageIndex_);
            lastStatus_ = 0;
            Command(std::string("AT+FET=") + (last ? "2" : sameRes ? "0" : "1"), tf2WaitFET, kPageTicks);
        } else {
            Fail(ecFaxPageError);
        }
        return;
    case tf2WaitFET:
        if (r == TResult::Ok) {
            // The status report came before: OK goes on with the next page or the retry.
            if (lastStatus_ == 0)
                Fail(ecFaxPageError);
            else if (pageGood_)
                AfterPageOk();
            else
                Retransmit();
        } else {
            Fail(ecFaxPageError);
        }
        return;
    case tf20ChckPg:
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
        return;
    case tf2WaitPgOK:
        if (r == TResult::Ok)
            Retransmit();
        else
            Fail(ecFaxSessionError);
        return;
    default:
        if (r == TResult::Error) Fail(ecFaxBadModemResult);
        return;
    }
}

bool TClass2Sender::OnByte(uint8_t c) {
    if (State() == tfWaitXon && c == kXon) {
        StopTimer();
        Goto(tfWaitFrHead);
        SetTimer(1092);
        WantRoom(true);
        return true;
    }
    return false;
}

void TClass2Sender::BeginData() {
    // Class 2 sends XON when it is ready for data; Class 2.0 takes data at once.
    if (Is20()) {
        Goto(tfWaitFrHead);
        SetTimer(1092);
        WantRoom(true);
        OnOutput();
    } else {
        Goto(tfWaitXon);
        SetTimer(18);
    }
}

void TClass2Sender::OnTimeout() {
    if (abortCode_ != 0) {
        Fail(abortCode_);
        return;
    }
    switch (State()) {
    case tf2Connect: Fail(ecFaxNoAnswer); break;
    case tfRetryWait: Dial(); break;
    case tfWaitXon:
        // A modem that never sends XON gets its data after 18 ticks anyway.
        Goto(tfWaitFrHead);
        SetTimer(1092);
        WantRoom(true);
        OnOutput();
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
    if (State() == tfSendPage) {
        PumpPage();
        return;
    }
    if (State() == tf2SendEOP && link_.OutUsed() == 0) {
        WantEmpty(false);
        if (!Is20()) Goto(tf2WaitFPTS);
    }
}

void TClass2Sender::StartPage() {
    const TPagePlan& p = pages_.plan[pageIndex_];
    const bool fine = pages_.PageFine(pageIndex_);
    Progress(fpSendPage);
    fax_.SetPageInfo(static_cast<int>(pageIndex_) + 1, static_cast<int>(pages_.plan.size()));
    const long bps = session_.Bps > 0 ? session_.Bps : 9600;
    minBytes_ = t30::MinBytesPerLine(session_.ScanCode, fine, bps);
    pending_.clear();
    pendingPos_ = 0;
    pageBytes_ = 0;
    pageDone_ = false;
    inData_ = true;
    if (!send_.HeaderLine.empty()) {
        Goto(tfSndPgeHdr);
        for (int i = 0; i < 8; ++i)
            AppendPaddedLine(telvane::faximage::kBlankLine1728, 6, static_cast<size_t>(minBytes_), pending_);
        if (int rc =
                pages_.RenderText(*pages_.headerText, SubstituteHeader(send_.HeaderLine, pages_.PageValues(pageIndex_)),
                                  fine, minBytes_, pending_)) {
            Fail(rc);
            return;
        }
    }
    if (p.TextCover) {
        Goto(tfOpenCover);
        const THeaderValues v = pages_.PageValues(pageIndex_);
        Goto(tfSendCover);
        for (const std::string& line : pages_.coverLines) {
            if (int rc = pages_.RenderText(*pages_.coverText, SubstituteHeader(line, v), fine, minBytes_, pending_)) {
                Fail(rc);
                return;
            }
        }
        pending_.insert(pending_.end(), telvane::faximage::kPageEndBlock,
                        telvane::faximage::kPageEndBlock + sizeof telvane::faximage::kPageEndBlock);
        pageDone_ = true;
    } else {
        Goto(tfPrepPage);
        telvane::faximage::OvfPageHeader ph;
        if (pages_.reader[p.File].seekPage(p.Page, ph) != 0) {
            Fail(ecFaxBadFormat);
            return;
        }
        pageLength_ = static_cast<long>(ph.imageLength);
        fax_.SetBytes(0, pageLength_);
    }
    Goto(tfSendPage);
    WantRoom(true);
    StopTimer();
    PageStatusRhythm();
    PumpPage();
}

void TClass2Sender::PumpPage() {
    const TPagePlan& p = pages_.plan[pageIndex_];
    std::vector<uint8_t> out;
    for (int n = 0; n < send_.MaxSendCount; ++n) {
        if (link_.OutFree() < kRoomNeeded || link_.OutUsed() > send_.BufferMinimum) break;
        out.clear();
        const uint8_t* block = nullptr;
        size_t size = 0;
        bool isLine = false;
        int more = 0;
        if (pendingPos_ < pending_.size()) {
            const size_t take = std::min<size_t>(4096, pending_.size() - pendingPos_);
            out.assign(pending_.begin() + static_cast<long>(pendingPos_),
                       pending_.begin() + static_cast<long>(pendingPos_ + take));
            pendingPos_ += take;
        } else if (!pageDone_ && (more = pages_.reader[p.File].nextBlock(block, size, isLine)) > 0) {
            if (isLine)
                AppendPaddedLine(block, size, static_cast<size_t>(minBytes_), out);
            else
                hdlc::EscapeDle(block, size, out);
            pageBytes_ += static_cast<long>(size);
            fax_.SetBytes(pageBytes_, pageLength_);
        } else if (more < 0) {
            Fail(more);
            return;
        } else {
            EndPageData();
            return;
        }
        if (!link_.Write(out.data(), out.size())) {
            Fail(-160);
            return;
        }
    }
}

void TClass2Sender::EndPageData() {
    uint8_t end[2] = {hdlc::DLE, hdlc::ETX};
    if (Is20()) {
        const bool last = LastPage();
        end[1] = last ? '.' : pages_.PageFine(pageIndex_ + 1) == pages_.PageFine(pageIndex_) ? ',' : ';';
    }
    link_.Write(end, 2);
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
    SetTimer(kPageTicks);
}

void TClass2Sender::PageAccepted() {
    pageGood_ = true;
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
        Fail(ecFaxSessionError);
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
        Command("AT+FKS", tf2WaitPgOK);
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

void TClass2Sender::FaxDone() {
    Goto(tfClose);
    StopTimer();
    pages_.reader[0].close();
    pages_.reader[1].close();
    Progress(fpFinished);
    haveFax_ = false;
    fax_.FireLog(lfaxTransmitOk);
    if (send_.NormalBaud) link_.SetBaud(send_.NormalBaud);
    GetEntry();
}

}  // namespace telvane::transport
