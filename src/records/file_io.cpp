// POSIX file access for the table engine. Errors name the file and the system's reason; no
// path is followed through a symbolic link.
#include "records/file_io.h"

#include "records/xb_error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace telvane::records::io {

namespace {

ChangeObserver observer = nullptr;

void observe(Change kind, const std::string& path, uint64_t offset = 0, const void* data = nullptr, size_t size = 0,
             const std::string* to = nullptr) {
    if (observer) observer(ChangeInfo{kind, path, to, offset, data, size});
}

[[noreturn]] void fail(const std::string& path, const std::string& what) {
    throw EXbError(path + ": " + what + " (" + std::strerror(errno) + ")");
}

// The refusal of a name that is a link (or anything but a plain file) where a file belongs.
[[noreturn]] void refuseSpecial(const std::string& path, bool link) {
    throw EXbError(path + (link ? ": refused: the name is a symbolic link; the engine's files must be plain files"
                                : ": refused: not a plain file"));
}

}  // namespace

void setChangeObserver(ChangeObserver o) { observer = o; }

File::~File() { close(); }

void File::open(const std::string& path, bool lock, bool readOnly) {
    close();
    path_ = path;
    const int fd = ::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ELOOP) refuseSpecial(path, true);
        fail(path, "cannot open");
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        refuseSpecial(path, false);
    }
    fd_ = fd;
    if (lock && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd_);
        fd_ = -1;
        if (err == EWOULDBLOCK) throw EXbError(path + ": the table is in use by another program");
        errno = err;
        fail(path, "cannot lock");
    }
}

bool File::tryCreate(const std::string& path) {
    close();
    path_ = path;
    observe(Change::Create, path);
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ >= 0) return true;
    if (errno == EEXIST) return false;
    fail(path, "cannot create");
}

void File::create(const std::string& path) {
    if (tryCreate(path)) return;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) refuseSpecial(path, true);
    throw EXbError(path + ": cannot create: a file of that name already exists");
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

uint64_t File::changedNs() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) fail(path_, "cannot read the file time");
    return uint64_t(st.st_ctim.tv_sec) * 1000000000ull + uint64_t(st.st_ctim.tv_nsec);
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
    observe(Change::Write, path_, offset, data, n);
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
    observe(Change::Truncate, path_, size);
    if (::ftruncate(fd_, off_t(size)) != 0) fail(path_, "cannot truncate");
}

void File::sync() {
    observe(Change::Sync, path_);
    if (::fdatasync(fd_) != 0) fail(path_, "cannot sync");
}

std::string readFile(const std::string& path) {
    File f;
    f.open(path, false, true);
    std::string bytes(size_t(f.size()), '\0');
    if (!bytes.empty()) f.readAt(0, bytes.data(), bytes.size());
    return bytes;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool isFile(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void syncDirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    observe(Change::SyncDirectory, dir);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void replaceFile(const std::string& path, std::string_view data) {
    const std::string tmp = path + ".tmp";
    removeFile(tmp);
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
    renameFile(tmp, path);
    syncDirectoryOf(path);
}

void removeFile(const std::string& path) {
    if (!exists(path)) return;
    observe(Change::Remove, path);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) fail(path, "cannot delete");
}

void renameFile(const std::string& from, const std::string& to) {
    observe(Change::Rename, from, 0, nullptr, 0, &to);
    if (::rename(from.c_str(), to.c_str()) != 0) fail(to, "cannot replace it with " + baseName(from));
}

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace telvane::records::io
