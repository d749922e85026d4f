// Windows-1252 characters as the spell checker sees them: case folding, the 6-bit letter codes of
// the dictionary files, and the conversion from and to Unicode text.
// Every function here is total: any byte has a folded form and a letter code (0 for characters
// outside the alphabet), and any code 0..63 has a character.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace telvane::spell {

// Upper case: a-z, š œ ÿ, and à-þ (code - 32) except ð and ÷; everything else unchanged.
unsigned char foldUpper(unsigned char c);
std::string foldUpper(std::string_view word);

// Lower case, the inverse of FoldUpper on the letters it changes (Ð and × stay).
unsigned char foldLower(unsigned char c);

// A letter that FoldUpper changes.
bool isLowerLetter(unsigned char c);
// An alphabetic character of the code page (either case).
bool isLetter(unsigned char c);

// Letter code 0..63 of a character: A-Z 0-25, apostrophe 26, hyphen 27, Š Œ Ÿ 28-30, À-Ö 31-53,
// Ø-ß 54-61, ð 62, grave accent 63; lower-case letters share their upper-case code; any other
// character has code 0.
uint8_t letterCode(unsigned char c);
// The upper-case character of a letter code (only the low 6 bits are used).
unsigned char codeLetter(uint8_t code);
// True when the character is in the alphabet, i.e. its code names it and not just 'A' by default.
bool hasOwnCode(unsigned char c);
// True when every character of the word has a letter code of its own; only such words can be held
// by a dictionary (the others would be looked up with stand-in codes).
bool inAlphabet(std::string_view word);

// The unaccented letter of an upper-case accented letter (À-Å A, Ç C, È-Ë E, Ì-Ï I, Ñ N, Ò-Ö and
// Ø O, Ù-Ü U, Ý and Ÿ Y, Š S); any other character is its own.
unsigned char baseLetter(unsigned char c);

// Unicode code point to Windows-1252; the right single quotation mark becomes the apostrophe, as
// the editors treat both alike. Empty when the code page has no such character.
std::optional<unsigned char> fromUnicode(char32_t cp);
char32_t toUnicode(unsigned char c);

// UTF-8 text to Windows-1252; empty when any character has no Windows-1252 form (or the UTF-8
// is malformed).
std::optional<std::string> fromUtf8(std::string_view utf8);
std::string toUtf8(std::string_view cp1252);
// Decodes UTF-8 into code points; malformed bytes become U+FFFD.
std::u32string decodeUtf8(std::string_view utf8);
std::string encodeUtf8(std::u32string_view text);

}  // namespace telvane::spell
