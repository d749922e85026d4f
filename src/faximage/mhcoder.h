// The T.4 one-dimensional line coder: turns a raster line (MSB first, 1 = black) into one
// coded line of a fax file's line record, and makes the page-end block.
// Guarantees: every coded line starts with the byte-aligned EOL 00 80 and ends with zero fill
// plus one zero byte; lines always total exactly the page width in pels; no allocation per
// line (a fixed 4096-byte code buffer, which the longest line of 2048 pels, about 1200 bytes,
// never fills). Where assertions are on, the runs, the bit accumulator and the buffer are
// checked as they are written.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

namespace telvane::faximage {

constexpr int kCodeBufferSize = 4096;
struct CodeTables;
// The 12-byte page end: byte-aligned EOL, six further EOLs, a zero byte.
extern const std::uint8_t kPageEndBlock[12];
// The coded all-white 1728-pel line: EOL, white make-up 1728, white terminating 0, zero fill.
extern const std::uint8_t kBlankLine1728[6];

class FaxLineCoder {
public:
    // pageWidth: 1728 or 2048 pels; leftMargin: white pels before the image.
    void setup(int pageWidth, int leftMargin, bool doubleWidth);

    int pageWidth() const { return pageWidth_; }

    // Codes one raster line of at least pageWidth / 8 bytes; returns the coded length.
    // The coded bytes stay valid in data() until the next call.
    std::size_t codeLine(const std::uint8_t* raster);
    const std::uint8_t* data() const { return buf_; }

private:
    void put(std::uint32_t bits, int length) {
        // A code fits its length, and the accumulator never holds a whole word between calls.
        assert(length > 0 && length <= 16 && (bits >> length) == 0 && nacc_ < 32);
        acc_ |= std::uint64_t(bits) << nacc_;
        nacc_ += length;
        if (nacc_ >= 32) {
            storeWord();
        }
    }
    void storeWord();
    void putRun(int run, bool black);

    int pageWidth_ = 1728;
    int leftMargin_ = 50;
    bool doubleWidth_ = false;
    std::uint8_t buf_[kCodeBufferSize];
    std::size_t byte_ = 0;   // index of the byte being filled
    std::uint64_t acc_ = 0;  // pending bits, first bit in bit 0
    int nacc_ = 0;
    const CodeTables* tables_ = nullptr;
};

}  // namespace telvane::faximage
