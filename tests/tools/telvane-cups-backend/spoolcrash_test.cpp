// The backend's write into a user's print spool, killed before each of its system calls that
// change files (open, write, sync, close, rename, unlink, mkdir, chmod; enumerated from a traced
// run and injected one at a time with strace): the spool never holds a job Telvane would open that
// is not the whole document, and the job run again (as CUPS retries it) is stored whole. The
// untouched run syncs the file before it gives it its job name.
#include <gtest/gtest.h>

#include "settings/printspool.h"
#include "support/peers.h"
#include "support/tempdir.h"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using telvane::test::TempDir;

std::string slurpFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class SpoolCrash : public ::testing::Test {
protected:
    void SetUp() override {
        const passwd* pw = getpwuid(geteuid());
        ASSERT_NE(pw, nullptr);
        user_ = pw->pw_name;
        spool_ = telvane::settings::printSpoolDir(user_, pw->pw_dir ? pw->pw_dir : "", tmp_.pathNoSlash().c_str());
        // A document of several write buffers.
        document_ = "%PDF-1.4\n";
        for (int i = 0; document_.size() < 150 * 1024; ++i) document_ += "% filler line " + std::to_string(i) + "\n";
        input_ = tmp_ / "input.pdf";
        std::ofstream(input_, std::ios::binary) << document_;
    }

    // The backend for job 7, under `wrapper` (a strace command line, or nothing); its exit code,
    // or -1 when it was killed.
    int runBackend(const std::string& wrapper) const {
        return telvane::test::runCommand("TELVANE_PRINT_SPOOL='" + tmp_.pathNoSlash() + "' " + wrapper + " '" +
                                         telvane::test::toolPath("telvane-cups-backend") + "' 7 '" + user_ +
                                         "' letter.rtf 1 '' '" + input_ + "' >/dev/null 2>&1");
    }

    // Every name in the spool that Telvane would open holds the whole document; how many there are.
    int completeJobs(const std::string& when) const {
        int jobs = 0;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(spool_, ec)) {
            const std::string name = entry.path().filename().string();
            if (!telvane::settings::isPrintJobName(name)) continue;
            ++jobs;
            EXPECT_EQ(slurpFile(entry.path().string()), document_) << when << ": " << name << " is not the whole job";
        }
        return jobs;
    }

    TempDir tmp_{"telvane-spool-crash"};
    std::string user_, spool_, document_, input_;
};

TEST_F(SpoolCrash, AKillBeforeAnyFileChangeLeavesNoJobOrTheWholeJob) {
    TELVANE_REQUIRE_PEER(telvane::test::haveProgram("strace"), "strace");
    const std::string calls = "openat,unlinkat,mkdir,chmod,fchmod,fchmodat,write,fsync,close,rename,renameat,renameat2";
    const std::string trace = tmp_ / "trace.txt";
    ASSERT_EQ(runBackend("strace -qq -y -o '" + trace + "' -e trace=" + calls), 0);
    ASSERT_EQ(completeJobs("untouched run"), 1);

    // The job's file is synced before it is renamed to its job name.
    std::map<std::string, int> counts;
    bool synced = false, renamedAfterSync = false;
    std::istringstream lines(slurpFile(trace));
    for (std::string line; std::getline(lines, line);) {
        const std::string call = line.substr(0, line.find('('));
        ++counts[call];
        if (call == "fsync" && line.find(".job-7.part") != std::string::npos) synced = true;
        if (call.rfind("rename", 0) == 0 && line.find("job-7-letter.pdf") != std::string::npos)
            renamedAfterSync = synced;
    }
    EXPECT_TRUE(renamedAfterSync) << slurpFile(trace);

    int stops = 0;
    for (const auto& [call, count] : counts) {
        for (int n = 1; n <= count; ++n) {
            const std::string when = "killed before " + call + " #" + std::to_string(n);
            fs::remove_all(spool_);
            const int code = runBackend("strace -qq -o /dev/null -e trace=" + call + " -e inject=" + call +
                                        ":signal=SIGKILL:when=" + std::to_string(n));
            EXPECT_NE(code, 0) << when << ": the run was not stopped";
            ++stops;
            EXPECT_LE(completeJobs(when), 1);
            // CUPS runs the job again: it is stored whole, whatever the killed run left behind.
            EXPECT_EQ(runBackend(""), 0) << when;
            EXPECT_EQ(completeJobs(when + ", then run again"), 1);
        }
    }
    EXPECT_GE(counts["write"], 3);
    EXPECT_GE(counts["fsync"], 1);
    EXPECT_GT(stops, 10);
}

}  // namespace
