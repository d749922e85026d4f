// Peer tests of the T.4 2-D (MR) and T.6 (MMR) codecs against libtiff and netpbm on dense,
// sparse, blank and dithered pages: Group 3 2-D and Group 4 data written by tiffcp decodes with
// our decoder (and transcodes into MH that our fax file reader decodes) to the same pixels; our
// coded pages, wrapped in a TIFF, decode in tiffcp, tiffinfo -D, tifftopnm and (through
// tiff2pdf) Poppler to the same pixels.
#include "faximage/mrdecoder.h"
#include "faximage/transcode.h"
#include "testutil.h"

#include <tiffio.h>

#include <gtest/gtest.h>

#include "support/pbm.h"

#include <string>

using namespace telvane::faximage;
using namespace faxtest;

namespace {

using telvane::test::runCapture;

constexpr int kRows = 160;

void setPageTags(TIFF* t, const Raster& r, bool fine, int compression) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, std::uint32_t(r.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::uint32_t(r.height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, std::uint32_t(r.height));
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 204.0f);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, fine ? 196.0f : 98.0f);  // libtiff's K factor follows it
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
}

// An uncompressed TIFF of the page, as the input of tiffcp.
void writePlainTiff(const std::string& path, const Raster& r, bool fine) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    setPageTags(t, r, fine, COMPRESSION_NONE);
    for (int y = 0; y < r.height; ++y) TIFFWriteScanline(t, const_cast<std::uint8_t*>(r.row(y)), std::uint32_t(y), 0);
    TIFFClose(t);
}

// Our coded page as the one strip of a Group 3 2-D or Group 4 TIFF, in the TIFF's default bit
// order (first bit in the most significant bit), which every TIFF reader takes.
void writeCodedTiff(const std::string& path, const Raster& r, bool fine, FaxCoding coding, Bytes coded) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    setPageTags(t, r, fine, coding == FaxCoding::MR ? COMPRESSION_CCITTFAX3 : COMPRESSION_CCITTFAX4);
    if (coding == FaxCoding::MR) TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, std::uint32_t(GROUP3OPT_2DENCODING));
    TIFFReverseBits(coded.data(), tmsize_t(coded.size()));
    ASSERT_EQ(TIFFWriteRawStrip(t, 0, coded.data(), tmsize_t(coded.size())), tmsize_t(coded.size()));
    TIFFClose(t);
}

// The coded strip of a one-strip TIFF written with FillOrder 2 (first bit in bit 0).
Bytes readCodedStrip(const std::string& path, int expectCompression) {
    TIFF* t = TIFFOpen(path.c_str(), "r");
    EXPECT_NE(t, nullptr);
    if (!t) return {};
    std::uint16_t compression = 0, fillOrder = 0;
    TIFFGetField(t, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(t, TIFFTAG_FILLORDER, &fillOrder);
    EXPECT_EQ(compression, expectCompression);
    EXPECT_EQ(fillOrder, FILLORDER_LSB2MSB);
    EXPECT_EQ(TIFFNumberOfStrips(t), 1u);
    const tmsize_t size = TIFFRawStripSize(t, 0);
    Bytes coded(std::size_t(size > 0 ? size : 0), 0);
    EXPECT_EQ(TIFFReadRawStrip(t, 0, coded.data(), size), size);
    TIFFClose(t);
    return coded;
}

// An uncompressed TIFF (MinIsWhite) as a raster.
Raster readPlainTiff(const std::string& path) {
    TIFF* t = TIFFOpen(path.c_str(), "r");
    EXPECT_NE(t, nullptr);
    if (!t) return Raster();
    std::uint32_t w = 0, h = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    Raster r{int(w), int(h)};
    for (std::uint32_t y = 0; y < h; ++y) TIFFReadScanline(t, r.row(int(y)), y, 0);
    TIFFClose(t);
    return r;
}

struct Lines : FaxLineSink {
    Bytes bits;
    void faxLine(const std::uint8_t* l, std::size_t n) override { bits.insert(bits.end(), l, l + n); }
};

struct PeerCase {
    const char* tiffcpMode;
    FaxCoding coding;
    int compression;
};
const PeerCase kLibtiffModes[] = {{"g3:2d", FaxCoding::MR, COMPRESSION_CCITTFAX3},
                                  {"g3:2d:fill", FaxCoding::MR, COMPRESSION_CCITTFAX3},
                                  {"g4", FaxCoding::MMR, COMPRESSION_CCITTFAX4}};

// Coded data of the page as tiffcp writes it.
Bytes libtiffCoded(const TempDir& dir, const Raster& r, bool fine, const PeerCase& mode) {
    writePlainTiff(dir.file("plain.tif"), r, fine);
    const std::string out = dir.file("coded.tif");
    EXPECT_EQ(runCapture(std::string("tiffcp -c ") + mode.tiffcpMode + " -f lsb2msb -r 100000 " +
                         dir.file("plain.tif") + " " + out),
              0);
    return readCodedStrip(out, mode.compression);
}

}  // namespace

TEST(LibtiffPeer2D, TiffcpGroup3TwoDimensionalAndGroup4PagesDecodeWithOurDecoder) {
    REQUIRE_TOOL("tiffcp");
    TempDir dir;
    for (const PeerCase& mode : kLibtiffModes) {
        for (PageKind kind : kPageKinds) {
            for (bool fine : {false, true}) {
                for (int width : {1728, 2048, 1001}) {
                    if (width != 1728 && kind != PageKind::DenseText) continue;
                    SCOPED_TRACE(std::string(mode.tiffcpMode) + " " + pageKindName(kind) + (fine ? " fine " : " ") +
                                 std::to_string(width));
                    const Raster r = pageOf(kind, width, kRows, unsigned(width) + (fine ? 1 : 0));
                    const Bytes coded = libtiffCoded(dir, r, fine, mode);
                    if (mode.coding == FaxCoding::MR && kind != PageKind::Blank) {
                        // libtiff codes with the K factor of the resolution, as T.4 asks.
                        const std::string tags = mrTags(coded);
                        ASSERT_GE(tags.size(), std::size_t(kRows));
                        EXPECT_EQ(tags.substr(0, 8), fine ? "10001000" : "10101010");
                    }
                    Lines lines;
                    FaxMrDecoder d(&lines);
                    d.reset(mode.coding, width);
                    d.feed(coded.data(), coded.size());
                    d.finish();
                    EXPECT_EQ(d.damagedLines(), 0);
                    EXPECT_EQ(d.linesDelivered(), kRows);
                    EXPECT_TRUE(samePixels(lines.bits, r.bits, r.stride));
                }
            }
        }
    }
}

TEST(LibtiffPeer2D, OurCodedPagesDecodeInLibtiffAndNetpbm) {
    REQUIRE_TOOL("tiffcp");
    REQUIRE_TOOL("tiffinfo");
    REQUIRE_TOOL("tiff2pdf");
    REQUIRE_TOOL("tifftopnm");
    REQUIRE_TOOL("pdftoppm");
    TempDir dir;
    struct Ours {
        FaxCoding coding;
        int minLineBits;
    };
    for (Ours ours : {Ours{FaxCoding::MR, 0}, Ours{FaxCoding::MR, 96}, Ours{FaxCoding::MMR, 0}}) {
        for (PageKind kind : kPageKinds) {
            for (bool fine : {false, true}) {
                SCOPED_TRACE(std::string(codingName(ours.coding)) + " fill " + std::to_string(ours.minLineBits) + " " +
                             pageKindName(kind) + (fine ? " fine" : ""));
                const Raster r = pageOf(kind, 1728, kRows, fine ? 7 : 8);
                const Bytes coded = code2D(ours.coding, r, kFactor(fine), ours.minLineBits);
                const std::string tif = dir.file("ours.tif");
                writeCodedTiff(tif, r, fine, ours.coding, coded);

                std::string info;
                EXPECT_EQ(runCapture("tiffinfo -D " + tif, &info), 0);
                EXPECT_EQ(info.find("rror"), std::string::npos) << info;
                EXPECT_EQ(info.find("arning"), std::string::npos) << info;
                EXPECT_NE(info.find(ours.coding == FaxCoding::MR ? "CCITT Group 3" : "CCITT Group 4"),
                          std::string::npos)
                    << info;

                ASSERT_EQ(runCapture("tiffcp -c none " + tif + " " + dir.file("plain.tif")), 0);
                EXPECT_TRUE(samePixels(readPlainTiff(dir.file("plain.tif")).bits, r.bits, r.stride)) << "tiffcp";

                ASSERT_EQ(telvane::test::runCommand("tifftopnm " + tif + " 2>" + dir.file("err.txt") + " >" +
                                                    dir.file("ours.pbm")),
                          0);
                EXPECT_EQ(telvane::test::readFile(dir.file("err.txt")), "tifftopnm: writing PBM file\n");
                telvane::test::PbmImage pbm;
                ASSERT_TRUE(telvane::test::readPbm(dir.file("ours.pbm"), pbm));
                EXPECT_EQ(pbm.width, r.width);
                EXPECT_EQ(pbm.height, r.height);
                EXPECT_TRUE(samePixels(Bytes(pbm.bits.begin(), pbm.bits.end()), r.bits, r.stride)) << "tifftopnm";

                // tiff2pdf passes the coded data on to the PDF; Poppler decodes it once more.
                std::string pdf;
                EXPECT_EQ(runCapture("tiff2pdf -o " + dir.file("ours.pdf") + " " + tif, &pdf), 0) << pdf;
                EXPECT_EQ(pdf.find("rror"), std::string::npos) << pdf;
                ASSERT_EQ(runCapture("pdftoppm -mono -rx 204 -ry " + std::string(fine ? "196 " : "98 ") +
                                     dir.file("ours.pdf") + " " + dir.file("pdf")),
                          0);
                ASSERT_TRUE(telvane::test::readPbm(dir.file("pdf-1.pbm"), pbm));
                EXPECT_TRUE(samePixels(Bytes(pbm.bits.begin(), pbm.bits.end()), r.bits, r.stride)) << "pdftoppm";
            }
        }
    }
}

TEST(LibtiffPeer2D, TiffcpPagesTranscodeToMhThatOurFaxFileReaderDecodes) {
    REQUIRE_TOOL("tiffcp");
    TempDir dir;
    for (const PeerCase& mode : kLibtiffModes) {
        for (PageKind kind : kPageKinds) {
            SCOPED_TRACE(std::string(mode.tiffcpMode) + " " + pageKindName(kind));
            const Raster r = pageOf(kind, 2048, kRows, 21);
            const Bytes coded = libtiffCoded(dir, r, true, mode);
            FaxPageTranscoder t;
            ASSERT_EQ(t.begin(mode.coding, 2048), 0);
            Bytes mh;
            for (std::size_t i = 0; i < coded.size(); i += 1000)
                t.feed(coded.data() + i, std::min<std::size_t>(1000, coded.size() - i), mh);
            t.finish(mh);
            EXPECT_EQ(t.lines(), kRows);
            EXPECT_EQ(t.damagedLines(), 0);
            writeRawOvf(dir.file("page.ovf"), {mh}, FAX_FINE | FAX_WIDE);
            EXPECT_TRUE(samePixels(decodeOvf(dir.file("page.ovf")).bits, r.bits, r.stride));
        }
    }
}

TEST(LibtiffPeer2D, DamagedTiffcpPagesTranscodeWithTheLinesBeforeTheDamage) {
    REQUIRE_TOOL("tiffcp");
    TempDir dir;
    const Raster r = pageOf(PageKind::DenseText, 1728, kRows, 5);
    for (const PeerCase& mode : kLibtiffModes) {
        SCOPED_TRACE(mode.tiffcpMode);
        Bytes coded = libtiffCoded(dir, r, false, mode);
        // A line hit: a run of ones in the second half of the page.
        for (std::size_t i = coded.size() * 2 / 3; i < coded.size() * 2 / 3 + 4; ++i) coded[i] = 0xFF;
        FaxPageTranscoder t;
        ASSERT_EQ(t.begin(mode.coding, 1728), 0);
        Bytes mh;
        t.feed(coded.data(), coded.size(), mh);
        t.finish(mh);
        EXPECT_TRUE(t.damaged());
        writeRawOvf(dir.file("hit.ovf"), {mh});
        const Raster back = decodeOvf(dir.file("hit.ovf"));
        ASSERT_GE(back.height, kRows / 2);
        const auto half = long(r.stride) * (kRows / 2);
        EXPECT_TRUE(samePixels(Bytes(back.bits.begin(), back.bits.begin() + half),
                               Bytes(r.bits.begin(), r.bits.begin() + half), r.stride));
        if (mode.coding == FaxCoding::MR) {
            EXPECT_EQ(Bytes(back.row(back.height - 1), back.row(back.height - 1) + 216),
                      Bytes(r.row(kRows - 1), r.row(kRows - 1) + 216));
        }
    }
}
