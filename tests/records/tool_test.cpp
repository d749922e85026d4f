// telvane-db, run as users run it: output, exit codes, and files left sound after bad input.
#include "records/table.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

namespace telvane::records {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

struct Result {
    int code;
    std::string out;
};

// Runs telvane-db with the arguments (already quoted) and optional standard input.
Result run(const std::string& args, const std::string& input = "", const TempDir* dir = nullptr) {
    const char* bin = std::getenv("TELVANE_BIN");
    std::string cmd = std::string(bin ? bin : TELVANE_BINARY_DIR "/bin") + "/telvane-db " + args + " 2>&1";
    if (!input.empty() && dir) {
        writeFile(dir->file("input.jsonl"), input);
        cmd += " < " + dir->file("input.jsonl");
    }
    FILE* p = popen(cmd.c_str(), "r");
    Result r{-1, ""};
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int status = pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
