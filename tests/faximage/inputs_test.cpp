// Image readers on hand-made and hostile files: TIFF (own parser, PackBits, libtiff CCITT),
// PCX, DCX and BMP headers with huge, negative or inconsistent sizes.
#include "errors/errors.h"
#include "faximage/faxinput.h"
#include "testutil.h"

#include <tiffio.h>

#include <gtest/gtest.h>

#include <cstring>

using namespace telvane;
using namespace telvane::faximage;
using namespace faxtest;

namespace {

// Reads page `page` of a source into rows; returns the first error code.
int readAll(FaxLineSource& s, std::vector<Bytes>& rows, int& pages) {
    int rc = s.open();
    if (rc) return rc;
    pages = 0;
    bool more = true;
    while (more) {
        rc = s.beginPage();
        if (rc) return rc;
        ++pages;
        std::vector<std::uint8_t> line(std::size_t(s.imageWidth() + 7) / 8 + 8);
        while (true) {
            bool eop = false;
            rc = s.readLine(line.data(), eop, more);
            if (rc) return rc;
            if (eop) break;
            rows.emplace_back(line.begin(), line.begin() + long((s.imageWidth() + 7) / 8));
        }
    }
    return 0;
}

// A little-endian TIFF with one strip of the given compression and data.
Bytes makeTiff(int width, int height, int compression, const Bytes& strip, int photometric = 0) {
    Bytes b = {'I', 'I', 42, 0, 8, 0, 0, 0};
    struct E {
        std::uint16_t tag, type;
        std::uint32_t count, value;
    };
    std::vector<E> entries = {
        {256, 4, 1, std::uint32_t(width)},       {257, 4, 1, std::uint32_t(height)},      {258, 3, 1, 1},
        {259, 3, 1, std::uint32_t(compression)}, {262, 3, 1, std::uint32_t(photometric)}, {273, 4, 1, 0},
        {278, 4, 1, std::uint32_t(height)},      {279, 4, 1, std::uint32_t(strip.size())}};
    std::uint32_t dataAt = 8 + 2 + 12 * std::uint32_t(entries.size()) + 4;
    entries[5].value = dataAt;
    auto put16 = [&](std::uint16_t v) { b.push_back(std::uint8_t(v)), b.push_back(std::uint8_t(v >> 8)); };
    auto put32 = [&](std::uint32_t v) { put16(std::uint16_t(v)), put16(std::uint16_t(v >> 16)); };
    put16(std::uint16_t(entries.size()));
    for (const E& e : entries) {
        put16(e.tag), put16(e.type), put32(e.count);
        if (e.type == 3)
            put16(std::uint16_t(e.value)), put16(0);
        else
            put32(e.value);
    }
    put32(0);
    b.insert(b.end(), strip.begin(), strip.end());
    return b;
}

}  // namespace

TEST(TiffInput, UncompressedAndPackBitsStrips) {
    Bytes raw = {0xF0, 0x0F, 0xAA, 0x55};
    std::vector<Bytes> rows;
    int pages = 0;
    auto src = makeTiffSource(makeTiff(16, 2, 1, raw));
    ASSERT_EQ(readAll(*src, rows, pages), 0);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (Bytes{0xF0, 0x0F}));
    EXPECT_EQ(rows[1], (Bytes{0xAA, 0x55}));

    // PackBits: row 1 = literal 2 bytes, row 2 = repeat 0x81 twice; black-is-zero inverts.
    Bytes packed = {0x01, 0xF0, 0x0F, 0xFF, 0x81};
    rows.clear();
    auto src2 = makeTiffSource(makeTiff(16, 2, 32773, packed, 1));
    ASSERT_EQ(readAll(*src2, rows, pages), 0);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (Bytes{0x0F, 0xF0}));
    EXPECT_EQ(rows[1], (Bytes{0x7E, 0x7E}));
}

TEST(TiffInput, UnsupportedOrDamagedTiffIsRejected) {
    std::vector<Bytes> rows;
    int pages = 0;
    Bytes raw(4, 0);
    EXPECT_EQ(readAll(*makeTiffSource(makeTiff(16, 2, 5, raw)), rows, pages), errors::ecUnsupportedImage);  // LZW
    EXPECT_EQ(readAll(*makeTiffSource(makeTiff(0, 2, 1, raw)), rows, pages), errors::ecUnsupportedImage);
    EXPECT_EQ(readAll(*makeTiffSource(makeTiff(1 << 30, 2, 1, raw)), rows, pages), errors::ecUnsupportedImage);
    // Two billion rows: longer than any fax page, refused before reading a row.
    EXPECT_EQ(readAll(*makeTiffSource(makeTiff(16, 0x7FFFFFFF, 1, raw)), rows, pages), errors::ecPageTooLong);
    EXPECT_EQ(readAll(*makeTiffSource(makeTiff(16, kMaxPageLines + 1, 1, raw)), rows, pages), errors::ecPageTooLong);
    // The longest page on four bytes of data: fails as damaged at the first missing row.
    rows.clear();
    EXPECT_EQ(readAll(*makeTiffSource(makeTiff(16, kMaxPageLines, 1, raw)), rows, pages), errors::ecDamagedImage);
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_EQ(readAll(*makeTiffSource(makeTiff(16, 4, 32773, Bytes{0x01, 0xF0})), rows, pages), errors::ecDamagedImage);
    Bytes bad = makeTiff(16, 2, 1, raw);
    bad[2] = 43;
    EXPECT_EQ(readAll(*makeTiffSource(bad), rows, pages), errors::ecUnsupportedImage);
    Bytes loop = makeTiff(16, 2, 1, raw);
    EXPECT_EQ(readAll(*makeTiffSource(Bytes(loop.begin(), loop.begin() + 20)), rows, pages),
              errors::ecUnsupportedImage);
}

TEST(TiffInput, CcittGroup3And4ThroughLibtiff) {
    TempDir dir;
    Raster r = randomRaster(1728, 30, 12);
    for (auto [compression, options] : {std::pair{COMPRESSION_CCITTFAX3, 0u}, std::pair{COMPRESSION_CCITTFAX3, 1u},
                                        std::pair{COMPRESSION_CCITTFAX4, 0u}}) {
        std::string path = dir.file("g.tif");
        TIFF* t = TIFFOpen(path.c_str(), "w");
        ASSERT_NE(t, nullptr);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 1728);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 30);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
        if (compression == COMPRESSION_CCITTFAX3) TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, options);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 30);
        for (int y = 0; y < 30; ++y) TIFFWriteScanline(t, r.row(y), std::uint32_t(y), 0);
        TIFFClose(t);
        std::vector<Bytes> rows;
        int pages = 0;
        ASSERT_EQ(readAll(*makeTiffSource(path), rows, pages), 0) << compression << "/" << options;
        ASSERT_EQ(rows.size(), 30u);
        for (int y = 0; y < 30; ++y)
            ASSERT_EQ(rows[std::size_t(y)], Bytes(r.row(y), r.row(y) + 216)) << compression << "/" << options;
    }
}

// CCITT strips that end early or hold random bytes are damaged data, never a page of white.
TEST(TiffInput, TruncatedOrRandomCcittStripsAreDamaged) {
    TempDir dir;
    Raster r = randomRaster(1728, 200, 5);
    const std::string path = dir.file("g4.tif");
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 1728);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 200);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 200);
    for (int y = 0; y < 200; ++y) TIFFWriteScanline(t, r.row(y), std::uint32_t(y), 0);
    TIFFClose(t);
    // Re-wrap the coded strip in our own minimal TIFF: whole, cut to a third, and replaced by
    // random bytes of the same length.
    TIFF* in = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(in, nullptr);
    Bytes strip(std::size_t(TIFFRawStripSize(in, 0)));
    ASSERT_GT(TIFFReadRawStrip(in, 0, strip.data(), tmsize_t(strip.size())), 0);
    TIFFClose(in);
    std::vector<Bytes> rows;
    int pages = 0;
    ASSERT_EQ(readAll(*makeTiffSource(makeTiff(1728, 200, 4, strip)), rows, pages), 0);
    EXPECT_EQ(rows.size(), 200u);
    rows.clear();
    Bytes cut(strip.begin(), strip.begin() + long(strip.size() / 3));
    EXPECT_EQ(readAll(*makeTiffSource(makeTiff(1728, 200, 4, cut)), rows, pages), errors::ecDamagedImage);
    EXPECT_LT(rows.size(), 200u);
    std::mt19937 gen(7);
    Bytes noise(strip.size());
    for (auto& b : noise) b = std::uint8_t(gen());
    EXPECT_EQ(readAll(*makeTiffSource(makeTiff(1728, 200, 4, noise)), rows, pages), errors::ecDamagedImage);
    // A page that claims far more rows than its strip codes.
    EXPECT_EQ(readAll(*makeTiffSource(makeTiff(1728, kMaxPageLines, 4, strip)), rows, pages), errors::ecDamagedImage);
}

TEST(PcxInput, HostileHeadersAreRejected) {
    std::vector<Bytes> rows;
    int pages = 0;
    Bytes h(128, 0);
    h[0] = 10;
    h[2] = 1;
    h[3] = 1;
    h[65] = 1;
    auto set16 = [&](int at, int v) {
        h[std::size_t(at)] = std::uint8_t(v), h[std::size_t(at + 1)] = std::uint8_t(v >> 8);
    };
    set16(8, 65535);  // width 65536
    set16(10, 0);
    set16(66, 8192);
    EXPECT_EQ(readAll(*makePcxSource(h), rows, pages), errors::ecUnsupportedImage);
    set16(8, 15);
    set16(10, 65535);  // 65536 rows: longer than a fax page
    set16(66, 2);
    EXPECT_EQ(readAll(*makePcxSource(h), rows, pages), errors::ecPageTooLong);
    set16(10, 9999);  // rows on no data
    EXPECT_EQ(readAll(*makePcxSource(h), rows, pages), errors::ecUnsupportedImage);
    set16(66, 1);  // bytes per line too small for 16 pels
    set16(10, 0);
    EXPECT_EQ(readAll(*makePcxSource(h), rows, pages), errors::ecUnsupportedImage);
    h[3] = 4;  // 4 bits x 1 plane: not a layout we read
    set16(66, 8);
    EXPECT_EQ(readAll(*makePcxSource(h), rows, pages), errors::ecUnsupportedImage);
    // A run count reaching past the line is cut at the line.
    h[3] = 1;
    set16(66, 2);
    Bytes ok = h;
    ok.insert(ok.end(), {0xFF, 0x00});
    rows.clear();
    ASSERT_EQ(readAll(*makePcxSource(ok), rows, pages), 0);
    EXPECT_EQ(rows[0], (Bytes{0xFF, 0xFF}));
}

// One page's data named by many offsets would multiply the output without bound.
TEST(DcxInput, RepeatedPageOffsetsAreDamaged) {
    Bytes pcx(128, 0);
    pcx[0] = 10, pcx[2] = 1, pcx[3] = 1, pcx[65] = 1;
    pcx[8] = 15;  // 16 pels
    pcx[10] = 1;  // 2 rows
    pcx[66] = 2;  // bytes per line
    pcx.insert(pcx.end(), {0xF0, 0x0F, 0xAA, 0x55});
    auto dcx = [&](std::vector<std::uint32_t> offsets, int copies) {
        Bytes d(4100, 0);
        d[0] = 0xB1, d[1] = 0x68, d[2] = 0xDE, d[3] = 0x3A;
        for (std::size_t i = 0; i < offsets.size(); ++i)
            for (int k = 0; k < 4; ++k) d[4 + 4 * i + std::size_t(k)] = std::uint8_t(offsets[i] >> (8 * k));
        for (int c = 0; c < copies; ++c) d.insert(d.end(), pcx.begin(), pcx.end());
        return d;
    };
    std::vector<Bytes> rows;
    int pages = 0;
    const std::uint32_t second = 4100 + std::uint32_t(pcx.size());
    ASSERT_EQ(readAll(*makeDcxSource(dcx({4100, second}, 2)), rows, pages), 0);
    EXPECT_EQ(pages, 2);
    EXPECT_EQ(rows.size(), 4u);
    EXPECT_EQ(readAll(*makeDcxSource(dcx(std::vector<std::uint32_t>(1023, 4100), 1)), rows, pages),
              errors::ecDamagedImage);
    EXPECT_EQ(readAll(*makeDcxSource(dcx({4100, second, 4100}, 2)), rows, pages), errors::ecDamagedImage);
}

TEST(DcxInput, OffsetsOutsideTheFileAreRejected) {
    std::vector<Bytes> rows;
    int pages = 0;
    Bytes d(4100, 0);
    d[0] = 0xB1, d[1] = 0x68, d[2] = 0xDE, d[3] = 0x3A;
    EXPECT_EQ(readAll(*makeDcxSource(d), rows, pages), errors::ecUnsupportedImage);  // no pages
    d[4] = 0xFF, d[5] = 0xFF, d[6] = 0xFF, d[7] = 0x7F;
    EXPECT_EQ(readAll(*makeDcxSource(d), rows, pages), errors::ecUnsupportedImage);
    EXPECT_EQ(readAll(*makeDcxSource(Bytes{1, 2, 3}), rows, pages), errors::ecUnsupportedImage);
}

TEST(BmpInput, HugeNegativeAndInconsistentSizesAreRejected) {
    auto bmp = [](std::int32_t w, std::int32_t h, int bpp, std::size_t dataBytes) {
        Bytes b(62 + dataBytes, 0);
        auto put32 = [&](std::size_t at, std::uint32_t v) {
            for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
        };
        b[0] = 'B', b[1] = 'M';
        put32(10, 62);
        put32(14, 40);
        put32(18, std::uint32_t(w));
        put32(22, std::uint32_t(h));
        b[26] = 1;
        b[28] = std::uint8_t(bpp);
        b[58] = b[59] = b[60] = 0xFF;
        return b;
    };
    std::vector<Bytes> rows;
    int pages = 0;
    EXPECT_EQ(readAll(*makeBmpSource(bmp(-5, 2, 1, 8)), rows, pages), errors::ecUnsupportedImage);
    EXPECT_EQ(readAll(*makeBmpSource(bmp(0x7FFFFFFF, 2, 1, 8)), rows, pages), errors::ecUnsupportedImage);
    EXPECT_EQ(readAll(*makeBmpSource(bmp(8, 0x7FFFFFFF, 1, 8)), rows, pages), errors::ecPageTooLong);
    EXPECT_EQ(readAll(*makeBmpSource(bmp(8, 9999, 1, 8)), rows, pages), errors::ecUnsupportedImage);
    EXPECT_EQ(readAll(*makeBmpSource(bmp(8, INT32_MIN, 1, 8)), rows, pages), errors::ecUnsupportedImage);
    EXPECT_EQ(readAll(*makeBmpSource(bmp(8, 2, 7, 8)), rows, pages), errors::ecUnsupportedImage);
    // Top-down (negative height) is a valid layout.
    Bytes td = bmp(8, -2, 1, 8);
    td[62] = 0x0F;  // first row in the file is the top row; palette 0 black -> inverted
    rows.clear();
    ASSERT_EQ(readAll(*makeBmpSource(td), rows, pages), 0);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], 0xF0);
    EXPECT_EQ(rows[1][0], 0xFF);
}

TEST(Dither, ThresholdsSpanTheWholeRange) {
    int blackAtMid = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            EXPECT_TRUE(ditherBlack(x, y, 0));
            EXPECT_FALSE(ditherBlack(x, y, 765));
            blackAtMid += ditherBlack(x, y, 382);
        }
    EXPECT_NEAR(blackAtMid, 128, 2);
    // The pattern repeats every 16 pels.
    EXPECT_EQ(ditherBlack(3, 5, 300), ditherBlack(19, 37, 300));
}
