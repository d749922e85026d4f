#include "faximage/pendingfile.h"

#include "errors/errors.h"
#include "faximage/signalcleanup.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <dirent.h>
#include <sys/file.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace telvane::faximage {

namespace {

// The process umask without changing it (umask() would, racing other threads).
mode_t currentUmask() {
    mode_t mask = 022;
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[128];
        unsigned value = 0;
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = mode_t(value);
                break;
            }
        std::fclose(f);
    }
    return mask;
}

// Removes the abandoned temporaries ".BASE.XXXXXX" in `dir` (see openPendingTemp).
void removeAbandoned(const std::string& dir, const std::string& base) {
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return;
    const std::string prefix = "." + base + ".";
    const time_t now = ::time(nullptr);
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0 ||
            !std::all_of(name.begin() + long(prefix.size()), name.end(), [](char c) { return std::isalnum(c); }))
            continue;
        const int fd = ::openat(::dirfd(d), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            now - st.st_mtime > kAbandonedPendingSeconds && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(::dirfd(d), name.c_str(), 0);
        ::close(fd);
    }
    ::closedir(d);
}

}  // namespace

int openPendingTemp(const std::string& path, std::string& tmp, int& signalSlot) {
    signalSlot = -1;
    const std::size_t slash = path.find_last_of('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    removeAbandoned(path.substr(0, base), path.substr(base));
    tmp = path.substr(0, base) + "." + path.substr(base) + ".XXXXXX";
    // A terminating signal waits until the new file is in the list of files it removes.
    sigset_t terminating, old;
    sigemptyset(&terminating);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&terminating, sig);
    ::sigprocmask(SIG_BLOCK, &terminating, &old);
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd >= 0) {
        ::flock(fd, LOCK_EX);  // a new file: nobody else holds it
        signalSlot = removeOnSignal(tmp);
    }
    const int error = errno;
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return fd;
}

PendingFile::PendingFile(const std::string& path) : path_(path) {
    if (path.empty()) return;
    fd_ = openPendingTemp(path, tmp_, signalSlot_);
    if (fd_ < 0) tmp_.clear();
}

PendingFile::~PendingFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !tmp_.empty()) ::unlink(tmp_.c_str());
    forgetOnSignal(signalSlot_);
}

int PendingFile::write(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errors::ovxIoError(errno, true) : errors::ecDeviceWrite;
        p += n;
        size -= std::size_t(n);
        written_ += std::size_t(n);
    }
    return errors::ecOK;
}

void PendingFile::release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int PendingFile::commit() {
    struct stat old {};
    const mode_t mode = ::stat(path_.c_str(), &old) == 0 ? (old.st_mode & 07777) : (0666 & ~currentUmask());
    if (fd_ >= 0) {
        const int closeRc = ::close(fd_);
        fd_ = -1;
        if (closeRc != 0) return errors::ovxIoError(errno, true);
    }
    ::chmod(tmp_.c_str(), mode);
    if (::rename(tmp_.c_str(), path_.c_str()) != 0) return errors::ovxIoError(errno, true);
    committed_ = true;
    forgetOnSignal(signalSlot_);
    signalSlot_ = -1;
    return errors::ecOK;
}

}  // namespace telvane::faximage
