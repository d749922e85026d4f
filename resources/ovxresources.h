// The resources the program carries: the built-in fax bitmap font and the string table of error
// and progress texts (looked up through errors/errors.h), both generated at build time and
// compiled in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace telvane {

// The 16384-byte fax font: 256 small glyphs (8 rows x 2 bytes, 12 pels) then 256 large glyphs
// (16 rows x 3 bytes, 20 pels); rows MSB first, 1 = black, indexed by Windows-1252 code.
std::span<const std::uint8_t> faxFontResource();
constexpr std::size_t kFaxFontSize = 16384;
constexpr std::size_t kFaxFontLargeOffset = 4096;

// The "STR0" string table (entries sorted by id, UTF-16LE texts).
std::span<const std::uint8_t> errorStringResource();

}  // namespace telvane
