// The page bitmap of rendering: a 1664 x 2156 page (11 inches at fine resolution) that the
// rich-text control paints on, turned into a monochrome bitmap for the page encoder.
// Painting goes to a 32-bit canvas (Qt cannot paint on 1-bit images); each pel of the
// monochrome page takes the nearer of black and white, so text painted without anti-aliasing
// keeps its exact shape and coloured text comes out black.
// Guarantees: the canvas carries the given logical resolution, so that the control lays text
// out at that resolution times its zoom; a failure raises telvane::EOvxException.
#pragma once

#include "faximage/raster.h"

#include <QImage>
#include <cstdint>
#include <string>
#include <vector>

namespace telvane::render {

class PageBitmap {
public:
    static constexpr int kWidth = 1664;
    static constexpr int kHeight = 2156;

    // A white page whose canvas reports logicalDpi pixels per inch. Raises -8005 when the
    // bitmap cannot be made.
    explicit PageBitmap(double logicalDpi);

    QImage& canvas() { return canvas_; }
    void fillWhite();
    void setBlack(int x, int y);
    // The canvas as a monochrome raster (1 = black).
    const faximage::Raster& monochrome();
    // Writes the monochrome page as a 1-bit BMP file. Raises the I/O error.
    void saveBmp(const std::string& path);

private:
    QImage canvas_;
    faximage::Raster mono_;
    std::vector<std::uint8_t> bmp_;  // the BMP file's bytes, kept so that pages reuse the memory
};

}  // namespace telvane::render
