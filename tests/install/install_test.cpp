// The installed tree: `cmake --install` into a scratch prefix, then what a desktop and a user
// see there, checked with the desktop's own validators and by running the installed programs.
#include <gtest/gtest.h>

#include "support/peers.h"
#include "support/tempdir.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1;
    std::string output;  // standard output and standard error
};

Result run(const std::string& command) {
    Result r;
    r.status = telvane::test::runCapture(command, &r.output);
    return r;
}

std::string readFile(const fs::path& path) { return telvane::test::readFile(path.string()); }

// Width and height from a PNG's IHDR chunk; {0, 0} when the file is no PNG.
std::pair<unsigned, unsigned> pngSize(const fs::path& path) {
    const std::string d = readFile(path);
    if (d.size() < 24 || d.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || d.compare(12, 4, "IHDR") != 0) return {0, 0};
    auto be32 = [&](std::size_t at) {
        return (unsigned(uint8_t(d[at])) << 24) | (unsigned(uint8_t(d[at + 1])) << 16) |
               (unsigned(uint8_t(d[at + 2])) << 8) | unsigned(uint8_t(d[at + 3]));
    };
    return {be32(16), be32(20)};
}

class InstalledTree : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/telvane-prefix-XXXXXX";
        prefix_ = ::mkdtemp(tmpl);
        const Result r = run("cmake --install '" TELVANE_BINARY_DIR "' --prefix '" + prefix_ + "'");
        installOutput_ = r.output;
        installed_ = r.status == 0;
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(prefix_, ec);
    }
    void SetUp() override { ASSERT_TRUE(installed_) << installOutput_; }
    static fs::path at(const std::string& rel) { return fs::path(prefix_) / rel; }

    static inline std::string prefix_;
    static inline std::string installOutput_;
    static inline bool installed_ = false;
};

TEST_F(InstalledTree, EveryProgramHasAManPageAndAnswersHelp) {
    std::set<std::string> programs;
    for (const auto& e : fs::directory_iterator(at("bin"))) programs.insert(e.path().filename().string());
    for (const char* expected : {"telvane", "telvane-db", "telvane-fax", "telvane-faxconv", "telvane-virtual-line"})
        EXPECT_TRUE(programs.count(expected)) << expected << " is not installed";
    for (const std::string& p : programs) {
        SCOPED_TRACE(p);
        const fs::path page = at("share/man/man1/" + p + ".1.gz");
        ASSERT_TRUE(fs::exists(page)) << "no man page";
        // man renders it without complaints, and it has the sections a user looks for.
        const Result man = run("MANWIDTH=80 man --warnings -l '" + page.string() + "' 2>&1 >/dev/null");
        EXPECT_EQ(man.status, 0);
        EXPECT_EQ(man.output, "") << "man warnings";
        const Result text = run("MANWIDTH=80 man -l '" + page.string() + "' 2>/dev/null | col -b");
        for (const char* section : {"SYNOPSIS", "OPTIONS", "EXIT STATUS", "EXAMPLES"})
            EXPECT_NE(text.output.find(section), std::string::npos) << section;
        const Result help =
            run("env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb '" + at("bin/" + p).string() + "' --help");
        EXPECT_EQ(help.status, 0) << help.output;
        EXPECT_NE(help.output.find("Usage"), std::string::npos) << help.output;
    }
    // The ports mapping and the dialout group are explained where a user looks first.
    const Result main = run("MANWIDTH=80 man -l '" + at("share/man/man1/telvane.1.gz").string() + "' | col -b");
    for (const char* topic : {"[Ports]", "Com5=/dev/ttyACM1", "dialout", "TVN.INI", "XDG_DATA_HOME"})
        EXPECT_NE(main.output.find(topic), std::string::npos) << topic;
}

TEST_F(InstalledTree, VersionWithoutDisplayMatchesTheMetadata) {
    // With no display a started program would abort in QApplication: --version must come first.
    const Result v =
        run("env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb '" + at("bin/telvane").string() + "' --version");
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.output, std::string("Telvane ") + TELVANE_VERSION_TEXT + "\n");
    const std::string meta = readFile(at("share/metainfo/org.telvane.Telvane.metainfo.xml"));
    EXPECT_NE(meta.find(std::string("<release version=\"") + TELVANE_VERSION_TEXT + "\""), std::string::npos);
}

TEST_F(InstalledTree, DesktopEntryAndMetadataValidate) {
    const fs::path desktop = at("share/applications/org.telvane.Telvane.desktop");
    const Result d = run("desktop-file-validate '" + desktop.string() + "'");
    EXPECT_EQ(d.status, 0) << d.output;
    EXPECT_EQ(d.output, "") << "desktop-file-validate hints";
    const std::string entry = readFile(desktop);
    for (const char* line : {"Name=Telvane\n", "GenericName=Fax\n", "Exec=telvane\n", "Icon=telvane\n"})
        EXPECT_NE(entry.find(line), std::string::npos) << line;
    const Result a =
        run("appstreamcli validate --no-net '" + at("share/metainfo/org.telvane.Telvane.metainfo.xml").string() + "'");
    EXPECT_EQ(a.status, 0) << a.output;
    // No made-up web address: the project has no home page to name.
    const std::string meta = readFile(at("share/metainfo/org.telvane.Telvane.metainfo.xml"));
    EXPECT_EQ(meta.find("example."), std::string::npos) << meta;
}

TEST_F(InstalledTree, IconInEverySizeAndSharedDirectory) {
    EXPECT_NE(readFile(at("share/icons/hicolor/scalable/apps/telvane.svg")).find("<svg"), std::string::npos);
    for (unsigned size : {16u, 22u, 24u, 32u, 48u, 64u, 128u, 256u}) {
        const std::string dir = std::to_string(size) + "x" + std::to_string(size);
        EXPECT_EQ(pngSize(at("share/icons/hicolor/" + dir + "/apps/telvane.png")), std::make_pair(size, size)) << dir;
    }
    // share/telvane/ marks the install for the programs (and holds the icon for window and tray).
    EXPECT_EQ(pngSize(at("share/telvane/telvane.png")), std::make_pair(256u, 256u));
}

// The print queue's parts: CUPS runs a backend as root only when others may not read or run it,
// which it needs to hand a job to the user who printed it; the PPD is where lpadmin is told.
TEST_F(InstalledTree, PrintQueueBackendAndPpd) {
    const fs::path backend = at("lib/cups/backend/telvane");
    ASSERT_TRUE(fs::exists(backend));
    EXPECT_EQ(fs::status(backend).permissions() & fs::perms::all, fs::perms::owner_all);
    const Result devices = run("'" + backend.string() + "'");
    EXPECT_EQ(devices.status, 0);
    EXPECT_EQ(devices.output.rfind("direct telvane:/ ", 0), 0u) << devices.output;
    const std::string ppd = readFile(at("share/telvane/telvane.ppd"));
    EXPECT_EQ(ppd.rfind("*PPD-Adobe:", 0), 0u);
    EXPECT_NE(ppd.find("*cupsFilter2: \"application/pdf application/pdf 0 -\""), std::string::npos);
}

}  // namespace
