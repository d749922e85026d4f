// The main window offscreen: first start, enable rules and log order, the receive-mode lock,
// deleting (with the received file), note editing, placement across restarts, failure to open a
// log, posted messages, hints, help, and the date texts.
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QSet>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTextBrowser>
#include <QToolButton>

#include "mainscreen_fixture.h"
#include "shell/buttonrules.h"
#include "app/helpwindow.h"
#include "shell/logdatetime.h"
#include "app/loggrid.h"
#include "app/placement.h"
#include "shell/receivenotes.h"

using namespace telvane;
using namespace telvane::shell;
using namespace telvane::shelltest;

namespace {

struct HookCounts {
    int newFax = 0, editFax = 0, send = 0, receive = 0, view = 0, print = 0, cover = 0, phone = 0, rebuild = 0,
        cleanup = 0, preferences = 0, config = 0, quickSetup = 0;
};

void installCountingHooks(app::MainWindowCommands& h, HookCounts& c) {
    h.newFax = [&c](app::IMainWindow&, bool) { ++c.newFax; };
    h.editFax = [&c](app::IMainWindow&) { ++c.editFax; };
    h.sendFax = [&c](app::IMainWindow&) { ++c.send; };
    h.toggleReceiveMode = [&c](app::IMainWindow& w) {
        ++c.receive;
        w.setReceiveMode(!w.receiveMode());
    };
    h.viewPrintFax = [&c](app::IMainWindow&, bool print) { ++(print ? c.print : c.view); };
    h.coverSheets = [&c](app::IMainWindow&) { ++c.cover; };
    h.phoneBook = [&c](app::IMainWindow&) { ++c.phone; };
    h.rebuildIndexes = [&c](app::IMainWindow&) { ++c.rebuild; };
    h.faxLogCleanup = [&c](app::IMainWindow&) {
        ++c.cleanup;
        return false;
    };
    h.preferences = [&c](app::IMainWindow&) {
        ++c.preferences;
        return false;
    };
    h.configurationInformation = [&c](app::IMainWindow&) { ++c.config; };
    h.quickSetup = [&c](app::IMainWindow&) { ++c.quickSetup; };
}

const QString kReindexQuestion = QStringLiteral("The log files need to be reindexed.\rDo this now?");

std::vector<OutgoingSeed> threeOutgoing() {
    return {{"First subject", "Alice", "555-1", true, {2026, 11, 1}, "08:00"},
            {"Second subject", "Bob", "555-2", true, {2026, 12, 1}, "09:30"},
            {"Unsent subject", "Carol", "555-3", false, {}, ""}};
}

bool enabled(TMainScreen& w, const char* name) {
    if (QToolButton* b = w.button(name)) return b->isEnabled();
    QAction* a = w.menuAction(name);
    EXPECT_NE(a, nullptr) << name;
    return a && a->isEnabled();
}

}  // namespace

TEST(ButtonRules, EveryRuleOnBothPages) {
    for (int page : {0, 1})
        for (bool fax : {false, true})
            for (bool rec : {false, true})
                for (bool receive : {false, true}) {
                    const ButtonStates s = computeButtonStates({page, fax, rec, receive});
                    const bool pageHas = page == 0 ? fax : rec;
                    SCOPED_TRACE(::testing::Message() << page << fax << rec << receive);
                    EXPECT_EQ(s.faxGrid, fax);
                    EXPECT_EQ(s.recFaxGrid, rec);
                    EXPECT_EQ(s.newFax, page == 0);
                    EXPECT_EQ(s.cloneFax, page == 0 && fax);
                    EXPECT_EQ(s.send, fax);  // whatever page is shown
                    EXPECT_EQ(s.receiveMenu, !receive);
                    EXPECT_EQ(s.edit, pageHas);
                    EXPECT_EQ(s.deleteFax, pageHas);
                    EXPECT_EQ(s.viewPrint, pageHas);
                }
}

TEST(logDateTime, LocaleFormatsAndFallbacks) {
    const QLocale de(QLocale::German, QLocale::Germany);
    EXPECT_EQ(formatLogDateTime({2026, 12, 8}, "09:05", de), "08.12.26 at 09:05");
    EXPECT_EQ(formatLogDateTime({2026, 12, 8}, "9:05", de), "08.12.26 at 09:05");
    // A time that does not read as a time is shown as stored; a date that cannot be formatted is "unknown".
    EXPECT_EQ(formatLogDateTime({2026, 12, 8}, "noon", de), "08.12.26 at noon");
    EXPECT_EQ(formatLogDateTime({}, "10:00", de), "unknown at 10:00");
    EXPECT_EQ(formatLogDateTime({2026, 2, 30}, "10:00", de), "unknown at 10:00");
    EXPECT_EQ(formatSentDateTime(false, {2026, 12, 8}, "09:05", de), "not sent");
    EXPECT_EQ(formatSentDateTime(true, {2026, 12, 8}, "23:59", de), "08.12.26 at 23:59");
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    EXPECT_TRUE(formatLogDateTime({2026, 12, 8}, "13:05", us).startsWith("12/8/26 at 1:05"));
}

TEST_F(MainScreenTest, FirstStartInEmptyDirectory) {
    HookCounts c;
    installCountingHooks(commands, c);
    int portSeenBySetup = -2;
    bool pendingSeenBySetup = false;
    commands.quickSetup = [&](app::IMainWindow&) {
        ++c.quickSetup;
        portSeenBySetup = app::appSettings().Modem.ComPort;
        pendingSeenBySetup = app::firstRunSetupPending();
    };
    TMainScreen& w = start();
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir + "TVN.DBF")));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir + "TVNREC.DBF")));
    EXPECT_TRUE(QDir(QString::fromStdString(dir + "receive")).exists());
    EXPECT_EQ(c.quickSetup, 1);
    EXPECT_TRUE(pendingSeenBySetup);
    EXPECT_EQ(portSeenBySetup, 0);
    // Logs created by this start get every tag at once: no reindex question on a first start.
    EXPECT_TRUE(prompter().records.isEmpty()) << prompter().texts().join('|').toStdString();
    EXPECT_EQ(c.rebuild, 0);
    EXPECT_GT(w.FaxXb().xb_TagArea("DATEND"), 0);
    EXPECT_GT(w.RecXb().xb_TagArea("DATEND"), 0);
    EXPECT_EQ(c.receive, 0);
    EXPECT_EQ(w.windowTitle(), "Telvane ");
    stop();
    prompter().records.clear();
    start();
    EXPECT_FALSE(prompter().texts().contains(kReindexQuestion));
}

// Logs that existed before this start but lack the DATEND tag still get the question; Yes
// rebuilds them, and the question is not asked again.
TEST_F(MainScreenTest, ExistingLogsWithoutTheDateEndTagAskToReindex) {
    seedOutgoing(dir, {});
    seedIncoming(dir, {});
    writePortSetting();
    HookCounts c;
    installCountingHooks(commands, c);
    prompter().answers = {true};
    start();
    ASSERT_EQ(prompter().records.size(), 1);
    EXPECT_EQ(prompter().records[0].kind, PromptRecord::YesNo);
    EXPECT_EQ(prompter().records[0].text, kReindexQuestion);
    EXPECT_EQ(prompter().records[0].caption, "REINDEX");
    EXPECT_EQ(c.rebuild, 1);  // Yes ran Rebuild Indexes
    stop();

    // With the window's own engine rebuild the tags exist afterwards and the question is not asked again.
    commands = app::MainWindowCommands{};
    prompter().records.clear();
    prompter().answers = {true};
    start();
    ASSERT_EQ(prompter().count(PromptRecord::YesNo), 1);
    EXPECT_GT(window->FaxXb().xb_TagArea("DATEND"), 0);
    EXPECT_GT(window->RecXb().xb_TagArea("DATEND"), 0);
    stop();
    prompter().records.clear();
    start();
    EXPECT_FALSE(prompter().texts().contains(kReindexQuestion));
}

TEST_F(MainScreenTest, EmptyLogsDisableRecordCommands) {
    writePortSetting();
    TMainScreen& w = start();
    EXPECT_EQ(w.currentPage(), TMainScreen::kOutgoingPage);
    EXPECT_EQ(w.FaxXb().xb_IndexOrd(), 0);  // physical order while empty
    EXPECT_EQ(w.RecXb().xb_IndexOrd(), 0);
    for (const char* name : {"SendButton", "mnuSend", "EditButton", "mnuEdit", "DeleteButton", "mnuDelete",
                             "ViewFaxButton", "Printbutton", "mnuViewPrint", "mnuClone"})
        EXPECT_FALSE(enabled(w, name)) << name;
    for (const char* name : {"Newbutton", "mnuNew", "mnuReceive", "ReceiveButton", "Exitbutton"})
        EXPECT_TRUE(enabled(w, name)) << name;
    EXPECT_FALSE(w.FaxGrid()->isEnabled());
    EXPECT_FALSE(w.RecFaxGrid()->isEnabled());
    // Acting on the empty log anyway only beeps.
    prompter().records.clear();
    w.mnuCloneClick();
    w.EditButtonClick();
    w.DeleteButtonClick();
    w.SendButtonClick();
    EXPECT_EQ(prompter().count(PromptRecord::Beep), 4);
    EXPECT_EQ(prompter().records.size(), 4);

    w.TabSet1()->setCurrentIndex(1);
    EXPECT_EQ(w.currentPage(), TMainScreen::kIncomingPage);
    EXPECT_FALSE(enabled(w, "Newbutton"));
    EXPECT_FALSE(enabled(w, "mnuNew"));
    EXPECT_FALSE(enabled(w, "EditButton"));
}

TEST_F(MainScreenTest, FirstRecordSwitchesToDateOrderAndEnablesCommands) {
    writePortSetting();
    TMainScreen& w = start();
    ASSERT_EQ(w.FaxXb().xb_IndexOrd(), 0);
    records::RecordSet& fax = w.FaxTable();
    fax.append();
    fax.fieldByName("SUBJECT").setString("Hello");
    fax.post();
    w.FaxTableCloseAndOpen();
    w.SetButtons();
    EXPECT_EQ(w.FaxXb().xb_IndexOrd(), w.FaxXb().xb_TagArea("DATESENT"));
    EXPECT_GT(w.FaxXb().xb_IndexOrd(), 0);
    for (const char* name : {"SendButton", "mnuSend", "EditButton", "mnuEdit", "DeleteButton", "mnuDelete",
                             "ViewFaxButton", "Printbutton", "mnuViewPrint", "mnuClone", "Newbutton"})
        EXPECT_TRUE(enabled(w, name)) << name;
    EXPECT_EQ(w.FaxGrid()->model()->rowCount(), 1);
}

TEST_F(MainScreenTest, SeededLogsOnBothPages) {
    writePortSetting();
    seedOutgoing(dir, threeOutgoing());
    seedIncoming(dir, {incoming("ACME", "FAX0001.OVF"), incoming("Globex", "FAX0002.OVF", {2026, 12, 9}, "07:00")});
    rebuildLogs(dir);
    HookCounts c;
    installCountingHooks(commands, c);
    TMainScreen& w = start();
    EXPECT_TRUE(prompter().records.isEmpty());
    EXPECT_EQ(w.FaxXb().xb_IndexOrd(), w.FaxXb().xb_TagArea("DATESENT"));
    EXPECT_EQ(w.RecXb().xb_IndexOrd(), w.RecXb().xb_TagArea("DATETIME"));
    QAbstractItemModel* faxModel = w.FaxGrid()->model();
    ASSERT_EQ(faxModel->rowCount(), 3);
    ASSERT_EQ(faxModel->columnCount(), 8);
    const QStringList headers = {"Sent",  "Date Sent", "Time Sent", "Recipient",
                                 "Phone", "Pages",     "Subject",   "Last Attempt"};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(faxModel->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString(), headers[i]);
    // Newest date first; the unsent fax (empty date) last; the Sent column is calculated.
    EXPECT_EQ(faxModel->index(0, 6).data().toString(), "Second subject");
    EXPECT_EQ(faxModel->index(0, 0).data().toString(), "Yes");
    EXPECT_EQ(faxModel->index(2, 6).data().toString(), "Unsent subject");
    EXPECT_EQ(faxModel->index(2, 0).data().toString(), "No ");
    QAbstractItemModel* recModel = w.RecFaxGrid()->model();
    ASSERT_EQ(recModel->rowCount(), 2);
    EXPECT_EQ(recModel->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "From");
    EXPECT_EQ(recModel->index(0, 2).data().toString(), "Globex");
    EXPECT_EQ(recModel->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Date Rec'd");

    for (const char* name : {"Newbutton", "mnuClone", "SendButton", "EditButton", "DeleteButton", "ViewFaxButton",
                             "Printbutton", "mnuViewPrint"})
        EXPECT_TRUE(enabled(w, name)) << name;
    EXPECT_TRUE(w.FaxGrid()->isEnabled());
    w.selectPage(TMainScreen::kIncomingPage);
    EXPECT_EQ(w.TabSet1()->currentIndex(), 1);
    EXPECT_FALSE(enabled(w, "Newbutton"));
    EXPECT_FALSE(enabled(w, "mnuClone"));
    EXPECT_TRUE(enabled(w, "SendButton"));  // Send follows the outgoing log on either page
    for (const char* name : {"EditButton", "mnuEdit", "DeleteButton", "mnuDelete", "ViewFaxButton", "mnuViewPrint"})
        EXPECT_TRUE(enabled(w, name)) << name;
    // Send from the incoming page explains where to go.
    w.SendButtonClick();
    EXPECT_EQ(prompter().texts().last(), "Please switch to the Outgoing Faxes tab\rand highlight a fax to send");
    EXPECT_EQ(c.send, 0);
    // Clicking a grid row moves the log's current record.
    w.selectPage(TMainScreen::kOutgoingPage);
    w.FaxGrid()->setCurrentIndex(faxModel->index(1, 0));
    EXPECT_EQ(QString::fromStdString(w.FaxTable().currentRow().text("SUBJECT")), "First subject");
    EXPECT_EQ(w.GetDatetimeAsString(true), formatSentDateTime(true, {2026, 11, 1}, "08:00", QLocale()));
}

TEST_F(MainScreenTest, ReceiveModeLocksCommandsButNotOutgoingDelete) {
    writePortSetting();
    seedOutgoing(dir, threeOutgoing());
    seedIncoming(dir, {incoming("ACME", "FAX0001.OVF")});
    rebuildLogs(dir);
    HookCounts c;
    installCountingHooks(commands, c);
    TMainScreen& w = start();
    w.ReceiveButtonClick();
    ASSERT_TRUE(w.receiveMode());
    EXPECT_FALSE(enabled(w, "mnuReceive"));
    EXPECT_TRUE(enabled(w, "ReceiveButton"));
    prompter().records.clear();

    const std::vector<std::pair<const char*, std::function<void()>>> locked = {
        {"New", [&] { w.NewbuttonClick(); }},
        {"Clone", [&] { w.mnuCloneClick(); }},
        {"Edit outgoing", [&] { w.EditButtonClick(); }},
        {"Cover Sheets", [&] { w.mnuCoverClick(); }},
        {"Phone Book", [&] { w.mnuPhoneBookClick(); }},
        {"Rebuild Indexes", [&] { w.mnuRebuildIndexesClick(); }},
        {"Fax Log Cleanup", [&] { w.FaxlogCleanup1Click(); }},
        {"Preferences", [&] { w.mnuPreferencesClick(); }},
        {"Edit note",
         [&] {
             w.selectPage(1);
             w.EditButtonClick();
         }},
        {"Delete incoming",
         [&] {
             w.selectPage(1);
             w.DeleteButtonClick();
         }},
    };
    for (const auto& [name, run] : locked) {
        prompter().records.clear();
        run();
        ASSERT_EQ(prompter().records.size(), 1) << name;
        EXPECT_EQ(prompter().records[0].kind, PromptRecord::Information) << name;
        EXPECT_EQ(prompter().records[0].text, TMainScreen::receiveModeRefusal()) << name;
        w.selectPage(0);
    }
    EXPECT_EQ(TMainScreen::receiveModeRefusal(),
              "You are in Fax Receive mode. This operation cannot be done\rwhile in Fax Receive mode. "
              "Click the Stop button to end\rFax Receive mode");
    EXPECT_EQ(c.newFax + c.editFax + c.cover + c.phone + c.rebuild + c.cleanup + c.preferences, 0);
    EXPECT_FALSE(w.cloneRequested());
    EXPECT_EQ(QFile::exists(QString::fromStdString(dir + "TVNREC.DBF")), true);
    EXPECT_EQ(w.RecTable().visibleCount(), 1u);

    // Send is not locked: the send command pauses receive mode while the fax goes out.
    prompter().records.clear();
    w.SendButtonClick();
    EXPECT_TRUE(prompter().records.empty());
    EXPECT_EQ(c.send, 1);

    // Delete on the outgoing page still asks and deletes; view stays allowed.
    prompter().records.clear();
    prompter().answers = {true};
    w.DeleteButtonClick();
    ASSERT_EQ(prompter().records.size(), 1);
    EXPECT_EQ(prompter().records[0].kind, PromptRecord::YesNoDefaultNo);
    EXPECT_EQ(w.FaxTable().visibleCount(), 2u);
    w.viewFaxButtonClick();
    EXPECT_EQ(c.view, 1);

    // The Receive button stops the mode, and the lock lifts.
    w.ReceiveButtonClick();
    EXPECT_FALSE(w.receiveMode());
    EXPECT_TRUE(enabled(w, "mnuReceive"));
    w.mnuCoverClick();
    EXPECT_EQ(c.cover, 1);
}

TEST_F(MainScreenTest, DeletingReceivedFaxRemovesItsFile) {
    writePortSetting();
    seedIncoming(dir, {incoming("ACME Corp", "FAX0001.OVF"), incoming("Other", "../TVN.INI", {2026, 12, 1})});
    rebuildLogs(dir);
    const QString file = QString::fromStdString(dir + "receive/fax0001.ovf");  // stored name differs in case
    QDir().mkpath(QString::fromStdString(dir + "receive"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("fax");
    }
    TMainScreen& w = start();
    w.selectPage(TMainScreen::kIncomingPage);
    ASSERT_EQ(QString::fromStdString(w.RecTable().currentRow().text("FROM")), "ACME Corp");

    prompter().answers = {false};
    w.DeleteButtonClick();
    ASSERT_EQ(prompter().records.size(), 1);
    EXPECT_EQ(prompter().records[0].kind, PromptRecord::YesNoDefaultNo);
    EXPECT_EQ(prompter().records[0].text, "Delete the current fax?\r\n(from: \"ACME Corp\")");
    EXPECT_EQ(prompter().records[0].caption, "Delete");
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_EQ(w.RecTable().visibleCount(), 2u);

    prompter().answers = {true};
    w.DeleteButtonClick();
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_EQ(w.RecTable().visibleCount(), 1u);
    EXPECT_EQ(w.RecFaxGrid()->model()->rowCount(), 1);

    // A stored name that leads out of the receive directory deletes the record but never that file.
    ASSERT_TRUE(QFile::exists(QString::fromStdString(dir + "TVN.INI")));
    prompter().answers = {true};
    w.DeleteButtonClick();
    EXPECT_EQ(w.RecTable().visibleCount(), 0u);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir + "TVN.INI")));
    EXPECT_FALSE(enabled(w, "DeleteButton"));
    EXPECT_EQ(w.RecXb().xb_IndexOrd(), 0);
}

TEST_F(MainScreenTest, DeletingOutgoingFaxAsksWithSubject) {
    writePortSetting();
    seedOutgoing(dir, {{"Quarterly report", "Dana", "555-9", true, {2026, 10, 2}, "11:11"}});
    rebuildLogs(dir);
    TMainScreen& w = start();
    prompter().answers = {true};
    w.DeleteButtonClick();
    ASSERT_EQ(prompter().records.size(), 1);
    EXPECT_EQ(prompter().records[0].text, "Delete the current fax?\r\n(subject: \"Quarterly report\")");
    EXPECT_EQ(prompter().records[0].caption, "Delete");
    EXPECT_EQ(w.FaxTable().visibleCount(), 0u);
    EXPECT_EQ(w.FaxTable().recCount(), 1u);  // only marked until Rebuild Indexes
    EXPECT_FALSE(enabled(w, "SendButton"));
    w.mnuRebuildIndexesClick();
    EXPECT_EQ(w.FaxTable().recCount(), 0u);
}

TEST_F(MainScreenTest, EditingTheNoteOfAReceivedFax) {
    writePortSetting();
    seedIncoming(dir, {incoming("ACME Corp", "FAX0001.OVF", {2026, 12, 8}, "10:15", "old note")});
    rebuildLogs(dir);
    TMainScreen& w = start();
    w.selectPage(TMainScreen::kIncomingPage);

    QString caption, label, shown;
    int maxLength = 0;
    onNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<TEditReceiveNotes*>(modal);
        ASSERT_NE(dialog, nullptr);
        caption = dialog->windowTitle();
        label = dialog->Descript()->text();
        shown = dialog->Notes()->text();
        maxLength = dialog->Notes()->maxLength();
        dialog->Notes()->setText("call back Monday");
        dialog->findChild<QPushButton*>("CancelButton")->click();
    });
    w.EditButtonClick();
    EXPECT_EQ(caption, "Received Fax Notes");
    EXPECT_EQ(label, "From: ACME Corp");
    EXPECT_EQ(shown, "old note");
    EXPECT_EQ(maxLength, 60);
    EXPECT_EQ(QString::fromStdString(w.RecTable().currentRow().text("NOTES")), "old note");

    onNextModal([](QWidget* modal) {
        auto* dialog = qobject_cast<TEditReceiveNotes*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->Notes()->setText("call back Monday");
        dialog->findChild<QPushButton*>("AcceptButton")->click();
    });
    w.EditButtonClick();
    EXPECT_EQ(QString::fromStdString(w.RecTable().currentRow().text("NOTES")), "call back Monday");
    EXPECT_EQ(w.RecFaxGrid()->model()->index(0, 4).data().toString(), "call back Monday");
    stop();

    // The note is in the file.
    records::RecordSet rs;
    records::TXbAccess xb(rs);
    ASSERT_TRUE(records::OpenRecFaxDBF(dir, rs, xb));
    rs.first();
    EXPECT_EQ(rs.currentRow().text("NOTES"), "call back Monday");
}

TEST_F(MainScreenTest, PlacementSurvivesRestart) {
    writePortSetting();
    rebuildLogs(dir);
    QRect placed;
    {
        TMainScreen& w = start();
        w.setGeometry(60, 70, 700, 450);
        placed = w.geometry();
        stop();
    }
    const settings::IniFile ini = settings::IniFile::load(dir + "TVN.INI");
    const int ppi = qRound(shelltest::app()->primaryScreen()->logicalDotsPerInch());
    const std::string section = app::placementSection("TMainScreen", ppi).toStdString();
    EXPECT_EQ(ini.readInteger(section, "Left", -1), placed.left());
    EXPECT_EQ(ini.readInteger(section, "Right", -1), placed.left() + placed.width());
    TMainScreen& again = start();
    EXPECT_EQ(again.geometry(), placed);
}

TEST_F(MainScreenTest, UnopenableLogsAreReportedAndCloseTheProgram) {
    writePortSetting();
    // A directory where each table file should be: neither can be opened nor created.
    QDir().mkpath(QString::fromStdString(dir + "TVN.DBF"));
    QDir().mkpath(QString::fromStdString(dir + "TVNREC.DBF"));
    TMainScreen& w = start();
    for (int i = 0; i < 50 && w.isVisible(); ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const QStringList texts = prompter().texts();
    ASSERT_GE(texts.size(), 2);
    EXPECT_EQ(texts[0], "Unable to open/create the FAX datafile - closing program");
    EXPECT_EQ(texts[1], "Unable to open/create the FAX RECEIVE datafile - closing program");
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(texts.contains(kReindexQuestion));
}

TEST_F(MainScreenTest, CloseQueryWhileFaxArrives) {
    writePortSetting();
    rebuildLogs(dir);
    HookCounts c;
    installCountingHooks(commands, c);
    TMainScreen& w = start();
    w.ReceiveButtonClick();
    w.setFaxArriving(true);
    prompter().answers = {false};
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    ASSERT_EQ(prompter().records.size(), 1);
    EXPECT_EQ(prompter().records[0].text, "You are receiving a fax. Exit the program?");
    EXPECT_EQ(prompter().records[0].caption, "Exit");
    // Yes: receive mode is stopped through its toggle, settings written, logs closed.
    prompter().answers = {true};
    EXPECT_TRUE(w.close());
    EXPECT_EQ(c.receive, 2);
    EXPECT_FALSE(w.receiveMode());
    EXPECT_FALSE(w.FaxTable().active());
    EXPECT_FALSE(w.RecTable().active());
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir + "TVN.INI")));
}

TEST_F(MainScreenTest, PostedMessagesCloseAndPlaySound) {
    writePortSetting();
    rebuildLogs(dir);
    TMainScreen& w = start();
    // No sound set, or a missing file: nothing is played and nothing is shown.
    EXPECT_FALSE(w.playArrivalSound());
    app::appSettings().Receive.Wav = dir + "missing.wav";
    app::postWindowMessage(&w, app::kArrivalSoundMessage);
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.playArrivalSound());
    EXPECT_TRUE(prompter().records.isEmpty());
#ifdef TELVANE_HAVE_MULTIMEDIA
    {
        QFile wav(QString::fromStdString(dir + "ring.wav"));
        ASSERT_TRUE(wav.open(QIODevice::WriteOnly));
        wav.write("RIFF");  // not a playable file: playing fails silently
    }
    app::appSettings().Receive.Wav = "ring.wav";  // relative to the data directory
    EXPECT_TRUE(w.playArrivalSound());
#endif
    app::postWindowMessage(&w, app::kCloseRequestMessage);
    for (int i = 0; i < 50 && w.isVisible(); ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.FaxTable().active());
}

TEST_F(MainScreenTest, ShowHintsTogglesAndSaves) {
    writePortSetting();
    rebuildLogs(dir);
    TMainScreen& w = start();
    QToolButton* newButton = w.button("Newbutton");
    EXPECT_EQ(newButton->toolTip(), "Create a new fax");
    EXPECT_EQ(w.button("DeleteButton")->toolTip(), "Delete  the currently selected fax");
    EXPECT_EQ(newButton->toolTipDuration(), 30000);
    EXPECT_EQ(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 1200);
    EXPECT_EQ(w.menuAction("mnuRebuildIndexes")->statusTip(), "Do this every 2 weeks ");
    EXPECT_TRUE(w.menuAction("mnuShowHint")->isChecked());
    w.setStatus("busy");
    w.mnuShowHintClick();
    EXPECT_FALSE(w.menuAction("mnuShowHint")->isChecked());
    EXPECT_TRUE(newButton->toolTip().isEmpty());
    EXPECT_TRUE(w.menuAction("mnuRebuildIndexes")->statusTip().isEmpty());
    EXPECT_TRUE(w.statusText().isEmpty());
    EXPECT_EQ(settings::IniFile::load(dir + "TVN.INI").value("Hints", "On"), "0");
    // A hint changed while hints are off shows once they are on again.
    w.setHint(w.ReceiveButton(), "Stop receiving faxes");
    EXPECT_TRUE(w.ReceiveButton()->toolTip().isEmpty());
    w.mnuShowHintClick();
    EXPECT_EQ(w.ReceiveButton()->toolTip(), "Stop receiving faxes");
    EXPECT_EQ(settings::IniFile::load(dir + "TVN.INI").value("Hints", "On"), "1");
    stop();
    // The next start honours the saved setting.
    settings::IniFile ini = settings::IniFile::load(dir + "TVN.INI");
    ini.writeBool("Hints", "On", false);
    ini.save(dir + "TVN.INI");
    TMainScreen& again = start();
    EXPECT_FALSE(again.menuAction("mnuShowHint")->isChecked());
    EXPECT_TRUE(again.button("SendButton")->toolTip().isEmpty());
}

TEST_F(MainScreenTest, MenusCarryCaptionsAndShortcuts) {
    writePortSetting();
    rebuildLogs(dir);
    TMainScreen& w = start();
    const std::vector<std::tuple<const char*, const char*, QKeySequence>> entries = {
        {"mnuNew", "&New Fax", {}},
        {"mnuEdit", "&Edit Fax", {}},
        {"mnuClone", "C&lone Fax", {}},
        {"mnuDelete", "&Delete Fax", {}},
        {"FaxlogCleanup1", "Fax Log Clean&up", {}},
        {"mnuSend", "&Send Fax", QKeySequence("Ctrl+S")},
        {"mnuReceive", "Re&ceive Faxes", QKeySequence("Ctrl+R")},
        {"mnuViewPrint", "&View/Print Fax", QKeySequence("Ctrl+V")},
        {"mnuCover", "C&over Sheets", {}},
        {"mnuPhoneBook", "&Phone Book", {}},
        {"mnuRebuildIndexes", "Rebuild &Indexes", {}},
        {"mnuPreferences", "P&references", {}},
        // Ctrl+Q as on every desktop: Ctrl+X is Cut.
        {"Exit1", "E&xit", QKeySequence("Ctrl+Q")},
        {"Contents1", "&Contents", {}},
        {"FrequentlyAskedQuestionsFAQ1", "&Frequently Asked Questions (FAQ)", {}},
        {"TroubleshootingTips1", "&Technical Help", {}},
        {"TechnicalSupport1", "Technical &Support", {}},
        {"About1", "&About", {}},
        {"ConfigurationInformation1", "Confi&guration Information", {}},
        {"mnuShowHint", "Show &Hints", {}}};
    for (const auto& [name, caption, shortcut] : entries) {
        QAction* a = w.menuAction(name);
        ASSERT_NE(a, nullptr) << name;
        EXPECT_EQ(a->text(), caption) << name;
        EXPECT_EQ(a->shortcut(), shortcut) << name;
    }
    // Every menu opens with Alt and a letter, and within a menu no two entries share a letter.
    const auto mnemonic = [](const QString& text) {
        const int at = text.indexOf('&');
        return at < 0 || at + 1 >= text.size() ? QChar() : text[at + 1].toLower();
    };
    QSet<QChar> titles;
    for (QAction* top : w.menuBar()->actions()) {
        const QChar key = mnemonic(top->text());
        EXPECT_FALSE(key.isNull()) << top->text().toStdString();
        EXPECT_FALSE(titles.contains(key)) << top->text().toStdString();
        titles.insert(key);
        QSet<QChar> inMenu;
        for (QAction* a : top->menu()->actions()) {
            if (a->isSeparator()) continue;
            const QChar k = mnemonic(a->text());
            EXPECT_FALSE(k.isNull()) << a->text().toStdString();
            EXPECT_FALSE(inMenu.contains(k)) << a->text().toStdString();
            inMenu.insert(k);
        }
    }
    EXPECT_EQ(titles, (QSet<QChar>{'f', 'h'}));
    const std::vector<std::pair<const char*, const char*>> buttons = {
        {"Newbutton", "&New"},     {"EditButton", "&Edit"},       {"DeleteButton", "&Delete"},
        {"SendButton", "&Send"},   {"ReceiveButton", "&Receive"}, {"ViewFaxButton", "&View"},
        {"Printbutton", "&Print"}, {"Exitbutton", "E&xit"}};
    for (const auto& [name, caption] : buttons) {
        ASSERT_NE(w.button(name), nullptr) << name;
        EXPECT_EQ(w.button(name)->text(), caption);
        EXPECT_FALSE(w.button(name)->icon().isNull()) << name;
    }
}

// The project has no web site: no menu entry and no help page sends the user to a placeholder.
TEST_F(MainScreenTest, CommandWithoutWindowBeepsAndNoPlaceholderWebsite) {
    writePortSetting();
    rebuildLogs(dir);
    TMainScreen& w = start();
    w.mnuPhoneBookClick();
    ASSERT_EQ(prompter().records.size(), 1);
    EXPECT_EQ(prompter().records[0].kind, PromptRecord::Beep);

    EXPECT_EQ(w.menuAction("VisitOurInternetWebsite1"), nullptr);
    for (QAction* top : w.menuBar()->actions())
        for (QAction* a : top->menu()->actions())
            EXPECT_FALSE(a->text().contains("Website")) << a->text().toStdString();
    for (int context : {app::kHelpContents, app::kHelpFaq, app::kHelpTechnical, app::kHelpSupport}) {
        app::THelpWindow* help = app::showHelp(context);
        EXPECT_FALSE(help->browser()->toPlainText().contains("Website")) << context;
        help->close();
    }
}

TEST_F(MainScreenTest, HelpPagesAndAbout) {
    writePortSetting();
    rebuildLogs(dir);
    TMainScreen& w = start();
    for (int context : {app::kHelpContents, app::kHelpFaq, app::kHelpTechnical, app::kHelpSupport}) {
        ASSERT_TRUE(app::THelpWindow::hasPage(context)) << context;
        app::THelpWindow* help = app::showHelp(context);
        EXPECT_EQ(help->context(), context);
        EXPECT_GT(help->browser()->toPlainText().size(), 300) << context;
    }
    EXPECT_TRUE(app::showHelp(app::kHelpFaq)->browser()->toPlainText().contains("Frequently Asked Questions"));
    app::THelpWindow* fallback = app::showHelp(4242);
    EXPECT_EQ(fallback->context(), app::kHelpContents);
    EXPECT_TRUE(fallback->browser()->toPlainText().contains("4242"));
    fallback->close();

    QString title, version, texts;
    bool onTop = false;
    onNextModal([&](QWidget* modal) {
        title = modal->windowTitle();
        for (QLabel* l : modal->findChildren<QLabel*>()) texts += l->text() + '\n';
        onTop = modal->windowFlags() & Qt::WindowStaysOnTopHint;
        version = modal->findChild<QLabel*>("VersionLabel")->text();
        modal->findChild<QPushButton*>("OkButton")->click();
    });
    w.About1Click();
    EXPECT_EQ(title, "About Telvane");
    EXPECT_TRUE(onTop);
    EXPECT_EQ(version, "Version 2.9y");
    // No placeholder address offered as if it were a shop.
    EXPECT_FALSE(texts.contains("example.org")) << texts.toStdString();
    EXPECT_FALSE(texts.contains("online store")) << texts.toStdString();
}

TEST_F(MainScreenTest, GridPagesLargeLog) {
    writePortSetting();
    std::vector<OutgoingSeed> rows;
    for (int i = 0; i < 2000; ++i)
        rows.push_back(
            {"Subject " + std::to_string(i), "R", "1", true, {2020 + i / 365, 1 + (i / 28) % 12, 1 + i % 28}, "12:00"});
    seedOutgoing(dir, rows);
    rebuildLogs(dir);
    TMainScreen& w = start();
    auto* model = w.FaxGrid()->logModel();
    ASSERT_EQ(model->rowCount(), 2000);
    EXPECT_LE(model->cachedPages(), 2);  // only what the view has shown
    for (int r = 0; r < model->rowCount(); r += 7) (void)model->index(r, 6).data();
    EXPECT_LE(model->cachedPages(), app::LogTableModel::kMaxCachedPages);
    // The newest record (the last seeded) comes first, and every row is the record at its position.
    EXPECT_EQ(model->index(0, 6).data().toString(), "Subject 1999");
    for (int r : {0, 63, 64, 1000, 1999}) {
        const records::Row row = w.FaxTable().row(w.FaxTable().recNoAt(r));
        EXPECT_EQ(model->index(r, 6).data().toString(), QString::fromStdString(row.text("SUBJECT"))) << r;
    }
    // Moving the record set moves the grid.
    w.FaxTable().moveTo(1500);
    EXPECT_EQ(w.FaxGrid()->currentIndex().row(), 1500);
}

TEST_F(MainScreenTest, CommandsReachTheirHooks) {
    writePortSetting();
    seedOutgoing(dir, threeOutgoing());
    seedIncoming(dir, {incoming("ACME", "FAX0001.OVF")});
    rebuildLogs(dir);
    app::appSettings().Receive.AtStartup = true;
    settings::IniFile ini = settings::IniFile::load(dir + "TVN.INI");
    ini.writeBool("Receive", "AtStartup", true);
    ini.save(dir + "TVN.INI");
    HookCounts c;
    installCountingHooks(commands, c);
    std::vector<bool> cloneFlags;
    commands.newFax = [&](app::IMainWindow& w, bool clone) {
        cloneFlags.push_back(clone);
        EXPECT_EQ(dynamic_cast<TMainScreen&>(w).cloneRequested(), clone);
    };
    bool cleanupDeletes = false;
    commands.faxLogCleanup = [&](app::IMainWindow&) {
        ++c.cleanup;
        return cleanupDeletes;
    };
    TMainScreen& w = start();
    // Receive.AtStartup started receive mode at the first activation.
    EXPECT_EQ(c.receive, 1);
    ASSERT_TRUE(w.receiveMode());
    // Configuration Information and View/Print are not locked.
    w.configurationInformation1Click();
    EXPECT_EQ(c.config, 1);
    w.printbuttonClick();
    EXPECT_EQ(c.print, 1);
    w.ReceiveButtonClick();
    ASSERT_FALSE(w.receiveMode());

    w.NewbuttonClick();
    w.mnuCloneClick();
    EXPECT_EQ(cloneFlags, (std::vector<bool>{false, true}));
    EXPECT_FALSE(w.cloneRequested());
    w.EditButtonClick();
    EXPECT_EQ(c.editFax, 1);
    w.SendButtonClick();
    EXPECT_EQ(c.send, 1);
    // A double click on a grid row views the fax.
    emit w.FaxGrid()->doubleClicked(w.FaxGrid()->model()->index(0, 0));
    EXPECT_EQ(c.view, 1);
    // Clean-up runs Rebuild Indexes only when it deleted something.
    w.FaxlogCleanup1Click();
    EXPECT_EQ(c.rebuild, 0);
    cleanupDeletes = true;
    w.FaxlogCleanup1Click();
    EXPECT_EQ(c.cleanup, 2);
    EXPECT_EQ(c.rebuild, 1);
    EXPECT_FALSE(w.FaxTable().controlsDisabled());
    w.mnuPreferencesClick();
    w.mnuPhoneBookClick();
    EXPECT_EQ(c.preferences, 1);
    EXPECT_EQ(c.phone, 1);
    EXPECT_EQ(c.quickSetup, 0);  // a port is stored
}

TEST_F(MainScreenTest, StartedMinimizedStillRunsFirstActivation) {
    rebuildLogs(dir);  // no port stored: quick set-up pending
    HookCounts c;
    installCountingHooks(commands, c);
    qputenv("TELVANE_START_MINIMIZED", "1");
    TMainScreen& w = start();
    qunsetenv("TELVANE_START_MINIMIZED");
    EXPECT_TRUE(w.isMinimized());
    EXPECT_FALSE(w.firstActivationPending());
    EXPECT_EQ(c.quickSetup, 1);
}

#include "support/scriptedprompter.h"
