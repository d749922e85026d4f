// Thin POSIX file helpers shared by the DBF, FPT and CDX layers: whole reads and writes at an
// offset, each failure raised as EXbError naming the file; atomic replacement of a file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace telvane::records::io {

class File {
public:
    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens read-write (or read-only); with lock, takes an exclusive non-blocking flock
    // (EXbError when held).
    void open(const std::string& path, bool lock, bool readOnly = false);
    void create(const std::string& path);  // truncates
    void close();
    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    uint64_t size() const;
    uint64_t modifiedNs() const;  // modification time in nanoseconds
    // Reads exactly n bytes at offset; EXbError (naming the file) on a short read.
    void readAt(uint64_t offset, void* out, size_t n) const;
    void writeAt(uint64_t offset, const void* data, size_t n);
    void truncate(uint64_t size);
    void sync();

private:
    int fd_ = -1;
    std::string path_;
};

bool exists(const std::string& path);
// Writes data to path + ".tmp", syncs it and renames it over path.
void replaceFile(const std::string& path, std::string_view data);
void removeFile(const std::string& path);  // no error when absent
void syncDirectoryOf(const std::string& path);
std::string baseName(const std::string& path);

inline uint16_t le16(const unsigned char* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint32_t be32(const unsigned char* p) {
    return uint32_t(p[3]) | uint32_t(p[2]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[0]) << 24;
}
inline uint16_t be16(const unsigned char* p) { return uint16_t(p[1] | (p[0] << 8)); }
inline void putLe16(unsigned char* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void putLe32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void putBe32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[3 - i] = uint8_t(v >> (8 * i));
}
inline void putBe16(unsigned char* p, uint32_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

}  // namespace telvane::records::io
