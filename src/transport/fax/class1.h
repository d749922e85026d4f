// The Class 1 send and receive machines: ITU-T T.30 run by this program over EIA/TIA-578
// commands ("AT+FTH=3", "AT+FRH=3", "AT+FTM=", "AT+FRM="). They enter the shared and "1" states
// of the send and receive state lists (faxsender.h, faxreceiver.h).
// Guarantees: every failure path closes the file, logs its code, hangs up and reports the
// error once; received pages are written raw with FAX_FINE/FAX_WIDE as negotiated, and a page
// is counted only once its post-page frame has arrived.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "transport/fax/faxframework.h"
#include "transport/fax/faxreceiver.h"
#include "transport/fax/faxsender.h"
#include "transport/fax/t4fill.h"

namespace telvane::transport {

class TOvxCustomSendFax;
class TOvxCustomReceiveFax;

// Bytes of a TCF at a speed: bps / 100 * 18 zero bytes, at most 8192.
size_t TcfLength(long bps);
// Whether a received TCF at `bps` is good: its length is that of 1.2 to 2.0 s of data (T.30
// asks 1.5 s +/- 10 %, and modems lose a little at either end) and fewer than 10 % of its
// bytes are non-zero.
bool TcfGood(size_t count, size_t nonZero, long bps);

class TClass1Sender final : public TFaxSender {
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
    const TStateChanges& StateChanges() const override;
    void StartFax() override;
    void EndPageData() override;
    void PageDataWritten(size_t bytes) override;
    TFillInserter* RawDataFiller() override { return minBytes_ > 0 ? &filler_ : nullptr; }

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
    void Dial();
    void AfterRemoteFrames();
    void SendDCS();
    void StartPage();
    void PagePumped();
    void PrepPostPage();
    void RepeatPostPage();
    void PostPageAnswer(const hdlc::TFrame& frame);
    long Bps() const { return t30::SpeedBps(speed_); }
    // The modem's lines in each state (OnLine).
    void tf1Init1Line(TResult r);
    void tf1ConnectLine(TResult r);
    void tf1SendTSILine(TResult r);
    void tf1TSIRespnsLine(TResult r);
    void tf1DCSRspnsLine(TResult r);
    void tf1TrainStrtLine(TResult r);
    void tf1TrainFnshLine(TResult r);
    void tf1WaitPgCnLine(TResult r);
    void tfDrainPageLine(TResult r);
    void tf1PageEndLine(TResult r);
    void tf1SendEOPLine(TResult r);
    void tf1WaitMPSLine(TResult r);
    void tf1SendDCNLine(TResult r);
    void tf1HangupLine(TResult r);
    void tf1WaitHngpLine(TResult r);

    t30::SpeedSet own_ = t30::kBaseSpeeds;
    t30::Capabilities remote_;
    bool gotDIS_ = false;
    bool framesSeen_ = false;
    int speed_ = 0;
    bool lastPage_ = false;
    int postPageFcf_ = 0;
    bool tcfSilence_ = false;  // "AT+FTS=" before the TCF has been sent
    size_t lastOutUsed_ = 0;
    TFillInserter filler_;
    // Bytes handed to the modem since its CONNECT for page data, and when that came: the tty
    // and the modem may still hold much of a page when our own buffer is empty.
    int64_t dataStartMs_ = 0;
    int64_t dataBytes_ = 0;
    int64_t LineTicksLeft();
};

class TClass1Receiver final : public TFaxReceiver {
public:
    TClass1Receiver(TOvxCustomReceiveFax& fax, TFaxLink& link);

protected:
    void OnStart() override;
    void OnLine(TResult r, const std::string& line) override;
    void OnFrame(const hdlc::TFrame& frame) override;
    void OnFrameFailed(TResult r) override;
    void OnData(const uint8_t* data, size_t len, bool end) override;
    void OnTimeout() override;
    const TStateChanges& StateChanges() const override;
    void InitCall() override;
    void Answer() override;
    void Reject() override;

private:
    void StartUp();
    void SendIdent();
    void ReceiveFrames();
    // On CONNECT sends `fcf` as a final frame; true when the OK confirming it arrives.
    bool FrameSent(TResult r, uint8_t fcf);
    void RepeatIdent();
    void StartTraining();
    void AwaitPage();
    void PostPageFrame(t30::Frame kind);
    void SendMCF();
    // The modem's lines in each state (OnLine).
    void rf1Init1Line(TResult r);
    void rfAnswerLine(TResult r);
    void rf1SendCSILine(TResult r);
    void rf1SendDISLine(TResult r);
    void rf1CollRtry2Line(TResult r);
    void rf1StrtTrnLine(TResult r, const std::string& line);
    void rf1FinTrnLine(TResult r);
    void rf1RetrainLine(TResult r);
    void rf1SendCFRLine(TResult r);
    void rf1WtPgCnnctLine(TResult r);
    void rf1FinPageLine(TResult r);
    void rf1SendMCFLine(TResult r);
    void rf1WtHngpLine(TResult r);

    static constexpr int64_t kCommandPauseMs = 40;
    static constexpr int64_t kHangUpTicks = 26;
    t30::SpeedSet own_ = t30::kBaseSpeeds;
    t30::DcsParams dcs_;
    bool gotDCS_ = false;
    int identRepeats_ = 0;
    int64_t t1StartMs_ = 0;     // the call was answered (T1 runs from here)
    bool eopAnswered_ = false;  // MCF to EOP sent: a repeated EOP only gets MCF again
    int frameRetries_ = 0;
    int fcErrors_ = 0;  // "+FCERROR" answers to the training's "AT+FRM="
    t30::Frame postPage_ = t30::Frame::Unknown;
    bool trainingGood_ = false;
    bool frameSent_ = false;
};

}  // namespace telvane::transport
