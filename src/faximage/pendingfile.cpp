#include "faximage/pendingfile.h"

#include "errors/errors.h"

#include <cerrno>
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

}  // namespace

PendingFile::PendingFile(const std::string& path) : path_(path) {
    if (path.empty()) return;
    const std::size_t slash = path.find_last_of('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    tmp_ = path.substr(0, base) + "." + path.substr(base) + ".XXXXXX";
    fd_ = ::mkostemp(tmp_.data(), O_CLOEXEC);
}

PendingFile::~PendingFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !tmp_.empty()) ::unlink(tmp_.c_str());
}

int PendingFile::write(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? ovxIoError(errno, true) : ecDeviceWrite;
        p += n;
        size -= std::size_t(n);
        written_ += std::size_t(n);
    }
    return ecOK;
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
        if (closeRc != 0) return ovxIoError(errno, true);
    }
    ::chmod(tmp_.c_str(), mode);
    if (::rename(tmp_.c_str(), path_.c_str()) != 0) return ovxIoError(errno, true);
    committed_ = true;
    return ecOK;
}

}  // namespace telvane::faximage
