// Byte-level checks of the files against the worked examples of the FoxPro format reference,
// the four fax tables' layouts, and files with the variations other writers produce.
#include "records/cdx_file.h"
#include "records/fax_tables.h"
#include "records/table.h"
#include "test_util.h"

#include <gtest/gtest.h>

namespace telvane::records {
namespace {

using test::hex;
using test::pad;
using test::readFile;
using test::TempDir;
using test::writeFile;

// The example table: NAME C10, BORN D, PAGES N2, SENT L, NOTE M; BAKER / ADAMSON (deleted) / ADAMS.
void buildExample(const std::string& path) {
    Table::create(path, {{"NAME", FieldType::Character, 10, 0},
                         {"BORN", FieldType::Date, 8, 0},
                         {"PAGES", FieldType::Numeric, 2, 0},
                         {"SENT", FieldType::Logical, 1, 0},
                         {"NOTE", FieldType::Memo, 10, 0}});
    auto t = Table::open(path);
    const std::string memo = t->writeMemo("Hello");
    EXPECT_EQ(memo, "         8");
    t->appendRecord(" " + pad("BAKER", 10) + "20250131" + " 7" + "T" + memo);
    t->appendRecord("*" + pad("ADAMSON", 10) + "        " + "  " + "F" + std::string(10, ' '));
    t->appendRecord(" " + pad("ADAMS", 10) + "19991231" + "12" + " " + std::string(10, ' '));
    t->addTag("NAME", "NAME", "", false);
    t->addTag("BORN", "BORN", "", true);
    t->close();
}

TEST(FileFormat, DbfMatchesTheReferenceExample) {
    TempDir dir;
    buildExample(dir.file("EX.DBF"));
    const std::string dbf = readFile(dir.file("EX.DBF"));
    ASSERT_EQ(dbf.size(), 0x122u);
    EXPECT_EQ(dbf.substr(0, 1), hex("F5"));
    EXPECT_EQ(dbf.substr(4, 8), hex("03 00 00 00 C1 00 20 00"));
    EXPECT_EQ(dbf.substr(12, 20), hex("00000000 00000000 00000000 00000000 01 03 00 00"));
    EXPECT_EQ(dbf.substr(0x20, 18), std::string("NAME\0\0\0\0\0\0\0C", 12) + hex("01 00 00 00 0A 00"));
    EXPECT_EQ(dbf.substr(0x40, 18), std::string("BORN\0\0\0\0\0\0\0D", 12) + hex("0B 00 00 00 08 00"));
    EXPECT_EQ(dbf.substr(0x60, 18), std::string("PAGES\0\0\0\0\0\0N", 12) + hex("13 00 00 00 02 00"));
    EXPECT_EQ(dbf.substr(0x80, 18), std::string("SENT\0\0\0\0\0\0\0L", 12) + hex("15 00 00 00 01 00"));
    EXPECT_EQ(dbf.substr(0xA0, 18), std::string("NOTE\0\0\0\0\0\0\0M", 12) + hex("16 00 00 00 0A 00"));
    EXPECT_EQ(dbf.substr(0xC0, 1), "\x0D");
    EXPECT_EQ(dbf.substr(0xC1, 32), " BAKER     20250131 7T         8");
    EXPECT_EQ(dbf.substr(0xE1, 32), "*ADAMSON             F          ");
    EXPECT_EQ(dbf.substr(0x101, 32), " ADAMS     1999123112           ");
    EXPECT_EQ(dbf.substr(0x121), "\x1A");
}

TEST(FileFormat, FptMatchesTheReferenceExample) {
    TempDir dir;
    buildExample(dir.file("EX.DBF"));
    const std::string fpt = readFile(dir.file("EX.FPT"));
    ASSERT_EQ(fpt.size(), 576u);
    EXPECT_EQ(fpt.substr(0, 8), hex("00 00 00 09 00 00 00 40"));
    EXPECT_EQ(fpt.substr(8, 504), std::string(504, '\0'));
    EXPECT_EQ(fpt.substr(512, 13), hex("00 00 00 01 00 00 00 05") + "Hello");
    EXPECT_EQ(fpt.substr(525), std::string(576 - 525, '\0'));
}

TEST(FileFormat, CdxMatchesTheReferenceExample) {
    TempDir dir;
    buildExample(dir.file("EX.DBF"));
    const std::string cdx = readFile(dir.file("EX.CDX"));
    ASSERT_EQ(cdx.size(), 0x1200u);
    // Directory header and its single leaf.
    EXPECT_EQ(cdx.substr(0, 16), hex("00 04 00 00 00 00 00 00 00 00 00 00 0A 00 E0 01"));
    EXPECT_EQ(cdx.substr(502, 10), hex("00 00 01 00 01 00 00 00 01 00"));
    EXPECT_EQ(cdx.substr(0x400, 30),
              hex("03 00 02 00 FF FF FF FF FF FF FF FF DA 01 FF FF 00 00 0F 0F 10 04 04 03 00 0C 60 00 06 60"));
    EXPECT_EQ(cdx.substr(0x5F8, 8), "NAMEBORN");
    // NAME: header, pool, root leaf.
    EXPECT_EQ(cdx.substr(0x600, 16), hex("00 0A 00 00 00 00 00 00 00 00 00 00 0A 00 60 01"));
    EXPECT_EQ(cdx.substr(0x600 + 502, 10), hex("00 00 05 00 01 00 00 00 05 00"));
    EXPECT_EQ(cdx.substr(0x800, 6), std::string("NAME\0\0", 6));
    EXPECT_EQ(cdx.substr(0xA00, 30),
              hex("03 00 03 00 FF FF FF FF FF FF FF FF D6 01 FF 00 00 00 0F 0F 08 04 04 02 03 50 02 35 01 50"));
    EXPECT_EQ(cdx.substr(0xBF4, 12), "BAKERONADAMS");
    // BORN: descending, date keys stored ascending.
    EXPECT_EQ(cdx.substr(0xC00, 16), hex("00 10 00 00 00 00 00 00 00 00 00 00 08 00 60 01"));
    EXPECT_EQ(cdx.substr(0xC00 + 502, 10), hex("01 00 05 00 01 00 00 00 05 00"));
    EXPECT_EQ(cdx.substr(0x1000, 30),
              hex("03 00 03 00 FF FF FF FF FF FF FF FF DA 01 FF 00 00 00 0F 0F 08 04 04 02 02 70 03 40 01 32"));
    EXPECT_EQ(cdx.substr(0x11F8, 8), hex("C6 11 80 C1 42 B4 2C 80"));
}

TEST(FileFormat, ReadsVariationsOfOtherWriters) {
    TempDir dir;
    buildExample(dir.file("EX.DBF"));
    std::string cdx = readFile(dir.file("EX.CDX"));
    // Visual FoxPro marks single-node trees with attribute 7 and writes a free list of -1.
    cdx[0x400] = 7;
    cdx[0xA00] = 7;
    cdx[0x1000] = 7;
    cdx.replace(4, 4, hex("FF FF FF FF"));
    writeFile(dir.file("EX.CDX"), cdx);
    // Some writers omit the end-of-file mark; lower-case file names are common.
    std::string dbf = readFile(dir.file("EX.DBF"));
    dbf.pop_back();
    writeFile(dir.file("ex.dbf"), dbf);
    std::rename(dir.file("EX.CDX").c_str(), dir.file("ex.cdx").c_str());
    std::rename(dir.file("EX.FPT").c_str(), dir.file("ex.fpt").c_str());
    std::remove(dir.file("EX.DBF").c_str());
    auto t = Table::open(dir.file("ex.dbf"));
    EXPECT_EQ(t->indexNote(), "") << "a sound index is used as it is";
    ASSERT_EQ(t->tagCount(), 2);
    EXPECT_EQ(t->tagInfo(2).name, "BORN");
    EXPECT_TRUE(t->tagInfo(2).descending);
    EXPECT_EQ(t->readMemo(t->readRecord(1).substr(22, 10)), "Hello");
    const KeyList& names = t->tagKeys(1);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names.recnoAt(0), 3u);
    EXPECT_EQ(names.recnoAt(1), 2u);
    EXPECT_EQ(names.recnoAt(2), 1u);
    // An append after the missing end mark writes one.
    t->appendRecord(" " + pad("COOK", 10) + "20000101" + " 1" + "F" + std::string(10, ' '));
    t->close();
    EXPECT_EQ(readFile(dir.file("ex.dbf")).back(), '\x1A');
}

TEST(FileFormat, FaxTablesHaveTheReferenceLayouts) {
    TempDir dir;
    ASSERT_TRUE(MakeFaxDBF(dir.path()));
    ASSERT_TRUE(MakeRecFaxDBF(dir.path()));
    ASSERT_TRUE(MakeCoverDBF(dir.path()));
    ASSERT_TRUE(MakePhoneDBF(dir.path()));
    struct Expect {
        const char* file;
        unsigned char version;
        int header;
        int record;
        bool memo;
    } cases[] = {{"TVN.DBF", 0xF5, 353, 247, true},
                 {"TVNREC.DBF", 0x03, 225, 108, false},
                 {"TVNCOV.DBF", 0xF5, 97, 46, true},
                 {"TVNPB.DBF", 0x03, 97, 61, false}};
    for (const auto& c : cases) {
        const std::string b = readFile(dir.file(c.file));
        ASSERT_GE(b.size(), 32u);
        EXPECT_EQ((unsigned char)b[0], c.version) << c.file;
        EXPECT_EQ((unsigned char)b[8] | ((unsigned char)b[9] << 8), c.header) << c.file;
        EXPECT_EQ((unsigned char)b[10] | ((unsigned char)b[11] << 8), c.record) << c.file;
        EXPECT_EQ(b.size(), size_t(c.header) + 1) << c.file;
        const std::string fpt = std::string(c.file).substr(0, std::string(c.file).size() - 3) + "FPT";
        EXPECT_EQ(test::exists(dir.file(fpt)), c.memo) << fpt;
    }
    // Field offsets of the outgoing log.
    auto t = Table::open(dir.file("TVN.DBF"));
    const int expected[] = {1, 51, 52, 60, 65, 100, 125, 127, 227, 237};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(t->fieldOffset(i), expected[i]);
    // Tag options 0x68 and key lengths of the rebuild tags.
    for (const auto& s : faxTableSpec().rebuild) t->addTag(s.name, s.keyExpression, s.forCondition, s.descending);
    t->close();
    CdxReader r(dir.file("TVN.CDX"));
    ASSERT_EQ(r.tags().size(), 4u);
    const int lengths[] = {8, 13, 50, 35};
    const std::string cdx = readFile(dir.file("TVN.CDX"));
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(r.tags()[i].keyLength, lengths[i]);
        EXPECT_EQ((unsigned char)cdx[r.tags()[i].headerOffset + 14], 0x68);
        EXPECT_EQ(r.tags()[i].forExpression, ".not. deleted()");
    }
    EXPECT_EQ(r.tags()[0].keyExpression, "datesent");
    EXPECT_EQ((unsigned char)readFile(dir.file("TVN.DBF"))[28], 0x01) << "structural index flag";
}

// Decodes an interior node entry: key, record number and child pointer (both big-endian).
struct InteriorEntry {
    std::string key;
    uint32_t recno;
    uint32_t child;
};

uint32_t be32(const std::string& s, size_t at) {
    return uint32_t((unsigned char)s[at]) << 24 | uint32_t((unsigned char)s[at + 1]) << 16 |
           uint32_t((unsigned char)s[at + 2]) << 8 | uint32_t((unsigned char)s[at + 3]);
}
uint32_t le32(const std::string& s, size_t at) {
    return uint32_t((unsigned char)s[at]) | uint32_t((unsigned char)s[at + 1]) << 8 |
           uint32_t((unsigned char)s[at + 2]) << 16 | uint32_t((unsigned char)s[at + 3]) << 24;
}

TEST(FileFormat, LargeTagsGetInteriorNodesWithLastKeysAndSiblings) {
    TempDir dir;
    const std::string path = dir.file("BIG.DBF");
    Table::create(path, {{"NAME", FieldType::Character, 20, 0}});
    auto t = Table::open(path);
    for (int i = 0; i < 6000; ++i) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "K%07d", (i * 7919) % 6000);
        t->appendRecord(" " + pad(buf, 20));
    }
    t->addTag("NAME", "NAME", "", false);
    t->close();
    const std::string cdx = readFile(dir.file("BIG.CDX"));
    CdxReader r(dir.file("BIG.CDX"));
    const auto keys = r.keys(r.tags()[0], ' ');
    ASSERT_EQ(keys.size(), 6000u);
    for (size_t i = 1; i < keys.size(); ++i) ASSERT_LT(keys[i - 1], keys[i]);
    const uint32_t root = le32(cdx, r.tags()[0].headerOffset);
    ASSERT_EQ((unsigned char)cdx[root], 1) << "root is an interior node";
    const int count = (unsigned char)cdx[root + 2];
    ASSERT_GT(count, 1);
    ASSERT_LE(count, 500 / 28);
    EXPECT_EQ(le32(cdx, root + 4), 0xFFFFFFFFu);
    EXPECT_EQ(le32(cdx, root + 8), 0xFFFFFFFFu);
    // The root's last entry carries the greatest key of the tag.
    const size_t last = root + 12 + size_t(count - 1) * 28;
    EXPECT_EQ(cdx.substr(last, 20), keys.back().first);
    EXPECT_EQ(be32(cdx, last + 20), keys.back().second);
    // Each child is a node whose left sibling is the previous child.
    uint32_t prevChild = 0xFFFFFFFFu;
    for (int i = 0; i < count; ++i) {
        const uint32_t child = be32(cdx, root + 12 + size_t(i) * 28 + 24);
        ASSERT_EQ(child % 512, 0u);
        EXPECT_EQ(le32(cdx, child + 4), prevChild);
        prevChild = child;
    }
}

}  // namespace
}  // namespace telvane::records
