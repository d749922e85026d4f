// Scripted pseudo-terminal modem (see ptymodem.h).
#include "support/ptymodem.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace telvane::test {

FakeModem::FakeModem(std::string linkPath, std::function<std::string(const std::string&)> reply)
    : link_(std::move(linkPath)), reply_(std::move(reply)) {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
    unlink(link_.c_str());
    if (symlink(name, link_.c_str()) != 0) throw std::runtime_error("symlink failed");
    thread_ = std::thread([this] { run(); });
}

FakeModem::~FakeModem() {
    stop_ = true;
    thread_.join();
    unlink(link_.c_str());
    close(slave_);
    close(master_);
}

std::vector<std::string> FakeModem::commands() const {
    std::lock_guard lock(mu_);
    return commands_;
}

std::string FakeModem::standardReply(const std::string& command) {
    if (command == "AT+FCLASS=?") return "\r\n0,1,2\r\n\r\nOK\r\n";
    return "\r\nOK\r\n";
}

void FakeModem::run() {
    std::string line;
    while (!stop_) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) continue;
        char buf[256];
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) continue;
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == '\n') continue;
            if (buf[i] != '\r') {
                line += buf[i];
                continue;
            }
            {
                std::lock_guard lock(mu_);
                commands_.push_back(line);
            }
            const std::string answer = reply_(line);
            if (!answer.empty()) (void)!write(master_, answer.data(), answer.size());
            line.clear();
        }
    }
}

}  // namespace telvane::test
