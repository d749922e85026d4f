// The T.4 line coder and decoder: exact bytes for the documented lines, round trips of random
// rasters, and the decoder's rules for widths, EOLs, page ends and damaged data.
#include "faximage/mhcoder.h"
#include "faximage/mhdecoder.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace telvane::faximage;
using namespace faxtest;

namespace {

struct CollectSink : FaxLineSink {
    std::vector<Bytes> lines;
    void faxLine(const std::uint8_t* l, std::size_t n) override { lines.emplace_back(l, l + n); }
};

std::vector<Bytes> decodeAll(const Bytes& data, bool* ended = nullptr, std::size_t piece = 0) {
    CollectSink sink;
    FaxLineDecoder d(&sink);
    if (piece == 0) piece = data.size() ? data.size() : 1;
    for (std::size_t i = 0; i < data.size() && !d.pageEnded(); i += piece)
        d.feed(data.data() + i, std::min(piece, data.size() - i));
    if (!d.pageEnded()) d.finish();
    if (ended) *ended = d.pageEnded();
    return sink.lines;
}

Bytes codeRaster(const Raster& r, int pageWidth) {
    FaxLineCoder c;
    c.setup(pageWidth, 0, false);
    Bytes out;
    std::vector<std::uint8_t> row(4096, 0);
    for (int y = 0; y < r.height; ++y) {
        std::memcpy(row.data(), r.row(y), r.stride);
        std::size_t n = c.codeLine(row.data());
        out.insert(out.end(), c.data(), c.data() + n);
    }
    out.insert(out.end(), kPageEndBlock, kPageEndBlock + 12);
    return out;
}

// EOL, white run `pels` (make-up + terminating codes written by hand for the widths used).
const char* kEol = "000000000001";

}  // namespace

TEST(LineCoder, AllWhiteLineIsTheDocumentedSixBytes) {
    FaxLineCoder c;
    c.setup(1728, 50, false);
    std::uint8_t raster[4096] = {};
    ASSERT_EQ(c.codeLine(raster), 6u);
    EXPECT_EQ(Bytes(c.data(), c.data() + 6), Bytes(kBlankLine1728, kBlankLine1728 + 6));
    EXPECT_EQ(Bytes(kBlankLine1728, kBlankLine1728 + 6), (Bytes{0x00, 0x80, 0xB2, 0x59, 0x01, 0x00}));
}

TEST(LineCoder, LineStartingBlackBeginsWithTheLeftMarginWhiteRun) {
    FaxLineCoder c;
    c.setup(1728, 50, false);
    std::uint8_t raster[4096] = {};
    raster[0] = 0x80;  // first pel black
    std::size_t n = c.codeLine(raster);
    // EOL, then white 50 = 01010011, then black 1 = 010.
    BitWriter expect;
    expect.put("0000000000000001").put("01010011").put("010");
    ASSERT_GT(n, 3u);
    EXPECT_EQ(c.data()[2], expect.bytes[2]);
    EXPECT_EQ(c.data()[3] & 0x07, expect.bytes[3] & 0x07);
    std::vector<Bytes> lines = decodeAll(Bytes(c.data(), c.data() + n));
    ASSERT_EQ(lines.size(), 1u);
    // Pel 50 is black, the margin white.
    Raster r(1728, 1);
    std::memcpy(r.row(0), lines[0].data(), 216);
    EXPECT_FALSE(r.pixel(49, 0));
    EXPECT_TRUE(r.pixel(50, 0));
    EXPECT_FALSE(r.pixel(51, 0));
}

TEST(LineCoder, CodedLinesEndWithZeroFillAndAZeroByte) {
    FaxLineCoder c;
    c.setup(1728, 0, false);
    Raster r = randomRaster(1728, 50, 7);
    for (int y = 0; y < r.height; ++y) {
        std::uint8_t raster[4096] = {};
        std::memcpy(raster, r.row(y), r.stride);
        std::size_t n = c.codeLine(raster);
        ASSERT_GE(n, 6u);
        EXPECT_EQ(c.data()[0], 0x00);
        EXPECT_EQ(c.data()[1], 0x80);
        EXPECT_EQ(c.data()[n - 1], 0x00);
    }
}

TEST(LineCoder, DoubleWidthDoublesRunsAndFillsTheLine) {
    FaxLineCoder c;
    c.setup(1728, 0, true);
    std::uint8_t raster[4096] = {};
    raster[0] = 0xF0;    // 4 black pels -> 8 after doubling
    raster[107] = 0x01;  // last pel of the scanned 864
    std::size_t n = c.codeLine(raster);
    std::vector<Bytes> lines = decodeAll(Bytes(c.data(), c.data() + n));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0][0], 0xFF);
    EXPECT_EQ(lines[0][1], 0x00);
    EXPECT_EQ(lines[0][215], 0x03);
}

TEST(LineCoder, RoundTripsRandomRastersAtBothWidths) {
    for (int width : {1728, 2048}) {
        for (unsigned seed = 1; seed <= 3; ++seed) {
            Raster r = randomRaster(width, 200, seed, int(seed) * 25);
            bool ended = false;
            std::vector<Bytes> lines = decodeAll(codeRaster(r, width), &ended);
            EXPECT_TRUE(ended);
            ASSERT_EQ(lines.size(), 200u);
            for (int y = 0; y < 200; ++y)
                ASSERT_EQ(lines[std::size_t(y)], Bytes(r.row(y), r.row(y) + r.stride))
                    << "width " << width << " row " << y;
        }
    }
}

TEST(LineCoder, AlternatingPelsRoundTrip) {
    Raster r(2048, 2);
    for (int x = 0; x < 2048; ++x) {
        r.setPixel(x, 0, x % 2 == 1);
        r.setPixel(x, 1, x % 2 == 0);
    }
    std::vector<Bytes> lines = decodeAll(codeRaster(r, 2048));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], Bytes(r.row(0), r.row(0) + 256));
    EXPECT_EQ(lines[1], Bytes(r.row(1), r.row(1) + 256));
}

TEST(LineDecoder, ResultDoesNotDependOnHowTheBytesArrive) {
    Bytes data = codeRaster(randomRaster(1728, 60, 11), 1728);
    std::vector<Bytes> whole = decodeAll(data);
    for (std::size_t piece : {1u, 3u, 7u, 4096u}) EXPECT_EQ(decodeAll(data, nullptr, piece), whole) << piece;
}

TEST(LineDecoder, LinesOf215BytesAreDropped) {
    BitWriter w;
    w.put(kEol);
    for (int i = 0; i < 5; ++i) w.put("01100100").put("01011001").put(kEol);  // white 1664 + 56 = 1720 pels = 215 bytes
    bool ended = false;
    EXPECT_TRUE(decodeAll(w.bytes, &ended).empty());
}

TEST(LineDecoder, TwoEolsDoNotEndAPageButThreeDo) {
    BitWriter w;
    w.put(kEol).put("010011011").put("00110101");  // line 1: white 1728
    w.put(kEol).put(kEol);                         // two EOLs: an empty line, no page end
    w.put("010011011").put("00110101");            // line 2
    w.put(kEol).put(kEol).put(kEol);               // page end
    w.put("010011011").put("00110101").put(kEol);  // after the page end: ignored
    bool ended = false;
    std::vector<Bytes> lines = decodeAll(w.bytes, &ended);
    EXPECT_TRUE(ended);
    EXPECT_EQ(lines.size(), 2u);
}

TEST(LineDecoder, RunsBeforeTheFirstEolAreIgnored) {
    BitWriter w;
    w.put("010011011").put("00110101");  // a full white line with no EOL before it
    w.put(kEol).put("010011011").put("00110101").put(kEol);
    EXPECT_EQ(decodeAll(w.bytes).size(), 1u);
}

TEST(LineDecoder, FillBitsBeforeEolAreAccepted) {
    BitWriter w;
    w.put("0000000000000000000000000001");  // 27 zeros then 1: EOL with fill
    w.put("010011011").put("00110101");
    w.put("0000000000000000000001");
    EXPECT_EQ(decodeAll(w.bytes).size(), 1u);
}

TEST(LineDecoder, InvalidCodesResynchroniseAtTheNextEol) {
    BitWriter w;
    w.put(kEol).put("010011011").put("00110101");
    w.put(kEol).put("000000001111");  // eight zeros then a 1: no white code starts so
    w.put(kEol).put("010011011").put("00110101").put(kEol);
    CollectSink sink;
    FaxLineDecoder d(&sink);
    d.feed(w.bytes.data(), w.bytes.size());
    d.finish();
    EXPECT_GE(d.codeErrors(), 1);
    EXPECT_EQ(sink.lines.size(), 2u);
}

TEST(LineDecoder, RunsPast4096PelsAreIgnored) {
    BitWriter w;
    w.put(kEol);
    // White 2560 + 2560 would pass 4096 pels: the second run is ignored, which leaves a
    // 2560-pel line, neither 1728 nor 2048 wide, so it is dropped.
    w.put("000000011111").put("000000011111");
    w.put(kEol).put("010011011").put("00110101").put(kEol);
    EXPECT_EQ(decodeAll(w.bytes).size(), 1u);
}

TEST(LineDecoder, DataEndingWithoutPageEndDeliversTheLastValidLine) {
    BitWriter w;
    w.put(kEol).put("010011011").put("00110101");
    w.put(kEol).put("010011011").put("00110101");
    bool ended = true;
    EXPECT_EQ(decodeAll(w.bytes, &ended).size(), 2u);
    EXPECT_FALSE(ended);
}

TEST(LineDecoder, RandomBitsNeverCrashOrOverrun) {
    std::mt19937 rng(5);
    for (int round = 0; round < 50; ++round) {
        Bytes junk(5000);
        for (auto& b : junk) b = std::uint8_t(rng());
        for (const Bytes& l : decodeAll(junk)) EXPECT_TRUE(l.size() == 216 || l.size() == 256);
    }
}
