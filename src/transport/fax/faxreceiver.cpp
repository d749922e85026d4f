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

const char* receiveStateName(int state) {
    constexpr int n = static_cast<int>(sizeof kReceiveNames / sizeof kReceiveNames[0]);
    return state >= 0 && state < n ? kReceiveNames[state] : "rfUnknown";
}

TFaxReceiver::TFaxReceiver(TOvxCustomReceiveFax& fax, TFaxLink& link) : TFaxMachine(fax, link), recv_(fax) {}

void TFaxReceiver::waitForCall() {
    if (recv_.NormalBaud) link_.setBaud(recv_.NormalBaud);
    progress(fpWaiting);
    if (recv_.ConstantStatus) fax_.fireStatus(false, false);
    stopTimer();
    waitingForCall_ = true;
    goTo(rfWaiting);
}

void TFaxReceiver::ringLine(TResult r) {
    if (r == TResult::Ring) {
        if (++rings_ >= recv_.AnswerOnRing) {
            // The directory may have gone since the start: a fax that could not be stored is
            // not answered at all.
            if (!recv_.destinationUsable()) {
                rings_ = 0;
                fail(telvane::errors::ecPathNotFound);
                return;
            }
            waitingForCall_ = false;
            answer();
        }
    } else if (r == TResult::NoCarrier) {
        rings_ = 0;
        progress(fpNoConnect);
    } else if (r == TResult::Connect) {
        fail(errors::ecFaxDataCall);
    } else if (r == TResult::Voice) {
        fail(errors::ecFaxVoiceCall);
    }
}

bool TFaxReceiver::Accept() {
    if (accepted_) return true;
    if (!recv_.acceptFax()) {
        reject();
        return false;
    }
    accepted_ = true;
    if (file_.isOpen()) return true;
    if (int rc = openFile()) {
        fail(rc);
        return false;
    }
    return true;
}

int TFaxReceiver::openFile() {
    std::string name;
    if (int rc = recv_.CreateFaxFile(file_, fax_.remoteID(), name)) return rc;
    fax_.SetFaxFile(name);
    pages_ = 0;
    fax_.setPagesConfirmed(0);
    // Receive mode answers call after call: each fax counts its own lost lines.
    fax_.clearDamagedLines();
    fax_.fireLog(lfaxReceiveStart);
    return 0;
}

void TFaxReceiver::closeFile(int logCode) {
    if (file_.isOpen()) {
        // Only complete pages stay: an unfinished one is cut off before the file is closed.
        file_.setSenderId(fax_.remoteID());
        file_.dropPage();
        file_.close();
    }
    if (logCode) {
        fax_.fireLog(logCode);
        fax_.SetFaxFile("");
    }
}

int TFaxReceiver::beginPage(bool fine, bool wide, bool fromModem) {
    uint16_t flags = 0;
    if (fine) flags |= telvane::faximage::FAX_FINE;
    if (wide) flags |= telvane::faximage::FAX_WIDE;
    // A page sent again replaces the unfinished one.
    file_.dropPage();
    if (int rc = file_.beginPage(flags)) return rc;
    check_.reset();
    pageBytes_ = 0;
    fax_.setPageInfo(pages_ + 1, pages_ + 1);
    if (fromModem) startData(true);
    return 0;
}

bool TFaxReceiver::storePageData(const uint8_t* data, size_t len) {
    if (len == 0) return true;
    check_.feed(data, len);
    pageBytes_ += static_cast<long>(len);
    fax_.setBytes(pageBytes_, pageBytes_);
    // A page too long to be shown will be refused: its data is counted, no longer stored.
    if (check_.tooTall()) return true;
    if (int rc = file_.append(data, len)) {
        fail(rc);
        return false;
    }
    return true;
}

int TFaxReceiver::keepPage() {
    if (!file_.inPage()) return 0;
    file_.setSenderId(fax_.remoteID());
    if (int rc = file_.endPage(true)) return rc;
    ++pages_;
    fax_.setPageInfo(pages_, pages_);
    fax_.setPagesConfirmed(pages_);
    return 0;
}

void TFaxReceiver::fail(int code) {
    if (finished()) return;
    goTo(rfAbort);
    stopTimer();
    sessionError_ = code;
    fax_.fireError(code);
    const bool hadCall = file_.isOpen() || accepted_;
    const bool hadFile = file_.isOpen();
    closeFile(0);
    if (hadCall || code == errors::ecFileRejected) {
        // Pages the sender was told had arrived stay; a file without any is not left behind.
        if (hadFile && pages_ == 0) std::remove(fax_.FaxFile().c_str());
        fax_.fireLog(code == errors::ecFileRejected ? lfaxReceiveSkip
                     : pages_ > 0                   ? lfaxReceivePartial
                                                    : lfaxReceiveFail);
        fax_.SetFaxFile("");
    }
    accepted_ = false;
    if (link_.alive()) hangUp();
    waitingForCall_ = false;
    const bool endAll = recv_.ExitOnError || cancelled_ || !link_.alive() || !recv_.firstStartDone();
    if (endAll || recv_.OneFax) {
        goTo(rfDone);
        Status(false, true);
        fax_.fireFinish(code);
        finish();
        return;
    }
    initCall();
}

void TFaxReceiver::callDone() {
    goTo(rfComplete);
    stopTimer();
    waitingForCall_ = false;
    if (recv_.OneFax) {
        goTo(rfDone);
        Status(false, true);
        fax_.fireFinish(0);
        finish();
        return;
    }
    initCall();
}

void TFaxReceiver::onCancel() {
    progress(fpCancel);
    fail(errors::ecCancelRequested);
}

void TFaxReceiver::onDeviceLost() { fail(-160); }

}  // namespace telvane::transport
