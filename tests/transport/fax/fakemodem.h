// A scripted Class 1 modem with a fake clock for driving the fax machines in unit tests.
// It answers AT commands like a T.31 modem, delivers the frames and data the test queued for
// each "AT+FRH=3" / "AT+FRM=", records the frames, training and page data the machine sends,
// and can disappear after a number of page bytes. Pauses advance the fake clock.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "transport/fax/faxlink.h"
#include "transport/fax/simulatedlink.h"
#include "transport/fax/faxsession.h"
#include "transport/fax/hdlc.h"
#include "transport/fax/t30.h"

namespace faxtest {

struct SentFrame {
    uint8_t Control = 0;
    uint8_t Fcf = 0;
    std::vector<uint8_t> Fif;
};

// One reply to "AT+FRH=3": a frame, or silence (nothing at all). Like a real modem the fake
// says CONNECT when it finds the flags and delivers the frame (with its two FCS bytes, then
// DLE ETX and OK) FrameDelayMs later, in a separate read.
struct RxFrame {
    bool Silence = false;
    uint8_t Fcf = 0;
    std::vector<uint8_t> Fif;
    bool Final = true;
    bool BadFcs = false;     // delivered, then ERROR instead of OK
    bool Truncated = false;  // CONNECT and part of the frame, then nothing until aborted;
                             // the abort is answered "OK" without DLE ETX
    int64_t DelayMs = 0;     // silence before the modem finds the flags
};

class FakeModem final : public SimulatedLink {
public:
    // --- script ---
    std::string DialResult = "CONNECT";  // or BUSY, NO CARRIER, "" (never answers)
    std::string ClassReply = "0,1,1.0";
    std::string SpeedReply = "24,48,72,73,74,96,97,98,121,122,145,146";
    std::deque<RxFrame> Frames;               // handed out one per frame reception
    std::deque<std::vector<uint8_t>> RxData;  // handed out one per "AT+FRM="
    std::vector<std::string> Garbage;         // lines sent before each command reply
    long DieAfterPageBytes = -1;              // the modem vanishes after this many page bytes
    int VanishInRxData = 0;                   // the Nth "AT+FRM=" delivers part, then vanishes
    int NoCarrierOnFrm = 0;                   // the Nth "AT+FRM=" hears nothing: NO CARRIER
    std::function<void()> OnPageData;         // called when page data starts arriving
    long LineBps = 0;                         // when set, sent data advances the clock at this rate
    long BufferedBps = 0;                     // when set, sent data is taken at once (a deep tty
                                              // buffer) and its OK comes when the line has carried it
    int64_t FrameDelayMs = 800;               // CONNECT to the frame's bytes (preamble)
    bool FcErrorOnFirstFrm = false;           // the first "AT+FRM=" hears V.21: "+FCERROR"
    // One-shot replies: the first command starting with a key gets the value instead of its
    // normal answer (e.g. {"AT+FTM=", "ERROR"}, {"AT+FTH=3", "NO CARRIER"}).
    std::vector<std::pair<std::string, std::string>> Refuse;
    long StallAfterPageBytes = -1;  // the modem stops taking page data (CTS low)
    uint8_t StallInFrame = 0;       // ...or stops taking data in the first frame we send with
                                    // this FCF, X bit aside (0: never)
    long RxChunk = 0;               // "AT+FRM=" data comes in pieces of this size...
    int64_t RxChunkMs = 0;          // ...this far apart
    long RxStallAfter = -1;         // chunked data stops here: no more bytes, no result

    // --- what the machine did ---
    std::vector<std::string> Commands;
    std::vector<SentFrame> SentFrames;
    std::vector<std::vector<uint8_t>> TxData;  // each "AT+FTM=" transmission, undoubled
    // Every signal on the line in clock order: ours from the command that starts it to the end
    // of its data, the far end's from its flags to its last byte.
    struct Signal {
        int64_t Start, End;
        bool Ours;
    };
    std::vector<Signal> Line;

    void ring(int times);
    static RxFrame frame(uint8_t fcf, std::vector<uint8_t> fif = {}, bool final = true);
    static RxFrame silence() {
        RxFrame f;
        f.Silence = true;
        return f;
    }
    static RxFrame dis(bool fine, int highestIndex = 6, uint8_t scanBits = 0x70 /* code 0 */);
    static RxFrame ident(uint8_t fcf, const std::string& id) {
        return frame(fcf, telvane::transport::t30::encodeId(id), false);
    }
    size_t countCommand(const std::string& prefix) const;
    std::vector<uint8_t> fcfs() const;
    bool hasInput() const override {
        return !in_.empty() || (okDueMs_ >= 0 && Now >= okDueMs_) || (!later_.empty() && Now >= later_.front().Due);
    }
    int64_t nextEventMs() const override;
    bool stalled() const override { return stalled_; }
    // The gaps between the end of a signal and the start of the next one of ours, in ms.
    std::vector<int64_t> turnarounds() const;

    // TFaxLink (the rest: SimulatedLink)
    size_t read(uint8_t* buf, size_t len) override;
    bool write(const uint8_t* data, size_t len) override;
    size_t outFree() override { return stalled_ ? 0 : 8192; }
    size_t outUsed() override { return stalled_ ? 8192 : 0; }
    void flushIn() override { in_.clear(); }
    bool alive() override { return !dead_; }

private:
    enum class Mode { Command, TxFrame, TxData, RxFrameWait, RxData };
    void reply(const std::string& s);
    void later(int64_t due, std::vector<uint8_t> bytes);
    bool refused(const std::string& cmd);
    void command(const std::string& cmd);
    void deliverFrame();
    void endTxFrame();
    void endTxData();

    Mode mode_ = Mode::Command;
    std::string cmd_;
    std::deque<uint8_t> in_;
    std::vector<uint8_t> tx_;
    bool dle_ = false;
    bool dead_ = false;
    bool dieWhenDrained_ = false;
    int frmCount_ = 0;
    int frmCalls_ = 0;
    long pageBytes_ = 0;
    int64_t lineBits_ = 0;
    int64_t lineMs_ = 0;
    int64_t txStartMs_ = 0;
    int64_t txBytes_ = 0;
    int64_t okDueMs_ = -1;
    struct Timed {
        int64_t Due;
        std::vector<uint8_t> Bytes;
    };
    std::deque<Timed> later_;  // input that arrives by itself, in order
    bool stalled_ = false;
    bool rxPending_ = false;  // a frame reception is under way until its bytes are read
};

// CRC-16 of T.30 HDLC frames (ITU-T V.41 polynomial, ones' complement), as sent on the line.
uint16_t hdlcFcs(const std::vector<uint8_t>& bytes);

// Writes a fax file of line-record pages, each `lines` blank lines plus the page end; one
// flags value (FAX_FINE, FAX_WIDE) a page.
void makeFaxFile(const std::string& path, const std::vector<uint16_t>& flags, int lines);
// Writes a fax file whose one page (standard, 1728 pels) is the raw T.4 data `data`; or one
// such page for each of `pages`, each with `flags` (FAX_FINE for fine resolution).
void makeRawFaxFile(const std::string& path, const std::vector<uint8_t>& data);
void makeRawFaxFile(const std::string& path, const std::vector<std::vector<uint8_t>>& pages, uint16_t flags = 0);

}  // namespace faxtest
