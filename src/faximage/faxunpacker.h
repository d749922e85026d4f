// TOvxFaxUnpacker, the page decoder: reads pages of an OVF fax file, decodes their T.4 data
// and delivers the lines to a handler, to a 1-bit raster, or to BMP, PCX and DCX files, with
// the display corrections of fax pages (line doubling or width halving of standard-resolution
// pages, whitespace compression, scaling).
// Guarantees: memory is bounded (at most kMaxPageRows rows per page image); every failure is
// a negative code and leaves no partial output file behind.
#pragma once

#include "faximage/mhdecoder.h"
#include "faximage/ovffile.h"
#include "faximage/raster.h"

#include <cstdint>
#include <functional>
#include <string>

namespace telvane::faximage {

using TUnpackerOptions = unsigned;  // a set of the uo... option bits
constexpr TUnpackerOptions uoYield = 1, uoAbort = 2;
enum TAutoScaleMode { asNone, asDoubleHeight, asHalfWidth };

class TOvxFaxUnpacker;
using TUnpackOutputLineEvent = std::function<void(TOvxFaxUnpacker& Sender, bool Starting, bool Ending,
                                                  const std::uint8_t* Data, int Len, int PageNum)>;
using TUnpackStatusEvent = std::function<void(TOvxFaxUnpacker& Sender, const std::string& FName, int PageNum,
                                              std::uint64_t BytesUnpacked, std::uint64_t BytesToUnpack)>;

// Most rows one page image may have (a fine page is about 2200 rows).
constexpr int kMaxPageRows = 65536;

class TOvxFaxUnpacker {
public:
    TOvxFaxUnpacker();

    const std::string& InFileName() const { return inFileName_; }
    // Also sets OutFileName to the same name without extension (unless the name is unchanged).
    void setInFileName(const std::string& name);
    std::string OutFileName;

    TUnpackerOptions Options = uoYield;
    TAutoScaleMode AutoScaleMode = asDoubleHeight;
    bool WhitespaceCompression = false;
    int WhitespaceFrom = 0;
    int WhitespaceTo = 0;
    bool Scaling = false;
    int HorizMult() const { return hMul_; }
    int HorizDiv() const { return hDiv_; }
    int VertMult() const { return vMul_; }
    int VertDiv() const { return vDiv_; }
    void setHorizMult(int v) {
        if (v > 0) hMul_ = v;
    }
    void setHorizDiv(int v) {
        if (v > 0) hDiv_ = v;
    }
    void setVertMult(int v) {
        if (v > 0) vMul_ = v;
    }
    void setVertDiv(int v) {
        if (v > 0) vDiv_ = v;
    }

    TUnpackOutputLineEvent OnOutputLine;
    TUnpackStatusEvent OnStatus;
    // Lets pending window events run; returns false when the application is quitting.
    std::function<bool()> OnYield;

    // Number of pages (or a negative code).
    int getPageCount();
    // Resolution and width of page 1.
    int getFaxInfo(bool& fine, bool& wide);

    // Delivers page n (or every page) to OnOutputLine.
    int unpackPage(int page);
    int unpackFile();
    // Decodes page n into a 1-bit raster (1 = black) trimmed to the widest non-blank byte.
    int unpackPageToBitmap(int page, Raster& out);
    // Decodes page n into a raster of the page's full line width, without auto-scaling,
    // whitespace compression or scaling: the page as transmitted (for TIFF and PDF export).
    int unpackPageToRaster(int page, Raster& out, bool& fine);
    // The same through a reader already open on the file (it keeps the page index, so that
    // visiting every page stays linear).
    int unpackPageToRaster(OvfReader& reader, int page, Raster& out, bool& fine);
    // Image files; OutFileName gets the type's extension when it has none.
    int unpackPageToPcx(int page);
    int unpackPageToBmp(int page);
    int unpackFileToDcx();

private:
    struct Collector;
    int checkSettings() const;
    int decodePage(OvfReader& reader, int page, const std::function<void(const std::uint8_t*, std::size_t)>& out,
                   bool corrections, bool& fine, int& lineBytes);
    int pageImage(OvfReader& reader, int page, Raster& out, bool trim);
    int bitmapOf(OvfReader& reader, int page, Raster& out);
    std::string outputName(const char* ext) const;

    std::string inFileName_;
    int hMul_ = 1, hDiv_ = 1, vMul_ = 1, vDiv_ = 1;
};

// Image file writers (rows MSB first, 1 = black in `r`).
std::vector<std::uint8_t> encodePcx(const Raster& r);
// Returns -8054 for 32768 rows or more.
int encodeBmp(const Raster& r, std::vector<std::uint8_t>& out);
std::vector<std::uint8_t> encodeDcx(const std::vector<std::vector<std::uint8_t>>& pcxPages);
// Nearest-neighbour stretch of a raster to a new size.
Raster stretchRaster(const Raster& r, int width, int height);
// Writes bytes to a file through a temporary renamed into place: a failure leaves no partial
// file and keeps an existing one.
int writeFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace telvane::faximage
