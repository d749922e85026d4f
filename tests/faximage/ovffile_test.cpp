// OVF file format: header layout, writer buffering and page walking, reader failures.
#include "errors/errors.h"
#include "faximage/ovffile.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace telvane;
using namespace telvane::faximage;
using namespace faxtest;

namespace {

std::tm makeTm(int year, int mon, int day, int h, int m, int s) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = mon - 1;
    t.tm_mday = day;
    t.tm_hour = h;
    t.tm_min = m;
    t.tm_sec = s;
    return t;
}

}  // namespace

TEST(OvfHeader, LayoutOfTheFileHeader) {
    TempDir dir;
    OvfWriter w;
    w.clock = [] { return makeTm(2024, 3, 15, 13, 45, 30); };
    ASSERT_EQ(w.create(dir.file("a.ovf"), "ignored"), 0);
    w.setSenderId("ABCDEFG");
    ASSERT_EQ(w.close(), 0);
    Bytes b = readFile(dir.file("a.ovf"));
    ASSERT_EQ(b.size(), 64u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 5), "OVF10");
    EXPECT_EQ(b[5], 0x1A);
    std::uint32_t created = b[6] | (b[7] << 8) | (b[8] << 16) | (std::uint32_t(b[9]) << 24);
    EXPECT_EQ(created & 31, 15u);          // seconds / 2
    EXPECT_EQ((created >> 5) & 63, 45u);   // minutes
    EXPECT_EQ((created >> 11) & 31, 13u);  // hours
    EXPECT_EQ((created >> 16) & 31, 15u);  // day
    EXPECT_EQ((created >> 21) & 15, 3u);   // month
    EXPECT_EQ((created >> 25) & 127, 2024u - 1980);
    EXPECT_EQ(b[10], 7);
    EXPECT_EQ(std::string(b.begin() + 11, b.begin() + 31), "ABCDEFG             ");
    EXPECT_EQ(b[31], 0);
    EXPECT_EQ(b[32] | (b[33] << 8), 0);
    EXPECT_EQ(b[34] | (b[35] << 8) | (b[36] << 16) | (b[37] << 24), 64);
    for (int i = 38; i < 64; ++i) EXPECT_EQ(b[i], 0) << i;
}

TEST(OvfHeader, SenderIdOf25CharactersKeepsTheFirst20) {
    OvfFileHeader h;
    h.senderId = "ABCDEFGHIJKLMNOPQRSTUVWXY";
    std::uint8_t b[64];
    encodeFileHeader(h, b);
    EXPECT_EQ(b[10], 20);
    EXPECT_EQ(std::string(b + 11, b + 31), "ABCDEFGHIJKLMNOPQRST");
    EXPECT_EQ(b[31], 0);
}

TEST(OvfHeader, CreatedIsZeroOutside1980To2099) {
    EXPECT_EQ(packDosDateTime(makeTm(2100, 1, 1, 0, 0, 0)), 0u);
    EXPECT_EQ(packDosDateTime(makeTm(1979, 12, 31, 23, 59, 58)), 0u);
    EXPECT_NE(packDosDateTime(makeTm(2099, 12, 31, 23, 59, 58)), 0u);
    EXPECT_EQ(packDosDateTime(makeTm(1980, 1, 1, 0, 0, 0)), (1u << 21 | 1u << 16));

    TempDir dir;
    OvfWriter w;
    w.clock = [] { return makeTm(2100, 6, 1, 12, 0, 0); };
    ASSERT_EQ(w.create(dir.file("y.ovf")), 0);
    ASSERT_EQ(w.close(), 0);
    Bytes b = readFile(dir.file("y.ovf"));
    EXPECT_EQ(b[6] | b[7] | b[8] | b[9], 0);
}

TEST(OvfWriter, PagesAreCountedAndHeadersRewrittenInPlace) {
    TempDir dir;
    OvfWriter w;
    ASSERT_EQ(w.create(dir.file("p.ovf"), "ID"), 0);
    const std::size_t sizes[3] = {10, 5000, 9000};
    for (int p = 0; p < 3; ++p) {
        ASSERT_EQ(w.beginPage(std::uint16_t(p == 1 ? FAX_FINE : 0)), 0);
        Bytes data(sizes[p], std::uint8_t(p + 1));
        ASSERT_EQ(w.append(data.data(), data.size()), 0);
        ASSERT_EQ(w.endPage(), 0);
    }
    ASSERT_EQ(w.close(), 0);
    Bytes b = readFile(dir.file("p.ovf"));
    ASSERT_EQ(b.size(), 64 + 3 * 16 + 10 + 5000 + 9000u);
    EXPECT_EQ(b[32], 3);

    OvfReader r;
    ASSERT_EQ(r.open(dir.file("p.ovf")), 0);
    EXPECT_EQ(r.pageCount(), 3);
    EXPECT_EQ(r.header().senderId, "ID");
    OvfPageHeader ph;
    ASSERT_EQ(r.seekPage(3, ph), 0);
    EXPECT_EQ(r.pageOffset(), 64u + (16 + 10) + (16 + 5000));
    EXPECT_EQ(ph.imageLength, 9000u);
    ASSERT_EQ(r.seekPage(2, ph), 0);
    EXPECT_TRUE(ph.fine());
    std::size_t total = 0;
    bool allTwos = true;
    ASSERT_EQ(r.readPageData([&](const std::uint8_t* d, std::size_t n) {
        EXPECT_LE(n, 4096u);
        for (std::size_t i = 0; i < n; ++i) allTwos = allTwos && d[i] == 2;
        total += n;
        return true;
    }),
              0);
    EXPECT_EQ(total, 5000u);
    EXPECT_TRUE(allTwos);
}

TEST(OvfWriter, ReceiveStyleWritingRefreshesTheFileHeaderEachPage) {
    TempDir dir;
    OvfWriter w;
    ASSERT_EQ(w.create(dir.file("r.ovf"), "REMOTE"), 0);
    ASSERT_EQ(w.beginPage(FAX_WIDE), 0);
    ASSERT_EQ(w.append("abc", 3), 0);
    ASSERT_EQ(w.endPage(true), 0);
    // Without close the file already tells one complete page.
    OvfReader r;
    ASSERT_EQ(r.open(dir.file("r.ovf")), 0);
    EXPECT_EQ(r.pageCount(), 1);
    OvfPageHeader ph;
    ASSERT_EQ(r.seekPage(1, ph), 0);
    EXPECT_EQ(ph.imageLength, 3u);
    EXPECT_TRUE(ph.wide());
    EXPECT_FALSE(ph.lineRecords());
    w.close();
}

TEST(OvfWriter, AbandonDeletesThePartialFile) {
    TempDir dir;
    OvfWriter w;
    ASSERT_EQ(w.create(dir.file("x.ovf")), 0);
    w.beginPage(0);
    Bytes big(10000, 1);
    w.append(big.data(), big.size());
    w.abandon();
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.ovf")));
}

TEST(OvfWriter, CreateInAMissingDirectoryIsPathNotFound) {
    TempDir dir;
    OvfWriter w;
    EXPECT_EQ(w.create(dir.file("no/such/dir.ovf")), errors::ecPathNotFound);
    EXPECT_EQ(w.create(""), errors::ecFileNotFound);
}

TEST(OvfReader, SignatureWithAWrongSixthByteIsRejected) {
    TempDir dir;
    writeRawOvf(dir.file("a.ovf"), {});
    Bytes b = readFile(dir.file("a.ovf"));
    b[5] = 0x1B;
    writeFile(dir.file("b.ovf"), b);
    OvfReader r;
    EXPECT_EQ(r.open(dir.file("a.ovf")), 0);
    EXPECT_EQ(r.open(dir.file("b.ovf")), errors::ecFaxBadFormat);
}

TEST(OvfReader, FailuresHaveTheirCodes) {
    TempDir dir;
    OvfReader r;
    EXPECT_EQ(r.open(""), errors::ecFileNotFound);
    EXPECT_EQ(r.open(dir.file("missing.ovf")), errors::ecFileNotFound);
    writeFile(dir.file("short.ovf"), Bytes{'O', 'V', 'F', '1', '0', 0x1A, 0, 0});
    EXPECT_EQ(r.open(dir.file("short.ovf")), errors::ecFaxBadFormat);

    writeRawOvf(dir.file("empty.ovf"), {});
    ASSERT_EQ(r.open(dir.file("empty.ovf")), 0);
    EXPECT_EQ(r.pageCount(), 0);
    OvfPageHeader ph;
    EXPECT_EQ(r.seekPage(1, ph), errors::ecFaxBadFormat);
    EXPECT_EQ(r.seekPage(0, ph), errors::ecFaxBadFormat);
}

TEST(OvfReader, PageCountBeyondTheDataAndAbsurdLengthsAreBadFormat) {
    TempDir dir;
    writeRawOvf(dir.file("a.ovf"), {Bytes(100, 0)});
    Bytes b = readFile(dir.file("a.ovf"));
    b[32] = 0xFF;  // 255 pages claimed, one present
    b[33] = 0x00;
    writeFile(dir.file("b.ovf"), b);
    OvfReader r;
    ASSERT_EQ(r.open(dir.file("b.ovf")), 0);
    OvfPageHeader ph;
    EXPECT_EQ(r.seekPage(1, ph), 0);
    EXPECT_EQ(r.seekPage(2, ph), errors::ecFaxBadFormat);
    EXPECT_EQ(r.seekPage(255, ph), errors::ecFaxBadFormat);

    // image_length of 4 GB on a short file: reading stops with -8001, nothing is allocated.
    b[64] = b[65] = b[66] = b[67] = 0xFF;
    writeFile(dir.file("c.ovf"), b);
    ASSERT_EQ(r.open(dir.file("c.ovf")), 0);
    ASSERT_EQ(r.seekPage(1, ph), 0);
    std::size_t total = 0;
    EXPECT_EQ(r.readPageData([&](const std::uint8_t*, std::size_t n) {
        total += n;
        return true;
    }),
              errors::ecFaxBadFormat);
    EXPECT_EQ(total, 100u);
}

TEST(OvfReader, RecordLengthAbove4096IsReadAs4096) {
    TempDir dir;
    OvfWriter w;
    ASSERT_EQ(w.create(dir.file("a.ovf")), 0);
    ASSERT_EQ(w.beginPage(FAX_LINE_RECORDS), 0);
    Bytes rec(2 + 5000, 0x11);
    rec[0] = std::uint8_t(5000 & 0xFF);
    rec[1] = std::uint8_t(5000 >> 8);
    // After 4096 bytes the reader takes the next two bytes (0x11 0x11 = 4369, clamped) as a length.
    ASSERT_EQ(w.append(rec.data(), rec.size()), 0);
    ASSERT_EQ(w.endPage(), 0);
    ASSERT_EQ(w.close(), 0);
    OvfReader r;
    ASSERT_EQ(r.open(dir.file("a.ovf")), 0);
    OvfPageHeader ph;
    ASSERT_EQ(r.seekPage(1, ph), 0);
    std::vector<std::size_t> pieces;
    r.readPageData([&](const std::uint8_t*, std::size_t n) {
        pieces.push_back(n);
        return true;
    });
    ASSERT_GE(pieces.size(), 2u);
    EXPECT_EQ(pieces[0], 4096u);
    EXPECT_EQ(pieces[1], 5000u - 4096u - 2u);
}

namespace {

// Pulls every block of page n: (record flag, bytes) per block; the final return code in rc.
std::vector<std::pair<bool, Bytes>> pullPage(OvfReader& r, int n, int& rc) {
    std::vector<std::pair<bool, Bytes>> blocks;
    OvfPageHeader ph;
    rc = r.seekPage(n, ph);
    if (rc != 0) return blocks;
    const std::uint8_t* data;
    std::size_t size;
    bool isRecord;
    while ((rc = r.nextBlock(data, size, isRecord)) == 1) blocks.emplace_back(isRecord, Bytes(data, data + size));
    return blocks;
}

}  // namespace

TEST(OvfReader, NextBlockPullsRecordsAndRawPiecesPageByPage) {
    TempDir dir;
    OvfWriter w;
    ASSERT_EQ(w.create(dir.file("a.ovf")), 0);
    ASSERT_EQ(w.beginPage(FAX_LINE_RECORDS | FAX_FINE), 0);
    const Bytes line1 = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00}, line2 = {0x00, 0x80, 0x10};
    ASSERT_EQ(w.appendRecord(line1.data(), line1.size()), 0);
    ASSERT_EQ(w.appendRecord(nullptr, 0), 0);  // an empty record is skipped
    ASSERT_EQ(w.appendRecord(line2.data(), line2.size()), 0);
    ASSERT_EQ(w.endPage(), 0);
    Bytes raw(9000);
    for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = std::uint8_t(i * 13);
    ASSERT_EQ(w.beginPage(0), 0);
    ASSERT_EQ(w.append(raw.data(), raw.size()), 0);
    ASSERT_EQ(w.endPage(), 0);
    ASSERT_EQ(w.close(), 0);

    OvfReader r;
    ASSERT_EQ(r.open(dir.file("a.ovf")), 0);
    int rc = 0;
    // Page 2 first: pages are found by walking, whatever was read before.
    auto page2 = pullPage(r, 2, rc);
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(page2.size(), 3u);
    EXPECT_EQ(page2[0].second.size(), 4096u);
    EXPECT_EQ(page2[2].second.size(), 9000u - 8192u);
    Bytes joined;
    for (const auto& [isRecord, bytes] : page2) {
        EXPECT_FALSE(isRecord);
        joined.insert(joined.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(joined, raw);
    auto page1 = pullPage(r, 1, rc);
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(page1.size(), 2u);
    EXPECT_TRUE(page1[0].first);
    EXPECT_EQ(page1[0].second, line1);
    EXPECT_EQ(page1[1].second, line2);
    // At the end of the page it stays at the end.
    const std::uint8_t* data;
    std::size_t size;
    bool isRecord;
    EXPECT_EQ(r.nextBlock(data, size, isRecord), 0);
}

TEST(OvfReader, NextBlockOnATruncatedPageDeliversWhatIsThereThenFails) {
    TempDir dir;
    writeRawOvf(dir.file("a.ovf"), {Bytes(5000, 0x42)});
    Bytes b = readFile(dir.file("a.ovf"));
    b.resize(b.size() - 1000);
    writeFile(dir.file("a.ovf"), b);
    OvfReader r;
    ASSERT_EQ(r.open(dir.file("a.ovf")), 0);
    int rc = 0;
    auto blocks = pullPage(r, 1, rc);
    EXPECT_EQ(rc, errors::ecFaxBadFormat);
    // 4000 of the page's 5000 bytes are there: one short piece, then the damage is reported.
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].second, Bytes(4000, 0x42));
}

TEST(OvfWriter, DropPageCutsTheUnfinishedPageAndKeepsTheFileValid) {
    TempDir dir;
    OvfWriter w;
    ASSERT_EQ(w.create(dir.file("a.ovf"), "REMOTE"), 0);
    ASSERT_EQ(w.beginPage(FAX_FINE), 0);
    const Bytes page(300, 0x55);
    ASSERT_EQ(w.append(page.data(), page.size()), 0);
    ASSERT_EQ(w.endPage(true), 0);
    // Still in the buffer: a small unfinished page.
    ASSERT_EQ(w.beginPage(0), 0);
    ASSERT_EQ(w.append(page.data(), 100), 0);
    ASSERT_EQ(w.dropPage(), 0);
    EXPECT_FALSE(w.inPage());
    // Already on disk: a large unfinished page.
    ASSERT_EQ(w.beginPage(0), 0);
    const Bytes big(20000, 0x66);
    ASSERT_EQ(w.append(big.data(), big.size()), 0);
    ASSERT_EQ(w.dropPage(), 0);
    ASSERT_EQ(w.dropPage(), 0);  // nothing left to drop
    ASSERT_EQ(w.close(), 0);

    const Bytes b = readFile(dir.file("a.ovf"));
    EXPECT_EQ(b.size(), 64u + 16u + 300u);
    OvfReader r;
    ASSERT_EQ(r.open(dir.file("a.ovf")), 0);
    EXPECT_EQ(r.pageCount(), 1);
    EXPECT_EQ(r.header().senderId, "REMOTE");
    int rc = 0;
    auto blocks = pullPage(r, 1, rc);
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].second, page);
}

TEST(OvfWriter, PagesEndedWithHeaderRewriteAreReadableBeforeClose) {
    TempDir dir;
    OvfWriter w;
    ASSERT_EQ(w.create(dir.file("a.ovf"), "ID"), 0);
    for (int p = 0; p < 2; ++p) {
        ASSERT_EQ(w.beginPage(FAX_WIDE), 0);
        const Bytes data(700, std::uint8_t(p + 1));
        ASSERT_EQ(w.append(data.data(), data.size()), 0);
        ASSERT_EQ(w.endPage(true), 0);
        OvfReader r;
        ASSERT_EQ(r.open(dir.file("a.ovf")), 0);
        EXPECT_EQ(r.pageCount(), p + 1);
        int rc = 0;
        auto blocks = pullPage(r, p + 1, rc);
        EXPECT_EQ(rc, 0);
        ASSERT_EQ(blocks.size(), 1u);
        EXPECT_EQ(blocks[0].second, data);
    }
    ASSERT_EQ(w.close(), 0);
}

TEST(OvfMerge, PagesOfAllFilesFollowTheFirstHeader) {
    TempDir dir;
    writeRawOvf(dir.file("a.ovf"), {Bytes(10, 1)}, FAX_FINE);
    writeRawOvf(dir.file("b.ovf"), {Bytes(5000, 2), Bytes(20, 3)});
    ASSERT_EQ(mergeOvfFiles({dir.file("a.ovf"), dir.file("b.ovf")}, dir.file("m.ovf")), 0);
    const Bytes a = readFile(dir.file("a.ovf")), b = readFile(dir.file("b.ovf")), m = readFile(dir.file("m.ovf"));
    ASSERT_EQ(m.size(), a.size() + b.size() - 64);
    EXPECT_TRUE(std::equal(b.begin() + 64, b.end(), m.begin() + long(a.size())));
    OvfReader r;
    ASSERT_EQ(r.open(dir.file("m.ovf")), 0);
    EXPECT_EQ(r.pageCount(), 3);
    EXPECT_EQ(r.header().senderId, "TEST");
    OvfPageHeader ph;
    ASSERT_EQ(r.seekPage(1, ph), 0);
    EXPECT_TRUE(ph.fine());
    ASSERT_EQ(r.seekPage(3, ph), 0);
    EXPECT_FALSE(ph.fine());
    int rc = 0;
    auto blocks = pullPage(r, 3, rc);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].second, Bytes(20, 3));
}

TEST(OvfMerge, ANonFaxFileFailsAndLeavesNoOutput) {
    TempDir dir;
    writeRawOvf(dir.file("a.ovf"), {Bytes(10, 1)});
    writeFile(dir.file("b.ovf"), Bytes(100, 'x'));
    EXPECT_EQ(mergeOvfFiles({dir.file("a.ovf"), dir.file("b.ovf")}, dir.file("m.ovf")), errors::ecFaxBadFormat);
    EXPECT_FALSE(std::filesystem::exists(dir.file("m.ovf")));
    EXPECT_EQ(mergeOvfFiles({dir.file("a.ovf"), dir.file("missing.ovf")}, dir.file("m.ovf")), errors::ecFileNotFound);
    EXPECT_FALSE(std::filesystem::exists(dir.file("m.ovf")));
}

TEST(OvfMerge, MoreThan65535PagesInAllIsRefused) {
    TempDir dir;
    writeRawOvf(dir.file("a.ovf"), {Bytes(4, 1)});
    Bytes b = readFile(dir.file("a.ovf"));
    b[32] = 0xFF;  // the header claims 65535 pages
    b[33] = 0xFF;
    writeFile(dir.file("big.ovf"), b);
    EXPECT_EQ(mergeOvfFiles({dir.file("big.ovf"), dir.file("a.ovf")}, dir.file("m.ovf")), errors::ecTooManyPages);
    EXPECT_FALSE(std::filesystem::exists(dir.file("m.ovf")));
}

TEST(OvfWriter, ExclusiveCreationNeverReplacesOrFollowsALink) {
    TempDir dir;
    writeFile(dir.file("taken.ovf"), Bytes{'x'});
    OvfWriter w;
    EXPECT_EQ(w.createExclusive(dir.file("taken.ovf"), "R"), errors::ecFileExists);
    EXPECT_EQ(readFile(dir.file("taken.ovf")), Bytes{'x'});
    std::filesystem::create_symlink(dir.file("target.ovf"), dir.file("link.ovf"));
    EXPECT_NE(w.createExclusive(dir.file("link.ovf"), "R"), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("target.ovf")));
    ASSERT_EQ(w.createExclusive(dir.file("new.ovf"), "R"), 0);
    ASSERT_EQ(w.beginPage(0), 0);
    ASSERT_EQ(w.append("abc", 3), 0);
    ASSERT_EQ(w.endPage(true), 0);
    ASSERT_EQ(w.close(), 0);
    OvfReader r;
    ASSERT_EQ(r.open(dir.file("new.ovf")), 0);
    EXPECT_EQ(r.pageCount(), 1);
}

TEST(OvfFileHeader, SenderIdsAreEscapedForTerminals) {
    EXPECT_EQ(escapeControlBytes("ACME 1"), "ACME 1");
    EXPECT_EQ(escapeControlBytes(std::string("a\x1b[2J\x9b\x7f\\\xE9\0z", 11)), "a\\x1B[2J\\x9B\\x7F\\x5C\xE9\\x00z");
}

// Page offsets are found once: visiting pages in any order reads each header once, so a page
// already located stays found even when an earlier header is damaged afterwards.
TEST(OvfReader, PagesAreIndexedOnceAndFoundInAnyOrder) {
    TempDir dir;
    std::vector<Bytes> pages;
    for (int p = 0; p < 50; ++p) pages.push_back(Bytes(std::size_t(10 + p), std::uint8_t(p)));
    writeRawOvf(dir.file("i.ovf"), pages);
    OvfReader r;
    ASSERT_EQ(r.open(dir.file("i.ovf")), 0);
    OvfPageHeader ph;
    for (int p : {50, 3, 27, 1, 50, 49}) {
        ASSERT_EQ(r.seekPage(p, ph), 0) << p;
        EXPECT_EQ(ph.imageLength, std::uint32_t(9 + p)) << p;
        int rc = 0;
        auto blocks = pullPage(r, p, rc);
        ASSERT_EQ(blocks.size(), 1u);
        EXPECT_EQ(blocks[0].second, Bytes(std::size_t(9 + p), std::uint8_t(p - 1))) << p;
    }
    // Damage page 1's length on disk: the pages already indexed are still where they were.
    Bytes b = readFile(dir.file("i.ovf"));
    b[64] = 0xFF, b[65] = 0xFF, b[66] = 0xFF;
    writeFile(dir.file("i.ovf"), b);
    ASSERT_EQ(r.seekPage(40, ph), 0);
    EXPECT_EQ(ph.imageLength, 49u);
    OvfReader fresh;
    ASSERT_EQ(fresh.open(dir.file("i.ovf")), 0);
    EXPECT_EQ(fresh.seekPage(40, ph), errors::ecFaxBadFormat);
}
