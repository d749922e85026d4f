// Device layer of the serial port: the operating-system side of one open port.
// TOvxTtyDevice opens a POSIX tty (real UART, USB modem or pseudo-terminal) non-blocking and
// exclusively (TIOCEXCL + flock), applies termios settings and drives the modem lines. Devices
// without modem-control lines (pseudo-terminals) report CTS, DSR and DCD as always on.
// Other devices (scripted modems in tests) implement the same interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace telvane::transport {

// Modem status bits (as reported to status triggers of type 1).
inline constexpr uint8_t msCTS = 0x10;
inline constexpr uint8_t msDSR = 0x20;
inline constexpr uint8_t msRI = 0x40;
inline constexpr uint8_t msDCD = 0x80;

// Line error bits (status triggers of type 2).
inline constexpr uint8_t leOverrun = 0x02;
inline constexpr uint8_t leParity = 0x04;
inline constexpr uint8_t leFraming = 0x08;
inline constexpr uint8_t leBreak = 0x10;

enum TParity { pNone, pOdd, pEven, pMark, pSpace };

// Hardware flow options (bit set).
inline constexpr unsigned hwfUseDTR = 0x01;
inline constexpr unsigned hwfUseRTS = 0x02;
inline constexpr unsigned hwfRequireDSR = 0x04;
inline constexpr unsigned hwfRequireCTS = 0x08;

// Software flow options.
enum TSWFlowOptions { swfNone, swfReceive, swfTransmit, swfBoth };

struct TOvxLineSettings {
    long Baud = 19200;
    TParity Parity = pNone;
    int DataBits = 8;
    int StopBits = 1;
    unsigned HWFlowOptions = 0;
    TSWFlowOptions SWFlowOptions = swfNone;
    uint8_t XOnChar = 17;
    uint8_t XOffChar = 19;
};

class TOvxDevice {
public:
    virtual ~TOvxDevice() = default;
    // Opens the device; throws EOvxException (ecBadId, ecAlreadyOpen, ecFileAccessDenied...).
    virtual void Open(const std::string& path) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Applies line settings; throws EOvxException when the device rejects them.
    virtual void configure(const TOvxLineSettings& settings) = 0;
    // Non-blocking read: bytes read, 0 when nothing is waiting, -1 when the line is gone.
    virtual ssize_t read(uint8_t* buf, size_t len) = 0;
    // Non-blocking write: bytes written (possibly 0), -1 when the line is gone.
    virtual ssize_t write(const uint8_t* buf, size_t len) = 0;
    virtual void setDTR(bool on) = 0;
    virtual void setRTS(bool on) = 0;
    virtual uint8_t modemStatus() = 0;     // msCTS | msDSR | msRI | msDCD
    virtual uint8_t takeLineErrors() = 0;  // errors seen since the last call
    virtual void flushInput() = 0;
    virtual void flushOutput() = 0;
    // A file descriptor to poll for input and output readiness, or -1 (then polled every 50 ms).
    virtual int pollFd() const = 0;
};

class TOvxTtyDevice final : public TOvxDevice {
public:
    ~TOvxTtyDevice() override;
    void Open(const std::string& path) override;
    void close() override;
    bool isOpen() const override { return fd_ >= 0; }
    void configure(const TOvxLineSettings& settings) override;
    ssize_t read(uint8_t* buf, size_t len) override;
    ssize_t write(const uint8_t* buf, size_t len) override;
    void setDTR(bool on) override;
    void setRTS(bool on) override;
    uint8_t modemStatus() override;
    uint8_t takeLineErrors() override;
    void flushInput() override;
    void flushOutput() override;
    int pollFd() const override { return fd_; }

private:
    void setLine(int bit, bool on);
    int fd_ = -1;
    bool hasModemLines_ = false;
    bool haveCounts_ = false;
    unsigned long lastOverrun_ = 0, lastParity_ = 0, lastFrame_ = 0, lastBreak_ = 0;
};

// termios speed constant for a baud rate; 0 when the rate is not supported.
unsigned BaudToSpeed(long baud);

}  // namespace telvane::transport
