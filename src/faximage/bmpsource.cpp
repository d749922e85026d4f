// BMP input (idBmp): uncompressed BMP files of 1, 4, 8, 16, 24 or 32 bits per pel, bottom-up
// or top-down, with core (12-byte) or Windows (40+ byte) info headers. One file is one page.
// Monochrome rows are copied (inverted when palette entry 0 is the dark one, so black = 1);
// every other depth goes through the ordered dither.
#include "errors/errors.h"
#include "faximage/faxinput.h"

#include <cstring>

namespace telvane::faximage {

namespace {

std::uint32_t le32(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24); }
std::uint16_t le16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }

class BmpSource : public FaxLineSource {
public:
    explicit BmpSource(std::string path) : path_(std::move(path)) {}
    explicit BmpSource(std::vector<std::uint8_t> bytes) : data_(std::move(bytes)), inMemory_(true) {}

    int open() override {
        if (!inMemory_) {
            int rc = readWholeFile(path_, data_);
            if (rc != 0) return rc;
        }
        return parse();
    }
    int imageWidth() const override { return width_; }
    int readLine(std::uint8_t* line, bool& endOfPage, bool& morePages) override;
    std::uint64_t bytesRead() const override { return std::uint64_t(y_) * stride_; }
    std::uint64_t bytesTotal() const override { return data_.size(); }

private:
    int parse();
    int sumAt(const std::uint8_t* row, int x) const;

    std::string path_;
    std::vector<std::uint8_t> data_;
    bool inMemory_ = false;
    int width_ = 0, height_ = 0, bpp_ = 0;
    bool topDown_ = false;
    bool invertMono_ = false;
    std::size_t dataAt_ = 0, stride_ = 0;
    std::uint8_t palette_[256][3] = {};  // r, g, b
    std::uint32_t masks_[3] = {0, 0, 0};
    int y_ = 0;
};

int maskShift(std::uint32_t m) { return m ? __builtin_ctz(m) : 0; }
// The mask's span from its lowest to its highest bit: a mask with gaps (which the format does not
// allow) then still scales to at most 255.
int maskBits(std::uint32_t m) { return m ? 32 - __builtin_clz(m) - __builtin_ctz(m) : 0; }

int BmpSource::parse() {
    const std::vector<std::uint8_t>& d = data_;
    if (d.size() < 26 || d[0] != 'B' || d[1] != 'M') return errors::ecUnsupportedImage;
    std::uint32_t offBits = le32(&d[10]);
    std::uint32_t infoSize = le32(&d[14]);
    std::uint32_t compression = 0;
    std::uint32_t colours = 0;
    std::size_t paletteAt = 14 + std::size_t(infoSize);
    int paletteEntrySize = 4;
    std::int64_t w, h;
    if (infoSize == 12) {
        w = le16(&d[18]);
        h = std::int16_t(le16(&d[20]));
        bpp_ = le16(&d[24]);
        paletteEntrySize = 3;
    } else if (infoSize >= 40 && infoSize <= 1024 && d.size() >= 14 + std::size_t(infoSize)) {
        w = std::int32_t(le32(&d[18]));
        h = std::int32_t(le32(&d[22]));
        bpp_ = le16(&d[28]);
        compression = le32(&d[30]);
        colours = le32(&d[46]);
        if (compression == 3) {
            // Bit-field masks follow a 40-byte header, or sit inside a larger one.
            if (d.size() < 66) return errors::ecUnsupportedImage;
            // Only the pel's own bits count: a 16-bit pel has no colour above bit 15.
            const std::uint32_t pelBits = bpp_ == 16 ? 0xFFFFu : 0xFFFFFFFFu;
            for (int i = 0; i < 3; ++i) masks_[i] = le32(&d[54 + 4 * i]) & pelBits;
            if (infoSize == 40) paletteAt += 12;
        }
    } else {
        return errors::ecUnsupportedImage;
    }
    if (w <= 0 || w > kMaxImageWidth || h == 0 || h < -0x7FFFFFFFll) return errors::ecUnsupportedImage;
    topDown_ = h < 0;
    width_ = int(w);
    height_ = int(h < 0 ? -h : h);
    if (height_ > kMaxPageLines) return errors::ecPageTooLong;
    if (compression != 0 && !(compression == 3 && (bpp_ == 16 || bpp_ == 32))) return errors::ecUnsupportedImage;
    if (bpp_ != 1 && bpp_ != 4 && bpp_ != 8 && bpp_ != 16 && bpp_ != 24 && bpp_ != 32)
        return errors::ecUnsupportedImage;
    if (bpp_ == 16 && compression == 0) {
        masks_[0] = 0x7C00;
        masks_[1] = 0x03E0;
        masks_[2] = 0x001F;
    }
    if (bpp_ <= 8) {
        std::uint32_t maxColours = 1u << bpp_;
        if (colours == 0 || colours > maxColours) colours = maxColours;
        for (std::uint32_t i = 0; i < colours; ++i) {
            std::size_t at = paletteAt + i * std::size_t(paletteEntrySize);
            if (at + 3 > d.size()) return errors::ecUnsupportedImage;
            palette_[i][0] = d[at + 2];
            palette_[i][1] = d[at + 1];
            palette_[i][2] = d[at];
        }
        if (bpp_ == 1)
            invertMono_ =
                palette_[0][0] + palette_[0][1] + palette_[0][2] < palette_[1][0] + palette_[1][1] + palette_[1][2];
    }
    stride_ = ((std::size_t(width_) * std::size_t(bpp_) + 31) / 32) * 4;
    dataAt_ = offBits;
    if (dataAt_ > d.size() || (d.size() - dataAt_) / stride_ < std::size_t(height_)) return errors::ecUnsupportedImage;
    return errors::ecOK;
}

int BmpSource::sumAt(const std::uint8_t* row, int x) const {
    switch (bpp_) {
    case 4: {
        int i = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
        return palette_[i][0] + palette_[i][1] + palette_[i][2];
    }
    case 8: {
        int i = row[x];
        return palette_[i][0] + palette_[i][1] + palette_[i][2];
    }
    case 24: return row[3 * x] + row[3 * x + 1] + row[3 * x + 2];
    case 16:
    case 32: {
        std::uint32_t v = bpp_ == 16 ? le16(row + 2 * x) : le32(row + 4 * x);
        if (bpp_ == 32 && masks_[0] == 0) return (v & 0xFF) + ((v >> 8) & 0xFF) + ((v >> 16) & 0xFF);
        int sum = 0;
        for (std::uint32_t m : masks_) {
            int bits = maskBits(m);
            if (bits == 0) continue;
            // A mask may cover all 32 bits: scale in 64 bits so that no shift reaches the width.
            std::uint64_t c = (v & m) >> maskShift(m);
            sum += int(c * 255 / ((std::uint64_t(1) << bits) - 1));
        }
        return sum;
    }
    default: return 765;
    }
}

int BmpSource::readLine(std::uint8_t* line, bool& endOfPage, bool& morePages) {
    morePages = false;
    if (y_ >= height_) {
        endOfPage = true;
        return errors::ecOK;
    }
    endOfPage = false;
    int fileRow = topDown_ ? y_ : height_ - 1 - y_;
    const std::uint8_t* row = data_.data() + dataAt_ + std::size_t(fileRow) * stride_;
    std::size_t bytes = (std::size_t(width_) + 7) / 8;
    if (bpp_ == 1) {
        std::memcpy(line, row, bytes);
        if (invertMono_)
            for (std::size_t i = 0; i < bytes; ++i) line[i] = std::uint8_t(~line[i]);
    } else {
        std::memset(line, 0, bytes);
        for (int x = 0; x < width_; ++x)
            if (ditherBlack(x, y_, sumAt(row, x))) line[x >> 3] |= std::uint8_t(0x80 >> (x & 7));
    }
    if (width_ % 8) line[bytes - 1] &= std::uint8_t(0xFF << (8 - width_ % 8));
    ++y_;
    return errors::ecOK;
}

}  // namespace

std::unique_ptr<FaxLineSource> makeBmpSource(const std::string& path) { return std::make_unique<BmpSource>(path); }
std::unique_ptr<FaxLineSource> makeBmpSource(std::vector<std::uint8_t> fileBytes) {
    return std::make_unique<BmpSource>(std::move(fileBytes));
}

}  // namespace telvane::faximage
