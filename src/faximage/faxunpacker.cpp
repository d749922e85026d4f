// The page decoder: page location, line corrections and the image file outputs.
#include "faximage/faxunpacker.h"

#include "errors/errors.h"
#include "faximage/pendingfile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

namespace telvane::faximage {

namespace {

std::string stripExtension(const std::string& name) {
    std::size_t slash = name.find_last_of('/');
    std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) return name.substr(0, dot);
    return name;
}

bool hasExtension(const std::string& name) {
    std::size_t slash = name.find_last_of('/');
    std::size_t dot = name.find_last_of('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

// Adapts the decoder's sink interface to a function.
class FunctionSink : public FaxLineSink {
public:
    explicit FunctionSink(const std::function<void(const std::uint8_t*, std::size_t)>& f) : f_(f) {}
    void faxLine(const std::uint8_t* line, std::size_t bytes) override { f_(line, bytes); }

private:
    const std::function<void(const std::uint8_t*, std::size_t)>& f_;
};

}  // namespace

TOvxFaxUnpacker::TOvxFaxUnpacker() = default;

void TOvxFaxUnpacker::setInFileName(const std::string& name) {
    if (strcasecmp(name.c_str(), inFileName_.c_str()) == 0) return;
    inFileName_ = name;
    OutFileName = stripExtension(name);
}

std::string TOvxFaxUnpacker::outputName(const char* ext) const {
    std::string base = OutFileName.empty() ? stripExtension(inFileName_) : OutFileName;
    return hasExtension(base) ? base : base + "." + ext;
}

int TOvxFaxUnpacker::checkSettings() const {
    if (WhitespaceCompression && (WhitespaceFrom < WhitespaceTo || (WhitespaceFrom == 0 && WhitespaceTo != 0) ||
                                  WhitespaceFrom < 0 || WhitespaceTo < 0))
        return errors::ecBadArgument;
    return errors::ecOK;
}

int TOvxFaxUnpacker::getPageCount() {
    OvfReader reader;
    int rc = reader.open(inFileName_);
    return rc != errors::ecOK ? rc : reader.pageCount();
}

int TOvxFaxUnpacker::getFaxInfo(bool& fine, bool& wide) {
    OvfReader reader;
    int rc = reader.open(inFileName_);
    if (rc != errors::ecOK) return rc;
    OvfPageHeader ph;
    rc = reader.seekPage(1, ph);
    if (rc != errors::ecOK) return rc;
    fine = ph.fine();
    wide = ph.wide();
    return errors::ecOK;
}

int TOvxFaxUnpacker::decodePage(OvfReader& reader, int page,
                                const std::function<void(const std::uint8_t*, std::size_t)>& out, bool corrections,
                                bool& fine, int& lineBytes) {
    OvfPageHeader ph;
    int rc = reader.seekPage(page, ph);
    if (rc != errors::ecOK) return rc;
    fine = ph.fine();
    lineBytes = ph.lineWidth() / 8;
    const bool compress = corrections && WhitespaceCompression && WhitespaceFrom > 0 && WhitespaceTo > 0;
    const TAutoScaleMode scale = corrections && !fine ? AutoScaleMode : asNone;
    if (scale == asHalfWidth) lineBytes /= 2;

    std::uint8_t half[256];
    static const std::uint8_t kBlank[512] = {};
    long delivered = 0;
    bool quit = false;
    auto deliver = [&](const std::uint8_t* line, std::size_t bytes) {
        if (scale == asHalfWidth) {
            std::size_t n = bytes / 2;
            for (std::size_t i = 0; i < n; ++i) {
                unsigned v = unsigned(line[2 * i] << 8) | line[2 * i + 1];
                std::uint8_t b = 0;
                for (int k = 0; k < 8; ++k)
                    if (v & (3u << (14 - 2 * k))) b |= std::uint8_t(0x80 >> k);
                half[i] = b;
            }
            out(half, n);
        } else {
            out(line, bytes);
            if (scale == asDoubleHeight) out(line, bytes);
        }
        if (++delivered % 16 == 0 && (Options & uoYield) && OnYield && !OnYield()) quit = true;
    };
    long blanks = 0;
    std::size_t blankBytes = std::size_t(ph.lineWidth() / 8);
    auto release = [&](bool atEnd) {
        long n = blanks >= WhitespaceFrom ? std::min<long>(blanks, WhitespaceTo) : blanks;
        if (atEnd && WhitespaceFrom == WhitespaceTo) n = 0;
        for (long i = 0; i < n; ++i) deliver(kBlank, blankBytes);
        blanks = 0;
    };
    std::function<void(const std::uint8_t*, std::size_t)> onLine = [&](const std::uint8_t* line, std::size_t bytes) {
        if (compress) {
            bool blank = std::all_of(line, line + bytes, [](std::uint8_t b) { return b == 0; });
            if (blank) {
                ++blanks;
                blankBytes = bytes;
                return;
            }
            release(false);
        }
        deliver(line, bytes);
    };
    FunctionSink sink(onLine);
    FaxLineDecoder decoder(&sink);
    std::uint64_t done = 0;
    rc = reader.readPageData([&](const std::uint8_t* data, std::size_t size) {
        if ((Options & uoAbort) || quit) return false;
        done += size;
        return !decoder.feed(data, size) && !(Options & uoAbort) && !quit;
    });
    if (rc == errors::ecOK && (Options & uoAbort)) rc = errors::ecUnpackAbort;
    if (rc == errors::ecOK && quit) rc = errors::ecGotQuitMsg;
    if (rc != errors::ecOK) return rc;
    if (!decoder.pageEnded()) decoder.finish();
    if (compress) release(true);
    if (OnStatus) OnStatus(*this, inFileName_, page, done, ph.imageLength);
    return errors::ecOK;
}

int TOvxFaxUnpacker::unpackPage(int page) {
    int rc = checkSettings();
    if (rc != errors::ecOK) return rc;
    OvfReader reader;
    rc = reader.open(inFileName_);
    if (rc != errors::ecOK) return rc;
    if (OnOutputLine) OnOutputLine(*this, true, false, nullptr, 0, page);
    bool fine = false;
    int lineBytes = 0;
    rc = decodePage(
        reader, page,
        [&](const std::uint8_t* d, std::size_t n) {
            if (OnOutputLine) OnOutputLine(*this, false, false, d, int(n), page);
        },
        true, fine, lineBytes);
    if (OnOutputLine) OnOutputLine(*this, false, true, nullptr, 0, page);
    return rc;
}

int TOvxFaxUnpacker::unpackFile() {
    OvfReader reader;
    int rc = reader.open(inFileName_);
    if (rc != errors::ecOK) return rc;
    int pages = reader.pageCount();
    reader.close();
    for (int p = 1; p <= pages && rc == errors::ecOK; ++p) rc = unpackPage(p);
    return rc;
}

int TOvxFaxUnpacker::pageImage(OvfReader& reader, int page, Raster& out, bool trim) {
    std::vector<std::uint8_t> rows;
    int count = 0;
    std::size_t maxUsed = 0;
    bool tooBig = false;
    std::size_t width = 0;
    bool fine = false;
    int lineBytes = 0;
    int rc = decodePage(
        reader, page,
        [&](const std::uint8_t* d, std::size_t n) {
            if (count >= kMaxPageRows) {
                tooBig = true;
                Options |= uoAbort;
                return;
            }
            if (rows.size() < std::size_t(count + 1) * 256) rows.resize(rows.size() + 1024 * 256);
            std::memcpy(rows.data() + std::size_t(count) * 256, d, n);
            for (std::size_t i = n; i > maxUsed; --i)
                if (d[i - 1]) {
                    maxUsed = i;
                    break;
                }
            width = std::max(width, n);
            ++count;
        },
        trim, fine, lineBytes);
    if (tooBig) {
        Options &= ~unsigned(uoAbort);
        return errors::ecImageTooTall;
    }
    if (rc != errors::ecOK) return rc;
    std::size_t bytes = trim ? (maxUsed + 1) / 2 * 2 : std::size_t(lineBytes);
    if (bytes == 0) bytes = std::size_t(lineBytes);
    int ydpi = fine || (trim && AutoScaleMode == asDoubleHeight) ? 196 : 98;
    int xdpi = trim && !fine && AutoScaleMode == asHalfWidth ? 102 : 204;
    out = Raster(int(bytes * 8), count, xdpi, ydpi);
    for (int y = 0; y < count; ++y)
        std::memcpy(out.row(y), rows.data() + std::size_t(y) * 256, std::min<std::size_t>(bytes, 256));
    return errors::ecOK;
}

int TOvxFaxUnpacker::unpackPageToBitmap(int page, Raster& out) {
    OvfReader reader;
    int rc = reader.open(inFileName_);
    if (rc != errors::ecOK) return rc;
    return bitmapOf(reader, page, out);
}

int TOvxFaxUnpacker::bitmapOf(OvfReader& reader, int page, Raster& out) {
    int rc = checkSettings();
    if (rc != errors::ecOK) return rc;
    rc = pageImage(reader, page, out, true);
    if (rc != errors::ecOK) return rc;
    if (Scaling && (hMul_ != hDiv_ || vMul_ != vDiv_)) {
        std::int64_t w = std::int64_t(out.width) * hMul_ / hDiv_;
        std::int64_t h = std::int64_t(out.height) * vMul_ / vDiv_;
        if (w <= 0 || h <= 0 || w > kMaxPageRows || h > kMaxPageRows * 4) return errors::ecCantMakeBitmap;
        out = stretchRaster(out, int(w), int(h));
    }
    return errors::ecOK;
}

int TOvxFaxUnpacker::unpackPageToRaster(int page, Raster& out, bool& fine) {
    OvfReader reader;
    int rc = reader.open(inFileName_);
    if (rc != errors::ecOK) return rc;
    return unpackPageToRaster(reader, page, out, fine);
}

int TOvxFaxUnpacker::unpackPageToRaster(OvfReader& reader, int page, Raster& out, bool& fine) {
    int rc = pageImage(reader, page, out, false);
    if (rc == errors::ecOK) fine = out.ydpi == 196;
    return rc;
}

int TOvxFaxUnpacker::unpackPageToPcx(int page) {
    Raster r;
    int rc = unpackPageToBitmap(page, r);
    if (rc != errors::ecOK) return rc;
    return writeFileBytes(outputName("PCX"), encodePcx(r));
}

int TOvxFaxUnpacker::unpackPageToBmp(int page) {
    Raster r;
    int rc = unpackPageToBitmap(page, r);
    if (rc == errors::ecImageTooTall) return errors::ecBmpTooBig;  // far beyond the BMP limit: say that one
    if (rc != errors::ecOK) return rc;
    std::vector<std::uint8_t> bytes;
    rc = encodeBmp(r, bytes);
    return rc != errors::ecOK ? rc : writeFileBytes(outputName("BMP"), bytes);
}

int TOvxFaxUnpacker::unpackFileToDcx() {
    int pages = getPageCount();
    if (pages < 0) return pages;
    if (pages > 1023) return errors::ecTooManyDcxPages;
    OvfReader reader;
    int rc = reader.open(inFileName_);
    if (rc != errors::ecOK) return rc;
    std::vector<std::vector<std::uint8_t>> pcx;  // compressed pages: a share of the output's size
    for (int p = 1; p <= pages; ++p) {
        Raster r;
        rc = bitmapOf(reader, p, r);
        if (rc != errors::ecOK) return rc;
        pcx.push_back(encodePcx(r));
    }
    return writeFileBytes(outputName("DCX"), encodeDcx(pcx));
}

// ---- image files ----

std::vector<std::uint8_t> encodePcx(const Raster& r) {
    std::vector<std::uint8_t> out(128, 0);
    auto put16 = [&](std::size_t at, int v) {
        out[at] = std::uint8_t(v);
        out[at + 1] = std::uint8_t(v >> 8);
    };
    out[0] = 10;  // manufacturer
    out[1] = 2;   // version
    out[2] = 1;   // run-length encoding
    out[3] = 1;   // bits per pel
    put16(4, 0);
    put16(6, 0);
    put16(8, r.width > 0 ? r.width - 1 : 0);
    put16(10, r.height > 0 ? r.height - 1 : 0);
    put16(12, r.xdpi);
    put16(14, r.ydpi);
    out[19] = out[20] = out[21] = 0xFF;  // palette entry 1 white (entry 0 black)
    out[65] = 1;                         // planes
    put16(66, int(r.stride));
    put16(68, 1);
    std::vector<std::uint8_t> inv(r.stride);
    for (int y = 0; y < r.height; ++y) {
        const std::uint8_t* row = r.row(y);
        for (std::size_t i = 0; i < r.stride; ++i) inv[i] = std::uint8_t(~row[i]);
        for (std::size_t i = 0; i < r.stride;) {
            std::size_t n = 1;
            while (i + n < r.stride && inv[i + n] == inv[i] && n < 63) ++n;
            if (n > 1 || inv[i] >= 0xC0) out.push_back(std::uint8_t(0xC0 + n));
            out.push_back(inv[i]);
            i += n;
        }
    }
    return out;
}

int encodeBmp(const Raster& r, std::vector<std::uint8_t>& out) {
    if (r.height >= 32768) return errors::ecBmpTooBig;
    std::size_t stride = (std::size_t(r.width) + 31) / 32 * 4;
    std::size_t dataSize = stride * std::size_t(r.height);
    out.assign(62 + dataSize, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out[at + i] = std::uint8_t(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, std::uint32_t(out.size()));
    put32(10, 62);
    put32(14, 40);
    put32(18, std::uint32_t(r.width));
    put32(22, std::uint32_t(r.height));
    out[26] = 1;  // planes
    out[28] = 1;  // bits per pel
    put32(34, std::uint32_t(dataSize));
    put32(38, std::uint32_t(r.xdpi * 10000 / 254));
    put32(42, std::uint32_t(r.ydpi * 10000 / 254));
    put32(46, 2);
    // Palette: 0 = black, 1 = white.
    out[58] = out[59] = out[60] = 0xFF;
    for (int y = 0; y < r.height; ++y) {
        std::uint8_t* dst = out.data() + 62 + std::size_t(r.height - 1 - y) * stride;
        const std::uint8_t* src = r.row(y);
        for (std::size_t i = 0; i < r.stride; ++i) dst[i] = std::uint8_t(~src[i]);
        if (r.width % 8) dst[r.stride - 1] |= std::uint8_t(0xFF >> (r.width % 8));
    }
    return errors::ecOK;
}

std::vector<std::uint8_t> encodeDcx(const std::vector<std::vector<std::uint8_t>>& pcxPages) {
    std::vector<std::uint8_t> out(4100, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out[at + i] = std::uint8_t(v >> (8 * i));
    };
    put32(0, 0x3ADE68B1u);
    for (std::size_t i = 0; i < pcxPages.size() && i < 1023; ++i) {
        put32(4 + 4 * i, std::uint32_t(out.size()));
        out.insert(out.end(), pcxPages[i].begin(), pcxPages[i].end());
    }
    return out;
}

Raster stretchRaster(const Raster& r, int width, int height) {
    Raster out(width, height, r.xdpi, r.ydpi);
    if (r.empty()) return out;
    std::vector<int> srcX(std::size_t(width > 0 ? width : 0));
    for (int x = 0; x < width; ++x) srcX[std::size_t(x)] = int(std::int64_t(x) * r.width / width);
    for (int y = 0; y < height; ++y) {
        const int sy = int(std::int64_t(y) * r.height / height);
        std::uint8_t* dst = out.row(y);
        for (int x = 0; x < width; ++x)
            if (r.pixel(srcX[std::size_t(x)], sy)) dst[x >> 3] |= std::uint8_t(0x80 >> (x & 7));
    }
    return out;
}

int writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    if (path.empty()) return errors::ecFileNotFound;
    PendingFile out(path);
    if (!out.ok()) return errno == ENOENT ? errors::ecPathNotFound : errors::ovxIoError(errno, true);
    const int rc = out.write(bytes.data(), bytes.size());
    return rc != errors::ecOK ? rc : out.commit();
}

}  // namespace telvane::faximage
