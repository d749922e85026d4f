// The T.4 two-dimensional (MR) and T.6 (MMR) page coder: codes a page one raster line at a time
// (MSB first, 1 = black) into fax data in transmission order (first bit in bit 0 of each byte).
// MR (T.4 clause 4.2): each line is EOL, a tag bit (1: one-dimensional, MH codes; 0: two-
// dimensional), the line's codes and, when the line is shorter than the minimum, zero fill, so
// the fill always stands just before the next EOL; a one-dimensional line opens the page and
// follows every K - 1 two-dimensional lines; the page ends with RTC (six EOL + 1).
// MMR (T.6): two-dimensional lines only, no EOL and no fill, the first line coded against an
// all-white line; the page ends with EOFB (two EOLs).
// Guarantees: bounded memory (two changing-element lists and a fixed code buffer, no
// allocation); the bits of a partly filled byte are carried to the next line, so lines are
// not padded except by MR fill; the page ends on a byte boundary (zero bits after RTC/EOFB).
#pragma once

#include "faximage/mrcodes.h"

#include <cstddef>
#include <cstdint>

namespace telvane::faximage {

class FaxMrCoder {
public:
    FaxMrCoder() = default;
    FaxMrCoder(const FaxMrCoder&) = delete;
    FaxMrCoder& operator=(const FaxMrCoder&) = delete;

    // Starts a page. `coding` is MR or MMR (anything else codes MMR); `width` 1..kMaxLineWidth
    // pels (clamped); `k` the K factor of MR (at least 1); `minLineBits` the least bits of an
    // MR line from its EOL to the next (T.4 minimum scan-line time; 0 for none).
    void beginPage(FaxCoding coding, int width, int k = 2, int minLineBits = 0);

    // Codes one line of at least (width + 7) / 8 bytes; returns the number of whole bytes now
    // in data() (they stay valid until the next call).
    std::size_t codeLine(const std::uint8_t* raster);
    // Ends the page with RTC or EOFB and zero bits up to the byte boundary; returns the number
    // of bytes in data().
    std::size_t endPage();
    const std::uint8_t* data() const { return buf_; }

    int width() const { return width_; }

private:
    // The largest line: 4096 alternating pels in vertical modes of 7 bits at most, or in
    // horizontal mode, with a pass code for each two reference changes, stays below 6 KB;
    // fill adds at most kMaxFillBits.
    static constexpr int kMaxFillBits = 8 * 4096;
    static constexpr int kBufferSize = 6 * 1024 + kMaxFillBits / 8 + 64;

    void put(std::uint32_t bits, int length) {
        acc_ |= std::uint64_t(bits) << nacc_;
        nacc_ += length;
        lineBits_ += length;
        if (nacc_ >= 32) storeWord();
    }
    void storeWord();
    void putZeros(int count);
    void putRun(int run, bool black);
    void code1D(const std::int32_t* changes);
    void code2D(const std::int32_t* changes, const std::int32_t* reference);
    std::size_t takeWholeBytes();

    FaxCoding coding_ = FaxCoding::MMR;
    int width_ = 1728;
    int k_ = 2;
    int minLineBits_ = 0;
    int linesSince1D_ = 0;  // lines coded since the last 1-D line of MR
    long lineBits_ = 0;
    std::uint64_t acc_ = 0;  // pending bits, first bit in bit 0
    int nacc_ = 0;
    std::size_t byte_ = 0;
    std::int32_t listA_[kChangeListSize] = {-1, -1};
    std::int32_t listB_[kChangeListSize] = {-1, -1};
    std::int32_t* reference_ = listA_ + kLeadMarkers;
    std::int32_t* current_ = listB_ + kLeadMarkers;
    std::uint8_t buf_[kBufferSize];
};

}  // namespace telvane::faximage
