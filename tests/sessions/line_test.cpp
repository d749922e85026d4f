// Sessions through the real program logic on the virtual fax line (telvane-virtual-line, spandsp's
// fax machine at the far end): a fax written in the editor is sent from the main window and
// arrives with its pages; a busy far end leaves the error in the record; receive mode takes a
// two-page fax into the incoming log; with receive mode on, a send goes out and receive mode then
// answers the next call; the find-modem scan and the class check find the virtual modem.
#include <QDate>
#include <QDir>
#include <QLabel>
#include <QToolButton>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTime>

#include "compose/commands/composehooks.h"
#include "compose/editor/tenteredit.h"
#include "compose/editor/tfaxeditor.h"
#include "compose/richtext/trichtext.h"
#include "records/fax_tables.h"
#include "sessions/faxwindows.h"
#include "sessions/modemsetup.h"
#include "sessions/sendfax.h"
#include "sessions/sessionhooks.h"
#include "sessions_fixture.h"
#include "settings/inifile.h"
#include "shell/mainscreen.h"
#include "support/peers.h"
#include "support/scriptedprompter.h"

namespace telvane::sessiontest {
namespace {

using namespace telvane::sessions;

QString bin(const QString& tool) { return qEnvironmentVariable("TELVANE_BIN") + QLatin1Char('/') + tool; }

// A peer checked in the middle of a test: missing under CI is a failure, elsewhere a loud note.
bool havePeer(const char* name) {
    if (telvane::test::haveProgram(name)) return true;
    if (telvane::test::underCi())
        ADD_FAILURE() << "missing test peer: " << name;
    else
        telvane::test::announceMissingPeer(name);
    return false;
}

// Number of pages of a TIFF file (tiffinfo), -1 when it cannot be read.
int tiffPages(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("tiffinfo"), {path});
    if (!p.waitForFinished(20000) || p.exitCode() != 0) return -1;
    return static_cast<int>(QString::fromUtf8(p.readAllStandardOutput()).count(QStringLiteral("TIFF Directory")));
}

class LineTest : public SessionsTest {
protected:
    void SetUp() override {
        SessionsTest::SetUp();
        TELVANE_REQUIRE_PEER(QFile::exists(bin("telvane-virtual-line")), "telvane-virtual-line was not built");
        modem_ = dir() + "modem";
        settings::IniFile ini;
        ini.writeInteger("Modem", "ComPort", 0);
        ini.writeString("Ports", "Com1", modem_);
        ini.writeString("User", "Fax", "555 0199");
        ini.writeString("User", "Name", "Line Tester");
        ini.writeInteger("Modem", "MaximumBPS", 14400);
        ini.writeInteger("Dialing", "DialAttempts", 1);
        ini.save(dir() + "TVN.INI");
        rebuildLogs(dir());
        commands_ = app::MainWindowCommands{};
        composecommands::addComposeCommands(commands_);
        sessions::addSessionCommands(commands_);
    }
    void TearDown() override {
        if (window_) window_->close();
        window_.reset();
        commands_ = app::MainWindowCommands{};
        app::setMainWindow(nullptr);
        if (line_.state() != QProcess::NotRunning) {
            line_.terminate();
            if (!line_.waitForFinished(10000)) line_.kill();
            line_.waitForFinished(5000);
        }
        SessionsTest::TearDown();
    }

    void startLine(QStringList args) {
        args.prepend(QString::fromStdString(modem_));
        args.prepend(QStringLiteral("--tty"));
        line_.setWorkingDirectory(qdir());
        line_.start(bin("telvane-virtual-line"), args);
        ASSERT_TRUE(line_.waitForStarted(5000));
        ASSERT_TRUE(waitUntil([this] { return QFile::exists(QString::fromStdString(modem_)); }, 10))
            << line_.readAllStandardError().toStdString();
    }

    shell::TMainScreen& start() {
        window_ = std::make_unique<shell::TMainScreen>(commands_);
        app::setMainWindow(window_.get());
        commands_.createWindows(*window_);
        window_->show();
        waitUntil([this] { return !window_->firstActivationPending(); }, 20);
        return *window_;
    }

    // Writes a fax with a cover and a document page in the fax editor.
    void composeFax(shell::TMainScreen& main, const QString& number) {
        whenModal<editor::TFaxEditor>([number](editor::TFaxEditor* e) {
            e->Recipient->setText("Far End");
            e->FaxNumber->setText(number);
            e->Subject->setText("Line test");
            e->CoverButton->click();
            e->RichCover->insertPlainText("Cover sheet of the line test");
            e->DocumentButton->click();
            e->RichDoc->insertPlainText("The document page of the line test.");
            e->OKButton->click();
        });
        main.NewbuttonClick();
        ASSERT_EQ(main.FaxTable().visibleCount(), 1u);
        main.FaxTable().first();
    }

    // Presses Send in the send dialog, waits for the session's end and closes the dialog.
    // The status window's connection fields as the session left them are kept in `connection`.
    void sendAndClose(shell::TMainScreen& main) {
        whenModal<TSendFaxForm>([this](TSendFaxForm* f) {
            f->SendFaxButton->click();
            EXPECT_TRUE(waitUntil([f] { return !f->SessionBusy && !f->ResultText.isEmpty(); }, 90))
                << "the session did not end";
            const TStandardFaxDisplay* d = f->OvxFaxStatus1;
            connection = {d->fsConnectBPS->text(), d->fsResolution->text(), d->fsWidth->text(),
                          d->fsErrorControl->text()};
            f->CloseButton->click();
        });
        main.SendButtonClick();
    }

    QStringList connection;

    std::string modem_;
    QProcess line_;
    app::MainWindowCommands commands_;
    std::unique_ptr<shell::TMainScreen> window_;
};

TEST_F(LineTest, FaxWrittenInTheEditorIsSentAndMarkedSent) {
    startLine({"--answer", "--receive", qdir() + "far-%03d.tif", "--id", "FAR END"});
    shell::TMainScreen& main = start();
    composeFax(main, "5550100");
    sendAndClose(main);

    EXPECT_EQ(prompts().texts().filter("Fax sent successfully").size(), 1) << prompts().texts().join('|').toStdString();
    EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors[0].text.toStdString());
    ASSERT_TRUE(waitUntil([this] { return QFile::exists(qdir() + "far-001.tif"); }, 20));
    if (havePeer("tiffinfo")) {
        EXPECT_EQ(tiffPages(qdir() + "far-001.tif"), 2);
    }

    const records::Row row = main.FaxTable().currentRow();
    EXPECT_TRUE(row.boolean("SENT"));
    EXPECT_EQ(row.date("DATESENT").dtos(), QDate::currentDate().toString("yyyyMMdd").toStdString());
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d$").match(QString::fromStdString(row.text("TIMESENT"))).hasMatch());
    EXPECT_EQ(row.text("LASTRESULT"), "Sent");
    EXPECT_EQ(row.text("PHONE"), "5550100");
    EXPECT_EQ(row.integer("PAGES"), 2);
    // The rendered fax file is gone.
    EXPECT_TRUE(QDir(qdir()).entryList({"*.OVF", "*.ovf"}, QDir::Files).isEmpty());

    const QStringList log = readLines(qdir() + "Lastsend.log");
    // Without error correction the far end, which offers 2-D coding, gets MR: the log says so.
    ASSERT_EQ(log.size(), 15) << log.join('|').toStdString();
    EXPECT_TRUE(log[0].startsWith("Start:") && log[0].size() > 10);
    EXPECT_EQ(log.mid(1, 13), (QStringList{"Opening com port: COM1", "Opened com port OK", "Checking for modem",
                                           "Desired BPS: 14400", "Negotiate between pages: OFF", "Fax#: 5550100",
                                           "Dial Prefix: ", "Dial Suffix: ", "Fax Class: Class 1",
                                           "StationID: 555 0199", "User INIT String: ", "Coding: MR", "Result: OK"}));
    EXPECT_TRUE(log[14].startsWith("Finish: "));

    // 14400 bit/s asked for, no error correction, MR; the rendered pages are 1728 pels wide.
    ASSERT_EQ(connection.size(), 4);
    EXPECT_EQ(connection[0], "14400");
    EXPECT_TRUE(connection[1] == "high" || connection[1] == "standard") << connection[1].toStdString();
    EXPECT_EQ(connection[2], "1728");
    EXPECT_EQ(connection[3], "MR");
}

TEST_F(LineTest, BusyFarEndLeavesTheErrorInTheRecord) {
    startLine({"--answer", "--busy", "5", "--receive", qdir() + "far-%03d.tif"});
    shell::TMainScreen& main = start();
    composeFax(main, "777");
    sendAndClose(main);

    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].caption, "Fax Failure");
    EXPECT_TRUE(errors[0].text.contains("Error message: Called fax number was busy")) << errors[0].text.toStdString();
    const records::Row row = main.FaxTable().currentRow();
    EXPECT_FALSE(row.boolean("SENT"));
    EXPECT_EQ(row.text("LASTRESULT"), "Called fax number was busy");
    EXPECT_TRUE(row.date("DATESENT").isEmpty());
    EXPECT_TRUE(readLines(qdir() + "Lastsend.log").contains("Result: Called fax number was busy"));
}

TEST_F(LineTest, ReceiveModeStoresATwoPageFaxInTheIncomingLog) {
    QFile text(qdir() + "two.txt");
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("First page line one\nline two\nline three\nSecond page line one\nline two\n");
    text.close();
    QProcess conv;
    conv.setWorkingDirectory(qdir());
    conv.start(bin("telvane-faxconv"), {"to-fax", "two.txt", "two.ovf", "--lines-per-page", "3"});
    ASSERT_TRUE(conv.waitForFinished(60000) && conv.exitCode() == 0) << conv.readAllStandardError().toStdString();
    conv.start(bin("telvane-faxconv"), {"from-fax", "two.ovf", "two.tif"});
    ASSERT_TRUE(conv.waitForFinished(60000) && conv.exitCode() == 0) << conv.readAllStandardError().toStdString();
    QFile::remove(qdir() + "two.ovf");
    if (havePeer("tiffinfo")) {
        ASSERT_EQ(tiffPages(qdir() + "two.tif"), 2);
    }

    startLine({"--call", qdir() + "two.tif", "--id", "SPANDSP SENDER", "--calls", "1", "--answer-after", "1"});
    shell::TMainScreen& main = start();
    main.ReceiveButtonClick();
    ASSERT_TRUE(main.receiveMode());
    EXPECT_EQ(main.ReceiveButton()->text(), "STOP");
    EXPECT_EQ(main.currentPage(), shell::TMainScreen::kIncomingPage);
    ASSERT_TRUE(waitUntil([&] { return main.RecTable().visibleCount() == 1; }, 60)) << main.statusText().toStdString();
    main.ReceiveButtonClick();
    EXPECT_FALSE(main.receiveMode());

    main.RecTable().first();
    const records::Row row = main.RecTable().currentRow();
    EXPECT_EQ(row.text("FROM"), "SPANDSP SENDER");
    EXPECT_EQ(row.integer("PAGES"), 2);
    EXPECT_EQ(row.text("FAXFILE"), "FAX0001.OVF");
    EXPECT_EQ(row.date("DATEREC").dtos(), QDate::currentDate().toString("yyyyMMdd").toStdString());
    EXPECT_TRUE(QFile::exists(qdir() + "receive/FAX0001.OVF"));
    EXPECT_FALSE(main.faxArriving());

    const QStringList log = readLines(qdir() + "Lastrec.log");
    ASSERT_EQ(log.size(), 11) << log.join('|').toStdString();
    EXPECT_TRUE(log[0].startsWith("Start:"));
    // The far end takes the 2-D coding we offer without error correction.
    EXPECT_EQ(log.mid(1, 8),
              (QStringList{"Opening com port: COM1", "Opened com port OK", "Checking for modem", "Desired BPS: 14400",
                           "Fax Class: Class 1", "User INIT String: ", "StartReceive", "Coding: MR"}));
    EXPECT_TRUE(log[9].startsWith("Stopped receive mode:"));
    EXPECT_TRUE(log[10].startsWith("Finish: "));
}

// One modem for both directions: the far end is a second program (telvane-fax) on the other modem
// of a pair. Receive mode is on; the fax sent from the main window reaches the far end, and the
// far end's call that follows is answered by the resumed receive mode.
TEST_F(LineTest, SendWithReceiveModeOnGoesOutAndTheNextCallIsAnswered) {
    const QString far = qdir() + "far";
    ASSERT_TRUE(QDir().mkpath(far));
    startLine({"--pair", "--tty", qdir() + "modem2"});
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(qdir() + "modem2"); }, 10));
    QProcess farEnd;
    farEnd.setWorkingDirectory(qdir());
    farEnd.start(bin("telvane-fax"),
                 {"receive", "--device", qdir() + "modem2", "--dir", far, "--one-fax", "--station-id", "FAR END"});
    ASSERT_TRUE(farEnd.waitForStarted(5000));

    shell::TMainScreen& main = start();
    app::appSettings().Receive.AnswerOnRing = 1;
    whenModal<editor::TFaxEditor>([](editor::TFaxEditor* e) {
        e->FaxNumber->setText("5550100");
        e->DocumentButton->click();
        e->RichDoc->insertPlainText("One short page.");
        e->OKButton->click();
    });
    main.NewbuttonClick();
    main.ReceiveButtonClick();
    ASSERT_TRUE(main.receiveMode());
    main.selectPage(shell::TMainScreen::kOutgoingPage);
    main.FaxTable().first();
    sendAndClose(main);

    EXPECT_EQ(prompts().texts().filter("Fax sent successfully").size(), 1) << prompts().texts().join('|').toStdString();
    const auto farEndDone = [&] { return waitUntil([&] { return farEnd.state() == QProcess::NotRunning; }, 30); };
    ASSERT_TRUE(farEndDone()) << farEnd.readAllStandardError().toStdString();
    EXPECT_EQ(farEnd.exitCode(), 0) << farEnd.readAllStandardError().toStdString();
    EXPECT_TRUE(main.FaxTable().currentRow().boolean("SENT"));
    EXPECT_TRUE(main.receiveMode());
    EXPECT_EQ(main.RecTable().visibleCount(), 0u);

    QFile text(qdir() + "reply.txt");
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("The reply of the far end\n");
    text.close();
    farEnd.start(bin("telvane-fax"), {"send", "--device", qdir() + "modem2", "--number", "5550199", "--station-id",
                                      "FAR END", "--dial-attempts", "1", qdir() + "reply.txt"});
    ASSERT_TRUE(farEnd.waitForStarted(5000));
    ASSERT_TRUE(waitUntil([&] { return main.RecTable().visibleCount() == 1; }, 60)) << main.statusText().toStdString();
    ASSERT_TRUE(farEndDone());
    EXPECT_EQ(farEnd.exitCode(), 0) << farEnd.readAllStandardError().toStdString();
    main.RecTable().first();
    EXPECT_EQ(main.RecTable().currentRow().text("FROM"), "FAR END");
}

TEST_F(LineTest, FindModemAndClassCheckMeetTheVirtualModem) {
    startLine({"--answer"});
    settings::Settings& s = app::appSettings();
    s.Ports = {dir() + "absent1", modem_, dir() + "absent3", dir() + "absent4", dir() + "absent5", dir() + "absent6"};
    telvane::transport::TOvxComPort port;
    telvane::transport::TOvxSendFax fax;
    fax.setComPort(&port);
    {
        TFindModemForm finder(port);
        whenModal<TFindModemForm>([](TFindModemForm* f) { clickWhenVisible(f->OkButton); });
        finder.exec();
        EXPECT_EQ(finder.outcome(), 2);
        EXPECT_EQ(finder.PortLabels[1]->text(), "Com 2: MODEM");
        for (int i : {0, 2, 3, 4, 5})
            EXPECT_EQ(finder.PortLabels[i]->text(), QStringLiteral("Com %1: Port does not exist").arg(i + 1));
    }
    TCheckFaxClassForm check(port, fax, 2);
    whenModal<TCheckFaxClassForm>([](TCheckFaxClassForm* f) { clickWhenVisible(f->OkButton); });
    check.exec();
    EXPECT_EQ(check.resultIndex(), 0) << check.Status->text().toStdString();
    EXPECT_EQ(check.Label1->text(), "Class 1   : Supported (recommended)");
    EXPECT_TRUE(check.Status->text().startsWith("Try using the recommended Fax Class (Class 1)"));
    EXPECT_EQ(prompts().count(PromptRecord::YesNo), 0);
    EXPECT_EQ(prompts().count(PromptRecord::Information), 0);
}

// A Class 2.0 modem: the class check recommends Class 2.0 (its only class, in bold), and a fax
// sent with "Class 2.0" chosen goes through that class and is logged with it.
TEST_F(LineTest, Class20ModemIsCheckedAndSendsAFax) {
    startLine(
        {"--class", "2.0", "--answer", "--receive", qdir() + "far-%03d.tif", "--id", "FAR END", "--answer-after", "1"});
    {
        settings::Settings& s = app::appSettings();
        s.Ports[1] = modem_;
        telvane::transport::TOvxComPort port;
        telvane::transport::TOvxSendFax fax;
        fax.setComPort(&port);
        TCheckFaxClassForm check(port, fax, 2);
        whenModal<TCheckFaxClassForm>([](TCheckFaxClassForm* f) { clickWhenVisible(f->OkButton); });
        check.exec();
        EXPECT_EQ(check.resultIndex(), 2) << check.Status->text().toStdString();
        EXPECT_EQ(check.resultName(), "Class 2.0");
        EXPECT_EQ(check.Label1->text(), "Class 1   : Not Supported");
        EXPECT_EQ(check.Label2->text(), "Class 2   : Not Supported");
        EXPECT_EQ(check.Label3->text(), "Class 2.0 : Supported");
        EXPECT_TRUE(check.Label3->font().bold());
    }
    shell::TMainScreen& main = start();
    app::appSettings().Modem.FaxClass = 3;
    composeFax(main, "5550100");
    sendAndClose(main);
    EXPECT_EQ(prompts().texts().filter("Fax sent successfully").size(), 1) << prompts().texts().join('|').toStdString();
    EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors[0].text.toStdString());
    ASSERT_TRUE(waitUntil([this] { return QFile::exists(qdir() + "far-001.tif"); }, 20));
    if (havePeer("tiffinfo")) {
        EXPECT_EQ(tiffPages(qdir() + "far-001.tif"), 2);
    }
    EXPECT_TRUE(main.FaxTable().currentRow().boolean("SENT"));
    EXPECT_TRUE(readLines(qdir() + "Lastsend.log").contains("Fax Class: Class 2.0"));
}

}  // namespace
}  // namespace telvane::sessiontest
