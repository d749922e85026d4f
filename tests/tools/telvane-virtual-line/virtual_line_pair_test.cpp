// Two independent fax programs (efax twice) fax each other through the virtual line's modem pair.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/pbm.h"
#include "support/peers.h"
#include "support/virtualline.h"

using namespace telvane::test;
namespace fs = std::filesystem;

TEST(VirtualLinePair, EfaxToEfaxThroughTwoModems) {
    for (const char* tool : {"efax", "efix"}) TELVANE_REQUIRE_PEER(haveProgram(tool), tool << " is not installed");
    TempDir dir;
    writeTestPagePbm(dir / "page.pbm", 2);
    ASSERT_EQ(runCommand("cd " + dir.pathNoSlash() + " && efix -i pbm -o fax page.pbm > page.g3 2>/dev/null"), 0);
    ASSERT_EQ(runCommand("cd " + dir.pathNoSlash() + " && efix -i fax -o pbm page.g3 > sent.pbm 2>/dev/null"), 0);
    VirtualLine line(dir.pathNoSlash(), {"--pair", "--calls", "1"});
    ASSERT_TRUE(fs::exists(line.tty2()));
    const pid_t receiver = fork();
    ASSERT_GE(receiver, 0);
    if (receiver == 0) {
        const std::string cmd = "cd " + dir.pathNoSlash() + " && exec timeout 55 efax -d " + line.tty2() +
                                " -o1 -l 'EFAX B' -r rx > efax-rx.out 2>&1";
        execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const int sendRc = runCommand("cd " + dir.pathNoSlash() + " && timeout 55 efax -d " + line.tty() +
                                  " -o1 -l 'EFAX A' -t 7 page.g3 > efax-tx.out 2>&1");
    int status = 0;
    waitpid(receiver, &status, 0);
    EXPECT_EQ(sendRc, 0) << dir.read("efax-tx.out");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << dir.read("efax-rx.out");
    line.stop();
    ASSERT_TRUE(fs::exists(dir / "rx.001"));
    ASSERT_EQ(runCommand("cd " + dir.pathNoSlash() + " && efix -i fax -o pbm rx.001 > got.pbm 2>/dev/null"), 0);
    PbmImage sent, got;
    ASSERT_TRUE(readPbm(dir / "sent.pbm", sent));
    ASSERT_TRUE(readPbm(dir / "got.pbm", got));
    EXPECT_GE(findRows(sent, got, kEfaxHeaderRows), 0) << "the page received differs from the page sent";
}
