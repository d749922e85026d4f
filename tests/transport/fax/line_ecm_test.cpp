// Line tests of error correction through the virtual fax line at 14400 bit/s: three short pages
// in MMR blocks from us to spandsp's fax machine and from it to us, and a block whose frame is
// spoilt toward our receiver, which must ask for it again (PPR) and store the page whole. Both
// ends must say that every page went in MMR with error correction (telvane-fax's "Coding used:",
// the far end's phase D reports). The stored fax file is read back through telvane-faxconv (the
// viewer's page decoder) and, as raw MH, through netpbm's g3topbm, and every page must equal the
// one sent, pixel for pixel.
#include <gtest/gtest.h>

#include "support/peers.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "faximage/ovffile.h"
#include "support/pbm.h"
#include "support/virtualline.h"

using namespace telvane::test;

namespace {

bool haveTools() {
    return haveProgram("tiffsplit") && haveProgram("tifftopnm") && haveProgram("tiffcp") && haveProgram("g3topbm");
}

// Three short fine pages as p1..p3.ovf and, for the far end, as p1..p3.tif and three.tif (all of
// them). One resolution, so that the pages follow each other in one document (a change of
// resolution costs a new phase B).
std::vector<std::string> makeThreePages(const TempDir& dir) {
    std::vector<std::string> files;
    std::string script;
    const std::string conv = "'" + bin("telvane-faxconv") + "' from-fax ";
    for (int i = 1; i <= 3; ++i) {
        const std::string name = "p" + std::to_string(i);
        const std::string text = "Telvane error correction page " + std::to_string(i) + " of 3\n" +
                                 std::string(static_cast<size_t>(i) * 8, '#') + " the quick brown fox 0123456789\n";
        makePage(dir / (name + ".ovf"), text, true, dir, 6);
        files.push_back(dir / (name + ".ovf"));
        script += conv + name + ".ovf " + name + ".tif && ";
    }
    Child c = start({"sh", "-c", script + "tiffcp p1.tif p2.tif p3.tif three.tif"}, dir.pathNoSlash(), "conv");
    EXPECT_EQ(wait(c, 60), 0) << slurp(c.Err);
    return files;
}

// Two PBM files hold the same page; on a difference only the sizes are shown.
testing::AssertionResult samePage(const std::string& got, const std::string& want) {
    int gw = 0, gh = 0, ww = 0, wh = 0;
    const std::string g = pbmRows(got, 0, &gw, &gh), w = pbmRows(want, 0, &ww, &wh);
    if (!w.empty() && g == w) return testing::AssertionSuccess();
    return testing::AssertionFailure() << gw << "x" << gh << " (" << g.size() << " raster bytes) where " << ww << "x"
                                       << wh << " (" << w.size() << " raster bytes) was sent";
}

// The pages the far end reports (its phase D lines) as exchanged in MMR with error correction.
size_t farEndMmrEcmPages(const std::string& log) {
    size_t n = 0;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const std::string tail = ", MMR, ECM";
        if (line.find("t30 phase D ") != std::string::npos && line.size() >= tail.size() &&
            line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
            ++n;
    }
    return n;
}

std::vector<std::string> pagesOf(const std::vector<std::string>& files, const TempDir& dir) {
    std::vector<std::string> pages;
    for (const auto& f : files)
        for (auto& p : faxPages(f, dir)) pages.push_back(p);
    return pages;
}

// The pages of a fax file as g3topbm reads their MH data (one raw G3 file per page, first bit in
// bit 0 of each byte as on the line), so that a decoder other than ours checks what the receiver
// stored.
std::vector<std::string> g3Pages(const std::string& ovf, const TempDir& dir) {
    using namespace telvane::faximage;
    std::vector<std::string> pages;
    OvfReader reader;
    if (reader.open(ovf) != 0) return pages;
    for (int p = 1; p <= reader.pageCount(); ++p) {
        std::vector<uint8_t> data;
        OvfPageHeader header;
        if (reader.seekPage(p, header) != 0 || reader.readPageData([&data](const uint8_t* d, size_t n) {
                data.insert(data.end(), d, d + n);
                return true;
            }) != 0)
            break;
        const std::string g3 = ovf + "." + std::to_string(p) + ".g3", pbm = g3 + ".pbm";
        std::ofstream(g3, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        Child c =
            start({"sh", "-c", "g3topbm -reversebits '" + g3 + "' > '" + pbm + "'"}, dir.pathNoSlash(), "g3topbm");
        EXPECT_EQ(wait(c, 30), 0) << slurp(c.Err);
        pages.push_back(slurp(pbm));
    }
    return pages;
}

// Runs telvane-fax receive --ecm against the far end sending `tif` (in `dir`) with `faults`.
struct Received {
    int rc = -1;
    Child fax, line;
};
Received receiveFax(const TempDir& dir, const std::string& tif, const std::vector<std::string>& faults) {
    Received r;
    std::vector<std::string> argv = {"--tty",   dir / "modem", "--call",     dir / tif, "--id",  "FAR ECM",
                                     "--calls", "1",           "--call-gap", "1",       "--log", dir / "line.log"};
    argv.insert(argv.end(), faults.begin(), faults.end());
    r.line = startVirtualLine(dir.pathNoSlash(), argv);
    EXPECT_TRUE(waitForPath(dir / "modem", 10)) << slurp(r.line.Err);
    std::filesystem::create_directories(dir / "in");
    r.fax = start({bin("telvane-fax"), "receive", "--ecm", "--device", dir / "modem", "--dir", dir / "in", "--one-fax",
                   "--bps", "14400", "--station-id", "TELVANE RX", "--log", dir / "rx.log"},
                  dir.pathNoSlash(), "fax");
    r.rc = wait(r.fax, 90);
    wait(r.line, 20);
    return r;
}

// The received fax holds the pages of `tif` the far end sent, whoever reads it.
void expectStoredPagesEqualSent(const TempDir& dir, const Received& r, const std::string& tif) {
    EXPECT_EQ(r.rc, 0) << slurp(r.fax.Err) << slurp(dir / "line.log");
    const auto sent = tiffPages(dir / tif, dir);
    ASSERT_FALSE(sent.empty());
    EXPECT_NE(slurp(r.line.Out).find("call 1: sent pages=" + std::to_string(sent.size()) + " "), std::string::npos)
        << slurp(r.line.Out);
    EXPECT_NE(slurp(r.fax.Err).find("Coding used: MMR, ECM"), std::string::npos) << slurp(r.fax.Err);
    EXPECT_EQ(farEndMmrEcmPages(slurp(dir / "line.log")), sent.size()) << slurp(dir / "line.log");
    const std::string stored = dir / "in/FAX0001.OVF";
    const auto decoded = faxPages(stored, dir);
    const auto byG3 = g3Pages(stored, dir);
    ASSERT_EQ(decoded.size(), sent.size()) << slurp(r.fax.Err);
    ASSERT_EQ(byG3.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_TRUE(samePage(decoded[i], sent[i])) << "page " << i + 1 << " as telvane-faxconv reads it";
        EXPECT_TRUE(samePage(byG3[i], sent[i])) << "page " << i + 1 << " as g3topbm reads it";
    }
}

}  // namespace

// Our sender codes the pages in MMR and sends them in error-correction blocks; spandsp's fax
// machine stores exactly the pixels of our pages.
TEST(LineEcm, ThreePagesSentInMmrBlocks) {
    TELVANE_REQUIRE_PEER(haveTools(), "libtiff-tools and netpbm are needed (scripts/deps/faxengine.txt)");
    TempDir dir;
    const auto files = makeThreePages(dir);
    Child line =
        startVirtualLine(dir.pathNoSlash(), {"--tty", dir / "modem", "--answer", "--answer-after", "1", "--receive",
                                             dir / "far-%03d.tif", "--calls", "1", "--log", dir / "line.log"});
    ASSERT_TRUE(waitForPath(dir / "modem", 10)) << slurp(line.Err);
    std::vector<std::string> argv = {bin("telvane-fax"), "send",  "--ecm", "--device",     dir / "modem", "--number",
                                     "5550100",          "--bps", "14400", "--station-id", "TELVANE TEST"};
    argv.insert(argv.end(), files.begin(), files.end());
    Child fax = start(argv, dir.pathNoSlash(), "fax");
    const int rc = wait(fax, 90);
    wait(line, 20);
    ASSERT_EQ(rc, 0) << slurp(fax.Err) << slurp(dir / "line.log");
    EXPECT_NE(slurp(fax.Err).find("Coding used: MMR, ECM"), std::string::npos) << slurp(fax.Err);
    EXPECT_NE(slurp(line.Out).find("call 1: received pages=3 "), std::string::npos) << slurp(line.Out);
    EXPECT_EQ(farEndMmrEcmPages(slurp(dir / "line.log")), 3u) << slurp(dir / "line.log");
    const auto sent = pagesOf(files, dir);
    const auto got = tiffPages(dir / "far-001.tif", dir);
    ASSERT_EQ(sent.size(), 3u);
    ASSERT_EQ(got.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(samePage(got[i], sent[i])) << "page " << i + 1;
}

// spandsp's fax machine sends three pages in MMR blocks; our receiver stores them in the fax
// file's MH, and every reader sees the pages that were sent.
TEST(LineEcm, ThreePagesReceivedInMmrBlocks) {
    TELVANE_REQUIRE_PEER(haveTools(), "libtiff-tools and netpbm are needed (scripts/deps/faxengine.txt)");
    TempDir dir;
    makeThreePages(dir);
    const Received r = receiveFax(dir, "three.tif", {});
    expectStoredPagesEqualSent(dir, r, "three.tif");
}

// The second frame of the block of a one-page fax arrives spoilt: our receiver asks for it again
// (PPR) and the page is stored whole, not with a gap.
TEST(LineEcm, FrameSpoiltTowardOurReceiverIsAskedForAgain) {
    TELVANE_REQUIRE_PEER(haveTools(), "libtiff-tools and netpbm are needed (scripts/deps/faxengine.txt)");
    TempDir dir;
    makeThreePages(dir);
    const Received r = receiveFax(dir, "p1.tif", {"--corrupt-frame", "in:FCD:2"});
    const std::string log = slurp(dir / "line.log");
    EXPECT_NE(log.find("fault: bad FCS on in frame at page speed (FCD #2)"), std::string::npos) << log;
    // Our PPR (final frame, FCF 0xBC) asks for frame 1 of the block alone (the second frame).
    EXPECT_NE(slurp(dir / "rx.log").find("[FF][13][BC][02][00][00]"), std::string::npos);
    expectStoredPagesEqualSent(dir, r, "p1.tif");
}
