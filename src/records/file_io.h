// Thin POSIX file helpers shared by the DBF, FPT and CDX layers: whole reads and writes at an
// offset, each failure raised as EXbError naming the file; atomic replacement of a file.
// Files are never reached through a symbolic link and must be plain files: a link planted in
// place of a table, an index or one of their temporary files is refused, never followed. A
// file the engine makes is new (created exclusively, private to the user); a leftover of that
// name is removed first, which removes a link itself and not what it points to.
// Every change to a file passes an observer first (none by default), so that tests can stop
// the process before each write, sync, rename or removal in turn, or keep a record of them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace telvane::records::io {

enum class Change { Create, Write, Truncate, Sync, Rename, Remove, SyncDirectory };

struct ChangeInfo {
    Change kind;
    const std::string& path;
    const std::string* to = nullptr;  // Rename: the new name
    uint64_t offset = 0;              // Write: where; Truncate: the new size
    const void* data = nullptr;       // Write: the bytes
    size_t size = 0;
};

using ChangeObserver = void (*)(const ChangeInfo&);
// Installs the observer called before every change (nullptr: none). Not thread-safe: set it
// before the files are used.
void setChangeObserver(ChangeObserver observer);

class File {
public:
    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens a plain file read-write (or read-only); with lock, takes an exclusive non-blocking
    // flock (EXbError when held).
    void open(const std::string& path, bool lock, bool readOnly = false);
    // Creates a new file (mode 0600); EXbError when the name is taken.
    void create(const std::string& path);
    // As create, but false (and nothing open) when the name is taken.
    bool tryCreate(const std::string& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    uint64_t size() const;
    uint64_t changedNs() const;  // inode change time in nanoseconds
    // Reads exactly n bytes at offset; EXbError (naming the file) on a short read.
    void readAt(uint64_t offset, void* out, size_t n) const;
    void writeAt(uint64_t offset, const void* data, size_t n);
    void truncate(uint64_t size);
    void sync();

private:
    int fd_ = -1;
    std::string path_;
};

// The whole content of a plain file.
std::string readFile(const std::string& path);
// Whether anything (a file, a link, a directory) has this name.
bool exists(const std::string& path);
// Whether the name is a plain file (not a link to one).
bool isFile(const std::string& path);
// Writes data to path + ".tmp", syncs it and renames it over path.
void replaceFile(const std::string& path, std::string_view data);
void removeFile(const std::string& path);  // no error when absent; a link is removed itself
void renameFile(const std::string& from, const std::string& to);
void syncDirectoryOf(const std::string& path);
std::string baseName(const std::string& path);

inline uint16_t le16(const unsigned char* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t le64(const unsigned char* p) { return uint64_t(le32(p)) | uint64_t(le32(p + 4)) << 32; }
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
inline void putLe64(unsigned char* p, uint64_t v) {
    putLe32(p, uint32_t(v));
    putLe32(p + 4, uint32_t(v >> 32));
}
inline void putBe32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[3 - i] = uint8_t(v >> (8 * i));
}
inline void putBe16(unsigned char* p, uint32_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

}  // namespace telvane::records::io
