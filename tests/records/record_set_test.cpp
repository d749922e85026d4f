// Record set: navigation in physical and tag order, visible counts and positions, filters and
// hidden marked records, the edit buffer, typed fields, calculated fields, listeners, memo files.
#include "records/record_set.h"
#include "records/table.h"
#include "records/xb_access.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <functional>

namespace telvane::records {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

class RecordSetTest : public ::testing::Test {
protected:
    void SetUp() override {
        Table::create(dir.file("P.DBF"), {{"NAME", FieldType::Character, 10, 0},
                                          {"DAY", FieldType::Date, 8, 0},
                                          {"PAGES", FieldType::Numeric, 5, 1},
                                          {"OK", FieldType::Logical, 1, 0},
                                          {"BODY", FieldType::Memo, 10, 0}});
        rs.setDirectory(dir.path());
        rs.setTableName("P.DBF");
        rs.open();
    }

    void add(const std::string& name, const std::string& day = "", double pages = 0, bool ok = false) {
        rs.append();
        rs.fieldByName("NAME").setString(name);
        rs.fieldByName("DAY").setString(day);
        rs.fieldByName("PAGES").setFloat(pages);
        rs.fieldByName("OK").setBoolean(ok);
        rs.post();
    }

    std::vector<std::string> walk() {
        std::vector<std::string> out;
        for (rs.first(); !rs.eof(); rs.next()) out.push_back(rs.fieldByName("NAME").asString());
        return out;
    }

    std::vector<std::string> walkBack() {
        std::vector<std::string> out;
        for (rs.last(); !rs.bof(); rs.prior()) out.push_back(rs.fieldByName("NAME").asString());
        return out;
    }

    TempDir dir;
    RecordSet rs;
};

using V = std::vector<std::string>;

TEST_F(RecordSetTest, EmptyTableHasNoCurrentRecord) {
    EXPECT_TRUE(rs.isEmpty());
    EXPECT_TRUE(rs.bof());
    EXPECT_TRUE(rs.eof());
    EXPECT_EQ(rs.recNo(), rs.recCount() + 1);
    EXPECT_THROW(rs.edit(), EXbError);
    EXPECT_THROW(rs.deleteRecord(), EXbError);
    EXPECT_FALSE(rs.position().has_value());
}

TEST_F(RecordSetTest, NavigatesInPhysicalAndTagOrder) {
    for (const char* n : {"delta", "Alpha", "charlie", "bravo"}) add(n);
    EXPECT_EQ(walk(), (V{"delta", "Alpha", "charlie", "bravo"}));
    rs.indexTag("", "NAME", "UPPER(NAME)", false, ".not. deleted()");
    EXPECT_EQ(rs.indexOrd(), 1);
    EXPECT_EQ(walk(), (V{"Alpha", "bravo", "charlie", "delta"}));
    EXPECT_EQ(walkBack(), (V{"delta", "charlie", "bravo", "Alpha"}));
    rs.indexTag("", "DESC", "UPPER(NAME)", true, "");
    EXPECT_EQ(walk(), (V{"delta", "charlie", "bravo", "Alpha"}));
    EXPECT_EQ(rs.tagArea("name"), 1);
    EXPECT_EQ(rs.tagArea("NOPE"), 0);
    rs.setOrder(0);
    EXPECT_EQ(walk().front(), "delta");
    EXPECT_THROW(rs.setOrder(3), EXbError);
    // Next past the end leaves no current record: record number = count + 1.
    rs.last();
    rs.next();
    EXPECT_TRUE(rs.eof());
    EXPECT_EQ(rs.recNo(), 5u);
    rs.prior();
    EXPECT_EQ(rs.fieldByName("NAME").asString(), "bravo");
}

TEST_F(RecordSetTest, PositionsAndRandomAccessForGrids) {
    for (int i = 0; i < 50; ++i) add("N" + std::to_string(100 - i));
    rs.indexTag("", "NAME", "NAME", false, "");
    EXPECT_EQ(rs.visibleCount(), 50u);
    EXPECT_EQ(rs.recNoAt(0), 1u);  // "N100" sorts first as text
    EXPECT_EQ(rs.row(rs.recNoAt(49)).text("NAME"), "N99");
    rs.moveTo(10);
    EXPECT_EQ(rs.position(), 10u);
    EXPECT_EQ(rs.recNo(), rs.recNoAt(10));
    rs.next();
    EXPECT_EQ(rs.position(), 11u);
    EXPECT_THROW(rs.recNoAt(50), EXbError);
    rs.go(2);
    EXPECT_EQ(rs.position(), 49u);
    EXPECT_THROW(rs.go(52), EXbError);
    rs.go(51);
    EXPECT_TRUE(rs.eof());
}

TEST_F(RecordSetTest, FilterAndHiddenMarkedRecords) {
    for (const char* n : {"ann", "bob", "cy", "dee"}) add(n);
    rs.go(2);
    rs.deleteRecord();
    EXPECT_EQ(rs.recNo(), 3u) << "the current record moves on when it disappears";
    EXPECT_EQ(walk(), (V{"ann", "cy", "dee"}));
    EXPECT_EQ(rs.visibleCount(), 3u);
    EXPECT_EQ(rs.recCount(), 4u);
    rs.setDeletedHidden(false);
    EXPECT_EQ(walk(), (V{"ann", "bob", "cy", "dee"}));
    rs.go(2);
    EXPECT_TRUE(rs.deleted());
    rs.setFilter(".not. deleted()");
    EXPECT_EQ(walk(), (V{"ann", "cy", "dee"}));
    rs.setFilter("\"e\" $ NAME .or. NAME = \"a\"");
    EXPECT_EQ(walk(), (V{"ann", "dee"}));
    EXPECT_THROW(rs.setFilter("NAME +"), EXbExpressionError);
    EXPECT_EQ(rs.filter(), "\"e\" $ NAME .or. NAME = \"a\"") << "a bad filter leaves the old one";
    // The filter is remembered across close and open.
    rs.close();
    rs.open();
    EXPECT_EQ(walk(), (V{"ann", "dee"}));
    rs.setFilter("");
    rs.setDeletedHidden(true);
    rs.go(2);
    rs.recall();
    EXPECT_EQ(walk(), (V{"ann", "bob", "cy", "dee"}));
}

TEST_F(RecordSetTest, DeleteAndRecallNeedACurrentRecordAndSayWhichWasRefused) {
    const auto message = [](const std::function<void()>& act) {
        try {
            act();
        } catch (const EXbError& e) {
            return std::string(e.what());
        }
        return std::string("nothing thrown");
    };
    EXPECT_NE(message([&] { rs.deleteRecord(); }).find("no current record to delete"), std::string::npos);
    EXPECT_NE(message([&] { rs.recall(); }).find("no current record to recall"), std::string::npos);
    add("ann");
    rs.first();
    rs.deleteRecord();
    rs.go(1);
    EXPECT_TRUE(rs.deleted());
    rs.recall();
    EXPECT_FALSE(rs.deleted());
}

TEST_F(RecordSetTest, DeletingInATagOrderMovesToTheNextInThatOrder) {
    for (const char* n : {"c", "a", "d", "b"}) add(n);
    rs.indexTag("", "NAME", "NAME", true, ".not. deleted()");  // d c b a
    rs.first();
    rs.next();  // c
    rs.deleteRecord();
    EXPECT_EQ(rs.fieldByName("NAME").asString(), "b");
    rs.last();  // a
    rs.deleteRecord();
    EXPECT_EQ(rs.fieldByName("NAME").asString(), "b") << "at the end it falls back to the record before";
    rs.deleteRecord();
    rs.deleteRecord();
    EXPECT_TRUE(rs.isEmpty());
    EXPECT_EQ(rs.recNo(), rs.recCount() + 1);
}

TEST_F(RecordSetTest, EditBufferPostAndCancel) {
    add("first", "20240501", 3.5, true);
    rs.edit();
    rs.fieldByName("NAME").setString("changed");
    EXPECT_EQ(rs.fieldByName("NAME").asString(), "changed") << "reads see the buffer while editing";
    rs.cancel();
    EXPECT_EQ(rs.fieldByName("NAME").asString(), "first");
    rs.edit();
    rs.fieldByName("name").setString("Ünïcode and a text far too long");
    rs.post();
    EXPECT_EQ(rs.fieldByName("NAME").asString(), "Ünïcode an") << "cut to 10 characters";
    EXPECT_EQ(rs.fieldByName("DAY").asDate(), (Date{2024, 5, 1}));
    EXPECT_DOUBLE_EQ(rs.fieldByName("PAGES").asFloat(), 3.5);
    EXPECT_EQ(rs.fieldByName("PAGES").asString(), "3.5");
    EXPECT_TRUE(rs.fieldByName("OK").asBoolean());
    EXPECT_THROW(rs.fieldByName("NAME").setString("x"), EXbError) << "not in edit mode";
    EXPECT_THROW(rs.fieldByName("NOPE"), EXbError);
    rs.edit();
    EXPECT_THROW(rs.fieldByName("PAGES").setFloat(123456), EXbError) << "too wide for N(5,1)";
    EXPECT_THROW(rs.fieldByName("PAGES").setString("abc"), EXbError);
    EXPECT_THROW(rs.fieldByName("DAY").setString("2024-13-01"), EXbError);
    rs.fieldByName("DAY").setString("12/31/1999");
    rs.fieldByName("PAGES").setInteger(-12);
    rs.fieldByName("BODY").setString("{\\rtf1 body}");
    rs.post();
    EXPECT_EQ(rs.fieldByName("DAY").asDate(), (Date{1999, 12, 31}));
    EXPECT_EQ(rs.fieldByName("PAGES").asInteger(), -12);
    EXPECT_EQ(rs.fieldByName("BODY").asString(), "{\\rtf1 body}");
    EXPECT_EQ(rs.currentRow().memo("body"), "{\\rtf1 body}");
    EXPECT_THROW(rs.currentRow().memo("NAME"), EXbError);
    EXPECT_TRUE(rs.evalLogical("PAGES < 0 .and. \"body\" $ BODY"));
    EXPECT_THROW(rs.evalLogical("PAGES"), EXbExpressionError);
    // Appending and moving away posts the pending record.
    rs.append();
    rs.fieldByName("NAME").setString("second");
    rs.first();
    EXPECT_EQ(rs.recCount(), 2u);
    EXPECT_EQ(rs.state(), DataSetState::Browse);
}

TEST_F(RecordSetTest, CalculatedFieldsAndListeners) {
    rs.setCalcFields({{"Flag", 3}}, [](Row& row) { row.setCalculated("FLAG", row.boolean("OK") ? "Yes" : "No "); });
    add("a", "", 0, true);
    add("b", "", 0, false);
    EXPECT_EQ(rs.fieldByName("flag").asString(), "No ");
    EXPECT_TRUE(rs.fieldByName("FLAG").isCalculated());
    EXPECT_EQ(rs.row(1).text("Flag"), "Yes");
    std::vector<RecordSetEvent> seen;
    const int id = rs.addListener([&](RecordSetEvent e) { seen.push_back(e); });
    rs.disableControls();
    rs.first();
    rs.next();
    EXPECT_TRUE(seen.empty());
    rs.enableControls();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], RecordSetEvent::DataChanged);
    rs.removeListener(id);
    rs.first();
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(RecordSetTest, MemoToFileAndBack) {
    add("m");
    static const char raw[] = "{\\rtf1\\ansi binary \0\xFF end}";
    const std::string rtf(raw, sizeof raw - 1);
    writeFile(dir.file("in.rtf"), rtf);
    rs.edit();
    rs.fieldByName("NAME").setString("edited");
    rs.replaceFromFile("BODY", dir.file("in.rtf"));
    EXPECT_EQ(rs.state(), DataSetState::Edit) << "the pending edit is resumed";
    rs.post();
    EXPECT_EQ(rs.fieldByName("NAME").asString(), "edited") << "the pending edit was posted first";
    ASSERT_TRUE(rs.blobToFile("BODY", dir.file("out.rtf")));
    EXPECT_EQ(readFile(dir.file("out.rtf")), rtf);
    EXPECT_FALSE(rs.blobToFile("BODY", dir.file("no/such/dir/out.rtf")));
    EXPECT_FALSE(rs.blobToFile("NAME", dir.file("x.rtf"))) << "not a memo field";
    EXPECT_THROW(rs.replaceFromFile("BODY", dir.file("missing.rtf")), EXbError);
    rs.last();
    rs.next();
    EXPECT_FALSE(rs.blobToFile("BODY", dir.file("eof.rtf"))) << "no current record";
}

TEST_F(RecordSetTest, AccessObjectReportsInsteadOfThrowing) {
    TXbEnv env;
    env.xb_SysProp(1009, 0);
    EXPECT_EQ(env.sysProp(1009), 0);
    TXbAccess xb(rs, &env);
    add("x");
    add("y");
    EXPECT_EQ(xb.xb_RecCount(), 2);
    EXPECT_EQ(xb.xb_IndexTag("", "N", "NAME", 0, true, ".not. deleted()"), 1);
    EXPECT_EQ(xb.xb_IndexOrd(), 1);
    EXPECT_EQ(xb.xb_IndexTag("OTHER.CDX", "N2", "NAME", 0, false, ""), 0);
    EXPECT_NE(xb.lastError().find("OTHER.CDX"), std::string::npos);
    EXPECT_EQ(xb.xb_Query("NAME ="), 0);
    EXPECT_NE(xb.lastError().find("position"), std::string::npos);
    EXPECT_EQ(xb.xb_Go(1), 1);
    EXPECT_EQ(xb.xb_RecNo(), 1);
    EXPECT_EQ(xb.xb_Go(99), 0);
    EXPECT_TRUE(xb.xb_EvalLogical("NAME = \"x\""));
    EXPECT_FALSE(xb.xb_EvalLogical("NAME = "));
    rs.deleteRecord();
    EXPECT_EQ(xb.xb_QueryRecCount(), 1);
    EXPECT_EQ(xb.xb_SetDeleted(false), 1);
    EXPECT_EQ(xb.xb_QueryRecCount(), 1) << "the tag's FOR condition still leaves the marked record out";
    EXPECT_EQ(xb.xbSetOrder(0), 1);
    EXPECT_EQ(xb.xb_QueryRecCount(), 2);
    EXPECT_EQ(xb.xb_Pack(), 1);
    EXPECT_EQ(xb.xb_RecCount(), 1);
    EXPECT_EQ(xb.xb_Replace("NAME", 0, "zz"), 1);
    EXPECT_EQ(rs.fieldByName("NAME").asString(), "zz");
    EXPECT_EQ(xb.xb_CloseIndexes(), 1);
    EXPECT_EQ(xb.xb_TagArea("N"), 0);
    TXbAccess unbound;
    EXPECT_EQ(unbound.xb_Pack(), 0);
    EXPECT_EQ(unbound.xb_RecNo(), 0);
}

TEST(RecordSetOpen, MissingTableIsAnError) {
    TempDir dir;
    RecordSet rs;
    rs.setDirectory(dir.path());
    rs.setTableName("NONE.DBF");
    try {
        rs.open();
        FAIL();
    } catch (const EXbError& e) {
        EXPECT_NE(std::string(e.what()).find("NONE.DBF"), std::string::npos);
    }
    EXPECT_FALSE(rs.active());
}

}  // namespace
}  // namespace telvane::records
