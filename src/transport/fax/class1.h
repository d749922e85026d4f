// The Class 1 send and receive machines: ITU-T T.30 run by this program over EIA/TIA-578
// commands ("AT+FTH=3", "AT+FRH=3", "AT+FTM=", "AT+FRM="). They enter the shared and "1" states
// of the send and receive state lists (faxsender.h, faxreceiver.h).
// Guarantees: every failure path closes the file, logs its code, hangs up and reports the
// error once; received pages are written raw with FAX_FINE/FAX_WIDE as negotiated, and a page
// is counted only once its post-page frame has arrived and it is answered MCF or RTP; no page
// is confirmed that did not arrive or that the readers could not show. With error correction
// (T.30 Annex A) pages travel in blocks of HDLC frames framed here and sent as page data; a
// received page, whatever its coding, is stored in MH, keeping what arrived of a block given up.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "transport/fax/ecmblock.h"
#include "transport/fax/faxframework.h"
#include "transport/fax/faxreceiver.h"
#include "transport/fax/faxsender.h"
#include "transport/fax/t4fill.h"
#include "faximage/transcode.h"

namespace telvane::transport {

class TOvxCustomSendFax;
class TOvxCustomReceiveFax;

// Bytes of a TCF at a speed: bps / 100 * 18 zero bytes, at most 8192.
size_t tcfLength(long bps);
// Whether a received TCF at `bps` is good: its length is that of 1.2 to 2.0 s of data (T.30
// asks 1.5 s +/- 10 %, and modems lose a little at either end) and fewer than 10 % of its
// bytes are non-zero.
bool tcfGood(size_t count, size_t nonZero, long bps);

class TClass1Sender final : public TFaxSender {
public:
    TClass1Sender(TOvxCustomSendFax& fax, TFaxLink& link);
    ~TClass1Sender() override;

protected:
    void onStart() override;
    void onLine(TResult r, const std::string& line) override;
    void onFrame(const hdlc::TFrame& frame) override;
    void onFrameFailed(TResult r) override;
    void onData(const uint8_t*, size_t, bool) override {}
    void onTimeout() override;
    void onOutput() override;
    const TStateChanges& stateChanges() const override;
    void startFax() override;
    void endPageData() override;
    void pageDataWritten(size_t bytes) override;
    TFillInserter* rawDataFiller() override { return minBytes_ > 0 ? &filler_ : nullptr; }

private:
    static constexpr int64_t kCommandPauseMs = 40;  // before "AT+FTH=3", "AT+FRH=3", "AT+FTM="...
    static constexpr int64_t kHangUpTicks = 26;     // awaiting OK to "ATH"
    static int refusalCode(int state);
    // Writes a command that turns the line round after the T.30 signal gap (75 ms).
    void turnaround(const std::string& cmd, int next);
    void repeatTraining();
    // The code a failure of phase B fails the fax with: the RTN error while training again
    // after RTN, else `code`.
    int trainingError(int code) const;
    // Sends a command and awaits its answer in `next` (the response timer is set).
    void command(const std::string& cmd, int next, int64_t pauseMs = kCommandPauseMs);
    // "AT+FRH=3": the next frame is awaited in `next` for at most `ticks`.
    void awaitFrame(int next, int64_t ticks);
    void startUp();
    void dial();
    void onFrameStart() override;
    void listenForDis();
    void awaitPhaseB();
    void afterRemoteFrames();
    void sendDCS();
    void startPage();
    // The page readied by preparePage() coded as chosen for this call into `out` (plain, DLE
    // not doubled), each MR line at least `minLineBits` long: 0, or an error code below zero.
    int codePage(std::vector<uint8_t>& out, int minLineBits);
    void pagePumped();
    void prepPostPage();
    void repeatPostPage();
    void postPageAnswer(const hdlc::TFrame& frame);
    // The far end has the page (MCF or RTP): the next page, phase B after EOM, or DCN.
    void pageArrived(bool retrain);
    // The command that starts page data (and the frames of error correction).
    std::string pageCarrier(bool longTraining) const;
    long bps() const { return t30::speedBps(speed_); }
    // Error correction (T.30 Annex A): the page coded as chosen and cut into blocks, each sent
    // as FCD frames and three RCP frames, then PPS; PPR has the missing frames sent again, the
    // fourth PPR for a block CTC (one speed lower) or EOR when no lower speed is left; RNR is
    // answered RR until T5.
    void ecmBlockConnected();
    void fillEcmBlock();
    void sendEcmData();
    void ecmBlockSent();
    void sendEcmCommand(ecm::Content command);
    void ecmAnswer(const hdlc::TFrame& frame);
    void ecmBlockDone();
    void tf1EcmFramesLine(TResult r);
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
    bool connected_ = false;    // the modem has heard the far end since the dial
    int64_t t1DeadlineMs_ = 0;  // phase B ends here without DIS
    int speed_ = 0;
    bool lastPage_ = false;
    size_t sentIndex_ = 0;  // the page whose post-page command is out
    int rtnCount_ = 0;      // RTN answers to the page being sent
    // Training again after RTN, up to CFR: a far end that will not take the page again (some
    // answer a new DCS after RTN to EOP with DCN, or stay silent) fails the fax on that page.
    bool rtnTraining_ = false;
    int confirmed_ = 0;  // pages of this fax answered MCF or RTP
    // A page answered RTN is sent again at most this often; then the fax fails (-8069).
    static constexpr int kMaxPageResends = 2;
    int postPageFcf_ = 0;
    bool tcfSilence_ = false;  // "AT+FTS=" before the TCF has been sent
    size_t lastOutUsed_ = 0;
    TFillInserter filler_;

    ecm::CodingOffer remoteCoding_;  // the far end's DIS
    ecm::CodingChoice coding_;       // the coding and error correction of this call
    std::vector<uint8_t> ecmPage_;   // the page being sent, coded as chosen
    size_t ecmPagePos_ = 0;          // its octets taken into blocks so far
    ecm::TEcmPageSplitter splitter_;
    bool ecmNewPage_ = true;      // the next block starts a page
    bool ecmPageOut_ = false;     // the page's last block has gone out once
    std::vector<int> ecmFrames_;  // the FCD frames of this transmission of the block
    std::vector<uint8_t> ecmTx_;  // their bit stream, DLE doubled
    size_t ecmTxPos_ = 0;
    bool ecmEnded_ = false;  // the frames of the transmission are out, the modem's OK is awaited
    ecm::PostPage ecmBlockCommand_ = ecm::PostPage::Null;
    ecm::Content command_;  // the PPS, RR, CTC or EOR being sent and repeated
    int ecmPageNo_ = 0;
    int pprCount_ = 0;         // PPRs for the block since it, or CTC, went out
    int ctcSpeed_ = 0;         // the speed a CTC sent names
    int64_t rnrSinceMs_ = -1;  // the first RNR of a run of them
    static constexpr int kRcpFrames = 3;
    static constexpr int kPprsBeforeCtc = 4;
};

class TClass1Receiver final : public TFaxReceiver {
public:
    TClass1Receiver(TOvxCustomReceiveFax& fax, TFaxLink& link);

protected:
    void onStart() override;
    void onLine(TResult r, const std::string& line) override;
    void onFrame(const hdlc::TFrame& frame) override;
    void onFrameFailed(TResult r) override;
    void onData(const uint8_t* data, size_t len, bool end) override;
    void onTimeout() override;
    const TStateChanges& stateChanges() const override;
    void initCall() override;
    void answer() override;
    void reject() override;

private:
    void startUp();
    void sendIdent();
    void receiveFrames();
    // On CONNECT sends `fcf` (with `fif`) as a final frame; true when the OK confirming it arrives.
    bool frameSent(TResult r, uint8_t fcf, const std::vector<uint8_t>& fif = {});
    void repeatIdent();
    void startTraining();
    void awaitPage();
    void postPageFrame(t30::Frame kind);
    void sendResponse();
    // Reads the coding and error correction a DCS selects.
    void takeDcs(const hdlc::TFrame& frame);
    // Error correction: the frames of a block arrive as page data; PPS is answered MCF once the
    // block is whole (PPR with the missing frames otherwise), EOR with ERR keeping what came,
    // CTC with CTR, RR with the last answer. A page's blocks, put together, are coded into the
    // fax file's MH when its last block is in.
    void ecmFrame(const hdlc::TFrame& frame);
    void ecmRespond(uint8_t fcf, std::vector<uint8_t> fif, bool nextCarrier);
    void ecmTakeBlock(int frames);
    // Codes the page into the fax file and keeps it; false when the call has failed.
    bool ecmEndPage();
    // Page data coded in MR or MMR without error correction, coded into MH as it comes.
    bool storeCoded(const uint8_t* data, size_t len, bool end);
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
    int pageWaits_ = 0;      // T2 without page carrier since the last page
    int answerRepeats_ = 0;  // answers repeated to garbled frames after EOP
    int fcErrors_ = 0;       // "+FCERROR" answers to the training's "AT+FRM="
    t30::Frame postPage_ = t30::Frame::Unknown;
    uint8_t response_ = 0;  // MCF, RTP or RTN to the last post-page command (0: none since the page began)
    bool trainingGood_ = false;
    bool frameSent_ = false;

    ecm::CodingChoice coding_;  // what the DCS selected
    faximage::FaxPageTranscoder transcoder_;
    std::vector<uint8_t> responseFif_;  // the FIF of an error-correction answer (PPR)
    bool ecmAwaitCarrier_ = false;      // after the answer, page data comes (not frames)
    bool ecmLongTraining_ = false;      // ...at a new speed (after CTR), with the long training
    ecm::TEcmBlockAssembler block_;
    hdlc::THdlcDecoder frameBits_{ecm::kFrameSize + 8};
    bool blockOpen_ = false;        // frames arriving belong to the block being put together
    std::vector<uint8_t> ecmPage_;  // the page's blocks taken so far, as coded
    int ppsFrames_ = 0;             // frames of the block as its PPS gave them
};

}  // namespace telvane::transport
