// The virtual fax line in real time: AT smoke test through our own port, call progress
// (busy, abandoned dial, a modem pair), efax sending a two-page fax to the software fax
// machine, and the software fax machine calling efax.
#include <gtest/gtest.h>

#include "support/peers.h"

#include "transport/comport.h"
#include "line_support.h"
#include "transport/modemwait.h"

using namespace telvane::transport;
using namespace telvane::transport::linetest;

TEST(VirtualLine, AnswersAtAndListsClass1ThroughOurPort) {
    const fs::path dir = TempDir("vl-smoke");
    VirtualLine line(dir, {});
    ASSERT_TRUE(fs::exists(line.Tty())) << "the line did not create its tty";
    TOvxComPort port;
    OpenPort(port, line.Tty());
    EXPECT_EQ(Command(port, "AT\r", "OK"), "found");
    WriteString(port, "ATE0\r");
    ASSERT_TRUE(WaitForString(port, "OK", 36, false, true));
    WriteString(port, "AT+FCLASS=?\r");
    ASSERT_TRUE(WaitForString(port, "OK", 36, false, true));
    // WaitForString consumed through OK; the class list came before it. Ask again and peek.
    WriteString(port, "AT+FCLASS=?\r");
    ASSERT_TRUE(WaitForString(port, "0,1,1.0", 36, false, false));
    ASSERT_TRUE(WaitForString(port, "OK", 36, false, true));
    // Garbage does not upset the modem.
    port.PutString(std::string("\x01\xff\x7f garbage +++ \x10\x03\r", 20));
    EXPECT_EQ(Command(port, "AT\r", "OK"), "found");
    // The host closing the tty resets the modem; a new host finds it answering again.
    port.SetOpen(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    port.SetOpen(true);
    EXPECT_EQ(Command(port, "AT\r", "OK"), "found");
    port.SetOpen(false);
    EXPECT_EQ(line.Stop(), 0);
    EXPECT_NE(Slurp(dir / "line.log").find("host> AT+FCLASS=?"), std::string::npos);
    if (!HasFailure()) fs::remove_all(dir);
}

TEST(VirtualLine, BusyThenAbandonedDial) {
    const fs::path dir = TempDir("vl-busy");
    VirtualLine line(dir, {"--busy", "1", "--never-answer"});
    ASSERT_TRUE(fs::exists(line.Tty()));
    TOvxComPort port;
    OpenPort(port, line.Tty());
    EXPECT_EQ(Command(port, "ATE0+FCLASS=1\r", "OK"), "found");
    EXPECT_EQ(Command(port, "ATDT5551234\r", "BUSY", 91), "found");
    WriteString(port, "ATDT5551234\r");
    DelayTicks(20, false);
    EXPECT_EQ(Command(port, "\r", "NO CARRIER"), "found");  // any character ends the dial
    EXPECT_EQ(Command(port, "AT\r", "OK"), "found");
    port.SetOpen(false);
    line.Stop();
    EXPECT_NE(line.Output().find("call 1: busy"), std::string::npos);
    if (!HasFailure()) fs::remove_all(dir);
}

TEST(VirtualLine, ModemPairRingsAnswersAndHangsUp) {
    const fs::path dir = TempDir("vl-pair");
    VirtualLine line(dir, {"--pair"});
    ASSERT_TRUE(fs::exists(line.Tty2()));
    TOvxComPort a, b;
    OpenPort(a, line.Tty());
    OpenPort(b, line.Tty2());
    EXPECT_EQ(Command(a, "ATE0+FCLASS=1\r", "OK"), "found");
    EXPECT_EQ(Command(b, "ATE0+FCLASS=1\r", "OK"), "found");
    WriteString(a, "ATDT42\r");
    EXPECT_TRUE(WaitForString(b, "RING", 36, false, false));
    WriteString(b, "ATA\r");
    // The answering modem connects after its answer tone; the caller once it hears V.21.
    EXPECT_TRUE(WaitForString(b, "CONNECT", 182, false, false));
    EXPECT_TRUE(WaitForString(a, "CONNECT", 182, false, false));
    // The caller is receiving V.21 frames now: a character ends that, then it can hang up.
    EXPECT_EQ(Command(a, "\r", "OK"), "found");
    EXPECT_EQ(Command(a, "ATH\r", "OK"), "found");
    EXPECT_TRUE(WaitForString(b, "NO CARRIER", 91, false, false));
    a.SetOpen(false);
    b.SetOpen(false);
    line.Stop();
    EXPECT_NE(line.Output().find("call 1: pair call ended"), std::string::npos) << line.Output();
    if (!HasFailure()) fs::remove_all(dir);
}

TEST(VirtualLine, EfaxSendsTwoPagesToTheSoftwareFaxMachine) {
    for (const char* tool : {"efax", "efix", "tiffsplit", "tifftopnm"})
        TELVANE_REQUIRE_PEER(HaveTool(tool), tool << " is not installed");
    const fs::path dir = TempDir("vl-efax");
    for (int page = 1; page <= 2; ++page) {
        const std::string base = (dir / ("p" + std::to_string(page))).string();
        WritePagePbm(base + ".pbm", page);
        ASSERT_EQ(Shell("efix -i pbm -o fax " + base + ".pbm > " + base + ".g3 2>/dev/null"), 0);
        // What efax will actually send, decoded back.
        ASSERT_EQ(Shell("efix -i fax -o pbm " + base + ".g3 > " + base + "-sent.pbm 2>/dev/null"), 0);
    }
    VirtualLine line(dir, {"--receive", (dir / "rx-%d.tif").string(), "--id", "SOFT FAX", "--answer-after", "1"});
    ASSERT_TRUE(fs::exists(line.Tty()));
    const std::string efax = "cd " + dir.string() + " && timeout 55 efax -d " + line.Tty().string() +
                             " -o1 -l 'EFAX TEST' -t 5551234 p1.g3 p2.g3 > efax.out 2>&1";
    ASSERT_EQ(Shell(efax), 0) << Slurp(dir / "efax.out");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(line.Stop(), 0);
    const std::string out = line.Output();
    EXPECT_NE(out.find("call 1: received pages=2 remote=\"EFAX TEST\" result=0 (OK)"), std::string::npos) << out;
    ASSERT_TRUE(fs::exists(dir / "rx-1.tif"));
    ASSERT_EQ(Shell("cd " + dir.string() + " && tiffsplit rx-1.tif rxpage"), 0);
    std::vector<fs::path> pages;  // tiffsplit's suffixes differ between versions: take them in order
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind("rxpage", 0) == 0) pages.push_back(e.path());
    std::sort(pages.begin(), pages.end());
    ASSERT_EQ(pages.size(), 2u);
    Pbm sent[2];
    for (int page = 0; page < 2; ++page) {
        const fs::path got = dir / ("got" + std::to_string(page + 1) + ".pbm");
        ASSERT_EQ(
            Shell("tifftopnm " + pages[static_cast<size_t>(page)].string() + " > " + got.string() + " 2>/dev/null"), 0);
        Pbm received;
        ASSERT_TRUE(ReadPbm(dir / ("p" + std::to_string(page + 1) + "-sent.pbm"), sent[page]));
        ASSERT_TRUE(ReadPbm(got, received));
        EXPECT_GE(FindRows(sent[page], received), 0) << "page " << page + 1 << " differs from what was sent";
    }
    EXPECT_NE(sent[0].Rows, sent[1].Rows);
    if (!HasFailure()) fs::remove_all(dir);
}

TEST(VirtualLine, SoftwareFaxMachineCallsAndEfaxReceives) {
    for (const char* tool : {"efax", "efix"}) TELVANE_REQUIRE_PEER(HaveTool(tool), tool << " is not installed");
    const fs::path dir = TempDir("vl-call");
    WritePagePbm(dir / "page.pbm", 3);
    ASSERT_EQ(Shell("cd " + dir.string() + " && efix -i pbm -o tiffg3 page.pbm > page.tif 2>/dev/null"), 0);
    ASSERT_EQ(Shell("cd " + dir.string() + " && efix -i tiffg3 -o pbm page.tif > sent.pbm 2>/dev/null"), 0);
    VirtualLine line(dir,
                     {"--call", (dir / "page.tif").string(), "--id", "SOFT SENDER", "--call-gap", "1", "--calls", "1"});
    ASSERT_TRUE(fs::exists(line.Tty()));
    const std::string efax = "cd " + dir.string() + " && timeout 55 efax -d " + line.Tty().string() +
                             " -o1 -l 'EFAX RX' -r rx > efax.out 2>&1";
    ASSERT_EQ(Shell(efax), 0) << Slurp(dir / "efax.out");
    line.Stop();
    const std::string out = line.Output();
    EXPECT_NE(out.find("call 1: sent pages=1 remote=\"EFAX RX\" result=0 (OK)"), std::string::npos) << out;
    ASSERT_TRUE(fs::exists(dir / "rx.001"));
    ASSERT_EQ(Shell("cd " + dir.string() + " && efix -i fax -o pbm rx.001 > got.pbm 2>/dev/null"), 0);
    Pbm sent, got;
    ASSERT_TRUE(ReadPbm(dir / "sent.pbm", sent));
    ASSERT_TRUE(ReadPbm(dir / "got.pbm", got));
    EXPECT_GE(FindRows(sent, got), 0) << "the received page differs from the TIFF sent";
    if (!HasFailure()) fs::remove_all(dir);
}
