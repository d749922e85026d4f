// Page file names and joining of one-page fax files: names in the data directory, page counts
// and page data after appending, header fields kept from the first file, and the errors of
// missing or damaged files.
#include "compose/render/faxjoin.h"

#include "errors/errors.h"
#include "faximage/ovffile.h"
#include "renderutil.h"

#include <gtest/gtest.h>

#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace telvane;
using namespace telvane::render;
using namespace telvane::faximage;
using rendertest::TempDir;

std::tm fixedTime(int day) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = day;
    t.tm_hour = 10;
    return t;
}

// A fax file of the given pages; each page holds line records made of `fill` bytes.
void writeFax(const std::string& path, const std::vector<std::uint8_t>& fills, const std::string& sender, int day = 1) {
    OvfWriter w;
    w.clock = [day] { return fixedTime(day); };
    ASSERT_EQ(w.create(path, sender), 0);
    for (std::uint8_t fill : fills) {
        ASSERT_EQ(w.beginPage(FAX_LINE_RECORDS | FAX_FINE), 0);
        for (int line = 0; line < 40; ++line) {
            std::vector<std::uint8_t> record(100 + line, fill);
            ASSERT_EQ(w.appendRecord(record.data(), record.size()), 0);
        }
        ASSERT_EQ(w.endPage(), 0);
    }
    ASSERT_EQ(w.close(), 0);
}

int errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const telvane::errors::EOvxException& e) {
        return e.ErrorCode();
    }
    return 0;
}

TEST(PageFileNames, FirstFreeNumberAndFallback) {
    TempDir d;
    EXPECT_EQ(firstPageFileName(d.dir()), d.dir() + "TVN_1.OVF");
    std::ofstream(d.file("TVN_1.OVF")).put('x');
    std::ofstream(d.file("TVN_3.OVF")).put('x');
    EXPECT_EQ(firstPageFileName(d.dir()), d.dir() + "TVN_2.OVF");
    for (int n = 1; n <= 1000; ++n) std::ofstream(d.file("TVN_" + std::to_string(n) + ".OVF")).put('x');
    EXPECT_EQ(firstPageFileName(d.dir()), d.dir() + "TVN1.OVF") << "all 1000 names taken";
    EXPECT_EQ(pageFileName(d.dir(), 2), d.dir() + "TVNFX2.OVF");
    EXPECT_EQ(pageFileName(d.dir(), 17), d.dir() + "TVNFX17.OVF");
}

// A program killed while it viewed or sent a fax leaves its rendered files behind; the next start
// removes exactly those and nothing else of the data directory.
TEST(PageFileNames, LeftoversOfAKilledProgramAreRemovedAndNothingElse) {
    TempDir d;
    const std::vector<std::string> leftovers = {"TVN_1.OVF", "TVN_17.OVF", "TVN1.OVF", "TVNFX2.OVF", "_TMP.BMP"};
    const std::vector<std::string> kept = {"TVN.DBF",       "TVN.INI",    "TVN_.OVF",     "TVN_a1.OVF",
                                           "TVN_1.OVF.bak", "TVNFX2.ovf", "Sendhist.log", "TVNREC.DBF"};
    for (const auto& name : leftovers) std::ofstream(d.file(name)).put('x');
    for (const auto& name : kept) std::ofstream(d.file(name)).put('x');
    ASSERT_EQ(::mkdir(d.file("TVN_5.OVF").c_str(), 0700), 0);
    ASSERT_EQ(::symlink(d.file("TVN.DBF").c_str(), d.file("TVN_6.OVF").c_str()), 0);

    EXPECT_EQ(removeRenderLeftovers(d.dir()), static_cast<int>(leftovers.size()));
    for (const auto& name : leftovers) EXPECT_FALSE(std::ifstream(d.file(name)).good()) << name;
    for (const auto& name : kept) EXPECT_TRUE(std::ifstream(d.file(name)).good()) << name;
    struct stat st {};
    EXPECT_EQ(::lstat(d.file("TVN_5.OVF").c_str(), &st), 0);
    EXPECT_EQ(::lstat(d.file("TVN_6.OVF").c_str(), &st), 0);
    EXPECT_TRUE(std::ifstream(d.file("TVN.DBF")).good());
}

TEST(joinFaxFiles, PagesFollowInOrderAndTheFirstHeaderStays) {
    TempDir d;
    const std::string first = d.file("TVN_1.OVF");
    writeFax(first, {0x11}, "FIRST ID", 3);
    writeFax(d.file("TVNFX2.OVF"), {0x22}, "SECOND", 5);
    writeFax(d.file("TVNFX3.OVF"), {0x33, 0x44}, "THIRD", 7);  // a two-page file adds two pages
    const auto firstHeaderBefore = rendertest::fileHeader(first);
    const auto page2 = rendertest::pageData(d.file("TVNFX2.OVF"), 1);
    const auto page4 = rendertest::pageData(d.file("TVNFX3.OVF"), 2);
    const auto sizeOf = [&](const std::string& n) { return std::filesystem::file_size(d.file(n)); };
    const auto expectedSize = sizeOf("TVN_1.OVF") + sizeOf("TVNFX2.OVF") - 64 + sizeOf("TVNFX3.OVF") - 64;

    EXPECT_EQ(joinFaxFiles({first, d.file("TVNFX2.OVF"), d.file("TVNFX3.OVF")}), first);

    EXPECT_EQ(d.names(), std::vector<std::string>{"TVN_1.OVF"}) << "appended files are deleted";
    EXPECT_EQ(std::filesystem::file_size(first), expectedSize);
    const auto h = rendertest::fileHeader(first);
    EXPECT_EQ(h.pageCount, 4);
    EXPECT_EQ(h.senderId, "FIRST ID");
    EXPECT_EQ(h.created, firstHeaderBefore.created);
    EXPECT_EQ(h.firstPageOffset, 64u);
    const std::uint8_t fills[] = {0x11, 0x22, 0x33, 0x44};
    for (int p = 1; p <= 4; ++p) {
        const auto data = rendertest::pageData(first, p);
        ASSERT_FALSE(data.empty()) << "page " << p;
        EXPECT_EQ(data[0], fills[p - 1]) << "page " << p;
    }
    EXPECT_EQ(rendertest::pageData(first, 2), page2);
    EXPECT_EQ(rendertest::pageData(first, 4), page4);
}

TEST(joinFaxFiles, SingleFileAndEmptyList) {
    TempDir d;
    writeFax(d.file("TVN_1.OVF"), {0x11}, "ID");
    EXPECT_EQ(joinFaxFiles({d.file("TVN_1.OVF")}), d.file("TVN_1.OVF"));
    EXPECT_EQ(rendertest::fileHeader(d.file("TVN_1.OVF")).pageCount, 1);
    EXPECT_EQ(joinFaxFiles({}), "");
}

TEST(appendFaxFile, DataAfterTheLastPageIsReplaced) {
    TempDir d;
    writeFax(d.file("a.ovf"), {0x11}, "A");
    writeFax(d.file("b.ovf"), {0x22}, "B");
    const auto cleanSize = std::filesystem::file_size(d.file("a.ovf"));
    std::ofstream(d.file("a.ovf"), std::ios::app | std::ios::binary) << std::string(5000, 'J');
    appendFaxFile(d.file("a.ovf"), d.file("b.ovf"));
    EXPECT_EQ(std::filesystem::file_size(d.file("a.ovf")),
              cleanSize + std::filesystem::file_size(d.file("b.ovf")) - 64);
    EXPECT_EQ(rendertest::pageData(d.file("a.ovf"), 2)[0], 0x22);
}

TEST(appendFaxFile, MissingAndDamagedFilesRaiseAndChangeNothing) {
    TempDir d;
    writeFax(d.file("a.ovf"), {0x11}, "A");
    const auto before = std::filesystem::file_size(d.file("a.ovf"));
    EXPECT_EQ(errorOf([&] { appendFaxFile(d.file("a.ovf"), d.file("missing.ovf")); }), errors::ecFileNotFound);
    EXPECT_EQ(errorOf([&] { appendFaxFile(d.file("missing.ovf"), d.file("a.ovf")); }), errors::ecFileNotFound);
    EXPECT_FALSE(std::filesystem::exists(d.file("missing.ovf")));
    EXPECT_EQ(std::filesystem::file_size(d.file("a.ovf")), before);
    EXPECT_EQ(rendertest::fileHeader(d.file("a.ovf")).pageCount, 1);

    std::ofstream(d.file("text.ovf")) << "OVF10 but no header of a fax file at all, long enough to be read as one....";
    EXPECT_EQ(errorOf([&] { appendFaxFile(d.file("a.ovf"), d.file("text.ovf")); }), errors::ecFaxBadFormat);
    EXPECT_EQ(errorOf([&] { appendFaxFile(d.file("text.ovf"), d.file("a.ovf")); }), errors::ecFaxBadFormat);
    EXPECT_EQ(std::filesystem::file_size(d.file("a.ovf")), before);

    // A page header whose length points past the end of the file.
    writeFax(d.file("cut.ovf"), {0x11}, "C");
    std::filesystem::resize_file(d.file("cut.ovf"), std::filesystem::file_size(d.file("cut.ovf")) - 10);
    EXPECT_EQ(errorOf([&] { appendFaxFile(d.file("cut.ovf"), d.file("a.ovf")); }), errors::ecFaxBadFormat);

    // Joining stops at the failure and deletes nothing.
    writeFax(d.file("b.ovf"), {0x22}, "B");
    EXPECT_EQ(errorOf([&] {
                  joinFaxFiles({d.file("a.ovf"), d.file("b.ovf"), d.file("missing.ovf")});
              }),
              errors::ecFileNotFound);
    EXPECT_TRUE(std::filesystem::exists(d.file("b.ovf")));
}

}  // namespace
