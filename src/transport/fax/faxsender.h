// What the send machines of every class share: the states of a send session (in number order,
// as the dispatch log records them), the call list (the next fax, its files and page plan), the
// busy redial, the failure that ends one fax or the whole call, the end of a fax sent, and the
// page data handed to the modem (header line, text cover, file pages with the minimum line
// length). The class's own machine drives the modem and its protocol through the hooks below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "transport/fax/faxmachine.h"
#include "transport/fax/faxpages.h"
#include "transport/fax/t4rows.h"

namespace telvane::transport {

class TOvxCustomSendFax;
class TFillInserter;

enum TSendState {
    tfNone,
    tfGetEntry,
    tfInit,
    tf1Init1,
    tf2Init1,
    tf2Init1A,
    tf2Init1B,
    tf2Init2,
    tf2Init3,
    tfDial,
    tfRetryWait,
    tf1Connect,
    tf1SendTSI,
    tf1TSIRespns,
    tf1DCSRspns,
    tf1TrainStrt,
    tf1TrainFnsh,
    tf1WaitCFR,
    tf1WaitPgCn,
    tf2Connect,
    tf2GetParams,
    tfWaitXon,
    tfWaitFrHead,
    tfSndPgeHdr,
    tfOpenCover,
    tfSendCover,
    tfPrepPage,
    tfSendPage,
    tfDrainPage,
    tf1PageEnd,
    tf1PrepEOP,
    tf1SendEOP,
    tf1WaitMPS,
    tf1WaitEOP,
    tf1WaitMCF,
    tf1SendDCN,
    tf1Hangup,
    tf1WaitHngp,
    tf2SendEOP,
    tf2WaitFPTS,
    tf2WaitFET,
    tf2WaitPgOK,
    tf2SndNwPrm,
    tf2NextPage,
    tf20ChckPg,
    tfClose,
    tfCompleteOK,
    tfAbort,
    tfDone,
    tf1EcmFrames  // Class 1 with error correction: the FCD and RCP frames of a block go out
};
const char* sendStateName(int state);

// The state changes every send machine makes: the call list, the busy redial, the page data
// readied for the modem and the end of a fax or of the call. Each class adds its own
// (stateChanges()), with tfAbort as the abort state and tfDone as the last.
inline constexpr TStateEdges kSendSharedEdges[] = {
    {tfGetEntry, states({tfCompleteOK})},
    {tfRetryWait, states({tfDial})},
    {tfWaitFrHead, states({tfSndPgeHdr, tfOpenCover, tfPrepPage})},
    {tfSndPgeHdr, states({tfOpenCover, tfPrepPage})},
    {tfOpenCover, states({tfSendCover})},
    {tfSendCover, states({tfSendPage})},
    {tfPrepPage, states({tfSendPage})},
    {tfClose, states({tfGetEntry})},
    {tfCompleteOK, states({tfDone})},
    {tfAbort, states({tfGetEntry, tfDone})},
};

class TFaxSender : public TFaxMachine {
public:
    ~TFaxSender() override;

protected:
    TFaxSender(TOvxCustomSendFax& fax, TFaxLink& link);

    void onCancel() override;
    void onDeviceLost() override;
    const char* stateName(int state) const override { return sendStateName(state); }

    // --- hooks of the class's machine ---
    // Resets for a fax just taken from the call list, before its files are read.
    virtual void newFax() {}
    // The fax's pages are planned: checks them (CheckPages) and sets the modem up for the call.
    virtual void startFax() = 0;
    // All data of the page has been handed to the modem: ends it as the class does.
    virtual void endPageData() = 0;
    // A piece of page data of `bytes` bytes has been handed to the modem.
    virtual void pageDataWritten(size_t /*bytes*/) {}
    // The fill for raw T.4 page data when the class pads its lines to the minimum (nullptr: none).
    virtual TFillInserter* rawDataFiller() { return nullptr; }

    // --- the call list ---
    // Takes the next fax of the call list, or ends the call when none is left.
    void getEntry();
    // Checks the planned pages before the call; false when the fax has failed.
    bool checkPages();
    // The answers to a dial that every class handles alike: busy or no answer (BusyOrRetry), a
    // voice call, no dial tone; true when `r` was one of them.
    bool dialFailed(TResult r);
    // Busy, or nobody answered: waits to dial again while attempts are left (progress 4803 or
    // 4809), else the fax fails (-8064 or -8074).
    void busyOrRetry(bool busy);
    // Ends the fax with `code`: closes its files, logs the failure, ends page data the modem is
    // taking, hangs up; then the next fax, or the end of the call when the error ends it all.
    virtual void fail(int code);
    void endOfCall();
    // The fax has been sent: closes its files, logs it, then the next fax.
    void faxDone();

    // --- page data ---
    // The page data of page pageIndex_ begins: its number is set before the status says so, so
    // that no display shows the page before it (or none) while this one is being sent.
    void pageDataProgress();
    // Readies page pageIndex_ for sending at the session's scan time code and speed: the
    // minimum bytes per line, the header line and text cover drawn into pending data, or the
    // page found in its fax file. Ends in tfSendPage; false when the fax has failed.
    bool preparePage(int scanTimeCode, long bps);
    // Hands page data to the modem while its output buffer has room; endPageData() once the
    // page is out. A damaged page fails the fax instead of passing as sent.
    void pumpPage();
    bool lastPage() const { return pageIndex_ + 1 >= pages_.plan.size(); }
    // The whole page readied by preparePage() as plain T.4 MH data (DLE not doubled), for a
    // class that codes the page again before it goes out: 0, or an error code below zero.
    int wholePageData(std::vector<uint8_t>& out);
    // The page readied by preparePage() as the class coded it again (plain, DLE not doubled):
    // pumpPage() hands this to the modem in its place.
    void replacePageData(const std::vector<uint8_t>& coded);
    // The modem said CONNECT for page data: from now on the bytes handed to it are counted.
    void dataConnected();
    // `lineBytes` more bytes go out on the carrier since dataConnected(), handed over by the
    // class itself rather than through pumpPage() (an ECM block's HDLC bit stream).
    void dataQueued(size_t lineBytes) { dataBytes_ += static_cast<int64_t>(lineBytes); }
    // Ticks the modem still needs to put the page data handed to it since dataConnected() on the
    // line at `bps`: the tty and the modem may still hold much of a page when our own buffer is
    // empty, and the answer to the page cannot come before that.
    int64_t lineTicksLeft(long bps);

    TOvxCustomSendFax& send_;
    std::string number_, file_, cover_;
    TFaxPages pages_{send_};  // after send_
    size_t pageIndex_ = 0;
    int minBytes_ = 0;
    int retries_ = 0;
    int sessionError_ = 0;
    bool haveFax_ = false;
    bool inData_ = false;  // page data is being handed to the modem (ended by DLE ETX)
    long pageBytes_ = 0;
    long pageLength_ = 0;

private:
    // Draws the header line into `out`; `rows` receives the rows it takes.
    int renderHeader(std::vector<uint8_t>& out, int& rows);
    // The next piece of page data, DLE doubled, in `out`: 1, or 0 when the page is all out
    // (nothing in `out`), or an error code below zero.
    int nextPageData(std::vector<uint8_t>& out);

    // Bytes handed to the modem since its CONNECT for page data, and when that came.
    int64_t dataStartMs_ = 0;
    int64_t dataBytes_ = 0;
    std::vector<uint8_t> pending_;  // drawn header line and text cover, sent before file data
    size_t pendingPos_ = 0;
    bool pageDone_ = false;  // the page is all in pending_ (a text cover)
    TRowDropper topRows_;    // a file page's top rows, whose place the header line takes
};

}  // namespace telvane::transport
