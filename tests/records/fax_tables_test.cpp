// The four fax tables: creation, open-or-create with the At-open tags, calculated fields,
// close-and-reopen, the index rebuild and the memo <-> rich-text transfer.
#include "records/cdx_file.h"
#include "records/fax_tables.h"
#include "records/table.h"
#include "test_util.h"

#include <gtest/gtest.h>

namespace telvane::records {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

void addFax(RecordSet& t, const std::string& subject, const std::string& day, const std::string& time, bool sent) {
    t.append();
    t.fieldByName("SUBJECT").setString(subject);
    t.fieldByName("DATESENT").setString(day);
    t.fieldByName("TIMESENT").setString(time);
    t.fieldByName("SENT").setBoolean(sent);
    t.post();
}

std::vector<std::string> subjects(RecordSet& t) {
    std::vector<std::string> out;
    for (t.first(); !t.eof(); t.next()) out.push_back(t.fieldByName("SUBJECT").asString());
    return out;
}

using V = std::vector<std::string>;

TEST(FaxTables, OpenCreatesTheOutgoingLogWithOnlyTheDatesentTag) {
    TempDir dir;
    RecordSet faxTable;
    TXbAccess faxXb;
    ASSERT_TRUE(OpenFaxDBF(dir.path(), faxTable, faxXb));
    ASSERT_EQ(faxTable.fields().size(), 10u);
    EXPECT_EQ(faxTable.fields()[8].name, "RTFCOVER");
    const auto tags = faxTable.tags();
    ASSERT_EQ(tags.size(), 1u);
    EXPECT_EQ(tags[0].name, "DATESENT");
    EXPECT_EQ(tags[0].keyExpression, "DTOS(DATESENT)+TIMESENT");
    EXPECT_TRUE(tags[0].descending);
    EXPECT_EQ(faxXb.xb_TagArea("DATEND"), 0) << "no DATEND until a rebuild";
    EXPECT_EQ(faxTable.filter(), ".not. deleted()");
    EXPECT_EQ(faxTable.recNo(), faxTable.recCount() + 1);
}

TEST(FaxTables, MissingIndexIsBuiltAgainWithoutLosingRecords) {
    TempDir dir;
    {
        RecordSet t;
        TXbAccess xb;
        ASSERT_TRUE(OpenFaxDBF(dir.path(), t, xb));
        addFax(t, "old", "20240101", "09:00", true);
        addFax(t, "new", "20240301", "10:00", true);
        addFax(t, "unsent", "", "", false);
        t.close();
    }
    std::remove(dir.file("TVN.CDX").c_str());
    RecordSet t;
    TXbAccess xb;
    ASSERT_TRUE(OpenFaxDBF(dir.path(), t, xb));
    EXPECT_EQ(t.recCount(), 3u);
    ASSERT_EQ(t.tags().size(), 1u);
    t.setOrder(xb.xb_TagArea("DATESENT"));
    EXPECT_EQ(subjects(t), (V{"new", "old", "unsent"})) << "newest first, unsent (blank) last";
}

TEST(FaxTables, CalculatedFieldsAndHiddenMarkedRecords) {
    TempDir dir;
    RecordSet t;
    TXbAccess xb;
    ASSERT_TRUE(OpenFaxDBF(dir.path(), t, xb));
    addFax(t, "a", "", "", false);
    addFax(t, "b", "20240101", "12:00", true);
    t.go(1);
    EXPECT_EQ(t.fieldByName("SentYesNo").asString(), "No ");
    EXPECT_EQ(t.fieldByName("ISDELETED").asString(), "No ");
    t.go(2);
    EXPECT_EQ(t.fieldByName("SentYesNo").asString(), "Yes");
    t.deleteRecord();
    EXPECT_EQ(t.row(2).text("ISDELETED"), "Yes");
    EXPECT_EQ(t.visibleCount(), 1u);
    RecordSet r;
    TXbAccess rx;
    ASSERT_TRUE(OpenRecFaxDBF(dir.path(), r, rx));
    r.append();
    r.fieldByName("FROM").setString("station");
    r.post();
    EXPECT_EQ(r.fieldByName("ISDELETED").asString(), "No ");
    EXPECT_FALSE(r.findField("SentYesNo").has_value());
}

TEST(FaxTables, RebuildPacksAndBuildsTheRebuildTags) {
    TempDir dir;
    RecordSet t;
    TXbAccess xb;
    ASSERT_TRUE(OpenFaxDBF(dir.path(), t, xb));
    addFax(t, "morning", "20240105", "08:00", true);
    addFax(t, "evening", "20240105", "20:00", true);
    addFax(t, "earlier", "20240104", "23:00", true);
    addFax(t, "gone", "20240110", "10:00", true);
    addFax(t, "unsent", "", "", false);
    t.go(4);
    t.deleteRecord();
    std::vector<std::string> said;
    ASSERT_TRUE(rebuildTableIndexes(t, xb, faxTableSpec(), "Removing FAX file records marked for deletion",
                                    "Rebuilding FAX file indexes", [&](const std::string& s) { said.push_back(s); }));
    EXPECT_EQ(said, (V{"Removing FAX file records marked for deletion", "Rebuilding FAX file indexes"}));
    EXPECT_EQ(t.recCount(), 4u);
    const auto tags = t.tags();
    ASSERT_EQ(tags.size(), 4u);
    EXPECT_EQ(tags[1].name, "DATEND");
    EXPECT_EQ(t.indexOrd(), 1);
    // DATESENT now orders by the date alone, newest first; same-day records in reverse record order.
    const auto order = subjects(t);
    EXPECT_EQ(order.back(), "unsent");
    EXPECT_EQ(order[2], "earlier");
    EXPECT_EQ((V{order[0], order[1]}), (V{"evening", "morning"})) << "the descending walk reverses ties as well";
    t.setOrder(xb.xb_TagArea("DATEND"));
    EXPECT_EQ(subjects(t), (V{"unsent", "earlier", "morning", "evening"}));
    t.close();
    CdxReader cdx(dir.file("TVN.CDX"));
    EXPECT_EQ(cdx.tags().size(), 4u);
}

TEST(FaxTables, CoversAndPhoneBookOpenInTheirTagOrder) {
    TempDir dir;
    RecordSet phone;
    TXbAccess phoneXb;
    ASSERT_TRUE(OpenPhoneDBF(dir.path(), phone, phoneXb));
    for (const char* n : {"zed", "Amy", "bob"}) {
        phone.append();
        phone.fieldByName("NAME").setString(n);
        phone.post();
    }
    phone.close();
    ASSERT_TRUE(OpenPhoneDBF(dir.path(), phone, phoneXb));
    EXPECT_EQ(phoneXb.xb_IndexOrd(), phoneXb.xb_TagArea("NAME"));
    std::vector<std::string> names;
    for (phone.first(); !phone.eof(); phone.next()) names.push_back(phone.fieldByName("NAME").asString());
    EXPECT_EQ(names, (V{"Amy", "bob", "zed"}));
    RecordSet cover;
    TXbAccess coverXb;
    ASSERT_TRUE(OpenCoverDBF(dir.path(), cover, coverXb));
    EXPECT_EQ(coverXb.xb_IndexOrd(), 1);
    EXPECT_EQ(cover.tags()[0].name, "DESCRIPT");
}

TEST(FaxTables, CloseAndReopenReturnsToTheRecordOrCarriesOn) {
    TempDir dir;
    RecordSet t;
    TXbAccess xb;
    ASSERT_TRUE(OpenFaxDBF(dir.path(), t, xb));
    addFax(t, "one", "", "", false);
    addFax(t, "two", "", "", false);
    t.go(2);
    int pumped = 0;
    FaxTableCloseAndOpen(t, xb, [&] { ++pumped; });
    EXPECT_EQ(pumped, 1);
    EXPECT_TRUE(t.active());
    EXPECT_EQ(t.recNo(), 2u);
    EXPECT_EQ(t.filter(), ".not. deleted()");
    // The noted record vanishes while the log is closed: no error, the log stays usable.
    FaxTableCloseAndOpen(t, xb, [&] {
        auto raw = Table::open(dir.file("TVN.DBF"));
        raw->setDeleted(2, true);
        raw->pack();
    });
    EXPECT_TRUE(t.active());
    EXPECT_EQ(t.recCount(), 1u);
    EXPECT_EQ(t.recNo(), 1u);
    EXPECT_EQ(t.fieldByName("SUBJECT").asString(), "one");
}

TEST(FaxTables, DamagedIndexIsSetAsideAndRebuilt) {
    TempDir dir;
    {
        RecordSet t;
        TXbAccess xb;
        ASSERT_TRUE(OpenFaxDBF(dir.path(), t, xb));
        addFax(t, "kept", "20240101", "01:00", true);
    }
    writeFile(dir.file("TVN.CDX"), std::string(2048, '\x01'));
    RecordSet t;
    TXbAccess xb;
    ASSERT_TRUE(OpenFaxDBF(dir.path(), t, xb));
    EXPECT_EQ(t.recCount(), 1u);
    EXPECT_EQ(t.tags().size(), 1u);
    EXPECT_EQ(readFile(dir.file("TVN.CDX.bad")), std::string(2048, '\x01')) << "kept for support";
}

TEST(FaxTables, UnwritableDirectoryGivesFalse) {
    RecordSet t;
    TXbAccess xb;
    EXPECT_FALSE(OpenFaxDBF("/proc/no-such-dir/", t, xb));
    EXPECT_FALSE(MakePhoneDBF("/proc/no-such-dir/"));
    EXPECT_EQ(indexFileName("TVNREC.DBF"), "TVNREC.CDX");
    EXPECT_EQ(fieldLabel(faxTableSpec(), "sentyesno"), "Sent");
    EXPECT_EQ(fieldLabel(faxTableSpec(), "RTFDOC"), "") << "hidden";
    EXPECT_EQ(fieldLabel(recTableSpec(), "DATEREC"), "Date Rec'd");
    EXPECT_EQ(fieldLabel(phoneTableSpec(), "PHONE"), "Fax #");
}

// Stands in for the rich-text control: holds its text and records what it was asked.
class FakeEditor : public RichTextTarget {
public:
    void clear() override {
        text.clear();
        calls += "clear;";
    }
    bool loadFromFile(const std::string& path) override {
        text = readFile(path);
        calls += "load;";
        return true;
    }
    bool saveToFile(const std::string& path) override {
        if (failSave) return false;
        writeFile(path, text);
        calls += "save;";
        return true;
    }
    void refresh() override { calls += "refresh;"; }
    std::string text, calls;
    bool failSave = false;
};

TEST(FaxTables, RichTextGoesThroughErasemeRtf) {
    TempDir dir;
    RecordSet t;
    TXbAccess xb;
    ASSERT_TRUE(OpenFaxDBF(dir.path(), t, xb));
    FakeEditor cover, doc;
    cover.text = "{\\rtf1 cover}";
    doc.text = "{\\rtf1 document}";
    // As the New command does: append, store both memos, set fields, post.
    t.append();
    ASSERT_TRUE(SaveRichText(cover, "RTFCOVER", xb, dir.path()));
    ASSERT_TRUE(SaveRichText(doc, "RTFDOC", xb, dir.path()));
    EXPECT_EQ(readFile(dir.file("Eraseme.rtf")), doc.text) << "the file is left in place";
    t.fieldByName("SUBJECT").setString("memo test");
    t.post();
    EXPECT_EQ(t.recCount(), 1u);
    FakeEditor back;
    back.text = "stale";
    ASSERT_TRUE(LoadRichText(back, "RTFDOC", xb, dir.path()));
    EXPECT_EQ(back.text, "{\\rtf1 document}");
    EXPECT_EQ(back.calls, "clear;load;refresh;");
    EXPECT_FALSE(test::exists(dir.file("Eraseme.rtf"))) << "deleted after loading";
    EXPECT_EQ(t.fieldByName("SUBJECT").asString(), "memo test");
    // A memo that cannot be written out leaves the editor empty.
    FakeEditor none;
    none.text = "old";
    EXPECT_FALSE(LoadRichText(none, "RTFDOC", xb, "/proc/no-such-dir/"));
    EXPECT_EQ(none.text, "");
    FakeEditor failing;
    failing.failSave = true;
    EXPECT_FALSE(SaveRichText(failing, "RTFDOC", xb, dir.path()));
}

}  // namespace
}  // namespace telvane::records
