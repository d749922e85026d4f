// Raw PBM (P4) images as netpbm, efix, tifftopnm and telvane-faxconv write them: reading, writing
// and comparing pages. Rows are packed most significant bit first, 1 = black, as in a fax raster.
#pragma once

#include <cstddef>
#include <string>

namespace telvane::test {

struct PbmImage {
    int width = 0;
    int height = 0;
    std::string bits;  // `height` rows of stride() bytes

    std::size_t stride() const { return (static_cast<std::size_t>(width) + 7) / 8; }
    std::string row(int y) const { return bits.substr(stride() * static_cast<std::size_t>(y), stride()); }
};

// Parses a whole P4 file (comments allowed in the header); false when it is none or is cut short.
bool parsePbm(const std::string& bytes, PbmImage& out);
bool readPbm(const std::string& path, PbmImage& out);
// A P4 file of `height` rows of (width + 7) / 8 bytes each taken from `bits`.
std::string pbmFile(int width, int height, const void* bits);
bool writePbm(const std::string& path, int width, int height, const void* bits);

// The raster bytes of a P4 file after its first `skipRows` rows, as one string to compare; "" when
// it is no P4 file. `width` and `height` receive its size.
std::string pbmRows(const std::string& bytes, int skipRows, int* width = nullptr, int* height = nullptr);
// Whether `inner` (raster bytes) appears in `outer` with only white bytes around it.
bool containsOnWhite(const std::string& outer, const std::string& inner);
// Finds the rows of `sent` below its first `skipRows` inside `got`, `got` shifted down by up to
// `maxOffset` rows (a peer adds lines of its own at the top, another pads the page with white at the
// bottom). Everything in `got` below the match must be white. Returns the offset or -1.
int findRows(const PbmImage& sent, const PbmImage& got, int skipRows, int maxOffset = 64);

}  // namespace telvane::test
