// PCX input (idPcx) and DCX input (idDcx, up to 1023 PCX pages behind a 0x3ADE68B1 offset table).
// PCX images of 1 bit x 1 plane (bit 1 = white), 1 bit x 4 planes (16 colours, header palette),
// 8 bits x 1 plane (256-colour palette at the end, or grey) and 8 bits x 3 planes (RGB) are read,
// run-length coded or not; colour is dithered. Runs never write past a scan line buffer and
// decoding stops at the page's end in the file.
#include "errors/errors.h"
#include "faximage/faxinput.h"

#include <algorithm>

#include <cstring>

namespace telvane::faximage {

namespace {

std::uint16_t le16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
std::uint32_t le32(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24); }

// One PCX image inside a byte range of the file.
class PcxPage {
public:
    int parse(const std::uint8_t* begin, const std::uint8_t* end);
    int width() const { return width_; }
    int height() const { return height_; }
    // Decodes the next row into `line` (MSB first, 1 = black).
    int readRow(int y, std::uint8_t* line);
    std::size_t consumed() const { return std::size_t(p_ - begin_); }

private:
    const std::uint8_t* begin_ = nullptr;
    const std::uint8_t* end_ = nullptr;
    const std::uint8_t* p_ = nullptr;
    int width_ = 0, height_ = 0, bpp_ = 0, planes_ = 0, bytesPerLine_ = 0;
    bool rle_ = true;
    std::uint8_t palette_[256][3] = {};
    std::vector<std::uint8_t> scan_;
};

int PcxPage::parse(const std::uint8_t* begin, const std::uint8_t* end) {
    begin_ = begin;
    end_ = end;
    if (end - begin < 128 || begin[0] != 10 || begin[2] > 1) return errors::ecUnsupportedImage;
    rle_ = begin[2] == 1;
    bpp_ = begin[3];
    int xmin = le16(begin + 4), ymin = le16(begin + 6), xmax = le16(begin + 8), ymax = le16(begin + 10);
    planes_ = begin[65];
    bytesPerLine_ = le16(begin + 66);
    width_ = xmax - xmin + 1;
    height_ = ymax - ymin + 1;
    if (width_ <= 0 || height_ <= 0 || width_ > kMaxImageWidth) return errors::ecUnsupportedImage;
    if (height_ > kMaxPageLines) return errors::ecPageTooLong;
    bool mono = bpp_ == 1 && planes_ == 1;
    bool ega = bpp_ == 1 && planes_ == 4;
    bool vga = bpp_ == 8 && planes_ == 1;
    bool rgb = bpp_ == 8 && planes_ == 3;
    if (!(mono || ega || vga || rgb)) return errors::ecUnsupportedImage;
    if (bytesPerLine_ * 8 < width_ * bpp_) return errors::ecUnsupportedImage;
    if (ega)
        for (int i = 0; i < 16; ++i) std::memcpy(palette_[i], begin + 16 + 3 * i, 3);
    if (vga) {
        if (end - begin >= 128 + 769 && end[-769] == 0x0C) {
            for (int i = 0; i < 256; ++i) std::memcpy(palette_[i], end - 768 + 3 * i, 3);
            end_ = end - 769;
        } else {
            for (int i = 0; i < 256; ++i) palette_[i][0] = palette_[i][1] = palette_[i][2] = std::uint8_t(i);
        }
    }
    scan_.assign(std::size_t(planes_) * std::size_t(bytesPerLine_), 0);
    p_ = begin + 128;
    return errors::ecOK;
}

int PcxPage::readRow(int y, std::uint8_t* line) {
    std::size_t need = scan_.size(), got = 0;
    while (got < need) {
        if (p_ >= end_) return errors::ecUnsupportedImage;
        std::uint8_t b = *p_++;
        if (rle_ && b >= 0xC0) {
            if (p_ >= end_) return errors::ecUnsupportedImage;
            std::size_t n = b & 0x3F;
            std::uint8_t v = *p_++;
            if (n > need - got) n = need - got;
            std::memset(scan_.data() + got, v, n);
            got += n;
        } else {
            scan_[got++] = b;
        }
    }
    std::size_t bytes = (std::size_t(width_) + 7) / 8;
    std::memset(line, 0, bytes);
    const std::uint8_t* s = scan_.data();
    if (bpp_ == 1 && planes_ == 1) {
        for (std::size_t i = 0; i < bytes; ++i) line[i] = std::uint8_t(~s[i]);
    } else {
        for (int x = 0; x < width_; ++x) {
            int sum;
            if (bpp_ == 1) {
                int idx = 0;
                for (int pl = 0; pl < 4; ++pl) idx |= ((s[pl * bytesPerLine_ + (x >> 3)] >> (7 - (x & 7))) & 1) << pl;
                sum = palette_[idx][0] + palette_[idx][1] + palette_[idx][2];
            } else if (planes_ == 1) {
                int idx = s[x];
                sum = palette_[idx][0] + palette_[idx][1] + palette_[idx][2];
            } else {
                sum = s[x] + s[bytesPerLine_ + x] + s[2 * bytesPerLine_ + x];
            }
            if (ditherBlack(x, y, sum)) line[x >> 3] |= std::uint8_t(0x80 >> (x & 7));
        }
    }
    if (width_ % 8) line[bytes - 1] &= std::uint8_t(0xFF << (8 - width_ % 8));
    return errors::ecOK;
}

class PcxSource : public FaxLineSource {
public:
    PcxSource(std::string path, bool dcx) : path_(std::move(path)), dcx_(dcx) {}
    PcxSource(std::vector<std::uint8_t> bytes, bool dcx) : data_(std::move(bytes)), dcx_(dcx), inMemory_(true) {}

    int open() override {
        if (!inMemory_) {
            int rc = readWholeFile(path_, data_);
            if (rc != errors::ecOK) return rc;
        }
        if (!dcx_) {
            ranges_.push_back({0, data_.size()});
            return errors::ecOK;
        }
        if (data_.size() < 8 || le32(data_.data()) != 0x3ADE68B1u) return errors::ecUnsupportedImage;
        std::vector<std::size_t> offsets;
        for (std::size_t i = 0; i < 1024 && 4 + 4 * i + 4 <= data_.size(); ++i) {
            std::uint32_t off = le32(data_.data() + 4 + 4 * i);
            if (off == 0) break;
            if (off >= data_.size()) return errors::ecUnsupportedImage;
            offsets.push_back(off);
        }
        if (offsets.empty()) return errors::ecUnsupportedImage;
        // Every page has its own data: an offset used twice would repeat one page's image
        // without bound on the size of the file, so such a table is damaged.
        std::vector<std::size_t> sorted = offsets;
        std::sort(sorted.begin(), sorted.end());
        if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return errors::ecDamagedImage;
        for (std::size_t i = 0; i < offsets.size(); ++i) {
            std::size_t end = data_.size();
            for (std::size_t o : offsets)
                if (o > offsets[i] && o < end) end = o;
            ranges_.push_back({offsets[i], end});
        }
        return errors::ecOK;
    }
    int beginPage() override {
        if (page_ >= ranges_.size()) return errors::ecUnsupportedImage;
        y_ = 0;
        return current_.parse(data_.data() + ranges_[page_].first, data_.data() + ranges_[page_].second);
    }
    int imageWidth() const override { return current_.width(); }
    int readLine(std::uint8_t* line, bool& endOfPage, bool& morePages) override {
        if (y_ >= current_.height()) {
            endOfPage = true;
            ++page_;
            morePages = page_ < ranges_.size();
            return errors::ecOK;
        }
        endOfPage = false;
        morePages = false;
        int rc = current_.readRow(y_, line);
        ++y_;
        return rc;
    }
    std::uint64_t bytesRead() const override {
        return page_ < ranges_.size() ? ranges_[page_].first + current_.consumed() : data_.size();
    }
    std::uint64_t bytesTotal() const override { return data_.size(); }

private:
    std::string path_;
    std::vector<std::uint8_t> data_;
    bool dcx_;
    bool inMemory_ = false;
    std::vector<std::pair<std::size_t, std::size_t>> ranges_;
    std::size_t page_ = 0;
    PcxPage current_;
    int y_ = 0;
};

}  // namespace

std::unique_ptr<FaxLineSource> makePcxSource(const std::string& path) {
    return std::make_unique<PcxSource>(path, false);
}
std::unique_ptr<FaxLineSource> makeDcxSource(const std::string& path) {
    return std::make_unique<PcxSource>(path, true);
}
std::unique_ptr<FaxLineSource> makePcxSource(std::vector<std::uint8_t> fileBytes) {
    return std::make_unique<PcxSource>(std::move(fileBytes), false);
}
std::unique_ptr<FaxLineSource> makeDcxSource(std::vector<std::uint8_t> fileBytes) {
    return std::make_unique<PcxSource>(std::move(fileBytes), true);
}

}  // namespace telvane::faximage
