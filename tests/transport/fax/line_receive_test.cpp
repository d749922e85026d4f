// Line tests of call handling through the virtual fax line: receiving a two-page fax that
// spandsp's fax machine sends, a fax cut off in the middle of a page, a busy number with redial,
// a far end that never answers, and cancelling in the middle of a page.
#include <gtest/gtest.h>

#include "support/peers.h"

#include <csignal>
#include <filesystem>
#include <thread>

#include "support/pbm.h"
#include "support/virtualline.h"

using namespace telvane::test;

namespace {

Child startLine(const TempDir& dir, std::vector<std::string> extra) {
    std::vector<std::string> argv = {"--tty", dir / "modem"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return startVirtualLine(dir.pathNoSlash(), argv);
}

}  // namespace

TEST(LineCalls, ReceiveTwoPagesFromTheSoftwareFaxMachine) {
    TELVANE_REQUIRE_PEER(!(!haveProgram("tiffsplit") || !haveProgram("tifftopnm")),
                         "libtiff-tools and netpbm are needed (scripts/deps/faxengine.txt)");
    TempDir dir;
    makePage(dir / "a.ovf", "First page sent by the far end\nwith two lines\n", false, dir);
    makePage(dir / "b.ovf", "Second page, fine resolution\n", true, dir);
    // A two-page TIFF for the far end to send.
    Child conv1 = start({"sh", "-c",
                         "'" + bin("telvane-faxconv") + "' from-fax a.ovf a.tif && '" + bin("telvane-faxconv") +
                             "' from-fax b.ovf b.tif && tiffcp a.tif b.tif two.tif"},
                        dir.pathNoSlash(), "conv");
    ASSERT_EQ(wait(conv1, 60), 0) << slurp(conv1.Err);

    Child line =
        startLine(dir, {"--call", dir / "two.tif", "--id", "SPANDSP SENDER", "--calls", "1", "--answer-after", "1"});
    ASSERT_TRUE(waitForPath(dir / "modem", 10)) << slurp(line.Err);
    std::filesystem::create_directories(dir / "in");
    Child fax = start({bin("telvane-fax"), "receive", "--device", dir / "modem", "--dir", dir / "in", "--one-fax",
                       "--station-id", "TELVANE RX", "--history", dir / "OVEXFAX.HIS", "--log", dir / "rx.log"},
                      dir.pathNoSlash(), "fax");
    const int rc = wait(fax, 90);
    wait(line, 20);
    ASSERT_EQ(rc, 0) << slurp(fax.Err);
    const std::string stored = slurp(fax.Out);
    EXPECT_EQ(stored, dir / "in" + "/FAX0001.OVF\n");
    EXPECT_NE(slurp(fax.Err).find("Received from \"SPANDSP SENDER\""), std::string::npos) << slurp(fax.Err);
    EXPECT_NE(slurp(line.Out).find("result=0 "), std::string::npos) << slurp(line.Out);

    const auto ours = faxPages(dir / "in/FAX0001.OVF", dir);
    const auto theirs = tiffPages(dir / "two.tif", dir);
    ASSERT_EQ(ours.size(), 2u) << slurp(fax.Err) << slurp(line.Out) << slurp(dir / "rx.log");
    ASSERT_EQ(theirs.size(), 2u);
    for (size_t i = 0; i < 2; ++i) EXPECT_EQ(ours[i], theirs[i]) << "page " << i + 1;

    const std::string his = slurp(dir / "OVEXFAX.HIS");
    EXPECT_NE(his.find("Receive " + dir / "in/FAX0001.OVF" + " from SPANDSP SENDER started at "), std::string::npos)
        << his;
    EXPECT_NE(his.find("Receive finished OK at "), std::string::npos) << his;
}

TEST(LineCalls, FaxCutOffMidPageLeavesNoFile) {
    TempDir dir;
    std::string text;
    for (int i = 1; i <= 12; ++i) text += "line " + std::to_string(i) + " of a page that never arrives whole\n";
    makePage(dir / "a.ovf", text, true, dir);
    Child conv = start({bin("telvane-faxconv"), "from-fax", dir / "a.ovf", dir / "a.tif"}, dir.pathNoSlash(), "conv");
    ASSERT_EQ(wait(conv, 60), 0) << slurp(conv.Err);
    Child line = startLine(dir, {"--call", dir / "a.tif", "--calls", "1", "--answer-after", "1"});
    ASSERT_TRUE(waitForPath(dir / "modem", 10)) << slurp(line.Err);
    std::filesystem::create_directories(dir / "in");
    Child fax = start({bin("telvane-fax"), "receive", "--device", dir / "modem", "--dir", dir / "in", "--one-fax"},
                      dir.pathNoSlash(), "fax");
    bool inPage = false;
    for (int i = 0; i < 600 && !inPage; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        inPage = slurp(fax.Err).find("Getting page data") != std::string::npos;
    }
    ASSERT_TRUE(inPage) << slurp(fax.Err);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    signal(line, SIGKILL);  // the line goes dead, as when a USB modem is pulled out
    wait(line, 10);
    const int rc = wait(fax, 60);
    const std::string err = slurp(fax.Err);
    EXPECT_EQ(rc, 1) << err;
    EXPECT_NE(err.find("Removed the incomplete " + dir / "in/FAX0001.OVF"), std::string::npos) << err;
    EXPECT_TRUE(std::filesystem::is_empty(dir / "in")) << err;
}

TEST(LineCalls, BusyNumberIsDialledThreeTimes) {
    TempDir dir;
    makePage(dir / "a.ovf", "busy test\n", false, dir);
    Child line = startLine(dir, {"--answer", "--busy", "3", "--receive", dir / "far-%03d.tif"});
    ASSERT_TRUE(waitForPath(dir / "modem", 10)) << slurp(line.Err);
    Child fax = start({bin("telvane-fax"), "send", "--device", dir / "modem", "--number", "777", "--dial-attempts", "3",
                       "--retry-wait", "1", dir / "a.ovf"},
                      dir.pathNoSlash(), "fax");
    const int rc = wait(fax, 60);
    signal(line, SIGTERM);
    wait(line, 10);
    EXPECT_EQ(rc, 1);
    EXPECT_NE(slurp(fax.Err).find("error -8064: Called fax number was busy"), std::string::npos) << slurp(fax.Err);
    const std::string report = slurp(line.Out);
    size_t busy = 0;
    for (size_t p = report.find(": busy"); p != std::string::npos; p = report.find(": busy", p + 1)) ++busy;
    EXPECT_EQ(busy, 3u) << report;
}

// Nobody answers: the number is dialled again like a busy one, and the fax fails as "did not
// answer", not as busy.
TEST(LineCalls, FarEndThatNeverAnswers) {
    TempDir dir;
    makePage(dir / "a.ovf", "nobody home\n", false, dir);
    Child line = startLine(dir, {"--answer", "--never-answer"});
    ASSERT_TRUE(waitForPath(dir / "modem", 10)) << slurp(line.Err);
    Child fax = start({bin("telvane-fax"), "send", "--device", dir / "modem", "--number", "888", "--dial-wait", "8",
                       "--dial-attempts", "2", "--retry-wait", "1", dir / "a.ovf"},
                      dir.pathNoSlash(), "fax");
    const int rc = wait(fax, 60);
    signal(line, SIGTERM);
    wait(line, 10);
    EXPECT_EQ(rc, 1);
    EXPECT_NE(slurp(fax.Err).find("error -8074: Remote fax did not answer"), std::string::npos) << slurp(fax.Err);
    EXPECT_NE(slurp(fax.Err).find("No answer, waiting until redial..."), std::string::npos) << slurp(fax.Err);
    EXPECT_EQ(slurp(fax.Err).find("Busy, waiting"), std::string::npos) << slurp(fax.Err);
    EXPECT_EQ(slurp(fax.Err).find("was busy"), std::string::npos) << slurp(fax.Err);
}

TEST(LineCalls, CancelMidPage) {
    TempDir dir;
    std::string text;
    for (int i = 0; i < 60; ++i)
        text += "A long page so that cancelling lands in the middle of its data " + std::to_string(i) + "\n";
    Child conv = start(
        {"sh", "-c",
         "printf '%s' \"$0\" > long.txt && '" + bin("telvane-faxconv") + "' to-fax long.txt long.ovf --fine", text},
        dir.pathNoSlash(), "conv");
    ASSERT_EQ(wait(conv, 60), 0) << slurp(conv.Err);
    Child line = startLine(dir, {"--answer", "--receive", dir / "far-%03d.tif"});
    ASSERT_TRUE(waitForPath(dir / "modem", 10)) << slurp(line.Err);
    Child fax = start(
        {bin("telvane-fax"), "send", "--device", dir / "modem", "--number", "999", "--bps", "2400", dir / "long.ovf"},
        dir.pathNoSlash(), "fax");
    ASSERT_TRUE(waitForText(fax.Err, "Sending page data", 60)) << slurp(fax.Err);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    signal(fax, SIGINT);
    const int rc = wait(fax, 30);  // a stuck thread would keep the process alive
    signal(line, SIGTERM);
    wait(line, 10);
    EXPECT_EQ(rc, 1);
    const std::string err = slurp(fax.Err);
    EXPECT_NE(err.find("User abort"), std::string::npos) << err;
    EXPECT_NE(err.find("error -6005: Cancel requested"), std::string::npos) << err;
}
