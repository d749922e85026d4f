// The virtual fax line in real time: AT smoke test through our own port, call progress
// (busy, abandoned dial, a modem pair), efax sending a two-page fax to the software fax
// machine, and the software fax machine calling efax.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "support/pbm.h"
#include "support/peers.h"
#include "support/virtualline.h"
#include "transport/comport.h"
#include "transport/modemwait.h"

using namespace telvane::transport;
using namespace telvane::test;
namespace fs = std::filesystem;

namespace {

// Sends a command and collects everything up to the final OK/ERROR/BUSY... result.
std::string command(TOvxComPort& port, const std::string& cmd, const std::string& until, int64_t ticks = 36) {
    writeString(port, cmd);
    const bool ok = waitForString(port, until, ticks, false, true);
    return ok ? "found" : "timeout";
}

void openPort(TOvxComPort& port, const std::string& tty) {
    port.setDevicePath(tty);
    port.setAutoOpen(false);
    port.setInSize(8192);
    port.setOutSize(8192);
    port.setHWFlowOptions(hwfUseRTS | hwfRequireCTS);
    port.setOpen(true);
}

}  // namespace

TEST(VirtualLine, AnswersAtAndListsClass1ThroughOurPort) {
    TempDir dir;
    VirtualLine line(dir.pathNoSlash(), {});
    ASSERT_TRUE(fs::exists(line.tty())) << "the line did not create its tty";
    TOvxComPort port;
    openPort(port, line.tty());
    EXPECT_EQ(command(port, "AT\r", "OK"), "found");
    writeString(port, "ATE0\r");
    ASSERT_TRUE(waitForString(port, "OK", 36, false, true));
    writeString(port, "AT+FCLASS=?\r");
    ASSERT_TRUE(waitForString(port, "OK", 36, false, true));
    // WaitForString consumed through OK; the class list came before it. Ask again and peek.
    writeString(port, "AT+FCLASS=?\r");
    ASSERT_TRUE(waitForString(port, "0,1,1.0", 36, false, false));
    ASSERT_TRUE(waitForString(port, "OK", 36, false, true));
    // Garbage does not upset the modem.
    port.putString(std::string("\x01\xff\x7f garbage +++ \x10\x03\r", 20));
    EXPECT_EQ(command(port, "AT\r", "OK"), "found");
    // The host closing the tty resets the modem; a new host finds it answering again.
    port.setOpen(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    port.setOpen(true);
    EXPECT_EQ(command(port, "AT\r", "OK"), "found");
    port.setOpen(false);
    EXPECT_EQ(line.stop(), 0);
    EXPECT_NE(dir.read("line.log").find("host> AT+FCLASS=?"), std::string::npos);
}

TEST(VirtualLine, BusyThenAbandonedDial) {
    TempDir dir;
    VirtualLine line(dir.pathNoSlash(), {"--busy", "1", "--never-answer"});
    ASSERT_TRUE(fs::exists(line.tty()));
    TOvxComPort port;
    openPort(port, line.tty());
    EXPECT_EQ(command(port, "ATE0+FCLASS=1\r", "OK"), "found");
    EXPECT_EQ(command(port, "ATDT5551234\r", "BUSY", 91), "found");
    writeString(port, "ATDT5551234\r");
    delayTicks(20, false);
    EXPECT_EQ(command(port, "\r", "NO CARRIER"), "found");  // any character ends the dial
    EXPECT_EQ(command(port, "AT\r", "OK"), "found");
    port.setOpen(false);
    line.stop();
    EXPECT_NE(line.output().find("call 1: busy"), std::string::npos);
}

TEST(VirtualLine, ModemPairRingsAnswersAndHangsUp) {
    TempDir dir;
    VirtualLine line(dir.pathNoSlash(), {"--pair"});
    ASSERT_TRUE(fs::exists(line.tty2()));
    TOvxComPort a, b;
    openPort(a, line.tty());
    openPort(b, line.tty2());
    EXPECT_EQ(command(a, "ATE0+FCLASS=1\r", "OK"), "found");
    EXPECT_EQ(command(b, "ATE0+FCLASS=1\r", "OK"), "found");
    writeString(a, "ATDT42\r");
    EXPECT_TRUE(waitForString(b, "RING", 36, false, false));
    writeString(b, "ATA\r");
    // The answering modem connects after its answer tone; the caller once it hears V.21.
    EXPECT_TRUE(waitForString(b, "CONNECT", 182, false, false));
    EXPECT_TRUE(waitForString(a, "CONNECT", 182, false, false));
    // The caller is receiving V.21 frames now: a character ends that, then it can hang up.
    EXPECT_EQ(command(a, "\r", "OK"), "found");
    EXPECT_EQ(command(a, "ATH\r", "OK"), "found");
    EXPECT_TRUE(waitForString(b, "NO CARRIER", 91, false, false));
    a.setOpen(false);
    b.setOpen(false);
    line.stop();
    EXPECT_NE(line.output().find("call 1: pair call ended"), std::string::npos) << line.output();
}

TEST(VirtualLine, EfaxSendsTwoPagesToTheSoftwareFaxMachine) {
    for (const char* tool : {"efax", "efix", "tiffsplit", "tifftopnm"})
        TELVANE_REQUIRE_PEER(haveProgram(tool), tool << " is not installed");
    TempDir dir;
    for (int page = 1; page <= 2; ++page) {
        const std::string base = dir / ("p" + std::to_string(page));
        writeTestPagePbm(base + ".pbm", page);
        ASSERT_EQ(runCommand("efix -i pbm -o fax " + base + ".pbm > " + base + ".g3 2>/dev/null"), 0);
        // What efax will actually send, decoded back.
        ASSERT_EQ(runCommand("efix -i fax -o pbm " + base + ".g3 > " + base + "-sent.pbm 2>/dev/null"), 0);
    }
    VirtualLine line(dir.pathNoSlash(), {"--receive", dir / "rx-%d.tif", "--id", "SOFT FAX", "--answer-after", "1"});
    ASSERT_TRUE(fs::exists(line.tty()));
    const std::string efax = "cd " + dir.pathNoSlash() + " && timeout 55 efax -d " + line.tty() +
                             " -o1 -l 'EFAX TEST' -t 5551234 p1.g3 p2.g3 > efax.out 2>&1";
    ASSERT_EQ(runCommand(efax), 0) << dir.read("efax.out");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(line.stop(), 0);
    const std::string out = line.output();
    EXPECT_NE(out.find("call 1: received pages=2 remote=\"EFAX TEST\" result=0 (OK)"), std::string::npos) << out;
    ASSERT_TRUE(fs::exists(dir / "rx-1.tif"));
    ASSERT_EQ(runCommand("cd " + dir.pathNoSlash() + " && tiffsplit rx-1.tif rxpage"), 0);
    std::vector<std::string> pages;  // tiffsplit's suffixes differ between versions: take them in order
    for (const auto& e : fs::directory_iterator(dir.pathNoSlash()))
        if (e.path().filename().string().rfind("rxpage", 0) == 0) pages.push_back(e.path().string());
    std::sort(pages.begin(), pages.end());
    ASSERT_EQ(pages.size(), 2u);
    PbmImage sent[2];
    for (int page = 0; page < 2; ++page) {
        const std::string got = dir / ("got" + std::to_string(page + 1) + ".pbm");
        ASSERT_EQ(runCommand("tifftopnm " + pages[static_cast<size_t>(page)] + " > " + got + " 2>/dev/null"), 0);
        PbmImage received;
        ASSERT_TRUE(readPbm(dir / ("p" + std::to_string(page + 1) + "-sent.pbm"), sent[page]));
        ASSERT_TRUE(readPbm(got, received));
        EXPECT_GE(findRows(sent[page], received, kEfaxHeaderRows), 0)
            << "page " << page + 1 << " differs from what was sent";
    }
    EXPECT_NE(sent[0].bits, sent[1].bits);
}

TEST(VirtualLine, SoftwareFaxMachineCallsAndEfaxReceives) {
    for (const char* tool : {"efax", "efix"}) TELVANE_REQUIRE_PEER(haveProgram(tool), tool << " is not installed");
    TempDir dir;
    writeTestPagePbm(dir / "page.pbm", 3);
    ASSERT_EQ(runCommand("cd " + dir.pathNoSlash() + " && efix -i pbm -o tiffg3 page.pbm > page.tif 2>/dev/null"), 0);
    ASSERT_EQ(runCommand("cd " + dir.pathNoSlash() + " && efix -i tiffg3 -o pbm page.tif > sent.pbm 2>/dev/null"), 0);
    VirtualLine line(dir.pathNoSlash(),
                     {"--call", dir / "page.tif", "--id", "SOFT SENDER", "--call-gap", "1", "--calls", "1"});
    ASSERT_TRUE(fs::exists(line.tty()));
    const std::string efax =
        "cd " + dir.pathNoSlash() + " && timeout 55 efax -d " + line.tty() + " -o1 -l 'EFAX RX' -r rx > efax.out 2>&1";
    ASSERT_EQ(runCommand(efax), 0) << dir.read("efax.out");
    line.stop();
    const std::string out = line.output();
    EXPECT_NE(out.find("call 1: sent pages=1 remote=\"EFAX RX\" result=0 (OK)"), std::string::npos) << out;
    ASSERT_TRUE(fs::exists(dir / "rx.001"));
    ASSERT_EQ(runCommand("cd " + dir.pathNoSlash() + " && efix -i fax -o pbm rx.001 > got.pbm 2>/dev/null"), 0);
    PbmImage sent, got;
    ASSERT_TRUE(readPbm(dir / "sent.pbm", sent));
    ASSERT_TRUE(readPbm(dir / "got.pbm", got));
    EXPECT_GE(findRows(sent, got, kEfaxHeaderRows), 0) << "the received page differs from the TIFF sent";
}
