// Raw T.4 page data for the machine tests, in transmission order (least significant bit of
// each byte first), a reader of its line lengths, and a reader of the pages of a fax file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace faxtest {

// One white 1728-pel line with its EOL (fill before the EOL's one), and RTC (six EOLs).
extern const uint8_t kBlank[6];
extern const uint8_t kEnd[12];

// `lines` white lines then RTC.
std::vector<uint8_t> rawT4Page(int lines);

// A page of `lines` coded 1728-pel lines of short black and white runs (about 30 bytes a line),
// different for every `seed`, then RTC: real page data that a receiver's check reads as good,
// with DLE bytes in it.
std::vector<uint8_t> codedPage(int seed, int lines);

// The raster lines (MSB first, 1 = black) an MH page decodes to.
std::vector<std::vector<uint8_t>> mhRows(const std::vector<uint8_t>& data);

// Bits from the end of one EOL to the end of the next, for every line that holds data.
std::vector<size_t> codedLineBits(const std::vector<uint8_t>& data);

// The data of every page of a fax file as stored, and their flags when `flags` is given (no
// pages when the file cannot be read).
std::vector<std::vector<uint8_t>> readPages(const std::string& path, std::vector<uint16_t>* flags = nullptr);

}  // namespace faxtest
