// ITU-T T.4 two-dimensional coding (MR, T.4 clause 4.2) and T.6 (MMR): the codings a fax page
// may have, the K factor, the mode codes of T.4 Table 4 / T.6 Table 1, and the changing
// elements of a raster line, shared by the 2-D coder and decoder. Run lengths in horizontal
// mode and in the 1-D lines of MR use the MH tables of mhcodes.h.
// Codes are kept bit-reversed, first transmitted bit in bit 0, as the MH tables are.
// Guarantees: changingElements() reads only the line's (width + 7) / 8 bytes and ignores pad
// bits beyond the width.
#pragma once

#include <cstdint>

namespace telvane::faximage {

// The coding of a page's data.
enum class FaxCoding { MH, MR, MMR };
const char* codingName(FaxCoding coding);

// T.4 clause 4.2.1: at most K - 1 two-dimensional lines follow each one-dimensional line;
// K is 2 at standard and 4 at fine resolution.
inline int kFactor(bool fine) { return fine ? 4 : 2; }

// Widest line the 2-D coder and decoder take (T.4's widest, 4864 pels at 400 dpi, is not a
// fax file width; 4096 leaves room for every width the fax file knows).
constexpr int kMaxLineWidth = 4096;
// A changing-element list is kept with two entries of -1 in front of it, so that stepping back
// from b1 to the change before it never leaves the list, and kEndMarkers entries equal to the
// width behind its changes, enough for b1 and b2 to be found past the last change (they then lie
// on the imaginary element just after the line).
constexpr int kLeadMarkers = 2;
constexpr int kEndMarkers = 4;
// Entries of the array holding a list: one change per pel at most, plus the markers.
constexpr int kChangeListSize = kLeadMarkers + kMaxLineWidth + kEndMarkers;

namespace mr {

enum class Mode : std::uint8_t { Pass, Horizontal, Vertical, Extension, Zeros };

struct ModeCode {
    std::uint8_t bits;  // transmitted bits, first bit in bit 0
    std::uint8_t length;
};

// Pass (0001), horizontal (001) and vertical codes by a1 - b1 + 3: VL3 (0000010), VL2
// (000010), VL1 (010), V0 (1), VR1 (011), VR2 (000011), VR3 (0000011).
const ModeCode& passCode();
const ModeCode& horizontalCode();
const ModeCode& verticalCode(int delta);

// What the next 7 bits of 2-D data start with: a mode and its code length; for Vertical the
// offset a1 - b1. Seven zeros (EOL, EOFB or fill) give Zeros; 0000001 (the extensions,
// uncompressed mode among them) gives Extension.
struct ModeEntry {
    Mode mode;
    std::uint8_t length;
    std::int8_t delta;
};
constexpr int kModePeekBits = 7;
// The entries for every value of the next 7 bits (first bit in bit 0).
const ModeEntry* modeTable();

// The positions of the pels of `row` (MSB first, 1 = black) whose colour differs from the pel
// before them (the pel before the first one counts as white), followed by kEndMarkers entries
// equal to `width`. `out` must have room for kMaxLineWidth + kEndMarkers entries. Returns the
// number of changes.
int changingElements(const std::uint8_t* row, int width, std::int32_t* out);

}  // namespace mr

}  // namespace telvane::faximage
