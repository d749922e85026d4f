// Line tests: our sender (telvane-fax) through the virtual fax line to spandsp's T.30 fax
// machine, at LINE_BPS. The far end must report success and the TIFF it stored must decode to
// exactly the rasters we sent, page by page, with each page's resolution, in the coding that
// both ends' offers call for (ours and the far end's account of it).
#include <gtest/gtest.h>

#include "support/peers.h"

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "support/pbm.h"
#include "support/virtualline.h"

using namespace telvane::test;

namespace {

std::vector<int> tiffYResolutions(const std::string& tif, const TempDir& dir) {
    Child c = start({"tiffinfo", tif}, dir.pathNoSlash(), "tiffinfo");
    wait(c, 30);
    std::vector<int> res;
    const std::string text = slurp(c.Out);
    const std::regex re("Resolution: [0-9.]+, ([0-9.]+)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it)
        res.push_back(static_cast<int>(std::stod((*it)[1].str())));
    return res;
}

// The options of both ends and the coding the call must use: as our session names it, and as
// the far end's log does.
struct Codings {
    std::vector<std::string> lineOptions, faxOptions;
    std::string ours = "MR", far = "MR";
};

// longPage: 14 lines of text on a fine page, about 26 kB coded.
void sendAndCompare(const std::vector<bool>& fine, long bps, bool longPage = false, const Codings& codings = {}) {
    TELVANE_REQUIRE_PEER(!(!haveProgram("tiffsplit") || !haveProgram("tifftopnm")),
                         "libtiff-tools and netpbm are needed (scripts/deps/faxengine.txt)");
    TempDir dir;
    std::vector<std::string> files;
    for (size_t i = 0; i < fine.size(); ++i) {
        const std::string f = dir / ("p" + std::to_string(i) + ".ovf");
        std::string text =
            "Telvane line test page " + std::to_string(i + 1) + (fine[i] ? " (fine)" : " (standard)") + "\n";
        for (int n = longPage ? 13 : 1; n > 0; --n) text += "The quick brown fox jumps over the lazy dog 0123456789\n";
        makePage(f, text, fine[i], dir, longPage ? 0 : 12);
        files.push_back(f);
    }
    std::vector<std::string> lineArgv = {
        "--tty", dir / "modem", "--answer",    "--receive", dir / "far-%03d.tif", "--calls",
        "1",     "--id",        "FAR MACHINE", "--log",     dir / "line.log"};
    lineArgv.insert(lineArgv.end(), codings.lineOptions.begin(), codings.lineOptions.end());
    Child line = startVirtualLine(dir.pathNoSlash(), lineArgv);
    ASSERT_TRUE(waitForPath(dir / "modem", 10)) << slurp(line.Err);
    std::vector<std::string> argv = {bin("telvane-fax"), "send",         "--device",  dir / "modem",
                                     "--number",         "5550100",      "--bps",     std::to_string(bps),
                                     "--station-id",     "TELVANE TEST", "--history", dir / "OVEXFAX.HIS"};
    argv.insert(argv.end(), codings.faxOptions.begin(), codings.faxOptions.end());
    argv.insert(argv.end(), files.begin(), files.end());
    Child fax = start(argv, dir.pathNoSlash(), "fax");
    const int rc = wait(fax, 120);
    const int lineRc = wait(line, 20);
    EXPECT_EQ(rc, 0) << slurp(fax.Err);
    EXPECT_EQ(lineRc, 0);
    const std::string report = slurp(line.Out);
    EXPECT_NE(report.find("call 1: received pages=" + std::to_string(fine.size())), std::string::npos) << report;
    EXPECT_NE(slurp(fax.Err).find("Coding used: " + codings.ours + "\n"), std::string::npos) << slurp(fax.Err);
    const std::string farLog = slurp(dir / "line.log");
    const std::regex farPage("phase D [^\n]* [0-9]+x[0-9]+, ([^\n]*)");
    std::vector<std::string> farCodings;
    for (auto it = std::sregex_iterator(farLog.begin(), farLog.end(), farPage); it != std::sregex_iterator(); ++it)
        farCodings.push_back((*it)[1].str());
    EXPECT_EQ(farCodings, std::vector<std::string>(fine.size(), codings.far)) << farLog;
    EXPECT_NE(report.find("result=0 "), std::string::npos) << report;
    // The far end reads our TSI exactly, without padding (it strips the blanks in front only).
    EXPECT_NE(report.find("remote=\"TELVANE TEST\" "), std::string::npos) << report;

    std::vector<std::string> sent;
    for (const auto& f : files)
        for (auto& p : faxPages(f, dir)) sent.push_back(p);
    const auto got = tiffPages(dir / "far-001.tif", dir);
    ASSERT_EQ(got.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        int w = 0, h = 0;
        const std::string rows = pbmRows(sent[i], 0, &w, &h);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(got[i], sent[i]) << "page " << i + 1 << " differs (" << w << "x" << h << " sent)";
    }
    const auto yres = tiffYResolutions(dir / "far-001.tif", dir);
    ASSERT_EQ(yres.size(), fine.size());
    for (size_t i = 0; i < fine.size(); ++i) EXPECT_EQ(yres[i] > 150, fine[i]) << "page " << i + 1;
    const std::string his = slurp(dir / "OVEXFAX.HIS");
    EXPECT_NE(his.find(" to 5550100 started at "), std::string::npos) << his;
    EXPECT_NE(his.find("Transmit to FAR MACHINE"), std::string::npos) << his;
}

}  // namespace

TEST(LineSend, OneStandardPage) { sendAndCompare({false}, LINE_BPS); }
TEST(LineSend, OneFinePage) { sendAndCompare({true}, LINE_BPS); }
TEST(LineSend, ThreePagesMixedResolution) { sendAndCompare({false, true, false}, LINE_BPS); }
// A long page is more than the tty holds plus the modem's response time at 9600 bps: the answer
// to it must be awaited for as long as the line needs.
TEST(LineSend, LongFinePage) { sendAndCompare({true}, LINE_BPS, true); }

#if LINE_BPS == 14400
// A far end without error correction gets MR even though we want ECM; offering no 2-D coding
// either, it gets MH (at one speed only: the coding does not depend on it).
TEST(LineSend, FarEndWithoutEcmGetsMrOrMhWithout2D) {
    sendAndCompare({false}, LINE_BPS, false, {{"--no-ecm"}, {"--ecm"}, "MR", "MR"});
    sendAndCompare({false}, LINE_BPS, false, {{"--no-ecm", "--no-2d"}, {"--ecm"}, "MH", "MH"});
}

// A script faxes a PDF in one command: telvane-fax converts it on the fly (leaving no temporary
// file behind), and the far end stores exactly the page telvane-faxconv makes of the document
// (a short page, scaled to the fax width like any other, keeps the call brief).
TEST(LineSend, PdfDocumentInOneCommand) {
    TELVANE_REQUIRE_PEER(!(!haveProgram("gs") || !haveProgram("tiffsplit") || !haveProgram("tifftopnm")),
                         "ghostscript, libtiff-tools and netpbm are needed (scripts/deps/)");
    TempDir dir;
    const std::string pdf = dir / "letter.pdf";
    Child gs = start({"gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pdfwrite", "-dDEVICEWIDTHPOINTS=612",
                      "-dDEVICEHEIGHTPOINTS=180", "-dFIXEDMEDIA", "-sOutputFile=" + pdf, "-c",
                      "/Helvetica findfont 28 scalefont setfont 72 100 moveto (LINE TEST PDF) show showpage"},
                     dir.pathNoSlash(), "gs");
    ASSERT_EQ(wait(gs, 60), 0) << slurp(gs.Err);
    const std::string tmp = dir / "tmp";
    ASSERT_TRUE(std::filesystem::create_directory(tmp));
    ::setenv("TMPDIR", tmp.c_str(), 1);

    Child line = startVirtualLine(
        dir.pathNoSlash(), {"--tty", dir / "modem", "--answer", "--receive", dir / "far-%03d.tif", "--calls", "1"});
    ASSERT_TRUE(waitForPath(dir / "modem", 10)) << slurp(line.Err);
    Child fax = start({bin("telvane-fax"), "send", "--device", dir / "modem", "--number", "5550100", "--bps",
                       std::to_string(LINE_BPS), pdf},
                      dir.pathNoSlash(), "fax");
    const int rc = wait(fax, 120);
    const int lineRc = wait(line, 20);
    ::unsetenv("TMPDIR");
    EXPECT_EQ(rc, 0) << slurp(fax.Err);
    EXPECT_EQ(lineRc, 0);
    const std::string report = slurp(line.Out);
    EXPECT_NE(report.find("call 1: received pages=1 "), std::string::npos) << report;
    EXPECT_TRUE(std::filesystem::is_empty(tmp)) << "temporary files left in " << tmp;

    Child conv =
        start({bin("telvane-faxconv"), "to-fax", pdf, dir / "ref.ovf", "--fine"}, dir.pathNoSlash(), "faxconv");
    ASSERT_EQ(wait(conv, 60), 0) << slurp(conv.Err);
    const auto sent = faxPages(dir / "ref.ovf", dir);
    const auto got = tiffPages(dir / "far-001.tif", dir);
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(got.size(), 1u);
    int w = 0, h = 0;
    ASSERT_FALSE(pbmRows(sent[0], 0, &w, &h).empty());
    EXPECT_EQ(w, 1728);
    EXPECT_EQ(got[0], sent[0]) << "the page received differs from the document's fax page (" << w << "x" << h << ")";
}
#endif
