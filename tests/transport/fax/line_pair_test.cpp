// Line tests through a pair of virtual modems: our sender to our receiver, our sender to
// efax receiving, and efax sending to our receiver. The received rasters must hold exactly the
// sent rows (efax puts blank rows of its own above the page; those must be white).
#include <gtest/gtest.h>

#include "support/peers.h"

#include <csignal>
#include <filesystem>
#include <fstream>

#include "support/pbm.h"
#include "support/virtualline.h"

using namespace telvane::test;

namespace {

struct Pair {
    TempDir dir;
    Child line;
    Pair() { line = StartVirtualLine(dir.Path(), {"--pair", "--tty", dir / "A", "--tty", dir / "B", "--calls", "1"}); }
    bool Ready() { return WaitForPath(dir / "A", 10) && WaitForPath(dir / "B", 10); }
    ~Pair() {
        Signal(line, SIGTERM);
        Wait(line, 10);
    }
};

}  // namespace

TEST(LinePair, OurSenderToOurReceiver) {
    Pair p;
    ASSERT_TRUE(p.Ready()) << Slurp(p.line.Err);
    MakePage(p.dir / "a.ovf", "From us to us\nthrough two modems\n", false, p.dir);
    MakePage(p.dir / "b.ovf", "Second page, fine\n", true, p.dir);
    std::filesystem::create_directories(p.dir / "in");
    Child rx = Start({Bin("telvane-fax"), "receive", "--device", p.dir / "B", "--dir", p.dir / "in", "--one-fax",
                      "--station-id", "RECEIVER"},
                     p.dir.Path(), "rx");
    Child tx = Start({Bin("telvane-fax"), "send", "--device", p.dir / "A", "--number", "2", "--bps", "14400",
                      "--station-id", "SENDER", p.dir / "a.ovf", p.dir / "b.ovf"},
                     p.dir.Path(), "tx");
    const int txRc = Wait(tx, 90);
    const int rxRc = Wait(rx, 30);
    ASSERT_EQ(txRc, 0) << Slurp(tx.Err);
    ASSERT_EQ(rxRc, 0) << Slurp(rx.Err);
    EXPECT_NE(Slurp(rx.Err).find("Received from \"SENDER\""), std::string::npos) << Slurp(rx.Err);
    const auto sent = FaxPages(p.dir / "a.ovf", p.dir);
    const auto sent2 = FaxPages(p.dir / "b.ovf", p.dir);
    const auto got = FaxPages(p.dir / "in/FAX0001.OVF", p.dir);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], sent.at(0));
    EXPECT_EQ(got[1], sent2.at(0));
}

TEST(LinePair, OurSenderToEfax) {
    TELVANE_REQUIRE_PEER(!(!HaveProgram("efax") || !HaveProgram("efix")),
                         "efax is needed (scripts/deps/faxengine.txt)");
    Pair p;
    ASSERT_TRUE(p.Ready()) << Slurp(p.line.Err);
    MakePage(p.dir / "a.ovf", "From Telvane to efax\n", false, p.dir);
    Child rx = Start({"efax", "-d", p.dir / "B", "-o1", "-l", "EFAX RX", "-r", p.dir / "rx"}, p.dir.Path(), "efax");
    Child tx = Start({Bin("telvane-fax"), "send", "--device", p.dir / "A", "--number", "3", "--bps", "14400",
                      "--station-id", "TELVANE", p.dir / "a.ovf"},
                     p.dir.Path(), "tx");
    const int txRc = Wait(tx, 90);
    const int rxRc = Wait(rx, 30);
    ASSERT_EQ(txRc, 0) << Slurp(tx.Err);
    EXPECT_EQ(rxRc, 0) << Slurp(rx.Err) << Slurp(rx.Out);
    Child conv = Start({"sh", "-c", "efix -i fax -o pbm rx.001 > rx.pbm"}, p.dir.Path(), "efix");
    ASSERT_EQ(Wait(conv, 30), 0) << Slurp(conv.Err);
    const auto sent = FaxPages(p.dir / "a.ovf", p.dir);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(PbmRows(Slurp(p.dir / "rx.pbm"), 0), PbmRows(sent[0], 0));
}

TEST(LinePair, EfaxToOurReceiver) {
    TELVANE_REQUIRE_PEER(!(!HaveProgram("efax") || !HaveProgram("efix")),
                         "efax is needed (scripts/deps/faxengine.txt)");
    Pair p;
    ASSERT_TRUE(p.Ready()) << Slurp(p.line.Err);
    // efax 0.9a divides by the whole seconds a page took on the line (SIGFPE when that is 0):
    // twelve lines of text keep the page on the line for several seconds.
    std::string text = "From efax to Telvane\n";
    for (int i = 2; i <= 12; ++i)
        text += "line " + std::to_string(i) + ": The quick brown fox jumps over the lazy dog\n";
    MakePage(p.dir / "a.ovf", text, false, p.dir);
    const auto sent = FaxPages(p.dir / "a.ovf", p.dir);
    ASSERT_EQ(sent.size(), 1u);
    { std::ofstream(p.dir / "a.pbm", std::ios::binary) << sent[0]; }
    Child conv = Start({"sh", "-c", "efix -i pbm -o fax a.pbm > a.g3"}, p.dir.Path(), "efix");
    ASSERT_EQ(Wait(conv, 30), 0) << Slurp(conv.Err);
    std::filesystem::create_directories(p.dir / "in");
    Child rx = Start({Bin("telvane-fax"), "receive", "--device", p.dir / "B", "--dir", p.dir / "in", "--one-fax",
                      "--station-id", "TELVANE RX"},
                     p.dir.Path(), "rx");
    // A blank header ("-h ' '") keeps efax's header rows white so the whole page can be compared.
    Child tx = Start({"efax", "-d", p.dir / "A", "-o1", "-l", "EFAX TX", "-h", " ", "-t", "4", p.dir / "a.g3"},
                     p.dir.Path(), "efax");
    const int txRc = Wait(tx, 90);
    const int rxRc = Wait(rx, 30);
    EXPECT_EQ(txRc, 0) << Slurp(tx.Err) + Slurp(tx.Out);
    ASSERT_EQ(rxRc, 0) << Slurp(rx.Err);
    EXPECT_NE(Slurp(rx.Err).find("Received from \"EFAX TX\""), std::string::npos) << Slurp(rx.Err);
    const auto got = FaxPages(p.dir / "in/FAX0001.OVF", p.dir);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(ContainsOnWhite(PbmRows(got[0], 0), PbmRows(sent[0], 0)));
}
