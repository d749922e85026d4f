// Helpers for the fax image tests: temporary directories, bit strings written in T.4 notation,
// hand-made OVF files, test rasters, and rasters coded into fax files and decoded from them.
#pragma once

#include <gtest/gtest.h>

#include "faximage/faxconverter.h"
#include "faximage/faxunpacker.h"
#include "faximage/ovffile.h"
#include "faximage/raster.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/tempdir.h"

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
    const std::string bytes = telvane::test::ReadFile(path);
    return Bytes(bytes.begin(), bytes.end());
}

inline void writeFile(const std::string& path, const Bytes& b) {
    telvane::test::WriteFile(path, std::string(b.begin(), b.end()));
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

// Codes a raster into a one-page OVF file (no margin, no options).
inline void makeFax(const std::string& path, const telvane::faximage::Raster& r, bool fine) {
    using namespace telvane::faximage;
    TOvxFaxConverter c;
    c.InputDocumentType = idBitmap;
    c.Bitmap = &r;
    c.LeftMargin = 0;
    c.SetOptions(0);
    c.Resolution = fine ? frHigh : frNormal;
    c.Width = r.width == 2048 ? fwWide : fwNormal;
    c.OutFileName = path;
    ASSERT_EQ(c.Convert(), 0);
}

// Page `page` of a fax file as our decoder reads it.
inline telvane::faximage::Raster decodeOvf(const std::string& path, int page = 1) {
    telvane::faximage::TOvxFaxUnpacker u;
    u.SetInFileName(path);
    telvane::faximage::Raster r;
    bool fine = false;
    EXPECT_EQ(u.UnpackPageToRaster(page, r, fine), 0);
    return r;
}

}  // namespace faxtest
