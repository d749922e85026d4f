// Windows-1252 case folding, letter codes and Unicode conversion of the spell checker.
#include "compose/spell/charset.h"

#include <array>

namespace telvane::spell {

namespace {

// Unicode of the bytes 0x80..0x9F; 0 where the code page leaves the byte undefined.
constexpr std::array<char32_t, 32> kHigh = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                            0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

unsigned char foldUpper(unsigned char c) {
    if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
    if (c == 0x9A) return 0x8A;  // š
    if (c == 0x9C) return 0x8C;  // œ
    if (c == 0xFF) return 0x9F;  // ÿ
    if (c >= 0xE0 && c <= 0xFE && c != 0xF0 && c != 0xF7) return static_cast<unsigned char>(c - 32);
    return c;
}

std::string foldUpper(std::string_view word) {
    std::string out(word);
    for (char& c : out) c = static_cast<char>(foldUpper(static_cast<unsigned char>(c)));
    return out;
}

unsigned char foldLower(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
    if (c == 0x8A) return 0x9A;
    if (c == 0x8C) return 0x9C;
    if (c == 0x9F) return 0xFF;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD0 && c != 0xD7) return static_cast<unsigned char>(c + 32);
    return c;
}

bool isLowerLetter(unsigned char c) { return foldUpper(c) != c; }

bool isLetter(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
    if (c == 0x8A || c == 0x8C || c == 0x8E || c == 0x9A || c == 0x9C || c == 0x9E || c == 0x9F) return true;
    if (c == 0x83) return true;  // ƒ
    return c >= 0xC0 && c != 0xD7 && c != 0xF7;
}

unsigned char baseLetter(unsigned char c) {
    if (c >= 0xC0 && c <= 0xC5) return 'A';
    if (c == 0xC7) return 'C';
    if (c >= 0xC8 && c <= 0xCB) return 'E';
    if (c >= 0xCC && c <= 0xCF) return 'I';
    if (c == 0xD1) return 'N';
    if ((c >= 0xD2 && c <= 0xD6) || c == 0xD8) return 'O';
    if (c >= 0xD9 && c <= 0xDC) return 'U';
    if (c == 0xDD || c == 0x9F) return 'Y';
    if (c == 0x8A) return 'S';
    return c;
}

uint8_t letterCode(unsigned char c) {
    c = foldUpper(c);
    if (c >= 'A' && c <= 'Z') return static_cast<uint8_t>(c - 'A');
    switch (c) {
    case '\'': return 26;
    case '-': return 27;
    case 0x8A: return 28;
    case 0x8C: return 29;
    case 0x9F: return 30;
    case 0xF0: return 62;
    case '`': return 63;
    default: break;
    }
    if (c >= 0xC0 && c <= 0xD6) return static_cast<uint8_t>(31 + (c - 0xC0));
    if (c >= 0xD8 && c <= 0xDF) return static_cast<uint8_t>(54 + (c - 0xD8));
    return 0;
}

unsigned char codeLetter(uint8_t code) {
    code &= 0x3F;
    if (code <= 25) return static_cast<unsigned char>('A' + code);
    switch (code) {
    case 26: return '\'';
    case 27: return '-';
    case 28: return 0x8A;
    case 29: return 0x8C;
    case 30: return 0x9F;
    case 62: return 0xF0;
    case 63: return '`';
    default: break;
    }
    if (code <= 53) return static_cast<unsigned char>(0xC0 + (code - 31));
    return static_cast<unsigned char>(0xD8 + (code - 54));
}

bool hasOwnCode(unsigned char c) { return codeLetter(letterCode(c)) == foldUpper(c); }

bool inAlphabet(std::string_view word) {
    for (char c : word) {
        if (!hasOwnCode(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

std::optional<unsigned char> fromUnicode(char32_t cp) {
    if (cp == 0x2019) return static_cast<unsigned char>('\'');
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<unsigned char>(cp);
    for (size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] != 0 && kHigh[i] == cp) return static_cast<unsigned char>(0x80 + i);
    }
    return std::nullopt;
}

char32_t toUnicode(unsigned char c) {
    if (c >= 0x80 && c <= 0x9F) {
        const char32_t u = kHigh[c - 0x80];
        return u != 0 ? u : c;
    }
    return c;
}

std::u32string decodeUtf8(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        int extra = 0;
        char32_t cp = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1, cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, cp = b & 0x07;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        if (i + static_cast<size_t>(extra) >= s.size()) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            const auto cb = static_cast<unsigned char>(s[i + k]);
            if ((cb & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (cb & 0x3F);
        }
        static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (!ok || cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

std::string encodeUtf8(std::u32string_view text) {
    std::string out;
    for (char32_t cp : text) {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::optional<std::string> fromUtf8(std::string_view utf8) {
    std::string out;
    for (char32_t cp : decodeUtf8(utf8)) {
        const auto c = fromUnicode(cp);
        if (!c) return std::nullopt;
        out.push_back(static_cast<char>(*c));
    }
    return out;
}

std::string toUtf8(std::string_view cp1252) {
    std::u32string text;
    for (char c : cp1252) text.push_back(toUnicode(static_cast<unsigned char>(c)));
    return encodeUtf8(text);
}

}  // namespace telvane::spell
