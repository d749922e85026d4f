// The virtual line's frame faults inside an error-correction block sent toward the host. A Class 1
// modem hands such frames to its host undecoded, as page data, so the line spoils them as its
// far end sends them: "--corrupt-frame in:FCD:K" must spoil exactly the Kth FCD frame, once, and
// the host (telvane-fax receiving with error correction) must find exactly that frame missing.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/pbm.h"
#include "support/peers.h"
#include "support/virtualline.h"

using namespace telvane::test;

namespace {

// A fine page whose rows all differ (short runs placed by a fixed generator): a few kB in MMR,
// so an error-correction block of it has more than three frames.
std::string busyPagePbm() {
    constexpr int kWidth = 1728, kRows = 16;
    std::vector<uint8_t> bits(kWidth / 8 * kRows);
    uint32_t seed = 12345;
    for (int y = 0; y < kRows; ++y)
        for (int x = 0; x < kWidth / 8; ++x) {
            seed = seed * 1103515245u + 12345u;
            if ((seed >> 16) % 4 == 0) bits[static_cast<size_t>(y * kWidth / 8 + x)] = static_cast<uint8_t>(seed >> 24);
        }
    return pbmFile(kWidth, kRows, bits.data());
}

}  // namespace

TEST(VirtualLineFaults, SpoilsTheNamedFrameOfABlockSentTowardTheHost) {
    TELVANE_REQUIRE_PEER(haveProgram("pnmtotiff"), "netpbm is needed (scripts/deps/faxengine.txt)");
    TempDir dir;
    std::ofstream(dir / "page.pbm", std::ios::binary) << busyPagePbm();
    Child conv = start({"sh", "-c", "pnmtotiff -g3 -xresolution 204 -yresolution 196 page.pbm > page.tif"},
                       dir.pathNoSlash(), "pnmtotiff");
    ASSERT_EQ(wait(conv, 60), 0) << slurp(conv.Err);
    Child line = startVirtualLine(
        dir.pathNoSlash(), {"--tty", dir / "modem", "--call", dir / "page.tif", "--calls", "1", "--call-gap", "1",
                            "--log", dir / "line.log", "--corrupt-frame", "in:FCD:3"});
    ASSERT_TRUE(waitForPath(dir / "modem", 10)) << slurp(line.Err);
    std::filesystem::create_directories(dir / "in");
    Child fax = start({bin("telvane-fax"), "receive", "--ecm", "--device", dir / "modem", "--dir", dir / "in",
                       "--one-fax", "--bps", "14400", "--log", dir / "rx.log"},
                      dir.pathNoSlash(), "fax");
    EXPECT_EQ(wait(fax, 90), 0) << slurp(fax.Err);
    wait(line, 20);
    const std::string log = slurp(dir / "line.log");
    EXPECT_NE(log.find("fault: bad FCS on in frame at page speed (FCD #3)"), std::string::npos) << log;
    EXPECT_EQ(log.find("fault: ", log.find("fault: ") + 1), std::string::npos) << log;  // that frame only
    EXPECT_NE(slurp(line.Out).find("call 1: sent pages=1 "), std::string::npos) << slurp(line.Out);
    // The host's PPR (final frame, FCF 0xBC) names frame 2 of the block alone: bit 2 of the map.
    EXPECT_NE(slurp(dir / "rx.log").find("[FF][13][BC][04][00][00]"), std::string::npos);
}
