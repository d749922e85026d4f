// ITU-T T.4 Modified Huffman code tables (white and black terminating codes 0..63, make-up
// codes 64..1728, the shared extended make-up codes 1792..2560, and EOL).
// Codes are kept bit-reversed so that they can be appended least significant bit first, which
// is the bit order of fax data on the line and in fax files.
#pragma once

#include <cstdint>

namespace telvane::faximage::mh {

struct Code {
    std::uint16_t bits;  // transmitted bits, first bit in bit 0
    std::uint8_t length;
};

// The 64 terminating codes of a colour, indexed by run.
const Code* terminatingTable(bool black);
// The make-up codes of a colour, indexed by run / 64 (1..40).
const Code* makeupTable(bool black);
// Terminating code of a run of 0..63 pels.
const Code& terminating(bool black, int run);
// Make-up code of a run of 64..2560 pels (a multiple of 64).
const Code& makeup(bool black, int run);

// One entry of the code list the decoder builds its tables from.
struct CodeEntry {
    bool black;
    bool white;
    int run;           // run length, or -1 for EOL
    const char* bits;  // the code as written in T.4, first transmitted bit first
};
// Every code: white and black terminating and make-up codes, extended make-up codes (listed
// for both colours) and EOL (listed for both colours). `count` receives the number of entries.
const CodeEntry* allCodes(int& count);

}  // namespace telvane::faximage::mh
