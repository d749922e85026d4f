// Table engine: index keys kept exact under append, edit, delete, recall and pack, in ascending
// and descending tags with FOR conditions; the index checked at open; exclusive use.
#include "records/cdx_file.h"
#include "records/table.h"
#include "records/xb_error.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

namespace telvane::records {
namespace {

using test::pad;
using test::readFile;
using test::TempDir;
using test::writeFile;

// NAME C8, DAY D, NOTE M.
std::string rec(const std::string& name, const std::string& day, bool deleted = false) {
    return std::string(1, deleted ? '*' : ' ') + pad(name, 8) + pad(day, 8) + std::string(10, ' ');
}

std::unique_ptr<Table> makeTable(const TempDir& dir) {
    Table::create(
        dir.file("T.DBF"),
        {{"NAME", FieldType::Character, 8, 0}, {"DAY", FieldType::Date, 8, 0}, {"NOTE", FieldType::Memo, 10, 0}});
    return Table::open(dir.file("T.DBF"));
}

// The (key, recno) list a tag must hold, computed independently from the records.
std::vector<std::pair<std::string, uint32_t>> expectedUpperName(const Table& t) {
    std::vector<std::pair<std::string, uint32_t>> out;
    for (uint32_t r = 1; r <= t.recordCount(); ++r) {
        const std::string raw = t.readRecord(r);
        if (raw[0] == '*') continue;
        std::string key = raw.substr(1, 8);
        for (char& c : key) c = char(std::toupper((unsigned char)c));
        out.emplace_back(key, r);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::pair<std::string, uint32_t>> contents(const KeyList& k) {
    std::vector<std::pair<std::string, uint32_t>> out;
    k.forEach([&](std::string_view key, uint32_t r) { out.emplace_back(std::string(key), r); });
    return out;
}

TEST(Table, KeysFollowAppendEditDeleteRecallAndPack) {
    TempDir dir;
    auto t = makeTable(dir);
    const int name = t->addTag("NAME", "UPPER(NAME)", ".not. deleted()", false);
    const int day = t->addTag("DAY", "DTOS(DAY)+NAME", ".not. deleted()", true);
    std::mt19937 rng(42);
    const char* names[] = {"smith", "Jones", "adams", "SMITH", "brown", "", "zed", "Ames"};
    for (int i = 0; i < 300; ++i) {
        char d[16];
        std::snprintf(d, sizeof d, "2024%02d%02d", int(rng() % 12) + 1, int(rng() % 28) + 1);
        t->appendRecord(rec(names[rng() % 8], rng() % 5 ? d : ""));
    }
    for (int step = 0; step < 400; ++step) {
        const uint32_t r = uint32_t(rng() % t->recordCount()) + 1;
        switch (rng() % 4) {
        case 0: t->setDeleted(r, true); break;
        case 1: t->setDeleted(r, false); break;
        case 2: {
            std::string raw = t->readRecord(r);
            raw.replace(1, 8, pad(names[rng() % 8], 8));
            t->writeRecord(r, raw);
            break;
        }
        default: t->appendRecord(rec(names[rng() % 8], "20230101")); break;
        }
        ASSERT_EQ(contents(t->tagKeys(name)), expectedUpperName(*t)) << "step " << step;
    }
    EXPECT_EQ(t->tagKeys(day).size(), t->tagKeys(name).size()) << "both tags hold exactly the unmarked records";
    const uint32_t live = uint32_t(t->tagKeys(name).size());
    t->pack();
    EXPECT_EQ(t->recordCount(), live);
    EXPECT_EQ(contents(t->tagKeys(name)), expectedUpperName(*t));
    t->close();
    // The written index is read back as it is: no rebuild needed.
    auto again = Table::open(dir.file("T.DBF"));
    EXPECT_EQ(again->indexNote(), "");
    EXPECT_EQ(contents(again->tagKeys(name)), expectedUpperName(*again));
    again.reset();
    EXPECT_EQ(Table::check(dir.file("T.DBF")), std::vector<std::string>{});
}

TEST(Table, DescendingTagsStoreAscendingAndFlagTheOrder) {
    TempDir dir;
    auto t = makeTable(dir);
    t->appendRecord(rec("B", "20240102"));
    t->appendRecord(rec("A", "20240103"));
    t->appendRecord(rec("C", "20240101"));
    t->appendRecord(rec("D", ""));
    const int tag = t->addTag("DAY", "DAY", "", true);
    const KeyList& k = t->tagKeys(tag);
    ASSERT_EQ(k.size(), 4u);
    EXPECT_EQ(k.recnoAt(0), 4u) << "the empty date is 0 and sorts first";
    EXPECT_EQ(k.recnoAt(1), 3u);
    EXPECT_EQ(k.recnoAt(3), 2u);
    EXPECT_TRUE(t->tagInfo(tag).descending);
    EXPECT_EQ(t->tagInfo(tag).keyType, 'D');
    EXPECT_EQ(k.keyAt(3), std::string("\xC1\x42\xC5\x4C\x80\0\0\0", 8)) << "2024-01-03 (JDN 2460313) as a date key";
    EXPECT_EQ(k.lowerBound(k.keyAt(2), 0), 2u);
    EXPECT_EQ(k.lowerBound(k.keyAt(2), 2), 3u);
}

TEST(Table, MemosSurviveEditsAndPack) {
    TempDir dir;
    auto t = makeTable(dir);
    std::string big(100000, 'x');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 31 % 256);
    std::string r1 = rec("ONE", "");
    r1.replace(17, 10, t->writeMemo(big));
    t->appendRecord(r1);
    std::string r2 = rec("TWO", "");
    r2.replace(17, 10, t->writeMemo("{\\rtf1 two}"));
    t->appendRecord(r2);
    t->setDeleted(1, true);
    t->pack();
    ASSERT_EQ(t->recordCount(), 1u);
    EXPECT_EQ(t->readMemo(t->readRecord(1).substr(17, 10)), "{\\rtf1 two}");
    const auto sizeAfter = readFile(dir.file("T.FPT")).size();
    EXPECT_LT(sizeAfter, 2000u) << "pack drops the memos of removed records";
    std::string r3 = rec("THREE", "");
    r3.replace(17, 10, t->writeMemo(big));
    t->appendRecord(r3);
    t->close();
    auto again = Table::open(dir.file("T.DBF"));
    EXPECT_EQ(again->readMemo(again->readRecord(2).substr(17, 10)), big);
}

TEST(Table, StaleIndexIsDetectedAndRebuiltAtOpen) {
    TempDir dir;
    {
        auto t = makeTable(dir);
        for (const char* n : {"DELTA", "ALPHA", "CHARLIE"}) t->appendRecord(rec(n, ""));
        t->addTag("NAME", "NAME", ".not. deleted()", false);
    }
    const std::string goodCdx = readFile(dir.file("T.CDX"));
    {
        auto t = Table::open(dir.file("T.DBF"));
        t->appendRecord(rec("BRAVO", ""));
        t->setDeleted(1, true);
        t->close();
    }
    // Put the old index back, as a crash before the index was written would leave it.
    writeFile(dir.file("T.CDX"), goodCdx);
    EXPECT_FALSE(Table::check(dir.file("T.DBF")).empty()) << "check reports the stale index";
    auto t = Table::open(dir.file("T.DBF"));
    EXPECT_NE(t->indexNote().find("did not match the table"), std::string::npos) << t->indexNote();
    const KeyList& k = t->tagKeys(1);
    ASSERT_EQ(k.size(), 3u);
    EXPECT_EQ(k.recnoAt(0), 2u);  // ALPHA
    EXPECT_EQ(k.recnoAt(1), 4u);  // BRAVO
    EXPECT_EQ(k.recnoAt(2), 3u);  // CHARLIE
    t->close();
    EXPECT_TRUE(Table::check(dir.file("T.DBF")).empty()) << "the rebuilt index was written";
}

TEST(Table, MissingIndexClearsTheFlagAndTagsCanBeReplaced) {
    TempDir dir;
    {
        auto t = makeTable(dir);
        t->appendRecord(rec("X", ""));
        t->addTag("NAME", "NAME", "", false);
        EXPECT_EQ(t->addTag("name", "UPPER(NAME)", "", true), 1) << "a tag of the same name is replaced";
        EXPECT_EQ(t->tagCount(), 1);
        EXPECT_EQ(t->findTag("Name"), 1);
        EXPECT_EQ(t->findTag("OTHER"), 0);
    }
    std::remove(dir.file("T.CDX").c_str());
    auto t = Table::open(dir.file("T.DBF"));
    EXPECT_EQ(t->tagCount(), 0);
    EXPECT_EQ(t->indexNote(), "index file missing");
    t->close();
    EXPECT_EQ(readFile(dir.file("T.DBF"))[28], 0);
}

TEST(Table, BadTagDefinitionsAreRefused) {
    TempDir dir;
    auto t = makeTable(dir);
    EXPECT_THROW(t->addTag("1BAD", "NAME", "", false), EXbError);
    EXPECT_THROW(t->addTag("TOOLONGNAME1", "NAME", "", false), EXbError);
    EXPECT_THROW(t->addTag("T", "NAME +", "", false), EXbExpressionError);
    EXPECT_THROW(t->addTag("T", "NAME", "NAME", false), EXbExpressionError) << "FOR must be logical";
    EXPECT_THROW(t->addTag("T",
                           "NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+"
                           "NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME",
                           "", false),
                 EXbExpressionError)
        << "keys longer than 240 bytes";
    EXPECT_EQ(t->tagCount(), 0);
}

TEST(Table, ExclusiveUse) {
    TempDir dir;
    auto t = makeTable(dir);
    try {
        Table::open(dir.file("T.DBF"));
        FAIL() << "a second open must fail";
    } catch (const EXbError& e) {
        EXPECT_NE(std::string(e.what()).find("in use"), std::string::npos);
    }
    t->close();
    EXPECT_NO_THROW(Table::open(dir.file("T.DBF")));
}

TEST(Table, InterruptedAppendBytesAreSetAsideAndCutOff) {
    TempDir dir;
    {
        auto t = makeTable(dir);
        t->appendRecord(rec("ONE", ""));
    }
    const std::string before = readFile(dir.file("T.DBF"));
    // A record written without its count, as a kill between the two writes leaves it.
    std::string dbf = before;
    dbf.pop_back();
    dbf += rec("HALF", "") + "\x1A";
    writeFile(dir.file("T.DBF"), dbf);
    std::vector<std::string> notes;
    EXPECT_EQ(Table::check(dir.file("T.DBF"), &notes), std::vector<std::string>{}) << "nothing committed is lost";
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("append that did not complete"), std::string::npos) << notes[0];
    {
        auto t = Table::open(dir.file("T.DBF"));
        EXPECT_EQ(t->recordCount(), 1u);
        ASSERT_EQ(t->warnings().size(), 1u);
        EXPECT_NE(t->warnings()[0].find(std::to_string(rec("HALF", "").size() + 1) + " bytes after the last record"),
                  std::string::npos)
            << t->warnings()[0];
    }
    // Opening keeps a copy of the bytes (they may be a record whose count was lost) and takes
    // them off the table, which is then as another xBase program expects it.
    EXPECT_EQ(readFile(dir.file("T.DBF")), before);
    EXPECT_EQ(readFile(dir.file("T.DBF.extra")), rec("HALF", "") + "\x1A");
    notes.clear();
    EXPECT_EQ(Table::check(dir.file("T.DBF"), &notes), std::vector<std::string>{});
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("T.DBF.extra: 1 whole record(s)"), std::string::npos) << notes[0];
    auto t = Table::open(dir.file("T.DBF"));
    t->appendRecord(rec("TWO", ""));
    EXPECT_EQ(t->readRecord(2).substr(1, 3), "TWO");
    t->close();
    EXPECT_EQ(Table::check(dir.file("T.DBF")), std::vector<std::string>{});
}

TEST(Table, PackCompletesOrRollsBackAfterAnInterruption) {
    TempDir dir;
    {
        auto t = makeTable(dir);
        t->appendRecord(rec("KEEP", ""));
        t->appendRecord(rec("DROP", "", true));
    }
    const std::string dbf = readFile(dir.file("T.DBF"));
    // Not committed: a half-written new file is thrown away.
    writeFile(dir.file("T.DBF.new"), "garbage");
    {
        auto t = Table::open(dir.file("T.DBF"));
        EXPECT_EQ(t->recordCount(), 2u);
    }
    EXPECT_FALSE(test::exists(dir.file("T.DBF.new")));
    // Committed (marker present): the new file is moved in at the next open.
    {
        auto t = Table::open(dir.file("T.DBF"));
        t->pack();
    }
    const std::string packed = readFile(dir.file("T.DBF"));
    writeFile(dir.file("T.DBF"), dbf);
    writeFile(dir.file("T.DBF.new"), packed);
    writeFile(dir.file("T.DBF.pack"), "pack\n");
    std::vector<std::string> notes;
    EXPECT_EQ(Table::check(dir.file("T.DBF"), &notes), std::vector<std::string>{});
    ASSERT_FALSE(notes.empty());
    EXPECT_NE(notes[0].find("interrupted pack"), std::string::npos);
    auto t = Table::open(dir.file("T.DBF"));
    EXPECT_EQ(t->recordCount(), 1u);
    EXPECT_EQ(t->readRecord(1).substr(1, 4), "KEEP");
    EXPECT_FALSE(test::exists(dir.file("T.DBF.pack")));
}

TEST(Table, CreateRefusesBadFieldLists) {
    TempDir dir;
    EXPECT_THROW(Table::create(dir.file("A.DBF"), {}), EXbError);
    EXPECT_THROW(Table::create(dir.file("A.DBF"), {{"NAME", FieldType::Character, 300, 0}}), EXbError);
    EXPECT_THROW(Table::create(dir.file("A.DBF"), {{"N", FieldType::Numeric, 2, 0}, {"n", FieldType::Character, 2, 0}}),
                 EXbError);
    EXPECT_THROW(Table::create(dir.file("A.DBF"), {{"ELEVENCHARS", FieldType::Character, 2, 0}}), EXbError);
    EXPECT_THROW(Table::create(dir.file("A.DBF"), {{"D", FieldType::Date, 6, 0}}), EXbError);
    EXPECT_FALSE(test::exists(dir.file("A.DBF")));
}

}  // namespace
}  // namespace telvane::records

namespace telvane::records {
namespace {

TEST(KeyList, MatchesASortedSetUnderRandomChanges) {
    std::mt19937 rng(7);
    KeyList list(3);
    std::set<std::pair<std::string, uint32_t>> model;
    for (int step = 0; step < 20000; ++step) {
        std::string key(3, ' ');
        for (char& c : key) c = char('a' + rng() % 4);
        const uint32_t recno = rng() % 50 + 1;
        if (rng() % 3 == 0 || model.size() > 3000) {
            const bool had = model.erase({key, recno}) > 0;
            ASSERT_EQ(list.erase(key, recno), had);
        } else if (model.insert({key, recno}).second) {
            list.insert(key, recno);
        }
        ASSERT_EQ(list.size(), model.size());
        if (step % 997 == 0) {
            size_t i = 0;
            for (const auto& [k, r] : model) {
                ASSERT_EQ(list.keyAt(i), k);
                ASSERT_EQ(list.recnoAt(i), r);
                ++i;
            }
            ASSERT_EQ(list.lowerBound("bbb", 0), size_t(std::distance(model.begin(), model.lower_bound({"bbb", 0}))));
        }
    }
    for (const auto& [k, r] : model) ASSERT_TRUE(list.erase(k, r));
    EXPECT_TRUE(list.empty());
    list.insert("zz", 9);  // a list emptied by erasing takes entries again
    EXPECT_EQ(list.keyAt(0), "zz ");
    EXPECT_EQ(list.recnoAt(1), 0u) << "past the end";
}

}  // namespace
}  // namespace telvane::records
