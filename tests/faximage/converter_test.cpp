// The page encoder: record layout, margins, scaling decisions, every input type, status,
// abort and failure clean-up.
#include "faximage/faxconverter.h"
#include "errors/errors.h"
#include "faximage/faxunpacker.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace telvane;
using namespace telvane::faximage;
using namespace faxtest;

namespace {

struct PageRecords {
    OvfPageHeader header;
    std::vector<Bytes> records;
};

// Reads every page's line records straight from the file bytes.
std::vector<PageRecords> readRecords(const std::string& path) {
    Bytes b = readFile(path);
    std::vector<PageRecords> pages;
    if (b.size() < 64) return pages;
    int count = b[32] | (b[33] << 8);
    std::size_t at = 64;
    for (int p = 0; p < count; ++p) {
        PageRecords pr;
        pr.header = decodePageHeader(&b[at]);
        std::size_t end = at + 16 + pr.header.imageLength, q = at + 16;
        while (q + 2 <= end) {
            std::size_t len = b[q] | (b[q + 1] << 8);
            pr.records.emplace_back(b.begin() + long(q + 2), b.begin() + long(q + 2 + len));
            q += 2 + len;
        }
        pages.push_back(pr);
        at = end;
    }
    return pages;
}

// A 1-bit BMP (palette 0 black) of the raster.
Bytes makeBmp1(const Raster& r) {
    std::vector<std::uint8_t> out;
    encodeBmp(r, out);
    return out;
}

// A 24-bit BMP filled with one grey level.
Bytes makeBmp24(int w, int h, int grey) {
    std::size_t stride = (std::size_t(w) * 3 + 3) / 4 * 4;
    Bytes b(54 + stride * std::size_t(h), 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, std::uint32_t(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, std::uint32_t(w));
    put32(22, std::uint32_t(h));
    b[26] = 1;
    b[28] = 24;
    for (int y = 0; y < h; ++y) std::memset(&b[54 + stride * std::size_t(y)], grey, std::size_t(w) * 3);
    return b;
}

struct ConverterTest : ::testing::Test {
    TempDir dir;
    TOvxFaxConverter c;
    void SetUp() override {
        c.Clock = [] {
            std::tm t{};
            t.tm_year = 120;
            t.tm_mday = 1;
            return t;
        };
    }
};

}  // namespace

TEST_F(ConverterTest, NoInputTypeIsBadArgument) {
    c.setDocumentFile(dir.file("x.bmp"));
    EXPECT_EQ(c.convert(), errors::ecBadArgument);
    EXPECT_THROW(c.convertFile(), telvane::errors::EOvxException);
}

TEST_F(ConverterTest, DocumentFileSetsTheOutputName) {
    c.setDocumentFile("/tmp/letters/note.txt");
    EXPECT_EQ(c.OutFileName, "/tmp/letters/note.OVF");
    c.setDocumentFile("/tmp/v1.0/noext");
    EXPECT_EQ(c.OutFileName, "/tmp/v1.0/noext.OVF");
}

TEST_F(ConverterTest, BitmapPageRoundTripsExactly) {
    Raster r = randomRaster(1728, 300, 3);
    c.InputDocumentType = idBitmap;
    c.Bitmap = &r;
    c.LeftMargin = 0;
    c.setOptions(0);
    c.Resolution = frHigh;
    c.StationID = "SENDER";
    c.OutFileName = dir.file("r.ovf");
    ASSERT_EQ(c.convert(), 0);
    Raster back = decodeOvf(dir.file("r.ovf"), 1);
    ASSERT_EQ(back.height, 300);
    EXPECT_EQ(back.bits, r.bits);
    std::vector<PageRecords> pages = readRecords(dir.file("r.ovf"));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].header.imageFlags, FAX_LINE_RECORDS | FAX_FINE);
    // image_length is the sum of 2 + L over the records, the page end included.
    std::size_t sum = 0;
    for (const Bytes& rec : pages[0].records) sum += 2 + rec.size();
    EXPECT_EQ(sum, pages[0].header.imageLength);
    EXPECT_EQ(pages[0].records.back(), Bytes(kPageEndBlock, kPageEndBlock + 12));
    Bytes file = readFile(dir.file("r.ovf"));
    EXPECT_EQ(file[10], 6);
}

// The left margin shifts an image right only as far as the image still fits: a full-width page
// (a fax TIFF, a PDF page drawn across the line) keeps its right-hand pels, a narrower image (the
// rendered rich-text page, 1664 pels) keeps the whole margin.
TEST_F(ConverterTest, TheLeftMarginNeverCutsOffTheRightOfAnImage) {
    struct Case {
        int width;
        int expectedShift;
    };
    for (const Case& k : {Case{1728, 0}, Case{1700, 28}, Case{1664, 50}, Case{800, 50}}) {
        Raster r(k.width, 4);
        for (int y = 0; y < 4; ++y) {
            r.setPixel(0, y, true);
            r.setPixel(k.width - 1, y, true);
        }
        c.InputDocumentType = idBitmap;
        c.Bitmap = &r;
        c.setOptions(0);  // no centring or doubling: only the margin moves the image
        c.Resolution = frHigh;
        c.OutFileName = dir.file("margin.ovf");
        ASSERT_EQ(c.LeftMargin, 50);
        ASSERT_EQ(c.convert(), 0) << k.width;
        const Raster back = decodeOvf(dir.file("margin.ovf"), 1);
        ASSERT_EQ(back.height, 4) << k.width;
        std::vector<int> black;
        for (int x = 0; x < back.width; ++x)
            if (back.pixel(x, 2)) black.push_back(x);
        EXPECT_EQ(black, (std::vector<int>{k.expectedShift, k.expectedShift + k.width - 1})) << k.width;
    }
}

TEST_F(ConverterTest, TopMarginStartsEveryPageWithBlankRecords) {
    writeFile(dir.file("t.txt"), Bytes{'a', '\f', 'b', '\n'});
    c.InputDocumentType = idText;
    c.setDocumentFile(dir.file("t.txt"));
    c.TopMargin = 3;
    ASSERT_EQ(c.convert(), 0);
    std::vector<PageRecords> pages = readRecords(dir.file("t.OVF"));
    ASSERT_EQ(pages.size(), 2u);
    for (const PageRecords& p : pages) {
        ASSERT_EQ(p.records.size(), 3u + 16 + 1);  // margin, one text line, page end
        for (int i = 0; i < 3; ++i) EXPECT_EQ(p.records[std::size_t(i)], Bytes(kBlankLine1728, kBlankLine1728 + 6));
    }
}

TEST_F(ConverterTest, WidePagesCarryTheWideFlagAndWidth) {
    Raster r = randomRaster(2048, 20, 9);
    c.InputDocumentType = idBitmap;
    c.Bitmap = &r;
    c.LeftMargin = 0;
    c.setOptions(0);
    c.Width = fwWide;
    c.OutFileName = dir.file("w.ovf");
    ASSERT_EQ(c.convert(), 0);
    std::vector<PageRecords> pages = readRecords(dir.file("w.ovf"));
    EXPECT_EQ(pages[0].header.imageFlags, FAX_LINE_RECORDS | FAX_WIDE);
    EXPECT_EQ(decodeOvf(dir.file("w.ovf"), 1).bits, r.bits);
}

TEST_F(ConverterTest, Bmp864WideIsDoubledAtStandardResolutionOnly) {
    Raster r(864, 4);
    for (int y = 0; y < 4; ++y) r.setPixel(0, y, true);
    writeFile(dir.file("b.bmp"), makeBmp1(r));
    c.InputDocumentType = idBmp;
    c.setDocumentFile(dir.file("b.bmp"));
    c.LeftMargin = 0;
    c.setOptions(coDoubleWidth | coCenterImage);
    ASSERT_EQ(c.convert(), 0);
    Raster std_ = decodeOvf(dir.file("b.OVF"), 1);
    EXPECT_TRUE(std_.pixel(0, 0));
    EXPECT_TRUE(std_.pixel(1, 0));  // doubled
    EXPECT_FALSE(std_.pixel(2, 0));

    c.Resolution = frHigh;
    ASSERT_EQ(c.convert(), 0);
    Raster fine = decodeOvf(dir.file("b.OVF"), 1);
    // Not doubled; centred by (1728 - 864) / 16 = 54 bytes.
    EXPECT_FALSE(fine.pixel(0, 0));
    EXPECT_TRUE(fine.pixel(54 * 8, 0));
    EXPECT_FALSE(fine.pixel(54 * 8 + 1, 0));
}

TEST_F(ConverterTest, HalfHeightCodesOddLinesOnly) {
    Raster r(1728, 6);
    for (int y = 0; y < 6; y += 2) r.setPixel(100, y, true);  // lines 1, 3, 5 (numbered from 1) are marked
    c.InputDocumentType = idBitmap;
    c.Bitmap = &r;
    c.LeftMargin = 0;
    c.setOptions(coHalfHeight);
    c.OutFileName = dir.file("h.ovf");
    ASSERT_EQ(c.convert(), 0);
    Raster back = decodeOvf(dir.file("h.ovf"), 1);
    ASSERT_EQ(back.height, 3);
    for (int y = 0; y < 3; ++y) EXPECT_TRUE(back.pixel(100, y));
}

TEST_F(ConverterTest, ColourBmpIsDitheredByBrightness) {
    for (auto [grey, lo, hi] : {std::tuple{0, 100, 100}, std::tuple{255, 0, 0}, std::tuple{128, 40, 60}}) {
        writeFile(dir.file("g.bmp"), makeBmp24(256, 32, grey));
        c.InputDocumentType = idBmp;
        c.setDocumentFile(dir.file("g.bmp"));
        c.LeftMargin = 0;
        c.setOptions(0);
        ASSERT_EQ(c.convert(), 0);
        Raster back = decodeOvf(dir.file("g.OVF"), 1);
        int black = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 256; ++x) black += back.pixel(x, y);
        int percent = black * 100 / (256 * 32);
        EXPECT_GE(percent, lo) << grey;
        EXPECT_LE(percent, hi) << grey;
    }
}

TEST_F(ConverterTest, TextFormFeedEndsThePageAfterTheTextBeforeIt) {
    writeFile(dir.file("f.txt"), Bytes{'a', 'b', '\f', 'c', 'd', '\n', 'e', '\n'});
    c.InputDocumentType = idText;
    c.setDocumentFile(dir.file("f.txt"));
    ASSERT_EQ(c.convert(), 0);
    std::vector<PageRecords> pages = readRecords(dir.file("f.OVF"));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].records.size(), 16u + 1);  // one text line of 16 rows, page end
    EXPECT_EQ(pages[1].records.size(), 32u + 1);  // "cd" and "e"
}

TEST_F(ConverterTest, LinesPerPageSplitsAndZeroKeepsOnePage) {
    std::string text;
    for (int i = 0; i < 25; ++i) text += "line " + std::to_string(i) + "\r\n";
    writeFile(dir.file("l.txt"), Bytes(text.begin(), text.end()));
    c.InputDocumentType = idText;
    c.setDocumentFile(dir.file("l.txt"));
    c.LinesPerPage = 10;
    ASSERT_EQ(c.convert(), 0);
    EXPECT_EQ(readRecords(dir.file("l.OVF")).size(), 3u);
    c.LinesPerPage = 0;
    ASSERT_EQ(c.convert(), 0);
    std::vector<PageRecords> pages = readRecords(dir.file("l.OVF"));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].records.size(), 25u * 16 + 1);
}

TEST_F(ConverterTest, FormFeedAtALinesPerPageBreakAddsNoEmptyPage) {
    std::string text = "a\nb\n\fc\n\f";
    writeFile(dir.file("b.txt"), Bytes(text.begin(), text.end()));
    c.InputDocumentType = idText;
    c.setDocumentFile(dir.file("b.txt"));
    c.LinesPerPage = 2;
    ASSERT_EQ(c.convert(), 0);
    std::vector<PageRecords> pages = readRecords(dir.file("b.OVF"));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[1].records.size(), 16u + 1);
    // Two form feeds in a row do make an empty page.
    text = "a\f\fb";
    writeFile(dir.file("b.txt"), Bytes(text.begin(), text.end()));
    ASSERT_EQ(c.convert(), 0);
    pages = readRecords(dir.file("b.OVF"));
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[1].records.size(), 1u);
}

TEST_F(ConverterTest, TextUsesTheFontGlyphsAndExpandsTabs) {
    writeFile(dir.file("g.txt"), Bytes{'\t', 'A'});
    c.InputDocumentType = idText;
    c.setDocumentFile(dir.file("g.txt"));
    c.LeftMargin = 0;
    c.setOptions(0);
    c.Resolution = frHigh;
    ASSERT_EQ(c.convert(), 0);
    Raster back = decodeOvf(dir.file("g.OVF"), 1);
    ASSERT_EQ(back.height, 32);  // 16 rows doubled at fine resolution
    auto blackIn = [&](int x0, int x1) {
        int n = 0;
        for (int y = 0; y < back.height; ++y)
            for (int x = x0; x < x1; ++x) n += back.pixel(x, y);
        return n;
    };
    EXPECT_EQ(blackIn(0, 80), 0);     // the tab: four blank 20-pel cells
    EXPECT_GT(blackIn(80, 100), 20);  // the A
    for (int y = 0; y < 32; y += 2)
        EXPECT_EQ(Bytes(back.row(y), back.row(y) + 216), Bytes(back.row(y + 1), back.row(y + 1) + 216));
}

TEST_F(ConverterTest, UserEventsSupplyPages) {
    int line = 0, opened = 0, closed = 0;
    c.InputDocumentType = idUser;
    c.LeftMargin = 0;
    c.setOptions(0);
    c.DefUserExtension = "DAT";
    c.setDocumentFile(dir.file("user"));
    c.OutFileName = dir.file("user.OVF");
    c.OnOpenUserFile = [&](TOvxFaxConverter&, const std::string& name) {
        ++opened;
        EXPECT_EQ(name, dir.file("user.DAT"));
    };
    c.OnCloseUserFile = [&](TOvxFaxConverter&) { ++closed; };
    c.OnReadUserLine = [&](TOvxFaxConverter&, std::uint8_t* data, int& len, bool& eop, bool& more) {
        ++line;
        if (line == 6 || line == 12) {
            eop = true;
            more = line == 6;
            return;
        }
        std::memset(data, 0, 216);
        data[0] = 0xFF;
        len = 216;
    };
    ASSERT_EQ(c.convert(), 0);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(closed, 1);
    std::vector<PageRecords> pages = readRecords(dir.file("user.OVF"));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].records.size(), 6u);
    EXPECT_EQ(decodeOvf(dir.file("user.OVF"), 2).row(0)[0], 0xFF);
}

TEST_F(ConverterTest, OutputLineHandlerReceivesLinesInsteadOfAFile) {
    writeFile(dir.file("o.txt"), Bytes{'x'});
    c.InputDocumentType = idText;
    c.setDocumentFile(dir.file("o.txt"));
    int lines = 0, ends = 0;
    c.OnOutputLine = [&](TOvxFaxConverter&, const std::uint8_t* d, int len, bool eop, bool) {
        if (eop) {
            ++ends;
            EXPECT_EQ(Bytes(d, d + len), Bytes(kPageEndBlock, kPageEndBlock + 12));
        } else {
            ++lines;
            EXPECT_EQ(d[1], 0x80);
        }
    };
    ASSERT_EQ(c.convert(), 0);
    EXPECT_EQ(lines, 16);
    EXPECT_EQ(ends, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("o.OVF")));
}

TEST_F(ConverterTest, StatusReportsAndAbortDeletesTheOutput) {
    writeFile(dir.file("s.txt"), Bytes{'a', '\f', 'b', '\f', 'c'});
    c.InputDocumentType = idText;
    c.setDocumentFile(dir.file("s.txt"));
    std::vector<std::pair<bool, bool>> calls;
    int lastPages = 0;
    c.OnStatus = [&](TOvxFaxConverter&, bool starting, bool ending, int pages, long, std::uint64_t, std::uint64_t total,
                     bool&) {
        calls.emplace_back(starting, ending);
        lastPages = pages;
        if (!starting) {
            EXPECT_EQ(total, 5u);
        }
    };
    ASSERT_EQ(c.convert(), 0);
    ASSERT_EQ(calls.size(), 5u);  // start, three pages, end
    EXPECT_TRUE(calls.front().first);
    EXPECT_TRUE(calls.back().second);
    EXPECT_EQ(lastPages, 3);

    c.OnStatus = [&](TOvxFaxConverter&, bool, bool, int pages, long, std::uint64_t, std::uint64_t, bool& abort) {
        abort = pages == 2;
    };
    std::filesystem::remove(dir.file("s.OVF"));
    EXPECT_EQ(c.convert(), errors::ecConvertAbort);
    EXPECT_FALSE(std::filesystem::exists(dir.file("s.OVF")));
}

TEST_F(ConverterTest, QuitWhileYieldingStops) {
    Raster r = randomRaster(1728, 100, 1);
    c.InputDocumentType = idBitmap;
    c.Bitmap = &r;
    c.OutFileName = dir.file("q.ovf");
    c.setOptions(coYieldOften);
    EXPECT_EQ(c.Options() & coYield, coYield);
    int yields = 0;
    c.OnYield = [&] { return ++yields < 3; };
    EXPECT_EQ(c.convert(), errors::ecGotQuitMsg);
    EXPECT_EQ(yields, 3);
    EXPECT_FALSE(std::filesystem::exists(dir.file("q.ovf")));
}

TEST_F(ConverterTest, UnreadableInputsFailCleanly) {
    c.setDocumentFile(dir.file("missing.bmp"));
    c.InputDocumentType = idBmp;
    EXPECT_EQ(c.convert(), errors::ecFileNotFound);
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.OVF")));
    writeFile(dir.file("junk.bmp"), Bytes{'B', 'M', 1, 2, 3});
    c.setDocumentFile(dir.file("junk.bmp"));
    EXPECT_EQ(c.convert(), errors::ecUnsupportedImage);
    EXPECT_FALSE(std::filesystem::exists(dir.file("junk.OVF")));
}

// A bit-field BMP (compression 3) of one row whose masks cover all 32 bits: the colour scale
// divisor must not vanish (it did, with a 32-bit shift).
TEST_F(ConverterTest, BitFieldBmpWithFullWidthMasksConverts) {
    for (int bpp : {16, 32}) {
        const std::size_t stride = bpp == 16 ? 4 : 8;  // two pels
        Bytes b(66 + stride, 0);
        auto put32 = [&](std::size_t at, std::uint32_t v) {
            for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
        };
        b[0] = 'B', b[1] = 'M';
        put32(10, 66);
        put32(14, 40);
        put32(18, 2);
        put32(22, 1);
        b[26] = 1;
        b[28] = std::uint8_t(bpp);
        put32(30, 3);
        put32(54, 0xFFFFFFFF);
        put32(58, 0xFFFFFFFF);
        put32(62, 0xFFFFFFFF);
        // pel 0 white (all ones in its bits), pel 1 black
        if (bpp == 16)
            b[66] = b[67] = 0xFF;
        else
            put32(66, 0xFFFFFFFF);
        const std::string in = dir.file("bf" + std::to_string(bpp) + ".bmp");
        writeFile(in, b);
        c.InputDocumentType = idBmp;
        c.setDocumentFile(in);
        c.setOptions(0);
        c.LeftMargin = 0;
        ASSERT_EQ(c.convert(), 0) << bpp;
        Raster r = decodeOvf(c.OutFileName, 1);
        ASSERT_GE(r.height, 1) << bpp;
        EXPECT_EQ(r.row(0)[0] & 0xC0, 0x40) << bpp;  // white then black
    }
}

// The output appears only complete: a failed conversion keeps an existing file of the output
// name as it was and leaves no temporary beside it; new files are private to their owner.
TEST_F(ConverterTest, FailedConversionLeavesNoPartialOrReplacedFile) {
    const std::string out = dir.file("keep.ovf");
    writeFile(out, Bytes{'o', 'l', 'd'});
    writeFile(dir.file("bad.txt"), Bytes{'a', '\f', 'b', '\f', 'c'});
    c.InputDocumentType = idText;
    c.setDocumentFile(dir.file("bad.txt"));
    c.OutFileName = out;
    c.OnStatus = [&](TOvxFaxConverter&, bool, bool, int pages, long, std::uint64_t, std::uint64_t, bool& abort) {
        abort = pages == 2;
    };
    EXPECT_EQ(c.convert(), errors::ecConvertAbort);
    EXPECT_EQ(readFile(out), (Bytes{'o', 'l', 'd'}));
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) entries += e.is_regular_file();
    EXPECT_EQ(entries, 2);  // keep.ovf and bad.txt only
    c.OnStatus = nullptr;
    ASSERT_EQ(c.convert(), 0);
    EXPECT_EQ(readRecords(out).size(), 3u);
    auto perms = std::filesystem::status(out).permissions();
    EXPECT_EQ(perms & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(ConverterTest, PagesLongerThanAFaxPageAreRefused) {
    Raster r(1728, kMaxPageLines + 1);
    c.InputDocumentType = idBitmap;
    c.Bitmap = &r;
    c.OutFileName = dir.file("long.ovf");
    EXPECT_EQ(c.convert(), errors::ecPageTooLong);
    EXPECT_FALSE(std::filesystem::exists(dir.file("long.ovf")));
    EXPECT_NE(telvane::errors::ovxErrorText(errors::ecPageTooLong).find("16384"), std::string::npos);
    Raster ok(1728, kMaxPageLines);
    c.Bitmap = &ok;
    EXPECT_EQ(c.convert(), 0);
}

TEST_F(ConverterTest, MoreThan65535PagesNamesTheLimit) {
    writeFile(dir.file("ff.txt"), Bytes(70000, '\f'));
    c.InputDocumentType = idText;
    c.setDocumentFile(dir.file("ff.txt"));
    EXPECT_EQ(c.convert(), errors::ecTooManyPages);
    EXPECT_NE(telvane::errors::ovxErrorText(errors::ecTooManyPages).find("65535"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(c.OutFileName));
}

// A tab stop far beyond any line width costs no more than a line that fills the page.
TEST_F(ConverterTest, HugeTabStopsAreBoundedByTheLineWidth) {
    writeFile(dir.file("tab.txt"), Bytes{'\t', 'x', '\t', '\t', 'y', '\n', 'A'});
    c.InputDocumentType = idText;
    c.setDocumentFile(dir.file("tab.txt"));
    c.TabStop = 999999999;
    ASSERT_EQ(c.convert(), 0);
    Raster huge = decodeOvf(c.OutFileName, 1);
    c.TabStop = 200;  // also past the end of the line
    ASSERT_EQ(c.convert(), 0);
    Raster wide = decodeOvf(c.OutFileName, 1);
    EXPECT_EQ(huge.bits, wide.bits);  // the x and y fall off the line either way; A stays
    EXPECT_GT(std::count_if(huge.bits.begin(), huge.bits.end(), [](std::uint8_t b) { return b != 0; }), 0);
}

namespace {
// A system-font stand-in without a character limit that records the longest line it was given.
class LengthRecorder : public FaxTextRenderer {
public:
    std::size_t longest = 0;
    int prepare(bool, int, int) override { return 0; }
    int rowCount() const override { return 1; }
    std::size_t maxChars() const override { return 0; }
    int maxWidth() const override { return 1600; }
    void renderLine(std::string_view text, Raster& out) override {
        longest = std::max(longest, text.size());
        out = Raster(1600, 1);
    }
};
}  // namespace

TEST_F(ConverterTest, TabExpansionIsBoundedWhateverTheRenderer) {
    writeFile(dir.file("tab2.txt"), Bytes{'a', '\t', 'b', '\t', 'c'});
    auto recorder = std::make_shared<LengthRecorder>();
    c.InputDocumentType = idTextEx;
    c.EnhFont = recorder;
    c.setDocumentFile(dir.file("tab2.txt"));
    c.TabStop = 100000000;
    ASSERT_EQ(c.convert(), 0);
    EXPECT_GT(recorder->longest, 1000u);
    EXPECT_LE(recorder->longest, 4096u);
}
