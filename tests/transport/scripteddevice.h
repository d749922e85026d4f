// Test helpers for the transport tests: a pseudo-terminal pair and a scripted device.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "transport/ovxdevice.h"

namespace telvane::transport::test {

// A pseudo-terminal: the master side is the "modem", the slave path is the port to open.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    const std::string& slavePath() const { return slave_; }
    void write(const std::string& bytes);
    // Reads what the port sent, waiting up to `ms` for at least `want` bytes.
    std::string read(size_t want, int ms);
    int masterFd() const { return master_; }

private:
    int master_ = -1;
    std::string slave_;
};

// A device driven by the test: input is queued by the test, output is taken up to a limit.
class ScriptedDevice final : public TOvxDevice {
public:
    struct State {
        std::mutex Mu;
        std::deque<uint8_t> Input;
        std::string Output;
        size_t WriteAllowance = SIZE_MAX;  // bytes the device accepts before it blocks
        uint8_t Modem = msCTS | msDSR;
        uint8_t Errors = 0;
        bool Gone = false;
    };
    explicit ScriptedDevice(State& state) : s_(state) {}
    void Open(const std::string&) override { open_ = true; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    void configure(const TOvxLineSettings&) override {}
    ssize_t read(uint8_t* buf, size_t len) override;
    ssize_t write(const uint8_t* buf, size_t len) override;
    void setDTR(bool) override {}
    void setRTS(bool) override {}
    uint8_t modemStatus() override;
    uint8_t takeLineErrors() override;
    void flushInput() override {}
    void flushOutput() override {}
    int pollFd() const override { return -1; }

private:
    State& s_;
    bool open_ = false;
};

}  // namespace telvane::transport::test
