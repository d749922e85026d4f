// What the receive machines of every class share (see faxreceiver.h).
#include "transport/fax/faxreceiver.h"

#include <cstdio>
#include <string>

#include "errors/errors.h"
#include "transport/fax/faxsession.h"

namespace telvane::transport {

namespace {
const char* const kReceiveNames[] = {
    "rfNone",       "rfInit",       "rf1Init1",   "rf2Init1",   "rf2Init1A",   "rf2Init1B",   "rf2Init2",
    "rf2Init3",     "rfWaiting",    "rfAnswer",   "rf1SendCSI", "rf1SendDIS",  "rf1CollFrms", "rf1CollRtry1",
    "rf1CollRtry2", "rf1StrtTrn",   "rf1CollTrn", "rf1Timeout", "rf1Retrain",  "rf1FinTrn",   "rf1SendCFR",
    "rf1WtPgCnnct", "rf2ValCnnct",  "rf2GtSndID", "rf2GtCnnct", "rfStartPage", "rfGtPgDta",   "rf1FinPage",
    "rf1WaitEOP",   "rf1WritePage", "rf1SendMCF", "rf1WaitDCN", "rf1WtHngp",   "rf2GtPgRslt", "rf2GetFHNG",
    "rfComplete",   "rfAbort",      "rfDone"};
}  // namespace

const char* ReceiveStateName(int state) {
    constexpr int n = static_cast<int>(sizeof kReceiveNames / sizeof kReceiveNames[0]);
    return state >= 0 && state < n ? kReceiveNames[state] : "rfUnknown";
}

TFaxReceiver::TFaxReceiver(TOvxCustomReceiveFax& fax, TFaxLink& link) : TFaxMachine(fax, link), recv_(fax) {}

void TFaxReceiver::WaitForCall() {
    if (recv_.NormalBaud) link_.SetBaud(recv_.NormalBaud);
    Progress(fpWaiting);
    if (recv_.ConstantStatus) fax_.FireStatus(false, false);
    StopTimer();
    waitingForCall_ = true;
    Goto(rfWaiting);
}

void TFaxReceiver::RingLine(TResult r) {
    if (r == TResult::Ring) {
        if (++rings_ >= recv_.AnswerOnRing) {
            // The directory may have gone since the start: a fax that could not be stored is
            // not answered at all.
            if (!recv_.DestinationUsable()) {
                rings_ = 0;
                Fail(telvane::ecPathNotFound);
                return;
            }
            waitingForCall_ = false;
            Answer();
        }
    } else if (r == TResult::NoCarrier) {
        rings_ = 0;
        Progress(fpNoConnect);
    } else if (r == TResult::Connect) {
        Fail(ecFaxDataCall);
    } else if (r == TResult::Voice) {
        Fail(ecFaxVoiceCall);
    }
}

bool TFaxReceiver::Accept() {
    if (accepted_) return true;
    if (!recv_.AcceptFax()) {
        Reject();
        return false;
    }
    accepted_ = true;
    if (file_.isOpen()) return true;
    if (int rc = OpenFile()) {
        Fail(rc);
        return false;
    }
    return true;
}

int TFaxReceiver::OpenFile() {
    std::string name;
    if (int rc = recv_.CreateFaxFile(file_, fax_.RemoteID(), name)) return rc;
    fax_.SetFaxFile(name);
    pages_ = 0;
    fax_.SetPagesConfirmed(0);
    fax_.FireLog(lfaxReceiveStart);
    return 0;
}

void TFaxReceiver::CloseFile(int logCode) {
    if (file_.isOpen()) {
        // Only complete pages stay: an unfinished one is cut off before the file is closed.
        file_.setSenderId(fax_.RemoteID());
        file_.dropPage();
        file_.close();
    }
    if (logCode) {
        fax_.FireLog(logCode);
        fax_.SetFaxFile("");
    }
}

int TFaxReceiver::BeginPage(bool fine, bool wide) {
    uint16_t flags = 0;
    if (fine) flags |= telvane::faximage::FAX_FINE;
    if (wide) flags |= telvane::faximage::FAX_WIDE;
    // A page sent again replaces the unfinished one.
    file_.dropPage();
    if (int rc = file_.beginPage(flags)) return rc;
    check_.Reset();
    pageBytes_ = 0;
    fax_.SetPageInfo(pages_ + 1, pages_ + 1);
    StartData(true);
    return 0;
}

bool TFaxReceiver::StorePageData(const uint8_t* data, size_t len) {
    if (len == 0) return true;
    check_.Feed(data, len);
    pageBytes_ += static_cast<long>(len);
    fax_.SetBytes(pageBytes_, pageBytes_);
    // A page too long to be shown will be refused: its data is counted, no longer stored.
    if (check_.TooTall()) return true;
    if (int rc = file_.append(data, len)) {
        Fail(rc);
        return false;
    }
    return true;
}

int TFaxReceiver::KeepPage() {
    if (!file_.inPage()) return 0;
    file_.setSenderId(fax_.RemoteID());
    if (int rc = file_.endPage(true)) return rc;
    ++pages_;
    fax_.SetPageInfo(pages_, pages_);
    fax_.SetPagesConfirmed(pages_);
    return 0;
}

void TFaxReceiver::Fail(int code) {
    if (Finished()) return;
    Goto(rfAbort);
    StopTimer();
    sessionError_ = code;
    fax_.FireError(code);
    const bool hadCall = file_.isOpen() || accepted_;
    const bool hadFile = file_.isOpen();
    CloseFile(0);
    if (hadCall || code == ecFileRejected) {
        // Pages the sender was told had arrived stay; a file without any is not left behind.
        if (hadFile && pages_ == 0) std::remove(fax_.FaxFile().c_str());
        fax_.FireLog(code == ecFileRejected ? lfaxReceiveSkip : pages_ > 0 ? lfaxReceivePartial : lfaxReceiveFail);
        fax_.SetFaxFile("");
    }
    accepted_ = false;
    if (link_.Alive()) HangUp();
    waitingForCall_ = false;
    const bool endAll = recv_.ExitOnError || cancelled_ || !link_.Alive() || !recv_.FirstStartDone();
    if (endAll || recv_.OneFax) {
        Goto(rfDone);
        Status(false, true);
        fax_.FireFinish(code);
        Finish();
        return;
    }
    InitCall();
}

void TFaxReceiver::CallDone() {
    Goto(rfComplete);
    StopTimer();
    waitingForCall_ = false;
    if (recv_.OneFax) {
        Goto(rfDone);
        Status(false, true);
        fax_.FireFinish(0);
        Finish();
        return;
    }
    InitCall();
}

void TFaxReceiver::OnCancel() {
    Progress(fpCancel);
    Fail(ecCancelRequested);
}

void TFaxReceiver::OnDeviceLost() { Fail(-160); }

}  // namespace telvane::transport
