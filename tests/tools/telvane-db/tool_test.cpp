// telvane-db, run as users run it: output, exit codes, and files left sound after bad input.
#include "records/table.h"
#include "records/test_util.h"

#include <gtest/gtest.h>

#include "support/peers.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace telvane::records {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

struct Result {
    int code;
    std::string out;
};

// Runs telvane-db with the arguments (already quoted) and optional standard input; wrapper
// is put in front of the command (e.g. a resource limit).
Result run(const std::string& args, const std::string& input = "", const TempDir* dir = nullptr,
           const std::string& wrapper = "") {
    std::string cmd = wrapper + telvane::test::toolPath("telvane-db") + " " + args;
    if (!input.empty() && dir) {
        writeFile(dir->file("input.jsonl"), input);
        cmd += " < " + dir->file("input.jsonl");
    }
    Result r{-1, ""};
    r.code = telvane::test::runCapture(cmd, &r.out);
    return r;
}

TEST(TelvaneDb, CreateAppendDumpDeletePack) {
    TempDir dir;
    Result r = run("create " + dir.path());
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_NE(r.out.find("TVNPB.DBF created"), std::string::npos);
    const std::string tvn = dir.file("TVN.DBF");
    r = run("append " + tvn,
            "{\"SUBJECT\": \"Old \\u00e9\", \"DATESENT\": \"2024-01-02\", \"TIMESENT\": \"10:00\", \"PAGES\": 3, "
            "\"SENT\": true}\n"
            "{\"SUBJECT\": \"New\", \"DATESENT\": \"20250101\", \"RTFDOC\": \"{\\\\rtf1 doc}\"}\n",
            &dir);
    ASSERT_EQ(r.code, 0) << r.out;
    r = run("dump " + tvn + " --json --order DATESENT");
    ASSERT_EQ(r.code, 0) << r.out;
    const size_t newPos = r.out.find("\"SUBJECT\": \"New\""), oldPos = r.out.find("\"SUBJECT\": \"Old é\"");
    ASSERT_NE(newPos, std::string::npos) << r.out;
    ASSERT_NE(oldPos, std::string::npos) << r.out;
    EXPECT_LT(newPos, oldPos) << "descending tag: newest first";
    EXPECT_NE(r.out.find("\"RTFDOC\": \"{\\\\rtf1 doc}\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"PAGES\": 3"), std::string::npos) << r.out;
    r = run("delete " + tvn + " 1");
    ASSERT_EQ(r.code, 0) << r.out;
    r = run("dump " + tvn + " --csv");
    EXPECT_EQ(r.out.find("Old"), std::string::npos) << "marked records are left out";
    r = run("dump " + tvn + " --csv --all");
    EXPECT_NE(r.out.find("1,*,Old é,T,2024-01-02,10:00"), std::string::npos) << r.out;
    r = run("pack " + tvn);
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("1 record(s) removed, 1 left"), std::string::npos) << r.out;
    r = run("info " + tvn);
    EXPECT_NE(r.out.find("Records: 1 (1 live, 0 marked for deletion)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("DATESENT  key \"DTOS(DATESENT)+TIMESENT\"  for \".not. deleted()\"  descending  length 13"),
              std::string::npos)
        << r.out;
}

TEST(TelvaneDb, BadInputAddsNothing) {
    TempDir dir;
    ASSERT_EQ(run("create " + dir.path()).code, 0);
    const std::string pb = dir.file("TVNPB.DBF");
    const std::string before = readFile(pb);
    Result r = run("append " + pb, "{\"NAME\": \"ok\"}\n{\"NAME\": \"broken\"\n", &dir);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("line 2"), std::string::npos) << r.out;
    r = run("append " + pb, "{\"NAME\": \"ok\"}\n{\"NOSUCH\": 1}\n", &dir);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("record 2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("NOSUCH"), std::string::npos) << r.out;
    r = run("append " + dir.file("TVNREC.DBF"), "{\"PAGES\": 123}\n", &dir);
    EXPECT_EQ(r.code, 1) << "too wide for N(2)";
    EXPECT_EQ(readFile(pb), before);
    r = run("delete " + pb + " 5");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("has no record 5"), std::string::npos);
}

TEST(TelvaneDb, CheckAndReindex) {
    TempDir dir;
    ASSERT_EQ(run("create " + dir.path()).code, 0);
    const std::string rec = dir.file("TVNREC.DBF");
    ASSERT_EQ(run("append " + rec, "{\"FROM\": \"b\"}\n{\"FROM\": \"a\"}\n", &dir).code, 0);
    Result r = run("check " + rec);
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_NE(r.out.find("agree"), std::string::npos);
    // An index from before the last append: stale.
    const std::string cdx = readFile(dir.file("TVNREC.CDX"));
    ASSERT_EQ(run("append " + rec, "{\"FROM\": \"c\"}\n", &dir).code, 0);
    writeFile(dir.file("TVNREC.CDX"), cdx);
    r = run("check " + rec);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("2 keys where the table gives 3"), std::string::npos) << r.out;
    r = run("reindex " + rec);
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_NE(r.out.find("3 tag(s)"), std::string::npos) << r.out;
    r = run("check " + rec);
    EXPECT_EQ(r.code, 0) << r.out;
    r = run("dump " + rec + " --order FROM --json");
    EXPECT_LT(r.out.find("\"c\""), r.out.find("\"a\"")) << "FROM is descending";
    writeFile(dir.file("TVNREC.DBF"), "garbage");
    r = run("check " + rec);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("TVNREC.DBF"), std::string::npos);
}

// A table of n records whose index (three tags over random 60-character names) is several
// times larger than the table file.
void makeBigIndexTable(const std::string& path, int n) {
    Table::create(path, {{"NAME", FieldType::Character, 60, 0}});
    auto t = Table::open(path);
    std::mt19937 rng(3);
    for (int i = 0; i < n; ++i) {
        std::string name(60, ' ');
        for (char& c : name) c = char('a' + rng() % 26);
        t->appendRecord(" " + name);
    }
    t->addTag("NAME", "NAME", "", false);
    t->addTag("UNAME", "UPPER(NAME)", "", true);
    t->addTag("RNAME", "RIGHT(NAME,59)", "", false);
}

TEST(TelvaneDb, FullDiskWhileWritingTheIndexIsAWarningOnce) {
    TempDir dir;
    const std::string path = dir.file("T.DBF");
    makeBigIndexTable(path, 10000);
    const size_t dbf = readFile(path).size();
    ASSERT_GT(readFile(dir.file("T.CDX")).size(), 2 * dbf);
    // Room for the new rows but not for an index.
    const std::string limit = "prlimit --fsize=" + std::to_string(dbf + 100000) + " ";
    Result r = run("append " + path, "{\"NAME\": \"first\"}\n{\"NAME\": \"second\"}\n", &dir, limit);
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_NE(r.out.find("2 record(s) added"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("warning: the index could not be written"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("T.CDX"), std::string::npos) << r.out;
    size_t warnings = 0;
    for (size_t at = r.out.find("warning:"); at != std::string::npos; at = r.out.find("warning:", at + 1)) ++warnings;
    EXPECT_EQ(warnings, 1u) << r.out;
    EXPECT_FALSE(test::exists(dir.file("T.CDX.tmp")));
    // The next run under the same limit opens the table as usual and adds its rows.
    r = run("append " + path, "{\"NAME\": \"third\"}\n", &dir, limit);
    EXPECT_EQ(r.code, 0) << r.out;
    r = run("reindex " + path, "", nullptr, limit);
    EXPECT_EQ(r.code, 1) << "writing the index is all reindex does: " << r.out;
    EXPECT_NE(r.out.find("was not written"), std::string::npos) << r.out;
    // The stale index on disk is seen, and rebuilt once there is room.
    r = run("check " + path);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("10000 keys where the table gives 10003"), std::string::npos) << r.out;
    r = run("info " + path);
    EXPECT_NE(r.out.find("Records: 10003"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("keys 10003"), std::string::npos) << r.out;
    EXPECT_EQ(run("reindex " + path).code, 0);
    r = run("check " + path);
    EXPECT_EQ(r.code, 0) << r.out;
}

TEST(TelvaneDb, ReadingCommandsChangeNoFile) {
    TempDir dir;
    ASSERT_EQ(run("create " + dir.path()).code, 0);
    const std::string pb = dir.file("TVNPB.DBF");
    ASSERT_EQ(run("append " + pb, "{\"NAME\": \"Ann\"}\n{\"NAME\": \"Bob\"}\n{\"NAME\": \"Cy\"}\n", &dir).code, 0);
    // The header counts one record too few.
    std::string dbf = readFile(pb);
    dbf[4] = char(2);
    writeFile(pb, dbf);
    writeFile(dir.file("TVNPB.CDX.tmp"), "partial");
    const std::string cdx = readFile(dir.file("TVNPB.CDX"));
    Result r = run("info " + pb);
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_NE(r.out.find("Records: 2"), std::string::npos) << r.out;
    r = run("dump " + pb + " --csv");
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_NE(r.out.find("Bob"), std::string::npos) << r.out;
    r = run("check " + pb);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("bytes after the last record"), std::string::npos) << r.out;
    EXPECT_EQ(readFile(pb), dbf) << "the last record is still in the file";
    EXPECT_EQ(readFile(dir.file("TVNPB.CDX")), cdx);
    EXPECT_TRUE(test::exists(dir.file("TVNPB.CDX.tmp")));
}

TEST(TelvaneDb, DumpMarksAnUnreadableMemoAndGoesOn) {
    TempDir dir;
    ASSERT_EQ(run("create " + dir.path()).code, 0);
    const std::string tvn = dir.file("TVN.DBF");
    ASSERT_EQ(run("append " + tvn,
                  "{\"SUBJECT\": \"one\", \"RTFDOC\": \"doc one\"}\n"
                  "{\"SUBJECT\": \"two\", \"RTFDOC\": \"doc two\"}\n"
                  "{\"SUBJECT\": \"three\", \"RTFDOC\": \"doc three\"}\n",
                  &dir)
                  .code,
              0);
    // The second memo claims more bytes than the memo file holds.
    std::string fpt = readFile(dir.file("TVN.FPT"));
    const size_t at = fpt.find("doc two");
    ASSERT_NE(at, std::string::npos);
    fpt[at - 4] = char(0x7F);
    writeFile(dir.file("TVN.FPT"), fpt);
    const Result r = run("dump " + tvn);
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_NE(r.out.find("doc one"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("RTFDOC: <unreadable memo>"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("doc three"), std::string::npos) << "records after the bad memo are listed: " << r.out;
    EXPECT_NE(r.out.find("record 2, field RTFDOC"), std::string::npos) << r.out;
}

// Records left after the table's end by an append that did not complete (a kill or a power cut
// between the record and its count): check says so and finds nothing lost, the next open keeps
// them in numbered copies, and recover puts them back once.
TEST(TelvaneDb, InterruptedAppendsAreNotedAndTheirRecordsRecovered) {
    TempDir dir;
    ASSERT_EQ(run("create " + dir.path()).code, 0);
    const std::string pb = dir.file("TVNPB.DBF");
    ASSERT_EQ(run("append " + pb, "{\"NAME\": \"Ann\"}\n", &dir).code, 0);
    const auto leaveBehind = [&](const std::string& name) {
        std::string dbf = readFile(pb);
        dbf.pop_back();
        dbf += " " + name + std::string(35 - name.size(), ' ') + "555-0100" + std::string(17, ' ') + "\x1A";
        writeFile(pb, dbf);
    };
    leaveBehind("Bob");
    Result r = run("check " + pb);
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_NE(r.out.find("agree"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("note: " + pb + ": 62 bytes after the last record"), std::string::npos) << r.out;
    ASSERT_EQ(run("info " + pb).code, 0);
    r = run("delete " + pb + " 1");  // opened for writing: the bytes are set aside
    EXPECT_NE(r.out.find("a copy is in " + pb + ".extra"), std::string::npos) << r.out;
    leaveBehind("Cy");
    ASSERT_EQ(run("pack " + pb).code, 0);
    EXPECT_TRUE(test::exists(pb + ".extra.2")) << "an earlier copy is never replaced";
    r = run("check " + pb);
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_NE(r.out.find("TVNPB.DBF.extra: 1 whole record(s)"), std::string::npos) << r.out;
    r = run("recover " + pb);
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_NE(r.out.find("1 record(s) recovered from " + pb + ".extra.2"), std::string::npos) << r.out;
    r = run("dump " + pb + " --csv --order NAME");
    EXPECT_NE(r.out.find("1,,Bob,555-0100\n2,,Cy,555-0100\n"), std::string::npos) << r.out;
    r = run("recover " + pb);
    EXPECT_NE(r.out.find("nothing to recover"), std::string::npos) << r.out;
    r = run("check " + pb);
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out.find("note:"), std::string::npos) << r.out;
}

TEST(TelvaneDb, CreateSaysWhyALinkedTableIsRefused) {
    TempDir dir, outside;
    ASSERT_EQ(::symlink(outside.file("TVN.DBF").c_str(), dir.file("TVN.DBF").c_str()), 0);
    const Result r = run("create " + dir.path());
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_NE(r.out.find("TVN.DBF: refused: the name is a symbolic link"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("TVNREC.DBF created"), std::string::npos) << "the other tables are made: " << r.out;
    EXPECT_EQ(outside.names(), std::vector<std::string>{});
}

TEST(TelvaneDb, UsageErrors) {
    EXPECT_EQ(run("").code, 2);
    EXPECT_EQ(run("frobnicate x").code, 2);
    EXPECT_EQ(run("dump").code, 2);
    EXPECT_EQ(run("dump a.dbf --yaml").code, 2);
    EXPECT_EQ(run("delete a.dbf zero").code, 2);
    EXPECT_EQ(run("info").code, 2);
    const Result help = run("--help");
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("Exit status"), std::string::npos);
    EXPECT_EQ(run("info /nonexistent/X.DBF").code, 1);
}

}  // namespace
}  // namespace telvane::records
