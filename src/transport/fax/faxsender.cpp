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
    "tf2SndNwPrm", "tf2NextPage",  "tf20ChckPg",   "tfClose",     "tfCompleteOK", "tfAbort",    "tfDone"};
}  // namespace

const char* SendStateName(int state) {
    constexpr int n = static_cast<int>(sizeof kSendNames / sizeof kSendNames[0]);
    return state >= 0 && state < n ? kSendNames[state] : "tfUnknown";
}

TFaxSender::TFaxSender(TOvxCustomSendFax& fax, TFaxLink& link) : TFaxMachine(fax, link), send_(fax) {}

TFaxSender::~TFaxSender() = default;

void TFaxSender::GetEntry() {
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
    fax_.SetBytes(0, 0);
    pageIndex_ = 0;
    retries_ = 0;
    NewFax();
    if (int rc = pages_.Load(file_, cover_, send_.FaxFileExt)) {
        Fail(rc);
        return;
    }
    fax_.SetPageInfo(0, static_cast<int>(pages_.plan.size()));
    StartFax();
}

bool TFaxSender::CheckPages() {
    if (int rc = pages_.Verify(file_, cover_)) {
        Fail(rc);
        return false;
    }
    return true;
}

bool TFaxSender::DialFailed(TResult r) {
    if (r == TResult::Busy || r == TResult::NoAnswer)
        BusyOrRetry(r == TResult::Busy);
    else if (r == TResult::Voice)
        Fail(ecFaxVoiceCall);
    else if (r == TResult::NoDialTone)
        Fail(ecFaxNoDialTone);
    else
        return false;
    return true;
}

void TFaxSender::BusyOrRetry(bool busy) {
    send_.SetDialAttempt(send_.DialAttempt() + 1);
    if (send_.DialAttempts == 0 || send_.DialAttempt() < send_.DialAttempts) {
        Progress(busy ? fpBusyWait : fpNoAnswerWait);
        fax_.FireStatus(false, false);
        Goto(tfRetryWait);
        SetTimer(send_.DialRetryWaitTicks());
        return;
    }
    Fail(busy ? ecFaxBusy : ecFaxNoAnswer);
}

void TFaxSender::Fail(int code) {
    if (Finished()) return;
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

void TFaxSender::EndOfCall() {
    StopTimer();
    Status(false, true);
    send_.SessionEnded();
    Goto(tfDone);
    fax_.FireFinish(sessionError_);
    Finish();
}

void TFaxSender::FaxDone() {
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

void TFaxSender::OnCancel() {
    Progress(fpCancel);
    Fail(ecCancelRequested);
}

void TFaxSender::OnDeviceLost() { Fail(-160); }

int TFaxSender::RenderHeader(std::vector<uint8_t>& out, int& rows) {
    constexpr int kBlankRows = 8;
    for (int i = 0; i < kBlankRows; ++i)
        AppendPaddedLine(telvane::faximage::kBlankLine1728, 6, static_cast<size_t>(minBytes_), out);
    int textRows = 0;
    const int rc =
        pages_.RenderText(*pages_.headerText, SubstituteHeader(send_.HeaderLine, pages_.PageValues(pageIndex_)),
                          pages_.PageFine(pageIndex_), minBytes_, out, &textRows);
    rows = kBlankRows + textRows;
    return rc;
}

bool TFaxSender::PreparePage(int scanTimeCode, long bps) {
    const TPagePlan& p = pages_.plan[pageIndex_];
    const bool fine = pages_.PageFine(pageIndex_);
    fax_.SetPageInfo(static_cast<int>(pageIndex_) + 1, static_cast<int>(pages_.plan.size()));
    minBytes_ = t30::MinBytesPerLine(scanTimeCode, fine, bps);
    pending_.clear();
    pendingPos_ = 0;
    pageBytes_ = 0;
    pageDone_ = false;
    inData_ = true;
    int headerRows = 0;
    if (!send_.HeaderLine.empty()) {
        Goto(tfSndPgeHdr);
        if (int rc = RenderHeader(pending_, headerRows)) {
            Fail(rc);
            return false;
        }
    }
    // The header takes the place of the page's top rows: the page keeps its paper's length.
    topRows_.Reset(headerRows);
    if (p.TextCover) {
        Goto(tfOpenCover);
        const THeaderValues v = pages_.PageValues(pageIndex_);
        Goto(tfSendCover);
        for (const std::string& line : pages_.coverLines) {
            if (int rc = pages_.RenderText(*pages_.coverText, SubstituteHeader(line, v), fine, minBytes_, pending_)) {
                Fail(rc);
                return false;
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
            return false;
        }
        pageLength_ = static_cast<long>(ph.imageLength);
        fax_.SetBytes(0, pageLength_);
    }
    Goto(tfSendPage);
    WantRoom(true);
    return true;
}

int TFaxSender::NextPageData(std::vector<uint8_t>& out) {
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
            if (!topRows_.DropRecord(block, size)) break;
        } else {
            if (!topRows_.Dropping()) break;
            kept.clear();
            topRows_.FeedRaw(block, size, kept);
            if (!kept.empty()) {
                block = kept.data();
                size = kept.size();
                break;
            }
        }
    }
    if (isLine) {
        AppendPaddedLine(block, size, static_cast<size_t>(minBytes_), out);
    } else if (TFillInserter* filler = RawDataFiller()) {
        // Raw T.4 data: fill bits before each EOL bring every line to the minimum.
        std::vector<uint8_t> filled;
        filler->Feed(block, size, filled);
        hdlc::EscapeDle(filled.data(), filled.size(), out);
    } else {
        hdlc::EscapeDle(block, size, out);
    }
    fax_.SetBytes(pageBytes_, pageLength_);
    return 1;
}

void TFaxSender::PumpPage() {
    std::vector<uint8_t> out;
    for (int n = 0; n < send_.MaxSendCount; ++n) {
        if (link_.OutFree() < kRoomNeeded || link_.OutUsed() > send_.BufferMinimum) break;
        const int more = NextPageData(out);
        if (more < 0) {
            Fail(more);
            return;
        }
        if (more == 0) {
            EndPageData();
            return;
        }
        if (!link_.Write(out.data(), out.size())) {
            Fail(-160);
            return;
        }
        dataBytes_ += static_cast<int64_t>(out.size());
        PageDataWritten(out.size());
    }
}

void TFaxSender::DataConnected() {
    dataStartMs_ = Now();
    dataBytes_ = 0;
}

int64_t TFaxSender::LineTicksLeft(long bps) {
    if (bps <= 0) return 0;
    const int64_t lineMs = dataBytes_ * 8 * 1000 / bps;
    const int64_t elapsed = Now() - dataStartMs_;
    return lineMs > elapsed ? MsToTicks(lineMs - elapsed) + 1 : 0;
}

}  // namespace telvane::transport
