// The dial-number rule (see dialnumber.h).
#include "settings/dialnumber.h"

namespace telvane::settings {

namespace {

char32_t upper(char32_t c) { return c >= U'a' && c <= U'z' ? c - U'a' + U'A' : c; }

}  // namespace

bool isDialableCharacter(char32_t c) {
    if (c >= U'0' && c <= U'9') return true;
    switch (upper(c)) {
    case U',':
    case U'W':
    case U'P':
    case U'T':
    case U'!':
    case U'@':
    case U'*':
    case U'#': return true;
    default: return false;
    }
}

bool isReadabilityMark(char32_t c) {
    return c == U' ' || c == U'\t' || c == U'+' || c == U'-' || c == U'(' || c == U')' || c == U'.';
}

bool isFaxNumberWellFormed(std::string_view number) {
    // Bytes of a UTF-8 sequence are 0x80 and above: neither dialable nor marks.
    for (const char c : number) {
        const auto u = static_cast<char32_t>(static_cast<unsigned char>(c));
        if (!isDialableCharacter(u) && !isReadabilityMark(u)) return false;
    }
    return true;
}

std::string dialableNumber(std::string_view number) {
    std::string out;
    for (const char c : number) {
        const auto u = static_cast<char32_t>(static_cast<unsigned char>(c));
        if (isDialableCharacter(u)) out += static_cast<char>(upper(u));
    }
    return out;
}

}  // namespace telvane::settings
