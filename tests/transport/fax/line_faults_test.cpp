// Line tests with a line that breaks things (telvane-virtual-line's fault options): lost
// frames in either direction, trainings that fail until we fall back, a page that takes more
// than a minute with our MCF lost after it, a modem that stops taking data and a far end that
// hangs up in the middle of a page (page 1, or page 2 of 2). Each call must end the way T.30
// wants: the fax delivered exactly once with the pixels that were sent, or a clear error within
// a bounded time, keeping exactly the pages that were confirmed to the sender.
#include <gtest/gtest.h>

#include "support/peers.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>

#include "support/pbm.h"
#include "support/virtualline.h"

using namespace telvane::test;

namespace {

bool haveTiffTools() { return haveProgram("tiffsplit") && haveProgram("tifftopnm") && haveProgram("pnmtotiff"); }

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

Child startLine(const TempDir& dir, std::vector<std::string> extra) {
    std::vector<std::string> argv = {"--tty", dir / "modem", "--calls", "1", "--log", dir / "line.log"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return startVirtualLine(dir.pathNoSlash(), argv);
}

// Sends one text page at `bps` through a line with `faults`; returns our exit status. `fax`
// receives our side's process (its output).
int sendOnePage(const TempDir& dir, long bps, const std::vector<std::string>& faults, Child& line,
                bool longPage = false, bool ecm = false, Child* fax = nullptr) {
    std::string text = "Telvane fault test page\n";
    for (int n = longPage ? 40 : 3; n > 0; --n) text += "The quick brown fox jumps over the lazy dog 0123456789\n";
    makePage(dir / "p.ovf", text, true, dir, longPage ? 0 : 12);
    std::vector<std::string> extra = {"--answer", "--receive", dir / "far-%03d.tif", "--id", "FAR MACHINE"};
    extra.insert(extra.end(), faults.begin(), faults.end());
    line = startLine(dir, extra);
    if (!waitForPath(dir / "modem", 10)) return -100;
    Child ours = start({bin("telvane-fax"), "send", "--device", dir / "modem", "--number", "5550100", "--bps",
                        std::to_string(bps), "--station-id", "TELVANE TEST", ecm ? "--ecm" : "--no-ecm", dir / "p.ovf"},
                       dir.pathNoSlash(), "fax");
    const int rc = wait(ours, 150);
    wait(line, 20);
    if (fax) *fax = ours;
    return rc;
}

// The far end got our page once, pixel for pixel.
void expectDeliveredOnce(const TempDir& dir, const Child& line) {
    const std::string report = slurp(line.Out);
    EXPECT_NE(report.find("call 1: received pages=1 "), std::string::npos) << report;
    EXPECT_NE(report.find("result=0 "), std::string::npos) << report;
    EXPECT_EQ(report.find("call 2:"), std::string::npos) << report;
    const auto sent = faxPages(dir / "p.ovf", dir);
    const auto got = tiffPages(dir / "far-001.tif", dir);
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(got.size(), 1u) << slurp(dir / "line.log");
    EXPECT_EQ(got[0], sent[0]);
}

// The bit rates at which the far end received pages (its phase D reports).
std::vector<int> farEndRates(const std::string& log) {
    std::vector<int> rates;
    const std::regex re("phase D .*, ([0-9]+) bit/s");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), re); it != std::sregex_iterator(); ++it)
        rates.push_back(std::stoi((*it)[1].str()));
    return rates;
}

}  // namespace

// Our first DCS is lost (the far end hears only TSI and the training), then its CFR to our
// second DCS is lost: each time DCS and TCF are repeated, and the third try gets through.
TEST(LineFaults, LostDcsAndLostCfrAreRecovered) {
    TELVANE_REQUIRE_PEER(haveTiffTools(), "libtiff-tools and netpbm are needed (scripts/deps/faxengine.txt)");
    TempDir dir;
    Child line;
    const int rc = sendOnePage(dir, 14400, {"--drop-frame", "out:DCS", "--drop-frame", "in:CFR"}, line);
    const std::string log = slurp(dir / "line.log");
    ASSERT_EQ(rc, 0) << slurp(dir / "fax.err") << log;
    EXPECT_NE(log.find("fault: dropped out frame"), std::string::npos) << log;
    EXPECT_NE(log.find("fault: dropped in frame"), std::string::npos) << log;
    EXPECT_GE(count(log, "host> AT+FTM=145"), 3u) << log;  // three trainings at the same speed
    expectDeliveredOnce(dir, line);
}

// The far end spoils our first two trainings: we fall back from 14400 to 12000 (V.17) and
// then 9600 (V.29), and the far end receives the page at the rate we named in the last DCS.
TEST(LineFaults, FallBackAfterFttTrainsAtTheChosenRate) {
    TELVANE_REQUIRE_PEER(haveTiffTools(), "libtiff-tools and netpbm are needed (scripts/deps/faxengine.txt)");
    TempDir dir;
    Child line;
    const int rc = sendOnePage(dir, 14400, {"--ftt", "2"}, line);
    const std::string log = slurp(dir / "line.log");
    ASSERT_EQ(rc, 0) << slurp(dir / "fax.err") << log;
    const size_t t145 = log.find("host> AT+FTM=145"), t121 = log.find("host> AT+FTM=121"),
                 t96 = log.find("host> AT+FTM=96");
    ASSERT_NE(t145, std::string::npos) << log;
    ASSERT_NE(t121, std::string::npos) << log;
    ASSERT_NE(t96, std::string::npos) << log;
    EXPECT_LT(t145, t121);
    EXPECT_LT(t121, t96);
    EXPECT_EQ(log.find("host> AT+FTM=97"), std::string::npos) << log;  // 9600 is V.29, as our DCS says
    EXPECT_EQ(farEndRates(log), std::vector<int>{9600}) << log;
    expectDeliveredOnce(dir, line);
}

// A dense fine page at 9600 bit/s takes more than a minute on the line; our MCF to the EOP
// after it is lost, the far end repeats EOP and must get MCF again, not a hang-up.
TEST(LineFaults, DensePageLongerThanAMinuteAndLostMcf) {
    TELVANE_REQUIRE_PEER(haveTiffTools(), "libtiff-tools and netpbm are needed (scripts/deps/faxengine.txt)");
    TempDir dir;
    makeDensePage(dir);
    ASSERT_TRUE(std::filesystem::exists(dir / "dense.tif"));
    Child line =
        startLine(dir, {"--call", dir / "dense.tif", "--answer-after", "1", "--drop-frame", "out:MCF", "--fine-only"});
    ASSERT_TRUE(waitForPath(dir / "modem", 10)) << slurp(line.Err);
    std::filesystem::create_directories(dir / "in");
    Child fax = start({bin("telvane-fax"), "receive", "--device", dir / "modem", "--dir", dir / "in", "--one-fax",
                       "--bps", "9600", "--station-id", "TELVANE RX"},
                      dir.pathNoSlash(), "fax");
    const int rc = wait(fax, 200);
    wait(line, 20);
    const std::string log = slurp(dir / "line.log");
    ASSERT_EQ(rc, 0) << slurp(fax.Err) << log;
    EXPECT_NE(log.find("fault: dropped out frame"), std::string::npos) << log;
    EXPECT_EQ(farEndRates(log), std::vector<int>{9600}) << log;
    const std::string report = slurp(line.Out);
    EXPECT_NE(report.find("result=0 "), std::string::npos) << report << log;
    EXPECT_GE(count(log, "modem< CONNECT"), 1u);

    const auto ours = faxPages(dir / "in/FAX0001.OVF", dir);
    const auto theirs = tiffPages(dir / "dense.tif", dir);
    ASSERT_EQ(ours.size(), 1u) << slurp(fax.Err);
    ASSERT_EQ(theirs.size(), 1u);
    EXPECT_EQ(ours[0], theirs[0]);
    // More than 72000 bytes of page data: over 60 s at 9600 bit/s.
    EXPECT_GT(std::filesystem::file_size(dir / "in/FAX0001.OVF"), 72000u);
}

// The modem stops taking page data and says nothing: the send ends with a time-out error
// instead of hanging, and the far end has no page.
TEST(LineFaults, ModemThatStopsTakingDataEndsTheSend) {
    TempDir dir;
    Child line;
    const int rc = sendOnePage(dir, 9600, {"--stall-after", "3000"}, line, true);
    const std::string err = slurp(dir / "fax.err");
    EXPECT_EQ(rc, 1) << err;  // -1 would mean it had to be killed
    EXPECT_NE(err.find("error -6006: Fatal time out"), std::string::npos) << err;
    EXPECT_NE(slurp(dir / "line.log").find("fault: modem stops taking data"), std::string::npos);
    EXPECT_EQ(slurp(line.Out).find("received pages=1"), std::string::npos) << slurp(line.Out);
}

// The far end hangs up after part of a page: our receiver ends with an error in a bounded
// time and keeps no partial file.
TEST(LineFaults, FarEndHangingUpMidPageLeavesNoFile) {
    TempDir dir;
    std::string text;
    for (int i = 1; i <= 30; ++i) text += "line " + std::to_string(i) + " of a page that is cut off by a hang-up\n";
    makePage(dir / "a.ovf", text, true, dir, 0);
    Child conv = start({bin("telvane-faxconv"), "from-fax", dir / "a.ovf", dir / "a.tif"}, dir.pathNoSlash(), "conv");
    ASSERT_EQ(wait(conv, 60), 0) << slurp(conv.Err);
    Child line = startLine(dir, {"--call", dir / "a.tif", "--answer-after", "1", "--hangup-after", "3000"});
    ASSERT_TRUE(waitForPath(dir / "modem", 10)) << slurp(line.Err);
    std::filesystem::create_directories(dir / "in");
    Child fax = start({bin("telvane-fax"), "receive", "--device", dir / "modem", "--dir", dir / "in", "--one-fax"},
                      dir.pathNoSlash(), "fax");
    const int rc = wait(fax, 90);
    signal(line, SIGTERM);
    wait(line, 10);
    const std::string err = slurp(fax.Err);
    EXPECT_EQ(rc, 1) << err;
    EXPECT_NE(slurp(dir / "line.log").find("fault: far end hangs up"), std::string::npos);
    EXPECT_NE(err.find("Removed the incomplete " + dir / "in/FAX0001.OVF"), std::string::npos) << err;
    EXPECT_TRUE(std::filesystem::is_empty(dir / "in")) << err;
}

// The far end hangs up in the middle of page 2 of 2, after our MCF to page 1: the fax is kept
// with page 1, pixel for pixel, and reported incomplete (exit status 3, history and output).
TEST(LineFaults, FarEndHangingUpInPageTwoKeepsPageOne) {
    TELVANE_REQUIRE_PEER(haveTiffTools() && haveProgram("tiffcp"),
                         "libtiff-tools and netpbm are needed (scripts/deps/faxengine.txt)");
    TempDir dir;
    makePage(dir / "a.ovf", "Page one arrives whole\n", false, dir);
    std::string text;
    for (int i = 1; i <= 30; ++i) text += "line " + std::to_string(i) + " of page two, which is cut off by a hang-up\n";
    makePage(dir / "b.ovf", text, true, dir, 0);
    Child conv = start({"sh", "-c",
                        "'" + bin("telvane-faxconv") + "' from-fax a.ovf a.tif && '" + bin("telvane-faxconv") +
                            "' from-fax b.ovf b.tif && tiffcp a.tif b.tif two.tif"},
                       dir.pathNoSlash(), "conv");
    ASSERT_EQ(wait(conv, 60), 0) << slurp(conv.Err);
    // Page 1 is under 1 kB of page data on the line, page 2 about 39 kB.
    Child line = startLine(dir, {"--call", dir / "two.tif", "--answer-after", "1", "--hangup-after", "10000"});
    ASSERT_TRUE(waitForPath(dir / "modem", 10)) << slurp(line.Err);
    std::filesystem::create_directories(dir / "in");
    Child fax = start({bin("telvane-fax"), "receive", "--device", dir / "modem", "--dir", dir / "in", "--one-fax",
                       "--history", dir / "OVEXFAX.HIS"},
                      dir.pathNoSlash(), "fax");
    const int rc = wait(fax, 90);
    signal(line, SIGTERM);
    wait(line, 10);
    const std::string err = slurp(fax.Err);
    EXPECT_EQ(rc, 3) << err;
    EXPECT_NE(slurp(dir / "line.log").find("fault: far end hangs up"), std::string::npos);
    EXPECT_NE(err.find("Received 1 page from "), std::string::npos) << err;
    EXPECT_NE(err.find("incomplete"), std::string::npos) << err;
    EXPECT_EQ(slurp(fax.Out), dir / "in/FAX0001.OVF\n");
    const auto theirs = tiffPages(dir / "two.tif", dir);
    const auto ours = faxPages(dir / "in/FAX0001.OVF", dir);
    ASSERT_EQ(ours.size(), 1u) << err;
    ASSERT_FALSE(theirs.empty());
    EXPECT_EQ(ours[0], theirs[0]);
    const std::string his = slurp(dir / "OVEXFAX.HIS");
    EXPECT_NE(his.find("Receive incomplete at "), std::string::npos) << his;
    EXPECT_NE(his.find(", 1 page kept"), std::string::npos) << his;
}

// With error correction the page goes out in MMR blocks; the second FCD frame of the block
// arrives with a bad FCS, the far end asks for it again (PPR) and the page is delivered whole.
TEST(LineFaults, EcmFrameSpoiltInsideTheBlockIsSentAgain) {
    TELVANE_REQUIRE_PEER(haveTiffTools(), "libtiff-tools and netpbm are needed (scripts/deps/faxengine.txt)");
    TempDir dir;
    Child line, fax;
    EXPECT_EQ(sendOnePage(dir, 14400, {"--ecm", "--corrupt-frame", "out:FCD:2"}, line, false, true, &fax), 0);
    expectDeliveredOnce(dir, line);
    const std::string log = slurp(dir / "line.log");
    EXPECT_NE(log.find("fault: bad FCS on out frame"), std::string::npos) << log;
    EXPECT_NE(log.find("(FCD #2)"), std::string::npos) << log;
    EXPECT_NE(slurp(fax.Err).find("Coding used: MMR, ECM"), std::string::npos) << slurp(fax.Err);
}
