// RTF tokenizer (see rtftokenizer.h for its guarantees).
#include "compose/rtf/rtftokenizer.h"

#include <algorithm>

namespace telvane::rtf {
namespace {

constexpr int64_t kParamLimit = 1000000000;
constexpr size_t kMaxWordLength = 32;

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

Token Tokenizer::next() {
    Token t;
    while (pos_ < in_.size()) {
        const char c = in_[pos_];
        if (c == '{') {
            ++pos_;
            t.kind = Token::GroupStart;
            return t;
        }
        if (c == '}') {
            ++pos_;
            t.kind = Token::GroupEnd;
            return t;
        }
        if (c == '\\') {
            ++pos_;
            return controlAfterBackslash();
        }
        if (c == '\r' || c == '\n' || c == '\0') {
            ++pos_;
            continue;
        }
        const size_t start = pos_;
        while (pos_ < in_.size()) {
            const char d = in_[pos_];
            if (d == '{' || d == '}' || d == '\\' || d == '\r' || d == '\n' || d == '\0') break;
            ++pos_;
        }
        t.kind = Token::Text;
        t.word = in_.substr(start, pos_ - start);
        return t;
    }
    return t;
}

Token Tokenizer::controlAfterBackslash() {
    Token t;
    if (pos_ >= in_.size()) return t;
    const char c = in_[pos_];
    if (!isLetter(c)) {
        ++pos_;
        if (c == '\'') {
            if (pos_ + 2 > in_.size()) {
                pos_ = in_.size();
                return t;
            }
            const int hi = hexValue(in_[pos_]);
            const int lo = hexValue(in_[pos_ + 1]);
            pos_ += 2;
            if (hi < 0 || lo < 0) return next();
            t.kind = Token::HexByte;
            t.byte = static_cast<uint8_t>(hi * 16 + lo);
            return t;
        }
        // A backslash before CR or LF is the same as \par.
        if (c == '\r' || c == '\n') {
            t.kind = Token::ControlWord;
            t.word = "par";
            return t;
        }
        t.kind = Token::ControlSymbol;
        t.symbol = c;
        return t;
    }
    const size_t start = pos_;
    while (pos_ < in_.size() && isLetter(in_[pos_])) ++pos_;
    t.kind = Token::ControlWord;
    t.word = in_.substr(start, std::min(pos_ - start, kMaxWordLength));
    bool negative = false;
    if (pos_ < in_.size() && in_[pos_] == '-' && pos_ + 1 < in_.size() && isDigit(in_[pos_ + 1])) {
        negative = true;
        ++pos_;
    }
    if (pos_ < in_.size() && isDigit(in_[pos_])) {
        int64_t value = 0;
        while (pos_ < in_.size() && isDigit(in_[pos_])) {
            if (value <= kParamLimit) value = value * 10 + (in_[pos_] - '0');
            ++pos_;
        }
        if (value > kParamLimit) value = kParamLimit;
        t.hasParam = true;
        t.param = static_cast<int32_t>(negative ? -value : value);
    }
    if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;
    return t;
}

void Tokenizer::skipBytes(int64_t count) {
    if (count <= 0) return;
    const size_t left = in_.size() - pos_;
    pos_ += static_cast<size_t>(count) < left ? static_cast<size_t>(count) : left;
}

}  // namespace telvane::rtf
