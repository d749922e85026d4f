// RTF tokenizer: splits RTF bytes into group braces, control words with their parameters, control
// symbols, hex-escaped bytes and plain text. It never reads past the input and never fails: a
// truncated escape ends the input, parameters are clamped to +/-1,000,000,000, over-long control
// words are cut to 32 letters. CR and LF outside escapes are dropped, as RTF requires.
#pragma once

#include <cstdint>
#include <string_view>

namespace telvane::rtf {

struct Token {
    enum Kind { End, GroupStart, GroupEnd, ControlWord, ControlSymbol, HexByte, Text };
    Kind kind = End;
    std::string_view word;  // ControlWord: the letters; Text: the text
    bool hasParam = false;
    int32_t param = 0;
    char symbol = 0;   // ControlSymbol
    uint8_t byte = 0;  // HexByte
};

class Tokenizer {
public:
    explicit Tokenizer(std::string_view input) : in_(input) {}
    Token next();
    // Skips up to count raw bytes (the data of \binN).
    void skipBytes(int64_t count);
    size_t position() const { return pos_; }

private:
    Token controlAfterBackslash();
    std::string_view in_;
    size_t pos_ = 0;
};

}  // namespace telvane::rtf
