// Damaged and hostile files: each gives an EXbError that names the file, never a crash or a
// hang; random corruption of sound files is survived the same way.
#include "records/record_set.h"
#include "records/table.h"
#include "records/xb_error.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <random>

namespace telvane::records {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

struct Sound {
    std::string dbf, fpt, cdx;
};

// A small sound table with memos and two tags, as bytes.
Sound soundFiles() {
    TempDir dir;
    Table::create(dir.file("S.DBF"), {{"NAME", FieldType::Character, 12, 0},
                                      {"DAY", FieldType::Date, 8, 0},
                                      {"N", FieldType::Numeric, 4, 1},
                                      {"MEMO", FieldType::Memo, 10, 0}});
    {
        auto t = Table::open(dir.file("S.DBF"));
        for (int i = 0; i < 200; ++i) {
            std::string r = " " + std::string("NAME") + std::to_string(i * 7919 % 9973);
            r.resize(13, ' ');
            r += "2024010" + std::to_string(i % 9 + 1);
            r += " 1.5";
            r += t->writeMemo("memo text " + std::to_string(i));
            t->appendRecord(r);
        }
        t->addTag("NAME", "UPPER(NAME)", ".not. deleted()", false);
        t->addTag("DAY", "DAY", "", true);
    }
    return {readFile(dir.file("S.DBF")), readFile(dir.file("S.FPT")), readFile(dir.file("S.CDX"))};
}

const Sound& sound() {
    static const Sound s = soundFiles();
    return s;
}

void put(const TempDir& dir, const Sound& s) {
    writeFile(dir.file("S.DBF"), s.dbf);
    writeFile(dir.file("S.FPT"), s.fpt);
    writeFile(dir.file("S.CDX"), s.cdx);
}

// Opens the table and reads everything; returns the error text, "" when all went well.
std::string useTable(const std::string& path) {
    try {
        auto t = Table::open(path);
        for (uint32_t r = 1; r <= t->recordCount(); ++r) {
            const std::string raw = t->readRecord(r);
            t->readMemo(raw.substr(size_t(t->fieldOffset(3)), 10));
        }
        return "";
    } catch (const EXbError& e) {
        return e.what();
    }
}

void put16(std::string& s, size_t at, unsigned v) {
    s[at] = char(v & 0xFF);
    s[at + 1] = char(v >> 8);
}
void put32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + size_t(i)] = char(v >> (8 * i));
}

TEST(BadFiles, DamagedTableFilesNameTheFile) {
    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
        const char* reason;
    } cases[] = {
        {"empty", [](std::string& d) { d.clear(); }, "not a table file"},
        {"garbage", [](std::string& d) { d = std::string(500, '\x5A'); }, "not a FoxPro 2.x table"},
        {"dBASE IV", [](std::string& d) { d[0] = char(0x8B); }, "not a FoxPro 2.x table"},
        {"header past end", [](std::string& d) { put16(d, 8, 0xFFFF); }, "header length"},
        {"header too small", [](std::string& d) { put16(d, 8, 40); }, "header length"},
        {"record length", [](std::string& d) { put16(d, 10, 7); }, "record length"},
        {"field overflows record", [](std::string& d) { d[32 + 16] = char(200); }, "record length"},
        {"width 0", [](std::string& d) { d[32 + 16] = 0; }, "width 0"},
        {"bad type", [](std::string& d) { d[32 + 11] = 'X'; }, "unsupported type"},
        {"bad date width", [](std::string& d) { d[64 + 16] = 3; }, "invalid width"},
        {"no terminator", [](std::string& d) { d[32 + 4 * 32] = 'A'; }, "field"},
        {"memo in dBASE table", [](std::string& d) { d[0] = 0x03; }, "memo field"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        Sound s = sound();
        c.damage(s.dbf);
        put(dir, s);
        const std::string err = useTable(dir.file("S.DBF"));
        EXPECT_NE(err.find(dir.file("S.DBF")), std::string::npos) << c.what << ": " << err;
        EXPECT_NE(err.find(c.reason), std::string::npos) << c.what << ": " << err;
    }
}

TEST(BadFiles, DamagedMemoFilesNameTheFile) {
    struct Case {
        const char* what;
        std::function<void(Sound&)> damage;
        const char* reason;
    } cases[] = {
        {"missing", [](Sound& s) { s.fpt = "<absent>"; }, "memo file of the table is missing"},
        {"short", [](Sound& s) { s.fpt.resize(100); }, "not a memo file"},
        {"block size 0", [](Sound& s) { s.fpt[6] = s.fpt[7] = 0; }, "block size 0"},
        {"next free in header",
         [](Sound& s) {
             s.fpt[0] = s.fpt[1] = s.fpt[2] = 0;
             s.fpt[3] = 2;
         },
         "next free block"},
        {"cut", [](Sound& s) { s.fpt.resize(s.fpt.size() / 2); }, "memo"},
        {"huge length", [](Sound& s) { s.fpt[512 + 4] = char(0x7F); }, "claims"},
        {"pointer past end", [](Sound& s) { s.dbf.replace(size_t(0xA1 + 1 + 12 + 8 + 4), 10, "  99999999"); },
         "past the end"},
        {"pointer not a number", [](Sound& s) { s.dbf.replace(size_t(0xA1 + 1 + 12 + 8 + 4), 10, "   12abc  "); },
         "invalid memo pointer"},
        {"pointer into header", [](Sound& s) { s.dbf.replace(size_t(0xA1 + 1 + 12 + 8 + 4), 10, "         1"); },
         "file header"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        Sound s = sound();
        c.damage(s);
        put(dir, s);
        if (s.fpt == "<absent>") std::remove(dir.file("S.FPT").c_str());
        const std::string err = useTable(dir.file("S.DBF"));
        EXPECT_NE(err.find(dir.file("S.FPT")), std::string::npos) << c.what << ": " << err;
        EXPECT_NE(err.find(c.reason), std::string::npos) << c.what << ": " << err;
    }
}

TEST(BadFiles, DamagedIndexesAreReportedAsIndexErrors) {
    const Sound& good = sound();
    const uint32_t nameHeader = 1536;
    const uint32_t nameRoot =
        uint32_t((unsigned char)good.cdx[nameHeader]) | uint32_t((unsigned char)good.cdx[nameHeader + 1]) << 8;
    ASSERT_EQ(good.cdx[nameRoot] & 2, 0) << "the NAME tag needs more than one leaf for these cases";
    const size_t firstChild = nameRoot + 12 + 12 + 4;
    const uint32_t firstLeaf =
        uint32_t((unsigned char)good.cdx[firstChild]) << 24 | uint32_t((unsigned char)good.cdx[firstChild + 1]) << 16 |
        uint32_t((unsigned char)good.cdx[firstChild + 2]) << 8 | uint32_t((unsigned char)good.cdx[firstChild + 3]);
    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
        const char* reason;
    } cases[] = {
        {"garbage", [](std::string& c) { c.assign(4096, '\x33'); }, "compact compound"},
        {"short", [](std::string& c) { c.resize(700); }, "too short"},
        {"directory root outside", [](std::string& c) { put32(c, 0, 0x7FFFFE00); }, "outside the file"},
        {"directory root unaligned", [](std::string& c) { put32(c, 0, 1000); }, "outside the file"},
        {"directory key length", [](std::string& c) { put16(c, 12, 0); }, "key length"},
        {"tag header outside",
         [](std::string& c) {
             // Directory leaf entry 0 points to the header; give it a far record number.
             c[1024 + 24] = char(0xFF);
             c[1024 + 25] = char(0xFF);
         },
         "outside the file"},
        {"leaf chain loop", [&](std::string& c) { put32(c, firstLeaf + 8, firstLeaf); }, ""},
        {"interior loop",
         [&](std::string& c) {
             put16(c, nameRoot, 1);  // make the root look interior, its first child itself
             c[nameRoot + 2] = 1;
             c[nameRoot + 3] = 0;
             const size_t at = nameRoot + 12 + 12 + 4;
             c[at] = char(nameRoot >> 24);
             c[at + 1] = char(nameRoot >> 16);
             c[at + 2] = char(nameRoot >> 8);
             c[at + 3] = char(nameRoot);
         },
         ""},
        {"unknown function in key", [](std::string& c) { c.replace(1536 + 512, 11, "NOSUCH(NAM)"); }, "cannot be used"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        Sound s = good;
        c.damage(s.cdx);
        put(dir, s);
        try {
            auto t = Table::open(dir.file("S.DBF"));
            // Structural damage inside one tag is a stale index: it is rebuilt from the table.
            EXPECT_NE(t->indexNote().find("rebuilt"), std::string::npos) << c.what;
            EXPECT_EQ(t->tagKeys(1).size(), 200u) << c.what;
        } catch (const EXbIndexError& e) {
            EXPECT_EQ(e.file(), dir.file("S.CDX")) << c.what;
            EXPECT_NE(std::string(e.what()).find(dir.file("S.CDX")), std::string::npos) << c.what;
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << c.what << ": " << e.what();
        }
    }
}

TEST(BadFiles, RandomCorruptionNeverCrashes) {
    std::mt19937 rng(1234);
    const Sound& good = sound();
    int errors = 0, opened = 0;
    for (int round = 0; round < 300; ++round) {
        TempDir dir;
        Sound s = good;
        std::string* target = round % 3 == 0 ? &s.dbf : (round % 3 == 1 ? &s.fpt : &s.cdx);
        const int flips = 1 + int(rng() % 8);
        for (int i = 0; i < flips; ++i) (*target)[rng() % target->size()] = char(rng());
        if (rng() % 5 == 0) target->resize(rng() % target->size());
        put(dir, s);
        const std::string err = useTable(dir.file("S.DBF"));
        if (err.empty())
            ++opened;
        else
            ++errors;
        // Whatever opened must also pass through the record set and the checker.
        try {
            RecordSet rs;
            rs.setDirectory(dir.path());
            rs.setTableName("S.DBF");
            rs.open();
            for (rs.first(); !rs.eof(); rs.next()) rs.currentRow();
            rs.close();
            Table::check(dir.file("S.DBF"));
        } catch (const EXbError&) {}
    }
    EXPECT_GT(errors, 0);
    EXPECT_GT(opened, 0);
}

}  // namespace
}  // namespace telvane::records
