// T.4 Modified Huffman line coder.
// Runs are found a machine word at a time, codes are appended through a 64-bit accumulator in
// transmission (LSB-first) order.
#include "faximage/mhcoder.h"

#include "faximage/mhcodes.h"

#include <cassert>
#include <cstring>

namespace telvane::faximage {

const std::uint8_t kPageEndBlock[12] = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
const std::uint8_t kBlankLine1728[6] = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};

namespace {

// Position of the first pel at or after `pos` (and before `end`) whose colour is not `black`;
// `end` when there is none. Looks at 64 pels at a time while the row has 8 bytes to spare.
int nextChange(const std::uint8_t* row, int rowBytes, int pos, int end, bool black) {
    const std::uint64_t flip = black ? ~std::uint64_t(0) : 0;
    while (pos < end) {
        const int byte = pos >> 3;
        if (byte + 8 <= rowBytes) {
            std::uint64_t w;
            std::memcpy(&w, row + byte, 8);
            w = (__builtin_bswap64(w) ^ flip) << (pos & 7);
            if (w) {
                int p = pos + __builtin_clzll(w);
                return p < end ? p : end;
            }
            pos = (byte + 8) * 8;
        } else {
            std::uint8_t b = std::uint8_t((row[byte] ^ std::uint8_t(flip)) << (pos & 7));
            if (b) {
                int p = pos + __builtin_clz(unsigned(b)) - 24;
                return p < end ? p : end;
            }
            pos = (byte + 1) * 8;
        }
    }
    return end;
}

}  // namespace

struct CodeTables {
    const mh::Code* term[2];
    const mh::Code* makeup[2];
};

namespace {

const CodeTables& codeTables() {
    static const CodeTables t{{mh::terminatingTable(false), mh::terminatingTable(true)},
                              {mh::makeupTable(false), mh::makeupTable(true)}};
    return t;
}

}  // namespace

void FaxLineCoder::setup(int pageWidth, int leftMargin, bool doubleWidth) {
    assert(pageWidth == 1728 || pageWidth == 2048);
    tables_ = &codeTables();
    pageWidth_ = pageWidth;
    leftMargin_ = leftMargin < 0 ? 0 : (leftMargin > pageWidth ? pageWidth : leftMargin);
    doubleWidth_ = doubleWidth;
}

void FaxLineCoder::storeWord() {
    // Four whole bytes, least significant first.
    assert(byte_ + 4 <= sizeof buf_);
    buf_[byte_] = std::uint8_t(acc_);
    buf_[byte_ + 1] = std::uint8_t(acc_ >> 8);
    buf_[byte_ + 2] = std::uint8_t(acc_ >> 16);
    buf_[byte_ + 3] = std::uint8_t(acc_ >> 24);
    byte_ += 4;
    acc_ >>= 32;
    nacc_ -= 32;
}

inline void FaxLineCoder::putRun(int run, bool black) {
    assert(run >= 0);
    while (run > 2560) {
        const mh::Code& m = tables_->makeup[black][2560 / 64];
        put(m.bits, m.length);
        run -= 2560;
    }
    if (run >= 64) {
        const mh::Code& m = tables_->makeup[black][run >> 6];
        put(m.bits, m.length);
    }
    const mh::Code& t = tables_->term[black][run & 63];
    put(t.bits, t.length);
}

std::size_t FaxLineCoder::codeLine(const std::uint8_t* raster) {
    if (!tables_) tables_ = &codeTables();
    byte_ = 0;
    acc_ = 0;
    nacc_ = 0;
    put(0x8000, 16);  // four fill bits and EOL, ending on a byte boundary

    const int rowBytes = pageWidth_ / 8;
    bool blank = true;
    int i = 0;
    for (; i + 8 <= rowBytes && blank; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, raster + i, 8);
        blank = w == 0;
    }
    for (; i < rowBytes && blank; ++i) blank = raster[i] == 0;
    if (blank) {
        putRun(pageWidth_, false);
    } else {
        const int scale = doubleWidth_ ? 2 : 1;
        const int scan = pageWidth_ / scale > leftMargin_ ? pageWidth_ / scale - leftMargin_ : 0;
        int pos = 0, total = 0;
        bool black = false;
        int run = leftMargin_;
        while (true) {
            int next = nextChange(raster, rowBytes, pos, scan, black);
            run += next - pos;
            pos = next;
            if (pos >= scan) {
                // The runs so far end inside the line: the last one fills it.
                assert(total < pageWidth_);
                putRun(pageWidth_ - total, black);
                break;
            }
            putRun(run * scale, black);
            total += run * scale;
            run = 0;
            black = !black;
        }
    }
    while (nacc_ >= 8) {
        buf_[byte_++] = std::uint8_t(acc_);
        acc_ >>= 8;
        nacc_ -= 8;
    }
    assert(byte_ + 2 <= sizeof buf_);
    buf_[byte_] = nacc_ > 0 ? std::uint8_t(acc_) : 0;
    buf_[byte_ + 1] = 0;
    return byte_ + 2;
}

}  // namespace telvane::faximage
