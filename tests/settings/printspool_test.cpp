// The print spool's places and names: one directory per user that no user name can lead out of,
// job names told from partial files, and a private directory that is made, tightened, or refused.
#include <gtest/gtest.h>

#include "support/tempdir.h"

#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "settings/printspool.h"

namespace {

using telvane::settings::isPrintJobName;
using telvane::settings::makePrivateDir;
using telvane::settings::printSpoolDir;
using telvane::test::TempDir;

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(PrintSpool, EachUserHasOneDirectoryAndNoNameLeadsElsewhere) {
    EXPECT_EQ(printSpoolDir("ann", "/home/ann", nullptr), "/home/ann/.local/share/telvane/printjobs");
    EXPECT_EQ(printSpoolDir("ann", "/home/ann", ""), "/home/ann/.local/share/telvane/printjobs");
    EXPECT_EQ(printSpoolDir("ann", "/home/ann", "/var/spool/telvane"), "/var/spool/telvane/ann");
    for (const char* user : {"", ".", "..", "../bob", "a/b"})
        EXPECT_EQ(printSpoolDir(user, "/home/x", "/var/spool/telvane"), "") << user;
    EXPECT_EQ(printSpoolDir("ann", "", nullptr), "");
    EXPECT_EQ(printSpoolDir("ann", "relative/home", nullptr), "");
}

TEST(PrintSpool, OnlyCompleteJobsAreJobs) {
    for (const char* name : {"job-1.pdf", "job-123.pdf", "job-7.ps"}) EXPECT_TRUE(isPrintJobName(name)) << name;
    for (const char* name : {".job-1.part", "job-.pdf", "job-1.pdf.part", "job-1a.pdf", "job-1.txt", ".watcher.lock",
                             "job-1", "xjob-1.pdf"})
        EXPECT_FALSE(isPrintJobName(name)) << name;
}

TEST(PrintSpool, PrivateDirectoryIsMadeTightenedOrRefused) {
    TempDir tmp;
    const std::string dir = tmp / "a/b/printjobs";
    EXPECT_EQ(makePrivateDir(dir, getuid()), "");
    EXPECT_EQ(modeOf(dir), 0700u);
    EXPECT_EQ(modeOf(tmp / "a"), 0700u);

    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    EXPECT_EQ(makePrivateDir(dir, getuid()), "");
    EXPECT_EQ(modeOf(dir), 0700u);

    ASSERT_EQ(symlink(dir.c_str(), (tmp / "link").c_str()), 0);
    EXPECT_NE(makePrivateDir(tmp / "link", getuid()), "");
    tmp.write("file", "x");
    EXPECT_NE(makePrivateDir(tmp / "file", getuid()), "");
    EXPECT_NE(makePrivateDir(dir, getuid() + 1), "");
    EXPECT_NE(makePrivateDir("relative", getuid()), "");
}

}  // namespace
