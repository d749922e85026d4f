// 2-D mode codes, written as in T.4 Table 4 and bit-reversed once, and the changing-element
// scan (64 pels at a time: a pel is a change where it differs from its left neighbour).
#include "faximage/mrcodes.h"

#include <cstring>

namespace telvane::faximage {

const char* codingName(FaxCoding coding) {
    switch (coding) {
    case FaxCoding::MH: return "MH";
    case FaxCoding::MR: return "MR";
    case FaxCoding::MMR: return "MMR";
    }
    return "?";
}

namespace mr {

namespace {

struct Written {
    const char* bits;  // as in the standard, first transmitted bit first
    Mode mode;
    int delta;
};

const Written kModes[] = {
    {"0001", Mode::Pass, 0},         {"001", Mode::Horizontal, 0},  {"0000010", Mode::Vertical, -3},
    {"000010", Mode::Vertical, -2},  {"010", Mode::Vertical, -1},   {"1", Mode::Vertical, 0},
    {"011", Mode::Vertical, 1},      {"000011", Mode::Vertical, 2}, {"0000011", Mode::Vertical, 3},
    {"0000001", Mode::Extension, 0},
};

ModeCode reversed(const char* bits) {
    ModeCode c{0, 0};
    for (const char* p = bits; *p; ++p, ++c.length)
        if (*p == '1') c.bits = std::uint8_t(c.bits | (1u << c.length));
    return c;
}

struct Tables {
    ModeCode pass, horizontal, vertical[7];
    ModeEntry at[1 << kModePeekBits];
    Tables() {
        for (ModeEntry& e : at) e = {Mode::Zeros, kModePeekBits, 0};
        for (const Written& w : kModes) {
            const ModeCode c = reversed(w.bits);
            if (w.mode == Mode::Pass) pass = c;
            if (w.mode == Mode::Horizontal) horizontal = c;
            if (w.mode == Mode::Vertical) vertical[w.delta + 3] = c;
            for (std::uint32_t rest = 0; rest < (1u << (kModePeekBits - c.length)); ++rest)
                at[c.bits | (rest << c.length)] = {w.mode, c.length, std::int8_t(w.delta)};
        }
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

}  // namespace

const ModeCode& passCode() { return tables().pass; }
const ModeCode& horizontalCode() { return tables().horizontal; }
const ModeCode& verticalCode(int delta) { return tables().vertical[delta + 3]; }
const ModeEntry* modeTable() { return tables().at; }

int changingElements(const std::uint8_t* row, int width, std::int32_t* out) {
    int n = 0;
    std::uint64_t before = 0;  // the pel left of the current word, in bit 63
    const int words = width / 64;
    auto collect = [&](std::uint64_t pels, std::uint64_t valid, int base) {
        std::uint64_t changes = (pels ^ ((pels >> 1) | before)) & valid;
        before = pels << 63;
        while (changes) {
            const int k = __builtin_clzll(changes);
            out[n++] = base + k;
            changes ^= std::uint64_t(1) << (63 - k);
        }
    };
    for (int w = 0; w < words; ++w) {
        std::uint64_t pels;
        std::memcpy(&pels, row + 8 * w, 8);
        pels = __builtin_bswap64(pels);
        if (pels == 0 && before == 0) continue;
        collect(pels, ~std::uint64_t(0), 64 * w);
    }
    const int rest = width - 64 * words;
    if (rest > 0) {
        std::uint64_t pels = 0;
        for (int b = 0; b < (rest + 7) / 8; ++b) pels |= std::uint64_t(row[8 * words + b]) << (56 - 8 * b);
        const std::uint64_t valid = ~std::uint64_t(0) << (64 - rest);
        collect(pels & valid, valid, 64 * words);
    }
    for (int k = 0; k < kEndMarkers; ++k) out[n + k] = width;
    return n;
}

}  // namespace mr

}  // namespace telvane::faximage
