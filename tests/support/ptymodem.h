// A scripted modem on a pseudo-terminal for tests: a symbolic link names the tty,
// a thread reads each command line (ended by CR) and writes the reply the script gives for it.
// Every command received is recorded in order.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace telvane::test {

class FakeModem {
public:
    // reply(command) returns the bytes to answer with ("" = stay silent).
    FakeModem(std::string linkPath, std::function<std::string(const std::string&)> reply);
    ~FakeModem();
    std::vector<std::string> commands() const;
    const std::string& path() const { return link_; }

    // A modem that answers OK to everything and "0,1,2" to "AT+FCLASS=?".
    static std::string standardReply(const std::string& command);

private:
    void run();
    std::string link_;
    std::function<std::string(const std::string&)> reply_;
    int master_ = -1, slave_ = -1;
    std::atomic<bool> stop_{false};
    mutable std::mutex mu_;
    std::vector<std::string> commands_;
    std::thread thread_;
};

}  // namespace telvane::test
