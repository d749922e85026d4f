// Build-time generator of the program's resources.
//   mkresources font SMALL.psf[.gz] LARGE.psf[.gz] OUT.cpp
//     builds the 16384-byte fax font: 256 glyphs 12x8 (2 bytes a row) from an 8-row PSF font,
//     then 256 glyphs 20x16 (3 bytes a row) from a 16-row PSF font, indexed by Windows-1252 code.
//   mkresources strings LIST.txt OUT.cpp
//     builds the "STR0" string table: "STR0", entry count, (id, offset, UTF-16 length) per entry
//     sorted by id, then the UTF-16LE texts; all integers little-endian.
// Output is a C++ source defining one byte array; any input problem fails the build with a message.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes readMaybeGzip(const std::string& path) {
    gzFile f = gzopen(path.c_str(), "rb");
    if (!f) throw std::runtime_error("cannot open " + path);
    Bytes out;
    std::uint8_t buf[65536];
    int n;
    while ((n = gzread(f, buf, sizeof buf)) > 0) out.insert(out.end(), buf, buf + n);
    gzclose(f);
    if (n < 0) throw std::runtime_error("cannot read " + path);
    return out;
}

struct PsfFont {
    int width = 0, height = 0, glyphs = 0, bytesPerRow = 0, charSize = 0;
    const std::uint8_t* bitmaps = nullptr;
    std::map<std::uint32_t, int> glyphOf;  // Unicode code point -> glyph index
    Bytes data;

    bool pel(int glyph, int x, int y) const {
        const std::uint8_t* row = bitmaps + glyph * charSize + y * bytesPerRow;
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
    }
};

std::uint32_t le32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}

PsfFont loadPsf(const std::string& path) {
    PsfFont f;
    f.data = readMaybeGzip(path);
    const Bytes& d = f.data;
    std::size_t tableAt = 0;
    bool hasTable = false, psf2 = false;
    if (d.size() >= 4 && d[0] == 0x36 && d[1] == 0x04) {
        f.glyphs = (d[2] & 1) ? 512 : 256;
        hasTable = (d[2] & 6) != 0;
        f.width = 8;
        f.height = d[3];
        f.bytesPerRow = 1;
        f.charSize = f.height;
        f.bitmaps = d.data() + 4;
        tableAt = 4 + std::size_t(f.glyphs) * f.charSize;
    } else if (d.size() >= 32 && le32(d, 0) == 0x864ab572) {
        psf2 = true;
        std::uint32_t headerSize = le32(d, 8);
        hasTable = le32(d, 12) & 1;
        f.glyphs = int(le32(d, 16));
        f.charSize = int(le32(d, 20));
        f.height = int(le32(d, 24));
        f.width = int(le32(d, 28));
        f.bytesPerRow = (f.width + 7) / 8;
        f.bitmaps = d.data() + headerSize;
        tableAt = headerSize + std::size_t(f.glyphs) * f.charSize;
    } else {
        throw std::runtime_error(path + " is not a PSF font");
    }
    if (tableAt > d.size() || f.glyphs <= 0) throw std::runtime_error(path + " is truncated");
    if (!hasTable) {
        for (int g = 0; g < f.glyphs && g < 256; ++g) f.glyphOf[g] = g;
        return f;
    }
    std::size_t p = tableAt;
    for (int g = 0; g < f.glyphs && p < d.size(); ++g) {
        bool inSequence = false;
        if (!psf2) {
            while (p + 1 < d.size()) {
                std::uint32_t u = d[p] | (d[p + 1] << 8);
                p += 2;
                if (u == 0xFFFF) break;
                if (u == 0xFFFE)
                    inSequence = true;
                else if (!inSequence)
                    f.glyphOf.emplace(u, g);
            }
        } else {
            while (p < d.size()) {
                std::uint8_t c = d[p];
                if (c == 0xFF) {
                    ++p;
                    break;
                }
                if (c == 0xFE) {
                    inSequence = true;
                    ++p;
                    continue;
                }
                int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
                std::uint32_t u = extra == 0 ? c : (c & (0x3F >> extra));
                ++p;
                for (int i = 0; i < extra && p < d.size(); ++i, ++p) u = (u << 6) | (d[p] & 0x3F);
                if (!inSequence) f.glyphOf.emplace(u, g);
            }
        }
    }
    return f;
}

// Unicode code point of a Windows-1252 character; 0 for control codes (drawn blank).
std::uint32_t cp1252ToUnicode(int c) {
    static const std::uint16_t high[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                           0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                           0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                           0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    if (c < 0x20 || c == 0x7F) return 0;
    if (c >= 0x80 && c < 0xA0) return high[c - 0x80];
    return std::uint32_t(c);
}

// Scales one glyph of `src` horizontally to `outWidth` pels and stores its rows MSB first.
void putGlyph(const PsfFont& src, int code, int rows, int outWidth, int bytesPerRow, std::uint8_t* out) {
    std::uint32_t u = cp1252ToUnicode(code);
    if (u == 0) return;
    auto it = src.glyphOf.find(u);
    if (it == src.glyphOf.end()) it = src.glyphOf.find('?');
    if (it == src.glyphOf.end()) return;
    for (int y = 0; y < rows && y < src.height; ++y) {
        for (int x = 0; x < outWidth; ++x) {
            int sx = x * src.width / outWidth;
            if (src.pel(it->second, sx, y)) out[y * bytesPerRow + (x >> 3)] |= std::uint8_t(0x80 >> (x & 7));
        }
    }
}

Bytes buildFont(const std::string& smallPath, const std::string& largePath) {
    PsfFont small = loadPsf(smallPath), large = loadPsf(largePath);
    if (small.height != 8) throw std::runtime_error(smallPath + ": the small font must have 8 rows");
    if (large.height != 16) throw std::runtime_error(largePath + ": the large font must have 16 rows");
    Bytes out(16384, 0);
    for (int c = 0; c < 256; ++c) {
        putGlyph(small, c, 8, 12, 2, out.data() + c * 16);
        putGlyph(large, c, 16, 20, 3, out.data() + 4096 + c * 48);
    }
    return out;
}

void appendUtf16(std::vector<std::uint16_t>& out, const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = s[i];
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        std::uint32_t u = extra == 0 ? c : (c & (0x3F >> extra));
        ++i;
        for (int k = 0; k < extra && i < s.size(); ++k, ++i) u = (u << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
        if (u >= 0x10000) {
            u -= 0x10000;
            out.push_back(std::uint16_t(0xD800 + (u >> 10)));
            out.push_back(std::uint16_t(0xDC00 + (u & 0x3FF)));
        } else {
            out.push_back(std::uint16_t(u));
        }
    }
}

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
}

Bytes buildStrings(const std::string& listPath) {
    std::ifstream in(listPath);
    if (!in) throw std::runtime_error("cannot open " + listPath);
    std::map<std::uint32_t, std::string> entries;
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (line.empty() || line[0] == '#') continue;
        std::size_t tab = line.find('\t');
        if (tab == std::string::npos || tab == 0)
            throw std::runtime_error(listPath + ":" + std::to_string(lineNo) + ": expected CODE<TAB>TEXT");
        std::uint32_t id = std::stoul(line.substr(0, tab));
        if (!entries.emplace(id, line.substr(tab + 1)).second)
            throw std::runtime_error(listPath + ":" + std::to_string(lineNo) + ": duplicate code");
    }
    std::size_t textAt = 8 + 12 * entries.size();
    Bytes out(textAt, 0);
    out[0] = 'S', out[1] = 'T', out[2] = 'R', out[3] = '0';
    put32(out, 4, std::uint32_t(entries.size()));
    std::size_t slot = 8;
    for (const auto& [id, text] : entries) {
        std::vector<std::uint16_t> u16;
        appendUtf16(u16, text);
        put32(out, slot, id);
        put32(out, slot + 4, std::uint32_t(out.size()));
        put32(out, slot + 8, std::uint32_t(u16.size()));
        slot += 12;
        for (std::uint16_t w : u16) {
            out.push_back(std::uint8_t(w));
            out.push_back(std::uint8_t(w >> 8));
        }
    }
    return out;
}

void writeArray(const std::string& path, const std::string& name, const Bytes& b) {
    std::ostringstream s;
    s << "// Generated by mkresources; do not edit.\n#include <cstddef>\n\n"
      << "extern const unsigned char " << name << "[];\nextern const std::size_t " << name << "Size;\n"
      << "const unsigned char " << name << "[] = {";
    for (std::size_t i = 0; i < b.size(); ++i) s << (i % 16 == 0 ? "\n  " : " ") << int(b[i]) << ",";
    s << "\n};\nconst std::size_t " << name << "Size = " << b.size() << ";\n";
    std::ofstream out(path, std::ios::trunc);
    out << s.str();
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::string what = argc > 1 ? argv[1] : "";
        if (what == "font" && argc == 5) {
            writeArray(argv[4], "kTelvaneFaxFont", buildFont(argv[2], argv[3]));
        } else if (what == "strings" && argc == 4) {
            writeArray(argv[3], "kTelvaneErrorStrings", buildStrings(argv[2]));
        } else {
            std::fprintf(stderr, "usage: mkresources font SMALL.psf LARGE.psf OUT.cpp | strings LIST.txt OUT.cpp\n");
            return 2;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mkresources: %s\n", e.what());
        return 1;
    }
    return 0;
}
