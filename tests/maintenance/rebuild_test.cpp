// The rebuild window on all four tables: marked records removed from the files, every tag rebuilt
// in its order with the first one current, the files consistent afterwards (Table::check), the
// progress lines in order, a phone book that cannot be opened skipped, and the window closing itself.
#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>

#include "maintenance/rebuildind.h"
#include "records/table.h"
#include "shell/mainscreen_fixture.h"

namespace telvane::maintenance {
namespace {

std::vector<std::string> tagNames(const records::RecordSet& rs) {
    std::vector<std::string> out;
    for (const auto& t : rs.tags()) out.push_back(t.name);
    return out;
}

void seedNamed(const std::string& dir, bool phone, const std::vector<std::string>& names, int markFirst) {
    records::RecordSet rs;
    records::TXbAccess xb(rs);
    ASSERT_TRUE(phone ? records::OpenPhoneDBF(dir, rs, xb) : records::OpenCoverDBF(dir, rs, xb));
    for (const auto& n : names) {
        rs.append();
        rs.fieldByName(phone ? "NAME" : "DESCRIPT").setString(n);
        rs.post();
    }
    rs.setOrder(0);
    rs.first();
    for (int i = 0; i < markFirst; ++i) rs.deleteRecord();
    rs.close();
}

class RebuildTest : public shelltest::MainScreenTest {
protected:
    void TearDown() override {
        for (auto* rs : {&fax, &rec, &phone, &cover})
            if (rs->active()) rs->close();
        shelltest::MainScreenTest::TearDown();
    }
    QStringList run() {
        TRebuildInd window({fax, faxXb, rec, recXb, phone, phoneXb, cover, coverXb, dir});
        const int result = window.exec();  // works on activation and closes itself
        EXPECT_EQ(result, QDialog::Accepted);
        EXPECT_TRUE(window.finished());
        EXPECT_EQ(window.windowTitle(), "Rebuild Indexes");
        return window.progress();
    }
    records::RecordSet fax, rec, phone, cover;
    records::TXbAccess faxXb{fax}, recXb{rec}, phoneXb{phone}, coverXb{cover};
};

TEST_F(RebuildTest, PacksAllFourTablesAndBuildsTheirTags) {
    shelltest::OutgoingSeed a, b, c, gone;
    a.subject = "A";
    a.sent = true;
    a.date = {2026, 1, 1};
    a.time = "09:00";
    b = a;
    b.subject = "B";
    b.time = "17:00";
    c = a;
    c.subject = "C";
    c.date = {2026, 2, 1};
    c.time = "08:00";
    gone.subject = "gone";
    shelltest::seedOutgoing(dir, {gone, a, b, c});
    shelltest::seedIncoming(dir, {shelltest::incoming("X", "F1.OVF"), shelltest::incoming("Y", "F2.OVF")});
    seedNamed(dir, true, {"Zed", "alpha", "Mid"}, 1);
    seedNamed(dir, false, {"Plain", "Formal"}, 1);
    ASSERT_TRUE(records::OpenFaxDBF(dir, fax, faxXb));
    ASSERT_TRUE(records::OpenRecFaxDBF(dir, rec, recXb));
    fax.setOrder(0);
    fax.first();
    fax.deleteRecord();  // "gone"

    const QStringList said = run();
    EXPECT_EQ(said, (QStringList{"Removing FAX file records marked for deletion", "Rebuilding FAX file indexes",
                                 "Removing Received FAX records marked for deletion", "Rebuilding Received FAX indexes",
                                 "Removing PHONE file records marked for deletion", "Rebuilding PHONE file indexes",
                                 "Removing COVER file records marked for deletion", "Rebuilding COVER file indexes"}));

    // The logs stay open, with every tag in order and the first one current.
    ASSERT_TRUE(fax.active());
    ASSERT_TRUE(rec.active());
    EXPECT_EQ(tagNames(fax), (std::vector<std::string>{"DATESENT", "DATEND", "SUBJECT", "RECIPIENT"}));
    EXPECT_EQ(fax.indexOrd(), fax.tagArea("DATESENT"));
    EXPECT_EQ(tagNames(rec), (std::vector<std::string>{"DATETIME", "DATEND", "FROM"}));
    EXPECT_EQ(rec.indexOrd(), rec.tagArea("DATETIME"));
    EXPECT_EQ(fax.recCount(), 3u);
    // The outgoing log is in date order alone, newest first: the later time of the same day
    // does not come first as it would with the date-and-time key.
    fax.first();
    EXPECT_EQ(fax.currentRow().text("SUBJECT"), "C");
    EXPECT_EQ(fax.tags()[0].keyExpression, "datesent");
    EXPECT_TRUE(fax.tags()[0].descending);

    // Phone book and covers were closed again; their files agree with their indexes.
    EXPECT_FALSE(phone.active());
    EXPECT_FALSE(cover.active());
    fax.close();
    rec.close();
    for (const char* t : {"TVN.DBF", "TVNREC.DBF", "TVNPB.DBF", "TVNCOV.DBF"})
        EXPECT_EQ(records::Table::check(dir + t), std::vector<std::string>{}) << t;
    auto pb = records::Table::open(dir + "TVNPB.DBF");
    EXPECT_EQ(pb->recordCount(), 2u);
    ASSERT_EQ(pb->tagCount(), 1);
    EXPECT_EQ(pb->tagInfo(1).name, "NAME");
    auto cv = records::Table::open(dir + "TVNCOV.DBF");
    EXPECT_EQ(cv->recordCount(), 1u);
    ASSERT_EQ(cv->tagCount(), 1);
    EXPECT_EQ(cv->tagInfo(1).name, "DESCRIPT");
}

TEST_F(RebuildTest, PhoneBookThatCannotBeOpenedIsSkipped) {
    shelltest::seedOutgoing(dir, {});
    seedNamed(dir, false, {"Plain"}, 0);
    {
        QFile bad(QString::fromStdString(dir + "TVNPB.DBF"));
        ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
        bad.write("not a table at all");
    }
    ASSERT_TRUE(records::OpenFaxDBF(dir, fax, faxXb));
    ASSERT_TRUE(records::OpenRecFaxDBF(dir, rec, recXb));
    const QStringList said = run();
    EXPECT_FALSE(said.join('|').contains("PHONE"));
    EXPECT_TRUE(said.contains("Rebuilding COVER file indexes"));
    EXPECT_EQ(said.size(), 6);
    fax.close();
    EXPECT_EQ(records::Table::check(dir + "TVNCOV.DBF"), std::vector<std::string>{});
}

}  // namespace
}  // namespace telvane::maintenance
