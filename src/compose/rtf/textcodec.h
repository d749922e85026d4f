// Character helpers of the RTF layer: Windows-1252 to and from Unicode, and UTF-8 encoding and decoding.
// Decoding never fails: bytes that are not valid UTF-8 come back as U+FFFD, one per bad byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace telvane::rtf {

// The Unicode code point of a Windows-1252 byte (the five unassigned bytes map to themselves, as
// Windows does).
char32_t cp1252ToUnicode(uint8_t byte);

// The Windows-1252 byte for a code point, or -1 when the code page has none.
int unicodeToCp1252(char32_t cp);

void appendUtf8(std::string& out, char32_t cp);

// Decodes the code point at pos and advances pos past it.
char32_t nextUtf8(std::string_view text, size_t& pos);

}  // namespace telvane::rtf
