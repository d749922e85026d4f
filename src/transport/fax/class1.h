// The Class 1 send and receive machines: ITU-T T.30 run by this program over EIA/TIA-578
// commands ("AT+FTH=3", "AT+FRH=3", "AT+FTM=", "AT+FRM="). The state enums list every state of
// the shared send/receive machines in number order (Class 2 states included, since the numbers
// are what the dispatch log records); the Class 1 machines enter the shared and "1" states.
// Guarantees: every failure path closes the file, logs its code, hangs up and reports the
// error once; received pages are written raw with FAX_FINE/FAX_WIDE as negotiated, and a page
// is counted only once its post-page frame has arrived.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "transport/fax/faxframework.h"
#include "faximage/ovffile.h"
#include "transport/fax/faxmachine.h"
#include "transport/fax/faxpages.h"
#include "transport/fax/t4fill.h"

namespace telvane::faximage {
class FaxLineCoder;
class FaxTextRenderer;
}

namespace telvane::transport {

class TOvxCustomSendFax;
class TOvxCustomReceiveFax;

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
    tfDone
};
const char* SendStateName(int state);

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

// Bytes of a TCF at a speed: bps / 100 * 18 zero bytes, at most 8192.
size_t TcfLength(long bps);
// Whether a received TCF at `bps` is good: its length is that of 1.2 to 2.0 s of data (T.30
// asks 1.5 s +/- 10 %, and modems lose a little at either end) and fewer than 10 % of its
// bytes are non-zero.
bool TcfGood(size_t count, size_t nonZero, long bps);
// Appends one coded line padded with zero bytes to `minBytes`, DLE doubled.
void AppendPaddedLine(const uint8_t* line, size_t len, size_t minBytes, std::vector<uint8_t>& out);

class TClass1Sender final : public TFaxMachine {
public:
    TClass1Sender(TOvxCustomSendFax& fax, TFaxLink& link);
    ~TClass1Sender() override;

protected:
    void OnStart() override;
    void OnLine(TResult r, const std::string& line) override;
    void OnFrame(const hdlc::TFrame& frame) override;
    void OnFrameFailed(TResult r) override;
    void OnData(const uint8_t*, size_t, bool) override {}
    void OnTimeout() override;
    void OnOutput() override;
    void OnCancel() override;
    void OnDeviceLost() override;
    const char* StateName(int state) const override { return SendStateName(state); }

private:
    static constexpr int64_t kCommandPauseMs = 40;  // before "AT+FTH=3", "AT+FRH=3", "AT+FTM="...
    static constexpr int64_t kHangUpTicks = 26;     // awaiting OK to "ATH"
    static int RefusalCode(int state);
    // Writes a command that turns the line round after the T.30 signal gap (75 ms).
    void Turnaround(const std::string& cmd, int next);
    void RepeatTraining();
    // Sends a command and awaits its answer in `next` (the response timer is set).
    void Command(const std::string& cmd, int next);
    // "AT+FRH=3": the next frame is awaited in `next` for at most `ticks`.
    void AwaitFrame(int next, int64_t ticks);
    void StartUp();
    void GetEntry();
    void InitFax();
    void Dial();
    void BusyOrRetry();
    void Fail(int code);
    void EndOfCall();
    void AfterRemoteFrames();
    void SendDCS();
    void StartPage();
    bool PumpPage();
    void PagePumped();
    void PrepPostPage();
    void RepeatPostPage();
    void PostPageAnswer(const hdlc::TFrame& frame);
    void FaxDone();
    int RenderHeader(std::vector<uint8_t>& out);
    long Bps() const { return t30::SpeedBps(speed_); }

    TOvxCustomSendFax& send_;
    std::string number_, file_, cover_;
    TFaxPages pages_{send_};  // after send_
    size_t pageIndex_ = 0;
    t30::SpeedSet own_ = t30::kBaseSpeeds;
    t30::Capabilities remote_;
    bool gotDIS_ = false;
    bool framesSeen_ = false;
    int speed_ = 0;
    int minBytes_ = 0;
    int retries_ = 0;
    int sessionError_ = 0;
    bool haveFax_ = false;
    bool lastPage_ = false;
    int postPageFcf_ = 0;
    bool tcfSilence_ = false;  // "AT+FTS=" before the TCF has been sent
    bool inData_ = false;
    size_t lastOutUsed_ = 0;
    TFillInserter filler_;
    std::vector<uint8_t> pending_;
    size_t pendingPos_ = 0;
    long pageBytes_ = 0;
    long pageLength_ = 0;
    bool pageDone_ = false;
    // Bytes handed to the modem since its CONNECT for page data, and when that came: the tty
    // and the modem may still hold much of a page when our own buffer is empty.
    int64_t dataStartMs_ = 0;
    int64_t dataBytes_ = 0;
    int64_t LineTicksLeft();
};

class TClass1Receiver final : public TFaxMachine {
public:
    TClass1Receiver(TOvxCustomReceiveFax& fax, TFaxLink& link);

protected:
    void OnStart() override;
    void OnLine(TResult r, const std::string& line) override;
    void OnFrame(const hdlc::TFrame& frame) override;
    void OnFrameFailed(TResult r) override;
    void OnData(const uint8_t* data, size_t len, bool end) override;
    void OnTimeout() override;
    void OnCancel() override;
    void OnDeviceLost() override;
    const char* StateName(int state) const override { return ReceiveStateName(state); }

private:
    void StartUp();
    void InitCall();
    void SendIdent();
    void ReceiveFrames();
    // On CONNECT sends `fcf` as a final frame; true when the OK confirming it arrives.
    bool FrameSent(TResult r, uint8_t fcf);
    void Fail(int code);
    void CallDone();
    void CloseFile(int logCode);
    void NewSession();
    void RepeatIdent();
    void PostPageFrame(t30::Frame kind);

    static constexpr int64_t kCommandPauseMs = 40;
    static constexpr int64_t kHangUpTicks = 26;
    TOvxCustomReceiveFax& recv_;
    t30::SpeedSet own_ = t30::kBaseSpeeds;
    t30::DcsParams dcs_;
    bool gotDCS_ = false;
    int rings_ = 0;
    int identRepeats_ = 0;
    int64_t t1StartMs_ = 0;     // the call was answered (T1 runs from here)
    bool eopAnswered_ = false;  // MCF to EOP sent: a repeated EOP only gets MCF again
    int frameRetries_ = 0;
    int fcErrors_ = 0;  // "+FCERROR" answers to the training's "AT+FRM="
    int sessionError_ = 0;
    t30::Frame postPage_ = t30::Frame::Unknown;
    telvane::faximage::OvfWriter file_;
    bool accepted_ = false;
    bool trainingGood_ = false;
    bool frameSent_ = false;
    long pageBytes_ = 0;
    int pages_ = 0;
};

}  // namespace telvane::transport
