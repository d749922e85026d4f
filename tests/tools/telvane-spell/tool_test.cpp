// telvane-spell run as a program: check, suggest, add, dump and its exit statuses.
#include <gtest/gtest.h>

#include "support/peers.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "compose/spell/spelltest.h"

using namespace telvane::spell::test;

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
};

// Runs the tool with the given arguments and standard input.
ToolRun tool(const TempDir& dir, const std::string& args, const std::string& input) {
    writeAll(dir.file("stdin.txt"), input);
    ToolRun r;
    r.out = telvane::test::commandOutput(telvane::test::toolPath("telvane-spell") + " " + args + " < " +
                                             dir.file("stdin.txt") + " 2>" + dir.file("stderr.txt"),
                                         &r.status);
    return r;
}

}  // namespace

TEST(SpellTool, ChecksAndSuggestsWithTheMainDictionary) {
    TempDir dir;
    ToolRun r =
        tool(dir, "check",
             "Thiss is a tesst, it's the dog's bone; 42 r2d2 caf\xC3\xA9 \xCE\xB1\xCE\xB2\xCE\xB3 \xC5\xBDi\xC5\xBE"
             "ek wrold\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Thiss\ntesst\nwrold\n");
    r = tool(dir, "suggest", "recieve\nRecieve\nthe\n\n");
    EXPECT_EQ(r.status, 0);
    const auto lines = [&] {
        std::vector<std::string> v;
        size_t at = 0;
        while (at < r.out.size()) {
            const size_t nl = r.out.find('\n', at);
            v.push_back(r.out.substr(at, nl - at));
            at = nl + 1;
        }
        return v;
    }();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].substr(0, 17), "recieve\treceive, ");
    EXPECT_EQ(lines[1].substr(0, 17), "Recieve\tReceive, ");
    EXPECT_EQ(lines[3], "\t");  // an empty line has no suggestions

    const std::string three = tool(dir, "suggest --max 3", "recieve\n").out;
    EXPECT_EQ(std::count(three.begin(), three.end(), ','), 2);
}

TEST(SpellTool, AddsToAUserDictionaryAndDumpsIt) {
    TempDir dir;
    const std::string user = dir.file("mine.dct");
    EXPECT_EQ(tool(dir, "add Telvane --user " + user, "").status, 0);
    EXPECT_EQ(tool(dir, "add Zorbly --user " + user, "").status, 0);
    EXPECT_EQ(tool(dir, "add " + std::string(30, 'x') + " --user " + user, "").status, 1);
    EXPECT_EQ(tool(dir, "check", "Telvane zorbly\n").out, "Telvane\nzorbly\n");
    EXPECT_EQ(tool(dir, "check --user " + user, "Telvane zorbly zorblies\n").out, "zorblies\n");
    const ToolRun d = tool(dir, "dump " + user, "");
    EXPECT_EQ(d.status, 0);
    EXPECT_NE(d.out.find("user, used nodes"), std::string::npos);
    EXPECT_NE(d.out.find("\nA\nTELVANE\nZORBLY\n"), std::string::npos) << d.out;
}

TEST(SpellTool, AddNeverFollowsALinkedUserDictionary) {
    TempDir dir;
    const std::string target = dir.file("target.dct"), link = dir.file("tvnu.dct");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);  // dangling
    EXPECT_EQ(tool(dir, "add Telvane --user " + link, "").status, 1);
    struct stat st {};
    EXPECT_NE(::stat(target.c_str(), &st), 0) << "the link's target was created";
    // A link to an existing user dictionary is refused too: the word would be written through it.
    EXPECT_EQ(tool(dir, "add Telvane --user " + target, "").status, 0);
    const std::string before = readAll(target);
    EXPECT_EQ(tool(dir, "add Zorbly --user " + link, "").status, 1);
    EXPECT_EQ(readAll(target), before);
}

TEST(SpellTool, ExitStatusesForBadUse) {
    TempDir dir;
    EXPECT_EQ(tool(dir, "", "").status, 2);
    EXPECT_EQ(tool(dir, "frobnicate", "").status, 2);
    EXPECT_EQ(tool(dir, "check --bogus", "").status, 2);
    EXPECT_EQ(tool(dir, "add word", "").status, 2);  // no --user
    EXPECT_EQ(tool(dir, "--help", "").status, 0);
    EXPECT_EQ(tool(dir, "check --dict " + dir.file("missing.dct"), "x\n").status, 1);
    writeAll(dir.file("junk.dct"), "not a dictionary");
    EXPECT_EQ(tool(dir, "dump " + dir.file("junk.dct"), "").status, 1);
    EXPECT_EQ(tool(dir, "check --user " + dir.file("junk.dct"), "x\n").status, 1);
}
