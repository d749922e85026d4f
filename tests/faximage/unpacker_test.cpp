// The page decoder: auto-scaling, whitespace compression, bitmap trimming and scaling, the
// BMP/PCX/DCX writers, the image readers reading them back, and damaged fax files.
#include "faximage/faxconverter.h"
#include "errors/errors.h"
#include "faximage/faxexport.h"
#include "faximage/faxinput.h"
#include "faximage/faxunpacker.h"
#include "faximage/mhcoder.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace telvane;
using namespace telvane::faximage;
using namespace faxtest;

namespace {

// Reads an image file back through the encoder's own readers.
Raster readBack(std::unique_ptr<FaxLineSource> src, int page = 1) {
    EXPECT_EQ(src->open(), 0);
    Raster out;
    for (int p = 1; p <= page; ++p) {
        EXPECT_EQ(src->beginPage(), 0);
        int w = src->imageWidth();
        std::vector<Bytes> rows;
        std::vector<std::uint8_t> line(std::size_t(w + 7) / 8 + 8);
        while (true) {
            bool eop = false, more = false;
            EXPECT_EQ(src->readLine(line.data(), eop, more), 0);
            if (eop) break;
            rows.emplace_back(line.begin(), line.begin() + long((w + 7) / 8));
        }
        if (p == page) {
            out = Raster(w, int(rows.size()));
            for (std::size_t y = 0; y < rows.size(); ++y) std::memcpy(out.row(int(y)), rows[y].data(), out.stride);
        }
    }
    return out;
}

Raster textLines(int height, const std::vector<int>& markedRows) {
    Raster r(1728, height);
    for (int y : markedRows)
        for (int x = 0; x < 64; ++x) r.setPixel(x, y, true);
    return r;
}

}  // namespace

TEST(Unpacker, StandardPageIsDoubledOrHalved) {
    TempDir dir;
    Raster r = randomRaster(1728, 1100, 4);
    makeFax(dir.file("s.ovf"), r, false);
    TOvxFaxUnpacker u;
    u.setInFileName(dir.file("s.ovf"));
    EXPECT_EQ(u.OutFileName, dir.file("s"));
    Raster out;
    ASSERT_EQ(u.unpackPageToBitmap(1, out), 0);
    EXPECT_EQ(out.height, 2200);
    EXPECT_EQ(Bytes(out.row(6), out.row(6) + out.stride), Bytes(out.row(7), out.row(7) + out.stride));
    EXPECT_EQ(Bytes(out.row(6), out.row(6) + out.stride), Bytes(r.row(3), r.row(3) + out.stride));

    u.AutoScaleMode = asHalfWidth;
    ASSERT_EQ(u.unpackPageToBitmap(1, out), 0);
    EXPECT_EQ(out.height, 1100);
    EXPECT_LE(out.width, 864);
    // Each output pel is black when either of its two input pels is.
    for (int x = 0; x < 864; ++x) ASSERT_EQ(out.pixel(x, 10), r.pixel(2 * x, 10) || r.pixel(2 * x + 1, 10)) << x;

    u.AutoScaleMode = asNone;
    ASSERT_EQ(u.unpackPageToBitmap(1, out), 0);
    EXPECT_EQ(out.height, 1100);
}

TEST(Unpacker, FinePagesAreNotAutoScaled) {
    TempDir dir;
    makeFax(dir.file("f.ovf"), randomRaster(1728, 50, 2), true);
    TOvxFaxUnpacker u;
    u.setInFileName(dir.file("f.ovf"));
    Raster out;
    ASSERT_EQ(u.unpackPageToBitmap(1, out), 0);
    EXPECT_EQ(out.height, 50);
    bool fine = false, wide = true;
    ASSERT_EQ(u.getFaxInfo(fine, wide), 0);
    EXPECT_TRUE(fine);
    EXPECT_FALSE(wide);
}

TEST(Unpacker, WhitespaceCompression) {
    TempDir dir;
    // Text, 30 blank lines, text, 5 blank lines, text, 12 blank lines at the end.
    makeFax(dir.file("w.ovf"), textLines(1 + 30 + 1 + 5 + 1 + 12, {0, 31, 37}), true);
    TOvxFaxUnpacker u;
    u.setInFileName(dir.file("w.ovf"));
    u.WhitespaceCompression = true;
    u.WhitespaceFrom = 10;
    u.WhitespaceTo = 2;
    std::vector<bool> marked;
    u.OnOutputLine = [&](TOvxFaxUnpacker&, bool starting, bool ending, const std::uint8_t* d, int, int) {
        if (!starting && !ending) marked.push_back(d[0] != 0);
    };
    ASSERT_EQ(u.unpackPage(1), 0);
    std::vector<bool> expect = {true, false, false, true, false, false, false, false, false, true, false, false};
    EXPECT_EQ(marked, expect);

    // From == To releases nothing at the page end.
    marked.clear();
    u.WhitespaceTo = 10;
    ASSERT_EQ(u.unpackPage(1), 0);
    EXPECT_EQ(marked.size(), 1u + 10 + 1 + 5 + 1);
}

TEST(Unpacker, BadWhitespaceSettingsAreRejected) {
    TempDir dir;
    makeFax(dir.file("w.ovf"), textLines(4, {0}), true);
    TOvxFaxUnpacker u;
    u.setInFileName(dir.file("w.ovf"));
    u.WhitespaceCompression = true;
    u.WhitespaceFrom = 2;
    u.WhitespaceTo = 5;
    EXPECT_EQ(u.unpackPage(1), errors::ecBadArgument);
    u.WhitespaceFrom = 0;
    u.WhitespaceTo = 1;
    Raster out;
    EXPECT_EQ(u.unpackPageToBitmap(1, out), errors::ecBadArgument);
}

TEST(Unpacker, BitmapIsTrimmedToTheWidestInkAndScaled) {
    TempDir dir;
    Raster r(1728, 10);
    r.setPixel(8 * 37 + 2, 5, true);  // ink in byte 37
    makeFax(dir.file("t.ovf"), r, true);
    TOvxFaxUnpacker u;
    u.setInFileName(dir.file("t.ovf"));
    Raster out;
    ASSERT_EQ(u.unpackPageToBitmap(1, out), 0);
    EXPECT_EQ(out.width, 38 * 8);  // 38 bytes, already even
    u.Scaling = true;
    u.setHorizMult(1);
    u.setHorizDiv(2);
    u.setVertMult(3);
    u.setVertDiv(0);  // ignored
    EXPECT_EQ(u.VertDiv(), 1);
    ASSERT_EQ(u.unpackPageToBitmap(1, out), 0);
    EXPECT_EQ(out.width, 38 * 4);
    EXPECT_EQ(out.height, 30);
    EXPECT_TRUE(out.pixel((8 * 37 + 2) / 2, 15));
}

TEST(Unpacker, BlankPageKeepsThePageWidth) {
    TempDir dir;
    makeFax(dir.file("b.ovf"), Raster(1728, 5), true);
    TOvxFaxUnpacker u;
    u.setInFileName(dir.file("b.ovf"));
    Raster out;
    ASSERT_EQ(u.unpackPageToBitmap(1, out), 0);
    EXPECT_EQ(out.width, 1728);
    EXPECT_EQ(out.height, 5);
}

TEST(Unpacker, PcxBmpAndDcxFilesReadBackExactly) {
    TempDir dir;
    Raster r = randomRaster(1728, 40, 8);
    r.setPixel(1727, 0, true);  // full width, so no trimming
    makeFax(dir.file("p.ovf"), r, true);
    TOvxFaxUnpacker u;
    u.setInFileName(dir.file("p.ovf"));
    ASSERT_EQ(u.unpackPageToPcx(1), 0);
    ASSERT_EQ(u.unpackPageToBmp(1), 0);
    ASSERT_EQ(u.unpackFileToDcx(), 0);
    Bytes pcx = readFile(dir.file("p.PCX"));
    ASSERT_GT(pcx.size(), 128u);
    EXPECT_EQ(pcx[0], 10);
    EXPECT_EQ(pcx[1], 2);
    EXPECT_EQ(pcx[2], 1);
    EXPECT_EQ(pcx[3], 1);
    EXPECT_EQ(pcx[65], 1);
    EXPECT_EQ(pcx[66] | (pcx[67] << 8), 216);
    Bytes bmp = readFile(dir.file("p.BMP"));
    EXPECT_EQ(bmp[10], 62);
    Bytes dcx = readFile(dir.file("p.DCX"));
    EXPECT_EQ(dcx[0] | (dcx[1] << 8) | (dcx[2] << 16) | (std::uint32_t(dcx[3]) << 24), 0x3ADE68B1u);
    EXPECT_EQ(dcx[4] | (dcx[5] << 8), 4100);

    EXPECT_EQ(readBack(makePcxSource(dir.file("p.PCX"))).bits, r.bits);
    EXPECT_EQ(readBack(makeBmpSource(dir.file("p.BMP"))).bits, r.bits);
    EXPECT_EQ(readBack(makeDcxSource(dir.file("p.DCX"))).bits, r.bits);
}

TEST(Unpacker, PcxRunLengthCodingFollowsTheRules) {
    Raster r(8 * 70, 1);
    // Inverted bytes: 0x3F (c0 marks it with 0xC0?) -> raster 0xC0 inverted = 0x3F stays single.
    std::memset(r.row(0), 0x00, 70);  // inverted 0xFF: 64 + 6 repeated -> C0+63 FF, C0+6 FF... capped
    r.row(0)[69] = 0x3F;              // inverted 0xC0: a single byte of 0xC0 or more -> C1 C0
    Bytes pcx = encodePcx(r);
    Bytes body(pcx.begin() + 128, pcx.end());
    EXPECT_EQ(body, (Bytes{0xFF, 0xFF, 0xC6, 0xFF, 0xC1, 0xC0}));
}

TEST(Unpacker, TallBmpIsRefused) {
    Raster r(8, 32768);
    std::vector<std::uint8_t> out;
    EXPECT_EQ(encodeBmp(r, out), errors::ecBmpTooBig);
    Raster ok(8, 32767);
    EXPECT_EQ(encodeBmp(ok, out), 0);
}

TEST(Unpacker, RawPageEndsAtImageLengthWithoutPageEnd) {
    TempDir dir;
    BitWriter w;
    for (int i = 0; i < 3; ++i) w.put("000000000001").put("010011011").put("00110101");
    writeRawOvf(dir.file("raw.ovf"), {w.bytes}, FAX_FINE);
    TOvxFaxUnpacker u;
    u.setInFileName(dir.file("raw.ovf"));
    Raster out;
    ASSERT_EQ(u.unpackPageToBitmap(1, out), 0);
    EXPECT_EQ(out.height, 3);
}

TEST(Unpacker, MissingPagesAndBadFilesHaveTheirCodes) {
    TempDir dir;
    TOvxFaxUnpacker u;
    Raster out;
    EXPECT_EQ(u.unpackPageToBitmap(1, out), errors::ecFileNotFound);
    u.setInFileName(dir.file("none.ovf"));
    EXPECT_EQ(u.getPageCount(), errors::ecFileNotFound);
    writeRawOvf(dir.file("one.ovf"), {Bytes{0x00, 0x80}});
    u.setInFileName(dir.file("one.ovf"));
    EXPECT_EQ(u.getPageCount(), 1);
    EXPECT_EQ(u.unpackPageToBitmap(2, out), errors::ecFaxBadFormat);
    // Truncated page data: the header promises more than the file holds.
    Bytes b = readFile(dir.file("one.ovf"));
    b[64] = 100;
    writeFile(dir.file("cut.ovf"), b);
    u.setInFileName(dir.file("cut.ovf"));
    EXPECT_EQ(u.unpackPageToBitmap(1, out), errors::ecFaxBadFormat);
    EXPECT_EQ(u.unpackPageToPcx(1), errors::ecFaxBadFormat);
    EXPECT_FALSE(std::filesystem::exists(dir.file("cut.PCX")));
}

TEST(Unpacker, EndlessPageIsCutAtTheRowLimit) {
    TempDir dir;
    // 70000 white lines of raw data and no page end: more rows than a page image may hold.
    BitWriter line;
    line.put("000000000001").put("010011011").put("00110101");
    Bytes page;
    // Each line is 29 bits; repeat 8 lines (232 bits = 29 bytes) to stay byte aligned.
    BitWriter eight;
    for (int i = 0; i < 8; ++i) eight.put("000000000001").put("010011011").put("00110101");
    for (int i = 0; i < 70000 / 8; ++i) page.insert(page.end(), eight.bytes.begin(), eight.bytes.end());
    writeRawOvf(dir.file("long.ovf"), {page}, FAX_FINE);
    TOvxFaxUnpacker u;
    u.setInFileName(dir.file("long.ovf"));
    Raster out;
    EXPECT_EQ(u.unpackPageToBitmap(1, out), errors::ecImageTooTall);
    // The messages name the limit that was met.
    EXPECT_NE(telvane::errors::ovxErrorText(errors::ecImageTooTall).find("65536"), std::string::npos);
    u.OutFileName = dir.file("long.bmp");
    EXPECT_EQ(u.unpackPageToBmp(1), errors::ecBmpTooBig);
    EXPECT_NE(telvane::errors::ovxErrorText(errors::ecBmpTooBig).find("32767"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.file("long.bmp")));
    int lines = 0;
    u.OnOutputLine = [&](TOvxFaxUnpacker&, bool s, bool e, const std::uint8_t*, int, int) { lines += !s && !e; };
    EXPECT_EQ(u.unpackPage(1), 0);
    EXPECT_EQ(lines, 70000);
}

TEST(Unpacker, AbortAndQuitStopDecoding) {
    TempDir dir;
    makeFax(dir.file("a.ovf"), randomRaster(1728, 2000, 3), true);
    TOvxFaxUnpacker u;
    u.setInFileName(dir.file("a.ovf"));
    int lines = 0;
    u.OnOutputLine = [&](TOvxFaxUnpacker& s, bool, bool, const std::uint8_t* d, int, int) {
        if (d && ++lines == 5) s.Options |= uoAbort;
    };
    EXPECT_EQ(u.unpackPage(1), errors::ecUnpackAbort);
    EXPECT_LT(lines, 2000);
    u.Options = uoYield;
    u.OnOutputLine = nullptr;
    int yields = 0;
    u.OnYield = [&] { return ++yields < 2; };
    EXPECT_EQ(u.unpackPage(1), errors::ecGotQuitMsg);
    EXPECT_EQ(yields, 2);
}

TEST(Unpacker, DcxOfMoreThan1023PagesNamesTheLimit) {
    TempDir dir;
    std::vector<Bytes> pages(1024, Bytes{0x00, 0x80});
    writeRawOvf(dir.file("many.ovf"), pages);
    TOvxFaxUnpacker u;
    u.setInFileName(dir.file("many.ovf"));
    EXPECT_EQ(u.unpackFileToDcx(), errors::ecTooManyDcxPages);
    EXPECT_NE(telvane::errors::ovxErrorText(errors::ecTooManyDcxPages).find("1023"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.file("many.DCX")));
}

// Exports decode page by page into a temporary: the result is every page in order, and a page
// that cannot be read leaves neither a partial file nor a changed old one.
TEST(Export, PagesStreamIntoTheOutputAndFailuresLeaveNothing) {
    TempDir dir;
    Raster a = randomRaster(1728, 40, 3), b = randomRaster(1728, 25, 4);
    TOvxFaxConverter c;
    c.InputDocumentType = idUser;
    c.Resolution = frHigh;
    c.LeftMargin = 0;
    c.setOptions(0);
    c.OutFileName = dir.file("two.ovf");
    int page = 0, row = 0;
    c.OnReadUserLine = [&](TOvxFaxConverter&, std::uint8_t* line, int& len, bool& eop, bool& more) {
        const Raster& r = page == 0 ? a : b;
        if (row == r.height) {
            eop = true;
            more = page == 0;
            ++page;
            row = 0;
            return;
        }
        std::memcpy(line, r.row(row++), 216);
        len = 216;
    };
    ASSERT_EQ(c.convert(), 0);
    ASSERT_EQ(exportFaxToPbm(dir.file("two.ovf"), dir.file("two.pbm")), 0);
    std::string expected = "P4\n1728 40\n";
    expected.append(a.bits.begin(), a.bits.end());
    expected += "P4\n1728 25\n";
    expected.append(b.bits.begin(), b.bits.end());
    const Bytes got = readFile(dir.file("two.pbm"));
    EXPECT_EQ(std::string(got.begin(), got.end()), expected);

    // Cut the file inside page 2.
    Bytes file = readFile(dir.file("two.ovf"));
    file.resize(file.size() - 200);
    writeFile(dir.file("cut.ovf"), file);
    writeFile(dir.file("old.pbm"), Bytes{'o', 'l', 'd'});
    for (auto export_ : {exportFaxToPbm, exportFaxToPdf, exportFaxToTiff})
        EXPECT_EQ(export_(dir.file("cut.ovf"), dir.file("old.pbm"), 0), errors::ecFaxBadFormat);
    EXPECT_EQ(readFile(dir.file("old.pbm")), (Bytes{'o', 'l', 'd'}));
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 4);  // two.ovf, two.pbm, cut.ovf, old.pbm
}

// Image exports go through a temporary too: a write that fails (here: the file size limit) keeps
// the old file and leaves no temporary; a written file has the mode a plain create would give it.
TEST(Export, ImageWritesThatFailKeepTheOldFile) {
    TempDir dir;
    makeFax(dir.file("p.ovf"), randomRaster(1728, 400, 5), true);
    TOvxFaxUnpacker u;
    u.setInFileName(dir.file("p.ovf"));
    u.OutFileName = dir.file("out.bmp");
    writeFile(u.OutFileName, Bytes{'o', 'l', 'd'});
    ::chmod(u.OutFileName.c_str(), 0640);

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int bmpRc = u.unpackPageToBmp(1);
    u.OutFileName = dir.file("out.pcx");
    const int pcxRc = u.unpackPageToPcx(1);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_NE(bmpRc, errors::ecOK);
    EXPECT_NE(pcxRc, errors::ecOK);
    EXPECT_EQ(readFile(dir.file("out.bmp")), (Bytes{'o', 'l', 'd'}));
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.pcx")));
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 2);  // p.ovf, out.bmp

    u.OutFileName = dir.file("out.bmp");
    ASSERT_EQ(u.unpackPageToBmp(1), errors::ecOK);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("out.bmp").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_GT(st.st_size, 4096);
    const mode_t mask = ::umask(022);
    u.OutFileName = dir.file("new.pcx");
    ASSERT_EQ(u.unpackPageToPcx(1), errors::ecOK);
    ::umask(mask);
    ASSERT_EQ(::stat(dir.file("new.pcx").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}
