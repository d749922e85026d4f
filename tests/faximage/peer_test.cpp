// Peer tests: our MH coder against netpbm (g3topbm, pbmtog3) and libtiff (tiffcp), our TIFF
// and PDF exports against tiffinfo, tiffcp, tiff2pdf and pdftoppm.
#include "faximage/faxconverter.h"
#include "faximage/faxexport.h"
#include "faximage/faxinput.h"
#include "faximage/faxunpacker.h"
#include "testutil.h"

#include <tiffio.h>

#include <gtest/gtest.h>

#include "support/pbm.h"
#include "support/peers.h"

#include <cstdio>
#include <cstring>
#include <sys/wait.h>

using namespace telvane::faximage;
using namespace faxtest;

namespace {

using telvane::test::runCapture;

// Raw PBM (P4) files as rasters.
Raster readPbm(const std::string& path) {
    telvane::test::PbmImage image;
    if (!telvane::test::readPbm(path, image)) return Raster();
    Raster r(image.width, image.height);
    std::memcpy(r.bits.data(), image.bits.data(), r.bits.size());
    return r;
}

void writePbm(const std::string& path, const Raster& r) {
    ASSERT_TRUE(telvane::test::writePbm(path, r.width, r.height, r.bits.data()));
}

// Codes a raster into an OVF file and returns the page's coded bytes without record lengths.
Bytes encodeToOvf(const std::string& path, const Raster& r, bool fine) {
    makeFax(path, r, fine);
    Bytes f = readFile(path);
    std::uint32_t len = f[64] | (f[65] << 8) | (f[66] << 16) | (std::uint32_t(f[67]) << 24);
    Bytes coded;
    for (std::size_t q = 80; q + 2 <= 80 + len;) {
        std::size_t l = f[q] | (f[q + 1] << 8);
        coded.insert(coded.end(), f.begin() + long(q + 2), f.begin() + long(q + 2 + l));
        q += 2 + l;
    }
    return coded;
}

// A page that looks like a letter: text-like rows of short runs, blank gaps, a rule.
Raster letterPage(int width, int height, unsigned seed) {
    Raster r(width, height);
    Raster ink = randomRaster(width, height, seed, 45);
    for (int y = 0; y < height; ++y) {
        bool textRow = (y / 24) % 2 == 0 && (y % 24) < 18;
        if (textRow) std::memcpy(r.row(y), ink.row(y), r.stride / 2);
        if (y == height / 2) std::memset(r.row(y) + 10, 0xFF, r.stride - 20);
    }
    return r;
}

}  // namespace

TEST(NetpbmPeer, OurCodedPagesDecodeWithG3topbm) {
    REQUIRE_TOOL("g3topbm");
    TempDir dir;
    for (int width : {1728, 2048}) {
        Raster r = letterPage(width, 400, unsigned(width));
        writeFile(dir.file("page.g3"), encodeToOvf(dir.file("page.ovf"), r, true));
        ASSERT_EQ(runCapture("g3topbm -reversebits " + dir.file("page.g3") + " > " + dir.file("page.pbm")), 0);
        Raster back = readPbm(dir.file("page.pbm"));
        ASSERT_EQ(back.width, width);
        ASSERT_EQ(back.height, 400);
        EXPECT_EQ(back.bits, r.bits) << width;
    }
}

TEST(NetpbmPeer, Pbmtog3PagesDecodeWithOurDecoder) {
    REQUIRE_TOOL("pbmtog3");
    TempDir dir;
    Raster r = letterPage(1728, 300, 77);
    writePbm(dir.file("in.pbm"), r);
    ASSERT_EQ(runCapture("pbmtog3 -reversebits " + dir.file("in.pbm") + " > " + dir.file("in.g3")), 0);
    writeRawOvf(dir.file("in.ovf"), {readFile(dir.file("in.g3"))}, FAX_FINE);
    Raster back = decodeOvf(dir.file("in.ovf"));
    ASSERT_EQ(back.height, 300);
    EXPECT_EQ(back.bits, r.bits);
}

TEST(LibtiffPeer, TiffcpGroup3PagesDecodeWithOurDecoder) {
    REQUIRE_TOOL("tiffcp");
    TempDir dir;
    Raster r = letterPage(1728, 250, 5);
    {
        TIFF* t = TIFFOpen(dir.file("plain.tif").c_str(), "w");
        ASSERT_NE(t, nullptr);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 1728);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 250);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 250);
        for (int y = 0; y < 250; ++y) TIFFWriteScanline(t, r.row(y), std::uint32_t(y), 0);
        TIFFClose(t);
    }
    ASSERT_EQ(runCapture("tiffcp -c g3:1d -f lsb2msb -r 100000 " + dir.file("plain.tif") + " " + dir.file("g3.tif")),
              0);
    TIFF* t = TIFFOpen(dir.file("g3.tif").c_str(), "r");
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(TIFFNumberOfStrips(t), 1u);
    tmsize_t size = TIFFRawStripSize(t, 0);
    Bytes coded(static_cast<std::size_t>(size), 0);
    ASSERT_EQ(TIFFReadRawStrip(t, 0, coded.data(), size), size);
    TIFFClose(t);
    writeRawOvf(dir.file("g3.ovf"), {coded}, FAX_FINE);
    Raster back = decodeOvf(dir.file("g3.ovf"));
    ASSERT_EQ(back.height, 250);
    EXPECT_EQ(back.bits, r.bits);
}

TEST(LibtiffPeer, ExportedTiffClassFReadsBackWithLibtiffTools) {
    REQUIRE_TOOL("tiffinfo");
    REQUIRE_TOOL("tiff2pdf");
    TempDir dir;
    Raster p1 = letterPage(1728, 200, 1);
    Raster p2 = letterPage(1728, 120, 2);
    encodeToOvf(dir.file("a.ovf"), p1, false);
    encodeToOvf(dir.file("b.ovf"), p2, true);
    ASSERT_EQ(exportFaxToTiff(dir.file("a.ovf"), dir.file("a.tif")), 0);
    std::string info;
    ASSERT_EQ(runCapture("tiffinfo " + dir.file("a.tif"), &info), 0);
    EXPECT_NE(info.find("CCITT Group 3"), std::string::npos) << info;
    EXPECT_NE(info.find("204, 98"), std::string::npos) << info;
    EXPECT_NE(info.find("Image Width: 1728 Image Length: 200"), std::string::npos) << info;
    ASSERT_EQ(runCapture("tiff2pdf -o " + dir.file("a.pdf") + " " + dir.file("a.tif")), 0);
    // libtiff decodes our Group 3 data to the same raster.
    ASSERT_EQ(runCapture("tiffcp -c none -f msb2lsb " + dir.file("a.tif") + " " + dir.file("plain.tif")), 0);
    auto src = makeTiffSource(dir.file("plain.tif"));
    ASSERT_EQ(src->open(), 0);
    ASSERT_EQ(src->beginPage(), 0);
    std::uint8_t line[256];
    for (int y = 0; y < 200; ++y) {
        bool eop = false, more = false;
        ASSERT_EQ(src->readLine(line, eop, more), 0);
        ASSERT_FALSE(eop);
        ASSERT_EQ(Bytes(line, line + 216), Bytes(p1.row(y), p1.row(y) + 216)) << y;
    }
    ASSERT_EQ(exportFaxToTiff(dir.file("b.ovf"), dir.file("b.tif")), 0);
    ASSERT_EQ(runCapture("tiffinfo " + dir.file("b.tif"), &info), 0);
    EXPECT_NE(info.find("204, 196"), std::string::npos) << info;
}

TEST(PopplerPeer, ExportedPdfRendersWithTheRightSizeAndContent) {
    REQUIRE_TOOL("pdftoppm");
    TempDir dir;
    Raster page = letterPage(1728, 300, 9);
    encodeToOvf(dir.file("s.ovf"), page, false);
    ASSERT_EQ(exportFaxToPdf(dir.file("s.ovf"), dir.file("s.pdf")), 0);
    // At 204 x 98 dpi a standard page renders one pixel per pel.
    ASSERT_EQ(runCapture("pdftoppm -mono -rx 204 -ry 98 " + dir.file("s.pdf") + " " + dir.file("s")), 0);
    Raster back = readPbm(dir.file("s-1.pbm"));
    ASSERT_EQ(back.width, 1728);
    ASSERT_EQ(back.height, 300);
    long differ = 0;
    for (std::size_t i = 0; i < back.bits.size(); ++i)
        differ += __builtin_popcount(unsigned(back.bits[i] ^ page.bits[i]));
    EXPECT_LT(differ, long(1728) * 300 / 200) << "pels differing";
    // The aspect of a standard page: 1728 / 204 inches wide, 300 / 98 inches tall.
    ASSERT_EQ(runCapture("pdftoppm -mono -r 72 " + dir.file("s.pdf") + " " + dir.file("t")), 0);
    Raster at72 = readPbm(dir.file("t-1.pbm"));
    EXPECT_NEAR(at72.width, 1728 * 72 / 204, 1);
    EXPECT_NEAR(at72.height, 300 * 72 / 98, 1);
}
