// telvane-faxconv run as users run it: conversions both ways, the description of a fax file, its
// exit statuses and messages, and a fax that goes out as a TIFF and comes back in unchanged.
#include <gtest/gtest.h>

#include <filesystem>

#include "faximage/ovffile.h"
#include "faximage/testutil.h"
#include "support/peers.h"

using namespace telvane::faximage;
using namespace faxtest;
using telvane::test::runCapture;
using telvane::test::toolPath;

TEST(FaxconvTool, ConvertsDescribesAndReportsErrors) {
    std::string tool = toolPath("telvane-faxconv");
    TELVANE_REQUIRE_PEER(!(runCapture("test -x " + tool) != 0), "telvane-faxconv is not built");
    TempDir dir;
    std::string out;
    EXPECT_EQ(runCapture(tool + " --help", &out), 0);
    EXPECT_NE(out.find("to-fax"), std::string::npos);
    EXPECT_EQ(runCapture(tool, &out), 2);
    EXPECT_EQ(runCapture(tool + " frobnicate", &out), 2);
    EXPECT_EQ(runCapture(tool + " to-fax only-one-arg", &out), 2);
    EXPECT_EQ(runCapture(tool + " to-fax a.xyz b.ovf", &out), 2);
    EXPECT_EQ(runCapture(tool + " from-fax a.ovf b.jpg", &out), 2);

    writeFile(dir.file("note.txt"), Bytes{'H', 'i', '\f', 'p', '2'});
    ASSERT_EQ(runCapture(tool + " to-fax " + dir.file("note.txt") + " " + dir.file("note.ovf") +
                             " --fine --station-id 'ACME 1'",
                         &out),
              0)
        << out;
    ASSERT_EQ(runCapture(tool + " info " + dir.file("note.ovf"), &out), 0);
    EXPECT_NE(out.find("Pages:             2"), std::string::npos) << out;
    EXPECT_NE(out.find("\"ACME 1\""), std::string::npos) << out;
    EXPECT_NE(out.find("fine, 1728 pels, line records), 32 lines"), std::string::npos) << out;
    {
        // A sender ID with terminal controls is printed escaped.
        OvfWriter w;
        ASSERT_EQ(w.create(dir.file("esc.ovf"), std::string("X\x1b]0;owned\x07\x9b"
                                                            "2J")),
                  0);
        ASSERT_EQ(w.close(), 0);
        ASSERT_EQ(runCapture(tool + " info " + dir.file("esc.ovf"), &out), 0);
        EXPECT_NE(out.find("\"X\\x1B]0;owned\\x07\\x9B2J\""), std::string::npos) << out;
        EXPECT_EQ(out.find('\x1b'), std::string::npos);
        EXPECT_EQ(out.find('\x9b'), std::string::npos);
    }

    for (const char* ext : {"pbm", "bmp", "pcx", "dcx", "tif", "pdf"}) {
        std::string target = dir.file(std::string("note.") + ext);
        EXPECT_EQ(runCapture(tool + " from-fax " + dir.file("note.ovf") + " " + target + " --page 2", &out), 0)
            << ext << out;
        EXPECT_TRUE(std::filesystem::exists(target)) << ext;
    }
    EXPECT_EQ(runCapture(tool + " from-fax " + dir.file("note.ovf") + " " + dir.file("x.pbm") + " --page 3", &out), 1);
    EXPECT_NE(out.find("File is not an OVF file (-8001)"), std::string::npos) << out;
    EXPECT_EQ(runCapture(tool + " info " + dir.file("note.txt"), &out), 1);
    EXPECT_NE(out.find("File is not an OVF file"), std::string::npos) << out;
    EXPECT_EQ(runCapture(tool + " to-fax " + dir.file("missing.bmp") + " " + dir.file("m.ovf"), &out), 1);
    EXPECT_NE(out.find("File not found (-2)"), std::string::npos) << out;

    // A fax rendered to a PBM and back in through TIFF keeps its content.
    ASSERT_EQ(runCapture(tool + " from-fax " + dir.file("note.ovf") + " " + dir.file("all.tif"), &out), 0);
    ASSERT_EQ(runCapture(tool + " to-fax " + dir.file("all.tif") + " " + dir.file("again.ovf") +
                             " --fine --left-margin 0 --no-center",
                         &out),
              0)
        << out;
    EXPECT_EQ(decodeOvf(dir.file("again.ovf"), 2).bits, decodeOvf(dir.file("note.ovf"), 2).bits);
}
