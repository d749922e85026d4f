// Input side of the page encoder: the line sources that turn documents into raster lines
// (bitmaps, BMP files, plain text with a bitmap or system font, TIFF, PCX, DCX) and the text
// renderers used for text input and by the send sessions' header lines.
// Guarantees: every source bounds its work by the size of its input file, never by what a
// header claims; unreadable or unsupported input is -8002, a missing file an I/O code.
#pragma once

#include "faximage/raster.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace telvane::faximage {

// Widest image a source accepts (the coder's raster buffer holds 4096 bytes).
constexpr int kMaxImageWidth = 32768;
// Most raster lines one fax page may have (about 2 m of paper at fine resolution); longer
// pages are refused with -8007.
constexpr int kMaxPageLines = 16384;

class FaxLineSource {
public:
    virtual ~FaxLineSource() = default;
    // Opens the input; 0 or a negative code.
    virtual int open() = 0;
    // Called before the first line of every page; the image width of the page is valid after it.
    virtual int beginPage() { return 0; }
    // Width in pels of the current page's lines.
    virtual int imageWidth() const = 0;
    // Delivers the next line of the current page into `line` (imageWidth pels, MSB first,
    // 1 = black, bits beyond the width 0). When the page has no more lines it sets
    // `endOfPage` and delivers nothing; `morePages` then tells whether another page follows.
    virtual int readLine(std::uint8_t* line, bool& endOfPage, bool& morePages) = 0;
    virtual void close() {}
    // Progress: input bytes consumed and the input size.
    virtual std::uint64_t bytesRead() const { return 0; }
    virtual std::uint64_t bytesTotal() const { return 0; }
};

// Renders one line of text into raster rows.
class FaxTextRenderer {
public:
    virtual ~FaxTextRenderer() = default;
    // Prepares for a page width and resolution; 0, -8052 (font missing) or -8055 (too large).
    virtual int prepare(bool fine, int pageWidth, int leftMargin) = 0;
    // Raster rows per text line.
    virtual int rowCount() const = 0;
    // Characters that fit on a line (after tab expansion); 0 = no limit.
    virtual std::size_t maxChars() const = 0;
    // Width in pels of the widest line renderLine makes.
    virtual int maxWidth() const = 0;
    // Renders `text` (Windows-1252 bytes) into `out`: rowCount() rows, width as needed but at
    // most pageWidth - leftMargin pels.
    virtual void renderLine(std::string_view text, Raster& out) = 0;
};

// The built-in bitmap font: small (12x8) or large (20x16) glyphs, rows doubled at fine resolution.
class BitmapFontRenderer : public FaxTextRenderer {
public:
    explicit BitmapFontRenderer(bool small) : small_(small) {}
    int prepare(bool fine, int pageWidth, int leftMargin) override;
    int rowCount() const override;
    std::size_t maxChars() const override { return maxChars_; }
    int maxWidth() const override { return int(maxChars_) * glyphWidth(); }
    void renderLine(std::string_view text, Raster& out) override;
    int glyphWidth() const { return small_ ? 12 : 20; }

private:
    bool small_;
    bool fine_ = false;
    std::size_t maxChars_ = 0;
    int maxWidth_ = 1728;
};

// Ordered-dither decision for one colour pel: black when r + g + b (0..765) is below the
// 16x16 Bayer threshold at (x, y).
bool ditherBlack(int x, int y, int rgbSum);

// Input files are read whole, bounded by this size.
constexpr std::uint64_t kMaxInputFileSize = 512ull * 1024 * 1024;
// Reads a file into memory: 0, an I/O code, or -8 when it is larger than kMaxInputFileSize.
int readWholeFile(const std::string& path, std::vector<std::uint8_t>& out);

std::unique_ptr<FaxLineSource> makeBmpSource(const std::string& path);
std::unique_ptr<FaxLineSource> makeBmpSource(std::vector<std::uint8_t> fileBytes);
std::unique_ptr<FaxLineSource> makeRasterSource(const Raster* raster);
std::unique_ptr<FaxLineSource> makeTextSource(const std::string& path, FaxTextRenderer* renderer, int linesPerPage,
                                              int tabStop);
std::unique_ptr<FaxLineSource> makeTiffSource(const std::string& path);
std::unique_ptr<FaxLineSource> makePcxSource(const std::string& path);
std::unique_ptr<FaxLineSource> makeDcxSource(const std::string& path);
// In-memory variants used by the fuzz targets.
std::unique_ptr<FaxLineSource> makeTiffSource(std::vector<std::uint8_t> fileBytes);
std::unique_ptr<FaxLineSource> makePcxSource(std::vector<std::uint8_t> fileBytes);
std::unique_ptr<FaxLineSource> makeDcxSource(std::vector<std::uint8_t> fileBytes);

}  // namespace telvane::faximage
