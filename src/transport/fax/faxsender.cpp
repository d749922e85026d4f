// What the send machines of every class share (see faxsender.h).
#include "transport/fax/faxsender.h"

#include <algorithm>

#include "faximage/mhcoder.h"
#include "transport/fax/faxsession.h"
#include "transport/fax/t30timers.h"
#include "transport/fax/t4fill.h"
#include "transport/ticks.h"

namespace telvane::transport {

namespace {
const char* const kSendNames[] = {
    "tfNone",      "tfGetEntry",   "tfInit",       "tf1Init1",    "tf2Init1",     "tf2Init1A",  "tf2Init1B",
    "tf2Init2",    "tf2Init3",     "tfDial",       "tfRetryWait", "tf1Connect",   "tf1SendTSI", "tf1TSIRespns",
    "tf1DCSRspns", "tf1TrainStrt", "tf1TrainFnsh", "tf1WaitCFR",  "tf1WaitPgCn",  "tf2Connect", "tf2GetParams",
    "tfWaitXon",   "tfWaitFrHead", "tfSndPgeHdr",  "tfOpenCover", "tfSendCover",  "tfPrepPage", "tfSendPage",
    "tfDrainPage", "tf1PageEnd",   "tf1PrepEOP",   "tf1SendEOP",  "tf1WaitMPS",   "tf1WaitEOP", "tf1WaitMCF",
    "tf1SendDCN",  "tf1Hangup",    "tf1WaitHngp",  "tf2SendEOP",  "tf2WaitFPTS",  "tf2WaitFET", "tf2WaitPgOK",
    "tf2SndNwPrm", "tf2NextPage",  "tf20ChckPg",   "tfClose",     "tfCompleteOK", "tfAbort",    "tfDone",
    "tf1EcmFrames"};
}  // namespace

const char* sendStateName(int state) {
    constexpr int n = static_cast<int>(sizeof kSendNames / sizeof kSendNames[0]);
    return state >= 0 && state < n ? kSendNames[state] : "tfUnknown";
}

TFaxSender::TFaxSender(TOvxCustomSendFax& fax, TFaxLink& link) : TFaxMachine(fax, link), send_(fax) {}

TFaxSender::~TFaxSender() = default;

void TFaxSender::getEntry() {
    goTo(tfGetEntry);
    if (!send_.nextFax(number_, file_, cover_)) {
        goTo(tfCompleteOK);
        endOfCall();
        return;
    }
    send_.ActivePhone = number_;
    haveFax_ = true;
    fax_.fireLog(lfaxTransmitStart);
    send_.setDialAttempt(0);
    fax_.setRemoteID("");
    fax_.setBytes(0, 0);
    pageIndex_ = 0;
    retries_ = 0;
    newFax();
    if (int rc = pages_.load(file_, cover_, send_.FaxFileExt)) {
        fail(rc);
        return;
    }
    fax_.setPageInfo(0, static_cast<int>(pages_.plan.size()));
    startFax();
}

bool TFaxSender::checkPages() {
    if (int rc = pages_.verify(file_, cover_)) {
        fail(rc);
        return false;
    }
    return true;
}

bool TFaxSender::dialFailed(TResult r) {
    if (r == TResult::Busy || r == TResult::NoAnswer)
        busyOrRetry(r == TResult::Busy);
    else if (r == TResult::Voice)
        fail(errors::ecFaxVoiceCall);
    else if (r == TResult::NoDialTone)
        fail(errors::ecFaxNoDialTone);
    else
        return false;
    return true;
}

void TFaxSender::busyOrRetry(bool busy) {
    send_.setDialAttempt(send_.DialAttempt() + 1);
    if (send_.DialAttempts == 0 || send_.DialAttempt() < send_.DialAttempts) {
        progress(busy ? fpBusyWait : fpNoAnswerWait);
        fax_.fireStatus(false, false);
        goTo(tfRetryWait);
        setTimer(send_.dialRetryWaitTicks());
        return;
    }
    fail(busy ? errors::ecFaxBusy : errors::ecFaxNoAnswer);
}

void TFaxSender::fail(int code) {
    if (finished()) return;
    goTo(tfAbort);
    stopTimer();
    normalStatusRhythm();
    wantRoom(false);
    wantEmpty(false);
    sessionError_ = code;
    fax_.fireError(code);
    pages_.reader[0].close();
    pages_.reader[1].close();
    const bool hadFax = haveFax_;
    if (haveFax_) {
        haveFax_ = false;
        fax_.fireLog(lfaxTransmitFail);
    }
    if (inData_) {
        // End the page data so that the modem reads commands again.
        link_.flushOut();
        const uint8_t end[2] = {hdlc::DLE, hdlc::ETX};
        link_.write(end, 2);
        inData_ = false;
    }
    if (link_.alive()) hangUp();
    if (send_.NormalBaud) link_.setBaud(send_.NormalBaud);
    const bool endAll = !hadFax || send_.ExitOnError || send_.AbortNoConnect || cancelled_ || !link_.alive();
    if (endAll) {
        endOfCall();
        return;
    }
    getEntry();
}

void TFaxSender::endOfCall() {
    stopTimer();
    Status(false, true);
    send_.sessionEnded();
    goTo(tfDone);
    fax_.fireFinish(sessionError_);
    finish();
}

void TFaxSender::faxDone() {
    goTo(tfClose);
    stopTimer();
    pages_.reader[0].close();
    pages_.reader[1].close();
    progress(fpFinished);
    haveFax_ = false;
    fax_.fireLog(lfaxTransmitOk);
    if (send_.NormalBaud) link_.setBaud(send_.NormalBaud);
    getEntry();
}

void TFaxSender::onCancel() {
    progress(fpCancel);
    fail(errors::ecCancelRequested);
}

void TFaxSender::onDeviceLost() { fail(-160); }

int TFaxSender::renderHeader(std::vector<uint8_t>& out, int& rows) {
    constexpr int kBlankRows = 8;
    for (int i = 0; i < kBlankRows; ++i)
        appendPaddedLine(telvane::faximage::kBlankLine1728, 6, static_cast<size_t>(minBytes_), out);
    int textRows = 0;
    const int rc =
        pages_.renderText(*pages_.headerText, substituteHeader(send_.HeaderLine, pages_.pageValues(pageIndex_)),
                          pages_.pageFine(pageIndex_), minBytes_, out, &textRows);
    rows = kBlankRows + textRows;
    return rc;
}

void TFaxSender::pageDataProgress() {
    fax_.setPageInfo(static_cast<int>(pageIndex_) + 1, static_cast<int>(pages_.plan.size()));
    progress(fpSendPage);
}

bool TFaxSender::preparePage(int scanTimeCode, long bps) {
    const TPagePlan& p = pages_.plan[pageIndex_];
    const bool fine = pages_.pageFine(pageIndex_);
    fax_.setPageInfo(static_cast<int>(pageIndex_) + 1, static_cast<int>(pages_.plan.size()));
    minBytes_ = t30::minBytesPerLine(scanTimeCode, fine, bps);
    pending_.clear();
    pendingPos_ = 0;
    pageBytes_ = 0;
    pageDone_ = false;
    inData_ = true;
    int headerRows = 0;
    if (!send_.HeaderLine.empty()) {
        goTo(tfSndPgeHdr);
        if (int rc = renderHeader(pending_, headerRows)) {
            fail(rc);
            return false;
        }
    }
    // The header takes the place of the page's top rows: the page keeps its paper's length.
    topRows_.reset(headerRows);
    if (p.TextCover) {
        goTo(tfOpenCover);
        const THeaderValues v = pages_.pageValues(pageIndex_);
        goTo(tfSendCover);
        for (const std::string& line : pages_.coverLines) {
            if (int rc = pages_.renderText(*pages_.coverText, substituteHeader(line, v), fine, minBytes_, pending_)) {
                fail(rc);
                return false;
            }
        }
        pending_.insert(pending_.end(), telvane::faximage::kPageEndBlock,
                        telvane::faximage::kPageEndBlock + sizeof telvane::faximage::kPageEndBlock);
        pageDone_ = true;
    } else {
        goTo(tfPrepPage);
        telvane::faximage::OvfPageHeader ph;
        if (pages_.reader[p.File].seekPage(p.Page, ph) != 0) {
            fail(errors::ecFaxBadFormat);
            return false;
        }
        pageLength_ = static_cast<long>(ph.imageLength);
        fax_.setBytes(0, pageLength_);
    }
    goTo(tfSendPage);
    wantRoom(true);
    return true;
}

int TFaxSender::nextPageData(std::vector<uint8_t>& out) {
    out.clear();
    if (pendingPos_ < pending_.size()) {
        const size_t take = std::min<size_t>(4096, pending_.size() - pendingPos_);
        out.assign(pending_.begin() + static_cast<long>(pendingPos_),
                   pending_.begin() + static_cast<long>(pendingPos_ + take));
        pendingPos_ += take;
        return 1;
    }
    if (pageDone_) return 0;
    const TPagePlan& p = pages_.plan[pageIndex_];
    const uint8_t* block = nullptr;
    size_t size = 0;
    bool isLine = false;
    std::vector<uint8_t> kept;
    for (;;) {
        const int more = pages_.reader[p.File].nextBlock(block, size, isLine);
        if (more <= 0) return more;
        pageBytes_ += static_cast<long>(size);
        if (isLine) {
            if (!topRows_.dropRecord(block, size)) break;
        } else {
            if (!topRows_.dropping()) break;
            kept.clear();
            topRows_.feedRaw(block, size, kept);
            if (!kept.empty()) {
                block = kept.data();
                size = kept.size();
                break;
            }
        }
    }
    if (isLine) {
        appendPaddedLine(block, size, static_cast<size_t>(minBytes_), out);
    } else if (TFillInserter* filler = rawDataFiller()) {
        // Raw T.4 data: fill bits before each EOL bring every line to the minimum.
        std::vector<uint8_t> filled;
        filler->feed(block, size, filled);
        hdlc::escapeDle(filled.data(), filled.size(), out);
    } else {
        hdlc::escapeDle(block, size, out);
    }
    fax_.setBytes(pageBytes_, pageLength_);
    return 1;
}

void TFaxSender::pumpPage() {
    std::vector<uint8_t> out;
    for (int n = 0; n < send_.MaxSendCount; ++n) {
        if (link_.outFree() < kRoomNeeded || link_.outUsed() > send_.BufferMinimum) break;
        const int more = nextPageData(out);
        if (more < 0) {
            fail(more);
            return;
        }
        if (more == 0) {
            endPageData();
            return;
        }
        if (!link_.write(out.data(), out.size())) {
            fail(-160);
            return;
        }
        dataBytes_ += static_cast<int64_t>(out.size());
        pageDataWritten(out.size());
    }
}

int TFaxSender::wholePageData(std::vector<uint8_t>& out) {
    out.clear();
    // Far more than any page of a fax file holds; a page beyond it is refused, not cut short.
    constexpr size_t kMaxPageBytes = size_t(64) << 20;
    hdlc::TDleDecoder plain(kMaxPageBytes);
    std::vector<uint8_t> piece;
    for (;;) {
        const int more = nextPageData(piece);
        if (more <= 0) {
            out = std::move(plain.Data());
            return more;
        }
        plain.feed(piece.data(), piece.size());
        if (plain.overflow()) return errors::ecFaxBadFormat;
    }
}

void TFaxSender::replacePageData(const std::vector<uint8_t>& coded) {
    pending_.clear();
    hdlc::escapeDle(coded.data(), coded.size(), pending_);
    pendingPos_ = 0;
    pageDone_ = true;
}

void TFaxSender::dataConnected() {
    dataStartMs_ = now();
    dataBytes_ = 0;
}

int64_t TFaxSender::lineTicksLeft(long bps) {
    if (bps <= 0) return 0;
    const int64_t lineMs = dataBytes_ * 8 * 1000 / bps;
    const int64_t elapsed = now() - dataStartMs_;
    return lineMs > elapsed ? msToTicks(lineMs - elapsed) + 1 : 0;
}

}  // namespace telvane::transport
