// Error texts (see errors.h): binary search of the program's "STR0" string table, UTF-16 to
// UTF-8, the system-message fallback, and the mapping of errno values to the run-time I/O codes.
#include "errors/errors.h"

#include "resources/ovxresources.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <span>

namespace telvane::errors {

namespace {

std::uint32_t le32(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24); }

void appendUtf8(std::string& out, std::uint32_t u) {
    if (u < 0x80) {
        out += char(u);
    } else if (u < 0x800) {
        out += char(0xC0 | (u >> 6));
        out += char(0x80 | (u & 0x3F));
    } else if (u < 0x10000) {
        out += char(0xE0 | (u >> 12));
        out += char(0x80 | ((u >> 6) & 0x3F));
        out += char(0x80 | (u & 0x3F));
    } else {
        out += char(0xF0 | (u >> 18));
        out += char(0x80 | ((u >> 12) & 0x3F));
        out += char(0x80 | ((u >> 6) & 0x3F));
        out += char(0x80 | (u & 0x3F));
    }
}

// Table text for `id`, at most `maxChars` characters; empty when the id has no entry.
std::string tableText(std::uint32_t id, std::size_t maxChars) {
    std::span<const std::uint8_t> t = errorStringResource();
    if (t.size() < 8 || std::memcmp(t.data(), "STR0", 4) != 0) return {};
    std::uint32_t count = le32(t.data() + 4);
    if (count > (t.size() - 8) / 12) return {};
    std::uint32_t lo = 0, hi = count;
    while (lo < hi) {
        std::uint32_t mid = lo + (hi - lo) / 2;
        const std::uint8_t* e = t.data() + 8 + 12 * std::size_t(mid);
        std::uint32_t eid = le32(e);
        if (eid < id) {
            lo = mid + 1;
        } else if (eid > id) {
            hi = mid;
        } else {
            std::uint32_t off = le32(e + 4), len = le32(e + 8);
            if (off > t.size() || len > (t.size() - off) / 2) return {};
            std::string out;
            std::size_t chars = 0;
            for (std::uint32_t i = 0; i < len && chars < maxChars; ++i, ++chars) {
                std::uint32_t u = t[off + 2 * i] | (t[off + 2 * i + 1] << 8);
                if (u >= 0xD800 && u < 0xDC00 && i + 1 < len) {
                    std::uint32_t lo16 = t[off + 2 * i + 2] | (t[off + 2 * i + 3] << 8);
                    u = 0x10000 + ((u - 0xD800) << 10) + (lo16 - 0xDC00);
                    ++i;
                }
                appendUtf8(out, u);
            }
            return out;
        }
    }
    return {};
}

std::string systemText(int number) {
    if (number <= 0) return {};
    char buf[256];
    const char* s = strerror_r(number, buf, sizeof buf);
    std::string text = s ? s : "";
    if (text.rfind("Unknown error", 0) == 0) return {};
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    if (text.size() > 255) text.resize(255);
    return text;
}

}  // namespace

std::string ovxErrorText(int code) {
    std::uint32_t id = code < 0 ? 0u - std::uint32_t(code) : std::uint32_t(code);
    std::string text = tableText(id, 255);
    if (text.empty() && id <= 0x7FFFFFFF) text = systemText(int(id));
    return text;
}

std::string ovxStatusText(int code) {
    if (code < 4801 || code > 4843) return {};
    return tableText(std::uint32_t(code), 80);
}

int ovxIoError(int errnum, bool writing) {
    switch (errnum) {
    case 0: return writing ? -160 : -100;
    case ENOENT: return -2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return -3;
    case EMFILE:
    case ENFILE: return -4;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY: return -5;
    case EBADF: return -6;
    case ENOMEM: return -8;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return -101;
    case EIO: return writing ? -160 : -161;
    default: return -errnum;
    }
}

}  // namespace telvane::errors
