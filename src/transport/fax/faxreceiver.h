// What the receive machines of every class share: the states of a receive session (in number
// order, as the dispatch log records them), waiting for rings, the accept question and the fax
// file of a call, the pages written into it (begun, stored, kept or dropped), closing the file
// with its log entry, the failure of a call, and the end of a call with the next one or the end.
// The class's own machine drives the modem and its protocol through the hooks below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "faximage/ovffile.h"
#include "transport/fax/faxmachine.h"
#include "transport/fax/pagecheck.h"

namespace telvane::transport {

class TOvxCustomReceiveFax;

enum TReceiveState {
    rfNone,
    rfInit,
    rf1Init1,
    rf2Init1,
    rf2Init1A,
    rf2Init1B,
    rf2Init2,
    rf2Init3,
    rfWaiting,
    rfAnswer,
    rf1SendCSI,
    rf1SendDIS,
    rf1CollFrms,
    rf1CollRtry1,
    rf1CollRtry2,
    rf1StrtTrn,
    rf1CollTrn,
    rf1Timeout,
    rf1Retrain,
    rf1FinTrn,
    rf1SendCFR,
    rf1WtPgCnnct,
    rf2ValCnnct,
    rf2GtSndID,
    rf2GtCnnct,
    rfStartPage,
    rfGtPgDta,
    rf1FinPage,
    rf1WaitEOP,
    rf1WritePage,
    rf1SendMCF,
    rf1WaitDCN,
    rf1WtHngp,
    rf2GtPgRslt,
    rf2GetFHNG,
    rfComplete,
    rfAbort,
    rfDone
};
const char* receiveStateName(int state);

// The state changes every receive machine makes: rings to the answer, a page begun to its data,
// the end of a call to the next one or to the end. Each class adds its own (stateChanges()), with
// rfAbort as the abort state and rfDone as the last.
inline constexpr TStateEdges kReceiveSharedEdges[] = {
    {rfWaiting, states({rfAnswer})},
    {rfStartPage, states({rfGtPgDta})},
    {rfComplete, states({rfInit, rfDone})},
    {rfAbort, states({rfInit, rfDone})},
};

class TFaxReceiver : public TFaxMachine {
protected:
    TFaxReceiver(TOvxCustomReceiveFax& fax, TFaxLink& link);

    void onCancel() override;
    void onDeviceLost() override;
    const char* stateName(int state) const override { return receiveStateName(state); }

    // --- hooks of the class's machine ---
    // Sets the modem up for the next call and waits for it (WaitForCall once it is ready).
    virtual void initCall() = 0;
    // Enough rings: answers the call.
    virtual void answer() = 0;
    // The fax is refused by the accept question.
    virtual void reject() = 0;

    // The modem is ready: waits for rings (RingLine takes the lines that come meanwhile).
    void waitForCall();
    // A line while waiting: rings up to answer(); a data or voice call fails.
    void ringLine(TResult r);
    // The accept question, asked once a call: true when the fax is taken and its file is open;
    // false when it was refused (Reject) or its file could not be made (the call has failed).
    bool Accept();
    // Creates the fax file exclusively under a free name, never over an existing fax, and logs the
    // start of the fax; 0 or an error code.
    int openFile();
    // Closes the fax file with only its complete pages; with a log code, logs the fax as ended.
    void closeFile(int logCode);
    // Starts a page in the fax file (an unfinished one is dropped) and, unless the data is already
    // in hand (`fromModem` false), the modem's page data; 0 or an error code.
    int beginPage(bool fine, bool wide, bool fromModem = true);
    // Appends received page data (in T.4 bit order) to the page and looks at its lines; false
    // when the file failed (the call has failed). A page longer than the readers can show is
    // not stored beyond that length (it will not be kept).
    bool storePageData(const uint8_t* data, size_t len);
    // Whether a page is being received (begun and neither kept nor dropped).
    bool inPage() const { return file_.inPage(); }
    // The verdict on the page received (its data complete).
    TPageVerdict pageVerdict() { return check_.finish(); }
    // Damaged lines that never reached storePageData: 2-D page data coded into MH drops them.
    void pageLinesLost(long lines) { check_.addLostLines(lines); }
    // Completes the page being received, if any, and counts it; 0 or an error code.
    int keepPage();
    // Takes the page being received out of the file.
    void dropPage() { file_.dropPage(); }
    // Ends the call with `code`: closes the file, hangs up; a fax whose confirmed pages are kept
    // is logged as received in part, one without any leaves no file and is logged as failed (or
    // skipped); then the next call, or the end when the error ends it all.
    virtual void fail(int code);
    // The call is over: the next call, or the end when only one fax was to be received.
    void callDone();

    TOvxCustomReceiveFax& recv_;
    telvane::faximage::OvfWriter file_;
    bool accepted_ = false;
    int rings_ = 0;
    int pages_ = 0;  // pages kept in the fax file
    long pageBytes_ = 0;
    int sessionError_ = 0;

private:
    TPageCheck check_;
};

}  // namespace telvane::transport
