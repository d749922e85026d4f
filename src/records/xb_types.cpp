// Dates (Gregorian, Julian day numbers as the CDX encodes them) and Windows-1252 text helpers.
#include "records/xb_types.h"

#include <array>
#include <cctype>
#include <ctime>

namespace telvane::records {

namespace {

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

// Unicode code points of bytes 0x80-0x9F in Windows-1252 (undefined bytes map to themselves).
constexpr std::array<char32_t, 32> kHigh = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                            0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

}  // namespace

bool Date::isValid() const {
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(year, month);
}

std::string Date::dtos() const {
    if (!isValid()) return std::string(8, ' ');
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", year, month, day);
    return buf;
}

Date Date::fromDtos(std::string_view s) {
    if (s.size() != 8) return {};
    int v[3] = {0, 0, 0};
    const int len[3] = {4, 2, 2};
    size_t p = 0;
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < len[i]; ++k, ++p) {
            if (!std::isdigit(static_cast<unsigned char>(s[p]))) return {};
            v[i] = v[i] * 10 + (s[p] - '0');
        }
    }
    Date d{v[0], v[1], v[2]};
    return d.isValid() ? d : Date{};
}

Date Date::fromMdy(std::string_view s) {
    int v[3] = {0, 0, 0};
    int part = 0;
    int digits = 0;
    for (char c : s) {
        if (std::isdigit(static_cast<unsigned char>(c))) {
            if (++digits > 4) return {};
            v[part] = v[part] * 10 + (c - '0');
        } else if ((c == '/' || c == '-' || c == '.') && digits > 0 && part < 2) {
            ++part;
            digits = 0;
        } else if (c == ' ' && digits == 0 && part == 0) {
            continue;
        } else {
            return {};
        }
    }
    if (part != 2 || digits == 0) return {};
    int year = v[2];
    if (digits <= 2) year += year < 50 ? 2000 : 1900;
    Date d{year, v[0], v[1]};
    return d.isValid() ? d : Date{};
}

int64_t Date::julianDay() const {
    if (!isValid()) return 0;
    const int64_t a = (14 - month) / 12;
    const int64_t y = year + 4800 - a;
    const int64_t m = month + 12 * a - 3;
    return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

Date Date::fromJulianDay(int64_t jdn) {
    if (jdn <= 0) return {};
    const int64_t a = jdn + 32044;
    const int64_t b = (4 * a + 3) / 146097;
    const int64_t c = a - 146097 * b / 4;
    const int64_t d = (4 * c + 3) / 1461;
    const int64_t e = c - 1461 * d / 4;
    const int64_t m = (5 * e + 2) / 153;
    Date r{int(100 * b + d - 4800 + m / 10), int(m + 3 - 12 * (m / 10)), int(e - (153 * m + 2) / 5 + 1)};
    return r.isValid() ? r : Date{};
}

Date Date::today() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return Date{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

std::string cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c < 0x80)
            out += char(c);
        else if (c < 0xA0)
            appendUtf8(out, kHigh[c - 0x80]);
        else
            appendUtf8(out, c);
    }
    return out;
}

std::string utf8ToCp1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = utf8[i];
        char32_t cp = 0;
        size_t n = 0;
        if (c < 0x80) {
            cp = c;
            n = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            n = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            n = 3;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            n = 4;
        } else {
            out += '?';
            ++i;
            continue;
        }
        if (i + n > utf8.size()) {
            out += '?';
            break;
        }
        bool ok = true;
        for (size_t k = 1; k < n; ++k) {
            const unsigned char cc = utf8[i + k];
            if ((cc & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        i += n;
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            out += char(cp);
            continue;
        }
        char mapped = '?';
        for (size_t k = 0; k < kHigh.size(); ++k) {
            if (kHigh[k] == cp) {
                mapped = char(0x80 + k);
                break;
            }
        }
        out += mapped;
    }
    return out;
}

std::string upperCp1252(std::string_view bytes) {
    std::string out(bytes);
    for (char& ch : out) {
        const unsigned char c = ch;
        if (c >= 'a' && c <= 'z')
            ch = char(c - 32);
        else if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
            ch = char(c - 32);
        else if (c == 0x9A || c == 0x9C || c == 0x9E)
            ch = char(c - 16);
        else if (c == 0xFF)
            ch = char(0x9F);
    }
    return out;
}

std::string lowerCp1252(std::string_view bytes) {
    std::string out(bytes);
    for (char& ch : out) {
        const unsigned char c = ch;
        if (c >= 'A' && c <= 'Z')
            ch = char(c + 32);
        else if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
            ch = char(c + 32);
        else if (c == 0x8A || c == 0x8C || c == 0x8E)
            ch = char(c + 16);
        else if (c == 0x9F)
            ch = char(0xFF);
    }
    return out;
}

}  // namespace telvane::records
