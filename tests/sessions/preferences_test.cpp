// The preferences wizard offscreen: pages, titles and the Back/Next/Finish rules (first-time mode
// too), every setting shown by its control and written back by "&Finish", a Finish without
// changes that leaves TVN.INI as it was, the values the wizard rewrites (unknown rate, printer no
// longer installed), "Save changes?" answered No, a bad number that saves nothing, the "Same as
// SEND" buttons, the WAV chooser, the SM56 flag, the port devices, find-modem and class check on
// the unsaved port, the init-string buttons, help by page, the main window's and the send
// dialog's Preferences commands, and that every page shows its texts whole.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>

#include "support/ptymodem.h"
#include "sessions/initstringhelper.h"
#include "sessions/modemsetup.h"
#include "sessions/preferences.h"
#include "sessions/sendfax.h"
#include "sessions/sessionhooks.h"
#include "sessions/systemlists.h"
#include "sessions_fixture.h"
#include "app/helpwindow.h"
#include "settings/inifile.h"
#include "shell/mainscreen.h"
#include "support/keyboard.h"
#include "support/scriptedprompter.h"

namespace telvane::sessiontest {
namespace {

using namespace telvane::sessions;

std::string fileText(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll().toStdString();
}

// A setting value for every key, none of them the default, booleans mixed so that two swapped
// boxes show up.
settings::Settings distinctSettings(const std::string& dir) {
    settings::Settings s;
    s.Receive.Wav = dir + "bell.wav";
    s.Receive.AtStartup = true;
    s.Receive.AnswerOnRing = 4;
    s.Receive.ECMReceive = true;
    s.Receive.PrintOnReceipt = true;
    s.Receive.PrintOnReceiptPrinter = "Label Printer";
    s.Receive.DisableReceivingFaxesNotification = true;
    s.User.Fax = "+1 555 0100";
    s.User.Name = "Ann Example";
    s.User.PrefixDisable = true;
    s.User.SuffixDisable = true;
    s.Dialing.DialPrefix = "9,";
    s.Dialing.DialSuffix = "#77";
    s.Dialing.DialAttempts = 5;
    s.Dialing.RetryWait = 45;
    s.Dialing.BlindDial = true;
    s.Dialing.IgnoreBusy = false;
    s.Dialing.ToneOrPulse = 1;
    s.Dialing.Timeout = 75;
    s.Dialing.ECM = false;
    s.Modem.InitString = "AT&F&C1&D2&K3S7=65";
    s.Modem.ComPort = 3;
    s.Modem.FaxClass = 2;
    s.Modem.InitStringReceive = "ATS0=0";
    s.Modem.FaxClassReceive = 3;
    s.Modem.MaximumBPSReceive = 4800;
    s.Modem.MaximumBPS = 12000;
    s.Modem.RenegotiateBetween = true;
    s.DefaultFont.Name = "Courier";
    s.DefaultFont.Size = 12;
    s.DefaultFont.Bold = true;
    s.Resetting.String = "AT&F";
    s.Resetting.AfterString = "ATZ";
    s.Hints.On = false;
    s.Other.UseMotorolaSM56Fix = true;
    s.Other.ImposeWaitBeforePrinting = true;
    s.Other.UseAlternateHeaderFont = false;
    s.Other.GlobalUseAlternateNamingRec = true;
    s.Other.GlobalLargerSendBuffer = false;
    s.Other.GlobalLargerReceiveBuffer = true;
    s.Ports[4] = "/dev/ttyACM3";
    return s;
}

QString q(const std::string& s) { return QString::fromStdString(s); }

// Checks that every control shows its setting (written without the wizard's own load code).
void expectControls(const TPreferences& w, const settings::Settings& s) {
    EXPECT_EQ(w.ComPort->checkedId(), s.Modem.ComPort);
    EXPECT_EQ(w.chkSM56->isChecked(), s.Other.UseMotorolaSM56Fix);
    EXPECT_EQ(w.ToneOrPulse->checkedId(), s.Dialing.ToneOrPulse);
    EXPECT_EQ(w.ResetString->text(), q(s.Resetting.String));
    EXPECT_EQ(w.ResetAfterString->text(), q(s.Resetting.AfterString));
    EXPECT_EQ(w.FaxClass->checkedId(), s.Modem.FaxClass);
    EXPECT_EQ(w.TransferRate->currentText(), QString::number(s.Modem.MaximumBPS));
    EXPECT_EQ(w.ModemInit->text(), q(s.Modem.InitString));
    EXPECT_EQ(w.Name->text(), q(s.User.Name));
    EXPECT_EQ(w.FaxNumber->text(), q(s.User.Fax));
    EXPECT_EQ(w.UseECM->isChecked(), s.Dialing.ECM);
    EXPECT_EQ(w.DialPrefix->text(), q(s.Dialing.DialPrefix));
    EXPECT_EQ(w.DialSuffix->text(), q(s.Dialing.DialSuffix));
    EXPECT_EQ(w.DialAttempts->text(), QString::number(s.Dialing.DialAttempts));
    EXPECT_EQ(w.RetryWait->text(), QString::number(s.Dialing.RetryWait));
    EXPECT_EQ(w.RenegotiateBetween->isChecked(), s.Modem.RenegotiateBetween);
    EXPECT_EQ(w.CheckBlindDial->isChecked(), s.Dialing.BlindDial);
    EXPECT_EQ(w.CheckIgnoreBusy->isChecked(), s.Dialing.IgnoreBusy);
    EXPECT_EQ(w.FaxClassReceive->checkedId(), s.Modem.FaxClassReceive);
    EXPECT_EQ(w.TransferRateReceive->currentText(), QString::number(s.Modem.MaximumBPSReceive));
    EXPECT_EQ(w.ModemInitReceive->text(), q(s.Modem.InitStringReceive));
    EXPECT_EQ(w.AnswerOnRing->checkedId(), s.Receive.AnswerOnRing - 1);
    EXPECT_EQ(w.ReceiveAtStartup->isChecked(), s.Receive.AtStartup);
    EXPECT_EQ(w.UseECMReceive->isChecked(), s.Receive.ECMReceive);
    EXPECT_EQ(w.WaveFileEdit->text(), q(s.Receive.Wav));
    EXPECT_EQ(w.PrintFaxOnReceipt->isChecked(), s.Receive.PrintOnReceipt);
    EXPECT_EQ(w.PrintFaxOnReceiptPrinter->currentText(), q(s.Receive.PrintOnReceiptPrinter));
    EXPECT_EQ(w.DisableReceivingFaxesNotification->isChecked(), s.Receive.DisableReceivingFaxesNotification);
    EXPECT_EQ(w.ImposeWaitBeforePrinting->isChecked(), s.Other.ImposeWaitBeforePrinting);
    EXPECT_EQ(w.UseAltHeaderFont->isChecked(), s.Other.UseAlternateHeaderFont);
    EXPECT_EQ(w.UseAlternateNameReceive->isChecked(), s.Other.GlobalUseAlternateNamingRec);
    EXPECT_EQ(w.UseLargerSendBuffer->isChecked(), s.Other.GlobalLargerSendBuffer);
    EXPECT_EQ(w.UseLargerReceiveBuffer->isChecked(), s.Other.GlobalLargerReceiveBuffer);
    for (int i = 0; i < ports::kPortCount; ++i) EXPECT_EQ(w.PortDeviceLabels[i]->toolTip(), q(s.Ports[i]));
}

// Sets every control the way a user would, to the values of `s`.
void setControls(TPreferences& w, const settings::Settings& s) {
    w.ComPort->button(s.Modem.ComPort)->click();
    w.PortDevice->setEditText(q(s.Ports[s.Modem.ComPort]));
    for (int i = 0; i < ports::kPortCount; ++i) {
        w.ComPort->button(i)->click();
        w.PortDevice->setEditText(q(s.Ports[i]));
    }
    w.ComPort->button(s.Modem.ComPort)->click();
    w.chkSM56->setChecked(s.Other.UseMotorolaSM56Fix);
    w.ToneOrPulse->button(s.Dialing.ToneOrPulse)->click();
    w.ResetString->setText(q(s.Resetting.String));
    w.ResetAfterString->setText(q(s.Resetting.AfterString));
    w.FaxClass->button(s.Modem.FaxClass)->click();
    w.TransferRate->setCurrentText(QString::number(s.Modem.MaximumBPS));
    w.ModemInit->setText(q(s.Modem.InitString));
    w.Name->setText(q(s.User.Name));
    w.FaxNumber->setText(q(s.User.Fax));
    w.UseECM->setChecked(s.Dialing.ECM);
    w.DialPrefix->setText(q(s.Dialing.DialPrefix));
    w.DialSuffix->setText(q(s.Dialing.DialSuffix));
    w.DialAttempts->setText(QString::number(s.Dialing.DialAttempts));
    w.RetryWait->setText(QString::number(s.Dialing.RetryWait));
    w.RenegotiateBetween->setChecked(s.Modem.RenegotiateBetween);
    w.CheckBlindDial->setChecked(s.Dialing.BlindDial);
    w.CheckIgnoreBusy->setChecked(s.Dialing.IgnoreBusy);
    w.FaxClassReceive->button(s.Modem.FaxClassReceive)->click();
    w.TransferRateReceive->setCurrentText(QString::number(s.Modem.MaximumBPSReceive));
    w.ModemInitReceive->setText(q(s.Modem.InitStringReceive));
    w.AnswerOnRing->button(s.Receive.AnswerOnRing - 1)->click();
    w.ReceiveAtStartup->setChecked(s.Receive.AtStartup);
    w.UseECMReceive->setChecked(s.Receive.ECMReceive);
    w.WaveFileEdit->setText(q(s.Receive.Wav));
    w.PrintFaxOnReceipt->setChecked(s.Receive.PrintOnReceipt);
    w.PrintFaxOnReceiptPrinter->setCurrentText(q(s.Receive.PrintOnReceiptPrinter));
    w.DisableReceivingFaxesNotification->setChecked(s.Receive.DisableReceivingFaxesNotification);
    w.ImposeWaitBeforePrinting->setChecked(s.Other.ImposeWaitBeforePrinting);
    w.UseAltHeaderFont->setChecked(s.Other.UseAlternateHeaderFont);
    w.UseAlternateNameReceive->setChecked(s.Other.GlobalUseAlternateNamingRec);
    w.UseLargerSendBuffer->setChecked(s.Other.GlobalLargerSendBuffer);
    w.UseLargerReceiveBuffer->setChecked(s.Other.GlobalLargerReceiveBuffer);
}

std::string settingsText(const settings::Settings& s) {
    settings::IniFile ini;
    s.save(ini);
    return ini.text();
}

class PreferencesTest : public SessionsTest {
protected:
    void SetUp() override {
        SessionsTest::SetUp();
        savedPrinters_ = printerNameSource();
        printerNameSource() = [] { return QStringList{"Office Laser", "Label Printer"}; };
        motorolaSM56Active() = false;
    }
    void TearDown() override {
        printerNameSource() = savedPrinters_;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<app::THelpWindow*>(w)) w->close();
        SessionsTest::TearDown();
    }
    int questions(const QString& caption) {
        int n = 0;
        for (const PromptRecord& r : prompts().records)
            if (r.caption == caption) ++n;
        return n;
    }

private:
    std::function<QStringList()> savedPrinters_;
};

TEST_F(PreferencesTest, PagesTitlesAndTheButtonsOfEachPage) {
    TPreferences w;
    w.loadFromSettings(app::appSettings());
    w.show();
    EXPECT_EQ(w.windowTitle(), "Preferences Wizard");
    const QStringList titles{"Wizard Information",       "Modem and Communications Port", "Sending Faxes - Part 1",
                             "Sending Faxes - Part 2",   "Sending Faxes - Part 3",        "Receiving Faxes - Part 1",
                             "Receiving Faxes - Part 2", "Receiving Faxes - Part 3",      "Advanced"};
    ASSERT_EQ(w.PageCombo->count(), 9);
    EXPECT_EQ(w.PageCombo->maxVisibleItems(), 9);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(w.PageCombo->itemText(i), titles[i]);
    EXPECT_EQ(w.currentPage(), 0);
    EXPECT_FALSE(w.BackButton->isEnabled());
    EXPECT_TRUE(w.FirstTimeLabel->isHidden());
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(w.currentPage(), i);
        EXPECT_EQ(w.PageLabel->text(), titles[i]);
        EXPECT_EQ(w.PageCombo->currentIndex(), i);
        EXPECT_EQ(w.BackButton->isEnabled(), i > 0);
        EXPECT_EQ(w.Nextbutton->isEnabled(), i < 8);
        EXPECT_TRUE(w.Finishbutton->isEnabled());
        w.Nextbutton->click();
    }
    EXPECT_EQ(w.currentPage(), 8);  // Next stops at the last page
    w.BackButton->click();
    EXPECT_EQ(w.currentPage(), 7);
    // Choosing an entry in the list jumps there.
    emit w.PageCombo->activated(2);
    EXPECT_EQ(w.currentPage(), 2);
    EXPECT_EQ(w.PageLabel->text(), "Sending Faxes - Part 1");
    EXPECT_EQ(w.Helpbutton->text(), "&Help");
    EXPECT_EQ(w.ProblemSolverButton->text(), "&Technical Help");
    EXPECT_EQ(w.Cancelbutton->text(), "Cance&l");
    EXPECT_EQ(w.BackButton->text(), "< &Back");
    EXPECT_EQ(w.Nextbutton->text(), "&Next >");
    EXPECT_EQ(w.Finishbutton->text(), "&Finish");
}

// Every button of every page has an Alt+letter or a shortcut, and no Alt+letter of a page is
// claimed twice; the quick set-up and the modem helpers it opens likewise.
TEST_F(PreferencesTest, EveryButtonOfTheWizardAndTheQuickSetupHasItsOwnKey) {
    TPreferences w;
    w.loadFromSettings(app::appSettings());
    w.show();
    for (int page = 0; page < TPreferences::PageCount; ++page) {
        w.showPage(page);
        EXPECT_EQ(telvane::test::buttonsWithoutKeys(&w).join('|').toStdString(), "") << "page " << page;
        EXPECT_EQ(telvane::test::sharedMnemonics(&w).join('|').toStdString(), "") << "page " << page;
    }
    TQuickSetupForm quick;
    quick.show();
    EXPECT_EQ(telvane::test::buttonsWithoutKeys(&quick).join('|').toStdString(), "");
    EXPECT_EQ(telvane::test::sharedMnemonics(&quick).join('|').toStdString(), "");
}

TEST_F(PreferencesTest, FirstTimeModeAllowsFinishOnlyOnTheAdvancedPage) {
    TPreferences w;
    // Before anything runs, Back and Finish are off.
    EXPECT_FALSE(w.BackButton->isEnabled());
    w.setFirstTimeMode(true);
    w.loadFromSettings(app::appSettings());
    w.show();
    EXPECT_FALSE(w.FirstTimeLabel->isHidden());
    EXPECT_TRUE(w.FirstTimeLabel->text().startsWith("While the default settings will work for most people"));
    for (int i = 0; i < 9; ++i) {
        w.showPage(i);
        EXPECT_EQ(w.Finishbutton->isEnabled(), i == 8) << "page " << i;
    }
    w.showPage(8);
    w.BackButton->click();
    EXPECT_FALSE(w.Finishbutton->isEnabled());
}

TEST_F(PreferencesTest, HelpContextsByPage) {
    const int expected[9] = {1022, 3501, 3502, 3502, 3502, 3503, 3503, 3503, 0};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(TPreferences::helpContextForPage(i), expected[i]);
    TPreferences w;
    w.loadFromSettings(app::appSettings());
    w.showPage(TPreferences::Sending2);
    w.Helpbutton->click();
    app::THelpWindow* help = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* h = qobject_cast<app::THelpWindow*>(top)) help = h;
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->context(), 3502);
    w.showPage(TPreferences::ModemAndPort);
    w.Helpbutton->click();
    EXPECT_EQ(help->context(), 3501);
    w.ProblemSolverButton->click();
    EXPECT_EQ(help->context(), 10000);
    w.showPage(TPreferences::Advanced);
    EXPECT_FALSE(w.Helpbutton->isEnabled());
}

// Help asked for while the wizard runs modally opens in a window that the wizard's modality does
// not block (it belongs to the wizard), so it can be read, scrolled and closed.
TEST_F(PreferencesTest, HelpFromTheRunningWizardIsNotBlockedByIt) {
    QPointer<app::THelpWindow> help;
    bool belongsToWizard = false;
    whenModal<TPreferences>([&](TPreferences* w) {
        w->showPage(TPreferences::Receiving3);
        w->Helpbutton->click();
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* h = qobject_cast<app::THelpWindow*>(top); h && h->isVisible()) help = h;
        if (!help) {
            ADD_FAILURE() << "no help window";
        } else {
            belongsToWizard = help->parentWidget() == w;
            EXPECT_EQ(help->context(), 3503);
        }
        w->Cancelbutton->click();
    });
    EXPECT_FALSE(runPreferences(nullptr));
    EXPECT_TRUE(belongsToWizard);
}

TEST_F(PreferencesTest, QuestionsCaptionsAndAccelerators) {
    TPreferences w;
    w.loadFromSettings(app::appSettings());
    w.show();
    QStringList labels;
    for (QLabel* l : w.findChildren<QLabel*>()) labels << l->text();
    // Nothing names Windows things this system does not have.
    QStringList texts = labels;
    for (QAbstractButton* b : w.findChildren<QAbstractButton*>()) texts << b->text();
    for (int i = 0; i < w.PrintFaxOnReceiptPrinter->count(); ++i) texts << w.PrintFaxOnReceiptPrinter->itemText(i);
    for (const QString& t : texts)
        for (const char* word : {"Windows", "COM1 or COM2", "RAGE"}) EXPECT_FALSE(t.contains(word)) << t.toStdString();
    // The 23 questions, each once, in page order.
    int last = 0;
    for (int page = 0; page < 9; ++page) {
        for (QLabel* l : w.Pages->widget(page)->findChildren<QLabel*>()) {
            const QString t = l->text();
            const int dot = t.indexOf(". ");
            bool numbered = false;
            const int n = dot > 0 ? t.left(dot).toInt(&numbered) : 0;
            if (!numbered) continue;
            EXPECT_EQ(n, last + 1) << t.toStdString();
            last = n;
        }
    }
    EXPECT_EQ(last, 23);
    for (const char* text :
         {"1. Which communications port is your modem on? A USB modem is usually /dev/ttyACM0 (Com5) or "
          "/dev/ttyUSB0 (Com6), a built-in serial port /dev/ttyS0 (Com1). (Click on the Find Modem Port button for "
          "assistance.)",
          "9. Enter the dial prefix (i.e. a calling card number), and/or a dial suffix (i.e. access  code) here.  Do "
          "not include 'ATD', 'T' or 'P'.  ",
          "13. If the modem is not connected to a phone line which supplies a dial tone, check  Blind Dial.(This is "
          "the same as sending the ATX3 modem command)",
          "23. Disable the Receiving Faxes notification box when starting RECEIVE MODE. ",
          "Use this reset string BEFORE  fax sessions:", "(Usually AT&F or blank)", "(Usually ATZ or blank)",
          "(number to dial BEFORE the fax number)",
          "(HINT: Insert a comma in the prefix or suffix for a 2 second  "
          "pause. )",
          "To begin, click the Next button."})
        EXPECT_TRUE(labels.contains(QString::fromUtf8(text))) << text;
    EXPECT_EQ(w.findChild<QGroupBox*>("FaxClass")->title(), "Fax &class for SENDING Faxes");
    EXPECT_EQ(w.findChild<QGroupBox*>("FaxClassReceive")->title(), "Fax &class for RECEIVING Faxes");
    EXPECT_EQ(w.findChild<QGroupBox*>("AnswerOnRing")->title(), "Answer on ring");
    EXPECT_EQ(w.FaxClass->button(3)->text(), "class 2.0");
    EXPECT_EQ(w.ComPort->button(5)->text(), "Com6");
    EXPECT_EQ(w.AnswerOnRing->buttons().size(), 8);
    EXPECT_EQ(w.UseAltHeaderFont->text(), "Use alternate fax header font    (\"enhanced font is too large\" error)");
    EXPECT_EQ(w.SelectWavButton->text(), "&Choose");
    EXPECT_EQ(w.PlayWAVbutton->text(), "&Play Now");
    EXPECT_EQ(w.HelpWithInitbutton->text(), "Help with &Init Strings");
    EXPECT_EQ(w.HelpWithInitRECButton->text(), "Help With &Init Strings");
    EXPECT_EQ(w.Name->maxLength(), 35);
    EXPECT_EQ(w.FaxNumber->maxLength(), 20);
    EXPECT_TRUE(w.ModemInit->toolTip().contains("('ATE0Q0V1X4S0=0')"));
    EXPECT_EQ(w.ModemInitReceive->toolTip(), w.ModemInit->toolTip());
    EXPECT_TRUE(w.RenegotiateBetween->toolTip().contains("adds 2-3 seconds per page"));
    EXPECT_TRUE(w.findChild<QGroupBox*>("AnswerOnRing")->toolTip().contains("reduce the\nsetting to 1 or 2."));
    // Every caption with an accelerator moves the focus to its edit.
    QStringList missing;
    for (QLabel* label : w.findChildren<QLabel*>()) {
        if (!QString(label->text()).remove("&&").contains('&')) continue;
        // The one literal "&" (of a modem command) must not become an accelerator.
        if (label->text() == "(Usually AT&F or blank)") {
            EXPECT_EQ(label->buddy(), nullptr);
            continue;
        }
        if (!label->buddy()) missing << label->text();
    }
    EXPECT_TRUE(missing.isEmpty()) << missing.join('|').toStdString();
    // The printer list: the default entry, then the installed printers.
    EXPECT_EQ(w.PrintFaxOnReceiptPrinter->count(), 3);
    EXPECT_EQ(w.PrintFaxOnReceiptPrinter->itemText(0), "System default printer");
    EXPECT_EQ(w.PrintFaxOnReceiptPrinter->itemText(2), "Label Printer");
}

TEST_F(PreferencesTest, EveryControlShowsItsSetting) {
    const settings::Settings s = distinctSettings(dir());
    TPreferences w;
    w.loadFromSettings(s);
    expectControls(w, s);
    // The device of the selected port (COM4) is in the chooser.
    EXPECT_EQ(w.PortDevice->currentText(), "/dev/ttyS3");
    EXPECT_EQ(w.PortDeviceLabels[4]->text(), "/dev/ttyACM3");
}

TEST_F(PreferencesTest, FinishWritesEveryControlBackAndSaves) {
    const settings::Settings wanted = distinctSettings(dir());
    prompts().answers = {true};
    whenModal<TPreferences>([&](TPreferences* w) {
        setControls(*w, wanted);
        w->Finishbutton->click();
    });
    EXPECT_TRUE(runPreferences(nullptr));
    ASSERT_EQ(prompts().records.size(), 1);
    EXPECT_EQ(prompts().records[0].text, "Save changes?");
    EXPECT_EQ(prompts().records[0].caption, "Save Preferences");
    // The keys the wizard does not edit keep their values; all others are the controls'.
    settings::Settings expected = wanted;
    const settings::Settings untouched;
    expected.Dialing.Timeout = untouched.Dialing.Timeout;
    expected.DefaultFont = untouched.DefaultFont;
    expected.Hints = untouched.Hints;
    expected.User.PrefixDisable = untouched.User.PrefixDisable;
    expected.User.SuffixDisable = untouched.User.SuffixDisable;
    EXPECT_EQ(settingsText(app::appSettings()), settingsText(expected));
    settings::Settings stored;
    stored.loadFrom(dir());
    EXPECT_EQ(settingsText(stored), settingsText(expected));
    EXPECT_TRUE(motorolaSM56Active());
}

TEST_F(PreferencesTest, FinishWithoutChangesLeavesTheFileAsItWas) {
    // A file as the program writes it, with a comment and a section of someone else's.
    distinctSettings(dir()).saveTo(dir());
    const std::string written = "; kept by hand\n[Mine]\nKey=Value\n" + fileText(dir() + "TVN.INI");
    {
        QFile f(qdir() + "TVN.INI");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(written.data(), static_cast<qint64>(written.size()));
    }
    app::appSettings().loadFrom(dir());
    prompts().answers = {true};
    whenModal<TPreferences>([](TPreferences* w) {
        for (int i = 0; i < 8; ++i) w->Nextbutton->click();
        w->Finishbutton->click();
    });
    EXPECT_TRUE(runPreferences(nullptr));
    EXPECT_EQ(fileText(dir() + "TVN.INI"), written);
}

TEST_F(PreferencesTest, UnknownRateMissingPrinterAndOddValuesAreRewritten) {
    settings::IniFile ini;
    ini.writeString("Modem", "MaximumBPS", "19200");
    ini.writeString("Modem", "MaximumBPSReceive", "4800");
    ini.writeString("Receive", "PrintOnReceiptPrinter", "Printer Long Gone");
    ini.writeString("Receive", "AtStartup", "2");
    ini.writeString("Modem", "FaxClass", "7");
    ini.writeString("Modem", "ComPort", "1");
    ini.save(dir() + "TVN.INI");
    app::appSettings().loadFrom(dir());
    prompts().answers = {true};
    whenModal<TPreferences>([](TPreferences* w) {
        EXPECT_EQ(w->TransferRate->currentText(), "9600");
        EXPECT_EQ(w->TransferRateReceive->currentText(), "4800");
        EXPECT_EQ(w->PrintFaxOnReceiptPrinter->currentText(), "System default printer");
        EXPECT_TRUE(w->ReceiveAtStartup->isChecked());
        EXPECT_EQ(w->FaxClass->checkedId(), 3);  // past the last item: the last item
        w->Finishbutton->click();
    });
    EXPECT_TRUE(runPreferences(nullptr));
    const settings::IniFile after = settings::IniFile::load(dir() + "TVN.INI");
    EXPECT_EQ(after.value("Modem", "MaximumBPS"), "9600");
    EXPECT_EQ(after.value("Modem", "MaximumBPSReceive"), "4800");
    EXPECT_EQ(after.value("Receive", "PrintOnReceiptPrinter"), "Default Windows Printer");
    EXPECT_EQ(after.value("Receive", "AtStartup"), "1");
    EXPECT_EQ(after.value("Modem", "FaxClass"), "3");
    EXPECT_EQ(after.value("Modem", "ComPort"), "1");
}

TEST_F(PreferencesTest, NoToSaveChangesKeepsTheWizardOpenWithTheEdits) {
    prompts().answers = {false};
    bool stillOpen = false;
    QString kept;
    whenModal<TPreferences>([&](TPreferences* w) {
        w->showPage(TPreferences::Sending2);
        w->Name->setText("Changed Name");
        w->Finishbutton->click();
        stillOpen = w->isVisible();
        kept = w->Name->text();
        w->Cancelbutton->click();
    });
    EXPECT_FALSE(runPreferences(nullptr));
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(kept, "Changed Name");
    EXPECT_EQ(app::appSettings().User.Name, "");
    EXPECT_FALSE(QFile::exists(qdir() + "TVN.INI"));
}

TEST_F(PreferencesTest, ANumberThatDoesNotReadIsNamedAndNothingIsSaved) {
    const settings::Settings before = app::appSettings();
    prompts().answers = {true, true, true};
    QString afterFirst, afterSecond;
    int pageAfterFirst = -1;
    bool focusOnField = false;
    whenModal<TPreferences>([&](TPreferences* w) {
        w->Name->setText("New Name");
        w->DialAttempts->setText("abc");
        w->showPage(TPreferences::Advanced);
        w->Finishbutton->click();
        pageAfterFirst = w->currentPage();
        focusOnField = w->focusWidget() == w->DialAttempts;
        afterFirst = w->DialAttempts->text();
        w->DialAttempts->setText(" 7 ");
        w->RetryWait->setText("12.5");
        w->Finishbutton->click();
        afterSecond = w->RetryWait->text();
        w->RetryWait->setText("30");
        w->Finishbutton->click();
    });
    EXPECT_TRUE(runPreferences(nullptr));
    const QStringList infos = [&] {
        QStringList t;
        for (const PromptRecord& r : prompts().records)
            if (r.kind == PromptRecord::Information) t << r.text;
        return t;
    }();
    ASSERT_EQ(infos.size(), 2);
    EXPECT_TRUE(infos[0].startsWith("'abc' is not a valid integer value for the number of dial attempts"));
    EXPECT_TRUE(infos[1].startsWith("'12.5' is not a valid integer value for the number of seconds between dial"));
    EXPECT_TRUE(infos[0].contains("have not been saved"));
    // The wizard stayed open on the field, with every edit kept.
    EXPECT_EQ(pageAfterFirst, TPreferences::Sending3);
    EXPECT_TRUE(focusOnField);
    EXPECT_EQ(afterFirst, "abc");
    EXPECT_EQ(afterSecond, "12.5");
    EXPECT_EQ(app::appSettings().Dialing.DialAttempts, 7);
    EXPECT_EQ(app::appSettings().Dialing.RetryWait, 30);
    EXPECT_EQ(app::appSettings().User.Name, "New Name");
    EXPECT_NE(before.User.Name, "New Name");
}

TEST_F(PreferencesTest, FailedNumberLeavesSettingsAndFileUntouched) {
    app::appSettings().saveTo(dir());
    const std::string file = fileText(dir() + "TVN.INI");
    prompts().answers = {true};
    whenModal<TPreferences>([](TPreferences* w) {
        w->Name->setText("Not Stored");
        w->ToneOrPulse->button(1)->click();
        w->RetryWait->setText("");
        w->Finishbutton->click();
        w->Cancelbutton->click();
    });
    EXPECT_FALSE(runPreferences(nullptr));
    EXPECT_EQ(prompts().count(PromptRecord::Information), 1);
    EXPECT_EQ(app::appSettings().User.Name, "");
    EXPECT_EQ(app::appSettings().Dialing.ToneOrPulse, 0);
    EXPECT_EQ(fileText(dir() + "TVN.INI"), file);
}

TEST_F(PreferencesTest, SameAsSendCopiesClassRatePositionAndInit) {
    TPreferences w;
    settings::Settings s;
    s.Modem.FaxClass = 2;
    s.Modem.FaxClassReceive = 0;
    s.Modem.MaximumBPS = 14400;
    s.Modem.MaximumBPSReceive = 2400;
    s.Modem.InitString = "AT&H3&I2&R2S7=90";
    s.Modem.InitStringReceive = "";
    w.loadFromSettings(s);
    w.RecClassSameAsSendButton->click();
    EXPECT_EQ(w.FaxClassReceive->checkedId(), 2);
    w.RecBPSSameAsSendButton->click();
    EXPECT_EQ(w.TransferRateReceive->currentIndex(), 5);
    EXPECT_EQ(w.TransferRateReceive->currentText(), "14400");
    w.RecInitSameAsSendButton->click();
    EXPECT_EQ(w.ModemInitReceive->text(), "AT&H3&I2&R2S7=90");
    // The sending side is not touched.
    EXPECT_EQ(w.FaxClass->checkedId(), 2);
    EXPECT_EQ(w.TransferRate->currentText(), "14400");
}

// A 16-bit mono WAV file with a short tone.
void writeWav(const QString& path) {
    QByteArray samples;
    for (int i = 0; i < 800; ++i) {
        const qint16 v = static_cast<qint16>((i / 10) % 2 ? 8000 : -8000);
        samples.append(reinterpret_cast<const char*>(&v), 2);
    }
    auto le32 = [](quint32 v) { return QByteArray(reinterpret_cast<const char*>(&v), 4); };
    auto le16 = [](quint16 v) { return QByteArray(reinterpret_cast<const char*>(&v), 2); };
    QByteArray data = "RIFF" + le32(36 + samples.size()) + "WAVEfmt " + le32(16) + le16(1) + le16(1) + le32(8000) +
                      le32(16000) + le16(2) + le16(16) + "data" + le32(samples.size()) + samples;
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

TEST_F(PreferencesTest, WaveChooserPlayNowAndNone) {
    writeWav(qdir() + "ring.wav");
    writeWav(qdir() + "other.WAV");
    {
        QFile f(qdir() + "notes.txt");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    TPreferences w;
    w.loadFromSettings(app::appSettings());
    // Nothing named: the dialog opens in the program's directory; a chosen .WAV (any case) is taken.
    whenModal<QFileDialog>([this](QFileDialog* d) {
        EXPECT_EQ(QDir(d->directory()).canonicalPath(), QDir(qdir()).canonicalPath());
        EXPECT_TRUE(d->nameFilters().join(' ').contains("*.wav"));
        d->selectFile(qdir() + "other.WAV");
        static_cast<QDialog*>(d)->accept();
    });
    w.SelectWavButton->click();
    EXPECT_EQ(QFileInfo(w.WaveFileEdit->text()).fileName(), "other.WAV");

    // The named file is preselected; a file that is not a WAV is not taken.
    w.WaveFileEdit->setText(qdir() + "ring.wav");
    QStringList preselected;
    whenModal<QFileDialog>([&](QFileDialog* d) {
        preselected = d->selectedFiles();
        d->selectFile(qdir() + "notes.txt");
        static_cast<QDialog*>(d)->accept();
    });
    w.SelectWavButton->click();
    ASSERT_EQ(preselected.size(), 1);
    EXPECT_EQ(QFileInfo(preselected[0]).fileName(), "ring.wav");
    EXPECT_EQ(w.WaveFileEdit->text(), qdir() + "ring.wav");

    // Cancelling the dialog changes nothing.
    whenModal<QFileDialog>([](QFileDialog* d) { d->reject(); });
    w.SelectWavButton->click();
    EXPECT_EQ(w.WaveFileEdit->text(), qdir() + "ring.wav");

#ifdef TELVANE_HAVE_MULTIMEDIA
    EXPECT_TRUE(w.PlayWAVbuttonClick());
    w.WaveFileEdit->setText("ring.wav");  // relative to the program's directory
    EXPECT_TRUE(w.PlayWAVbuttonClick());
#endif
    w.WaveFileEdit->setText(qdir() + "missing.wav");
    EXPECT_FALSE(w.PlayWAVbuttonClick());
    EXPECT_TRUE(prompts().records.isEmpty());  // silent
    w.NoWAVButton->click();
    EXPECT_EQ(w.WaveFileEdit->text(), "");
    EXPECT_FALSE(w.PlayWAVbuttonClick());
}

TEST_F(PreferencesTest, SM56BoxSetsTheRunTimeFlagAtOnceAndTheSettingOnFinish) {
    whenModal<TPreferences>([](TPreferences* w) {
        w->chkSM56->click();
        EXPECT_TRUE(motorolaSM56Active());
        w->Cancelbutton->click();
    });
    EXPECT_FALSE(runPreferences(nullptr));
    EXPECT_TRUE(motorolaSM56Active());
    EXPECT_FALSE(app::appSettings().Other.UseMotorolaSM56Fix);

    motorolaSM56Active() = false;
    prompts().answers = {true};
    whenModal<TPreferences>([](TPreferences* w) {
        w->chkSM56->setChecked(true);  // set without the click event: Finish still carries it over
        w->Finishbutton->click();
    });
    EXPECT_TRUE(runPreferences(nullptr));
    EXPECT_TRUE(motorolaSM56Active());
    EXPECT_TRUE(app::appSettings().Other.UseMotorolaSM56Fix);
}

TEST_F(PreferencesTest, PortDevicesAreShownAndChangedHere) {
    prompts().answers = {true};
    whenModal<TPreferences>([](TPreferences* w) {
        EXPECT_EQ(w->PortDeviceLabels[0]->text(), "/dev/ttyS0");
        EXPECT_EQ(w->PortDeviceLabels[4]->text(), "/dev/ttyACM0");
        EXPECT_EQ(w->PortDevice->currentText(), "/dev/ttyS0");  // COM1 is selected
        w->ComPort->button(4)->click();
        EXPECT_EQ(w->PortDevice->currentText(), "/dev/ttyACM0");
        w->PortDevice->setEditText("/dev/ttyACM1");
        EXPECT_EQ(w->PortDeviceLabels[4]->text(), "/dev/ttyACM1");
        // Another port keeps its own device; an emptied one falls back to its default.
        w->ComPort->button(5)->click();
        EXPECT_EQ(w->PortDevice->currentText(), "/dev/ttyUSB0");
        w->PortDevice->setEditText("");
        w->ComPort->button(4)->click();
        EXPECT_EQ(w->PortDevice->currentText(), "/dev/ttyACM1");
        w->Finishbutton->click();
    });
    EXPECT_TRUE(runPreferences(nullptr));
    EXPECT_EQ(app::appSettings().Modem.ComPort, 4);
    EXPECT_EQ(app::appSettings().Ports[4], "/dev/ttyACM1");
    EXPECT_EQ(app::appSettings().Ports[5], "/dev/ttyUSB0");
    const settings::IniFile ini = settings::IniFile::load(dir() + "TVN.INI");
    EXPECT_EQ(ini.value("Ports", "Com5"), "/dev/ttyACM1");
    EXPECT_EQ(ini.value("Modem", "ComPort"), "4");

    // Cancel drops a device change.
    whenModal<TPreferences>([](TPreferences* w) {
        w->PortDevice->setEditText("/dev/ttyUSB7");
        w->Cancelbutton->click();
    });
    EXPECT_FALSE(runPreferences(nullptr));
    EXPECT_EQ(app::appSettings().Ports[4], "/dev/ttyACM1");
}

TEST_F(PreferencesTest, DeviceListIsReadAgainWhenItDropsDown) {
    const auto saved = serialDeviceSource();
    QStringList present{"/dev/ttyS0"};
    serialDeviceSource() = [&present] { return present; };
    TPreferences w;
    w.loadFromSettings(app::appSettings());
    w.show();
    EXPECT_EQ(w.PortDevice->count(), 1);
    // A USB modem plugged in while the wizard is open.
    present << "/dev/ttyACM0"
            << "/dev/serial/by-id/usb-Acme_Modem-if00";
    w.PortDevice->setEditText("/dev/ttyS4");
    w.PortDevice->showPopup();
    EXPECT_EQ(w.PortDevice->count(), 3);
    EXPECT_EQ(w.PortDevice->itemText(2), "/dev/serial/by-id/usb-Acme_Modem-if00");
    EXPECT_EQ(w.PortDevice->currentText(), "/dev/ttyS4");
    w.PortDevice->hidePopup();
    w.PortDevice->setCurrentIndex(2);
    EXPECT_EQ(w.portDevices()[0], "/dev/serial/by-id/usb-Acme_Modem-if00");
    serialDeviceSource() = saved;
}

TEST_F(PreferencesTest, FindModemScansTheUnsavedDevicesAndOffersThePort) {
    FakeModem modem(dir() + "m3", FakeModem::standardReply);
    settings::Settings& s = app::appSettings();
    s.Ports = {dir() + "n1", dir() + "n2", dir() + "n3", dir() + "n4", dir() + "n5", dir() + "n6"};
    const auto savedPorts = s.Ports;
    TPreferences w;
    w.loadFromSettings(s);
    // COM3 is pointed at the modem in the wizard only.
    w.ComPort->button(2)->click();
    w.PortDevice->setEditText(QString::fromStdString(modem.path()));
    w.ComPort->button(0)->click();
    prompts().answers = {true};
    whenModal<TFindModemForm>([](TFindModemForm* f) { clickWhenVisible(f->OkButton); });
    w.FindModemButton->click();
    // The scan ends with a beep; the one question is the port's.
    ASSERT_EQ(prompts().count(PromptRecord::YesNo), 1);
    EXPECT_EQ(questions("Com Port"), 1);
    EXPECT_TRUE(prompts().texts().contains("Set Com Port to Com 3"));
    EXPECT_EQ(w.ComPort->checkedId(), 2);
    EXPECT_EQ(modem.commands(), std::vector<std::string>{"AT"});
    EXPECT_EQ(s.Ports, savedPorts);  // nothing stored yet
    EXPECT_EQ(s.Modem.ComPort, 0);
    EXPECT_FALSE(w.OvxComPort1.Open());

    // The port found is already the selected one: no question.
    prompts().records.clear();
    whenModal<TFindModemForm>([](TFindModemForm* f) { clickWhenVisible(f->OkButton); });
    w.FindModemButton->click();
    EXPECT_EQ(prompts().count(PromptRecord::YesNo), 0);
    EXPECT_EQ(w.ComPort->checkedId(), 2);
}

TEST_F(PreferencesTest, CheckFaxClassRunsOnTheSelectedPortAndOffersItsGroup) {
    FakeModem modem(dir() + "m2", FakeModem::standardReply);
    app::appSettings().Ports[1] = modem.path();
    settings::Settings s = app::appSettings();
    s.Modem.FaxClass = 1;
    s.Modem.FaxClassReceive = 3;
    TPreferences w;
    w.loadFromSettings(s);
    w.ComPort->button(1)->click();  // COM2, not saved

    // Receiving page: class 1 is recommended and offered for the receiving group.
    prompts().answers = {true};
    whenModal<TCheckFaxClassForm>([](TCheckFaxClassForm* f) { clickWhenVisible(f->OkButton); });
    w.CheckRecFaxClassbutton->click();
    EXPECT_EQ(questions("Fax Class"), 1);
    EXPECT_TRUE(prompts().texts().contains("Set fax class as Class 1 ?"));
    EXPECT_EQ(w.FaxClassReceive->checkedId(), 1);
    const auto sent = modem.commands();
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent[0], "AT");
    EXPECT_EQ(sent[1], "AT&F");
    EXPECT_NE(std::find(sent.begin(), sent.end(), "AT+FCLASS=?"), sent.end());

    // Sending page: the sending class is class 1 already, so nothing is asked.
    prompts().records.clear();
    whenModal<TCheckFaxClassForm>([](TCheckFaxClassForm* f) { clickWhenVisible(f->OkButton); });
    w.CheckFaxClassButton->click();
    EXPECT_EQ(prompts().count(PromptRecord::YesNo), 0);

    // A different sending class is offered for the sending group; No keeps it.
    w.FaxClass->button(2)->click();
    w.FaxClassReceive->button(0)->click();
    prompts().answers = {false};
    whenModal<TCheckFaxClassForm>([](TCheckFaxClassForm* f) { clickWhenVisible(f->OkButton); });
    w.CheckFaxClassButton->click();
    EXPECT_EQ(questions("Fax Class"), 1);
    EXPECT_EQ(w.FaxClass->checkedId(), 2);
    prompts().answers = {true};
    whenModal<TCheckFaxClassForm>([](TCheckFaxClassForm* f) { clickWhenVisible(f->OkButton); });
    w.CheckFaxClassButton->click();
    EXPECT_EQ(w.FaxClass->checkedId(), 1);
    EXPECT_EQ(w.FaxClassReceive->checkedId(), 0);
    EXPECT_FALSE(w.OvxComPort1.Open());
}

TEST_F(PreferencesTest, InitStringButtonsPutTheHelpersAnswerBack) {
    TPreferences w;
    settings::Settings s;
    s.Modem.InitString = "AT&H3&I2&R2S7=90S36=8";
    s.Modem.InitStringReceive = "ATX3";
    w.loadFromSettings(s);
    whenModal<TModemInitStringHelperForm>([](TModemInitStringHelperForm* f) {
        EXPECT_EQ(f->ModemType->checkedId(), 3);
        EXPECT_TRUE(f->CheckAT7->isVisible());
        f->ModemType->button(4)->click();
        f->CheckAT7->click();
        f->BitBtn1->click();
    });
    w.HelpWithInitbutton->click();
    EXPECT_EQ(w.ModemInit->text(), "AT&H3&I2&R2S7=120S36=8S33=34");

    whenModal<TModemInitStringHelperForm>([](TModemInitStringHelperForm* f) {
        EXPECT_TRUE(f->CheckAT7->isHidden());
        f->BitBtn2->click();
    });
    w.HelpWithInitRECButton->click();
    EXPECT_EQ(w.ModemInitReceive->text(), "ATX3");
    whenModal<TModemInitStringHelperForm>([](TModemInitStringHelperForm* f) {
        f->ModemType->button(5)->click();
        f->BitBtn1->click();
    });
    w.HelpWithInitRECButton->click();
    EXPECT_EQ(w.ModemInitReceive->text(), "AT&F&C1&D2\\Q3S7=65");
    whenModal<TModemInitStringHelperForm>([](TModemInitStringHelperForm* f) { f->BitBtn3->click(); });
    w.HelpWithInitRECButton->click();
    EXPECT_EQ(w.ModemInitReceive->text(), "");
    EXPECT_EQ(w.ModemInit->text(), "AT&H3&I2&R2S7=120S36=8S33=34");
}

// Every widget of every page lies inside the window, and every wrapped text gets the height it needs.
TEST_F(PreferencesTest, EveryPageShowsItsTextsWhole) {
    TPreferences w;
    w.setFirstTimeMode(true);
    w.loadFromSettings(app::appSettings());
    w.show();
    EXPECT_LE(w.height(), 740);
    for (int page = 0; page < TPreferences::PageCount; ++page) {
        w.showPage(page);
        QCoreApplication::processEvents();
        QWidget* p = w.Pages->widget(page);
        const QRect inside = p->rect();
        for (QWidget* child : p->findChildren<QWidget*>()) {
            if (!child->isVisibleTo(p)) continue;
            const QRect r(child->mapTo(p, QPoint(0, 0)), child->size());
            EXPECT_TRUE(inside.contains(r)) << "page " << page << ": " << child->objectName().toStdString() << " "
                                            << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
            if (auto* label = qobject_cast<QLabel*>(child); label && label->wordWrap()) {
                EXPECT_GE(label->height(), label->heightForWidth(label->width()))
                    << "page " << page << ": " << label->text().toStdString();
            }
        }
    }
}

TEST_F(PreferencesTest, SendDialogRefillsItsFieldsOnlyWhenTheWizardSaved) {
    app::appSettings().Dialing.DialPrefix = "9,";
    TSendFaxForm form;
    form.OpenPreferences = [&form] { return runPreferences(&form); };  // as the main window's command does
    form.show();
    form.sfDialPrefix->setText("typed here");
    // Cancel: the typed prefix stays.
    whenModal<TPreferences>([](TPreferences* w) {
        w->DialPrefix->setText("8,");
        w->Cancelbutton->click();
    });
    form.PreferencesButton->click();
    EXPECT_EQ(form.sfDialPrefix->text(), "typed here");
    // Saved without touching the prefix: the dialog still takes the settings over.
    prompts().answers = {true};
    whenModal<TPreferences>([](TPreferences* w) {
        w->FaxClass->button(2)->click();
        w->Finishbutton->click();
    });
    form.PreferencesButton->click();
    EXPECT_EQ(form.sfDialPrefix->text(), "9,");
    EXPECT_TRUE(form.SetupDisplayMemo->toPlainText().contains("Fax Class: Class 2"));
    prompts().answers = {true};
    whenModal<TPreferences>([](TPreferences* w) {
        w->DialPrefix->setText("8,");
        w->DialSuffix->setText("#1");
        w->Finishbutton->click();
    });
    form.PreferencesButton->click();
    EXPECT_EQ(form.sfDialPrefix->text(), "8,");
    EXPECT_EQ(form.sfDialsuffix->text(), "#1");
}

class PreferencesMainWindowTest : public PreferencesTest {
protected:
    void SetUp() override {
        PreferencesTest::SetUp();
        commands_ = app::MainWindowCommands{};
        sessions::addSessionCommands(commands_);
    }
    void TearDown() override {
        if (window_) window_->close();
        window_.reset();
        commands_ = app::MainWindowCommands{};
        app::setMainWindow(nullptr);
        PreferencesTest::TearDown();
    }
    app::MainWindowCommands commands_;
    std::unique_ptr<shell::TMainScreen> window_;
};

TEST_F(PreferencesMainWindowTest, FirstStartQuickSetupCancelledThenTheWizardIsInFirstTimeMode) {
    ASSERT_FALSE(QFile::exists(qdir() + "TVN.INI"));
    app::appSettings() = settings::Settings{};
    bool quickSetupShown = false;
    whenModal<TQuickSetupForm>([&](TQuickSetupForm* f) {
        quickSetupShown = true;
        f->Cancelbutton->click();
    });
    window_ = std::make_unique<shell::TMainScreen>(commands_);
    app::setMainWindow(window_.get());
    window_->show();
    ASSERT_TRUE(waitUntil([this] { return !window_->firstActivationPending(); }, 30));
    EXPECT_TRUE(quickSetupShown);
    EXPECT_TRUE(app::firstRunSetupPending());

    bool firstTime = false, labelShown = false;
    QList<bool> finishByPage;
    whenModal<TPreferences>([&](TPreferences* w) {
        firstTime = w->firstTimeMode();
        labelShown = w->FirstTimeLabel->isVisible();
        for (int i = 0; i < 9; ++i) {
            finishByPage << w->Finishbutton->isEnabled();
            w->Nextbutton->click();
        }
        w->Cancelbutton->click();
    });
    window_->mnuPreferencesClick();
    EXPECT_TRUE(firstTime);
    EXPECT_TRUE(labelShown);
    EXPECT_EQ(finishByPage, (QList<bool>{false, false, false, false, false, false, false, false, true}));
    EXPECT_FALSE(app::firstRunSetupPending());

    // The next opening is an ordinary one; Finish saves the file with the port shown (COM1).
    prompts().answers = {true};
    whenModal<TPreferences>([&](TPreferences* w) {
        firstTime = w->firstTimeMode();
        labelShown = w->FirstTimeLabel->isVisible();
        EXPECT_EQ(w->ComPort->checkedId(), 0);
        w->Finishbutton->click();
    });
    window_->mnuPreferencesClick();
    EXPECT_FALSE(firstTime);
    EXPECT_FALSE(labelShown);
    EXPECT_EQ(settings::IniFile::load(dir() + "TVN.INI").value("Modem", "ComPort"), "0");
    for (const PromptRecord& r : prompts().records) EXPECT_FALSE(r.text.contains("not available"));
}

}  // namespace
}  // namespace telvane::sessiontest
