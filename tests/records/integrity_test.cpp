// What the engine does with files that an interruption, a power cut, an outside edit or a
// planted link left: torn index trees are rebuilt and never stamped clean; a stamp is not
// trusted when the table changed without its time moving, nor when the file system's times
// are too coarse to tell; a key missing at an edit makes the index be rebuilt; a record count
// ahead of the file is corrected; bytes after the last record are kept in numbered copies and
// recovered from them; an index the table does not claim is reported; freed index pages are
// reused; links are neither followed nor written through.
#include "records/cdx_file.h"
#include "records/fax_tables.h"
#include "records/file_io.h"
#include "records/fpt_file.h"
#include "records/record_set.h"
#include "records/table.h"
#include "records/xb_error.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace telvane::records {
namespace {

using test::levelsOf;
using test::pad;
using test::readFile;
using test::TempDir;
using test::writeFile;

// NAME C30 (random letters), ID N6, NOTE M; tags NAME (".not. deleted()") and UNAME.
const std::vector<FieldDef> kFields{
    {"NAME", FieldType::Character, 30, 0}, {"ID", FieldType::Numeric, 6, 0}, {"NOTE", FieldType::Memo, 10, 0}};
constexpr size_t kLength = 1 + 30 + 6 + 10;

std::string randomName(std::mt19937& rng) {
    std::string s;
    for (int i = 0; i < 30; ++i) s += char('A' + rng() % 26);
    return s;
}

std::string row(const std::string& name, int id, const std::string& memoPtr = std::string(10, ' ')) {
    char idText[8];
    std::snprintf(idText, sizeof idText, "%6d", id);
    return " " + pad(name, 30) + idText + memoPtr;
}

void makeLog(const std::string& path, int n, unsigned seed = 1) {
    Table::create(path, kFields);
    auto t = Table::open(path);
    std::mt19937 rng(seed);
    for (int i = 1; i <= n; ++i) t->appendRecord(row(randomName(rng), i));
    t->addTag("NAME", "NAME", ".not. deleted()", false);
    t->addTag("UNAME", "UPPER(NAME)", "", true);
}

// The keys of tag NAME computed here from the records.
CdxEntries expectedNameKeys(const Table& t) {
    CdxEntries out;
    for (uint32_t r = 1; r <= t.recordCount(); ++r) {
        const std::string raw = t.readRecord(r);
        if (raw[0] != '*') out.emplace_back(raw.substr(1, 30), r);
    }
    std::sort(out.begin(), out.end());
    return out;
}

CdxEntries keysOf(const Table& t, const char* tag) {
    CdxEntries out;
    t.tagKeys(t.findTag(tag)).forEach([&](std::string_view k, uint32_t r) { out.emplace_back(std::string(k), r); });
    return out;
}

std::string join(const std::vector<std::string>& v) {
    std::string out;
    for (const auto& s : v) out += s + "\n";
    return out;
}

bool contains(const std::vector<std::string>& list, const std::string& part) {
    return std::any_of(list.begin(), list.end(),
                       [&](const std::string& s) { return s.find(part) != std::string::npos; });
}

uint64_t ctimeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return uint64_t(st.st_ctim.tv_sec) * 1000000000ull + uint64_t(st.st_ctim.tv_nsec);
}

// Makes the index's stamp describe the table as it is now, as a stamp trusted in error would.
void forgeStamp(const std::string& dbf, const std::string& cdx) {
    const std::string head = readFile(dbf).substr(0, 12);
    const auto* h = reinterpret_cast<const unsigned char*>(head.data());
    const uint64_t changed = ctimeOf(dbf);
    io::File f;
    f.open(cdx, false);
    CdxUpdater::markClean(
        f, {io::le32(h + 4), io::le16(h + 8), io::le16(h + 10), changed, int64_t(changed / 1000000000ull) + 10});
}

// --- torn trees -------------------------------------------------------------------------------

// A change of the index interrupted half way, as writing pages in place in any order can leave
// it: the leaf chain still agrees with the table, the tree above it does not.
TEST(TornIndex, TreesThatOnlyTheLeafChainAgreesWithAreRebuiltNotStamped) {
    struct Tear {
        const char* what;
        // Damages the index (whose stamp is cleared) and the table to fit a torn change; returns
        // a leaf of the damaged part.
        std::function<uint32_t(Table& t, std::string& cdx, const CdxTagHeader& tag)> apply;
    };
    const std::vector<Tear> tears{
        {"a leaf emptied and unlinked from its neighbours, still in its parent",
         [](Table& t, std::string& cdx, const CdxTagHeader& tag) {
             auto* p = reinterpret_cast<unsigned char*>(cdx.data());
             const std::vector<uint32_t> leaves = levelsOf(cdx, tag).back();
             const uint32_t leaf = leaves[leaves.size() / 2];
             const uint32_t left = io::le32(p + leaf + 4), right = io::le32(p + leaf + 8);
             io::putLe32(p + left + 8, right);
             io::putLe32(p + right + 4, left);
             // Its keys' records were marked before the kill.
             const int bpe = p[leaf + 23];
             const uint32_t mask = io::le32(p + leaf + 14);
             for (int i = 0; i < io::le16(p + leaf + 2); ++i) {
                 uint64_t v = 0;
                 for (int b = 0; b < bpe; ++b) v |= uint64_t(p[leaf + 24 + size_t(i * bpe + b)]) << (8 * b);
                 std::string raw = t.readRecord(uint32_t(v & mask));
                 raw[0] = '*';
                 t.writeRecord(uint32_t(v & mask), raw);
             }
             return leaf;
         }},
        {"a leaf split without its parent's entry brought up to date",
         [](Table&, std::string& cdx, const CdxTagHeader& tag) {
             // The parent's entry keeps a key that is no longer its child's last.
             auto* p = reinterpret_cast<unsigned char*>(cdx.data());
             const auto levels = levelsOf(cdx, tag);
             unsigned char* entry = p + levels[levels.size() - 2][0] + 12;
             entry[tag.keyLength - 1] = entry[tag.keyLength - 1] == 'Z' ? 'Y' : 'Z';
             return levels.back()[0];
         }},
    };
    for (const Tear& tear : tears) {
        TempDir dir;
        const std::string path = dir.file("LOG.DBF"), cdxPath = dir.file("LOG.CDX");
        makeLog(path, 1500);
        std::string cdx = readFile(cdxPath);
        const CdxTagHeader tag = CdxReader(cdxPath).tags()[0];
        ASSERT_EQ(tag.name, "NAME");
        ASSERT_GE(levelsOf(cdx, tag).back().size(), 3u) << tear.what;
        std::string inside;  // a key the tree leads into its damaged part
        {
            // The table's side of the torn change is written through the engine without its
            // index (whose file is put back afterwards).
            auto t = Table::openWithoutIndex(path);
            const uint32_t leaf = tear.apply(*t, cdx, tag);
            const auto* p = reinterpret_cast<const unsigned char*>(cdx.data());
            const uint32_t first = io::le32(p + leaf + 24) & io::le32(p + leaf + 14);
            inside = t->readRecord(first).substr(1, 30);
            inside.back() = inside.back() == 'Z' ? 'Y' : char(inside.back() + 1);
            t->close();
        }
        std::memset(cdx.data() + 16, 0, 28);  // a torn change carries no stamp
        writeFile(cdxPath, cdx);
        {
            auto t = Table::open(path);
            EXPECT_NE(t->indexNote().find("was rebuilt"), std::string::npos) << tear.what << ": " << t->indexNote();
            EXPECT_EQ(keysOf(*t, "NAME"), expectedNameKeys(*t)) << tear.what;
        }
        CdxReader reader(cdxPath);
        EXPECT_EQ(join(reader.verify(reader.tags()[0], ' ')), "") << tear.what << ": a torn tree was kept";
        // Keys added later land where the tree says and are all found again.
        {
            auto t = Table::open(path);
            std::mt19937 rng(3);
            t->appendRecord(row(inside, 4999));
            for (int i = 0; i < 40; ++i) t->appendRecord(row(randomName(rng), 5000 + i));
        }
        auto t = Table::open(path);
        EXPECT_EQ(t->indexNote(), "") << tear.what;
        EXPECT_EQ(keysOf(*t, "NAME"), expectedNameKeys(*t)) << tear.what;
        t->close();
        EXPECT_EQ(Table::check(path), std::vector<std::string>{}) << tear.what;
    }
}

// --- the stamp ------------------------------------------------------------------------------

TEST(Stamp, AnOutsideEditWithTheTimePutBackIsNotTrusted) {
    TempDir dir;
    const std::string path = dir.file("LOG.DBF");
    makeLog(path, 300);
    struct stat before {};
    ::stat(path.c_str(), &before);
    // Another program edits record 5's key in place and puts the modification time back.
    std::string dbf = readFile(path);
    const size_t rec5 = 32 + 3 * 32 + 1 + 4 * kLength;
    dbf.replace(rec5 + 1, 30, pad("OUTSIDE EDIT", 30));
    {
        const int fd = ::open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, dbf.data() + rec5, kLength, off_t(rec5)), ssize_t(kLength));
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::futimens(fd, times), 0);
        ::close(fd);
    }
    struct stat after {};
    ::stat(path.c_str(), &after);
    ASSERT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    ASSERT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    {
        auto t = Table::open(path);
        EXPECT_NE(t->indexNote(), "") << "the stale index was taken as it is";
        EXPECT_EQ(keysOf(*t, "NAME"), expectedNameKeys(*t));
        // The program then edits the record: its key must not appear twice.
        std::string raw = t->readRecord(5);
        raw.replace(1, 30, pad("EDITED IN THE PROGRAM", 30));
        t->writeRecord(5, raw);
        EXPECT_EQ(keysOf(*t, "NAME"), expectedNameKeys(*t));
    }
    auto t = Table::open(path);
    EXPECT_EQ(keysOf(*t, "NAME"), expectedNameKeys(*t));
    EXPECT_EQ(t->tagKeys(t->findTag("UNAME")).size(), 300u);
}

TEST(Stamp, IsTrustedOnlyWhereTheTableTimeTellsChangesApart) {
    constexpr uint64_t s = 1000000000ull;
    const CdxStamp now{300, 129, 47, 1700000000 * s + 123456789, 0};
    struct Case {
        const char* what;
        CdxStamp stored;
        bool trusted;
    } cases[] = {
        {"the same table, fine times", {300, 129, 47, 1700000000 * s + 123456789, 1700000000}, true},
        {"another record count", {299, 129, 47, 1700000000 * s + 123456789, 1700000005}, false},
        {"another change time", {300, 129, 47, 1700000000 * s + 123456788, 1700000005}, false},
        {"another record length", {300, 129, 48, 1700000000 * s + 123456789, 1700000005}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(stampDescribes(c.stored, now), c.trusted) << c.what;
    // Whole seconds (or milliseconds): an edit in the same second would leave the time as it was.
    for (uint64_t resolution : {s, 2 * s, s / 1000}) {
        const CdxStamp coarse{300, 129, 47, 1700000000 * s / resolution * resolution, 0};
        for (int64_t after = 0; after <= 3; ++after) {
            const CdxStamp stored{300, 129, 47, coarse.tableChanged, 1700000000 + after};
            EXPECT_EQ(stampDescribes(stored, coarse), after >= 2)
                << "resolution " << resolution << " ns, stamped " << after << " s after the table's change";
        }
    }
}

TEST(Stamp, AKeyMissingAtAnEditRebuildsTheIndex) {
    TempDir dir;
    const std::string path = dir.file("LOG.DBF");
    makeLog(path, 300);
    // Record 7's key changed behind the index's back, and the index is trusted all the same.
    std::string dbf = readFile(path);
    const size_t rec7 = 32 + 3 * 32 + 1 + 6 * kLength;
    dbf.replace(rec7 + 1, 30, pad("CHANGED BEHIND ITS BACK", 30));
    writeFile(path, dbf);
    forgeStamp(path, dir.file("LOG.CDX"));
    auto t = Table::open(path);
    ASSERT_EQ(t->indexNote(), "") << "the stale index must be in use for this test";
    std::string raw = t->readRecord(7);
    raw.replace(1, 30, pad("EDITED", 30));
    t->writeRecord(7, raw);
    EXPECT_TRUE(contains(t->warnings(), "did not hold the old key of record 7")) << join(t->warnings());
    EXPECT_EQ(keysOf(*t, "NAME"), expectedNameKeys(*t)) << "record 7 shows once";
    t->close();
    EXPECT_EQ(Table::check(path), std::vector<std::string>{});
}

// --- the record count -----------------------------------------------------------------------

TEST(RecordCount, AHeaderAheadOfTheFileIsCorrectedNotRefused) {
    const size_t header = 32 + 3 * 32 + 1;
    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
        uint32_t counted, present;
    } cases[] = {
        {"one record counted that never reached the disk",
         [](std::string& d) {
             d[4] = char(11);
             d.pop_back();
         },
         11, 10},
        {"half of the last record on disk", [&](std::string& d) { d.resize(header + 9 * kLength + kLength / 2); }, 10,
         9},
        {"a count far past the end",
         [](std::string& d) {
             d[4] = d[5] = d[6] = char(0xFF);
             d[7] = 0x7F;
         },
         0x7FFFFFFF, 10},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string path = dir.file("LOG.DBF");
        makeLog(path, 10);
        std::string dbf = readFile(path);
        c.damage(dbf);
        writeFile(path, dbf);
        const std::string counted = "counts " + std::to_string(c.counted) + " records, but the file holds only " +
                                    std::to_string(c.present) + " whole records";
        {
            auto t = Table::openForReading(path);
            EXPECT_EQ(t->recordCount(), c.present) << c.what;
            EXPECT_TRUE(contains(t->warnings(), counted)) << c.what << ": " << join(t->warnings());
        }
        EXPECT_TRUE(contains(Table::check(path), counted)) << c.what;
        {
            auto t = Table::open(path);
            EXPECT_EQ(t->recordCount(), c.present) << c.what;
            EXPECT_TRUE(contains(t->warnings(), "the count was corrected")) << c.what << ": " << join(t->warnings());
            EXPECT_EQ(keysOf(*t, "NAME"), expectedNameKeys(*t)) << c.what;
            t->appendRecord(row("AFTER", 99));
        }
        EXPECT_EQ(io::le32(reinterpret_cast<const unsigned char*>(readFile(path).data()) + 4), c.present + 1) << c.what;
        EXPECT_EQ(Table::check(path), std::vector<std::string>{}) << c.what;
    }
}

TEST(RecordCount, TheProgramOpensALogWhoseCountIsAhead) {
    TempDir dir;
    {
        RecordSet rs;
        TXbAccess xb;
        ASSERT_TRUE(OpenRecFaxDBF(dir.path(), rs, xb));
        for (const char* from : {"one", "two", "three"}) {
            rs.append();
            rs.fieldByName("FROM").setString(from);
            rs.post();
        }
    }
    std::string dbf = readFile(dir.file("TVNREC.DBF"));
    dbf[4] = char(4);  // the count of an append whose record did not reach the disk
    writeFile(dir.file("TVNREC.DBF"), dbf);
    RecordSet rs;
    TXbAccess xb;
    ASSERT_TRUE(OpenRecFaxDBF(dir.path(), rs, xb)) << xb.lastError();
    EXPECT_EQ(rs.recCount(), 3u);
    EXPECT_EQ(rs.visibleCount(), 3u);
}

// --- bytes after the last record --------------------------------------------------------------

// Appends records after the counted end without counting them, as a kill or a power cut between
// the record and its count leaves them.
void appendUncounted(const std::string& path, const std::vector<std::string>& records) {
    std::string dbf = readFile(path);
    if (!dbf.empty() && dbf.back() == '\x1A') dbf.pop_back();
    for (const auto& r : records) dbf += r;
    writeFile(path, dbf + "\x1A");
}

TEST(CutOffRecords, EveryCopyIsKeptAndTheirRecordsComeBackOnce) {
    TempDir dir;
    const std::string path = dir.file("LOG.DBF");
    makeLog(path, 20);
    std::string memoPtr;
    {
        auto t = Table::open(path);
        memoPtr = t->writeMemo("the memo of a record whose count was lost");
        t->flush();
    }
    // Two interrupted sessions, each leaving a record of its own behind the end.
    appendUncounted(path, {row("FIRST LOST", 101, memoPtr)});
    Table::open(path)->close();
    appendUncounted(path, {row("SECOND LOST", 102), row("THIRD LOST", 103)});
    Table::open(path)->close();
    Table::open(path)->close();  // nothing cut off this time: no third copy
    EXPECT_EQ(Table::extraFiles(path), (std::vector<std::string>{path + ".extra", path + ".extra.2"}));
    EXPECT_EQ(readFile(path + ".extra"), row("FIRST LOST", 101, memoPtr) + "\x1A");
    std::vector<std::string> notes;
    EXPECT_EQ(Table::check(path, &notes), std::vector<std::string>{});
    EXPECT_TRUE(contains(notes, "LOG.DBF.extra.2: 2 whole record(s)")) << join(notes);
    // An interrupted recovery: the first copy comes back again after its records were added.
    const std::string firstCopy = readFile(path + ".extra");
    {
        auto t = Table::open(path);
        EXPECT_EQ(t->recoverExtra(path + ".extra"), 1u);
    }
    writeFile(path + ".extra", firstCopy);
    {
        auto t = Table::open(path);
        for (const auto& copy : Table::extraFiles(path)) t->recoverExtra(copy);
        EXPECT_TRUE(t->warnings().empty()) << join(t->warnings());
    }
    EXPECT_EQ(Table::extraFiles(path), std::vector<std::string>{});
    auto t = Table::open(path);
    ASSERT_EQ(t->recordCount(), 23u) << "each record once";
    EXPECT_EQ(t->readRecord(21).substr(1, 10), "FIRST LOST");
    EXPECT_EQ(t->readMemo(t->readRecord(21).substr(37, 10)), "the memo of a record whose count was lost");
    EXPECT_EQ(t->readRecord(23).substr(1, 10), "THIRD LOST");
    EXPECT_EQ(keysOf(*t, "NAME"), expectedNameKeys(*t));
    t->close();
    EXPECT_EQ(Table::check(path), std::vector<std::string>{});
}

TEST(CutOffRecords, AMemoNoLongerTheRecordsOwnIsNotAttached) {
    TempDir dir;
    const std::string path = dir.file("LOG.DBF");
    Table::create(path, kFields);
    std::string ptr;
    {
        auto t = Table::open(path);
        ptr = t->writeMemo("memo of the kept record");
        t->appendRecord(row("KEPT", 1, ptr));
    }
    // The cut-off record points at the same memo as a record of the table.
    appendUncounted(path, {row("CUT OFF", 2, ptr), row("BAD POINTER", 3, FptFile::formatPointer(99999))});
    auto t = Table::open(path);
    EXPECT_EQ(t->recoverExtra(path + ".extra"), 2u);
    EXPECT_TRUE(contains(t->warnings(), "record 1 of the copy, field NOTE: its memo now belongs to another record"))
        << join(t->warnings());
    EXPECT_TRUE(contains(t->warnings(), "record 2 of the copy, field NOTE: its memo cannot be read"))
        << join(t->warnings());
    EXPECT_EQ(t->readMemo(t->readRecord(1).substr(37, 10)), "memo of the kept record");
    EXPECT_EQ(t->readMemo(t->readRecord(2).substr(37, 10)), "");
    EXPECT_EQ(t->readMemo(t->readRecord(3).substr(37, 10)), "");
}

// --- the index flag -------------------------------------------------------------------------

TEST(IndexFlag, CheckReportsAnIndexFileTheTableDoesNotClaim) {
    TempDir dir;
    const std::string path = dir.file("LOG.DBF");
    makeLog(path, 50);
    // As a reindex killed after it dropped the tags and before it wrote new ones leaves it.
    std::string dbf = readFile(path);
    dbf[28] = 0;
    writeFile(path, dbf);
    const auto problems = Table::check(path);
    EXPECT_TRUE(contains(problems, "does not claim this index file")) << join(problems);
}

// --- index pages ----------------------------------------------------------------------------

// The size of an index built whole for the table as it is.
size_t freshIndexSize(const std::string& path) {
    TempDir copy;
    writeFile(copy.file("T.DBF"), readFile(path));
    writeFile(copy.file("T.FPT"), readFile(path.substr(0, path.size() - 3) + "FPT"));
    writeFile(copy.file("T.CDX"), readFile(path.substr(0, path.size() - 3) + "CDX"));
    auto t = Table::open(copy.file("T.DBF"));
    t->reindex();
    t->close();
    return readFile(copy.file("T.CDX")).size();
}

TEST(IndexPages, FreedPagesAreUsedAgain) {
    TempDir dir;
    const std::string path = dir.file("LOG.DBF");
    makeLog(path, 1800);
    std::mt19937 rng(17);
    int nextId = 10000;
    // Sessions of the clean-up window and of new faxes: runs of neighbouring keys marked (their
    // leaves empty), as many new keys spread over the tree.
    for (int session = 0; session < 40; ++session) {
        auto t = Table::open(path);
        const CdxEntries keys = keysOf(*t, "NAME");
        const size_t from = rng() % (keys.size() - 60);
        for (size_t i = from; i < from + 60; ++i) t->setDeleted(keys[i].second, true);
        for (int i = 0; i < 60; ++i) t->appendRecord(row(randomName(rng), nextId++));
    }
    {
        auto t = Table::open(path);
        EXPECT_EQ(t->indexNote(), "");
        EXPECT_EQ(keysOf(*t, "NAME"), expectedNameKeys(*t));
    }
    const size_t size = readFile(dir.file("LOG.CDX")).size(), fresh = freshIndexSize(path);
    EXPECT_LE(size, 2 * fresh) << "the index grew to " << size << " bytes where " << fresh << " hold its keys";
    EXPECT_EQ(Table::check(path), std::vector<std::string>{});
}

TEST(IndexPages, OneFaxASessionKeepsTheIndexNearItsBuiltSize) {
    TempDir dir;
    RecordSet rs;
    TXbAccess xb;
    ASSERT_TRUE(OpenRecFaxDBF(dir.path(), rs, xb));
    std::mt19937 rng(5);
    // Each fax arrives after the one before; the stations calling are many.
    const auto addFax = [&](int i) {
        rs.append();
        char day[16], time[8];
        std::snprintf(day, sizeof day, "20%02d%02d%02d", 10 + i / 336, 1 + i / 28 % 12, 1 + i % 28);
        std::snprintf(time, sizeof time, "%02d:%02d", 8 + i % 10, i % 60);
        rs.fieldByName("DATEREC").setString(day);
        rs.fieldByName("TIMEREC").setString(time);
        rs.fieldByName("FROM").setString("Station " + std::to_string(rng() % 400));
        rs.post();
    };
    for (int i = 0; i < 1763; ++i) addFax(i);
    ASSERT_TRUE(rebuildTableIndexes(rs, xb, recTableSpec(), "", ""));
    rs.close();
    const size_t built = readFile(dir.file("TVNREC.CDX")).size();
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(OpenRecFaxDBF(dir.path(), rs, xb));
        addFax(1763 + i);
        rs.close();
    }
    const size_t size = readFile(dir.file("TVNREC.CDX")).size();
    const size_t fresh = freshIndexSize(dir.file("TVNREC.DBF"));
    EXPECT_LE(size, fresh + fresh / 4) << "built " << built << ", now " << size << ", built anew " << fresh;
}

// --- links ----------------------------------------------------------------------------------

TEST(Links, ATableLinkPlantedInTheDataDirectoryIsRefused) {
    TempDir dir, outside;
    ASSERT_EQ(::symlink(outside.file("TVN.DBF").c_str(), dir.file("TVN.DBF").c_str()), 0);
    RecordSet rs;
    TXbAccess xb;
    EXPECT_FALSE(OpenFaxDBF(dir.path(), rs, xb));
    EXPECT_NE(xb.lastError().find("symbolic link"), std::string::npos) << xb.lastError();
    EXPECT_EQ(outside.names(), std::vector<std::string>{}) << "nothing is created where the link points";
    // A link to an existing table is refused as well, for reading and for writing.
    makeLog(outside.file("REAL.DBF"), 5);
    const std::string real = readFile(outside.file("REAL.DBF"));
    ASSERT_EQ(::symlink(outside.file("REAL.DBF").c_str(), dir.file("LOG.DBF").c_str()), 0);
    EXPECT_THROW(Table::open(dir.file("LOG.DBF")), EXbError);
    EXPECT_THROW(Table::openForReading(dir.file("LOG.DBF")), EXbError);
    EXPECT_THROW(Table::create(dir.file("LOG.DBF"), kFields), EXbError);
    EXPECT_EQ(readFile(outside.file("REAL.DBF")), real);
}

TEST(Links, LinksInPlaceOfTheEnginesOwnFilesAreNotWrittenThrough) {
    struct Case {
        const char* name;  // the link planted beside LOG.DBF
        std::function<void(const TempDir& dir)> run;
    } cases[] = {
        {"LOG.CDX.tmp", [](const TempDir& d) { Table::open(d.file("LOG.DBF"))->reindex(); }},
        {"LOG.CDX.undo",
         [](const TempDir& d) {
             auto t = Table::open(d.file("LOG.DBF"));
             t->appendRecord(row("NEW", 100));
         }},
        {"LOG.DBF.extra",
         [](const TempDir& d) {
             appendUncounted(d.file("LOG.DBF"), {row("CUT OFF", 100)});
             Table::open(d.file("LOG.DBF"));
         }},
        {"LOG.DBF.new", [](const TempDir& d) { Table::open(d.file("LOG.DBF"))->pack(); }},
        {"LOG.FPT.new", [](const TempDir& d) { Table::open(d.file("LOG.DBF"))->pack(); }},
        {"LOG.DBF.pack.tmp", [](const TempDir& d) { Table::open(d.file("LOG.DBF"))->pack(); }},
        {"Eraseme.rtf",
         [](const TempDir& d) {
             RecordSet rs;
             rs.setDirectory(d.path());
             rs.setTableName("LOG.DBF");
             rs.open();
             rs.go(1);
             ASSERT_TRUE(rs.blobToFile("NOTE", d.file("Eraseme.rtf")));
         }},
    };
    for (const auto& c : cases) {
        TempDir dir, outside;
        makeLog(dir.file("LOG.DBF"), 30);
        {
            auto t = Table::open(dir.file("LOG.DBF"));
            std::string raw = t->readRecord(1);
            raw.replace(37, 10, t->writeMemo("memo"));
            t->writeRecord(1, raw);
            t->setDeleted(2, true);
        }
        writeFile(outside.file("precious"), "precious");
        ASSERT_EQ(::symlink(outside.file("precious").c_str(), dir.file(c.name).c_str()), 0);
        try {
            c.run(dir);
        } catch (const EXbError& e) {
            ADD_FAILURE() << c.name << ": " << e.what();
        }
        EXPECT_EQ(readFile(outside.file("precious")), "precious") << c.name << " was written through";
        EXPECT_EQ(outside.names(), std::vector<std::string>{"precious"}) << c.name;
    }
}

}  // namespace
}  // namespace telvane::records
