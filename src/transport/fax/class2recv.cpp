// The Class 2 / 2.0 receive machine: select class, enable receiving, local ID, answer mode and
// capabilities; rings and "ATA"; the connection report, the sender's ID (with the accept
// question) and the negotiated parameters; "AT+FDR", DC2 and page data; the page transfer
// status and the post-page report, which may start a new fax file; the hang-up report; then
// the next call or the end.
#include <cctype>

#include "transport/fax/class2.h"
#include "transport/fax/faxsession.h"

namespace telvane::transport {

namespace {
constexpr int64_t kResponseTicks = 182;
constexpr int64_t kAnswerTicks = 1092;
constexpr uint8_t kDc2 = 0x12;
// "ERROR" in place of a page's status this many times in a row ends the call.
constexpr int kMaxPageErrors = 3;

// Besides those of every receiver: the set-up steps, the answer and the modem's connection
// report, the sender's ID, each page with its status, the hang-up report.
constexpr TStateEdges kClass2ReceiveEdges[] = {
    {rfNone, States({rfInit})},
    {rfInit, States({rf2Init1})},
    {rf2Init1, States({rf2Init1A, rf2Init3})},
    {rf2Init1A, States({rf2Init1B})},
    {rf2Init1B, States({rf2Init3})},
    {rf2Init3, States({rfWaiting})},
    {rfAnswer, States({rf2ValCnnct, rf2GtSndID})},
    {rf2ValCnnct, States({rf2GtSndID})},
    {rf2GtSndID, States({rf2GtCnnct})},
    {rf2GtCnnct, States({rfStartPage, rf2GetFHNG})},
    {rfGtPgDta, States({rf2GtPgRslt})},
    {rf2GtPgRslt, States({rf2GtCnnct, rf2GetFHNG})},
    {rf2GetFHNG, States({rfComplete})},
};
constexpr TStateChanges kClass2ReceiveChanges{kReceiveSharedEdges, kClass2ReceiveEdges, rfAbort, rfDone};

}  // namespace

TClass2Receiver::TClass2Receiver(TOvxCustomReceiveFax& fax, TFaxLink& link, TFaxClass cls)
    : TFaxReceiver(fax, link), cls_(cls), names_(Class2Names(cls)) {}

const TStateChanges& TClass2Receiver::StateChanges() const { return kClass2ReceiveChanges; }

void TClass2Receiver::OnStart() {
    Progress(fpInitModem);
    if (recv_.SoftwareFlow) link_.SetSoftwareFlow(false);
    if (recv_.InitBaud) link_.SetBaud(recv_.InitBaud);
    fax_.SetSessionClass(cls_);
    StartUp();
}

void TClass2Receiver::StartUp() {
    Goto(rfInit);
    RunScript(FirstStartSteps(DefaultInitString(true, false)), [this](int rc, const std::vector<std::string>&) {
        if (rc != 0) {
            Fail(rc);
            return;
        }
        recv_.MarkInitDone();
        InitCall();
    });
}

void TClass2Receiver::Command(const std::string& cmd, int next, int64_t ticks) {
    SendCommand(cmd);
    SetTimer(ticks);
    Goto(next);
}

void TClass2Receiver::InitCall() {
    Goto(rfInit);
    rings_ = 0;
    accepted_ = false;
    pages_ = 0;
    pageErrors_ = 0;
    lastPage_ = false;
    newFile_ = false;
    dcs_ = {};
    fax_.SetRemoteID("");
    fax_.SetHangupCode("");
    fax_.SetPageInfo(0, 0);
    fax_.SetBytes(0, 0);
    link_.SetDTR(true);
    link_.SetRTS(true);
    const std::string caps =
        "=1," + std::string(1, recv_.DesiredBPSDigit()) + ",0,2,0," + (recv_.DesiredECM() ? "1" : "0") + ",0,0";
    steps_ = {{rfInit, "AT+F" + names_.SelectClass},
              {rfInit, "AT+FCR=1"},
              {rfInit, "AT+F" + names_.LocalIdCmd + "=\"" + recv_.StationID() + "\""},
              {rfInit, std::string("AT+FAA=") + (recv_.FaxAndData ? "1" : "0")},
              {rf2Init1, "AT+F" + names_.CapabilitiesCmd + caps}};
    if (Is20()) {
        steps_.push_back({rf2Init1A, "AT+FLO=2"});
        steps_.push_back({rf2Init1B, "AT+FNR=1,1,1,0"});
    }
    step_ = 0;
    NextInitStep();
}

void TClass2Receiver::NextInitStep() {
    if (step_ >= steps_.size()) {
        Goto(rf2Init3);
        WaitForCall();
        return;
    }
    const TStep& s = steps_[step_];
    Command(s.Command, s.State);
}

void TClass2Receiver::Fail(int code) {
    abortCode_ = 0;  // an "AT+FKS" awaiting its answer is over
    TFaxReceiver::Fail(code);
}

void TClass2Receiver::CallFailed(TResult r) {
    if (r == TResult::Error)
        Fail(ecFaxBadModemResult);
    else if (r == TResult::NoCarrier)
        Fail(ecFaxSessionError);
}

void TClass2Receiver::PageStatus(char digit) {
    haveStatus_ = true;
    // 1 MCF, 3 PIP and 5 PIN keep the page; 2 RTN, 4 RTP and anything else drop it.
    pageKept_ = digit == '1' || digit == '3' || digit == '5';
    if (!file_.isOpen()) return;
    if (!pageKept_)
        file_.dropPage();
    else if (int rc = KeepPage())
        Fail(rc);
}

void TClass2Receiver::Report(const std::string& line) {
    if (line.find(names_.Hangup) != std::string::npos) {
        fax_.SetHangupCode(Class2HangupCode(line));
        if (State() == rf2GetFHNG) {
            Progress(fpGotHangup);
            return;
        }
        Fail(ecFaxSessionError);
        return;
    }
    if (IsClass2Report(line, names_.Connect)) {
        if (State() == rf2ValCnnct || State() == rfAnswer) {
            Progress(fpIncoming);
            SetTimer(kAnswerTicks);
            Goto(rf2GtSndID);
        }
        return;
    }
    if (IsClass2Report(line, names_.TransmitId)) {
        fax_.SetRemoteID(CleanClass2Id(line));
        Progress(fpGotRemoteID);
        Accept();
        return;
    }
    if (IsClass2Report(line, names_.Negotiated)) {
        dcs_ = ParseClass2Params(line);
        fax_.SetConnection(dcs_.Bps, dcs_.Fine, dcs_.Wide, dcs_.Ecm);
        Progress(fpSessionParams);
        return;
    }
    if (IsClass2Report(line, names_.PageStatus)) {
        if (State() == rf2GtPgRslt) {
            const std::string v = ReportValue(line);
            PageStatus(v.empty() ? '?' : v[0]);
            Progress(fpGetPageResult);
        }
        return;
    }
    if (IsClass2Report(line, "ET")) {
        if (State() == rf2GtPgRslt) {
            const std::string v = ReportValue(line);
            // 3, 4 and 5 are the procedure-interrupt forms of 0, 1 and 2: the interrupt
            // itself is not offered to anyone, the pages are handled alike.
            const char d = v.empty() ? '?' : v[0];
            postPage_ = d == '3' ? '0' : d == '4' ? '1' : d == '5' ? '2' : d;
            Progress(fpCheckMorePages);
        }
        return;
    }
    // Other reports (+FCFR, +FNSS, +FHR...) tell nothing this machine needs.
}

// The call is refused: "AT+FKS", and the error once the modem has answered it (a hang-up
// would flush the command from the output buffer).
void TClass2Receiver::Reject() {
    abortCode_ = ecFileRejected;
    SendCommand("AT+FKS");
    SetTimer(kResponseTicks);
}

void TClass2Receiver::Answer() {
    Progress(fpAnswer);
    Goto(rfAnswer);
    Command("ATA", rf2ValCnnct, kAnswerTicks);
}

void TClass2Receiver::OnLine(TResult r, const std::string& line) {
    if (abortCode_ != 0) {
        if (r == TResult::Ok || r == TResult::Error || r == TResult::NoCarrier) Fail(abortCode_);
        return;
    }
    if (IsClass2ReportLine(line) && State() != rfWaiting) {
        Report(line);
        return;
    }
    switch (State()) {
    case rfInit:
    case rf2Init1:
    case rf2Init1A:
    case rf2Init1B: rfInitLine(r); break;
    case rfWaiting: RingLine(r); break;
    case rfAnswer:
    case rf2ValCnnct: rf2ValCnnctLine(r); break;
    case rf2GtSndID: rf2GtSndIDLine(r); break;
    case rf2GtCnnct: rf2GtCnnctLine(r); break;
    case rf2GtPgRslt: rf2GtPgRsltLine(r); break;
    case rf2GetFHNG: rf2GetFHNGLine(r); break;
    default: break;
    }
}

// One set-up step answered (rfInit, rf2Init1, rf2Init1A, rf2Init1B): the next one.
void TClass2Receiver::rfInitLine(TResult r) {
    if (r == TResult::Ok) {
        ++step_;
        NextInitStep();
    } else if (r != TResult::None) {
        Fail(ecFaxInitError);
    }
}

// A result instead of the connection report after "ATA" (rfAnswer, rf2ValCnnct).
void TClass2Receiver::rf2ValCnnctLine(TResult r) {
    if (r == TResult::NoCarrier)
        Fail(ecFaxNoCarrier);
    else if (r == TResult::Voice)
        Fail(ecFaxVoiceCall);
    else if (r == TResult::Connect)
        Fail(ecFaxDataCall);
    else if (r == TResult::Error)
        Fail(ecFaxBadModemResult);
}

void TClass2Receiver::rf2GtSndIDLine(TResult r) {
    if (r != TResult::Ok) {
        CallFailed(r);
        return;
    }
    // Without a reported sender ID the question is asked now.
    if (!Accept()) return;
    Command("AT+FDR", rf2GtCnnct, kAnswerTicks);
}

void TClass2Receiver::rf2GtCnnctLine(TResult r) {
    if (r == TResult::Connect) {
        startPage();
    } else if (r == TResult::Ok && lastPage_) {
        // The modem confirms the end of the call without a hang-up report.
        Goto(rf2GetFHNG);
        CallDone();
    } else {
        CallFailed(r);
    }
}

// CONNECT to "AT+FDR": the page data follows DC2, in the fax file the call has (after an EOM,
// a new one).
void TClass2Receiver::startPage() {
    Goto(rfStartPage);
    if (newFile_) {
        // The sender's EOM ended a fax: its pages are kept and the next one gets a file.
        newFile_ = false;
        CloseFile(lfaxReceiveOk);
        if (int rc = OpenFile()) {
            Fail(rc);
            return;
        }
    }
    if (int rc = BeginPage(dcs_.Fine, dcs_.Wide)) {
        Fail(rc);
        return;
    }
    haveStatus_ = false;
    postPage_ = 0;
    const uint8_t dc2 = kDc2;
    link_.Write(&dc2, 1);
    Progress(fpGetPage);
    SetTimer(kAnswerTicks);
    Goto(rfGtPgDta);
}

void TClass2Receiver::rf2GtPgRsltLine(TResult r) {
    if (r == TResult::Ok) {
        if (!haveStatus_) PageStatus('1');
        pageErrors_ = 0;
        if (postPage_ == '2') {
            lastPage_ = true;
            CloseFile(lfaxReceiveOk);
            accepted_ = false;
            Progress(fpGetHangup);
            Command("AT+FDR", rf2GetFHNG, kResponseTicks);
        } else {
            newFile_ = postPage_ == '1';
            Command("AT+FDR", rf2GtCnnct, kAnswerTicks);
        }
    } else if (r == TResult::Error) {
        // The page is lost: drop it and ask for the next (a bounded number of times).
        file_.dropPage();
        if (++pageErrors_ >= kMaxPageErrors) {
            Fail(ecFaxSessionError);
            return;
        }
        Command("AT+FDR", rf2GtCnnct, kAnswerTicks);
    } else if (r == TResult::NoCarrier) {
        Fail(ecFaxSessionError);
    }
}

void TClass2Receiver::rf2GetFHNGLine(TResult r) {
    if (r == TResult::Ok || r == TResult::Error || r == TResult::NoCarrier) CallDone();
}

void TClass2Receiver::OnData(const uint8_t* data, size_t len, bool end) {
    if (State() != rfGtPgDta) return;
    if (!StorePageData(data, len)) return;
    if (end) {
        Progress(fpGetPageResult);
        SetTimer(kAnswerTicks);
        Goto(rf2GtPgRslt);
    }
}

void TClass2Receiver::OnTimeout() {
    if (abortCode_ != 0) {
        Fail(abortCode_);
        return;
    }
    switch (State()) {
    case rf2GetFHNG:
        HangUp();
        Progress(fpGotHangup);
        CallDone();
        break;
    case rfInit:
    case rf2Init1:
    case rf2Init1A:
    case rf2Init1B: Fail(ecFaxInitError); break;
    default: Fail(ecFatalTimeout); break;
    }
}

}  // namespace telvane::transport
