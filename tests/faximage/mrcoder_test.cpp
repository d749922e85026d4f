// The T.4 2-D (MR) and T.6 (MMR) coder and decoder: lines hand-coded from the mode codes of
// T.4 Table 4 / T.6 Table 1 and the MH tables (every mode, both directions), MR's K factor, tag
// bits, fill and RTC, MMR's EOFB, damaged and cut-short data, streaming in pieces, and the
// transcoding of received MR/MMR pages into the MH of fax files.
#include "errors/errors.h"
#include "faximage/faxunpacker.h"
#include "faximage/mhdecoder.h"
#include "faximage/mrdecoder.h"
#include "faximage/transcode.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

using namespace telvane;
using namespace telvane::faximage;
using namespace faxtest;

namespace {

struct Decoded : FaxLineSink {
    std::vector<Bytes> lines;
    long damaged = 0;
    bool ended = false;
    void faxLine(const std::uint8_t* l, std::size_t n) override { lines.emplace_back(l, l + n); }
};

// Decodes a page fed in pieces of `piece` bytes (0: all at once).
Decoded decode2D(FaxCoding coding, int width, const Bytes& data, std::size_t piece = 0) {
    Decoded out;
    FaxMrDecoder d(&out);
    d.reset(coding, width);
    if (piece == 0) piece = data.empty() ? 1 : data.size();
    for (std::size_t i = 0; i < data.size(); i += piece)
        if (d.feed(data.data() + i, std::min(piece, data.size() - i))) break;
    d.finish();
    out.damaged = d.damagedLines();
    out.ended = d.pageEnded();
    EXPECT_EQ(d.linesDelivered(), long(out.lines.size()));
    return out;
}

Bytes joined(const std::vector<Bytes>& lines) {
    Bytes all;
    for (const Bytes& l : lines) all.insert(all.end(), l.begin(), l.end());
    return all;
}

std::vector<Bytes> rowsOf(const Raster& r) {
    std::vector<Bytes> rows;
    for (int y = 0; y < r.height; ++y) rows.emplace_back(r.row(y), r.row(y) + r.stride);
    return rows;
}

// Seven lines of 32 pels (black spans [from, to)) whose codes are written out below.
const std::vector<std::vector<std::pair<int, int>>> kSpans = {
    {{4, 8}, {20, 28}}, {{5, 8}, {18, 30}}, {{24, 26}}, {{21, 23}}, {{20, 22}}, {{20, 25}}, {{23, 28}}};

Raster handPage() {
    Raster r(32, int(kSpans.size()));
    for (int y = 0; y < r.height; ++y)
        for (auto [from, to] : kSpans[std::size_t(y)])
            for (int x = from; x < to; ++x) r.setPixel(x, y, true);
    return r;
}

// Codes written as in the standards, spaces between them for reading.
std::string T(std::string codes) {
    codes.erase(std::remove(codes.begin(), codes.end(), ' '), codes.end());
    return codes;
}

const std::string kEol = "000000000001";
// Each line coded two-dimensionally against the one before it (the first against white):
// H = 001, P = 0001, V0 = 1, VR1 = 011, VR2 = 000011, VR3 = 0000011, VL1 = 010,
// VL2 = 000010, VL3 = 0000010; runs in MH codes (white 4 = 1011, black 4 = 011, ...).
const std::string k2D[] = {
    T("001 1011 011 001 001000 000101 1"),  // H(w4, b4), H(w12, b8), V0
    T("011 1 000010 000011 1"),             // VR1, V0, VL2, VR2, V0
    T("0001 001 101010 11 1"),              // P, H(w16, b2), V0
    T("0000010 0000010 0001 1"),            // VL3, VL3, P, V0
    T("010 010 1"),                         // VL1, VL1, V0
    T("1 0000011 1"),                       // V0, VR3, V0
    T("0000011 0000011 1"),                 // VR3, VR3, V0
};
// Lines 1 and 5 coded one-dimensionally, as MR with K = 4 codes them.
const std::string kLine1In1D = T("1011 011 001000 000101 1011");  // w4 b4 w12 b8 w4
const std::string kLine5In1D = T("0001000 11 00111");             // w20 b2 w10

std::string mmrBits() {
    std::string s;
    for (const std::string& line : k2D) s += line;
    return s + kEol + kEol;  // EOFB
}

// MR with K = 4; each line gets zero fill up to `minLineBits` (EOL to EOL).
std::string mrBits(int minLineBits = 0) {
    std::string s;
    for (std::size_t y = 0; y < 7; ++y) {
        const bool oneD = y % 4 == 0;
        std::string line = kEol + (oneD ? "1" : "0") + (y == 0 ? kLine1In1D : y == 4 ? kLine5In1D : k2D[y]);
        if (int(line.size()) < minLineBits) line += std::string(std::size_t(minLineBits) - line.size(), '0');
        s += line;
    }
    for (int i = 0; i < 6; ++i) s += kEol + "1";  // RTC
    return s;
}

Bytes bits(const std::string& s) { return BitWriter().put(s).bytes; }

}  // namespace

TEST(TwoDimensionalCoding, HandCodedLinesOfEveryModeDecodeAndAreWhatTheCoderWrites) {
    const Raster page = handPage();
    struct Case {
        FaxCoding coding;
        std::string bits;
        int minLineBits;
    };
    const Case cases[] = {
        {FaxCoding::MMR, mmrBits(), 0}, {FaxCoding::MR, mrBits(), 0}, {FaxCoding::MR, mrBits(48), 48}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(codingName(c.coding)) + " fill to " + std::to_string(c.minLineBits));
        Decoded d = decode2D(c.coding, 32, bits(c.bits));
        EXPECT_EQ(d.lines, rowsOf(page));
        EXPECT_TRUE(d.ended);
        EXPECT_EQ(d.damaged, 0);
        EXPECT_EQ(code2D(c.coding, page, 4, c.minLineBits), bits(c.bits));
    }
}

TEST(TwoDimensionalCoding, MrKFactorPutsAOneDimensionalLineFirstAndEveryKLines) {
    Raster r = randomRaster(1728, 9, 3);
    for (int k : {kFactor(false), kFactor(true)}) {
        // Every EOL is followed by its tag bit.
        const std::string tags = mrTags(code2D(FaxCoding::MR, r, k));
        const std::string expected = k == 2 ? T("101010101 111111") : T("100010001 111111");
        EXPECT_EQ(tags, expected) << "K = " << k;
    }
    EXPECT_EQ(kFactor(false), 2);
    EXPECT_EQ(kFactor(true), 4);
}

TEST(TwoDimensionalCoding, PagesRoundTripAtEveryWidthFedInAnyPieces) {
    for (FaxCoding coding : {FaxCoding::MR, FaxCoding::MMR}) {
        for (int width : {1728, 2048, 1001, 64}) {
            for (PageKind kind : kPageKinds) {
                SCOPED_TRACE(std::string(codingName(coding)) + " " + std::to_string(width) + " " + pageKindName(kind));
                const Raster r = pageOf(kind, width, 120, unsigned(width));
                const Bytes coded = code2D(coding, r, 4);
                for (std::size_t piece : {std::size_t(0), std::size_t(1), std::size_t(5)}) {
                    Decoded d = decode2D(coding, width, coded, piece);
                    ASSERT_TRUE(samePixels(joined(d.lines), r.bits, r.stride)) << "pieces of " << piece;
                    EXPECT_TRUE(d.ended);
                    EXPECT_EQ(d.damaged, 0);
                }
            }
        }
    }
}

TEST(TwoDimensionalCoding, LongFillBeforeAnEolDecodesAlikeWhereverThePiecesEnd) {
    // Fill runs of every length up to a few words, fed whole and a byte at a time: the zeros
    // of fill and EOL must be counted across the pieces, whatever code follows them.
    const Raster r = pageOf(PageKind::DenseText, 1728, 24, 3);
    for (int minLineBits = 300; minLineBits < 400; ++minLineBits) {
        const Bytes coded = code2D(FaxCoding::MR, r, 4, minLineBits);
        for (std::size_t piece : {std::size_t(0), std::size_t(1), std::size_t(3)}) {
            Decoded d = decode2D(FaxCoding::MR, 1728, coded, piece);
            ASSERT_TRUE(samePixels(joined(d.lines), r.bits, r.stride)) << minLineBits << " in pieces of " << piece;
            ASSERT_EQ(d.damaged, 0);
        }
    }
    // MMR with zero bits of every count before its EOFB: they belong to the EOL.
    const std::string lines = mmrBits().substr(0, mmrBits().size() - 24);
    for (int zeros = 0; zeros < 80; ++zeros) {
        const Bytes mmr = bits(lines + std::string(std::size_t(zeros), '0') + kEol + kEol);
        for (std::size_t piece : {std::size_t(0), std::size_t(1), std::size_t(2), std::size_t(3)}) {
            Decoded d = decode2D(FaxCoding::MMR, 32, mmr, piece);
            ASSERT_EQ(d.lines, rowsOf(handPage())) << zeros << " zeros, pieces of " << piece;
            ASSERT_TRUE(d.ended) << zeros << " zeros, pieces of " << piece;
        }
    }
}

TEST(TwoDimensionalCoding, TheCostliestLinesFitTheCoderAndRoundTrip) {
    // Alternating pels, shifted by one and by three pels from line to line, at the widest line,
    // with the most fill: the longest codes the coder can produce.
    Raster r(kMaxLineWidth, 8);
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x)
            if (((x + (y % 2 ? 1 : 0) + (y >= 4 ? 3 * y : 0)) & 1) == 0) r.setPixel(x, y, true);
    for (FaxCoding coding : {FaxCoding::MR, FaxCoding::MMR}) {
        Decoded d = decode2D(coding, r.width, code2D(coding, r, 4, 8 * 4096));
        EXPECT_TRUE(samePixels(joined(d.lines), r.bits, r.stride)) << codingName(coding);
    }
}

TEST(TwoDimensionalCoding, DamagedMrLinesAreDroppedUntilTheNextOneDimensionalLine) {
    // Line 3 starts with an extension code (uncompressed mode, never offered): lines 3 and 4,
    // which refers to it, are lost; line 5 (1-D) and the lines after it decode again.
    std::string s = mrBits();
    const std::string line3 = kEol + "0" + k2D[2];
    s.replace(s.find(line3), line3.size(), kEol + "0" + "0000001111" + k2D[2]);
    Decoded d = decode2D(FaxCoding::MR, 32, bits(s));
    const std::vector<Bytes> all = rowsOf(handPage());
    EXPECT_EQ(d.lines, (std::vector<Bytes>{all[0], all[1], all[4], all[5], all[6]}));
    EXPECT_EQ(d.damaged, 2);
    EXPECT_TRUE(d.ended);

    // An EOL in the middle of a 2-D line cuts it short: it is damaged, not delivered.
    std::string cut = mrBits();
    const std::string line2 = kEol + "0" + k2D[1];
    cut.replace(cut.find(line2), line2.size(), kEol + "0" + "011" + "1");
    d = decode2D(FaxCoding::MR, 32, bits(cut));
    EXPECT_EQ(d.lines, (std::vector<Bytes>{all[0], all[4], all[5], all[6]}));
    EXPECT_EQ(d.damaged, 3);
}

TEST(TwoDimensionalCoding, DamagedOrCutMmrPageEndsAtTheErrorAndKeepsTheLinesBefore) {
    const std::vector<Bytes> all = rowsOf(handPage());
    const std::vector<Bytes> firstTwo{all[0], all[1]};
    // A pass code in line 3 where no b2 is left on the reference line.
    std::string s = mmrBits();
    s.replace(s.find(k2D[2]), k2D[2].size(), T("0001 001 101010 11 0001 1"));
    Decoded d = decode2D(FaxCoding::MMR, 32, bits(s), 1);
    EXPECT_EQ(d.lines, firstTwo);
    EXPECT_EQ(d.damaged, 1);
    EXPECT_FALSE(d.ended);

    // Data that stops in the middle of line 3.
    const std::string whole = mmrBits();
    d = decode2D(FaxCoding::MMR, 32, bits(whole.substr(0, k2D[0].size() + k2D[1].size() + 6)));
    EXPECT_EQ(d.lines, firstTwo);
    EXPECT_EQ(d.damaged, 1);

    // Data that stops after a whole line but without EOFB loses nothing; the page end is missing.
    d = decode2D(FaxCoding::MMR, 32, bits(whole.substr(0, whole.size() - 24)));
    EXPECT_EQ(d.lines, all);
    EXPECT_EQ(d.damaged, 0);
    EXPECT_FALSE(d.ended);
}

TEST(TwoDimensionalCoding, MrPageWithoutRtcEndsAtItsDataAndCodesBeforeTheFirstEolAreIgnored) {
    const std::string s = mrBits();
    const std::string withoutRtc = s.substr(0, s.size() - 6 * 13);
    Decoded d = decode2D(FaxCoding::MR, 32, bits("1011011" + withoutRtc));
    EXPECT_EQ(d.lines, rowsOf(handPage()));
    EXPECT_FALSE(d.ended);
    EXPECT_EQ(d.damaged, 0);
}

namespace {

// MH lines of the transcoded page, as the fax file's decoder reads them.
std::vector<Bytes> readMh(const Bytes& mh, bool* ended = nullptr) {
    Decoded out;
    FaxLineDecoder d(&out);
    if (!d.feed(mh.data(), mh.size())) d.finish();
    if (ended) *ended = d.pageEnded();
    return out.lines;
}

Bytes transcode(FaxCoding from, int width, const Bytes& data, FaxPageTranscoder& t, std::size_t piece = 4096) {
    EXPECT_EQ(t.begin(from, width), 0);
    Bytes out;
    for (std::size_t i = 0; i < data.size(); i += piece) t.feed(data.data() + i, std::min(piece, data.size() - i), out);
    t.finish(out);
    return out;
}

}  // namespace

TEST(PageTranscoder, MrAndMmrPagesBecomeMhThatTheFaxFileReaderDecodes) {
    TempDir dir;
    for (FaxCoding from : {FaxCoding::MR, FaxCoding::MMR}) {
        for (int width : {1728, 2048}) {
            SCOPED_TRACE(std::string(codingName(from)) + " " + std::to_string(width));
            const Raster r = pageOf(PageKind::DenseText, width, 200, 9);
            FaxPageTranscoder t;
            const Bytes mh = transcode(from, width, code2D(from, r, 4), t, 333);
            EXPECT_FALSE(t.damaged());
            EXPECT_EQ(t.lines(), 200);
            bool ended = false;
            EXPECT_TRUE(samePixels(joined(readMh(mh, &ended)), r.bits, r.stride));
            EXPECT_TRUE(ended);
            // Stored as a received (raw) page, the page decoder reads it.
            writeRawOvf(dir.file("page.ovf"), {mh}, width == 2048 ? FAX_WIDE : 0);
            EXPECT_TRUE(samePixels(decodeOvf(dir.file("page.ovf")).bits, r.bits, r.stride));
        }
    }
}

TEST(PageTranscoder, DamagedDataKeepsWhatDecodedAndSaysSo) {
    const Raster r = pageOf(PageKind::DenseText, 1728, 200, 4);
    for (FaxCoding from : {FaxCoding::MR, FaxCoding::MMR}) {
        SCOPED_TRACE(codingName(from));
        Bytes coded = code2D(from, r, 4);
        // A burst of damage in the middle of the page.
        for (std::size_t i = coded.size() / 2; i < coded.size() / 2 + 6; ++i) coded[i] = 0x5A;
        FaxPageTranscoder t;
        const std::vector<Bytes> lines = readMh(transcode(from, 1728, coded, t));
        EXPECT_TRUE(t.damaged());
        EXPECT_GT(t.damagedLines(), 0);
        const std::vector<Bytes> rows = rowsOf(r);
        // The lines before the damage are all there, in order.
        ASSERT_GT(lines.size(), 60u);
        EXPECT_TRUE(samePixels(joined({lines.begin(), lines.begin() + 60}), joined({rows.begin(), rows.begin() + 60}),
                               r.stride));
        if (from == FaxCoding::MR) {
            // MR resumes at the next 1-D line: the end of the page is there too.
            EXPECT_EQ(lines.back(), rows.back());
        } else {
            EXPECT_LT(lines.size(), 150u);
        }
    }
    // A page cut short is damaged as well.
    FaxPageTranscoder t;
    const Bytes coded = code2D(FaxCoding::MMR, r, 4);
    transcode(FaxCoding::MMR, 1728, Bytes(coded.begin(), coded.begin() + long(coded.size() / 3)), t);
    EXPECT_TRUE(t.damaged());
    EXPECT_FALSE(t.pageEnded());
}

TEST(PageTranscoder, RefusesWidthsAndCodingsAFaxFileCannotHold) {
    FaxPageTranscoder t;
    EXPECT_EQ(t.begin(FaxCoding::MMR, 2432), errors::ecBadArgument);
    EXPECT_EQ(t.begin(FaxCoding::MH, 1728), errors::ecBadArgument);
    EXPECT_EQ(t.begin(FaxCoding::MR, 2048), 0);
}
