// The port as the fax state machines see it: bytes in and out, output-buffer levels, modem
// lines, pauses and the clock, and the dispatch log for state changes. TComPortLink maps it onto
// a TOvxComPort; tests substitute a scripted modem with a fake clock.
// Guarantees: no call blocks longer than pause() is asked to; Read never waits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace telvane::transport {

class TOvxComPort;

class TFaxLink {
public:
    virtual ~TFaxLink() = default;
    virtual size_t read(uint8_t* buf, size_t len) = 0;        // what is waiting, at once
    virtual bool write(const uint8_t* data, size_t len) = 0;  // false: the port refused it
    virtual size_t outFree() = 0;
    virtual size_t outUsed() = 0;
    virtual void flushIn() = 0;
    virtual void flushOut() = 0;
    virtual void setDTR(bool on) = 0;
    virtual void setRTS(bool on) = 0;
    virtual bool carrier() = 0;
    virtual void setBaud(long baud) = 0;
    virtual void setSoftwareFlow(bool on) = 0;
    // Whether the XOFF and XON the modem sends stop and restart our output (the port holds its
    // data back meanwhile; the two characters are not read as input). Off by default.
    virtual void setOutputFlow(bool) {}
    virtual void pause(int64_t ms) = 0;
    virtual int64_t nowMs() = 0;
    virtual void logState(std::string_view name, uint32_t number) = 0;
    // Whether the port is still usable (false once the device has gone away).
    virtual bool alive() { return true; }
};

class TComPortLink final : public TFaxLink {
public:
    explicit TComPortLink(TOvxComPort& port) : port_(port) {}
    size_t read(uint8_t* buf, size_t len) override;
    bool write(const uint8_t* data, size_t len) override;
    size_t outFree() override;
    size_t outUsed() override;
    void flushIn() override;
    void flushOut() override;
    void setDTR(bool on) override;
    void setRTS(bool on) override;
    bool carrier() override;
    void setBaud(long baud) override;
    void setSoftwareFlow(bool on) override;
    void setOutputFlow(bool on) override;
    void pause(int64_t ms) override;
    int64_t nowMs() override;
    void logState(std::string_view name, uint32_t number) override;
    bool alive() override;

private:
    TOvxComPort& port_;
};

}  // namespace telvane::transport
