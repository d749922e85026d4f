// Pseudo-terminal pair and scripted device used by the transport tests.
#include "scripteddevice.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace telvane::transport::test {

PtyPair::PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        throw std::runtime_error("cannot create a pseudo-terminal");
    slave_ = ::ptsname(master_);
    termios t{};
    ::tcgetattr(master_, &t);
    cfmakeraw(&t);
    ::tcsetattr(master_, TCSANOW, &t);
}

PtyPair::~PtyPair() {
    if (master_ >= 0) ::close(master_);
}

void PtyPair::write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0) throw std::runtime_error("pty write failed");
        done += static_cast<size_t>(n);
    }
}

std::string PtyPair::read(size_t want, int ms) {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < want) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buf[4096];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

ssize_t ScriptedDevice::read(uint8_t* buf, size_t len) {
    std::lock_guard lock(s_.Mu);
    if (s_.Gone) return -1;
    size_t n = 0;
    while (n < len && !s_.Input.empty()) {
        buf[n++] = s_.Input.front();
        s_.Input.pop_front();
    }
    return static_cast<ssize_t>(n);
}

ssize_t ScriptedDevice::write(const uint8_t* buf, size_t len) {
    std::lock_guard lock(s_.Mu);
    if (s_.Gone) return -1;
    const size_t n = std::min(len, s_.WriteAllowance);
    s_.Output.append(reinterpret_cast<const char*>(buf), n);
    if (s_.WriteAllowance != SIZE_MAX) s_.WriteAllowance -= n;
    return static_cast<ssize_t>(n);
}

uint8_t ScriptedDevice::modemStatus() {
    std::lock_guard lock(s_.Mu);
    return s_.Modem;
}

uint8_t ScriptedDevice::takeLineErrors() {
    std::lock_guard lock(s_.Mu);
    const uint8_t e = s_.Errors;
    s_.Errors = 0;
    return e;
}

}  // namespace telvane::transport::test
