// The log clean-up window on logs seeded through the table engine: group deletions and their
// expressions, the count of newly marked records, received files going with their records, the
// conditions and date dialogs, the window's menus and captions, and the rebuild that follows a
// deletion when the window is opened from the main window.
#include <gtest/gtest.h>

#include <QAction>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>

#include <set>

#include "maintenance/cleanupexpr.h"
#include "maintenance/dateselector.h"
#include "maintenance/deleteconditions.h"
#include "maintenance/dmform.h"
#include "maintenance/maintenancehooks.h"
#include "records/table.h"
#include "app/loggrid.h"
#include "shell/mainscreen_fixture.h"
#include "support/scriptedprompter.h"

namespace telvane::maintenance {
namespace {

using shelltest::onNextModal;
using shelltest::OutgoingSeed;

records::Date dateOf(const QDate& d) { return {d.year(), d.month(), d.day()}; }

OutgoingSeed fax(std::string subject, std::string recipient, QDate date = {}, std::string phone = "555-0100") {
    OutgoingSeed s;
    s.subject = std::move(subject);
    s.recipient = std::move(recipient);
    s.phone = std::move(phone);
    if (date.isValid()) {
        s.sent = true;
        s.date = dateOf(date);
        s.time = "09:30";
    }
    return s;
}

// Subjects of the records carrying the deletion mark, read straight from the table.
std::set<std::string> markedSubjects(const records::RecordSet& rs, const char* field = "SUBJECT") {
    std::set<std::string> out;
    const records::Table* t = rs.table();
    const int f = t->fieldIndex(field);
    for (uint32_t r = 1; r <= t->recordCount(); ++r) {
        if (!t->isDeleted(r)) continue;
        const std::string raw = t->readRecord(r);
        std::string v = raw.substr(t->fieldOffset(f), t->fields()[f].width);
        v.erase(v.find_last_not_of(' ') + 1);
        out.insert(v);
    }
    return out;
}

class CleanupTest : public shelltest::MainScreenTest {
protected:
    // The logs as the main window holds them: open, filtered, the outgoing log in date order.
    void openLogs() {
        ASSERT_TRUE(records::OpenFaxDBF(dir, faxTable, faxXb));
        ASSERT_TRUE(records::OpenRecFaxDBF(dir, recTable, recXb));
        if (!faxTable.isEmpty()) faxTable.setOrder(faxTable.tagArea("DATESENT"));
        if (!recTable.isEmpty()) recTable.setOrder(recTable.tagArea("DATETIME"));
    }
    void closeLogs() {
        form.reset();
        if (faxTable.active()) faxTable.close();
        if (recTable.active()) recTable.close();
    }
    TDMForm& showForm() {
        form = std::make_unique<TDMForm>(recTable, recXb, faxTable, faxXb, env, dir + "receive/");
        form->show();
        QCoreApplication::processEvents();
        return *form;
    }
    void TearDown() override {
        closeLogs();
        shelltest::MainScreenTest::TearDown();
    }
    QStringList infoTexts() {
        QStringList out;
        for (const auto& r : prompter().records)
            if (r.kind == PromptRecord::Information) out << r.text;
        return out;
    }

    records::TXbEnv env;
    records::RecordSet faxTable, recTable;
    records::TXbAccess faxXb{faxTable, &env}, recXb{recTable, &env};
    std::unique_ptr<TDMForm> form;
};

TEST_F(CleanupTest, BeforeTodayLeavesUnsentAndTodaysFaxes) {
    const QDate today = QDate::currentDate();
    shelltest::seedOutgoing(dir, {fax("old", "A", today.addYears(-1)), fax("yesterday", "B", today.addDays(-1)),
                                  fax("today", "C", today), fax("unsent", "D")});
    openLogs();
    TDMForm& f = showForm();
    for (faxTable.first(); !faxTable.eof() && faxTable.currentRow().text("SUBJECT") != "yesterday";) faxTable.next();
    ASSERT_FALSE(faxTable.eof());
    prompter().answers = {true};
    onNextModal([today](QWidget* w) {
        auto* selector = qobject_cast<TDateSelector*>(w);
        ASSERT_NE(selector, nullptr);
        EXPECT_EQ(selector->windowTitle(), "Delete all before...");
        EXPECT_EQ(selector->date(), today);  // starts on today
        selector->accept();
    });
    f.mnuDeleteBeforeDateClick();

    EXPECT_EQ(markedSubjects(faxTable), (std::set<std::string>{"old", "yesterday"}));
    ASSERT_EQ(prompter().records.size(), 2);
    EXPECT_EQ(prompter().records[0].text, "Delete all outgoing faxes prior to " +
                                              QLocale().toString(today, QLocale::LongFormat) +
                                              " (action is permanent)?");
    EXPECT_EQ(prompter().records[0].caption, "DELETE");
    EXPECT_EQ(prompter().records[1].text, "2 deleted.");
    EXPECT_TRUE(f.deletedSomething());
    // Order and position come back; marked records are hidden again.
    EXPECT_EQ(faxTable.indexOrd(), faxTable.tagArea("DATESENT"));
    EXPECT_EQ(faxTable.visibleCount(), 2u);
    // The run started on "yesterday", which it marked: the position moves to a record still shown.
    EXPECT_FALSE(faxTable.deleted());
    EXPECT_TRUE(faxTable.position().has_value());
}

TEST_F(CleanupTest, NoAnswerOrCancelledDateDeletesNothing) {
    shelltest::seedOutgoing(dir, {fax("old", "A", QDate(2020, 1, 1))});
    openLogs();
    TDMForm& f = showForm();
    onNextModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    f.mnuDeleteBeforeDateClick();
    prompter().answers = {false};
    f.mnuDeleteAllClick();
    EXPECT_TRUE(markedSubjects(faxTable).empty());
    EXPECT_FALSE(f.deletedSomething());
    EXPECT_TRUE(infoTexts().isEmpty());
}

TEST_F(CleanupTest, SentNotSentAndAllWithTheirQuestions) {
    shelltest::seedOutgoing(dir,
                            {fax("s1", "A", QDate(2025, 3, 1)), fax("u1", "B"), fax("s2", "C", QDate(2025, 4, 1))});
    openLogs();
    TDMForm& f = showForm();
    prompter().defaultAnswer = true;
    f.mnuDeleteNotSentClick();
    EXPECT_EQ(markedSubjects(faxTable), (std::set<std::string>{"u1"}));
    f.mnuDeleteSentClick();
    EXPECT_EQ(markedSubjects(faxTable), (std::set<std::string>{"u1", "s1", "s2"}));
    const QStringList texts = prompter().texts();
    EXPECT_TRUE(texts.contains("Delete all outgoing faxes which have NOT been sent? (action is permanent)"));
    EXPECT_TRUE(texts.contains("Delete all outgoing faxes which have been sent? (action is permanent)"));
    EXPECT_EQ(infoTexts(), (QStringList{"1 deleted.", "2 deleted."}));
    // The log is empty now: its page says so and the actions are off.
    EXPECT_EQ(f.pageControl1()->tabText(0), "OutGoing Faxes (none)");
    EXPECT_FALSE(f.SendGrid()->isEnabled());
    EXPECT_FALSE(f.mnuActions()->menuAction()->isEnabled());
}

TEST_F(CleanupTest, AlreadyMarkedRecordsAreNotCounted) {
    shelltest::seedOutgoing(dir, {fax("a", "A"), fax("b", "B"), fax("c", "C")});
    {
        records::RecordSet rs;
        records::TXbAccess xb(rs);
        ASSERT_TRUE(records::OpenFaxDBF(dir, rs, xb));
        rs.setOrder(0);
        rs.first();
        rs.deleteRecord();  // "a"
        rs.close();
    }
    openLogs();
    TDMForm& f = showForm();
    prompter().answers = {true};
    EXPECT_EQ(f.deleteMatching(kAllExpression), 2);
    EXPECT_EQ(infoTexts(), QStringList{"2 deleted."});
    EXPECT_EQ(markedSubjects(faxTable), (std::set<std::string>{"a", "b", "c"}));
}

// Marks the log cannot take (its index file has become something the engine refuses to write)
// are not counted as deleted, and the window says why instead of ending silently.
TEST_F(CleanupTest, MarksThatFailAreNotCountedAndAreTold) {
    shelltest::seedOutgoing(dir, {fax("a", "A"), fax("b", "B"), fax("c", "C")});
    openLogs();
    TDMForm& f = showForm();
    ASSERT_EQ(std::rename((dir + "TVN.CDX").c_str(), (dir + "TVN.CDX.moved").c_str()), 0);
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(dir + "TVN.CDX")));
    prompter().answers = {true};
    EXPECT_EQ(f.deleteMatching(kAllExpression), 0);
    ASSERT_EQ(infoTexts().size(), 1);
    EXPECT_TRUE(infoTexts()[0].startsWith("0 deleted.\n3 could not be deleted: ")) << infoTexts()[0].toStdString();
    EXPECT_TRUE(infoTexts()[0].contains("TVN.CDX")) << infoTexts()[0].toStdString();
    EXPECT_FALSE(f.deletedSomething());
    EXPECT_EQ(markedSubjects(faxTable), std::set<std::string>{});
}

// Runs the conditions dialog with the text typed into the chosen field.
void answerConditions(const QString& text, bool exact, const char* choice = nullptr) {
    onNextModal([text, exact, choice](QWidget* w) {
        auto* d = qobject_cast<TDeleteForConditions*>(w);
        ASSERT_NE(d, nullptr);
        if (choice) d->findChild<QRadioButton*>(choice)->setChecked(true);
        QLineEdit* edit = d->rFrom()->isChecked()    ? d->FaxFROM()
                          : d->rPhone()->isChecked() ? d->FaxPHONE()
                                                     : d->FaxRECIPIENT();
        edit->setText(text);
        d->ExactMatch()->setChecked(exact);
        d->OkButtonClick();
        if (d->isVisible()) d->reject();
    });
}

TEST_F(CleanupTest, PartialAndExactRecipientMatches) {
    shelltest::seedOutgoing(dir, {fax("1", "Smith"), fax("2", "  smith  "), fax("3", "John Smithson"),
                                  fax("4", "Blacksmith Co"), fax("5", "Jones"), fax("6", "S mith")});
    openLogs();
    TDMForm& f = showForm();
    prompter().defaultAnswer = true;
    answerConditions(QStringLiteral(" smith "), true);
    f.mnuDeleteConditionsClick();
    EXPECT_EQ(markedSubjects(faxTable), (std::set<std::string>{"1", "2"}));
    EXPECT_TRUE(prompter().texts().contains("Are you sure you wish to delete all faxes matching this criteria?"));

    answerConditions(QStringLiteral("smith"), false);
    f.mnuDeleteConditionsClick();
    EXPECT_EQ(markedSubjects(faxTable), (std::set<std::string>{"1", "2", "3", "4"}));
    EXPECT_EQ(infoTexts(), (QStringList{"2 deleted.", "2 deleted."}));
}

TEST_F(CleanupTest, RecordTextStaysALiteral) {
    // Texts that would end a literal or add operators if pasted into the expression as they are.
    shelltest::seedOutgoing(dir, {fax("q", "O\"Brien"), fax("both", "it's \"x\""), fax("dollar", "A$B"),
                                  fax("and", "x\") .or. .t. .or. (\""), fax("plain", "Brien"), fax("other", "OBrien"),
                                  fax("mixed", "Mc'Gee \"Q\" Ltd")});
    openLogs();
    TDMForm& f = showForm();
    prompter().defaultAnswer = true;
    for (const QString& t :
         {QStringLiteral("o\"brien"), QStringLiteral("IT'S \"X\""), QStringLiteral("x\") .or. .t. .or. (\"")}) {
        answerConditions(t, true);
        f.mnuDeleteConditionsClick();
    }
    EXPECT_EQ(markedSubjects(faxTable), (std::set<std::string>{"q", "both", "and"}));
    answerConditions(QStringLiteral("$"), false);
    f.mnuDeleteConditionsClick();
    EXPECT_EQ(markedSubjects(faxTable), (std::set<std::string>{"q", "both", "and", "dollar"}));
    // A partial match whose text holds both quote kinds.
    answerConditions(QStringLiteral("'gee \"q"), false);
    f.mnuDeleteConditionsClick();
    EXPECT_EQ(markedSubjects(faxTable), (std::set<std::string>{"q", "both", "and", "dollar", "mixed"}));
    EXPECT_EQ(infoTexts(), (QStringList{"1 deleted.", "1 deleted.", "1 deleted.", "1 deleted.", "1 deleted."}));

    // The literal builder itself: both quote kinds, and a value of one quote alone.
    EXPECT_EQ(xbTextLiteral("it's \"x\""), "\"it's \"+'\"x\"'");
    EXPECT_EQ(xbTextLiteral("\""), "'\"'");
    EXPECT_EQ(matchExpression("PHONE", QStringLiteral("  ab  "), false), "\"AB\"$ALLTRIM(UPPER(PHONE))");
}

TEST_F(CleanupTest, ConditionsDialogChoicesPerPageAndEmptyValue) {
    shelltest::seedOutgoing(dir, {fax("1", "Acme Corp", {}, "555-0199")});
    shelltest::seedIncoming(dir, {shelltest::incoming("  FAXSTATION  ", "FAX0001.OVF")});
    openLogs();
    TDMForm& f = showForm();
    bool checked = false;
    onNextModal([&checked](QWidget* w) {
        auto* d = qobject_cast<TDeleteForConditions*>(w);
        EXPECT_EQ(d->windowTitle(), "Delete Faxes Where....");
        EXPECT_FALSE(d->rFrom()->isEnabled());
        EXPECT_FALSE(d->FaxFROM()->isEnabled());
        EXPECT_TRUE(d->rRecipient()->isChecked());
        EXPECT_EQ(d->FaxRECIPIENT()->text(), "Acme Corp");
        EXPECT_EQ(d->FaxPHONE()->text(), "555-0199");
        EXPECT_TRUE(d->ExactMatch()->isChecked());
        d->FaxRECIPIENT()->setText("   ");
        d->OkButtonClick();
        EXPECT_TRUE(d->isVisible());  // stays open
        checked = true;
        d->reject();
    });
    f.mnuDeleteConditionsClick();
    EXPECT_TRUE(checked);
    EXPECT_EQ(infoTexts(), QStringList{"Please enter a value"});

    f.setCurrentPage(TDMForm::kIncomingPage);
    EXPECT_FALSE(f.action("mnuDeleteSent")->isVisible());
    EXPECT_FALSE(f.action("mnuDeleteNotSent")->isVisible());
    checked = false;
    onNextModal([&checked](QWidget* w) {
        auto* d = qobject_cast<TDeleteForConditions*>(w);
        EXPECT_TRUE(d->rFrom()->isChecked());
        EXPECT_FALSE(d->rRecipient()->isEnabled());
        EXPECT_FALSE(d->rPhone()->isEnabled());
        EXPECT_FALSE(d->FaxPHONE()->isEnabled());
        EXPECT_EQ(d->FaxFROM()->text(), "FAXSTATION");
        checked = true;
        d->reject();
    });
    f.mnuDeleteConditionsClick();
    EXPECT_TRUE(checked);
    EXPECT_FALSE(f.deletedSomething());
}

TEST_F(CleanupTest, ReceivedFaxFileGoesWithItsRecord) {
    QDir().mkpath(QString::fromStdString(dir + "receive"));
    for (const char* name : {"FAX0001.OVF", "fax0002.ovf", "FAX0003.OVF"}) {
        QFile file(QString::fromStdString(dir + "receive/") + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
    }
    shelltest::seedIncoming(dir, {shelltest::incoming("ONE", "FAX0001.OVF", {2026, 1, 1}),
                                  shelltest::incoming("TWO", "FAX0002.OVF", {2026, 1, 2}),
                                  shelltest::incoming("THREE", "FAX0003.OVF", {2026, 1, 3}),
                                  shelltest::incoming("EVIL", "../TVN.DBF", {2026, 1, 4})});
    shelltest::seedOutgoing(dir, {fax("keep", "A")});
    openLogs();
    TDMForm& f = showForm();
    f.setCurrentPage(TDMForm::kIncomingPage);
    EXPECT_TRUE(f.action("mnuDeleteAll")->isEnabled());
    EXPECT_EQ(f.pageControl1()->tabText(1), "Incoming Faxes");

    // Delete Current Fax on "TWO" (case of the file name differs on disk); the next record follows.
    recTable.setOrder(0);
    recTable.first();
    recTable.next();
    ASSERT_EQ(recTable.currentRow().text("FROM"), "TWO");
    prompter().answers = {true};
    f.mnuToggleDeletedStateClick();
    EXPECT_EQ(prompter().records[0].text, "Delete this fax? (action is permanent)");
    EXPECT_EQ(prompter().records[0].caption, "DELETE");
    EXPECT_EQ(recTable.currentRow().text("FROM"), "THREE");
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir + "receive/fax0002.ovf")));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir + "receive/FAX0001.OVF")));

    prompter().answers = {true};
    f.mnuDeleteAllClick();
    EXPECT_EQ(prompter().records.back().text, "3 deleted.");
    EXPECT_TRUE(prompter().texts().contains("Delete all received faxes ? (action is permanent)"));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir + "receive/FAX0001.OVF")));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir + "receive/FAX0003.OVF")));
    // A stored name that leaves the receive directory removes nothing outside it.
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir + "TVN.DBF")));
    EXPECT_EQ(markedSubjects(recTable, "FROM"), (std::set<std::string>{"ONE", "TWO", "THREE", "EVIL"}));
    EXPECT_EQ(f.pageControl1()->tabText(1), "Incoming Faxes (none)");
    EXPECT_FALSE(f.action("mnuDeleteAll")->isEnabled());
    EXPECT_EQ(f.pageControl1()->tabText(0), "Outgoing Faxes");
}

TEST_F(CleanupTest, FiltersClearedWhileOpenAndRestoredAtClose) {
    shelltest::seedOutgoing(dir, {fax("a", "A"), fax("b", "B")});
    openLogs();
    faxXb.xb_Query("ALLTRIM(SUBJECT) == \"a\"");
    ASSERT_EQ(faxTable.visibleCount(), 1u);
    TDMForm& f = showForm();
    EXPECT_EQ(faxTable.filter(), "");
    EXPECT_EQ(faxTable.visibleCount(), 2u);
    EXPECT_EQ(recTable.filter(), "");
    // Columns: "Deleted?" first, then the fields with their labels.
    auto* model = f.SendGrid()->logModel();
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Deleted?");
    EXPECT_EQ(model->columns()[1].field, "DATESENT");
    EXPECT_EQ(model->columns().back().field, "LASTRESULT");
    EXPECT_EQ(f.RecGrid()->logModel()->columns()[3].field, "FROM");
    EXPECT_EQ(f.action("mnuToggleDeletedState")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_X));
    f.accept();
    EXPECT_EQ(faxTable.filter(), "ALLTRIM(SUBJECT) == \"a\"");
    EXPECT_EQ(recTable.filter(), ".not. deleted()");
}

TEST_F(CleanupTest, DateSelectorTitleStepsAndDoubleClick) {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    TDateSelector s(QDate(2026, 12, 9));
    s.show();
    EXPECT_EQ(s.ShowDatePanel()->text(), "Wednesday, December 9, 2026");
    s.yearMinusClick();
    EXPECT_EQ(s.date(), QDate(2025, 12, 9));
    s.monthPlusClick();
    EXPECT_EQ(s.date(), QDate(2026, 1, 9));
    EXPECT_EQ(s.ShowDatePanel()->text(), "Friday, January 9, 2026");
    s.monthMinusClick();
    s.yearPlusClick();
    EXPECT_EQ(s.date(), QDate(2026, 12, 9));
    s.todayClick();
    EXPECT_EQ(s.date(), QDate::currentDate());
    // A double click on a day is Ok; one on the weekday names is not.
    auto* view = s.calendar()->findChild<QTableView*>();
    ASSERT_NE(view, nullptr);
    const auto doubleClick = [view](const QPoint& at) {
        QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(at), view->viewport()->mapToGlobal(QPointF(at)),
                        Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view->viewport(), &dbl);
        QCoreApplication::processEvents();
    };
    doubleClick(view->visualRect(view->model()->index(0, 3)).center());
    EXPECT_TRUE(s.isVisible());
    doubleClick(view->visualRect(view->model()->index(3, 3)).center());
    EXPECT_FALSE(s.isVisible());
    EXPECT_EQ(s.result(), QDialog::Accepted);
    QLocale::setDefault(QLocale::system());
}

// Through the main window: a deletion and Close run the rebuild (the marked record is gone from
// the file, both logs carry DATEND, so the next start asks no reindex question); no deletion runs none.
TEST_F(CleanupTest, MainWindowRebuildsOnlyAfterADeletion) {
    writePortSetting();
    shelltest::seedOutgoing(dir, {fax("a", "A"), fax("b", "B")});
    shelltest::rebuildLogs(dir);  // no reindex question at start
    {
        // Drop DATEND so that a rebuild shows.
        records::RecordSet rs;
        records::TXbAccess xb(rs);
        ASSERT_TRUE(records::OpenFaxDBF(dir, rs, xb));
        rs.closeIndexes();
        rs.close();
        QFile::remove(QString::fromStdString(dir + "TVN.CDX"));
    }
    addMaintenanceCommands(commands);
    TMainScreen& main = start();
    prompter().records.clear();
    ASSERT_EQ(main.FaxTable().tagArea("DATEND"), 0);

    onNextModal([](QWidget* w) { qobject_cast<QDialog*>(w)->accept(); });
    main.FaxlogCleanup1Click();
    EXPECT_EQ(main.FaxTable().tagArea("DATEND"), 0);  // nothing deleted: no rebuild
    EXPECT_EQ(main.FaxTable().filter(), ".not. deleted()");

    prompter().answers = {true};
    onNextModal([](QWidget* w) {
        auto* f = qobject_cast<TDMForm*>(w);
        ASSERT_NE(f, nullptr);
        f->mnuToggleDeletedStateClick();
        f->accept();
    });
    main.FaxlogCleanup1Click();
    EXPECT_NE(main.FaxTable().tagArea("DATEND"), 0);
    EXPECT_NE(main.RecTable().tagArea("DATEND"), 0);
    EXPECT_EQ(main.FaxTable().recCount(), 1u);  // packed
    EXPECT_EQ(main.FaxTable().filter(), ".not. deleted()");
    stop();

    prompter().records.clear();
    start();
    for (const auto& r : prompter().records) EXPECT_NE(r.caption, "REINDEX");
}

}  // namespace
}  // namespace telvane::maintenance
