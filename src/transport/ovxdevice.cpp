// POSIX tty device: exclusive non-blocking open, termios settings, modem lines, line errors.
#include "transport/ovxdevice.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "errors/errors.h"

namespace telvane::transport {

namespace {

struct BaudEntry {
    long baud;
    speed_t speed;
};

constexpr BaudEntry kBauds[] = {
    {300, B300},     {600, B600},     {1200, B1200},   {2400, B2400},     {4800, B4800},     {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800},
};

std::string errnoText(int err) { return std::strerror(err); }

}  // namespace

unsigned BaudToSpeed(long baud) {
    for (const auto& e : kBauds)
        if (e.baud == baud) return e.speed;
    return 0;
}

TOvxTtyDevice::~TOvxTtyDevice() { close(); }

void TOvxTtyDevice::Open(const std::string& path) {
    if (fd_ >= 0) throw errors::EOvxException(errors::ecAlreadyOpen, "Device already open: " + path);
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENXIO || err == ENODEV || err == ENOTDIR)
            throw errors::EOvxException(errors::ecBadId, "ie_BadId - Specified comport doesn't exist (" + path + ")");
        if (err == EBUSY)
            throw errors::EOvxException(errors::ecAlreadyOpen, "The port " + path + " is in use by another program");
        if (err == EACCES || err == EPERM)
            throw errors::EOvxException(
                errors::ecFileAccessDenied,
                "Permission denied opening " + path + ": add your user to the 'dialout' group and log in again");
        throw errors::EOvxException(errors::ecBadId, "Cannot open " + path + ": " + errnoText(err));
    }
    if (!isatty(fd)) {
        ::close(fd);
        throw errors::EOvxException(errors::ecBadId,
                                    "ie_BadId - Specified comport doesn't exist (" + path + " is not a terminal)");
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        throw errors::EOvxException(errors::ecAlreadyOpen, "The port " + path + " is in use by another program");
    }
    // TIOCEXCL keeps others out while we hold it (root can still open; the lock covers that).
    ::ioctl(fd, TIOCEXCL);
    int bits = 0;
    hasModemLines_ = ::ioctl(fd, TIOCMGET, &bits) == 0;
    serial_icounter_struct counts{};
    haveCounts_ = ::ioctl(fd, TIOCGICOUNT, &counts) == 0;
    if (haveCounts_) {
        lastOverrun_ = counts.overrun + counts.buf_overrun;
        lastParity_ = counts.parity;
        lastFrame_ = counts.frame;
        lastBreak_ = counts.brk;
    }
    fd_ = fd;
}

void TOvxTtyDevice::close() {
    if (fd_ < 0) return;
    ::ioctl(fd_, TIOCNXCL);
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

void TOvxTtyDevice::configure(const TOvxLineSettings& s) {
    if (fd_ < 0) throw errors::EOvxException(errors::ecNotOpen, "Port not open");
    const speed_t speed = BaudToSpeed(s.Baud);
    if (speed == 0)
        throw errors::EOvxException(errors::ecBadArgument, "Unsupported baud rate " + std::to_string(s.Baud));
    if (s.DataBits < 5 || s.DataBits > 8 || (s.StopBits != 1 && s.StopBits != 2))
        throw errors::EOvxException(errors::ecBadArgument, "Unsupported data or stop bits");
    termios t{};
    if (::tcgetattr(fd_, &t) != 0)
        throw errors::EOvxException(errors::ecDeviceError, "Cannot read line settings: " + errnoText(errno));
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR);
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= sizes[s.DataBits - 5];
    if (s.StopBits == 2) t.c_cflag |= CSTOPB;
    switch (s.Parity) {
    case pNone: break;
    case pOdd: t.c_cflag |= PARENB | PARODD; break;
    case pEven: t.c_cflag |= PARENB; break;
    case pMark: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case pSpace: t.c_cflag |= PARENB | CMSPAR; break;
    }
    // RTS/CTS handshaking is done by the driver; the other options have no termios counterpart.
    if ((s.HWFlowOptions & hwfUseRTS) && (s.HWFlowOptions & hwfRequireCTS)) t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (s.SWFlowOptions == swfBoth || s.SWFlowOptions == swfTransmit) t.c_iflag |= IXON;
    if (s.SWFlowOptions == swfBoth || s.SWFlowOptions == swfReceive) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = s.XOnChar;
    t.c_cc[VSTOP] = s.XOffChar;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (::tcsetattr(fd_, TCSANOW, &t) != 0)
        throw errors::EOvxException(errors::ecDeviceError, "Cannot apply line settings: " + errnoText(errno));
}

ssize_t TOvxTtyDevice::read(uint8_t* buf, size_t len) {
    if (fd_ < 0) return -1;
    for (;;) {
        const ssize_t n = ::read(fd_, buf, len);
        if (n > 0) return n;
        if (n == 0) return 0;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -1;  // EIO: the other side of a pseudo-terminal closed, or the device vanished
    }
}

ssize_t TOvxTtyDevice::write(const uint8_t* buf, size_t len) {
    if (fd_ < 0) return -1;
    for (;;) {
        const ssize_t n = ::write(fd_, buf, len);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -1;
    }
}

void TOvxTtyDevice::setLine(int bit, bool on) {
    if (fd_ < 0 || !hasModemLines_) return;
    ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit);
}

void TOvxTtyDevice::setDTR(bool on) { setLine(TIOCM_DTR, on); }
void TOvxTtyDevice::setRTS(bool on) { setLine(TIOCM_RTS, on); }

uint8_t TOvxTtyDevice::modemStatus() {
    if (fd_ < 0) return 0;
    int bits = 0;
    if (!hasModemLines_ || ::ioctl(fd_, TIOCMGET, &bits) != 0) return msCTS | msDSR | msDCD;
    uint8_t s = 0;
    if (bits & TIOCM_CTS) s |= msCTS;
    if (bits & TIOCM_DSR) s |= msDSR;
    if (bits & TIOCM_RI) s |= msRI;
    if (bits & TIOCM_CD) s |= msDCD;
    return s;
}

uint8_t TOvxTtyDevice::takeLineErrors() {
    if (fd_ < 0 || !haveCounts_) return 0;
    serial_icounter_struct c{};
    if (::ioctl(fd_, TIOCGICOUNT, &c) != 0) return 0;
    uint8_t e = 0;
    const unsigned long overrun = c.overrun + c.buf_overrun;
    if (overrun != lastOverrun_) e |= leOverrun;
    if (static_cast<unsigned long>(c.parity) != lastParity_) e |= leParity;
    if (static_cast<unsigned long>(c.frame) != lastFrame_) e |= leFraming;
    if (static_cast<unsigned long>(c.brk) != lastBreak_) e |= leBreak;
    lastOverrun_ = overrun;
    lastParity_ = c.parity;
    lastFrame_ = c.frame;
    lastBreak_ = c.brk;
    return e;
}

void TOvxTtyDevice::flushInput() {
    if (fd_ >= 0) ::tcflush(fd_, TCIFLUSH);
}

void TOvxTtyDevice::flushOutput() {
    if (fd_ >= 0) ::tcflush(fd_, TCOFLUSH);
}

}  // namespace telvane::transport
