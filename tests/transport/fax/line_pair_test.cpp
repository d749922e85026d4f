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
    Pair() {
        line = startVirtualLine(dir.pathNoSlash(), {"--pair", "--tty", dir / "A", "--tty", dir / "B", "--calls", "1"});
    }
    bool ready() { return waitForPath(dir / "A", 10) && waitForPath(dir / "B", 10); }
    ~Pair() {
        signal(line, SIGTERM);
        wait(line, 10);
    }
};

}  // namespace

TEST(LinePair, OurSenderToOurReceiver) {
    Pair p;
    ASSERT_TRUE(p.ready()) << slurp(p.line.Err);
    makePage(p.dir / "a.ovf", "From us to us\nthrough two modems\n", false, p.dir);
    makePage(p.dir / "b.ovf", "Second page, fine\n", true, p.dir);
    std::filesystem::create_directories(p.dir / "in");
    Child rx = start({bin("telvane-fax"), "receive", "--device", p.dir / "B", "--dir", p.dir / "in", "--one-fax",
                      "--station-id", "RECEIVER"},
                     p.dir.pathNoSlash(), "rx");
    Child tx = start({bin("telvane-fax"), "send", "--device", p.dir / "A", "--number", "2", "--bps", "14400",
                      "--station-id", "SENDER", p.dir / "a.ovf", p.dir / "b.ovf"},
                     p.dir.pathNoSlash(), "tx");
    const int txRc = wait(tx, 90);
    const int rxRc = wait(rx, 30);
    ASSERT_EQ(txRc, 0) << slurp(tx.Err);
    ASSERT_EQ(rxRc, 0) << slurp(rx.Err);
    EXPECT_NE(slurp(rx.Err).find("Received from \"SENDER\""), std::string::npos) << slurp(rx.Err);
    const auto sent = faxPages(p.dir / "a.ovf", p.dir);
    const auto sent2 = faxPages(p.dir / "b.ovf", p.dir);
    const auto got = faxPages(p.dir / "in/FAX0001.OVF", p.dir);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], sent.at(0));
    EXPECT_EQ(got[1], sent2.at(0));
}

TEST(LinePair, OurSenderToEfax) {
    TELVANE_REQUIRE_PEER(!(!haveProgram("efax") || !haveProgram("efix")),
                         "efax is needed (scripts/deps/faxengine.txt)");
    Pair p;
    ASSERT_TRUE(p.ready()) << slurp(p.line.Err);
    makePage(p.dir / "a.ovf", "From Telvane to efax\n", false, p.dir);
    Child rx =
        start({"efax", "-d", p.dir / "B", "-o1", "-l", "EFAX RX", "-r", p.dir / "rx"}, p.dir.pathNoSlash(), "efax");
    Child tx = start({bin("telvane-fax"), "send", "--device", p.dir / "A", "--number", "3", "--bps", "14400",
                      "--station-id", "TELVANE", p.dir / "a.ovf"},
                     p.dir.pathNoSlash(), "tx");
    const int txRc = wait(tx, 90);
    const int rxRc = wait(rx, 30);
    ASSERT_EQ(txRc, 0) << slurp(tx.Err);
    EXPECT_EQ(rxRc, 0) << slurp(rx.Err) << slurp(rx.Out);
    Child conv = start({"sh", "-c", "efix -i fax -o pbm rx.001 > rx.pbm"}, p.dir.pathNoSlash(), "efix");
    ASSERT_EQ(wait(conv, 30), 0) << slurp(conv.Err);
    const auto sent = faxPages(p.dir / "a.ovf", p.dir);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(pbmRows(slurp(p.dir / "rx.pbm"), 0), pbmRows(sent[0], 0));
}

TEST(LinePair, EfaxToOurReceiver) {
    TELVANE_REQUIRE_PEER(!(!haveProgram("efax") || !haveProgram("efix")),
                         "efax is needed (scripts/deps/faxengine.txt)");
    Pair p;
    ASSERT_TRUE(p.ready()) << slurp(p.line.Err);
    // efax 0.9a divides by the whole seconds a page took on the line (SIGFPE when that is 0):
    // twelve lines of text keep the page on the line for several seconds.
    std::string text = "From efax to Telvane\n";
    for (int i = 2; i <= 12; ++i)
        text += "line " + std::to_string(i) + ": The quick brown fox jumps over the lazy dog\n";
    makePage(p.dir / "a.ovf", text, false, p.dir);
    const auto sent = faxPages(p.dir / "a.ovf", p.dir);
    ASSERT_EQ(sent.size(), 1u);
    { std::ofstream(p.dir / "a.pbm", std::ios::binary) << sent[0]; }
    Child conv = start({"sh", "-c", "efix -i pbm -o fax a.pbm > a.g3"}, p.dir.pathNoSlash(), "efix");
    ASSERT_EQ(wait(conv, 30), 0) << slurp(conv.Err);
    std::filesystem::create_directories(p.dir / "in");
    Child rx = start({bin("telvane-fax"), "receive", "--device", p.dir / "B", "--dir", p.dir / "in", "--one-fax",
                      "--station-id", "TELVANE RX"},
                     p.dir.pathNoSlash(), "rx");
    // A blank header ("-h ' '") keeps efax's header rows white so the whole page can be compared.
    Child tx = start({"efax", "-d", p.dir / "A", "-o1", "-l", "EFAX TX", "-h", " ", "-t", "4", p.dir / "a.g3"},
                     p.dir.pathNoSlash(), "efax");
    const int txRc = wait(tx, 90);
    const int rxRc = wait(rx, 30);
    EXPECT_EQ(txRc, 0) << slurp(tx.Err) + slurp(tx.Out);
    ASSERT_EQ(rxRc, 0) << slurp(rx.Err);
    EXPECT_NE(slurp(rx.Err).find("Received from \"EFAX TX\""), std::string::npos) << slurp(rx.Err);
    const auto got = faxPages(p.dir / "in/FAX0001.OVF", p.dir);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(containsOnWhite(pbmRows(got[0], 0), pbmRows(sent[0], 0)));
}
