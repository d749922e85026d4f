// T.4 2-D / T.6 decoder. The decoded line is kept as its list of changing elements, which is
// what the next line's 2-D codes refer to (b1, b2 are found by walking the reference list in
// steps of two, so that their colour matches); a finished line is painted from its list.
// Run codes are looked up in tables made at start-up from the shared MH code list: 9 bits
// first (every white and most black codes), 13 bits for the rest.
#include "faximage/mrdecoder.h"

#include "faximage/mhcodes.h"

#include <algorithm>
#include <cstring>
#include <tuple>
#include <utility>

namespace telvane::faximage {

namespace {

constexpr int kShortBits = 9;
constexpr int kLongBits = 13;
constexpr std::uint64_t kElevenZeros = 0x7FF;

// Run code entries: (run << 4) | code length; 0 = no code starts with these bits.
struct RunTables {
    std::uint16_t shortCodes[2][1 << kShortBits] = {};
    std::uint16_t longCodes[2][1 << kLongBits] = {};
    RunTables() {
        int count = 0;
        const mh::CodeEntry* codes = mh::allCodes(count);
        for (int i = 0; i < count; ++i) {
            const mh::CodeEntry& e = codes[i];
            if (e.run < 0) continue;  // EOL: found by counting zeros
            std::uint32_t bits = 0;
            int len = 0;
            for (const char* p = e.bits; *p; ++p, ++len)
                if (*p == '1') bits |= 1u << len;
            const auto entry = std::uint16_t((e.run << 4) | len);
            for (int colour = 0; colour < 2; ++colour) {
                if (!(colour ? e.black : e.white)) continue;
                for (std::uint32_t rest = 0; rest < (1u << (kLongBits - len)); ++rest)
                    longCodes[colour][bits | (rest << len)] = entry;
                if (len <= kShortBits)
                    for (std::uint32_t rest = 0; rest < (1u << (kShortBits - len)); ++rest)
                        shortCodes[colour][bits | (rest << len)] = entry;
            }
        }
    }
};

const RunTables& runTables() {
    static const RunTables t;
    return t;
}

inline std::uint16_t runCode(const RunTables& t, bool black, std::uint64_t acc) {
    const std::uint16_t e = t.shortCodes[black][acc & ((1u << kShortBits) - 1)];
    return e ? e : t.longCodes[black][acc & ((1u << kLongBits) - 1)];
}

}  // namespace

void FaxMrDecoder::reset(FaxCoding coding, int width) {
    runTables();
    coding_ = coding == FaxCoding::MR ? FaxCoding::MR : FaxCoding::MMR;
    width_ = std::clamp(width, 1, kMaxLineWidth);
    st_ = State{};
    st_.phase = coding_ == FaxCoding::MR ? Phase::SeekEol : Phase::Modes;
    st_.refValid = true;
    st_.a0 = -1;
    st_.ref = listA_ + kLeadMarkers;
    st_.cur = listB_ + kLeadMarkers;
    lines_ = 0;
    damaged_ = 0;
    dirty_ = true;
    // The line before the first: all white.
    std::fill(st_.ref, st_.ref + kEndMarkers, width_);
}

bool FaxMrDecoder::feed(const std::uint8_t* data, std::size_t size) {
    decode<false>(data, data + size);
    return st_.ended || st_.halted;
}

void FaxMrDecoder::finish() {
    decode<true>(nullptr, nullptr);
    // A line left unfinished (MR lines are open from their EOL on; MMR lines have none).
    const bool open = coding_ == FaxCoding::MMR || st_.lineOpen;
    if (!st_.ended && !st_.halted && open && lineHasCodes()) ++damaged_;
    st_.acc = 0;
    st_.nbits = 0;
}

bool FaxMrDecoder::lineHasCodes() const {
    switch (st_.phase) {
    case Phase::Modes: return st_.a0 >= 0;
    case Phase::Runs1D: return st_.a0 > 0 || st_.changes > 0 || st_.run > 0;
    case Phase::HFirst:
    case Phase::HSecond: return true;
    case Phase::Skip: return st_.skipped;
    default: return false;
    }
}

template <bool Final>
void FaxMrDecoder::decode(const std::uint8_t* p, const std::uint8_t* const end) {
    if (st_.ended || st_.halted) return;
    const RunTables& runs = runTables();
    const mr::ModeEntry* const modes = mr::modeTable();
    const int width = width_;
    const Phase afterLine = coding_ == FaxCoding::MR ? Phase::LineEnd : Phase::Modes;
    const auto lineBytes = std::size_t(width + 7) / 8;
    // The state of the current line in local variables, handed back to st_ around the calls
    // of the rarer steps.
    std::uint64_t acc = st_.acc;
    int nbits = st_.nbits;
    Phase phase = st_.phase;
    bool black = st_.black;
    bool zeros = st_.zeros;
    int a0 = st_.a0, a1 = st_.a1, bi = st_.bi, run = st_.run, changes = st_.changes;
    std::int32_t* ref = st_.ref;
    std::int32_t* cur = st_.cur;
    int b1 = ref[bi];  // kept in step with bi, so that finding b1 needs no load
    auto local = [&] { return std::tie(acc, nbits, phase, black, zeros, a0, a1, bi, run, changes, ref, cur); };
    auto kept = [&] {
        return std::tie(st_.acc, st_.nbits, st_.phase, st_.black, st_.zeros, st_.a0, st_.a1, st_.bi, st_.run,
                        st_.changes, st_.ref, st_.cur);
    };
    auto save = [&] { kept() = local(); };
    auto load = [&] {
        local() = kept();
        b1 = ref[bi];
    };
    auto consume = [&](int n) {
        acc >>= n;
        nbits -= n;
    };
    // Two changes at one place (a run of 0 pels) cancel out.
    auto push = [&](int pos) {
        if (changes > 0 && cur[changes - 1] == pos)
            --changes;
        else
            cur[changes++] = pos;
    };
    auto endLine = [&] {
        std::fill(cur + changes, cur + changes + kEndMarkers, width);
        if (changes == 0 && !dirty_) {
            // A white line after a white line: line_ holds it already.
            ++lines_;
            if (sink_) sink_->faxLine(line_, lineBytes);
        } else {
            deliver(cur, changes);
        }
        // The line just decoded is the reference of the next.
        std::swap(ref, cur);
        b1 = ref[0];
        st_.refValid = true;
        st_.lineOpen = false;
        st_.eolRun = 0;
        changes = 0;
        black = false;
        a0 = -1;
        bi = 0;
        run = 0;
        phase = afterLine;
    };
    for (;;) {
        if (nbits < 32) {
            if (end - p >= 8) {
                // Top up to at least 56 bits with one unaligned load.
                std::uint64_t w;
                std::memcpy(&w, p, 8);
                const int take = (63 - nbits) >> 3;
                acc |= (w << nbits) & ((std::uint64_t(1) << (nbits + take * 8)) - 1);
                nbits += take * 8;
                p += take;
            } else {
                while (nbits <= 55 && p < end) {
                    acc |= std::uint64_t(*p++) << nbits;
                    nbits += 8;
                }
                if (nbits < 32 && !Final) break;  // keep the bits for the next piece
                if (nbits == 0) break;
            }
        }
        if (phase == Phase::LineEnd && (acc & kElevenZeros) == 0 && acc != 0 && !zeros) {
            // The EOL after a complete MR line (its fill in hand): the first since that line.
            consume(__builtin_ctzll(acc) + 1);
            st_.eolRun = 1;
            phase = Phase::Tag;
            if (nbits == 0) continue;
        }
        if (phase == Phase::Tag) {
            // The bit after an EOL opens a line: 1-D, or 2-D when its reference is intact.
            const bool oneD = acc & 1;
            consume(1);
            st_.lineOpen = true;
            st_.skipped = false;
            changes = 0;
            black = false;
            a0 = oneD ? 0 : -1;
            bi = 0;
            b1 = ref[0];
            run = 0;
            phase = oneD ? Phase::Runs1D : st_.refValid ? Phase::Modes : Phase::Skip;
            if (nbits < 32) continue;  // the codes below want 32 bits in hand
        }
        // The codes of a line (with 32 bits in hand a whole code always is, except at the end
        // of the data); anything else (zeros, EOL, an error, a code cut short) is left to step().
        // After eleven zeros or more (already dropped) the next one ends an EOL, whatever
        // follows.
        if ((acc & kElevenZeros) != 0 && !zeros) {
            if (phase == Phase::Modes) {
                const mr::ModeEntry m = modes[acc & ((1u << mr::kModePeekBits) - 1)];
                if (!Final || m.length <= nbits) {
                    auto findB1 = [&] {
                        while (b1 <= a0) {
                            bi += 2;
                            b1 = ref[bi];
                        }
                    };
                    if (m.mode == mr::Mode::Vertical) {
                        findB1();
                        const int to = b1 + m.delta;
                        if (to > a0 && to <= width) {
                            consume(m.length);
                            a0 = to;
                            black = !black;
                            // The next b1 has the other colour: after V0 and VR codes the
                            // change after b1 comes first, after VL codes the one before it.
                            bi += (m.delta >> 7) | 1;
                            b1 = ref[bi];
                            if (to < width)
                                cur[changes++] = to;
                            else
                                endLine();
                            continue;
                        }
                    } else if (m.mode == mr::Mode::Pass) {
                        findB1();
                        const int b2 = ref[bi + 1];
                        if (b2 < width) {
                            consume(m.length);
                            a0 = b2;
                            bi += 2;
                            b1 = ref[bi];
                            continue;
                        }
                    } else if (m.mode == mr::Mode::Horizontal) {
                        consume(m.length);
                        if (!Final) {
                            // Two runs below 64 pels: both codes are in hand (at least 29 bits).
                            const std::uint16_t first = runCode(runs, black, acc);
                            const std::uint16_t second = runCode(runs, !black, acc >> (first & 15));
                            const int to1 = std::max(a0, 0) + (first >> 4);
                            const int to2 = to1 + (second >> 4);
                            if (first != 0 && second != 0 && (first >> 4) < 64 && (second >> 4) < 64 && to2 <= width) {
                                consume((first & 15) + (second & 15));
                                if (to1 < width) push(to1);
                                a0 = to2;
                                if (to2 < width)
                                    push(to2);
                                else
                                    endLine();
                                continue;
                            }
                        }
                        run = 0;
                        phase = Phase::HFirst;
                        continue;
                    }
                }
            } else if (phase == Phase::HFirst || phase == Phase::HSecond || phase == Phase::Runs1D) {
                const bool second = phase == Phase::HSecond;
                const std::uint16_t e = runCode(runs, second ? !black : black, acc);
                const int length = e & 15;
                const int pels = e >> 4;
                const int stop = (second ? a1 : std::max(a0, 0)) + run + pels;
                if (e != 0 && (!Final || length <= nbits) && stop <= width) {
                    consume(length);
                    if (pels >= 64) {
                        run += pels;  // a make-up code: its terminating code follows
                        continue;
                    }
                    run = 0;
                    if (phase == Phase::HFirst) {
                        a1 = stop;
                        phase = Phase::HSecond;
                        continue;
                    }
                    if (second) {
                        if (a1 < width) push(a1);
                        phase = Phase::Modes;
                    } else {
                        black = !black;
                    }
                    a0 = stop;
                    if (stop < width)
                        push(stop);
                    else
                        endLine();
                    continue;
                }
            }
        }
        save();
        const bool more = step(Final);
        load();
        if (st_.ended || st_.halted || (Final && !more)) break;
    }
    save();
}

void FaxMrDecoder::fail() {
    if (coding_ == FaxCoding::MMR) {
        ++damaged_;
        st_.halted = true;
        return;
    }
    st_.lineOpen = true;
    st_.skipped = true;
    st_.refValid = false;
    st_.phase = Phase::Skip;
}

void FaxMrDecoder::deliver(const std::int32_t* cur, int changes) {
    const int bytes = (width_ + 7) / 8;
    if (changes == 0) {
        if (dirty_) std::memset(line_, 0, std::size_t(bytes));
        dirty_ = false;
    } else {
        // Mark each change, then a pel is black where an odd number of changes lie at or
        // before it: a running XOR over the marks, 64 pels (MSB first) at a time.
        const int words = (width_ + 63) / 64;
        std::uint64_t marks[kMaxLineWidth / 64];
        std::fill(marks, marks + words, 0);
        for (int k = 0; k < changes; ++k) marks[cur[k] >> 6] |= std::uint64_t(1) << (63 - (cur[k] & 63));
        std::uint64_t carry = 0;
        for (int w = 0; w < words; ++w) {
            std::uint64_t x = marks[w];
            x ^= x >> 1;
            x ^= x >> 2;
            x ^= x >> 4;
            x ^= x >> 8;
            x ^= x >> 16;
            x ^= x >> 32;
            x ^= carry;
            carry = std::uint64_t(0) - (x & 1);
            if (w == words - 1 && width_ % 64) x &= ~std::uint64_t(0) << (64 - width_ % 64);
            x = __builtin_bswap64(x);
            std::memcpy(line_ + 8 * w, &x, 8);
        }
        dirty_ = true;
    }
    ++lines_;
    if (sink_) sink_->faxLine(line_, std::size_t(bytes));
}

void FaxMrDecoder::onEol() {
    if (coding_ == FaxCoding::MMR) {
        // Only EOFB (two EOLs) may stand between MMR lines.
        if (st_.phase != Phase::Modes || st_.a0 >= 0) {
            fail();
            return;
        }
        if (++st_.eolRun >= 2) st_.ended = true;
        return;
    }
    if (st_.phase != Phase::SeekEol) {
        if (st_.lineOpen && lineHasCodes()) {
            ++damaged_;
            st_.refValid = false;
            st_.eolRun = 0;
        }
        if (++st_.eolRun >= 3) st_.ended = true;
    }
    st_.lineOpen = false;
    st_.phase = Phase::Tag;
}

bool FaxMrDecoder::step(bool final) {
    if (st_.zeros || (st_.acc & kElevenZeros) == 0) {
        // Eleven zeros or more: fill, then the one that ends an EOL.
        if (st_.acc == 0) {
            st_.zeros = st_.zeros || st_.nbits >= 11;
            drop(st_.nbits);
            return false;
        }
        drop(__builtin_ctzll(st_.acc) + 1);
        st_.zeros = false;
        onEol();
        return true;
    }
    switch (st_.phase) {
    case Phase::Skip:
    case Phase::SeekEol:
        drop(__builtin_ctzll(st_.acc) + 1);
        if (st_.phase == Phase::Skip) st_.skipped = true;
        return true;
    case Phase::LineEnd:
        // Codes after a complete line: the line may have been decoded wrongly.
        fail();
        return true;
    default:
        // In a line: an invalid code (an extension among them: uncompressed mode is never
        // offered), a code leading outside the line, or a code cut short by the end of data.
        fail();
        if (final && !st_.halted) drop(st_.nbits);
        return !final;
    }
}

}  // namespace telvane::faximage
