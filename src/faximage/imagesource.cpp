// Shared pieces of the line sources: whole-file reading, the ordered dither, the in-memory
// raster source and the built-in bitmap font renderer.
#include "faximage/faxinput.h"

#include "errors/errors.h"
#include "resources/ovxresources.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace telvane::faximage {

int readWholeFile(const std::string& path, std::vector<std::uint8_t>& out) {
    out.clear();
    if (path.empty()) return errors::ecFileNotFound;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errors::ovxIoError(errno, false);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int rc = errors::ovxIoError(errno, false);
        ::close(fd);
        return rc;
    }
    if (std::uint64_t(st.st_size) > kMaxInputFileSize) {
        ::close(fd);
        return errors::ecOutOfMemory;
    }
    out.resize(std::size_t(st.st_size));
    std::size_t got = 0;
    while (got < out.size()) {
        ssize_t n = ::read(fd, out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int rc = errors::ovxIoError(errno, false);
            ::close(fd);
            return rc;
        }
        if (n == 0) break;
        got += std::size_t(n);
    }
    out.resize(got);
    ::close(fd);
    return errors::ecOK;
}

namespace {

struct BayerTable {
    std::uint16_t t[16][16];
    BayerTable() {
        for (int y0 = 0; y0 < 16; ++y0)
            for (int x0 = 0; x0 < 16; ++x0) {
                int x = x0, y = y0, f = 0;
                for (int round = 0; round < 4; ++round) {
                    f = (f << 2) | (((x ^ y) & 1) << 1) | (y & 1);
                    x >>= 1;
                    y >>= 1;
                }
                t[y0][x0] = std::uint16_t(f * 765 / 256 + 1);
            }
    }
};

}  // namespace

bool ditherBlack(int x, int y, int rgbSum) {
    static const BayerTable table;
    return rgbSum < table.t[y & 15][x & 15];
}

// ---- in-memory raster ----

namespace {

class RasterSource : public FaxLineSource {
public:
    explicit RasterSource(const Raster* r) : r_(r) {}
    int open() override {
        if (!r_ || r_->empty() || r_->width > kMaxImageWidth || r_->bits.size() < r_->stride * std::size_t(r_->height))
            return errors::ecBadArgument;
        return errors::ecOK;
    }
    int imageWidth() const override { return r_->width; }
    int readLine(std::uint8_t* line, bool& endOfPage, bool& morePages) override {
        morePages = false;
        if (y_ >= r_->height) {
            endOfPage = true;
            return errors::ecOK;
        }
        endOfPage = false;
        std::memcpy(line, r_->row(y_), r_->stride);
        if (r_->width % 8) line[r_->stride - 1] &= std::uint8_t(0xFF << (8 - r_->width % 8));
        ++y_;
        return errors::ecOK;
    }
    std::uint64_t bytesRead() const override { return std::uint64_t(y_) * r_->stride; }
    std::uint64_t bytesTotal() const override { return std::uint64_t(r_->height) * r_->stride; }

private:
    const Raster* r_;
    int y_ = 0;
};

}  // namespace

std::unique_ptr<FaxLineSource> makeRasterSource(const Raster* raster) { return std::make_unique<RasterSource>(raster); }

// ---- bitmap font ----

int BitmapFontRenderer::prepare(bool fine, int pageWidth, int leftMargin) {
    if (faxFontResource().size() != kFaxFontSize) return errors::ecFontFileNotFound;
    fine_ = fine;
    int gw = glyphWidth();
    int chars = pageWidth / gw - leftMargin / gw;
    maxChars_ = chars > 0 ? std::size_t(chars) : 0;
    maxWidth_ = pageWidth - leftMargin > 0 ? pageWidth - leftMargin : 0;
    return errors::ecOK;
}

int BitmapFontRenderer::rowCount() const { return (small_ ? 8 : 16) * (fine_ ? 2 : 1); }

void BitmapFontRenderer::renderLine(std::string_view text, Raster& out) {
    const int gw = glyphWidth();
    const int glyphRows = small_ ? 8 : 16;
    const int rowBytes = small_ ? 2 : 3;
    const std::uint8_t* font = faxFontResource().data() + (small_ ? 0 : kFaxFontLargeOffset);
    std::size_t n = text.size();
    if (maxChars_ && n > maxChars_) n = maxChars_;
    int width = int(n) * gw;
    if (width > maxWidth_) width = maxWidth_ - maxWidth_ % gw;
    n = std::size_t(width / gw);
    int rows = rowCount();
    if (out.width != width || out.height != rows)
        out = Raster(width, rows);
    else
        std::fill(out.bits.begin(), out.bits.end(), 0);
    for (std::size_t c = 0; c < n; ++c) {
        const std::uint8_t* glyph = font + std::size_t(static_cast<unsigned char>(text[c])) * glyphRows * rowBytes;
        int x0 = int(c) * gw;
        for (int gy = 0; gy < glyphRows; ++gy) {
            std::uint32_t bits = 0;
            for (int b = 0; b < rowBytes; ++b) bits = (bits << 8) | glyph[gy * rowBytes + b];
            bits >>= rowBytes * 8 - gw;  // gw significant bits, first pel highest
            if (!bits) continue;
            for (int rep = 0; rep < (fine_ ? 2 : 1); ++rep) {
                std::uint8_t* row = out.row(gy * (fine_ ? 2 : 1) + rep);
                for (int x = 0; x < gw; ++x)
                    if (bits & (1u << (gw - 1 - x))) row[(x0 + x) >> 3] |= std::uint8_t(0x80 >> ((x0 + x) & 7));
            }
        }
    }
}

}  // namespace telvane::faximage
