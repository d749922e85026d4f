// TIFF input (idTiff). Uncompressed and PackBits bilevel images are read by our own parser
// ("II"/"MM" header, tags 255-259, 262, 266, 273, 278, 279); CCITT-compressed images
// (modified Huffman, Group 3 1-D and 2-D, Group 4) are read through libtiff. Every page
// (directory) of the file becomes a fax page. Offsets and counts are checked against the file
// size before use.
#include "errors/errors.h"
#include "faximage/faxinput.h"
#include "faximage/tiffmem.h"

#include <tiffio.h>

#include <cstring>
#include <set>

namespace telvane::faximage {

namespace {

struct TiffPage {
    int width = 0, height = 0;
    int compression = 1;
    int photometric = 0;
    int fillOrder = 1;
    int rowsPerStrip = 0;
    std::vector<std::uint32_t> stripOffsets, stripCounts;
};

class TiffParser {
public:
    explicit TiffParser(const std::vector<std::uint8_t>& d) : d_(d) {}
    // Parses every directory; returns 0 or -8002.
    int parse(std::vector<TiffPage>& pages);

private:
    std::uint32_t u16(std::size_t at) const { return big_ ? (d_[at] << 8) | d_[at + 1] : d_[at] | (d_[at + 1] << 8); }
    std::uint32_t u32(std::size_t at) const {
        return big_ ? (std::uint32_t(d_[at]) << 24) | (d_[at + 1] << 16) | (d_[at + 2] << 8) | d_[at + 3]
                    : d_[at] | (d_[at + 1] << 8) | (d_[at + 2] << 16) | (std::uint32_t(d_[at + 3]) << 24);
    }
    bool values(std::size_t entry, std::vector<std::uint32_t>& out) const;

    const std::vector<std::uint8_t>& d_;
    bool big_ = false;
};

bool TiffParser::values(std::size_t entry, std::vector<std::uint32_t>& out) const {
    std::uint32_t type = u16(entry + 2), count = u32(entry + 4);
    std::size_t size = type == 3 ? 2 : type == 4 ? 4 : type == 1 ? 1 : 0;
    if (size == 0 || count == 0 || count > d_.size()) return false;
    std::size_t at = entry + 8;
    if (size * count > 4) {
        at = u32(entry + 8);
        if (at > d_.size() || (d_.size() - at) / size < count) return false;
    }
    out.resize(count);
    for (std::uint32_t i = 0; i < count; ++i)
        out[i] = size == 2 ? u16(at + 2 * i) : size == 4 ? u32(at + 4 * i) : d_[at + i];
    return true;
}

int TiffParser::parse(std::vector<TiffPage>& pages) {
    if (d_.size() < 8) return errors::ecUnsupportedImage;
    if (d_[0] == 'I' && d_[1] == 'I')
        big_ = false;
    else if (d_[0] == 'M' && d_[1] == 'M')
        big_ = true;
    else
        return errors::ecUnsupportedImage;
    if (u16(2) != 42) return errors::ecUnsupportedImage;
    std::set<std::uint32_t> seen;
    std::uint32_t ifd = u32(4);
    while (ifd != 0) {
        if (!seen.insert(ifd).second || ifd > d_.size() - 2 || pages.size() >= 4096)
            return pages.empty() ? errors::ecUnsupportedImage : errors::ecOK;
        std::uint32_t n = u16(ifd);
        if ((d_.size() - ifd - 2) / 12 < n) return errors::ecUnsupportedImage;
        TiffPage p;
        bool haveWidth = false, haveRows = false, haveOffsets = false;
        for (std::uint32_t i = 0; i < n; ++i) {
            std::size_t e = ifd + 2 + 12 * std::size_t(i);
            std::vector<std::uint32_t> v;
            std::uint32_t tag = u16(e);
            bool ok = values(e, v);
            switch (tag) {
            case 256:
                haveWidth = ok;
                if (ok) p.width = int(std::min<std::uint32_t>(v[0], 0x7FFFFFFF));
                break;
            case 257:
                haveRows = ok;
                if (ok) p.height = int(std::min<std::uint32_t>(v[0], 0x7FFFFFFF));
                break;
            case 258:
                if (!ok || v[0] != 1) return errors::ecUnsupportedImage;
                break;
            case 259:
                if (ok) p.compression = int(v[0]);
                break;
            case 262:
                if (ok) p.photometric = int(v[0]);
                break;
            case 266:
                if (ok) p.fillOrder = int(v[0]);
                break;
            case 273:
                haveOffsets = ok;
                if (ok) p.stripOffsets = std::move(v);
                break;
            case 277:
                if (!ok || v[0] != 1) return errors::ecUnsupportedImage;
                break;
            case 278:
                if (ok) p.rowsPerStrip = int(std::min<std::uint32_t>(v[0], 0x7FFFFFFF));
                break;
            case 279:
                if (ok) p.stripCounts = std::move(v);
                break;
            default: break;
            }
        }
        if (!haveWidth || !haveRows || !haveOffsets || p.width <= 0 || p.height <= 0 || p.width > kMaxImageWidth)
            return errors::ecUnsupportedImage;
        if (p.height > kMaxPageLines) return errors::ecPageTooLong;
        if (p.photometric != 0 && p.photometric != 1) return errors::ecUnsupportedImage;
        if (p.rowsPerStrip <= 0 || p.rowsPerStrip > p.height) p.rowsPerStrip = p.height;
        pages.push_back(std::move(p));
        std::size_t next = ifd + 2 + 12 * std::size_t(n);
        ifd = next + 4 <= d_.size() ? u32(next) : 0;
    }
    return pages.empty() ? errors::ecUnsupportedImage : errors::ecOK;
}

std::uint8_t reverseBits(std::uint8_t b) {
    b = std::uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = std::uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return std::uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

class TiffSource : public FaxLineSource {
public:
    explicit TiffSource(std::string path) : path_(std::move(path)) {}
    explicit TiffSource(std::vector<std::uint8_t> bytes) : data_(std::move(bytes)), inMemory_(true) {}
    ~TiffSource() override { close(); }

    int open() override;
    int beginPage() override;
    int imageWidth() const override { return page().width; }
    int readLine(std::uint8_t* line, bool& endOfPage, bool& morePages) override;
    void close() override {
        if (tif_) TIFFClose(tif_);
        tif_ = nullptr;
    }
    std::uint64_t bytesRead() const override {
        return pages_.empty() ? 0 : data_.size() * std::uint64_t(pageIndex_) / pages_.size();
    }
    std::uint64_t bytesTotal() const override { return data_.size(); }

private:
    const TiffPage& page() const { return pages_[pageIndex_ < pages_.size() ? pageIndex_ : pages_.size() - 1]; }
    int readOwnRow(std::uint8_t* line);

    std::string path_;
    std::vector<std::uint8_t> data_;
    bool inMemory_ = false;
    std::vector<TiffPage> pages_;
    std::size_t pageIndex_ = 0;
    bool viaLibtiff_ = false;
    TIFF* tif_ = nullptr;
    TiffMemoryStream stream_;
    int y_ = 0;
    std::size_t strip_ = 0;
    std::size_t stripPos_ = 0, stripEnd_ = 0;
    int rowInStrip_ = 0;
};

int TiffSource::open() {
    if (!inMemory_) {
        int rc = readWholeFile(path_, data_);
        if (rc != errors::ecOK) return rc;
    }
    TiffParser parser(data_);
    int rc = parser.parse(pages_);
    if (rc != errors::ecOK) return rc;
    for (const TiffPage& p : pages_) {
        if (p.compression == 2 || p.compression == 3 || p.compression == 4)
            viaLibtiff_ = true;
        else if (p.compression != 1 && p.compression != 32773)
            return errors::ecUnsupportedImage;
    }
    if (viaLibtiff_) {
        tif_ = openTiffInMemory(stream_, data_.data(), data_.size());
        if (!tif_) return errors::ecUnsupportedImage;
    }
    return errors::ecOK;
}

int TiffSource::beginPage() {
    y_ = 0;
    strip_ = 0;
    rowInStrip_ = 0;
    stripPos_ = stripEnd_ = 0;
    if (viaLibtiff_) {
        if (!TIFFSetDirectory(tif_, tdir_t(pageIndex_))) return errors::ecUnsupportedImage;
        std::uint32_t w = 0, h = 0;
        TIFFGetField(tif_, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tif_, TIFFTAG_IMAGELENGTH, &h);
        if (int(w) != page().width || int(h) != page().height) return errors::ecUnsupportedImage;
    }
    return errors::ecOK;
}

int TiffSource::readOwnRow(std::uint8_t* line) {
    const TiffPage& p = page();
    std::size_t rowBytes = (std::size_t(p.width) + 7) / 8;
    if (rowInStrip_ == 0 || rowInStrip_ >= p.rowsPerStrip) {
        if (rowInStrip_ >= p.rowsPerStrip) ++strip_;
        rowInStrip_ = 0;
        if (strip_ >= p.stripOffsets.size()) return errors::ecDamagedImage;
        stripPos_ = p.stripOffsets[strip_];
        std::size_t count;
        if (strip_ < p.stripCounts.size())
            count = p.stripCounts[strip_];
        else if (p.compression == 1)
            count = rowBytes * std::size_t(p.rowsPerStrip);
        else
            return errors::ecUnsupportedImage;
        if (stripPos_ > data_.size()) return errors::ecDamagedImage;
        stripEnd_ = count > data_.size() - stripPos_ ? data_.size() : stripPos_ + count;
    }
    if (p.compression == 1) {
        if (stripEnd_ - stripPos_ < rowBytes) return errors::ecDamagedImage;
        std::memcpy(line, data_.data() + stripPos_, rowBytes);
        stripPos_ += rowBytes;
    } else {
        std::size_t got = 0;
        while (got < rowBytes) {
            if (stripPos_ >= stripEnd_) return errors::ecDamagedImage;
            int n = std::int8_t(data_[stripPos_++]);
            if (n >= 0) {
                std::size_t count = std::size_t(n) + 1;
                if (count > stripEnd_ - stripPos_ || count > rowBytes - got) return errors::ecDamagedImage;
                std::memcpy(line + got, data_.data() + stripPos_, count);
                stripPos_ += count;
                got += count;
            } else if (n != -128) {
                std::size_t count = std::size_t(1 - n);
                if (stripPos_ >= stripEnd_ || count > rowBytes - got) return errors::ecDamagedImage;
                std::memset(line + got, data_[stripPos_++], count);
                got += count;
            }
        }
    }
    ++rowInStrip_;
    if (p.fillOrder == 2)
        for (std::size_t i = 0; i < rowBytes; ++i) line[i] = reverseBits(line[i]);
    return errors::ecOK;
}

int TiffSource::readLine(std::uint8_t* line, bool& endOfPage, bool& morePages) {
    const TiffPage& p = page();
    if (y_ >= p.height) {
        endOfPage = true;
        ++pageIndex_;
        morePages = pageIndex_ < pages_.size();
        return errors::ecOK;
    }
    endOfPage = false;
    morePages = false;
    std::size_t rowBytes = (std::size_t(p.width) + 7) / 8;
    int rc = errors::ecOK;
    if (viaLibtiff_) {
        // libtiff fills lines it cannot decode (bad codes, a strip that ends early) with
        // white and only reports it to the handlers: any report makes the page damaged.
        stream_.problems = 0;
        if (TIFFReadScanline(tif_, line, std::uint32_t(y_), 0) < 0 || stream_.problems > 0) rc = errors::ecDamagedImage;
        std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
        TIFFGetFieldDefaulted(tif_, TIFFTAG_PHOTOMETRIC, &photometric);
        if (rc == errors::ecOK && photometric == PHOTOMETRIC_MINISBLACK)
            for (std::size_t i = 0; i < rowBytes; ++i) line[i] = std::uint8_t(~line[i]);
    } else {
        rc = readOwnRow(line);
        if (rc == errors::ecOK && p.photometric == 1)
            for (std::size_t i = 0; i < rowBytes; ++i) line[i] = std::uint8_t(~line[i]);
    }
    if (rc != errors::ecOK) return rc;
    if (p.width % 8) line[rowBytes - 1] &= std::uint8_t(0xFF << (8 - p.width % 8));
    ++y_;
    return errors::ecOK;
}

}  // namespace

std::unique_ptr<FaxLineSource> makeTiffSource(const std::string& path) { return std::make_unique<TiffSource>(path); }
std::unique_ptr<FaxLineSource> makeTiffSource(std::vector<std::uint8_t> fileBytes) {
    return std::make_unique<TiffSource>(std::move(fileBytes));
}

}  // namespace telvane::faximage
