// T.4 2-D / T.6 coder. Each line is turned into its list of changing elements; the 2-D coding
// walks that list against the previous line's (the reference line) as T.4 clause 4.2.1.3.1
// describes: pass mode when b2 lies left of a1, vertical mode when |a1 - b1| <= 3, horizontal
// mode otherwise. Codes are appended through a 64-bit accumulator in transmission order.
#include "faximage/mrcoder.h"

#include "faximage/mhcodes.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace telvane::faximage {

namespace {

constexpr std::uint32_t kEol = 0x800;  // 000000000001, first bit in bit 0
constexpr int kEolBits = 12;

}  // namespace

void FaxMrCoder::beginPage(FaxCoding coding, int width, int k, int minLineBits) {
    coding_ = coding == FaxCoding::MR ? FaxCoding::MR : FaxCoding::MMR;
    width_ = std::clamp(width, 1, kMaxLineWidth);
    k_ = std::max(k, 1);
    minLineBits_ = std::clamp(minLineBits, 0, kMaxFillBits);
    linesSince1D_ = 0;
    acc_ = 0;
    nacc_ = 0;
    byte_ = 0;
    // The first line of MMR is coded against an imaginary all-white line.
    std::fill(reference_, reference_ + kEndMarkers, width_);
}

void FaxMrCoder::storeWord() {
    // The low four bytes of the accumulator, least significant first (the decoders read fax
    // data as little-endian words as well).
    static_assert(std::endian::native == std::endian::little);
    std::memcpy(buf_ + byte_, &acc_, 4);
    byte_ += 4;
    acc_ >>= 32;
    nacc_ -= 32;
}

void FaxMrCoder::putZeros(int count) {
    while (count > 0) {
        const int n = std::min(count, 32);
        put(0, n);
        count -= n;
    }
}

void FaxMrCoder::putRun(int run, bool black) {
    static const mh::Code* const term[2] = {mh::terminatingTable(false), mh::terminatingTable(true)};
    static const mh::Code* const makeup[2] = {mh::makeupTable(false), mh::makeupTable(true)};
    while (run > 2560) {
        // T.6 clause 2.2.3: a run beyond 2623 pels takes the 2560 make-up code repeatedly.
        put(makeup[black][2560 / 64].bits, makeup[black][2560 / 64].length);
        run -= 2560;
    }
    if (run >= 64) put(makeup[black][run >> 6].bits, makeup[black][run >> 6].length);
    put(term[black][run & 63].bits, term[black][run & 63].length);
}

void FaxMrCoder::code1D(const std::int32_t* changes) {
    int pos = 0;
    bool black = false;
    for (const std::int32_t* c = changes; *c < width_; ++c) {
        putRun(*c - pos, black);
        pos = *c;
        black = !black;
    }
    putRun(width_ - pos, black);
}

void FaxMrCoder::code2D(const std::int32_t* cur, const std::int32_t* ref) {
    const mr::ModeCode& pass = mr::passCode();
    const mr::ModeCode& horizontal = mr::horizontalCode();
    int a0 = -1;  // the imaginary white element before the line
    bool black = false;
    int i = 0;  // index of b1 in the reference list; its parity is the colour of a0
    int j = 0;  // index of a1 in the coding line's list
    while (a0 < width_) {
        while (ref[i] <= a0) i += 2;
        const int b1 = ref[i], b2 = ref[i + 1], a1 = cur[j];
        if (b2 < a1) {
            put(pass.bits, pass.length);
            a0 = b2;
            i += 2;
            continue;
        }
        const int delta = a1 - b1;
        if (delta >= -3 && delta <= 3) {
            const mr::ModeCode& v = mr::verticalCode(delta);
            put(v.bits, v.length);
            a0 = a1;
            ++j;
            black = !black;
            // The next b1 has the other colour: after V0 and VR codes the change after b1
            // comes first, after VL codes the one before it.
            i += delta < 0 ? -1 : 1;
            continue;
        }
        const int a2 = cur[j + 1];
        put(horizontal.bits, horizontal.length);
        putRun(a1 - std::max(a0, 0), black);
        putRun(a2 - a1, !black);
        a0 = a2;
        j += 2;
    }
}

std::size_t FaxMrCoder::takeWholeBytes() {
    while (nacc_ >= 8) {
        buf_[byte_++] = std::uint8_t(acc_);
        acc_ >>= 8;
        nacc_ -= 8;
    }
    return byte_;
}

std::size_t FaxMrCoder::codeLine(const std::uint8_t* raster) {
    byte_ = 0;
    lineBits_ = 0;
    mr::changingElements(raster, width_, current_);
    if (coding_ == FaxCoding::MR) {
        const bool oneD = linesSince1D_ == 0;
        put(kEol, kEolBits);
        put(oneD ? 1 : 0, 1);
        if (oneD)
            code1D(current_);
        else
            code2D(current_, reference_);
        if (lineBits_ < minLineBits_) putZeros(int(minLineBits_ - lineBits_));
        linesSince1D_ = (linesSince1D_ + 1) % k_;
    } else {
        code2D(current_, reference_);
    }
    std::swap(reference_, current_);
    return takeWholeBytes();
}

std::size_t FaxMrCoder::endPage() {
    byte_ = 0;
    if (coding_ == FaxCoding::MR) {
        for (int i = 0; i < 6; ++i) {
            put(kEol, kEolBits);
            put(1, 1);
        }
    } else {
        put(kEol, kEolBits);
        put(kEol, kEolBits);
    }
    putZeros((8 - nacc_ % 8) % 8);
    return takeWholeBytes();
}

}  // namespace telvane::faximage
