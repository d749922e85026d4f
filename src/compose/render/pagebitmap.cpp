// Page bitmap of rendering (see pagebitmap.h).
#include "compose/render/pagebitmap.h"

#include "errors/errors.h"
#include "faximage/faxunpacker.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace telvane::render {

namespace {

// Pels darker than this (qGray, 0..255) are black: the nearer of black and white.
constexpr int kBlackBelow = 128;

}  // namespace

PageBitmap::PageBitmap(double logicalDpi) : canvas_(kWidth, kHeight, QImage::Format_RGB32) {
    if (canvas_.isNull()) throw errors::EOvxException(telvane::errors::ecCantMakeBitmap);
    const int dotsPerMeter = static_cast<int>(std::lround(logicalDpi / 0.0254));
    canvas_.setDotsPerMeterX(dotsPerMeter);
    canvas_.setDotsPerMeterY(dotsPerMeter);
    mono_ = faximage::Raster(kWidth, kHeight, 204, 196);
    fillWhite();
}

void PageBitmap::fillWhite() { canvas_.fill(Qt::white); }

void PageBitmap::setBlack(int x, int y) { canvas_.setPixel(x, y, qRgb(0, 0, 0)); }

const faximage::Raster& PageBitmap::monochrome() {
    constexpr QRgb white = 0xFFFFFFFFu;
    for (int y = 0; y < kHeight; ++y) {
        const QRgb* src = reinterpret_cast<const QRgb*>(canvas_.constScanLine(y));
        std::uint8_t* dst = mono_.row(y);
        // Most rows of a page are blank.
        if (std::all_of(src, src + kWidth, [](QRgb p) { return (p | 0xFF000000u) == white; })) {
            std::fill(dst, dst + mono_.stride, 0);
            continue;
        }
        for (int x = 0; x < kWidth; x += 8) {
            const QRgb* eight = src + x;
            std::uint8_t byte = 0;
            // Text is painted without anti-aliasing: most groups of eight pels are all white.
            if (((eight[0] & eight[1] & eight[2] & eight[3] & eight[4] & eight[5] & eight[6] & eight[7]) |
                 0xFF000000u) != white) {
                for (int b = 0; b < 8; ++b) byte = std::uint8_t((byte << 1) | (qGray(eight[b]) < kBlackBelow ? 1 : 0));
            }
            dst[x / 8] = byte;
        }
    }
    return mono_;
}

void PageBitmap::saveBmp(const std::string& path) {
    int rc = faximage::encodeBmp(monochrome(), bmp_);
    if (rc == telvane::errors::ecOK) rc = faximage::writeFileBytes(path, bmp_);
    if (rc != telvane::errors::ecOK) throw errors::EOvxException(rc);
}

}  // namespace telvane::render
