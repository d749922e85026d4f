// T.4 one-dimensional decoder. The white and black code trees are flattened at start-up into
// 13-bit lookup tables: each entry gives what a bit-by-bit walk from the tree root would find
// for those bits (a run, or an invalid code after n bits). EOLs, being runs of zeros, are
// recognised by counting trailing zeros of the bit accumulator, which also absorbs fill bits.
#include "faximage/mhdecoder.h"

#include "faximage/mhcodes.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace telvane::faximage {

namespace {

constexpr int kPeekBits = 13;

struct Entry {
    std::int16_t run;     // run length; -1 = invalid code
    std::uint8_t length;  // bits consumed
};

constexpr int kShortBits = 9;
constexpr int kPairBits = 10;
// White make-up 1728 (010011011) then white terminating 0 (00110101), first bit in bit 0.
constexpr int kWhiteLine1728Bits = 17;
constexpr std::uint64_t kWhiteLine1728 = 0x159B2;  // bits 0..16 of B2 59 01
constexpr std::uint64_t kWhiteLine1728Mask = (1u << kWhiteLine1728Bits) - 1;

// Two terminating codes (this colour, then the other) found within the next 10 bits.
struct PairEntry {
    std::uint8_t first, second;  // runs
    std::uint8_t length;         // bits of both codes; 0 = no pair here
    std::uint8_t pad;
};

struct DecodeTables {
    Entry table[2][1 << kPeekBits];
    // The first 9 bits: codes up to 9 bits long, else length 0 (look in `table`).
    Entry shortTable[2][1 << kShortBits];
    PairEntry pairs[2][1 << kPairBits];
    DecodeTables() {
        int count = 0;
        const mh::CodeEntry* codes = mh::allCodes(count);
        for (int colour = 0; colour < 2; ++colour) {
            std::unordered_set<std::uint32_t> prefixes;  // (length << 16) | bits
            std::unordered_set<std::uint32_t> leaves;
            std::int16_t runOf[1 << kPeekBits] = {};
            for (int i = 0; i < count; ++i) {
                const mh::CodeEntry& e = codes[i];
                if (!(colour ? e.black : e.white)) continue;
                std::uint32_t bits = 0;
                int len = 0;
                for (const char* p = e.bits; *p; ++p, ++len) {
                    prefixes.insert((std::uint32_t(len) << 16) | bits);
                    if (*p == '1') bits |= 1u << len;
                }
                if (e.run >= 0) {
                    leaves.insert((std::uint32_t(len) << 16) | bits);
                    // Remember the run by its bits: codes are at most 13 bits.
                    for (std::uint32_t fill = 0; fill < (1u << (kPeekBits - len)); ++fill)
                        runOf[bits | (fill << len)] = std::int16_t(e.run);
                }
            }
            for (std::uint32_t p = 0; p < (1u << kPeekBits); ++p) {
                Entry en{-1, kPeekBits};
                for (int len = 1; len <= kPeekBits; ++len) {
                    std::uint32_t key = (std::uint32_t(len) << 16) | (p & ((1u << len) - 1));
                    if (leaves.count(key)) {
                        en = {runOf[p], std::uint8_t(len)};
                        break;
                    }
                    if (len == kPeekBits || !prefixes.count(key)) {
                        en = {-1, std::uint8_t(len)};
                        break;
                    }
                }
                table[colour][p] = en;
            }
            for (std::uint32_t p = 0; p < (1u << kShortBits); ++p) {
                // Every 13-bit pattern starting with these 9 bits resolves alike when short.
                Entry en = table[colour][p];
                shortTable[colour][p] = en.run >= 0 && en.length <= kShortBits ? en : Entry{0, 0};
            }
        }
        for (int colour = 0; colour < 2; ++colour) {
            for (std::uint32_t p = 0; p < (1u << kPairBits); ++p) {
                PairEntry pe{0, 0, 0, 0};
                const Entry a = table[colour][p];
                if (a.run >= 0 && a.run < 64 && a.length <= kPairBits) {
                    const Entry b = table[1 - colour][p >> a.length];
                    if (b.run >= 0 && b.run < 64 && a.length + b.length <= kPairBits)
                        pe = {std::uint8_t(a.run), std::uint8_t(b.run), std::uint8_t(a.length + b.length), 0};
                }
                pairs[colour][p] = pe;
            }
        }
    }
};

const DecodeTables& decodeTables() {
    static const DecodeTables t;
    return t;
}

}  // namespace

void FaxLineDecoder::reset() {
    acc_ = 0;
    nbits_ = 0;
    pendingZeros_ = 0;
    skipOnes_ = false;
    black_ = false;
    seenEol_ = false;
    ended_ = false;
    eolRun_ = 0;
    pos_ = 0;
    dirty_ = 0;
    lines_ = 0;
    errors_ = 0;
    wrongWidth_ = 0;
    std::memset(line_, 0, sizeof line_);
}

void FaxLineDecoder::checkInvariant() const {
    assert(nbits_ >= 0 && nbits_ < 64 && (acc_ >> nbits_) == 0);
    assert(pos_ >= 0 && pos_ <= kMaxLineBytes * 8);
    assert(dirty_ >= 0 && dirty_ <= kMaxLineBytes);
    assert(std::all_of(line_ + dirty_, line_ + sizeof line_, [](std::uint8_t b) { return b == 0; }));
    assert(pendingZeros_ == 0 || pendingZeros_ >= 11);
    assert(!ended_ || eolRun_ >= 3);
}

void FaxLineDecoder::addRun(int run) {
    eolRun_ = 0;
    if (!seenEol_) return;
    if (pos_ + run > kMaxLineBytes * 8) return;
    if (black_ && run > 0) fillBlack(pos_, run);
    pos_ += run;
    if (run < 64) black_ = !black_;
}

void FaxLineDecoder::endOfLine() {
    if (seenEol_ && pos_ > 0) {
        int bytes = pos_ >> 3;
        if ((bytes == 216 || bytes == 256) && sink_) {
            ++lines_;
            sink_->faxLine(line_, std::size_t(bytes));
        } else if (bytes == 216 || bytes == 256) {
            ++lines_;
        } else {
            ++wrongWidth_;
        }
    }
    if (dirty_ > 0) std::memset(line_, 0, std::size_t(dirty_));
    dirty_ = 0;
    pos_ = 0;
    black_ = false;
}

FaxLineDecoder::Step FaxLineDecoder::step(bool final) {
    if (skipOnes_) {
        std::uint64_t ones = ~acc_;
        int t = ones ? __builtin_ctzll(ones) : 64;
        if (t >= nbits_) {
            drop(nbits_);
            return Step::NeedBits;
        }
        drop(t);
        skipOnes_ = false;
        return Step::Done;
    }
    if (acc_ == 0) {
        // Nothing but zeros in hand: fill or the start of an EOL.
        if (pendingZeros_ > 0 || nbits_ >= 11) {
            pendingZeros_ += nbits_;
            drop(nbits_);
        }
        return Step::NeedBits;
    }
    int z = __builtin_ctzll(acc_);
    if (pendingZeros_ > 0 || z >= 11) {
        drop(z + 1);
        pendingZeros_ = 0;
        endOfLine();
        seenEol_ = true;
        if (++eolRun_ >= 3) ended_ = true;
        return Step::Done;
    }
    const Entry& e = decodeTables().table[black_][acc_ & ((1u << kPeekBits) - 1)];
    if (e.length > nbits_) {
        if (final) drop(nbits_);
        return Step::NeedBits;
    }
    drop(e.length);
    if (e.run < 0) {
        ++errors_;
        skipOnes_ = true;
    } else {
        addRun(e.run);
    }
    return Step::Done;
}

bool FaxLineDecoder::feed(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t* p = data;
    const std::uint8_t* end = data + size;
    const DecodeTables& dt = decodeTables();
    while (!ended_) {
        if (end - p >= 8) {
            // Top up to at least 56 bits with one unaligned load.
            std::uint64_t w;
            std::memcpy(&w, p, 8);
            int take = nbits_ >= 56 ? 0 : (63 - nbits_) >> 3;
            nbits_ += take * 8;
            acc_ = (acc_ | (w << (nbits_ - take * 8))) & ((std::uint64_t(1) << nbits_) - 1);
            p += take;
        } else {
            while (nbits_ <= 55 && p < end) {
                acc_ |= std::uint64_t(*p++) << nbits_;
                nbits_ += 8;
            }
            if (nbits_ < 32) break;  // keep the remaining bits for the next piece
        }
        if (!skipOnes_ && pendingZeros_ == 0 && seenEol_) {
            // Run codes and EOLs of a page: the common case, kept in registers.
            std::uint64_t acc = acc_;
            int nbits = nbits_;
            int pos = pos_;
            int dirty = dirty_;
            bool black = black_;
            std::uint8_t* const line = line_;
            while (nbits >= 24) {
                if ((acc & 0x7FF) == 0) {
                    if (acc == 0) break;
                    const int z = __builtin_ctzll(acc);
                    acc >>= z + 1;
                    nbits -= z + 1;
                    pos_ = pos;
                    dirty_ = dirty;
                    endOfLine();
                    pos = 0;
                    dirty = 0;
                    black = false;
                    if (++eolRun_ >= 3) {
                        ended_ = true;
                        break;
                    }
                    continue;
                }
                if (pos == 0 && !black && (acc & kWhiteLine1728Mask) == kWhiteLine1728) {
                    // The all-white 1728-pel line, the commonest line of all.
                    acc >>= kWhiteLine1728Bits;
                    nbits -= kWhiteLine1728Bits;
                    eolRun_ = 0;
                    pos = 1728;
                    black = true;
                    continue;
                }
                const PairEntry pe = dt.pairs[black][acc & ((1u << kPairBits) - 1)];
                if (pe.length != 0 && pos + pe.first + pe.second <= kMaxLineBytes * 8) {
                    // A run of each colour: the colour is the same afterwards. Black runs in
                    // pairs are at most 18 pels (longer ones have longer codes).
                    acc >>= pe.length;
                    nbits -= pe.length;
                    eolRun_ = 0;
                    const int start = black ? pos : pos + pe.first;
                    const int run = black ? pe.first : pe.second;
                    const int shift = start & 7;
                    const std::uint64_t m = (~std::uint64_t(0) >> shift) & ~(~std::uint64_t(0) >> (shift + run));
                    std::uint64_t w;
                    std::memcpy(&w, line + (start >> 3), 8);
                    w = __builtin_bswap64(__builtin_bswap64(w) | m);
                    std::memcpy(line + (start >> 3), &w, 8);
                    const int used = (start + run + 7) >> 3;
                    dirty = used > dirty ? used : dirty;
                    pos += pe.first + pe.second;
                    continue;
                }
                Entry e = dt.shortTable[black][acc & ((1u << kShortBits) - 1)];
                if (e.length == 0) {
                    e = dt.table[black][acc & ((1u << kPeekBits) - 1)];
                    if (e.run < 0) break;
                }
                acc >>= e.length;
                nbits -= e.length;
                const int run = e.run;
                eolRun_ = 0;
                if (pos + run > kMaxLineBytes * 8) continue;
                if (run < 57) {
                    // Short runs without branches: OR a 64-pel mask (empty for white) into the
                    // line; the line buffer has 8 bytes of slack for this.
                    const int shift = pos & 7;
                    std::uint64_t m = (~std::uint64_t(0) >> shift) & ~(~std::uint64_t(0) >> (shift + run));
                    m &= std::uint64_t(0) - std::uint64_t(black);
                    std::uint64_t w;
                    std::memcpy(&w, line + (pos >> 3), 8);
                    w = __builtin_bswap64(__builtin_bswap64(w) | m);
                    std::memcpy(line + (pos >> 3), &w, 8);
                    const int used = black ? (pos + run + 7) >> 3 : 0;
                    dirty = used > dirty ? used : dirty;
                } else if (black) {
                    const int stop = pos + run;
                    const int sb = pos >> 3, eb = (stop - 1) >> 3;
                    line[sb] |= std::uint8_t(0xFF >> (pos & 7));
                    for (int i = sb + 1; i < eb; ++i) line[i] = 0xFF;
                    line[eb] |= std::uint8_t(0xFF << (7 - ((stop - 1) & 7)));
                    if (eb >= dirty) dirty = eb + 1;
                }
                pos += run;
                if (run < 64) black = !black;
            }
            pos_ = pos;
            dirty_ = dirty;
            black_ = black;
            acc_ = acc;
            nbits_ = nbits;
            if (nbits_ < 32 || ended_) continue;
        }
        step(false);
    }
    checkInvariant();
    return ended_;
}

void FaxLineDecoder::finish() {
    while (!ended_ && nbits_ > 0) {
        if (step(true) == Step::NeedBits) break;
    }
    acc_ = 0;
    nbits_ = 0;
    if (!ended_) endOfLine();
    checkInvariant();
}

}  // namespace telvane::faximage
