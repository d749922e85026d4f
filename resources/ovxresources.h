// The resources the program carries: the built-in fax bitmap font and the engine's string table
// of error and progress texts, both generated at build time and compiled in.
// Guarantees: lookups never fail; a code without a table entry falls back to the operating
// system's message for that number (or an empty text), never to garbage.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace telvane {

// The 16384-byte fax font: 256 small glyphs (8 rows x 2 bytes, 12 pels) then 256 large glyphs
// (16 rows x 3 bytes, 20 pels); rows MSB first, 1 = black, indexed by Windows-1252 code.
std::span<const std::uint8_t> FaxFontResource();
constexpr std::size_t kFaxFontSize = 16384;
constexpr std::size_t kFaxFontLargeOffset = 4096;

// The "STR0" string table (entries sorted by id, UTF-16LE texts).
std::span<const std::uint8_t> ErrorStringResource();

// Table text of |code| (UTF-8) or, when missing, the system's message for a positive errno-like
// number with control characters blanked; empty when neither exists. Cut to 255 characters.
std::string OvxErrorText(int code);

// Text of a progress code 4801..4843, cut to 80 characters; empty for any other code.
std::string OvxStatusText(int code);

// Maps an errno value from a file operation to the engine's negative run-time I/O code
// (-2 file not found, -3 path not found, -5 access denied, -8 no memory, -101 disk full,
// -160 device write error, -161 device read error); other numbers are returned negated.
int OvxIoError(int errnum, bool writing);

// The engine's exception: an error code and its text.
class EOvxException : public std::runtime_error {
public:
    explicit EOvxException(int code) : std::runtime_error(OvxErrorText(code)), code_(code) {}
    EOvxException(int code, const std::string& text) : std::runtime_error(text), code_(code) {}
    int ErrorCode() const { return code_; }

private:
    int code_;
};

}  // namespace telvane
