// The Class 1 send machine against an independent T.30 receiver: spandsp's fax terminal on the
// far side of spandsp's T.31 modem, their audio joined in simulated time (20 ms blocks, no
// waiting), so a whole call runs in well under a second. The far end stores what it received as
// a TIFF, which is compared row by row with the page we sent. Noise laid on our page carrier
// garbles frames inside an error-correction block, so that the far end asks for them again,
// or spoils MH page data enough for the far end's copy-quality check to answer RTN.
// TELVANE_PEER_LOG=1 shows the far end's T.30 exchange on stderr.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "fakemodem.h"
#include "rawt4.h"
#include "simulatedlink.h"
#include "support/tempdir.h"
#include "errors/errors.h"
#include "transport/fax/faxsession.h"

extern "C" {
#include <spandsp.h>
}

using namespace telvane::transport;

namespace {

constexpr int kBlock = 160;  // 20 ms at 8000 samples/s
constexpr int64_t kBlockMs = 20;

// The far end: answering and storing what it gets in `File` (a TIFF), or calling and sending
// `File`; ECM and 2-D coding (MR) offered or not. A bit is turned over in each byte of page carrier `DamagedCarrier`'s
// data (counted from 1) at the offsets `Damage` (ours when we send, the far end's when we
// receive), as a line hit would.
struct FarEnd {
    bool Calls = false;
    std::string File;
    bool Ecm = true;
    std::vector<size_t> Damage;
    int DamagedCarrier = 1;
    size_t HostBuffer = 16384;  // bytes our modem's side holds before the host must wait
    bool TwoD = true;
};

// Our modem (T.31) and the far end's fax terminal on one line; time passes in audio blocks.
class SpandspLine final : public faxtest::SimulatedLink {
public:
    explicit SpandspLine(const FarEnd& far)
        : calls_(far.Calls), damage_(far.Damage), damagedCarrier_(far.DamagedCarrier), hostBuffer_(far.HostBuffer) {
        t31_ = t31_init(nullptr, atTx, this, modemControl, this, nullptr, nullptr);
        t31_set_transmit_on_idle(t31_, 1);
        fax_ = fax_init(nullptr, far.Calls ? 1 : 0);
        fax_set_transmit_on_idle(fax_, 1);
        t30_state_t* t30 = fax_get_t30_state(fax_);
        t30_set_tx_ident(t30, "SPANDSP PEER");
        t30_set_supported_modems(t30, T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17);
        t30_set_supported_compressions(t30, T30_SUPPORT_T4_1D_COMPRESSION |
                                                (far.TwoD ? T30_SUPPORT_T4_2D_COMPRESSION : 0) |
                                                T30_SUPPORT_T6_COMPRESSION);
        t30_set_supported_resolutions(t30, T30_SUPPORT_STANDARD_RESOLUTION | T30_SUPPORT_FINE_RESOLUTION);
        t30_set_ecm_capability(t30, far.Ecm ? 1 : 0);
        if (far.Calls)
            t30_set_tx_file(t30, far.File.c_str(), -1, -1);
        else
            t30_set_rx_file(t30, far.File.c_str(), -1);
        t30_set_phase_e_handler(t30, phaseE, this);
        if (const char* log = std::getenv("TELVANE_PEER_LOG"); log && *log == '1')
            span_log_set_level(t30_get_logging_state(t30),
                               SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_SHOW_PROTOCOL | SPAN_LOG_FLOW);
    }
    ~SpandspLine() override {
        fax_free(fax_);
        t31_free(t31_);
    }
    SpandspLine(const SpandspLine&) = delete;
    SpandspLine& operator=(const SpandspLine&) = delete;

    // One block of audio each way, after what the host wrote has reached the modem as far as
    // its flow control lets it.
    void step() {
        while (cts_ && !fromHost_.empty()) {
            char piece[512];
            size_t n = 0;
            while (n < sizeof piece && !fromHost_.empty()) {
                piece[n++] = static_cast<char>(fromHost_.front());
                fromHost_.pop_front();
            }
            t31_at_rx(t31_, piece, static_cast<int>(n));
        }
        int16_t ours[kBlock] = {}, theirs[kBlock] = {};
        t31_tx(t31_, ours, kBlock);
        fax_tx(fax_, theirs, kBlock);
        if (!connected_) {
            std::fill(std::begin(ours), std::end(ours), 0);
            std::fill(std::begin(theirs), std::end(theirs), 0);
        }
        fax_rx(fax_, ours, kBlock);
        t31_rx(t31_, theirs, kBlock);
        Now += kBlockMs;
        if (dialled_ && !connected_) {
            connected_ = true;
            t31_call_event(t31_, AT_CALL_EVENT_CONNECTED);
        }
        if (answered_ && !connected_) {
            connected_ = true;
            t31_call_event(t31_, AT_CALL_EVENT_ANSWERED);
        }
        // The far end calling: a ring every 5 s until we answer.
        if (calls_ && !connected_ && Now % 5000 == 0) t31_call_event(t31_, AT_CALL_EVENT_ALERTING);
    }

    bool hasInput() const override { return !toHost_.empty(); }
    size_t read(uint8_t* buf, size_t len) override {
        size_t n = 0;
        while (n < len && !toHost_.empty()) {
            buf[n++] = toHost_.front();
            toHost_.pop_front();
        }
        return n;
    }
    bool write(const uint8_t* data, size_t len) override {
        for (size_t i = 0; i < len; ++i) {
            uint8_t b = data[i];
            if (inData_) {
                b = pageDataByte(b, afterDle_, inData_, dataBytes_);
            } else if (b == '\r') {
                // Page carriers are counted, ours or the far end's; a training's is not.
                if (command_.rfind("AT+FTM=", 0) == 0 && command_ != "AT+FTM=?") {
                    inData_ = true;
                    dataBytes_ = 0;
                    countCarrier();
                } else if (command_.rfind("AT+FRM=", 0) == 0 && command_ != "AT+FRM=?") {
                    rxCommand_ = true;
                    countCarrier();
                }
                command_.clear();
            } else {
                if (b >= 0x20 && b < 0x7F && command_.size() < 64) command_ += static_cast<char>(b);
                watchForDcs(hostTail_, b);
            }
            fromHost_.push_back(b);
        }
        return true;
    }
    // Like a serial port's buffer (16 KB), or a pseudo-terminal's and a modem's that hold far more.
    size_t outFree() override { return fromHost_.size() < hostBuffer_ ? hostBuffer_ - fromHost_.size() : 0; }
    size_t outUsed() override { return fromHost_.size(); }
    void flushIn() override { toHost_.clear(); }
    bool alive() override { return true; }
    // A pause lets the line run on.
    void pause(int64_t ms) override {
        const int64_t until = Now + ms;
        while (Now < until) step();
    }

    bool farEndDone = false;
    int completion = -1;
    t30_stats_t stats{};
    int pageCarriers = 0;  // carriers of page data ("AT+FTM=" or "AT+FRM=" not for a TCF)
    int trainings = 0;     // DCS frames, each followed by a TCF

private:
    static int atTx(at_state_t*, void* user, const uint8_t* buf, size_t len) {
        auto* self = static_cast<SpandspLine*>(user);
        for (size_t i = 0; i < len; ++i) self->toHost(buf[i]);
        return static_cast<int>(len);
    }
    // What the modem hands us; received page data (after CONNECT to "AT+FRM=", up to DLE ETX)
    // may be damaged.
    void toHost(uint8_t b) {
        if (rxCommand_ && !rxData_) {
            rxLine_ += static_cast<char>(b);
            if (rxLine_.find("CONNECT\r\n") != std::string::npos) {
                rxData_ = true;
                rxBytes_ = 0;
                rxLine_.clear();
            } else if (rxLine_.size() > 2 && rxLine_.back() == '\n' &&
                       rxLine_.find_first_not_of("\r\n") != std::string::npos) {
                rxCommand_ = false;  // another answer than CONNECT
                rxLine_.clear();
            }
        } else if (rxData_) {
            b = pageDataByte(b, afterRxDle_, rxData_, rxBytes_);
            if (!rxData_) rxCommand_ = false;
        }
        if (!rxData_) watchForDcs(modemTail_, b);
        toHost_.push_back(b);
    }
    // A DCS frame (address, control, FCF with either X bit) in the bytes outside page data,
    // whichever side sends it: the next carrier is its TCF.
    void watchForDcs(uint32_t& tail, uint8_t b) {
        tail = (tail << 8 | b) & 0xFFFFFF;
        if ((tail & 0xFFEFFE) == 0xFF0382) {
            ++trainings;
            tcfNext_ = true;
        }
    }
    void countCarrier() {
        if (tcfNext_)
            tcfNext_ = false;
        else
            ++pageCarriers;
    }
    // A byte of page data, up to DLE ETX (`open` goes false there) with DLE pairs left whole;
    // turned over at the damage offsets of the damaged page carrier.
    uint8_t pageDataByte(uint8_t b, bool& afterDle, bool& open, size_t& count) {
        if (afterDle) {
            afterDle = false;
            if (b == 0x03) open = false;
        } else if (b == 0x10) {
            afterDle = true;
        } else if (pageCarriers == damagedCarrier_ && damaged_ < damage_.size() && count >= damage_[damaged_] &&
                   (b ^ 0x08) != 0x10) {
            b ^= 0x08;
            ++damaged_;
        }
        ++count;
        return b;
    }
    // Runs while a command line is parsed: the call is connected from the next block on.
    static int modemControl(t31_state_t*, void* user, int op, const char* num) {
        auto* self = static_cast<SpandspLine*>(user);
        if (op == AT_MODEM_CONTROL_CALL) self->dialled_ = true;
        if (op == AT_MODEM_CONTROL_ANSWER) self->answered_ = true;
        if (op == AT_MODEM_CONTROL_CTS) self->cts_ = num != nullptr;
        return 0;
    }
    static void phaseE(t30_state_t* t30, void* user, int completion) {
        auto* self = static_cast<SpandspLine*>(user);
        self->farEndDone = true;
        self->completion = completion;
        t30_get_transfer_statistics(t30, &self->stats);
    }

    t31_state_t* t31_ = nullptr;
    fax_state_t* fax_ = nullptr;
    std::deque<uint8_t> toHost_, fromHost_;
    std::string command_;
    uint32_t hostTail_ = 0, modemTail_ = 0;  // the last three bytes each way outside page data
    bool tcfNext_ = false;
    bool calls_ = false;
    bool dialled_ = false;
    bool answered_ = false;
    bool rxCommand_ = false;  // "AT+FRM=" is out: its CONNECT and data are awaited
    bool rxData_ = false;
    bool afterRxDle_ = false;
    std::string rxLine_;
    size_t rxBytes_ = 0;
    bool connected_ = false;
    bool cts_ = true;
    std::vector<size_t> damage_;
    int damagedCarrier_ = 1;
    size_t hostBuffer_;
    size_t damaged_ = 0;
    bool inData_ = false;  // the host's bytes are page data
    bool afterDle_ = false;
    size_t dataBytes_ = 0;
};

// Runs a started send session against the line until it ends (at most ten minutes of line time).
void run(TOvxCustomAbstractFax& fax, SpandspLine& line) {
    constexpr int64_t kMaxMs = 600000;
    while (fax.inProgress() && line.Now < kMaxMs) {
        fax.serviceSession();
        if (!line.hasInput()) line.step();
    }
}

using faxtest::mhRows;

using Rows = std::vector<std::vector<uint8_t>>;

// The rows of every page of a TIFF (MSB first, 1 = black, as the fax decoders give them).
std::vector<Rows> tiffPages(const std::string& path) {
    std::vector<Rows> pages;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return pages;
    do {
        Rows& rows = pages.emplace_back();
        uint32_t height = 0;
        uint16_t photometric = PHOTOMETRIC_MINISWHITE;
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
        std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(tif)));
        for (uint32_t y = 0; y < height; ++y) {
            if (TIFFReadScanline(tif, row.data(), y) < 0) break;
            if (photometric == PHOTOMETRIC_MINISBLACK)
                for (uint8_t& b : row) b = static_cast<uint8_t>(~b);
            rows.push_back(row);
        }
    } while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    return pages;
}

// A page of short runs for each of `count` pages, every one different.
std::vector<std::vector<uint8_t>> codedPages(int firstSeed, int count, int lines = 200) {
    std::vector<std::vector<uint8_t>> pages;
    for (int i = 0; i < count; ++i) pages.push_back(faxtest::codedPage(firstSeed + i, lines));
    return pages;
}

// A bit turned over every 40 bytes of a page carrier: enough lost lines for an RTN.
std::vector<size_t> lineHits() {
    std::vector<size_t> at;
    for (size_t i = 0; i < 8000; i += 40) at.push_back(i);
    return at;
}

// A fax of two pages, one spoilt on the line. Page 1: answered RTN to MPS, trained for again,
// sent again, the fax arrives whole. Page 2: answered RTN to EOP, after which the far end
// gives up or refuses to train again; the fax fails on it, page 1 confirmed and kept.
struct RtnCase {
    int damagedPage;
    int error;
    int kept;
};
constexpr RtnCase kRtnCases[] = {{1, 0, 2}, {2, telvane::errors::ecFaxSessionError, 1}};

// Sends a fax of `pageCount` different pages to the far end.
struct PeerRig {
    telvane::test::TempDir dir;
    std::vector<std::vector<uint8_t>> mh;  // each page's MH data
    TOvxSendFax fax;
    SpandspLine line;
    PeerRig(bool farEcm, bool ourEcm, std::vector<size_t> damage, int pages = 1, int damagedCarrier = 1,
            int lines = 200, size_t hostBuffer = 16384, bool farTwoD = true)
        : mh(codedPages(11, pages, lines)),
          line(FarEnd{false, dir / "rx.tif", farEcm, std::move(damage), damagedCarrier, hostBuffer, farTwoD}) {
        faxtest::makeRawFaxFile(dir / "page.ovf", mh);
        fax.SetFaxFile(dir / "page.ovf");
        fax.PhoneNumber = "5550100";
        fax.setStationID("OUR STATION");
        fax.DesiredBPS = 14400;
        fax.setDesiredECM(ourEcm);
        fax.useLinkForTesting(&line);
    }
    void send() {
        fax.StartSend();
        run(fax, line);
        // The far end ends its side once our DCN is heard.
        for (int i = 0; i < 500 && !line.farEndDone; ++i) line.step();
    }
};

}  // namespace

// With ECM at both ends the pages go out in MMR blocks; two bits turned over on the line
// spoil two frames, which the far end asks for again (PPR) and we send again, and the page
// arrives whole. The same page without ECM at the far end goes out as MR page data, or as MH
// when the far end offers no 2-D coding either. Three pages in MMR blocks arrive each in its
// own carrier, pixel for pixel. A long page whose whole block the tty and the modem take at
// once (far more than T3's worth of line time) is waited for until the modem has put it all on
// the line.
TEST(Class1Peer, PageReachesSpandspWithAndWithoutErrorCorrection) {
    struct Case {
        bool farEcm;
        std::vector<size_t> damage;  // offsets in the first page carrier's data
        int encoding;                // as the far end reports it (its T4_COMPRESSION_ITU_ values)
        int pages;
        int lines = 200;
        size_t hostBuffer = 16384;
        bool farTwoD = true;
    };
    const Case cases[] = {
        {true, {}, T4_COMPRESSION_ITU_T6, 1},     {true, {1000, 3000}, T4_COMPRESSION_ITU_T6, 1},
        {false, {}, T4_COMPRESSION_ITU_T4_2D, 1}, {false, {}, T4_COMPRESSION_ITU_T4_1D, 1, 200, 16384, false},
        {true, {}, T4_COMPRESSION_ITU_T6, 3},     {true, {}, T4_COMPRESSION_ITU_T6, 1, 800, 1 << 20}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "far ECM " << c.farEcm << ", far 2-D " << c.farTwoD << ", damaged bytes "
                                        << c.damage.size() << ", " << c.pages << " pages of " << c.lines << " lines");
        PeerRig rig(c.farEcm, true, c.damage, c.pages, 1, c.lines, c.hostBuffer, c.farTwoD);
        rig.send();
        EXPECT_EQ(rig.fax.FaxError(), 0);
        EXPECT_EQ(rig.fax.pagesConfirmed(), c.pages);
        ASSERT_TRUE(rig.line.farEndDone);
        EXPECT_EQ(rig.line.completion, T30_ERR_OK) << t30_completion_code_to_str(rig.line.completion);
        EXPECT_EQ(rig.line.stats.pages_rx, c.pages);
        EXPECT_EQ(rig.line.stats.error_correcting_mode != 0, c.farEcm);
        EXPECT_EQ(rig.line.stats.encoding, c.encoding);
        EXPECT_EQ(rig.fax.errorControl(), c.farEcm);
        if (!c.damage.empty()) {
            EXPECT_EQ(rig.line.pageCarriers, c.pages + 1) << "the spoilt frames were not sent again at once";
        } else {
            EXPECT_EQ(rig.line.pageCarriers, c.pages);
        }
        std::vector<Rows> sent;
        for (const auto& page : rig.mh) sent.push_back(mhRows(page));
        EXPECT_EQ(tiffPages(rig.dir / "rx.tif"), sent);
    }
}

// A page spoilt on the line is answered RTN by the far end (its own copy-quality check). After
// RTN to MPS we train again, send the page again and go on: the far end keeps every page once,
// whole. After RTN to EOP this far end takes the document as ended: it answers a new DCS with
// DCN (or repeats RTN, then DCN); the fax has failed on its refused page (-8069) with the pages
// before it confirmed, and the far end has those once and nothing else.
TEST(Class1Peer, PageAnsweredRtnIsSentAgainOrTheFaxFailsOnIt) {
    for (const RtnCase& c : kRtnCases) {
        SCOPED_TRACE(testing::Message() << "page " << c.damagedPage << " of 2 spoilt");
        PeerRig rig(false, false, lineHits(), 2, c.damagedPage);
        rig.send();
        EXPECT_EQ(rig.fax.FaxError(), c.error);
        EXPECT_EQ(rig.fax.pagesConfirmed(), c.kept);
        ASSERT_TRUE(rig.line.farEndDone);
        EXPECT_EQ(rig.line.stats.pages_rx, c.kept);
        // The first training, and at least one more after the RTN.
        EXPECT_GE(rig.line.trainings, 2);
        EXPECT_EQ(rig.line.pageCarriers, c.error == 0 ? 3 : 2);
        std::vector<Rows> sent;
        for (int page = 0; page < c.kept; ++page) sent.push_back(mhRows(rig.mh[static_cast<size_t>(page)]));
        EXPECT_TRUE(tiffPages(rig.dir / "rx.tif") == sent) << "the far end has other pages than those confirmed";
        if (c.error == 0) {
            EXPECT_EQ(rig.line.completion, T30_ERR_OK) << t30_completion_code_to_str(rig.line.completion);
        }
    }
}

namespace {

// A TIFF (T.6 coded, 204 x 98 dpi) of `pages` for the far end to send.
void writeTiff(const std::string& path, const std::vector<Rows>& pages) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    for (size_t p = 0; p < pages.size(); ++p) {
        const Rows& rows = pages[p];
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 1728);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(rows.size()));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 98.0);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(rows.size()));
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(p), static_cast<uint16_t>(pages.size()));
        for (size_t y = 0; y < rows.size(); ++y) {
            std::vector<uint8_t> row = rows[y];
            TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0);
        }
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
}

// Receives a fax of `pageCount` different pages from the far end.
struct ReceivePeerRig {
    telvane::test::TempDir dir;
    std::vector<Rows> pages;
    TOvxReceiveFax fax;
    std::unique_ptr<SpandspLine> line;
    std::vector<std::string> stored;
    ReceivePeerRig(bool farEcm, bool ourEcm, std::vector<size_t> damage, int count = 1, int damagedCarrier = 1) {
        for (const auto& page : codedPages(13, count)) pages.push_back(mhRows(page));
        writeTiff(dir / "tx.tif", pages);
        line = std::make_unique<SpandspLine>(FarEnd{true, dir / "tx.tif", farEcm, std::move(damage), damagedCarrier});
        fax.setDestinationDir(dir.dir());
        fax.setStationID("OUR CSI");
        fax.DesiredBPS = 14400;
        fax.OneFax = true;
        fax.setDesiredECM(ourEcm);
        fax.useLinkForTesting(line.get());
        fax.OnFaxLog = [this](TOvxAbstractFax& cp, int c) {
            if (c == lfaxReceiveStart) stored.push_back(cp.FaxFile());
        };
    }
    void receive() {
        fax.StartReceive();
        run(fax, *line);
        // The far end ends its side a little after its DCN.
        for (int i = 0; i < 1000 && !line->farEndDone; ++i) line->step();
    }
};

}  // namespace

// Received with ECM the page arrives in MMR blocks and is stored in the fax file's MH, pixel
// for pixel; two bits turned over on the line spoil frames that we ask for again and get (the
// peer counts only those in its second PPS). Without ECM at the far end, or with ECM not wanted
// here, it takes the 2-D coding we offer all the same, and the MR page data is coded into MH as
// it comes. Three pages in MMR blocks are stored as three pages, each pixel for pixel.
TEST(Class1Peer, PageFromSpandspIsStoredWithAndWithoutErrorCorrection) {
    struct Case {
        bool farEcm;
        std::vector<size_t> damage;
        int encoding;
        int pages;
        bool ourEcm = true;
    };
    const Case cases[] = {{true, {}, T4_COMPRESSION_ITU_T6, 1},
                          {true, {1000, 3000}, T4_COMPRESSION_ITU_T6, 1},
                          {false, {}, T4_COMPRESSION_ITU_T4_2D, 1},
                          {true, {}, T4_COMPRESSION_ITU_T6, 3},
                          {true, {}, T4_COMPRESSION_ITU_T4_2D, 1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "far ECM " << c.farEcm << ", our ECM " << c.ourEcm << ", damaged bytes "
                                        << c.damage.size() << ", " << c.pages << " pages");
        ReceivePeerRig rig(c.farEcm, c.ourEcm, c.damage, c.pages);
        rig.receive();
        EXPECT_EQ(rig.fax.FaxError(), 0);
        ASSERT_TRUE(rig.line->farEndDone);
        EXPECT_EQ(rig.line->completion, T30_ERR_OK) << t30_completion_code_to_str(rig.line->completion);
        EXPECT_EQ(rig.line->stats.pages_tx, c.pages);
        EXPECT_EQ(rig.line->stats.error_correcting_mode != 0, c.farEcm && c.ourEcm);
        EXPECT_EQ(rig.line->stats.encoding, c.encoding);
        EXPECT_EQ(rig.fax.errorControl(), c.farEcm && c.ourEcm);
        EXPECT_EQ(rig.line->pageCarriers, c.damage.empty() ? c.pages : c.pages + 1);
        ASSERT_EQ(rig.stored.size(), 1u);
        std::vector<Rows> stored;
        for (const auto& page : faxtest::readPages(rig.stored[0])) stored.push_back(mhRows(page));
        EXPECT_EQ(stored, rig.pages);
    }
}

// Our copy-quality check answers a page spoilt on the line RTN. After RTN to MPS the far end
// trains again (at a lower speed) and sends the page again: the fax is stored whole, each page
// once. After RTN to EOP it gives up (DCN): the page is not kept, the confirmed one is. The
// pages come in MR (2-D without ECM), whose damaged lines the decoding into MH drops: they
// count in the verdict all the same.
TEST(Class1Peer, SpoiltPageFromSpandspIsAnsweredRtn) {
    for (const RtnCase& c : kRtnCases) {
        SCOPED_TRACE(testing::Message() << "page " << c.damagedPage << " of 2 spoilt");
        ReceivePeerRig rig(false, false, lineHits(), 2, c.damagedPage);
        rig.receive();
        EXPECT_EQ(rig.fax.FaxError(), c.error);
        ASSERT_TRUE(rig.line->farEndDone);
        EXPECT_EQ(rig.line->stats.pages_tx, c.kept);
        EXPECT_EQ(rig.line->stats.encoding, T4_COMPRESSION_ITU_T4_2D);
        EXPECT_EQ(rig.line->trainings, c.error == 0 ? 2 : 1);
        EXPECT_EQ(rig.line->pageCarriers, c.error == 0 ? 3 : 2);
        ASSERT_EQ(rig.stored.size(), 1u);
        const auto pages = faxtest::readPages(rig.stored[0]);
        ASSERT_EQ(pages.size(), static_cast<size_t>(c.kept));
        for (size_t p = 0; p < pages.size(); ++p) EXPECT_TRUE(mhRows(pages[p]) == rig.pages[p]) << "page " << p + 1;
    }
}
