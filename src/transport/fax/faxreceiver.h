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
const char* ReceiveStateName(int state);

// The state changes every receive machine makes: rings to the answer, a page begun to its data,
// the end of a call to the next one or to the end. Each class adds its own (StateChanges()), with
// rfAbort as the abort state and rfDone as the last.
inline constexpr TStateEdges kReceiveSharedEdges[] = {
    {rfWaiting, States({rfAnswer})},
    {rfStartPage, States({rfGtPgDta})},
    {rfComplete, States({rfInit, rfDone})},
    {rfAbort, States({rfInit, rfDone})},
};

class TFaxReceiver : public TFaxMachine {
protected:
    TFaxReceiver(TOvxCustomReceiveFax& fax, TFaxLink& link);

    void OnCancel() override;
    void OnDeviceLost() override;
    const char* StateName(int state) const override { return ReceiveStateName(state); }

    // --- hooks of the class's machine ---
    // Sets the modem up for the next call and waits for it (WaitForCall once it is ready).
    virtual void InitCall() = 0;
    // Enough rings: answers the call.
    virtual void Answer() = 0;
    // The fax is refused by the accept question.
    virtual void Reject() = 0;

    // The modem is ready: waits for rings (RingLine takes the lines that come meanwhile).
    void WaitForCall();
    // A line while waiting: rings up to Answer(); a data or voice call fails.
    void RingLine(TResult r);
    // The accept question, asked once a call: true when the fax is taken and its file is open;
    // false when it was refused (Reject) or its file could not be made (the call has failed).
    bool Accept();
    // Creates the fax file exclusively under a free name, never over an existing fax, and logs the
    // start of the fax; 0 or an error code.
    int OpenFile();
    // Closes the fax file with only its complete pages; with a log code, logs the fax as ended.
    void CloseFile(int logCode);
    // Starts a page in the fax file (an unfinished one is dropped) and the page data; 0 or an
    // error code.
    int BeginPage(bool fine, bool wide);
    // Appends received page data to the page; false when the file failed (the call has failed).
    bool StorePageData(const uint8_t* data, size_t len);
    // Completes the page being received, if any, and counts it; 0 or an error code.
    int KeepPage();
    // Ends the call with `code`: closes the file and logs the fax as failed or skipped, hangs up;
    // then the next call, or the end when the error ends it all.
    virtual void Fail(int code);
    // The call is over: the next call, or the end when only one fax was to be received.
    void CallDone();

    TOvxCustomReceiveFax& recv_;
    telvane::faximage::OvfWriter file_;
    bool accepted_ = false;
    int rings_ = 0;
    int pages_ = 0;  // pages kept in the fax file
    long pageBytes_ = 0;
    int sessionError_ = 0;
};

}  // namespace telvane::transport
