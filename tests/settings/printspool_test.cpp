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
using telvane::settings::printJobFileName;
using telvane::settings::printJobTitle;
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
    for (const char* name : {"job-1.pdf", "job-123.pdf", "job-7.ps", "job-7-letter.pdf", "job-8-a-b.c.ps"})
        EXPECT_TRUE(isPrintJobName(name)) << name;
    for (const char* name : {".job-1.part", "job-.pdf", "job-1.pdf.part", "job-1a.pdf", "job-1.txt", ".watcher.lock",
                             "job-1", "xjob-1.pdf", "job-1-.pdf", "job--x.pdf", ".job-7-letter.pdf.part"})
        EXPECT_FALSE(isPrintJobName(name)) << name;
}

// A job is stored under the title its program gave, made a safe file name of a bounded length,
// and shown to the user by that title.
TEST(PrintSpool, JobNamesCarryTheirTitleSafely) {
    EXPECT_EQ(printJobFileName("7", "letter.rtf", false), "job-7-letter.pdf");
    EXPECT_EQ(printJobFileName("7", "Invoice 4711 \u2013 Shop", false), "job-7-Invoice 4711 \u2013 Shop.pdf");
    EXPECT_EQ(printJobFileName("8", "chart.ps", true), "job-8-chart.ps");
    EXPECT_EQ(printJobFileName("9", "", false), "job-9.pdf");
    EXPECT_EQ(printJobFileName("9", "   ", false), "job-9.pdf");
    EXPECT_EQ(printJobFileName("10", "../../etc/passwd", false), "job-10-.._.._etc_passwd.pdf");
    EXPECT_EQ(printJobFileName("11", "a\tb\nc\x7f", false), "job-11-a_b_c_.pdf");
    EXPECT_EQ(printJobFileName("12", "v1.2 notes", false), "job-12-v1.2 notes.pdf");  // not an extension
    EXPECT_EQ(printJobFileName("13", ".profile", false), "job-13-.profile.pdf");
    // 79 ASCII bytes and a two-byte character across the 80-byte limit: the character goes whole.
    const std::string longTitle = std::string(79, 'x') + "\xc3\xa9" + "tail";
    EXPECT_EQ(printJobFileName("14", longTitle, false), "job-14-" + std::string(79, 'x') + ".pdf");
    for (const std::string& title : {std::string("letter.rtf"), std::string("../x"), longTitle}) {
        const std::string name = printJobFileName("15", title, false);
        EXPECT_TRUE(isPrintJobName(name)) << name;
        EXPECT_EQ(name.find('/'), std::string::npos) << name;
    }
    EXPECT_EQ(printJobTitle("job-7-letter.pdf"), "letter.pdf");
    EXPECT_EQ(printJobTitle("job-8-a-b.c.ps"), "a-b.c.ps");
    EXPECT_EQ(printJobTitle("job-9.pdf"), "job-9.pdf");
    EXPECT_EQ(printJobTitle("notes.pdf"), "notes.pdf");
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
