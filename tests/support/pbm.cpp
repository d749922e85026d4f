// Raw PBM (P4) images (see pbm.h).
#include "support/pbm.h"

#include "support/tempdir.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace telvane::test {

namespace {

// Reads the P4 header of `bytes`; `data` gets the offset of the first raster byte.
bool parseHeader(const std::string& bytes, int& width, int& height, std::size_t& data) {
    std::size_t pos = 0;
    auto token = [&] {
        while (pos < bytes.size() && (bytes[pos] == '#' || std::isspace(static_cast<unsigned char>(bytes[pos])))) {
            if (bytes[pos] == '#')
                while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
            else
                ++pos;
        }
        std::string t;
        while (pos < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[pos])) && bytes[pos] != '#')
            t += bytes[pos++];
        return t;
    };
    if (bytes.compare(0, 2, "P4") != 0) return false;
    pos = 2;
    const std::string w = token(), h = token();
    if (w.empty() || h.empty() || w.find_first_not_of("0123456789") != std::string::npos ||
        h.find_first_not_of("0123456789") != std::string::npos || w.size() > 6 || h.size() > 6)
        return false;
    width = std::stoi(w);
    height = std::stoi(h);
    if (width <= 0 || height <= 0 || pos >= bytes.size()) return false;
    data = pos + 1;  // one whitespace character ends the header
    return true;
}

bool white(const std::string& bytes) { return bytes.find_first_not_of('\0') == std::string::npos; }

}  // namespace

bool parsePbm(const std::string& bytes, PbmImage& out) {
    std::size_t data = 0;
    PbmImage image;
    if (!parseHeader(bytes, image.width, image.height, data)) return false;
    const std::size_t size = image.stride() * static_cast<std::size_t>(image.height);
    if (bytes.size() < data + size) return false;
    image.bits = bytes.substr(data, size);
    out = std::move(image);
    return true;
}

bool readPbm(const std::string& path, PbmImage& out) { return parsePbm(readFile(path), out); }

std::string pbmFile(int width, int height, const void* bits) {
    const std::size_t size = (static_cast<std::size_t>(width) + 7) / 8 * static_cast<std::size_t>(height);
    return "P4\n" + std::to_string(width) + " " + std::to_string(height) + "\n" +
           std::string(static_cast<const char*>(bits), size);
}

bool writePbm(const std::string& path, int width, int height, const void* bits) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << pbmFile(width, height, bits);
    return static_cast<bool>(out);
}

std::string pbmRows(const std::string& bytes, int skipRows, int* width, int* height) {
    int w = 0, h = 0;
    std::size_t data = 0;
    if (!parseHeader(bytes, w, h, data)) return {};
    if (width) *width = w;
    if (height) *height = h;
    const std::size_t stride = (static_cast<std::size_t>(w) + 7) / 8;
    const std::size_t skip = data + stride * static_cast<std::size_t>(skipRows < h ? skipRows : h);
    return skip < bytes.size() ? bytes.substr(skip) : std::string();
}

bool containsOnWhite(const std::string& outer, const std::string& inner) {
    const std::size_t at = outer.find(inner);
    if (inner.empty() || at == std::string::npos) return false;
    return white(outer.substr(0, at)) && white(outer.substr(at + inner.size()));
}

int findRows(const PbmImage& sent, const PbmImage& got, int skipRows, int maxOffset) {
    if (sent.width != got.width) return -1;
    int used = sent.height;
    while (used > 0 && white(sent.row(used - 1))) --used;
    for (int off = 0; off + used <= got.height && off <= maxOffset; ++off) {
        bool same = true;
        for (int y = skipRows; y < used && same; ++y) same = sent.row(y) == got.row(y + off);
        for (int y = off + used; y < got.height && same; ++y) same = white(got.row(y));
        if (same && used > 0) return off;
    }
    return -1;
}

}  // namespace telvane::test
