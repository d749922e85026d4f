// Rules of the sessions without windows: dial wait, "AT" prefixing, header line, clock texts,
// file-name cut, page meter, the receive status line, the session-start failure messages, the
// print-on-receipt printer choice and the session log file.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "sessions/sessionrules.h"
#include "sessions/sendsettings.h"
#include "transport/fax/faxsession.h"
#include "app/faxnumber.h"
#include "sessions_fixture.h"

namespace telvane::sessiontest {
namespace {

using namespace telvane::sessions;

TEST(DialWait, ReadsTheS7RegisterWithItsLimits) {
    EXPECT_EQ(DialWaitFromInitString(""), 60);
    EXPECT_EQ(DialWaitFromInitString("AT&F&C1"), 60);
    EXPECT_EQ(DialWaitFromInitString("ATS7=90"), 90);
    EXPECT_EQ(DialWaitFromInitString("ATS7=45"), 55);
    EXPECT_EQ(DialWaitFromInitString("S7=30"), 55);
    EXPECT_EQ(DialWaitFromInitString("S7="), 60);
    EXPECT_EQ(DialWaitFromInitString("s7=120x"), 120);
    EXPECT_EQ(DialWaitFromInitString("S7=1234"), 123);
    EXPECT_EQ(DialWaitFromInitString("AT&FS7=65&K3"), 65);
}

TEST(AtPrefix, AddedOnlyWhenTheLettersAreMissing) {
    EXPECT_EQ(withAtPrefix("&K3"), "AT&K3");
    EXPECT_EQ(withAtPrefix("xat"), "xat");
    EXPECT_EQ(withAtPrefix("Z"), "ATZ");
    EXPECT_EQ(withAtPrefix("at&f"), "at&f");
}

TEST(Header, BlanksAndPartsFollowNameAndStationId) {
    const QString both = buildHeaderText("Ann", "555 1234", "12/9/26", "14:05");
    EXPECT_EQ(both, QString("Sent by: Ann") + QString(4, ' ') + QString(9, ' ') + "$I" + QString(10, ' ') +
                        QString(11, ' ') + "12/9/26" + QString(4, ' ') + "14:05" + QString(14, ' ') + "Page $P of $N");
    EXPECT_EQ(buildHeaderText("", "", "d", "t"),
              QString("Sent") + QString(11, ' ') + "d" + QString(4, ' ') + "t" + QString(14, ' ') + "Page $P of $N");
    // A name of blanks only is written but does not earn " by".
    EXPECT_TRUE(buildHeaderText("  ", "", "d", "t").startsWith("Sent:   "));
    EXPECT_TRUE(buildHeaderText("", "42", "d", "t").startsWith("Sent by         $I          "));
}

TEST(StatusTexts, ClockFileNameAndMeter) {
    EXPECT_EQ(secondsFromTicks(0), 0);
    EXPECT_EQ(secondsFromTicks(1182), 65);  // (1182 + 9) * 92 / 1675
    EXPECT_EQ(clockText(65), "  1:05");
    EXPECT_EQ(clockText(60), "  1:00");
    EXPECT_EQ(clockText(5), "  0:05");
    EXPECT_EQ(clockText(6000), "100:00");
    EXPECT_EQ(shortFileName("/home/u/TVN_1.OVF"), "TVN_1.OVF");
    EXPECT_EQ(shortFileName("C:\\dir\\abcdefghijklmnopqrstuvwxy"), "abcdefghijklmnopqrst...");
    EXPECT_EQ(shortFileName("A:abcdefghijklmnopqrst"), "abcdefghijklmnopqrst");
    EXPECT_EQ(pageMeterPercent(0, 0), 0);
    EXPECT_EQ(pageMeterPercent(5, 0), 0);
    EXPECT_EQ(pageMeterPercent(1, 3), 33);
    EXPECT_EQ(pageMeterPercent(2, 3), 67);
    EXPECT_EQ(pageMeterPercent(10, 10), 100);
}

TEST(StatusTexts, ReceiveStatusLine) {
    EXPECT_EQ(receiveStatusText(" Getting page data ", "", 2, 100), "Receiving fax");
    EXPECT_EQ(receiveStatusText("Getting page data", " FAR END ", 2, 1500),
              "Receiving fax from: FAR END, page 2 (1500 bytes)");
    EXPECT_EQ(receiveStatusText("Getting page data", "X", 0, 0), "Receiving fax from: X");
    EXPECT_EQ(receiveStatusText("Got Class 2 FHNG code", "", 0, 0), "Hangup successful");
    EXPECT_EQ(receiveStatusText("Answering incoming call", "", 0, 0), "Answering incoming call");
    EXPECT_EQ(receiveStatusText("User abort", "X", 0, 0), "");
    // Only the page-data text gets the page and byte parts.
    EXPECT_EQ(receiveStatusText("Got called-station ID", "X", 3, 10), "Got called-station ID from: X");
}

TEST(FailureTexts, SendDialogAndReceiveModePointToTheirPreferences) {
    EXPECT_EQ(portCheckAdvice(2, false),
              "\r\n\r\nIs the Communications Port (COM2) correct? Please\r\n"
              "use Find Modem Port under the Preferences button to be sure.");
    EXPECT_EQ(portCheckAdvice(6, true),
              "\r\n\r\nIs the Communications Port (COM6) correct? Please\r\n"
              "use Find Modem Port in File > Preferences to be sure.");
    EXPECT_EQ(noModemResponseText(3, false),
              "We did not receive a modem response from COM3.\r\n\r\n"
              "To verify the communications port, please use Find Modem Port under the Preferences button."
              "\r\n\r\nIf you are sure there is a modem on COM3, press CONTINUE\r\n"
              "to continue, otherwise press OK to stop the fax session.");
    EXPECT_EQ(noModemResponseText(1, true),
              "We did not receive a modem response from COM1.\r\n\r\n"
              "To verify the communications port, please use Find Modem Port in File > Preferences."
              "\r\n\r\nIf you are sure there is a modem on COM1, press CONTINUE\r\n"
              "to continue, otherwise press OK to stop the fax session.");
    EXPECT_EQ(resetStringFailureText("ATZ", 4, true),
              "We are unable to continue the fax session. \r\n\r\nThe modem did not respond to the reset string:   "
              "(ATZ)\r\n\r\nIs the Communications Port (COM4) correct? Please\r\n"
              "use Find Modem Port in File > Preferences to be sure.");
}

// Numbers as typed: digits with readability marks and the V.250 dial modifiers pass; letters
// and other punctuation are named once each, in order; the dial string keeps only what a modem
// dials.
TEST(FaxNumbers, CheckedWhereTypedAndCleanedForTheModem) {
    for (const char* ok : {"", "555 0100", "+1 (555) 010-0100", "9,555.0100", "*70,W555-0100", "p555t#1", "!@,"})
        EXPECT_EQ(app::faxNumberBadCharacters(ok), "") << ok;
    EXPECT_EQ(app::faxNumberBadCharacters("call me maybe!"), "calmeyb");
    EXPECT_EQ(app::faxNumberBadCharacters("555/0100;"), "/;");
    EXPECT_EQ(app::faxNumberBadCharacters("０５５"), "０５");  // full-width digits are not dialable
    const QString message = app::faxNumberProblem("call me maybe!");
    EXPECT_TRUE(
        message.startsWith("The fax number \"call me maybe!\" holds characters a modem cannot dial: "
                           "\"c\" \"a\" \"l\""))
        << message.toStdString();
    EXPECT_LE(message.size(), 255);
    EXPECT_EQ(app::faxNumberProblem("555-0100"), "");

    EXPECT_EQ(app::dialableNumber("+1 (555) 010-0100"), "15550100100");
    EXPECT_EQ(app::dialableNumber(" 9, w 555.0100 "), "9,W5550100");
    EXPECT_EQ(app::dialableNumber("*70,p#"), "*70,P#");
}

// A call the modem would not make is said to be that, with the number; other ends are not.
TEST(FailureTexts, ARefusedDialNamesTheNumber) {
    const QString refused = refusedDialText(telvane::errors::ecFaxNoCarrier, false, " 555 0100 ");
    EXPECT_TRUE(refused.startsWith("The call to \"555 0100\" was not made: the modem refused the dial command"))
        << refused.toStdString();
    EXPECT_FALSE(refusedDialText(telvane::errors::ecFaxBadModemResult, false, "1").isEmpty());
    EXPECT_TRUE(refusedDialText(telvane::errors::ecFaxNoCarrier, true, "1").isEmpty());  // the call was made
    EXPECT_TRUE(refusedDialText(telvane::errors::ecFaxBusy, false, "1").isEmpty());
}

TEST(ReceiptPrinter, DefaultEntryExactNameOrTheCurrentPrinter) {
    const QStringList installed{"Office Laser", "office laser 2", "PDF"};
    EXPECT_EQ(receiptPrinterName("Default Windows Printer", installed, "PDF"), "PDF");
    // No system default: the current printer stays.
    EXPECT_EQ(receiptPrinterName("Default Windows Printer", installed, ""), "");
    EXPECT_EQ(receiptPrinterName("Office Laser", installed, "PDF"), "Office Laser");
    EXPECT_EQ(receiptPrinterName("office laser 2", installed, "PDF"), "office laser 2");
    // The name must match exactly: other case, a prefix or a printer gone keep the current one.
    EXPECT_EQ(receiptPrinterName("office laser", installed, "PDF"), "");
    EXPECT_EQ(receiptPrinterName("Office", installed, "PDF"), "");
    EXPECT_EQ(receiptPrinterName("Gone Printer", installed, "PDF"), "");
    EXPECT_EQ(receiptPrinterName("default windows printer", installed, "PDF"), "");
}

TEST_F(SessionsTest, SessionLogDropsRepeatsAndWritesCrLfWithFinish) {
    SessionLog log;
    log.add("Start:x");
    log.add("Start:x");
    log.add("two\r\nlines");
    log.add("Start:x");
    const QString path = qdir() + "Lastsend.log";
    ASSERT_TRUE(log.save(path));
    const QStringList lines = readLines(path);
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[0], "Start:x");
    EXPECT_EQ(lines[1], "two");
    EXPECT_EQ(lines[2], "lines");
    EXPECT_EQ(lines[3], "Start:x");
    EXPECT_TRUE(lines[4].startsWith("Finish: ")) << lines[4].toStdString();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().endsWith("\r\n"));

    // An unwritable place is ignored and keeps the lines; clearing starts afresh.
    EXPECT_FALSE(log.save(qdir() + "missing/dir/Lastsend.log"));
    EXPECT_GE(log.lines().size(), 4);
    log.clear();
    log.add("Start:x");
    EXPECT_EQ(log.lines(), QStringList{"Start:x"});
}

}  // namespace
}  // namespace telvane::sessiontest

namespace telvane::sessiontest {

// The send command's settings reach the engine's component as the send dialog left them.
TEST(SendSettings, SettingsAndDialFieldsReachTheComponent) {
    settings::Settings s;
    s.Modem.MaximumBPS = 14400;
    s.Modem.FaxClass = 3;  // stored 0..3: auto, 1, 2, 2.0
    s.Modem.InitString = "&K3S7=75";
    s.Modem.RenegotiateBetween = true;
    s.Dialing.ECM = true;
    s.Dialing.BlindDial = true;
    s.Dialing.IgnoreBusy = true;
    s.Dialing.ToneOrPulse = 1;
    s.Dialing.DialAttempts = 5;
    s.Dialing.RetryWait = 90;
    s.User.Fax = "+44 20 7946 0000 ext 1234";
    s.Other.UseAlternateHeaderFont = true;
    transport::TOvxSendFax fax;
    sessions::applySendSettings(s, {"555 0100", "9,", "#12", false, false}, fax);
    EXPECT_EQ(fax.DesiredBPS, 14400);
    EXPECT_TRUE(fax.DesiredECM());
    EXPECT_TRUE(fax.BlindDial);
    EXPECT_FALSE(fax.DetectBusy);
    EXPECT_FALSE(fax.PageContinuation);
    EXPECT_FALSE(fax.ToneDial);
    EXPECT_EQ(fax.FaxClass(), transport::fcClass2_0);
    EXPECT_EQ(fax.DialAttempts, 5);
    EXPECT_EQ(fax.DialRetryWait(), 90);
    EXPECT_EQ(fax.DialWait(), 75);  // S7 of the init string
    EXPECT_EQ(fax.PhoneNumber, "555 0100#12");
    EXPECT_EQ(fax.DialPrefix(), "9,");
    EXPECT_EQ(fax.StationID(), "+44 20 7946 0000 ext");  // 20 characters
    EXPECT_FALSE(fax.EnhTextEnabled);

    // Disabled prefix and suffix dial neither; a long number with its suffix is cut at 255.
    const std::string longNumber(250, '5');
    sessions::applySendSettings(s, {longNumber, "9,", "#1234567", true, false}, fax);
    EXPECT_EQ(fax.DialPrefix(), "");
    EXPECT_EQ(fax.PhoneNumber.size(), 255u);
    sessions::applySendSettings(s, {"555 0100", "9,", "#12", true, true}, fax);
    EXPECT_EQ(fax.PhoneNumber, "555 0100");
}

}  // namespace telvane::sessiontest
