// POSIX file access for the table engine. Errors name the file and the system's reason.
#include "records/file_io.h"

#include "records/xb_error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace telvane::records::io {

namespace {
[[noreturn]] void fail(const std::string& path, const std::string& what) {
    throw EXbError(path + ": " + what + " (" + std::strerror(errno) + ")");
}
}  // namespace

File::~File() { close(); }

void File::open(const std::string& path, bool lock, bool readOnly) {
    close();
    path_ = path;
    fd_ = ::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd_ < 0) fail(path, "cannot open");
    if (lock && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd_);
        fd_ = -1;
        if (err == EWOULDBLOCK) throw EXbError(path + ": the table is in use by another program");
        errno = err;
        fail(path, "cannot lock");
    }
}

void File::create(const std::string& path) {
    close();
    path_ = path;
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) fail(path, "cannot create");
}

void File::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

uint64_t File::size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) fail(path_, "cannot read the file size");
    return uint64_t(st.st_size);
}

uint64_t File::modifiedNs() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) fail(path_, "cannot read the file time");
    return uint64_t(st.st_mtim.tv_sec) * 1000000000ull + uint64_t(st.st_mtim.tv_nsec);
}

void File::readAt(uint64_t offset, void* out, size_t n) const {
    auto* p = static_cast<char*>(out);
    while (n > 0) {
        const ssize_t r = ::pread(fd_, p, n, off_t(offset));
        if (r < 0) {
            if (errno == EINTR) continue;
            fail(path_, "read error");
        }
        if (r == 0) throw EXbError(path_ + ": unexpected end of file at offset " + std::to_string(offset));
        p += r;
        n -= size_t(r);
        offset += uint64_t(r);
    }
}

void File::writeAt(uint64_t offset, const void* data, size_t n) {
    const auto* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t r = ::pwrite(fd_, p, n, off_t(offset));
        if (r < 0) {
            if (errno == EINTR) continue;
            fail(path_, "write error");
        }
        p += r;
        n -= size_t(r);
        offset += uint64_t(r);
    }
}

void File::truncate(uint64_t size) {
    if (::ftruncate(fd_, off_t(size)) != 0) fail(path_, "cannot truncate");
}

void File::sync() {
    if (::fdatasync(fd_) != 0) fail(path_, "cannot sync");
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void syncDirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void replaceFile(const std::string& path, std::string_view data) {
    const std::string tmp = path + ".tmp";
    try {
        File f;
        f.create(tmp);
        f.writeAt(0, data.data(), data.size());
        f.sync();
    } catch (const EXbError&) {
        // A partial copy (disk full) is worth nothing and only takes space.
        ::unlink(tmp.c_str());
        throw;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) fail(path, "cannot replace");
    syncDirectoryOf(path);
}

void removeFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) fail(path, "cannot delete");
}

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace telvane::records::io
