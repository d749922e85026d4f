// The virtual line's Class 2 modem as a host sees it on the raw tty: page data is flow-controlled
// with XOFF/XON through a bounded buffer and arrives whole at the far end; received data comes
// in reversed bit order until the host sets AT+FBOR; an escape sequence that reaches the modem
// in command state ("+++ATH") is taken as the command after it, as V.250 wants.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "support/pbm.h"
#include "support/peers.h"
#include "support/virtualline.h"

using namespace telvane::test;
namespace fs = std::filesystem;

namespace {

constexpr char kDle = 0x10, kEtx = 0x03, kXon = 0x11, kXoff = 0x13, kDc2 = 0x12;

// The host end of the modem's tty, read into one growing buffer.
class RawHost {
public:
    explicit RawHost(const std::string& tty) {
        fd_ = open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) return;
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~RawHost() {
        if (fd_ >= 0) close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    // Reads what has come within `ms`.
    void pump(int ms) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0) return;
        char buf[4096];
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n > 0) in_.append(buf, static_cast<size_t>(n));
    }
    // Waits for `text` after what was already consumed and consumes through it.
    bool waitFor(const std::string& text, int seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < end) {
            const size_t at = in_.find(text, pos_);
            if (at != std::string::npos) {
                pos_ = at + text.size();
                return true;
            }
            pump(50);
        }
        return false;
    }
    bool sendCommand(const std::string& cmd, const std::string& reply = "OK", int seconds = 5) {
        send(cmd + "\r");
        return waitFor(reply, seconds);
    }
    // Writes what the tty takes now; returns how many bytes it took.
    size_t send(const std::string& data) {
        const ssize_t n = write(fd_, data.data(), data.size());
        return n > 0 ? static_cast<size_t>(n) : 0;
    }
    // Page data after the next CONNECT up to DLE ETX, DLE DLE undone.
    bool readPage(std::string& page, int seconds) {
        if (!waitFor("CONNECT\r\n", seconds)) return false;
        send(std::string(1, kDc2));
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        page.clear();
        while (std::chrono::steady_clock::now() < end) {
            while (pos_ < in_.size()) {
                const char c = in_[pos_];
                if (c != kDle) {
                    page += c;
                    ++pos_;
                    continue;
                }
                if (pos_ + 1 >= in_.size()) break;
                pos_ += 2;
                if (in_[pos_ - 1] == kEtx) return true;
                page += in_[pos_ - 1];
            }
            pump(50);
        }
        return false;
    }
    const std::string& seen() const { return in_; }
    size_t consumed() const { return pos_; }

private:
    int fd_ = -1;
    std::string in_;
    size_t pos_ = 0;
};

// T.4 one-dimensional data, bits in line order (the first bit is a byte's least significant).
class T4Writer {
public:
    void bits(const char* code) {
        for (const char* c = code; *c; ++c) bit(*c == '1');
    }
    // An EOL placed so that it ends on a byte boundary (fill before it), then a white row.
    void whiteRow() {
        while ((bits_ + 12) % 8 != 0) bit(false);
        bits("000000000001");
        bits("010011011");  // white make-up 1728
        bits("00110101");   // white terminating 0
    }
    void rtc() {
        for (int i = 0; i < 6; ++i) bits("000000000001");
        while (bits_ % 8 != 0) bit(false);
    }
    std::string escaped() const {
        std::string out;
        for (char c : data_) {
            if (c == kDle) out += kDle;
            out += c;
        }
        return out;
    }

private:
    void bit(bool one) {
        if (bits_ % 8 == 0) data_ += '\0';
        if (one) data_.back() = static_cast<char>(data_.back() | (1 << (bits_ % 8)));
        ++bits_;
    }
    std::string data_;
    size_t bits_ = 0;
};

uint8_t reversed(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        if (b & (1 << i)) r = static_cast<uint8_t>(r | (0x80 >> i));
    return r;
}

// EOLs (eleven zeros, then a one) read in line order that follow the previous one after exactly
// `rowBits` bits: most rows of an all-white page in the right bit order, none in the wrong one.
int rowsInLineOrder(const std::string& data, size_t rowBits) {
    int rows = 0, zeros = 0;
    size_t last = 0;
    for (size_t i = 0; i < data.size() * 8; ++i) {
        const bool one = (static_cast<uint8_t>(data[i / 8]) >> (i % 8)) & 1;
        if (one && zeros >= 11) {
            if (last != 0 && i - last == rowBits) ++rows;
            last = i;
        }
        zeros = one ? 0 : zeros + 1;
    }
    return rows;
}

}  // namespace

// 8000 bytes of page data at 9600 bit/s against a 4 kB buffer: the modem must say XOFF and then
// XON again, and the far end must get every row.
TEST(VirtualClass2Modem, PageDataIsFlowControlledAndArrivesWhole) {
    TELVANE_REQUIRE_PEER(haveProgram("tifftopnm"), "libtiff-tools are needed (scripts/deps/faxengine.txt)");
    TempDir dir;
    VirtualLine line(dir.pathNoSlash(), {"--class", "2", "--answer", "--answer-after", "1", "--calls", "1", "--receive",
                                         dir / "far-%d.tif"});
    RawHost host(line.tty());
    ASSERT_TRUE(host.ok());
    ASSERT_TRUE(host.sendCommand("ATE0"));
    ASSERT_TRUE(host.sendCommand("AT+FCLASS=2"));
    ASSERT_TRUE(host.sendCommand("AT+FLO=?", "(0-2)"));
    ASSERT_TRUE(host.sendCommand("AT+FLO=1"));
    ASSERT_TRUE(host.sendCommand("AT+FDIS=0,3,0,2,0,0,0,0"));
    ASSERT_TRUE(host.sendCommand("ATD5550100", "+FDIS:", 30)) << host.seen();
    ASSERT_TRUE(host.waitFor("OK", 10));
    ASSERT_TRUE(host.sendCommand("AT+FDT", "CONNECT\r\n", 30)) << host.seen();
    ASSERT_TRUE(host.waitFor(std::string(1, kXon), 5)) << "no XON after CONNECT";

    constexpr int kRows = 2000;
    T4Writer t4;
    for (int i = 0; i < kRows; ++i) t4.whiteRow();
    t4.rtc();
    const std::string data = t4.escaped() + kDle + kEtx;
    size_t sent = 0;
    bool held = false, sawXoff = false, sawXonAfterXoff = false;
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (sent < data.size() && std::chrono::steady_clock::now() < guard) {
        const size_t before = host.seen().size();
        host.pump(held ? 50 : 0);
        for (size_t i = before; i < host.seen().size(); ++i) {
            if (host.seen()[i] == kXoff) held = sawXoff = true;
            if (host.seen()[i] == kXon && held) {
                held = false;
                sawXonAfterXoff = true;
            }
        }
        if (!held) sent += host.send(data.substr(sent, std::min<size_t>(256, data.size() - sent)));
        if (!held && sent < data.size()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(sent, data.size());
    EXPECT_TRUE(sawXoff) << "the modem took a whole page into a 4 kB buffer";
    EXPECT_TRUE(sawXonAfterXoff);
    ASSERT_TRUE(host.waitFor("OK", 30)) << host.seen().substr(host.consumed());
    ASSERT_TRUE(host.sendCommand("AT+FET=2", "+FPTS:1", 60)) << host.seen().substr(host.consumed());
    ASSERT_TRUE(host.waitFor("+FHNG:", 30));
    // An escape sequence in command state: the command after it counts.
    host.send("+++ATH\r");
    EXPECT_TRUE(host.waitFor("OK", 5)) << host.seen().substr(host.consumed());

    line.stop();
    EXPECT_NE(line.output().find("call 1: received pages=1 "), std::string::npos) << line.output();
    ASSERT_EQ(runCommand("tifftopnm " + dir / "far-1.tif" + " > " + dir / "far.pbm" + " 2>/dev/null"), 0);
    PbmImage got;
    ASSERT_TRUE(readPbm(dir / "far.pbm", got));
    EXPECT_EQ(got.height, kRows);
    EXPECT_EQ(got.bits.find_first_not_of('\0'), std::string::npos) << "the white page has black pixels";
}

// The far end sends the same all-white page twice: the first is handed over in reversed bit order
// (no AT+FBOR yet), the second, after AT+FBOR=0, in line order.
TEST(VirtualClass2Modem, ReceivedDataIsReversedUntilTheHostSetsTheBitOrder) {
    TELVANE_REQUIRE_PEER(haveProgram("pnmtotiff") && haveProgram("tiffcp"),
                         "libtiff-tools and netpbm are needed (scripts/deps/faxengine.txt)");
    TempDir dir;
    const std::string white(1728 / 8 * 200, '\0');
    ASSERT_TRUE(writePbm(dir / "white.pbm", 1728, 200, white.data()));
    ASSERT_EQ(runCommand("cd " + dir.pathNoSlash() +
                         " && pnmtotiff -g3 white.pbm > w.tif 2>/dev/null && tiffcp w.tif w.tif two.tif"),
              0);
    VirtualLine line(dir.pathNoSlash(), {"--class", "2", "--call", dir / "two.tif", "--calls", "1", "--call-gap", "1"});
    RawHost host(line.tty());
    ASSERT_TRUE(host.ok());
    ASSERT_TRUE(host.sendCommand("ATE0"));
    ASSERT_TRUE(host.sendCommand("AT+FCLASS=2"));
    ASSERT_TRUE(host.sendCommand("AT+FCR=1"));
    ASSERT_TRUE(host.waitFor("RING", 30));
    ASSERT_TRUE(host.sendCommand("ATA", "+FDCS:", 30)) << host.seen();
    ASSERT_TRUE(host.waitFor("OK", 10));
    std::string first, second;
    host.send("AT+FDR\r");
    ASSERT_TRUE(host.readPage(first, 60)) << host.seen();
    ASSERT_TRUE(host.waitFor("OK", 10));
    ASSERT_TRUE(host.sendCommand("AT+FBOR=0"));
    host.send("AT+FDR\r");
    ASSERT_TRUE(host.readPage(second, 60)) << host.seen();
    line.stop();

    // spandsp writes each white row as EOL, make-up 1728 and terminating 0: 29 bits.
    EXPECT_GT(rowsInLineOrder(second, 29), 150);
    EXPECT_LT(rowsInLineOrder(first, 29), 10);
    ASSERT_EQ(first.size(), second.size());
    for (size_t i = 0; i < first.size(); ++i)
        ASSERT_EQ(static_cast<uint8_t>(first[i]), reversed(static_cast<uint8_t>(second[i]))) << "byte " << i;
}
