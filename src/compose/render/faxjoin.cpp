// Page file names and joining (see faxjoin.h).
#include "compose/render/faxjoin.h"

#include "errors/errors.h"
#include "faximage/ovffile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace telvane::render {

namespace {

namespace fx = telvane::faximage;

constexpr std::size_t kCopyBlock = 4096;

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

[[noreturn]] void raiseIo(bool writing) { throw errors::EOvxException(errors::ovxIoError(errno, writing)); }

// An open file descriptor, closed on every path.
class File {
public:
    File(const std::string& path, int flags) : fd_(::open(path.c_str(), flags | O_CLOEXEC)) {
        if (fd_ < 0) raiseIo((flags & O_ACCMODE) != O_RDONLY);
    }
    ~File() {
        if (fd_ >= 0) ::close(fd_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    std::uint64_t size() const {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) raiseIo(false);
        return static_cast<std::uint64_t>(st.st_size);
    }
    // Reads up to `size` bytes at `offset`; returns how many arrived (less only at the end).
    std::size_t readAt(std::uint64_t offset, void* data, std::size_t size) const {
        std::size_t got = 0;
        while (got < size) {
            ssize_t n = ::pread(fd_, static_cast<std::uint8_t*>(data) + got, size - got, off_t(offset + got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) raiseIo(false);
            if (n == 0) break;
            got += std::size_t(n);
        }
        return got;
    }
    void readExact(std::uint64_t offset, void* data, std::size_t size) const {
        if (readAt(offset, data, size) != size) throw errors::EOvxException(errors::ecFaxBadFormat);
    }
    void writeAt(std::uint64_t offset, const void* data, std::size_t size) {
        std::size_t done = 0;
        while (done < size) {
            ssize_t n = ::pwrite(fd_, static_cast<const std::uint8_t*>(data) + done, size - done, off_t(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) raiseIo(true);
            if (n == 0) throw errors::EOvxException(errors::ecDiskFull);
            done += std::size_t(n);
        }
    }
    void truncate(std::uint64_t size) {
        if (::ftruncate(fd_, off_t(size)) != 0) raiseIo(true);
    }

private:
    int fd_;
};

fx::OvfFileHeader readFileHeader(const File& f, std::uint8_t raw[fx::kOvfFileHeaderSize]) {
    f.readExact(0, raw, fx::kOvfFileHeaderSize);
    fx::OvfFileHeader h;
    if (!fx::decodeFileHeader(raw, h)) throw errors::EOvxException(errors::ecFaxBadFormat);
    return h;
}

// Offset just past the last of the file's pages, walking page_count page headers.
std::uint64_t endOfPages(const File& f, const fx::OvfFileHeader& h) {
    const std::uint64_t size = f.size();
    std::uint64_t at = h.firstPageOffset;
    for (int i = 0; i < h.pageCount; ++i) {
        std::uint8_t raw[fx::kOvfPageHeaderSize];
        f.readExact(at, raw, sizeof raw);
        at += fx::kOvfPageHeaderSize + fx::decodePageHeader(raw).imageLength;
        if (at > size) throw errors::EOvxException(errors::ecFaxBadFormat);
    }
    return at;
}

}  // namespace

std::string firstPageFileName(const std::string& dir) {
    for (int n = 1; n <= kMaxFirstPageNumber; ++n) {
        std::string name = dir + "TVN_" + std::to_string(n) + ".OVF";
        if (!fileExists(name)) return name;
    }
    return dir + "TVN1.OVF";
}

std::string pageFileName(const std::string& dir, int pageNumber) {
    return dir + "TVNFX" + std::to_string(pageNumber) + ".OVF";
}

namespace {
// "TVN_" n ".OVF", "TVN1.OVF", "TVNFX" k ".OVF" or the page bitmap: names rendering gives its files.
bool isRenderFileName(const std::string& name) {
    if (name == kTempBitmapName || name == "TVN1.OVF") return true;
    for (const std::string prefix : {"TVN_", "TVNFX"}) {
        if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0) continue;
        if (name.compare(name.size() - 4, 4, ".OVF") != 0) continue;
        const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - 4);
        if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return true;
    }
    return false;
}
}  // namespace

int removeRenderLeftovers(const std::string& dir) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return 0;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) {
        if (isRenderFileName(e->d_name)) names.emplace_back(e->d_name);
    }
    ::closedir(d);
    int removed = 0;
    for (const std::string& name : names) {
        struct stat st {};
        // Only plain files: a directory or a link planted under such a name is left alone.
        if (::lstat((dir + name).c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink((dir + name).c_str()) == 0)
            ++removed;
    }
    return removed;
}

namespace {

// Appends the pages of `source` at `at` (the end of dest's last page) and counts them into
// dest's header image `destRaw`, which is written back. Returns the new end of dest's pages.
std::uint64_t appendPages(File& d, std::uint8_t destRaw[fx::kOvfFileHeaderSize], std::uint64_t at,
                          const std::string& source) {
    File s(source, O_RDONLY);
    fx::OvfFileHeader destHeader;
    fx::decodeFileHeader(destRaw, destHeader);
    std::uint8_t sourceRaw[fx::kOvfFileHeaderSize];
    const fx::OvfFileHeader sourceHeader = readFileHeader(s, sourceRaw);
    const std::uint64_t sourceSize = s.size();
    if (sourceHeader.firstPageOffset > sourceSize) throw errors::EOvxException(errors::ecFaxBadFormat);
    const unsigned total = unsigned(destHeader.pageCount) + sourceHeader.pageCount;
    if (total > 0xFFFF) throw errors::EOvxException(errors::ecTooManyPages);

    std::vector<std::uint8_t> block;
    try {
        block.resize(kCopyBlock);
    } catch (const std::bad_alloc&) {
        throw errors::EOvxException(errors::ecOutOfMemory);
    }
    for (std::uint64_t from = sourceHeader.firstPageOffset; from < sourceSize;) {
        const std::size_t want = std::size_t(std::min<std::uint64_t>(kCopyBlock, sourceSize - from));
        const std::size_t got = s.readAt(from, block.data(), want);
        if (got == 0) throw errors::EOvxException(errors::ecReadBeyondEof);
        d.writeAt(at, block.data(), got);
        at += got;
        from += got;
    }
    // Anything that followed dest's last page has been overwritten or is cut off here.
    d.truncate(at);

    // Only page_count changes: the joined file keeps dest's created time and sender ID.
    destRaw[32] = std::uint8_t(total & 0xFF);
    destRaw[33] = std::uint8_t(total >> 8);
    d.writeAt(0, destRaw, fx::kOvfFileHeaderSize);
    return at;
}

}  // namespace

void appendFaxFile(const std::string& dest, const std::string& source) {
    File d(dest, O_RDWR);
    std::uint8_t destRaw[fx::kOvfFileHeaderSize];
    const fx::OvfFileHeader destHeader = readFileHeader(d, destRaw);
    // Both must exist: the source is opened before anything is written.
    const std::uint64_t at = endOfPages(d, destHeader);
    appendPages(d, destRaw, at, source);
}

std::string joinFaxFiles(const std::vector<std::string>& files) {
    if (files.empty()) return {};
    if (files.size() > 1) {
        // The first file's pages are walked once; each append then continues at the end the
        // previous one left, so joining costs the same per page however many there are.
        File d(files.front(), O_RDWR);
        std::uint8_t destRaw[fx::kOvfFileHeaderSize];
        const fx::OvfFileHeader destHeader = readFileHeader(d, destRaw);
        std::uint64_t at = endOfPages(d, destHeader);
        for (std::size_t i = 1; i < files.size(); ++i) at = appendPages(d, destRaw, at, files[i]);
    }
    for (std::size_t i = 1; i < files.size(); ++i) std::remove(files[i].c_str());
    return files.front();
}

}  // namespace telvane::render
