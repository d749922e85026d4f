// The session windows offscreen: the error dialog and its one-at-a-time rule, the status window's
// texts and connection fields, the send dialog's refusals and failure paths with their log lines
// against a scripted modem, the find-modem scan and the fax-class check (once per opening), and
// the quick set-up.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QSet>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWindow>
#include <QRadioButton>
#include <QScreen>

#include "support/ptymodem.h"
#include <QButtonGroup>

#include "sessions/faxwindows.h"
#include "sessions/modemcommands.h"
#include "sessions/modemsetup.h"
#include "sessions/sendfax.h"
#include "sessions/systemlists.h"
#include "sessions_fixture.h"
#include "settings/inifile.h"
#include "settings/settings.h"
#include "support/keyboard.h"
#include "support/scriptedprompter.h"

namespace telvane::sessiontest {
namespace {

using namespace telvane::sessions;

class ErrorDialogTest : public SessionsTest {
protected:
    void SetUp() override {
        SessionsTest::SetUp();
        setErrorDialogInterceptor(nullptr);
    }
};

TEST_F(ErrorDialogTest, ContinueOkAndSelfClosingTimer) {
    whenModal<TShowErrorForm>([](TShowErrorForm* f) {
        EXPECT_EQ(f->windowTitle(), "No Response From Modem");
        EXPECT_TRUE(f->ContinueButton->isVisible());
        EXPECT_FALSE(f->Timer1->isActive());
        f->ContinueButton->click();
    });
    EXPECT_TRUE(ShowErrorWithContinue("No Response From Modem", "text", true));

    whenModal<TShowErrorForm>([](TShowErrorForm* f) { f->BitBtn1->click(); });
    EXPECT_FALSE(ShowErrorWithContinue("c", "text", true));

    // Not waiting for the user: the timer runs, and when it fires the dialog ends as "Ok".
    whenModal<TShowErrorForm>([](TShowErrorForm* f) {
        EXPECT_TRUE(f->Timer1->isActive());
        EXPECT_EQ(f->Timer1->interval(), 30000);
        EXPECT_FALSE(f->ContinueButton->isVisible());
        f->Timer1Timer();
    });
    ShowErrorMessage("c", "t", false);
    EXPECT_FALSE(errorDialogShowing());
}

TEST_F(ErrorDialogTest, SecondDialogIsDroppedAndEveryLineFits) {
    bool inner = true;
    int oneLineHeight = 0;
    whenModal<TShowErrorForm>([&](TShowErrorForm* f) {
        oneLineHeight = f->height();
        f->BitBtn1->click();
    });
    ShowErrorMessage("c", "one line", true);
    whenModal<TShowErrorForm>([&](TShowErrorForm* f) {
        EXPECT_TRUE(errorDialogShowing());
        inner = ShowErrorWithContinue("second", "dropped", true);
        EXPECT_GT(f->height(), oneLineHeight);
        EXPECT_GE(f->Memo1->height(), 13 * QFontMetrics(f->Memo1->font()).height());
        f->BitBtn1->click();
    });
    ShowErrorMessage("c", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n10", true);
    EXPECT_FALSE(inner);

    // A long error text wraps into more lines than it has; all of them show, nothing scrolls.
    const QString longText =
        "We have received an error message while trying to send the fax\r\n\r\nError message: " +
        QString("The remote fax machine ended the call before the page was confirmed ").repeated(6) + "\r\n\r\n";
    whenModal<TShowErrorForm>([&](TShowErrorForm* f) {
        const QFontMetrics fm(f->Memo1->font());
        const QRect text =
            fm.boundingRect(QRect(0, 0, f->Memo1->width() - 8, 10000), Qt::TextWordWrap, f->Memo1->toPlainText());
        EXPECT_GT(text.height(), 10 * fm.height());
        EXPECT_GE(f->Memo1->height(), text.height());
        f->BitBtn1->click();
    });
    ShowErrorMessage("Fax Failure", longText, true);
}

TEST_F(SessionsTest, StatusWindowTextsClockAndBusyCountdown) {
    TStandardFaxDisplay display;
    FaxStatusValues v;
    v.status = telvane::transport::fpDialing;
    v.statusText = "Dialing";
    v.faxFile = "/tmp/abcdefghijklmnopqrstuvwxy";
    v.phoneNumber = "555";
    v.dialAttempt = 0;  // the engine counts the attempts before this one
    v.nowTicks = 1000;
    display.UpdateValues(v);
    EXPECT_EQ(display.fsFaxFileName->text(), "abcdefghijklmnopqrst...");
    EXPECT_EQ(display.fsDialAttempt->text(), "1");
    // Nothing sent yet, and no separate cover file: no "<cover page>".
    EXPECT_EQ(display.fsCurrentPage->text(), "-");
    // One form for the clock, before, during and after the call.
    EXPECT_EQ(display.fsElapsedTime->text(), "  0:00");
    v.coverFile = "/tmp/cover.ovf";
    display.UpdateValues(v);
    EXPECT_EQ(display.fsCurrentPage->text(), "<cover page>");
    v.coverFile.clear();
    v.dialAttempt = 1;

    v.status = telvane::transport::fpBusyWait;
    v.statusText = "Busy, waiting until redial...";
    v.retryWaitSeconds = 60;
    display.UpdateValues(v);
    EXPECT_EQ(display.fsStatusMsg->text(), "Busy, waiting until redial...  1:00");
    v.nowTicks += 200;  // 11 seconds later
    display.UpdateValues(v);
    EXPECT_EQ(display.fsStatusMsg->text(), "Busy, waiting until redial...  0:49");

    v.status = telvane::transport::fpSessionParams;
    v.statusText = "Getting connection params";
    display.UpdateValues(v);
    EXPECT_EQ(display.fsStatusMsg->text(), "Getting connection params");
    v.status = telvane::transport::fpSendPage;
    v.currentPage = 2;
    v.pageLength = 300;
    v.bytesTransferred = 100;
    v.nowTicks += 1182;
    display.UpdateValues(v);
    EXPECT_EQ(display.fsDialAttempt->text(), "2");
    EXPECT_EQ(display.fsElapsedTime->text(), "  1:05");
    EXPECT_EQ(display.fsCurrentPage->text(), "2");
    EXPECT_EQ(display.meter->value(), 33);
    // The end of page 2 of 3 is not the end of the fax. All of the page is with the modem, but it
    // is sent only once the far end confirms it.
    v.totalPages = 3;
    v.status = telvane::transport::fpSendPageStatus;
    v.statusText = "Sending EOP";
    v.bytesTransferred = 240;  // the last count the engine reported during the page
    display.UpdateValues(v);
    EXPECT_EQ(display.fsStatusMsg->text(), "Page 2 of 3 is with the modem, waiting for the far end to confirm it");
    EXPECT_EQ(display.fsCurrentPage->text(), "2 of 3");
    EXPECT_EQ(display.meter->value(), 99);
    v.status = telvane::transport::fpPageOK;
    v.statusText = "Page accepted by remote";
    display.UpdateValues(v);
    EXPECT_EQ(display.fsStatusMsg->text(), "Page 2 of 3 sent, more pages follow");
    EXPECT_EQ(display.meter->value(), 100);
    // Page 3 starts afresh; cancelled after its data but before the far end's answer, it is
    // never shown as sent and the meter stays where the page's data left it.
    v.currentPage = 3;
    v.status = telvane::transport::fpSendPage;
    v.bytesTransferred = 30;
    display.UpdateValues(v);
    EXPECT_EQ(display.meter->value(), 10);
    v.status = telvane::transport::fpSendPageStatus;
    v.bytesTransferred = 225;
    display.UpdateValues(v);
    EXPECT_EQ(display.fsStatusMsg->text(), "Page 3 of 3 is with the modem, waiting for the far end to confirm it");
    EXPECT_EQ(display.meter->value(), 99);
    v.status = telvane::transport::fpCancel;
    v.statusText = "Cancel requested";
    display.UpdateValues(v);
    EXPECT_EQ(display.fsStatusMsg->text(), "Cancel requested");
    EXPECT_EQ(display.meter->value(), 99);
    v.status = telvane::transport::fpFinished;
    v.statusText = "Finished";
    display.UpdateValues(v);
    // The clock stops at the call's length.
    EXPECT_EQ(display.fsElapsedTime->text(), "  1:05");
    v.nowTicks += 500;
    display.UpdateValues(v);
    EXPECT_EQ(display.fsElapsedTime->text(), "  1:05");
}

TEST_F(SessionsTest, StatusWindowShowsTheNegotiatedConnection) {
    TStandardFaxDisplay display;
    telvane::transport::TOvxSendFax fax;
    fax.setProgress(telvane::transport::fpDialing);
    display.UpdateValues(fax);
    // Nothing negotiated yet: the connection fields stay blank.
    for (QLabel* l : {display.fsConnectBPS, display.fsResolution, display.fsWidth, display.fsErrorControl})
        EXPECT_TRUE(l->text().isEmpty()) << l->objectName().toStdString();

    fax.setProgress(telvane::transport::fpSendPage);
    fax.setConnection(14400, true, false, true);
    display.UpdateValues(fax);
    EXPECT_EQ(display.fsConnectBPS->text(), "14400");
    EXPECT_EQ(display.fsResolution->text(), "high");
    EXPECT_EQ(display.fsWidth->text(), "1728");
    EXPECT_EQ(display.fsErrorControl->text(), "on");

    // A renegotiation (fall-back) shows the new values.
    fax.setConnection(7200, false, true, false);
    display.UpdateValues(fax);
    EXPECT_EQ(display.fsConnectBPS->text(), "7200");
    EXPECT_EQ(display.fsResolution->text(), "standard");
    EXPECT_EQ(display.fsWidth->text(), "2048");
    EXPECT_EQ(display.fsErrorControl->text(), "off");

    // 2-D coded page data names its coding, and error control when it is on.
    fax.setConnection(14400, true, false, true, telvane::faximage::FaxCoding::MMR);
    display.UpdateValues(fax);
    EXPECT_EQ(display.fsErrorControl->text(), "MMR, ECM");
    fax.setConnection(9600, true, false, false, telvane::faximage::FaxCoding::MR);
    display.UpdateValues(fax);
    EXPECT_EQ(display.fsErrorControl->text(), "MR");
}

TEST_F(SessionsTest, StatusWindowShowsWhatTheRemoteSendsAsPlainText) {
    TStandardFaxDisplay display;
    FaxStatusValues v;
    v.status = telvane::transport::fpGotRemoteID;
    v.remoteId = QStringLiteral("<img src=x><b>1</b>");
    display.UpdateValues(v);
    EXPECT_EQ(display.fsRemoteID->text(), v.remoteId);
    // Rich text would lay the markup out as a picture and bold text instead of showing it.
    for (QLabel* l : display.findChildren<QLabel*>()) {
        if (l->objectName().startsWith(QStringLiteral("fs"))) {
            EXPECT_EQ(l->textFormat(), Qt::PlainText) << l->objectName().toStdString();
        }
    }
    const QFontMetrics fm(display.fsRemoteID->font());
    display.fsRemoteID->adjustSize();
    EXPECT_GE(display.fsRemoteID->sizeHint().width(), fm.horizontalAdvance(v.remoteId));
}

// Esc and the title bar's close button never hide a running session: they ask whether to cancel
// the fax (No keeps the window and the call, Yes cancels); once the session has ended they close.
TEST_F(SessionsTest, ClosingTheStatusWindowDuringASessionAsksWhetherToCancel) {
    TStandardFaxDisplay display;
    telvane::transport::TOvxSendFax fax;
    fax.setProgress(telvane::transport::fpDialing);
    display.updateDisplay(fax, true, false);
    ASSERT_TRUE(display.isVisible());
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);

    prompts().answers = {false, false};
    QApplication::sendEvent(&display, &esc);
    display.close();
    EXPECT_TRUE(display.isVisible());
    EXPECT_FALSE(fax.cancelRequested());
    ASSERT_EQ(prompts().records.size(), 2);
    for (const PromptRecord& r : prompts().records) {
        EXPECT_EQ(r.kind, PromptRecord::YesNoDefaultNo);
        EXPECT_TRUE(r.text.endsWith("Cancel sending this fax?")) << r.text.toStdString();
    }

    prompts().answers = {true};
    display.close();
    EXPECT_TRUE(fax.cancelRequested());
    EXPECT_TRUE(display.isVisible());  // it shows the cancelling until the session ends

    display.updateDisplay(fax, false, true);
    EXPECT_FALSE(display.isVisible());
    display.show();
    QApplication::sendEvent(&display, &esc);
    EXPECT_FALSE(display.isVisible());
    EXPECT_EQ(prompts().records.size(), 3);
}

class SendDialogTest : public SessionsTest {
protected:
    QStringList sendLog() { return readLines(qdir() + "Lastsend.log"); }
    // Class 1 through the scripted modem, one dial attempt; `form` sends a one-page fax to `number`.
    void prepareSend(const FakeModem& modem, TSendFaxForm& form, const QString& number) {
        settings::Settings& s = app::appSettings();
        s.Ports[0] = modem.path();
        s.Modem.FaxClass = 1;
        s.Dialing.DialAttempts = 1;
        form.FaxFileName = qdir() + "out.ovf";
        ASSERT_TRUE(writeFax(form.FaxFileName, 1));
        form.InitialPhone = number;
    }
};

TEST_F(SendDialogTest, BlankNumberIsRefusedAndMemoShowsTheSetup) {
    settings::Settings& s = app::appSettings();
    s.Modem.ComPort = 2;
    s.Modem.FaxClass = 0;
    s.Dialing.BlindDial = true;
    s.Dialing.ECM = true;
    s.Dialing.RetryWait = 30;
    TSendFaxForm form;
    form.InitialPhone = "  \t ";
    form.show();
    EXPECT_EQ(form.sfPhoneNumber->text(), "  \t ");
    const QStringList memo = form.SetupDisplayMemo->toPlainText().split('\n');
    EXPECT_EQ(memo.value(0), "Communications Port: COM3");
    EXPECT_EQ(memo.value(1), "Fax Class: Autodetect");
    EXPECT_EQ(memo.value(9), "Retry in :30 seconds");
    EXPECT_EQ(memo.value(10), "Blind Dial is ACTIVE");
    EXPECT_EQ(memo.value(11), "Using Error Correction");
    form.SendFaxButton->click();
    EXPECT_EQ(prompts().texts(), QStringList{"Phone number is blank"});
    EXPECT_FALSE(form.SessionBusy);
    EXPECT_FALSE(QFile::exists(qdir() + "Lastsend.log"));
}

// Every Alt+letter of the send dialog reaches one control only (prefix and suffix shared &D).
TEST_F(SendDialogTest, EachMnemonicOfTheSendDialogIsUnique) {
    TSendFaxForm form;
    form.show();
    QStringList keys;
    const auto collect = [&keys](const QString& text) {
        const int at = text.indexOf('&');
        if (at >= 0 && at + 1 < text.size()) keys << text.mid(at + 1, 1).toLower();
    };
    for (QLabel* l : form.findChildren<QLabel*>()) collect(l->text());
    for (QAbstractButton* b : form.findChildren<QAbstractButton*>()) collect(b->text());
    EXPECT_GE(keys.size(), 6);
    EXPECT_EQ(keys.size(), QSet<QString>(keys.begin(), keys.end()).size()) << keys.join(' ').toStdString();
}

// The user's own Cancel ends the send as cancelled: no error dialog sending them to a problem
// solver, a plain notice, and "Cancelled" as the result; a real failure still shows the dialog.
TEST_F(SendDialogTest, AUsersCancelIsReportedAsCancelledNotAsAFault) {
    TSendFaxForm form;
    form.InitialPhone = "555";
    form.show();
    form.SessionBusy = true;
    form.OvxSendFax1FaxFinish(telvane::errors::ecCancelRequested);
    EXPECT_TRUE(errors.empty()) << errors[0].text.toStdString();
    EXPECT_EQ(prompts().texts(), QStringList{"Sending was cancelled. The fax was not sent."});
    EXPECT_EQ(form.ResultText, "Cancelled");
    EXPECT_FALSE(form.SessionBusy);
    EXPECT_TRUE(sendLog().contains("Result: Cancel requested")) << sendLog().join('|').toStdString();
    EXPECT_FALSE(sendLog().join('|').contains("Coding:"));  // nothing negotiated

    form.SessionBusy = true;
    form.OvxSendFax1FaxFinish(-6006);  // "Fatal time out"
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].caption, "Fax Failure");
    EXPECT_NE(form.ResultText, "Cancelled");
}

// A number a modem cannot dial is refused before the port is opened, with a message that says
// which characters are wrong.
TEST_F(SendDialogTest, ANumberAModemCannotDialIsRefusedBeforeDialling) {
    TSendFaxForm form;
    form.InitialPhone = "call me maybe!";
    form.show();
    form.SendFaxButton->click();
    ASSERT_EQ(prompts().texts().size(), 1);
    EXPECT_TRUE(prompts().texts()[0].contains("cannot dial")) << prompts().texts()[0].toStdString();
    EXPECT_FALSE(form.SessionBusy);
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(QFile::exists(qdir() + "Lastsend.log"));  // no attempt was started
}

// The modem is given only dialable characters (prefix, number and suffix), and a call it does
// not make ends at once with a message that says so and names the number.
TEST_F(SendDialogTest, TheDialStringHoldsOnlyDialableCharactersAndARefusedCallSaysSo) {
    FakeModem modem(dir() + "modem", [](const std::string& command) {
        // ERROR to the dial: the modem refused the call (NO CARRIER would be "no answer").
        if (command.rfind("ATD", 0) == 0) return std::string("\r\nERROR\r\n");
        if (command == "AT+FTM=?" || command == "AT+FRM=?") return std::string("\r\n24,48,72,96\r\n\r\nOK\r\n");
        return FakeModem::standardReply(command);
    });
    TSendFaxForm form;
    prepareSend(modem, form, "+1 (555) 010-0100");
    form.show();
    form.sfDialPrefix->setText("9, ");
    form.sfDialsuffix->setText(" #1");
    form.SendFaxButton->click();
    ASSERT_TRUE(waitUntil([&] { return !form.SessionBusy; }, 60));
    std::string dial;
    for (const std::string& c : modem.commands())
        if (c.rfind("ATD", 0) == 0) dial = c;
    std::string seen;
    for (const std::string& c : modem.commands()) seen += c + "|";
    EXPECT_EQ(dial, "ATDT9,15550100100#1") << seen;
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].text.startsWith("The call to \"+1 (555) 010-0100\" was not made"))
        << errors[0].text.toStdString() << sendLog().join('|').toStdString();
}

// A Class 2-only modem with Class 1 set: the modem refuses AT+FCLASS=1 and the message names the
// class and points to Check Fax Class instead of a bare "Error while initializing modem".
TEST_F(SendDialogTest, AFaxClassTheModemRefusesPointsToCheckFaxClass) {
    FakeModem modem(dir() + "modem", [](const std::string& command) {
        if (command == "AT+FCLASS=1") return std::string("\r\nERROR\r\n");
        return FakeModem::standardReply(command);
    });
    TSendFaxForm form;
    prepareSend(modem, form, "5550100");
    form.show();
    form.SendFaxButton->click();
    ASSERT_TRUE(waitUntil([&] { return !form.SessionBusy; }, 60));
    ASSERT_EQ(errors.size(), 1u) << sendLog().join('|').toStdString();
    EXPECT_TRUE(errors[0].text.contains("Error while initializing modem")) << errors[0].text.toStdString();
    EXPECT_TRUE(errors[0].text.contains("did not accept Class 1")) << errors[0].text.toStdString();
    EXPECT_TRUE(errors[0].text.contains("Check Fax Class")) << errors[0].text.toStdString();
    EXPECT_LE(errors[0].text.size(), 255);
}

// While a session runs the status window is the modal window on top: a click on the main window
// or the send dialog brings it up, not the send dialog over it.
TEST_F(SendDialogTest, TheStatusWindowStaysAboveTheSendDialogDuringASession) {
    FakeModem modem(dir() + "modem", [](const std::string& command) {
        if (command.rfind("ATD", 0) == 0) return std::string();  // the call rings on and on
        return FakeModem::standardReply(command);
    });
    QWidget mainWindow;
    mainWindow.show();
    TSendFaxForm form(&mainWindow);
    prepareSend(modem, form, "5550100");
    whenModal<TSendFaxForm>([&](TSendFaxForm* f) {
        f->SendFaxButton->click();
        TStandardFaxDisplay* status = f->OvxFaxStatus1;
        EXPECT_TRUE(waitUntil([status] { return status->isVisible(); }, 30));
        EXPECT_EQ(QApplication::activeModalWidget(), status);
        ASSERT_NE(status->windowHandle(), nullptr);
        EXPECT_EQ(QGuiApplication::modalWindow(), status->windowHandle());
        status->fsCancel->click();
        EXPECT_TRUE(waitUntil([f] { return !f->SessionBusy; }, 60));
        f->CloseButton->click();
    });
    form.exec();
    EXPECT_EQ(form.ResultText, "Cancelled");
}

TEST_F(SendDialogTest, PortThatCannotBeOpenedIsLoggedAndReported) {
    app::appSettings().Ports[0] = dir() + "absent";
    TSendFaxForm form;
    form.InitialPhone = "555";
    form.show();
    form.SendFaxButton->click();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].caption, "Error Opening Communications Port");
    EXPECT_TRUE(
        errors[0].text.endsWith("Is the Communications Port (COM1) correct? Please\r\nuse Find Modem Port under "
                                "the Preferences button to be sure."));
    const QStringList log = sendLog();
    // The message's second line (the missing device) becomes a line of its own in the file.
    ASSERT_EQ(log.size(), 6) << log.join('|').toStdString();
    EXPECT_TRUE(log[0].startsWith("Start:"));
    EXPECT_EQ(log[1], "Opening com port: COM1");
    EXPECT_EQ(log[2], "Error opening com port: COM1");
    EXPECT_EQ(log[3], "Message:Unable to open the specified communications port ( Com1 )");
    EXPECT_TRUE(log[4].startsWith("The device " + qdir() + "absent does not exist."));
    EXPECT_TRUE(log[5].startsWith("Finish: "));
    EXPECT_FALSE(form.SessionBusy);
}

TEST_F(SendDialogTest, SilentModemStopsOnOkAndResetFailureIsLogged) {
    FakeModem silent(dir() + "modem", [](const std::string&) { return std::string(); });
    app::appSettings().Ports[0] = silent.path();
    TSendFaxForm form;
    form.InitialPhone = "555";
    form.show();
    form.SendFaxButton->click();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].caption, "No Response From Modem");
    EXPECT_TRUE(errors[0].withContinue);
    EXPECT_EQ(sendLog().mid(1, 5), (QStringList{"Opening com port: COM1", "Opened com port OK", "Checking for modem",
                                                "Error checking for modem", "Exit"}));
    EXPECT_FALSE(form.SessionBusy);

    // Continue, then the reset string "Z" goes out as "ATZ" and is not answered.
    errorAnswers = {-99};
    app::appSettings().Resetting.String = "Z";
    form.SendFaxButton->click();
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[2].caption, "Unable to Continue");
    EXPECT_TRUE(errors[2].text.contains("reset string:   (ATZ)"));
    const QStringList log = sendLog();
    EXPECT_EQ(log.mid(1, 7), (QStringList{"Opening com port: COM1", "Opened com port OK", "Checking for modem",
                                          "Error checking for modem", "Sending reset string: Z",
                                          "Failure sending reset string: ATZ", "Exiting..."}));
    EXPECT_EQ(app::appSettings().Resetting.String, "ATZ");
    EXPECT_FALSE(form.SessionBusy);
}

TEST_F(SessionsTest, FindModemProposesTheFirstPortThatAnswers) {
    FakeModem two(dir() + "m2", FakeModem::standardReply);
    FakeModem four(dir() + "m4", FakeModem::standardReply);
    FakeModem silent(dir() + "m5", [](const std::string&) { return std::string(); });
    settings::Settings& s = app::appSettings();
    s.Ports = {dir() + "none1", two.path(), dir() + "none3", four.path(), silent.path(), dir() + "none6"};
    telvane::transport::TOvxComPort port;
    TFindModemForm form(port);
    whenModal<TFindModemForm>([](TFindModemForm* f) { clickWhenVisible(f->OkButton); });
    form.exec();
    EXPECT_EQ(form.outcome(), 2);
    EXPECT_EQ(form.PortLabels[0]->text(), "Com 1: Port does not exist");
    EXPECT_EQ(form.PortLabels[1]->text(), "Com 2: MODEM");
    EXPECT_EQ(form.PortLabels[3]->text(), "Com 4: MODEM");
    EXPECT_EQ(form.PortLabels[4]->text(), "Com 5: Unknown");
    EXPECT_EQ(form.DeviceLabels[1]->text(), QString::fromStdString(two.path()));
    EXPECT_EQ(form.Label7->text(), "A modem was found on Com Port 2. We suggest setting the Port as Com 2.");
    EXPECT_EQ(form.windowTitle(), "Find Modem");
    EXPECT_FALSE(port.Open());
}

TEST_F(SessionsTest, FindModemWithABusyPortAsksToCloseOtherPrograms) {
    FakeModem held(dir() + "m1", FakeModem::standardReply);
    settings::Settings& s = app::appSettings();
    s.Ports = {held.path(), dir() + "n2", dir() + "n3", dir() + "n4", dir() + "n5", dir() + "n6"};
    telvane::transport::TOvxComPort other;
    sessions::assignPort(other, 1);
    other.setOpen(true);
    telvane::transport::TOvxComPort port;
    TFindModemForm form(port);
    whenModal<TFindModemForm>([](TFindModemForm* f) { clickWhenVisible(f->OkButton); });
    form.exec();
    other.setOpen(false);
    EXPECT_EQ(form.outcome(), -1);
    EXPECT_EQ(form.PortLabels[0]->text(), "Com 1: Port is already open (could be modem)");
    EXPECT_TRUE(form.Label7->text().startsWith("No modem found. Please make sure that all communication programs"));
}

// Shows the window again the way a return from another program or from the task bar does, and
// lets the events that a new activation would queue run.
template <class W>
void showAgain(W& window) {
    window.hide();
    QCoreApplication::processEvents();
    window.show();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

TEST_F(SessionsTest, ScanAndClassCheckRunOncePerOpening) {
    FakeModem modem(dir() + "m2", FakeModem::standardReply);
    settings::Settings& s = app::appSettings();
    s.Ports = {dir() + "n1", modem.path(), dir() + "n3", dir() + "n4", dir() + "n5", dir() + "n6"};
    telvane::transport::TOvxComPort port;
    {
        TFindModemForm finder(port);
        finder.show();
        ASSERT_TRUE(waitUntil([&] { return finder.OkButton->isVisible(); }, 40));
        const auto afterScan = modem.commands();
        EXPECT_EQ(afterScan, std::vector<std::string>{"AT"});
        showAgain(finder);
        EXPECT_EQ(modem.commands(), afterScan);
        EXPECT_EQ(finder.PortLabels[1]->text(), "Com 2: MODEM");
        EXPECT_EQ(finder.outcome(), 2);
    }
    telvane::transport::TOvxSendFax fax;
    fax.setComPort(&port);
    TCheckFaxClassForm check(port, fax, 2);
    check.show();
    ASSERT_TRUE(waitUntil([&] { return check.OkButton->isVisible(); }, 40));
    const auto afterCheck = modem.commands();
    ASSERT_GT(afterCheck.size(), 2u);
    showAgain(check);
    EXPECT_EQ(modem.commands(), afterCheck);
    EXPECT_EQ(check.resultIndex(), 0);
    EXPECT_FALSE(port.Open());
}

TEST_F(SessionsTest, ClassCheckRecommendsClass1AndStopsWhenTheUserSaysNo) {
    FakeModem modem(dir() + "m3", FakeModem::standardReply);
    app::appSettings().Ports[2] = modem.path();
    telvane::transport::TOvxComPort port;
    telvane::transport::TOvxSendFax fax;
    fax.setComPort(&port);
    {
        TCheckFaxClassForm form(port, fax, 3);
        whenModal<TCheckFaxClassForm>([](TCheckFaxClassForm* f) { clickWhenVisible(f->OkButton); });
        form.exec();
        EXPECT_EQ(form.resultIndex(), 0);
        EXPECT_EQ(form.resultName(), "Class 1");
        EXPECT_EQ(form.Label1->text(), "Class 1   : Supported (recommended)");
        EXPECT_EQ(form.Label2->text(), "Class 2   : Supported");
        EXPECT_EQ(form.Label3->text(), "Class 2.0 : Not Supported");
        EXPECT_TRUE(form.Status->text().startsWith("Try using the recommended Fax Class (Class 1) or auto detect."));
    }
    const auto sent = modem.commands();
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent[0], "AT");
    EXPECT_EQ(sent[1], "AT&F");
    EXPECT_NE(std::find(sent.begin(), sent.end(), "AT+FCLASS=?"), sent.end());

    FakeModem silent(dir() + "m4", [](const std::string&) { return std::string(); });
    app::appSettings().Ports[3] = silent.path();
    prompts().answers = {false};
    TCheckFaxClassForm form(port, fax, 4);
    whenModal<TCheckFaxClassForm>([](TCheckFaxClassForm* f) { clickWhenVisible(f->OkButton); });
    form.exec();
    EXPECT_EQ(form.resultIndex(), -1);
    EXPECT_EQ(form.Status->text(), "No response from device on COM4. May not be a modem.");
    EXPECT_EQ(form.Label1->text(), "Class 1   : unknown");
    EXPECT_EQ(silent.commands(), std::vector<std::string>{"AT"});
    ASSERT_EQ(prompts().count(PromptRecord::YesNo), 1);
    for (const PromptRecord& r : prompts().records) {
        if (r.kind == PromptRecord::YesNo) {
            EXPECT_EQ(r.caption, "NO MODEM RESPONSE");
        }
    }
}

// A long device path (a virtual line in a home folder) is shown whole: each port's button is
// wide enough for its caption, and the full path is one hover away when the caption shortens it.
TEST_F(SessionsTest, QuickSetupShowsALongDevicePathWithoutCuttingIt) {
    const QString longPath = "/tmp/desk-tour/home/a-rather-long-folder-name/virtual-modem";
    app::appSettings().Ports[1] = longPath.toStdString();
    TQuickSetupForm form;
    form.show();
    form.selectPort(0);
    form.PortDevice->setEditText(longPath);
    QApplication::processEvents();
    for (int port : {0, 1}) {
        QAbstractButton* b = form.ComPort->button(port);
        EXPECT_GE(b->width(), b->sizeHint().width()) << b->text().toStdString();
        EXPECT_TRUE(b->text().contains(longPath) || b->toolTip().contains(longPath)) << b->text().toStdString();
        EXPECT_TRUE(b->text().startsWith(QStringLiteral("Com%1  (").arg(port + 1))) << b->text().toStdString();
    }
    EXPECT_LE(form.width(), form.screen()->availableGeometry().width());
}

TEST_F(SessionsTest, QuickSetupSavesOnlyOnOk) {
    app::firstRunSetupPending() = true;
    whenModal<TQuickSetupForm>([](TQuickSetupForm* f) {
        EXPECT_TRUE(f->ComPort->button(0)->isChecked());
        f->ComPort->button(3)->setChecked(true);
        f->Name->setText("Ann");
        f->Cancelbutton->click();
    });
    EXPECT_FALSE(runQuickSetup(nullptr));
    EXPECT_TRUE(app::firstRunSetupPending());
    EXPECT_FALSE(QFile::exists(qdir() + "TVN.INI"));

    // The device of a port is typed or picked from the serial devices found; the texts speak of
    // Linux devices, not of COM1 and COM2.
    const auto savedSource = serialDeviceSource();
    serialDeviceSource() = [] { return QStringList{"/dev/ttyACM0", "/dev/ttyUSB0"}; };
    whenModal<TQuickSetupForm>([](TQuickSetupForm* f) {
        for (QLabel* l : f->findChildren<QLabel*>()) EXPECT_FALSE(l->text().contains("COM1 or COM2"));
        ASSERT_EQ(f->PortDevice->count(), 2);
        EXPECT_EQ(f->PortDevice->itemText(1), "/dev/ttyUSB0");
        f->ComPort->button(4)->setChecked(true);
        EXPECT_EQ(f->PortDevice->currentText(), "/dev/ttyACM0");  // Com5's default device
        f->PortDevice->setEditText("/dev/ttyACM3");
        EXPECT_EQ(f->ComPort->button(4)->text(), "Com5  (/dev/ttyACM3)");
        f->ComPort->button(3)->setChecked(true);
        EXPECT_EQ(f->PortDevice->currentText(), "/dev/ttyS3");
        f->PortDevice->setCurrentIndex(1);
        f->Name->setText("Ann");
        f->FaxNumber->setText("555 0100");
        f->chkSM56->click();
        f->Finishbutton->click();
    });
    EXPECT_TRUE(runQuickSetup(nullptr));
    serialDeviceSource() = savedSource;
    EXPECT_FALSE(app::firstRunSetupPending());
    EXPECT_TRUE(motorolaSM56Active());
    settings::Settings stored;
    stored.loadFrom(dir());
    EXPECT_EQ(stored.Modem.ComPort, 3);
    EXPECT_EQ(stored.Ports[3], "/dev/ttyUSB0");
    EXPECT_EQ(stored.Ports[4], "/dev/ttyACM3");
    EXPECT_EQ(stored.User.Name, "Ann");
    EXPECT_EQ(stored.User.Fax, "555 0100");
    EXPECT_TRUE(stored.Other.UseMotorolaSM56Fix);
}

// Every button of the send dialog and of the error dialog is reached by an Alt key of its own.
TEST_F(SendDialogTest, SendAndErrorDialogButtonsHaveTheirOwnKeys) {
    TSendFaxForm form;
    form.show();
    EXPECT_EQ(telvane::test::buttonsWithoutKeys(&form).join('|').toStdString(), "");
    EXPECT_EQ(telvane::test::sharedMnemonics(&form).join('|').toStdString(), "");
    TShowErrorForm error;
    error.ContinueButton->setVisible(true);
    error.show();
    EXPECT_EQ(telvane::test::buttonsWithoutKeys(&error).join('|').toStdString(), "");
    EXPECT_EQ(telvane::test::sharedMnemonics(&error).join('|').toStdString(), "");
}

// A label with a mnemonic shows its "&" literally unless it has a buddy to move the focus to.
TEST_F(SendDialogTest, EveryMnemonicLabelHasABuddy) {
    TSendFaxForm form;
    form.show();
    QStringList missing;
    int mnemonics = 0;
    for (QLabel* label : form.findChildren<QLabel*>()) {
        const QString text = label->text();
        if (!QString(text).remove(QStringLiteral("&&")).contains('&')) continue;
        ++mnemonics;
        if (!label->buddy()) missing << text;
    }
    EXPECT_EQ(mnemonics, 3);
    EXPECT_TRUE(missing.isEmpty()) << missing.join('|').toStdString();
}

// A call with 2-D coding or error correction names them in the send log, before its result.
TEST_F(SendDialogTest, SendLogNamesTheCodingAndErrorCorrectionUsed) {
    TSendFaxForm form;
    form.InitialPhone = "555";
    form.show();
    form.SessionBusy = true;
    form.OvxSendFax1.setConnection(14400, true, false, true, telvane::faximage::FaxCoding::MMR);
    form.OvxSendFax1FaxFinish(0);
    const QStringList log = sendLog();
    const auto coding = log.indexOf("Coding: MMR, ECM");
    ASSERT_GE(coding, 0) << log.join('|').toStdString();
    EXPECT_EQ(log.value(coding + 1), "Result: OK");
}

}  // namespace
}  // namespace telvane::sessiontest
