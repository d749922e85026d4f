// Shared data directory and data directory of an installed tree versus the build tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "settings/installpaths.h"
#include "settings/programdir.h"
#include "support/tempdir.h"

namespace fs = std::filesystem;
using namespace telvane;
using namespace telvane::settings;

namespace {

// A scratch tree in which programs are placed as an installation or a build would place them.
struct Tree {
    telvane::test::TempDir scratch{"telvane-install"};
    const std::string root = scratch.pathNoSlash();

    std::string executable(const std::string& dir) const {
        fs::create_directories(root + "/" + dir);
        const std::string exe = root + "/" + dir + "/telvane";
        std::ofstream(exe) << "#!/bin/sh\n";
        return exe;
    }
};

// Restores an environment variable at the end of a test.
struct EnvGuard {
    explicit EnvGuard(const char* name) : name_(name) {
        if (const char* v = std::getenv(name)) old_ = v, had_ = true;
    }
    ~EnvGuard() {
        if (had_)
            ::setenv(name_, old_.c_str(), 1);
        else
            ::unsetenv(name_);
    }
    const char* name_;
    std::string old_;
    bool had_ = false;
};

}  // namespace

TEST(InstallPaths, InstalledTreeUsesPrefixShare) {
    Tree t;
    const std::string exe = t.executable("usr/bin");
    fs::create_directories(t.root + "/usr/share/telvane");
    EXPECT_TRUE(isInstalledLayout(exe));
    EXPECT_EQ(sharedDataDirFor(exe), t.root + "/usr/share/telvane/");
    // A relative or dotted path to the same program finds the same directory.
    EXPECT_EQ(sharedDataDirFor(t.root + "/usr/bin/../bin/telvane"), t.root + "/usr/share/telvane/");
}

TEST(InstallPaths, BuildTreeAndLookalikesUseTheExecutablesDirectory) {
    Tree t;
    // build/bin without a share/telvane beside it: the build tree.
    const std::string buildExe = t.executable("build/bin");
    EXPECT_FALSE(isInstalledLayout(buildExe));
    EXPECT_EQ(sharedDataDirFor(buildExe), t.root + "/build/bin/");
    // share/telvane beside a directory that is not bin/ does not make an install.
    const std::string portable = t.executable("opt/telvane");
    fs::create_directories(t.root + "/opt/share/telvane");
    EXPECT_FALSE(isInstalledLayout(portable));
    EXPECT_EQ(sharedDataDirFor(portable), t.root + "/opt/telvane/");
    // A file named share/telvane is not the directory.
    const std::string odd = t.executable("odd/bin");
    fs::create_directories(t.root + "/odd/share");
    std::ofstream(t.root + "/odd/share/telvane") << "x";
    EXPECT_FALSE(isInstalledLayout(odd));
}

TEST(InstallPaths, InstalledProgramKeepsItsDataInXdgEvenInAWritableBin) {
    EnvGuard home("TELVANE_HOME"), xdg("XDG_DATA_HOME");
    ::unsetenv("TELVANE_HOME");
    Tree t;
    const std::string exe = t.executable("usr/bin");
    fs::create_directories(t.root + "/usr/share/telvane");
    ::setenv("XDG_DATA_HOME", (t.root + "/xdg").c_str(), 1);
    ASSERT_EQ(::access((t.root + "/usr/bin").c_str(), W_OK), 0);
    EXPECT_EQ(resolveProgramDir(exe), t.root + "/xdg/telvane/");
    EXPECT_TRUE(fs::is_directory(t.root + "/xdg/telvane"));
    // The same executable without share/telvane is a portable copy that keeps its data beside it.
    fs::remove_all(t.root + "/usr/share");
    EXPECT_EQ(resolveProgramDir(exe), t.root + "/usr/bin/");
}

TEST(InstallPaths, RunningTestFindsItsOwnExecutable) {
    const std::string self = currentExecutablePath();
    ASSERT_FALSE(self.empty());
    EXPECT_TRUE(fs::equivalent(self, "/proc/self/exe"));
    EXPECT_EQ(sharedDataDir(), sharedDataDirFor(self));
}
