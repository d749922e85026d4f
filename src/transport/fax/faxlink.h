// The port as the fax state machines see it: bytes in and out, output-buffer levels, modem
// lines, pauses and the clock, and the dispatch log for state changes. TComPortLink maps it onto
// a TOvxComPort; tests substitute a scripted modem with a fake clock.
// Guarantees: no call blocks longer than Pause() is asked to; Read never waits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace telvane::transport {

class TOvxComPort;

class TFaxLink {
public:
    virtual ~TFaxLink() = default;
    virtual size_t Read(uint8_t* buf, size_t len) = 0;        // what is waiting, at once
    virtual bool Write(const uint8_t* data, size_t len) = 0;  // false: the port refused it
    virtual size_t OutFree() = 0;
    virtual size_t OutUsed() = 0;
    virtual void FlushIn() = 0;
    virtual void FlushOut() = 0;
    virtual void SetDTR(bool on) = 0;
    virtual void SetRTS(bool on) = 0;
    virtual bool Carrier() = 0;
    virtual void SetBaud(long baud) = 0;
    virtual void SetSoftwareFlow(bool on) = 0;
    // Whether the XOFF and XON the modem sends stop and restart our output (the port holds its
    // data back meanwhile; the two characters are not read as input). Off by default.
    virtual void SetOutputFlow(bool) {}
    virtual void Pause(int64_t ms) = 0;
    virtual int64_t NowMs() = 0;
    virtual void LogState(std::string_view name, uint32_t number) = 0;
    // Whether the port is still usable (false once the device has gone away).
    virtual bool Alive() { return true; }
};

class TComPortLink final : public TFaxLink {
public:
    explicit TComPortLink(TOvxComPort& port) : port_(port) {}
    size_t Read(uint8_t* buf, size_t len) override;
    bool Write(const uint8_t* data, size_t len) override;
    size_t OutFree() override;
    size_t OutUsed() override;
    void FlushIn() override;
    void FlushOut() override;
    void SetDTR(bool on) override;
    void SetRTS(bool on) override;
    bool Carrier() override;
    void SetBaud(long baud) override;
    void SetSoftwareFlow(bool on) override;
    void SetOutputFlow(bool on) override;
    void Pause(int64_t ms) override;
    int64_t NowMs() override;
    void LogState(std::string_view name, uint32_t number) override;
    bool Alive() override;

private:
    TOvxComPort& port_;
};

}  // namespace telvane::transport
