// T.4 Modified Huffman line coder.
// Runs are found a machine word at a time, codes are appended through a 64-bit accumulator in
// transmission (LSB-first) order.
#include "faximage/mhcoder.h"

#include "faximage/mhcodes.h"

#include <cstring>

namespace telvane::faximage {

const std::uint8_t kPageEndBlock[12] = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
const std::uint8_t kBlankLine1728[6] = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};

namespace {

// Position of the first pel at or after `pos` (and before `end`) whose colour is not `black`;
// `end` when there is none.
int nextChange(const std::uint8_t* row, int pos, int end, bool black) {
    const std::uint8_t flip = black ? 0xFF : 0x00;
    while (pos < end) {
        if ((pos & 7) == 0) {
            // Whole bytes of the same colour, eight at a time when possible.
            int byte = pos >> 3;
            while (pos + 64 <= end) {
                std::uint64_t w;
                std::memcpy(&w, row + byte, 8);
                if (w != (black ? ~std::uint64_t(0) : 0))
                    break;
                pos += 64;
                byte += 8;
            }
            while (pos + 8 <= end && row[byte] == flip) {
                pos += 8;
                ++byte;
            }
            if (pos >= end)
                return end;
        }
        std::uint8_t b = std::uint8_t((row[pos >> 3] ^ flip) << (pos & 7));
        if (b) {
            int p = pos + __builtin_clz(unsigned(b)) - 24;
            return p < end ? p : end;
        }
        pos = (pos | 7) + 1;
    }
    return end;
}

} // namespace

void FaxLineCoder::setup(int pageWidth, int leftMargin, bool doubleWidth) {
    pageWidth_ = pageWidth;
    leftMargin_ = leftMargin < 0 ? 0 : (leftMargin > pageWidth ? pageWidth : leftMargin);
    doubleWidth_ = doubleWidth;
}

void FaxLineCoder::put(std::uint32_t bits, int length) {
    acc_ |= std::uint64_t(bits) << nacc_;
    nacc_ += length;
    while (nacc_ >= 8) {
        buf_[byte_++] = std::uint8_t(acc_);
        acc_ >>= 8;
        nacc_ -= 8;
    }
}

void FaxLineCoder::putRun(int run, bool black) {
    while (run > 2560) {
        const mh::Code& m = mh::makeup(black, 2560);
        put(m.bits, m.length);
        run -= 2560;
    }
    if (run >= 64) {
        const mh::Code& m = mh::makeup(black, run & ~63);
        put(m.bits, m.length);
    }
    const mh::Code& t = mh::terminating(black, run & 63);
    put(t.bits, t.length);
}

std::size_t FaxLineCoder::codeLine(const std::uint8_t* raster) {
    byte_ = 0;
    acc_ = 0;
    nacc_ = 0;
    put(0x8000, 16); // four fill bits and EOL, ending on a byte boundary

    const int rowBytes = pageWidth_ / 8;
    bool blank = true;
    for (int i = 0; i < rowBytes && blank; ++i)
        blank = raster[i] == 0;
    if (blank) {
        putRun(pageWidth_, false);
    } else {
        const int scale = doubleWidth_ ? 2 : 1;
        const int scan = pageWidth_ / scale > leftMargin_ ? pageWidth_ / scale - leftMargin_ : 0;
        int pos = 0, total = 0;
        bool black = false;
        int run = leftMargin_;
        while (true) {
            int next = nextChange(raster, pos, scan, black);
            run += next - pos;
            pos = next;
            if (pos >= scan) {
                putRun(pageWidth_ - total, black); // the last run fills the line
                break;
            }
            putRun(run * scale, black);
            total += run * scale;
            run = 0;
            black = !black;
        }
    }
    if (nacc_ > 0)
        buf_[byte_] = std::uint8_t(acc_);
    else
        buf_[byte_] = 0;
    buf_[byte_ + 1] = 0;
    return byte_ + 2;
}

} // namespace telvane::faximage
