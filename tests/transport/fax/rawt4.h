// Raw T.4 page data for the machine tests, in transmission order (least significant bit of
// each byte first), and a reader of its line lengths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace faxtest {

// One white 1728-pel line with its EOL (fill before the EOL's one), and RTC (six EOLs).
extern const uint8_t kBlank[6];
extern const uint8_t kEnd[12];

// `lines` white lines then RTC.
std::vector<uint8_t> RawT4Page(int lines);

// A page of `lines` coded 1728-pel lines of short black and white runs (about 30 bytes a line),
// different for every `seed`, then RTC: real page data that a receiver's check reads as good,
// with DLE bytes in it.
std::vector<uint8_t> CodedPage(int seed, int lines);

// Bits from the end of one EOL to the end of the next, for every line that holds data.
std::vector<size_t> CodedLineBits(const std::vector<uint8_t>& data);

}  // namespace faxtest
