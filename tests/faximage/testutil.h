// Helpers for the fax image tests: temporary directories, bit strings written in T.4 notation,
// hand-made OVF files, test rasters, and rasters coded into fax files and decoded from them.
#pragma once

#include <gtest/gtest.h>

#include "faximage/faxconverter.h"
#include "faximage/faxinput.h"
#include "faximage/faxunpacker.h"
#include "faximage/mrcoder.h"
#include "faximage/ovffile.h"
#include "faximage/raster.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/peers.h"
#include "support/tempdir.h"

// Skips a test whose outside tool is missing (fails it under CI).
#define REQUIRE_TOOL(name)                                 \
    TELVANE_REQUIRE_PEER(telvane::test::haveProgram(name), \
                         name << " is not installed (listed in scripts/deps/faximage.txt)")

namespace faxtest {

using Bytes = std::vector<std::uint8_t>;

using TempDir = telvane::test::TempDir;

// Appends bits written as in T.4 ("0011", first transmitted bit first), packed LSB first.
struct BitWriter {
    Bytes bytes;
    int bit = 0;
    BitWriter& put(const std::string& bits) {
        for (char c : bits) {
            if (bit == 0) bytes.push_back(0);
            if (c == '1') bytes.back() |= std::uint8_t(1u << bit);
            bit = (bit + 1) & 7;
        }
        return *this;
    }
    BitWriter& align() {
        bit = 0;
        return *this;
    }
};

inline Bytes readFile(const std::string& path) {
    const std::string bytes = telvane::test::readFile(path);
    return Bytes(bytes.begin(), bytes.end());
}

inline void writeFile(const std::string& path, const Bytes& b) {
    telvane::test::writeFile(path, std::string(b.begin(), b.end()));
}

// Writes an OVF file whose pages hold the given raw data (no line records).
inline void writeRawOvf(const std::string& path, const std::vector<Bytes>& pages, std::uint16_t flags = 0) {
    telvane::faximage::OvfWriter w;
    w.create(path, "TEST");
    for (const Bytes& p : pages) {
        w.beginPage(flags);
        w.append(p.data(), p.size());
        w.endPage();
    }
    w.close();
}

// A raster with text-like random blocks of black.
inline telvane::faximage::Raster randomRaster(int width, int height, unsigned seed, int density = 30) {
    telvane::faximage::Raster r(width, height);
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width;) {
            int run = 1 + int(rng() % 40);
            bool black = int(rng() % 100) < density;
            for (int k = 0; k < run && x < width; ++k, ++x)
                if (black) r.setPixel(x, y, true);
        }
    return r;
}

// Whether two pages (rows of `stride` bytes, one after the other) are the same; a failure names
// the first row that differs instead of printing whole pages.
inline ::testing::AssertionResult samePixels(const Bytes& got, const Bytes& want, std::size_t stride) {
    if (got == want) return ::testing::AssertionSuccess();
    const std::size_t rows = std::min(got.size(), want.size()) / (stride ? stride : 1);
    for (std::size_t y = 0; y < rows; ++y)
        if (!std::equal(got.begin() + long(y * stride), got.begin() + long((y + 1) * stride),
                        want.begin() + long(y * stride)))
            return ::testing::AssertionFailure() << "row " << y << " differs (" << got.size() / stride << " rows, "
                                                 << want.size() / stride << " expected)";
    return ::testing::AssertionFailure() << got.size() / stride << " rows, " << want.size() / stride << " expected";
}

// The tag bits of MR data (the bit after each EOL: 1 for a 1-D line, 0 for a 2-D line), in order.
inline std::string mrTags(const Bytes& coded) {
    std::string tags;
    int zeros = 0;
    for (std::size_t i = 0; i + 1 < coded.size() * 8; ++i) {
        const int bit = (coded[i / 8] >> (i % 8)) & 1;
        if (bit && zeros >= 11) {
            ++i;
            tags += char('0' + ((coded[i / 8] >> (i % 8)) & 1));
        }
        zeros = bit ? 0 : zeros + 1;
    }
    return tags;
}

// The kinds of page the codecs are checked on.
enum class PageKind { DenseText, SparseLetter, Blank, DitheredPhoto };
inline const char* pageKindName(PageKind k) {
    static const char* const names[] = {"dense text", "sparse letter", "blank", "dithered photo"};
    return names[int(k)];
}
constexpr PageKind kPageKinds[] = {PageKind::DenseText, PageKind::SparseLetter, PageKind::Blank,
                                   PageKind::DitheredPhoto};

// A page of the kind: rows of text-like ink in bands, a few such rows and a rule, nothing, or
// smooth shading dithered as the page encoder dithers photos.
inline telvane::faximage::Raster pageOf(PageKind kind, int width, int height, unsigned seed = 1) {
    using telvane::faximage::Raster;
    Raster r(width, height);
    switch (kind) {
    case PageKind::DenseText: {
        Raster ink = randomRaster(width, height, seed, 45);
        for (int y = 0; y < height; ++y)
            if (y % 22 < 16) std::memcpy(r.row(y), ink.row(y), r.stride);
        r.clearPadBits();
        break;
    }
    case PageKind::SparseLetter: {
        Raster ink = randomRaster(width, height, seed, 40);
        for (int y = height / 10; y < height / 3; ++y)
            if (y % 30 < 14) std::memcpy(r.row(y), ink.row(y), r.stride / 3);
        for (int x = width / 8; x < width / 2; ++x) r.setPixel(x, height / 2, true);
        break;
    }
    case PageKind::Blank: break;
    case PageKind::DitheredPhoto:
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const double d = std::hypot(x - width / 2.0, y - height / 2.0);
                const int grey = int(382 + 380 * std::sin(d / 25.0 + seed) * std::cos(x / 200.0));
                if (telvane::faximage::ditherBlack(x, y, grey)) r.setPixel(x, y, true);
            }
        break;
    }
    return r;
}

// A page coded by our MR (with K factor `k` and fill up to `minLineBits`) or MMR coder, page
// end included.
inline Bytes code2D(telvane::faximage::FaxCoding coding, const telvane::faximage::Raster& r, int k = 2,
                    int minLineBits = 0) {
    telvane::faximage::FaxMrCoder c;
    c.beginPage(coding, r.width, k, minLineBits);
    Bytes out;
    for (int y = 0; y < r.height; ++y) {
        const std::size_t n = c.codeLine(r.row(y));
        out.insert(out.end(), c.data(), c.data() + n);
    }
    const std::size_t n = c.endPage();
    out.insert(out.end(), c.data(), c.data() + n);
    return out;
}

// Codes a raster into a one-page OVF file (no margin, no options).
inline void makeFax(const std::string& path, const telvane::faximage::Raster& r, bool fine) {
    using namespace telvane::faximage;
    TOvxFaxConverter c;
    c.InputDocumentType = idBitmap;
    c.Bitmap = &r;
    c.LeftMargin = 0;
    c.setOptions(0);
    c.Resolution = fine ? frHigh : frNormal;
    c.Width = r.width == 2048 ? fwWide : fwNormal;
    c.OutFileName = path;
    ASSERT_EQ(c.convert(), 0);
}

// Page `page` of a fax file as our decoder reads it.
inline telvane::faximage::Raster decodeOvf(const std::string& path, int page = 1) {
    telvane::faximage::TOvxFaxUnpacker u;
    u.setInFileName(path);
    telvane::faximage::Raster r;
    bool fine = false;
    EXPECT_EQ(u.unpackPageToRaster(page, r, fine), 0);
    return r;
}

}  // namespace faxtest
