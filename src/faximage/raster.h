// A 1-bit raster image: the picture type shared by the fax coder, the decoder, rendering,
// the viewer and the printer.
// Rows are packed most significant bit first, 1 = black, each row `stride` bytes long with
// stride = (width + 7) / 8; pad bits beyond the width are kept 0 by every writer here.
// The raster also carries its resolution in dots per inch so that pages keep their aspect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace telvane::faximage {

struct Raster {
    int width = 0;           // pels per row
    int height = 0;          // rows
    std::size_t stride = 0;  // bytes per row
    int xdpi = 204;          // horizontal resolution
    int ydpi = 196;          // vertical resolution
    std::vector<std::uint8_t> bits;

    Raster() = default;
    Raster(int w, int h, int xres = 204, int yres = 196)
        : width(w < 0 ? 0 : w),
          height(h < 0 ? 0 : h),
          stride((static_cast<std::size_t>(width) + 7) / 8),
          xdpi(xres),
          ydpi(yres),
          bits(stride * static_cast<std::size_t>(height), 0) {}

    bool empty() const { return width == 0 || height == 0; }
    std::uint8_t* row(int y) { return bits.data() + stride * static_cast<std::size_t>(y); }
    const std::uint8_t* row(int y) const { return bits.data() + stride * static_cast<std::size_t>(y); }

    bool pixel(int x, int y) const { return (row(y)[x >> 3] >> (7 - (x & 7))) & 1; }
    void setPixel(int x, int y, bool black) {
        std::uint8_t mask = static_cast<std::uint8_t>(0x80 >> (x & 7));
        if (black)
            row(y)[x >> 3] |= mask;
        else
            row(y)[x >> 3] &= static_cast<std::uint8_t>(~mask);
    }
    // Clears the pad bits beyond `width` in every row.
    void clearPadBits() {
        if (width % 8 == 0 || stride == 0) return;
        std::uint8_t keep = static_cast<std::uint8_t>(0xFF << (8 - width % 8));
        for (int y = 0; y < height; ++y) row(y)[stride - 1] &= keep;
    }
};

}  // namespace telvane::faximage
