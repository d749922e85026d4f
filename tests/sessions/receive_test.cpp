// Receive mode on the main window without a line: start failures and a start and stop against a
// scripted modem with their log lines, the notice window made hidden at start, the close query
// while a fax arrives, and a fax reported received by the engine becoming a record
// and, when asked, a print job on the printer the settings name (or the current printer when
// that one is not installed); a send while the mode is on pauses it, waits for a fax that is
// arriving, and resumes it whatever the outcome.
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QRegularExpression>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <vector>

#include "support/ptymodem.h"
#include "faximage/mhcoder.h"
#include "faximage/ovffile.h"
#include "faximage/printer/faxprinter.h"
#include "transport/fax/faxsession.h"
#include "sessions/receivemode.h"
#include "sessions/sendfax.h"
#include "sessions/sessionrules.h"
#include "sessions/sessionhooks.h"
#include "receive_fixture.h"
#include "shell/mainscreen.h"
#include "support/scriptedprompter.h"

namespace telvane::sessiontest {
namespace {

using namespace telvane::sessions;

// Pages of a PDF written by Qt (one "/Type /Page" object each).
int pdfPages(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return -1;
    return static_cast<int>(
        QString::fromLatin1(f.readAll()).count(QRegularExpression(QStringLiteral("/Type\\s*/Page\\b"))));
}

class ReceiveModeTest : public ReceiveWindowTest {
protected:
    QString printTo(TReceiveMode& mode) {
        const QString pdf = qdir() + "receipt.pdf";
        QPrinter& p = mode.ovxFaxPrinter1().qPrinter();
        p.setOutputFormat(QPrinter::PdfFormat);
        p.setOutputFileName(pdf);
        p.setResolution(100);
        return pdf;
    }
};

QStringList withoutDates(QStringList log) {
    for (QString& line : log)
        for (const char* head : {"Start:", "Finish: ", "Stopped receive mode:"})
            if (line.startsWith(QLatin1String(head))) line = QLatin1String(head);
    return log;
}

TEST_F(ReceiveModeTest, StartThatFailsAtThePortIsLoggedAndTheModeStaysOff) {
    app::appSettings().Ports[0] = dir() + "absent";
    main_->ReceiveButtonClick();
    EXPECT_FALSE(main_->receiveMode());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].caption, "Error Opening Communications Port");
    EXPECT_FALSE(errors[0].waitForUser);
    EXPECT_TRUE(errors[0].text.startsWith("Unable to open the specified communications port ( Com1 )"));
    EXPECT_TRUE(errors[0].text.endsWith(portCheckAdvice(1, true)));
    const QStringList log = withoutDates(readLines(qdir() + "Lastrec.log"));
    ASSERT_EQ(log.size(), 8) << log.join('|').toStdString();
    EXPECT_EQ(log.mid(0, 4), (QStringList{"Start:", "Opening com port: COM1", "Error opening com port: COM1",
                                          "Message:Unable to open the specified communications port ( Com1 )"}));
    // The message's second line (the missing device), then the two saves around "Error...".
    EXPECT_EQ(log.mid(5), (QStringList{"Finish: ", "Error...", "Finish: "}));
    EXPECT_FALSE(TReceiveMode::of(*main_).StartingFaxForm->isVisible());
    EXPECT_EQ(main_->ReceiveButton()->text(), "&Receive");
}

TEST_F(ReceiveModeTest, SilentModemAndUnansweredResetStringAbortTheStart) {
    FakeModem silent(dir() + "modem", [](const std::string&) { return std::string(); });
    app::appSettings().Ports[0] = silent.path();
    main_->ReceiveButtonClick();
    EXPECT_FALSE(main_->receiveMode());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].caption, "No Response From Modem");
    EXPECT_TRUE(errors[0].withContinue);
    EXPECT_FALSE(errors[0].waitForUser);
    EXPECT_EQ(errors[0].text, noModemResponseText(1, true));
    EXPECT_EQ(withoutDates(readLines(qdir() + "Lastrec.log")),
              (QStringList{"Start:", "Opening com port: COM1", "Opened com port OK", "Checking for modem",
                           "Error checking for modem", "Exit", "Finish: ", "Error...", "Finish: "}));

    // Continue: the reset string "Z" goes out as "ATZ", is not answered, and the start ends.
    errorAnswers = {-99};
    app::appSettings().Resetting.String = "Z";
    main_->ReceiveButtonClick();
    EXPECT_FALSE(main_->receiveMode());
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[2].caption, "Unable to Continue");
    EXPECT_EQ(errors[2].text, resetStringFailureText("ATZ", 1, true));
    EXPECT_EQ(withoutDates(readLines(qdir() + "Lastrec.log")),
              (QStringList{"Start:", "Opening com port: COM1", "Opened com port OK", "Checking for modem",
                           "Error checking for modem", "Sending reset string: Z", "Failure sending reset string: ATZ",
                           "Exiting...", "Finish: ", "Error...", "Finish: "}));
    EXPECT_EQ(app::appSettings().Resetting.String, "ATZ");
    EXPECT_FALSE(TReceiveMode::of(*main_).OvxComPort1.Open());
}

TEST_F(ReceiveModeTest, StartAndStopSetThePortAndEngineAndLogTheRun) {
    FakeModem modem(dir() + "modem", FakeModem::standardReply);
    settings::Settings& s = app::appSettings();
    s.Ports[1] = modem.path();
    s.Modem.ComPort = 1;
    s.Modem.FaxClassReceive = 1;
    s.Modem.MaximumBPSReceive = 9600;
    s.Modem.InitStringReceive = "&K3";
    s.Other.GlobalLargerReceiveBuffer = true;
    s.Receive.DisableReceivingFaxesNotification = true;
    TReceiveMode& mode = TReceiveMode::of(*main_);
    main_->ReceiveButtonClick();
    ASSERT_TRUE(main_->receiveMode()) << (errors.empty() ? "" : errors[0].text.toStdString());
    EXPECT_EQ(main_->ReceiveButton()->text(), "STOP");
    EXPECT_EQ(mode.OvxComPort1.ComNumber(), 2);
    EXPECT_EQ(mode.OvxComPort1.InSize(), 16384u);
    EXPECT_EQ(mode.OvxComPort1.BufferFull(), 14745u);
    EXPECT_EQ(mode.OvxComPort1.BufferResume(), 1638u);
    EXPECT_EQ(mode.OvxReceiveFax1.ModemInit(), "AT&K3");
    EXPECT_EQ(mode.OvxReceiveFax1.FaxClass(), telvane::transport::fcClass1);
    EXPECT_FALSE(mode.StartingFaxForm->isVisible());

    main_->ReceiveButtonClick();
    EXPECT_FALSE(main_->receiveMode());
    EXPECT_FALSE(mode.OvxComPort1.Open());
    EXPECT_EQ(main_->ReceiveButton()->text(), "&Receive");
    // Without an after-session reset string the engine's hang-up is the last thing the modem got.
    // The modem reads the port on its own thread: give it time to see what was written last.
    const auto lastCommandIs = [&](const std::string& cmd) {
        return waitUntil([&] { return !modem.commands().empty() && modem.commands().back() == cmd; }, 10);
    };
    EXPECT_TRUE(lastCommandIs("ATH")) << (modem.commands().empty() ? "" : modem.commands().back());
    EXPECT_EQ(withoutDates(readLines(qdir() + "Lastrec.log")),
              (QStringList{"Start:", "Opening com port: COM2", "Opened com port OK", "Checking for modem",
                           "Desired BPS: 9600", "Fax Class: Class 1", "User INIT String: &K3", "StartReceive",
                           "Stopped receive mode:", "Finish: "}));

    // With one, it follows the engine's hang-up, "AT" put in front. This run shows the notice
    // window, ready, whose check box switches the notice off for the next runs.
    s.Resetting.AfterString = "Z";
    s.Receive.DisableReceivingFaxesNotification = false;
    main_->ReceiveButtonClick();
    ASSERT_TRUE(main_->receiveMode());
    TStartingFaxForm* notice = mode.StartingFaxForm;
    EXPECT_TRUE(notice->isVisible());
    EXPECT_TRUE(notice->ReadyPanel->isVisible());
    EXPECT_FALSE(notice->StartingPanel->isVisible());
    EXPECT_TRUE(notice->Timer1->isActive());
    EXPECT_EQ(notice->Timer1->interval(), 15000);
    notice->DontShowCheck->click();
    EXPECT_TRUE(s.Receive.DisableReceivingFaxesNotification);
    notice->OkButton->click();
    EXPECT_FALSE(notice->isVisible());
    EXPECT_FALSE(notice->Timer1->isActive());
    main_->ReceiveButtonClick();
    EXPECT_FALSE(main_->receiveMode());
    EXPECT_TRUE(lastCommandIs("ATZ")) << [&] {
        std::string a;
        for (auto& c : modem.commands()) a += c + "|";
        return a;
    }();
    EXPECT_EQ(s.Resetting.AfterString, "ATZ");
}

// Receive mode with Class 1 set on a Class 2-only modem: the engine cannot start. Receive mode
// used to stay on with nothing answering calls and nothing said; it is switched off, and the
// message names the class and points to Check Fax Class.
TEST_F(ReceiveModeTest, AFaxClassTheModemRefusesPointsToCheckFaxClass) {
    FakeModem modem(dir() + "modem", [](const std::string& command) {
        if (command == "AT+FCLASS=1") return std::string("\r\nERROR\r\n");
        return FakeModem::standardReply(command);
    });
    settings::Settings& s = app::appSettings();
    s.Ports[0] = modem.path();
    s.Modem.ComPort = 0;
    s.Modem.FaxClassReceive = 1;
    s.Receive.DisableReceivingFaxesNotification = true;
    main_->ReceiveButtonClick();
    ASSERT_TRUE(waitUntil([&] { return !errors.empty(); }, 30))
        << readLines(qdir() + "Lastrec.log").join('|').toStdString();
    EXPECT_EQ(errors[0].caption, "Receive Mode Stopped");
    EXPECT_TRUE(errors[0].text.contains("Error while initializing modem")) << errors[0].text.toStdString();
    EXPECT_TRUE(
        errors[0].text.contains("did not accept Class 1, the fax class set in Preferences. Click Check Fax "
                                "Class"))
        << errors[0].text.toStdString();
    EXPECT_FALSE(main_->receiveMode());
    EXPECT_EQ(main_->ReceiveButton()->text(), "&Receive");
    EXPECT_FALSE(TReceiveMode::of(*main_).OvxComPort1.Open());
    if (main_->receiveMode()) main_->ReceiveButtonClick();
}

// Viewing a fax while receive mode waits for calls: the command's own status text goes, receive
// mode's text comes back (the status line used to stay empty until the next call).
TEST_F(ReceiveModeTest, StatusLineShowsReceiveModeAgainAfterViewingAFax) {
    FakeModem modem(dir() + "modem", FakeModem::standardReply);
    settings::Settings& s = app::appSettings();
    s.Ports[0] = modem.path();
    s.Modem.ComPort = 0;
    s.Modem.FaxClassReceive = 1;
    s.Receive.DisableReceivingFaxesNotification = true;
    TReceiveMode& mode = TReceiveMode::of(*main_);
    receive(mode, "FAX0001.OVF", "FAR END", 1);
    main_->ReceiveButtonClick();
    ASSERT_TRUE(main_->receiveMode()) << (errors.empty() ? "" : errors[0].text.toStdString());
    ASSERT_TRUE(waitUntil([&] { return !main_->statusText().isEmpty(); }, 20));
    const QString waiting = main_->statusText();
    main_->selectPage(1);
    bool viewed = false;
    whenModal<QDialog>([&viewed](QDialog* viewer) {
        viewed = true;
        viewer->reject();
    });
    main_->viewFaxButtonClick();
    EXPECT_TRUE(viewed);
    EXPECT_EQ(main_->statusText(), waiting);
    main_->ReceiveButtonClick();
    EXPECT_FALSE(main_->receiveMode());
    EXPECT_TRUE(main_->statusText().isEmpty()) << main_->statusText().toStdString();
}

TEST_F(ReceiveModeTest, NoticeWindowExistsHiddenFromTheStart) {
    const auto forms = main_->findChildren<TStartingFaxForm*>();
    ASSERT_EQ(forms.size(), 1);
    EXPECT_FALSE(forms[0]->isVisible());
    EXPECT_EQ(forms[0]->windowTitle(), "Starting Receive mode...");
    // The receive mode used later is the one made at start.
    EXPECT_EQ(TReceiveMode::of(*main_).StartingFaxForm, forms[0]);
    EXPECT_EQ(main_->findChildren<TReceiveMode*>().size(), 1);
}

TEST_F(ReceiveModeTest, ReceivedFaxIsStoredAndPrintedOnTheCurrentPrinterWhenTheNamedOneIsMissing) {
    settings::Settings& s = app::appSettings();
    s.Receive.PrintOnReceipt = true;
    s.Receive.PrintOnReceiptPrinter = "Telvane Test Printer That Is Not Installed";
    TReceiveMode& mode = TReceiveMode::of(*main_);
    const QString pdf = printTo(mode);
    const QString current = mode.ovxFaxPrinter1().qPrinter().printerName();
    receive(mode, "FAX0001.OVF", "ACME FAX", 3);

    ASSERT_EQ(main_->RecTable().visibleCount(), 1u);
    main_->RecTable().first();
    const records::Row row = main_->RecTable().currentRow();
    EXPECT_EQ(row.text("FROM"), "ACME FAX");
    EXPECT_EQ(row.integer("PAGES"), 3);
    EXPECT_EQ(row.text("FAXFILE"), "FAX0001.OVF");
    EXPECT_FALSE(main_->faxArriving());

    // The print job runs once the engine's event has returned.
    ASSERT_TRUE(waitUntil([&] { return pdfPages(pdf) == 3; }, 30)) << pdfPages(pdf);
    EXPECT_EQ(mode.ovxFaxPrinter1().FileName(), qdir() + "receive/FAX0001.OVF");
    EXPECT_EQ(mode.ovxFaxPrinter1().qPrinter().printerName(), current);
    EXPECT_EQ(mode.ovxFaxPrinter1().qPrinter().outputFormat(), QPrinter::PdfFormat);
    EXPECT_FALSE(mode.ovxFaxPrinter1().FaxHeader.Enabled);
    EXPECT_FALSE(mode.ovxFaxPrinter1().FaxFooter.Enabled);
}

TEST_F(ReceiveModeTest, PrinterIsLookedUpByExactNameOrIsTheSystemDefault) {
    settings::Settings& s = app::appSettings();
    s.Receive.PrintOnReceipt = true;
    TReceiveMode& mode = TReceiveMode::of(*main_);
    printTo(mode);
    mode.Printers = [] { return TReceiveMode::PrinterCatalogue{{"Office Laser", "Front Desk"}, "Front Desk"}; };
    QStringList requested, files;
    QObject::connect(&mode, &TReceiveMode::printRequested, [&](const QString& file, const QString& printer) {
        files << QFileInfo(file).fileName();
        requested << printer;
    });
    const std::vector<std::pair<std::string, QString>> cases = {
        {"Office Laser", "Office Laser"}, {"Default Windows Printer", "Front Desk"}, {"office laser", ""}};
    int n = 0;
    for (const auto& [setting, expected] : cases) {
        s.Receive.PrintOnReceiptPrinter = setting;
        const QString name = QStringLiteral("FAX%1.OVF").arg(++n, 4, 10, QLatin1Char('0'));
        receive(mode, name, "ACME", 1);
        ASSERT_TRUE(waitUntil([&] { return requested.size() == n; }, 30)) << setting;
        EXPECT_EQ(requested.last(), expected) << setting;
        EXPECT_EQ(files.last(), name);
    }
}

// Without a usable printer every received fax is still stored; the reason goes to the receive
// log for each fax and is shown once, naming the printer, instead of nothing at all.
TEST_F(ReceiveModeTest, NoUsablePrinterIsLoggedPerFaxAndShownOnce) {
    settings::Settings& s = app::appSettings();
    s.Receive.PrintOnReceipt = true;
    s.Receive.PrintOnReceiptPrinter = "Default Windows Printer";
    TReceiveMode& mode = TReceiveMode::of(*main_);
    QPrinter& p = mode.ovxFaxPrinter1().qPrinter();
    p.setOutputFormat(QPrinter::PdfFormat);
    p.setOutputFileName(QString());  // what Qt gives when the system has no printer
    mode.Printers = [] { return TReceiveMode::PrinterCatalogue{}; };
    int requested = 0;
    QObject::connect(&mode, &TReceiveMode::printRequested, [&] { ++requested; });
    receive(mode, "FAX0001.OVF", "ACME", 1);
    ASSERT_TRUE(waitUntil([&] { return requested == 1; }, 30));
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    receive(mode, "FAX0002.OVF", "ACME", 1);
    ASSERT_TRUE(waitUntil([&] { return requested == 2; }, 30));
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();

    EXPECT_EQ(main_->RecTable().visibleCount(), 2u);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].caption, "Printing Failed");
    EXPECT_TRUE(errors[0].text.contains("no printer is set up on this computer")) << errors[0].text.toStdString();
    EXPECT_TRUE(errors[0].text.startsWith("Printing on ")) << errors[0].text.toStdString();
    EXPECT_FALSE(errors[0].waitForUser);  // closes itself in an unattended program
    const QStringList lines = mode.receiveLog().lines().filter("Print on receipt of ");
    ASSERT_EQ(lines.size(), 2) << mode.receiveLog().lines().join('|').toStdString();
    EXPECT_TRUE(lines[0].startsWith("Print on receipt of FAX0001.OVF: Printing on ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("Print on receipt of FAX0002.OVF: ")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains("no printer is set up")) << lines[1].toStdString();
}

// A reception the user stopped (Stop, the status window's Cancel, or closing the program) is
// logged as cancelled and shows no "Failed To Receive" box that would have to be dismissed; a
// real failure still does.
TEST_F(ReceiveModeTest, AUsersCancelDuringAReceptionIsNotReportedAsAFailure) {
    TReceiveMode& mode = TReceiveMode::of(*main_);
    bool accept = false;
    mode.OvxReceiveFax1FaxAccept(accept);
    mode.OvxReceiveFax1FaxError(telvane::errors::ecCancelRequested);
    mode.OvxReceiveFax1FaxLog(telvane::transport::lfaxReceiveFail);
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    EXPECT_TRUE(errors.empty()) << errors[0].text.toStdString();
    EXPECT_FALSE(main_->faxArriving());
    EXPECT_TRUE(mode.receiveLog().lines().contains("Reception cancelled by the user"));

    mode.OvxReceiveFax1FaxAccept(accept);
    mode.OvxReceiveFax1FaxError(-6006);
    mode.OvxReceiveFax1FaxLog(telvane::transport::lfaxReceiveFail);
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].caption, "Failed To Receive Incoming Fax");
}

// A call that ended after page 2 of a longer fax was confirmed: the engine keeps those pages
// and reports the fax received in part. It is listed with the pages kept, its file stays, and
// the receive log marks it incomplete with the reason; no "Failed To Receive" box.
TEST_F(ReceiveModeTest, FaxCutShortIsKeptWithItsConfirmedPagesAndMarkedIncomplete) {
    TReceiveMode& mode = TReceiveMode::of(*main_);
    bool accept = false;
    mode.OvxReceiveFax1FaxAccept(accept);
    const QString file = qdir() + "receive/FAX0001.OVF";
    ASSERT_TRUE(writeFax(file, 2));
    mode.OvxReceiveFax1.SetFaxFile(file.toStdString());
    mode.OvxReceiveFax1.setRemoteID("ACME FAX");
    mode.OvxReceiveFax1FaxLog(telvane::transport::lfaxReceiveStart);
    mode.OvxReceiveFax1.setPageInfo(3, 3);  // page 3 was arriving
    mode.OvxReceiveFax1.setPagesConfirmed(2);
    mode.OvxReceiveFax1FaxError(-6006);
    mode.OvxReceiveFax1FaxLog(telvane::transport::lfaxReceivePartial);
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();

    ASSERT_EQ(main_->RecTable().visibleCount(), 1u);
    main_->RecTable().first();
    const records::Row row = main_->RecTable().currentRow();
    EXPECT_EQ(row.text("FROM"), "ACME FAX");
    EXPECT_EQ(row.integer("PAGES"), 2);
    EXPECT_EQ(row.text("FAXFILE"), "FAX0001.OVF");
    EXPECT_TRUE(QFileInfo::exists(file));
    EXPECT_FALSE(main_->faxArriving());
    EXPECT_TRUE(errors.empty());
    const QStringList notes =
        mode.receiveLog().lines().filter("Incomplete fax FAX0001.OVF from ACME FAX: 2 pages kept (");
    EXPECT_EQ(notes.size(), 1) << mode.receiveLog().lines().join('|').toStdString();
}

// A fax longer than the log's two-digit page count is still logged (with 99), whole or cut short;
// before, storing its record failed and the fax was in the folder but in no log.
TEST_F(ReceiveModeTest, FaxOfMoreThan99PagesIsLogged) {
    TReceiveMode& mode = TReceiveMode::of(*main_);
    for (const bool incomplete : {false, true}) {
        SCOPED_TRACE(incomplete ? "cut short" : "whole");
        bool accept = false;
        mode.OvxReceiveFax1FaxAccept(accept);
        const QString file = qdir() + (incomplete ? "receive/FAX0002.OVF" : "receive/FAX0001.OVF");
        ASSERT_TRUE(writeFax(file, 2));
        mode.OvxReceiveFax1.SetFaxFile(file.toStdString());
        mode.OvxReceiveFax1.setRemoteID("LONG FAX");
        mode.OvxReceiveFax1FaxLog(telvane::transport::lfaxReceiveStart);
        mode.OvxReceiveFax1.setPageInfo(120, 120);
        mode.OvxReceiveFax1.setPagesConfirmed(incomplete ? 119 : 120);
        if (incomplete) mode.OvxReceiveFax1FaxError(-6006);
        mode.OvxReceiveFax1FaxLog(incomplete ? telvane::transport::lfaxReceivePartial
                                             : telvane::transport::lfaxReceiveOk);
        for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    }
    ASSERT_EQ(main_->RecTable().visibleCount(), 2u);
    for (main_->RecTable().first(); !main_->RecTable().eof(); main_->RecTable().next())
        EXPECT_EQ(main_->RecTable().currentRow().integer("PAGES"), 99);
}

// A fax received with 2-D coding or error correction names them in the receive log, with the
// lines lost where a block was given up; a plain MH fax adds no such line.
TEST_F(ReceiveModeTest, ReceiveLogNamesTheCodingErrorCorrectionAndDamagedLines) {
    using telvane::faximage::FaxCoding;
    TReceiveMode& mode = TReceiveMode::of(*main_);
    struct Case {
        FaxCoding coding;
        bool ecm;
        long damaged;      // added to the session's count before this fax
        const char* line;  // the "Coding:" line expected, or none
    };
    // The session's damaged-line count only grows: the case with damage comes last.
    const Case cases[] = {{FaxCoding::MH, false, 0, nullptr},
                          {FaxCoding::MR, false, 0, "Coding: MR"},
                          {FaxCoding::MH, true, 0, "Coding: MH, ECM"},
                          {FaxCoding::MMR, true, 0, "Coding: MMR, ECM"},
                          {FaxCoding::MMR, true, 12, "Coding: MMR, ECM, 12 lines damaged"}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line ? c.line : "MH");
        const int before = mode.receiveLog().lines().size();
        mode.OvxReceiveFax1.setConnection(14400, false, false, c.ecm, c.coding);
        mode.OvxReceiveFax1.addDamagedLines(c.damaged);
        receive(mode, QStringLiteral("FAX%1.OVF").arg(++n, 4, 10, QLatin1Char('0')), "ACME FAX", 1);
        const QStringList added = mode.receiveLog().lines().mid(before);
        const QStringList coding = added.filter(QStringLiteral("Coding:"));
        if (c.line)
            EXPECT_EQ(coding, QStringList{QString::fromLatin1(c.line)}) << added.join('|').toStdString();
        else
            EXPECT_TRUE(coding.isEmpty()) << added.join('|').toStdString();
    }
    EXPECT_EQ(main_->RecTable().visibleCount(), std::size(cases));
}

TEST_F(ReceiveModeTest, ClosingWhileAFaxArrivesAsksFirst) {
    TReceiveMode& mode = TReceiveMode::of(*main_);
    bool accept = false;
    mode.OvxReceiveFax1FaxAccept(accept);
    EXPECT_TRUE(accept);
    ASSERT_TRUE(main_->faxArriving());
    prompts().answers = {false};
    EXPECT_FALSE(main_->close());
    ASSERT_EQ(prompts().count(PromptRecord::YesNo), 1);
    EXPECT_EQ(prompts().records.back().text, "You are receiving a fax. Exit the program?");
    EXPECT_EQ(prompts().records.back().caption, "Exit");
    // The end of that session (the last status event) lets the window close without a question.
    mode.OvxReceiveFax1FaxStatus(false, true);
    EXPECT_FALSE(main_->faxArriving());
    EXPECT_TRUE(main_->close());
    EXPECT_EQ(prompts().count(PromptRecord::YesNo), 1);
}

TEST_F(ReceiveModeTest, NothingIsPrintedWhenPrintOnReceiptIsOff) {
    app::appSettings().Receive.PrintOnReceipt = false;
    TReceiveMode& mode = TReceiveMode::of(*main_);
    const QString pdf = printTo(mode);
    bool requested = false;
    QObject::connect(&mode, &TReceiveMode::printRequested, [&] { requested = true; });
    receive(mode, "FAX0001.OVF", "", 1);
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    ASSERT_EQ(main_->RecTable().visibleCount(), 1u);
    // A caller without a station ID leaves FROM empty.
    main_->RecTable().first();
    EXPECT_EQ(main_->RecTable().currentRow().text("FROM"), "");
    EXPECT_EQ(main_->RecTable().currentRow().integer("PAGES"), 1);
    EXPECT_FALSE(requested);
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_TRUE(mode.ovxFaxPrinter1().FileName().isEmpty());
}

// One modem for both directions, scripted: receive mode waits for calls, every dial is refused.
class SendWhileReceivingTest : public ReceiveModeTest {
protected:
    void SetUp() override {
        ReceiveModeTest::SetUp();
        modem_ = std::make_unique<FakeModem>(dir() + "modem", [](const std::string& command) {
            if (command.rfind("ATD", 0) == 0) return std::string("\r\nERROR\r\n");
            if (command == "AT+FTM=?" || command == "AT+FRM=?") return std::string("\r\n24,48,72,96\r\n\r\nOK\r\n");
            return FakeModem::standardReply(command);
        });
        settings::Settings& s = app::appSettings();
        s.Ports[0] = modem_->path();
        s.Modem.FaxClass = 1;
        s.Modem.FaxClassReceive = 1;
        s.Dialing.DialAttempts = 1;
        s.Receive.DisableReceivingFaxesNotification = true;
        form_ = std::make_unique<TSendFaxForm>(main_.get());
        form_->FaxFileName = qdir() + "out.ovf";
        ASSERT_TRUE(writeFax(form_->FaxFileName, 1));
        form_->InitialPhone = "5550100";
        form_->Line = receiveModeLine(*main_);
        main_->ReceiveButtonClick();
        ASSERT_TRUE(main_->receiveMode());
        ASSERT_TRUE(mode().OvxComPort1.Open());
        form_->show();
    }
    void TearDown() override {
        form_.reset();
        if (main_->receiveMode()) main_->ReceiveButtonClick();
        modem_.reset();
        ReceiveModeTest::TearDown();
    }
    TReceiveMode& mode() { return TReceiveMode::of(*main_); }
    // Index of the first command at or after `from` that starts with `head`; -1 when none does.
    long commandIndex(const std::string& head, size_t from = 0) const {
        const std::vector<std::string> all = modem_->commands();
        for (size_t i = from; i < all.size(); ++i)
            if (all[i].rfind(head, 0) == 0) return static_cast<long>(i);
        return -1;
    }
    std::string commandTrail() const {
        std::string a;
        for (const std::string& c : modem_->commands()) a += c + "|";
        return a;
    }
    bool attemptEnded() {
        return waitUntil([this] { return !form_->SessionBusy && !form_->ResultText.isEmpty(); }, 60);
    }

    std::unique_ptr<FakeModem> modem_;
    std::unique_ptr<TSendFaxForm> form_;
};

// Send Fax Now ends the session that waits for calls and closes its port before the send opens
// it (the port is exclusive), says so in the status line, and once the attempt has failed opens
// the port again and waits for calls; nothing was answered meanwhile.
TEST_F(SendWhileReceivingTest, SendPausesReceiveModeAndResumesItAfterAFailedAttempt) {
    struct {
        bool receivePortOpen = true, paused = false;
        QString status;
    } during;
    form_->OnAttemptStarted = [&] { during = {mode().OvxComPort1.Open(), mode().paused(), main_->statusText()}; };
    const size_t before = modem_->commands().size();
    form_->SendFaxButton->click();
    ASSERT_TRUE(attemptEnded()) << commandTrail();

    EXPECT_FALSE(during.receivePortOpen);
    EXPECT_TRUE(during.paused);
    EXPECT_EQ(during.status, TReceiveMode::kPausedForSending);
    EXPECT_EQ(form_->ResultText, form_->ResultText.trimmed());
    EXPECT_NE(form_->ResultText, "Sent");
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().caption, "Fax Failure");

    EXPECT_TRUE(main_->receiveMode());
    EXPECT_FALSE(mode().paused());
    EXPECT_TRUE(mode().OvxComPort1.Open());
    EXPECT_TRUE(mode().OvxReceiveFax1.inProgress());
    const long dial = commandIndex("ATD", before);
    ASSERT_GE(dial, 0) << commandTrail();
    // The receive session set the modem up again after the dial.
    EXPECT_TRUE(waitUntil([&] { return commandIndex("AT", static_cast<size_t>(dial) + 1) >= 0; }, 10))
        << commandTrail();
    EXPECT_LT(commandIndex("ATA"), 0) << commandTrail();
    const QStringList log = mode().receiveLog().lines();
    const auto at = [&](const QString& head) {
        for (int i = 0; i < log.size(); ++i)
            if (log[i].startsWith(head)) return i;
        return -1;
    };
    EXPECT_GE(at("Paused for sending:"), 0) << log.join('|').toStdString();
    EXPECT_GT(at("Resuming after sending:"), at("Paused for sending:"));
    EXPECT_EQ(log.back(), "StartReceive");
}

// A fax that is arriving when Send Fax Now is pressed is received first: the send waits (the
// receive port stays open, nothing is dialled), then goes out and receive mode resumes. Close
// while a send waits takes it back and leaves receive mode as it was.
TEST_F(SendWhileReceivingTest, AFaxArrivingIsReceivedBeforeTheQueuedSendGoesOut) {
    bool accept = false;
    mode().OvxReceiveFax1FaxAccept(accept);
    ASSERT_TRUE(main_->faxArriving());
    size_t incomingWhenDialling = 99;
    form_->OnAttemptStarted = [&] { incomingWhenDialling = main_->RecTable().visibleCount(); };
    form_->SendFaxButton->click();
    EXPECT_TRUE(form_->waitingForLine());
    EXPECT_TRUE(form_->SessionBusy);
    EXPECT_TRUE(form_->status->text().contains("arriving")) << form_->status->text().toStdString();
    for (int i = 0; i < 40; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(form_->waitingForLine());
    EXPECT_TRUE(mode().OvxComPort1.Open());
    EXPECT_FALSE(mode().paused());
    EXPECT_LT(commandIndex("ATD"), 0) << commandTrail();

    receive(mode(), "FAX0001.OVF", "CALLER", 1);
    ASSERT_TRUE(attemptEnded()) << commandTrail();
    EXPECT_EQ(incomingWhenDialling, 1u);
    EXPECT_GE(commandIndex("ATD"), 0) << commandTrail();
    EXPECT_TRUE(mode().OvxComPort1.Open());
    EXPECT_TRUE(main_->receiveMode());

    // Close while waiting: nothing dialled, nothing paused.
    const size_t dialled = modem_->commands().size();
    mode().OvxReceiveFax1FaxAccept(accept);
    form_->ResultText.clear();
    form_->SendFaxButton->click();
    ASSERT_TRUE(form_->waitingForLine());
    form_->CloseButton->click();
    EXPECT_FALSE(form_->isVisible());
    EXPECT_FALSE(form_->waitingForLine());
    EXPECT_FALSE(form_->SessionBusy);
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_LT(commandIndex("ATD", dialled), 0) << commandTrail();
    EXPECT_TRUE(mode().OvxComPort1.Open());
    EXPECT_FALSE(mode().paused());
}

}  // namespace
}  // namespace telvane::sessiontest
