// Window helpers offscreen: placement sections and clamping, prompts, centring, the single-instance start.
#include <gtest/gtest.h>

#include <QApplication>

#include "support/qtapp.h"
#include <QDialog>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <functional>
#include <memory>
#include <vector>
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStyle>
#include <QTest>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include "app/helpwindow.h"
#include "settings/inifile.h"
#include "app/placement.h"
#include "settings/settings.h"
#include "app/uihelpers.h"
#include "support/modal.h"
#include "support/scriptedprompter.h"

using namespace telvane;
using namespace telvane::app;

namespace {

QApplication* qtApp() { return telvane::test::application(); }

class PlacedWindow : public QMainWindow {};

}  // namespace

TEST(Placement, SectionCarriesDensityAbove96) {
    EXPECT_EQ(placementSection("TMainScreen", 96), "TMainScreen_Placement");
    EXPECT_EQ(placementSection("TMainScreen", 72), "TMainScreen_Placement");
    EXPECT_EQ(placementSection("TMainScreen", 120), "TMainScreen_Placement120");
}

TEST(Placement, ClampMovesRectangleOntoTheScreen) {
    const QSize screen(800, 600);
    // Right edge past a smaller screen: right edge ends at the screen's edge.
    QRect r = clampToScreen(QRect(QPoint(700, 100), QPoint(899, 299)), screen);
    EXPECT_EQ(r.left() + r.width(), 800);
    EXPECT_EQ(r.width(), 200);
    EXPECT_EQ(r.top(), 100);
    // Wider than the screen: the left edge goes to 1.
    r = clampToScreen(QRect(0, 0, 1000, 100), screen);
    EXPECT_EQ(r.left(), 1);
    // Bottom past the screen, and taller than the screen.
    r = clampToScreen(QRect(10, 550, 100, 100), screen);
    EXPECT_EQ(r.top() + r.height(), 600);
    r = clampToScreen(QRect(10, 0, 100, 700), screen);
    EXPECT_EQ(r.top(), 1);
    // Inside: unchanged.
    EXPECT_EQ(clampToScreen(QRect(5, 6, 70, 80), screen), QRect(5, 6, 70, 80));
}

TEST(Placement, SurvivesSaveAndRestore) {
    qtApp();
    QTemporaryDir dir;
    const std::string pd = dir.path().toStdString() + "/";
    QRect saved;
    {
        PlacedWindow w;
        w.show();
        w.setGeometry(40, 50, 300, 200);
        saved = w.geometry();
        saveWindowPlacement(&w, pd);
    }
    const settings::IniFile ini = settings::IniFile::load(pd + "TVN.INI");
    const int ppi = qRound(qtApp()->primaryScreen()->logicalDotsPerInch());
    const std::string section = placementSection("QMainWindow", ppi).toStdString();
    // The class name of the window is the section; a subclass without Q_OBJECT reports its base.
    EXPECT_EQ(ini.readInteger(section, "Left", -1), saved.left());
    EXPECT_EQ(ini.readInteger(section, "Top", -1), saved.top());
    EXPECT_EQ(ini.readInteger(section, "Right", -1), saved.left() + saved.width());
    EXPECT_EQ(ini.readInteger(section, "Bottom", -1), saved.top() + saved.height());
    EXPECT_EQ(ini.value(section, "Maximized"), "0");
    PlacedWindow w2;
    restoreWindowPlacement(&w2, pd);
    EXPECT_EQ(w2.geometry(), saved);
}

TEST(Placement, AClosingWindowLosesOnlyItsPlacementWhenTheSettingsCannotBeWritten) {
    qtApp();
    const std::string missing = "/nonexistent-telvane-dir/";
    PlacedWindow w;
    w.setGeometry(40, 50, 300, 200);
    EXPECT_THROW(saveWindowPlacement(&w, missing), settings::IniError);
    EXPECT_NO_THROW(keepWindowPlacement(&w, missing));

    QTemporaryDir dir;
    const std::string pd = dir.path().toStdString() + "/";
    keepWindowPlacement(&w, pd);
    PlacedWindow back;
    restoreWindowPlacement(&back, pd);
    EXPECT_EQ(back.geometry(), w.geometry());
}

TEST(Placement, MaximizedIsRestoredMaximized) {
    qtApp();
    QTemporaryDir dir;
    const std::string pd = dir.path().toStdString() + "/";
    const int ppi = qRound(qtApp()->primaryScreen()->logicalDotsPerInch());
    settings::IniFile ini;
    ini.writeBool(placementSection("QMainWindow", ppi).toStdString(), "Maximized", true);
    ini.save(pd + "TVN.INI");
    PlacedWindow w;
    restoreWindowPlacement(&w, pd);
    EXPECT_TRUE(w.windowState() & Qt::WindowMaximized);
}

TEST(Prompts, ScriptedPrompterRecordsAndCutsTexts) {
    qtApp();
    ScopedScriptedPrompter p;
    p->answers = {true};
    EXPECT_TRUE(AskYesNo(QString(300, QLatin1Char('a')), QString(300, QLatin1Char('c'))));
    EXPECT_FALSE(AskYesNoDefaultNo("Delete?", "Delete"));  // queue empty: default answer
    ShowInformation("Note");
    soundBeep();
    ASSERT_EQ(p->records.size(), 4);
    EXPECT_EQ(p->records[0].kind, PromptRecord::YesNo);
    EXPECT_EQ(p->records[0].text.size(), 255);
    EXPECT_EQ(p->records[0].caption.size(), 255);
    EXPECT_EQ(p->records[1].kind, PromptRecord::YesNoDefaultNo);
    EXPECT_EQ(p->records[2].kind, PromptRecord::Information);
    EXPECT_EQ(p->records[2].caption, "Information");
    EXPECT_EQ(p->count(PromptRecord::Beep), 1);
}

// A message box with a short text under a long title is wide enough for the whole title in the
// title bar ("Save … nces" was all a window manager could show of "Save Preferences").
TEST(Prompts, MessageBoxesKeepTheirTitleWhole) {
    qtApp();
    setPrompter(nullptr);
    struct Box {
        QString title;
        std::function<void()> ask;
    };
    const std::vector<Box> boxes = {
        {"Save Preferences", [] { AskYesNo("Save changes?", "Save Preferences"); }},
        {"Delete All Faxes Before This Date", [] { AskYesNoDefaultNo("Sure?", "Delete All Faxes Before This Date"); }},
        {"Save Changes to the Cover Template", [] { askYesNoCancel("Save?", "Save Changes to the Cover Template"); }},
    };
    for (const Box& b : boxes) {
        int width = 0, room = 0, titleText = 0;
        QString title;
        telvane::test::whenModal<QMessageBox>([&](QMessageBox* box) {
            title = box->windowTitle();
            width = box->width();
            room = titleRoomWidth(title, box->font());
            titleText = QFontMetrics(box->font()).horizontalAdvance(title);
            box->reject();
        });
        b.ask();
        EXPECT_EQ(title, b.title);
        EXPECT_GE(width, room) << b.title.toStdString();
        EXPECT_GE(width, titleText + 120) << b.title.toStdString();
    }
}

TEST(Centring, DialogCentredOverMainWindow) {
    qtApp();
    QMainWindow main;
    main.setGeometry(100, 100, 600, 400);
    main.show();
    setMainWindow(&main);
    QDialog dialog;
    dialog.resize(200, 100);
    centerDialog(&dialog);
    const QRect mf = main.frameGeometry();
    EXPECT_EQ(dialog.x(), mf.left() + (mf.width() - dialog.frameGeometry().width()) / 2);
    EXPECT_EQ(dialog.y(), mf.top() + (mf.height() - dialog.frameGeometry().height()) / 2);
    setMainWindow(nullptr);
}

// A dialog whose size comes from its layout is centred with that size, not with the size it has
// before it is shown (which put its top-left corner at the main window's centre), and a dialog
// near the screen's edge is kept on the screen.
TEST(Centring, LaidOutDialogIsCentredWithItsRealSizeAndStaysOnTheScreen) {
    qtApp();
    QMainWindow main;
    main.setGeometry(100, 100, 600, 400);
    main.show();
    setMainWindow(&main);
    {
        QDialog dialog;
        auto* layout = new QVBoxLayout(&dialog);
        auto* big = new QLabel(QStringLiteral("content"));
        big->setMinimumSize(420, 300);
        layout->addWidget(big);
        centerDialog(&dialog);
        dialog.show();
        QApplication::processEvents();
        const QRect mf = main.frameGeometry();
        const QRect df = dialog.frameGeometry();
        EXPECT_GE(df.width(), 420);
        EXPECT_NEAR(df.center().x(), mf.center().x(), 2);
        EXPECT_NEAR(df.center().y(), mf.center().y(), 2);
    }
    const QRect avail = main.screen()->availableGeometry();
    main.move(avail.right() - 200, avail.bottom() - 150);  // mostly off the screen's corner
    {
        QDialog dialog;
        dialog.resize(500, 400);
        centerDialog(&dialog);
        dialog.show();
        QApplication::processEvents();
        EXPECT_TRUE(avail.contains(dialog.frameGeometry()))
            << dialog.frameGeometry().x() << "," << dialog.frameGeometry().y();
    }
    setMainWindow(nullptr);
}

// Whether `owner` is a parent of `w` at any level, across window boundaries (the rule Qt's modal
// blocking follows).
bool owns(const QWidget* owner, const QWidget* w) {
    for (const QWidget* p = w ? w->parentWidget() : nullptr; p; p = p->parentWidget())
        if (p == owner) return true;
    return false;
}

// Help opened while a modal dialog is up belongs to that dialog (Qt blocks every window that
// is not the modal dialog's own), so it can be read and scrolled beside it; when the dialog
// closes the same help window stays open under the main window.
TEST(Help, HelpOpenedFromAModalDialogIsUsableBesideIt) {
    qtApp();
    QMainWindow main;
    main.setGeometry(100, 100, 600, 400);
    main.show();
    setMainWindow(&main);
    THelpWindow* first = showHelp(kHelpContents);
    ASSERT_TRUE(first);
    QDialog dialog(&main);
    QPointer<THelpWindow> during;
    bool belongsToDialog = false, shownWhileUp = false;
    QTimer::singleShot(0, &dialog, [&] {
        during = showHelp(kHelpTechnical);
        QApplication::processEvents();
        belongsToDialog = QApplication::activeModalWidget() == &dialog && owns(&dialog, during);
        shownWhileUp = during->isVisible() && during->context() == kHelpTechnical;
        dialog.accept();
    });
    dialog.exec();
    EXPECT_TRUE(belongsToDialog);
    EXPECT_TRUE(shownWhileUp);
    ASSERT_TRUE(during);  // not destroyed with the dialog
    EXPECT_EQ(during.data(), first);
    EXPECT_TRUE(during->isVisible());
    EXPECT_TRUE(owns(&main, during));
    during->close();
    setMainWindow(nullptr);
}

namespace {
// Shows the window and makes it the active one, as a click would.
void activate(QWidget* w) {
    w->show();
    w->activateWindow();
    QApplication::setActiveWindow(w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
}
}  // namespace

// The menus open from the keyboard: F10, and Alt pressed and released alone, open the first
// menu; Alt used with another key does not.
TEST(KeyboardMenus, F10AndAltAloneOpenTheFirstMenu) {
    qtApp();
    QMainWindow main;
    QMenu* file = main.menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("E&xit"));
    main.menuBar()->addMenu(QStringLiteral("&Help"))->addAction(QStringLiteral("&About"));
    auto* edit = new QLineEdit(&main);
    main.setCentralWidget(edit);
    enableKeyboardMenus(main.menuBar());
    activate(&main);
    edit->setFocus();

    QTest::keyClick(edit, Qt::Key_F10);
    EXPECT_EQ(QApplication::activePopupWidget(), file);
    file->close();
    ASSERT_EQ(QApplication::activePopupWidget(), nullptr);

    if (!main.menuBar()->style()->styleHint(QStyle::SH_MenuBar_AltKeyNavigation, nullptr, main.menuBar())) {
        QTest::keyPress(edit, Qt::Key_Alt, Qt::AltModifier);
        QTest::keyClick(edit, Qt::Key_B, Qt::AltModifier);
        QTest::keyRelease(edit, Qt::Key_Alt);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
        QTest::keyPress(edit, Qt::Key_Alt, Qt::AltModifier);
        QTest::keyRelease(edit, Qt::Key_Alt);
        EXPECT_EQ(QApplication::activePopupWidget(), file);
        file->close();
    }
}

TEST(Help, EscClosesTheHelpWindow) {
    qtApp();
    THelpWindow* help = showHelp(kHelpContents);
    ASSERT_TRUE(help);
    QPointer<THelpWindow> guard(help);
    activate(help);
    QTest::keyClick(help->focusWidget() ? help->focusWidget() : help, Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_TRUE(!guard || !guard->isVisible());
}

TEST(SingleInstance, SecondStartExitsAndFirstStays) {
    qtApp();
    QTemporaryDir home;
    const QString exe = QString::fromUtf8(qgetenv("TELVANE_BIN")) + "/telvane";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TELVANE_HOME", home.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess first;
    first.setProcessEnvironment(env);
    first.start(exe);
    ASSERT_TRUE(first.waitForStarted(10000));
    // Wait until the first instance listens: a second start only returns early once it does.
    bool secondExited = false;
    QProcess second;
    for (int attempt = 0; attempt < 50 && !secondExited; ++attempt) {
        QThread::msleep(200);
        if (first.state() != QProcess::Running) break;
        QProcess probe;
        probe.setProcessEnvironment(env);
        probe.start(exe);
        ASSERT_TRUE(probe.waitForStarted(10000));
        if (probe.waitForFinished(1500)) {
            EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(probe.exitCode(), 0);
            secondExited = true;
        } else {
            // It did not find the first one yet and became an instance itself: stop it and retry.
            probe.kill();
            probe.waitForFinished(5000);
        }
    }
    EXPECT_TRUE(secondExited);
    EXPECT_EQ(first.state(), QProcess::Running);
    first.terminate();
    if (!first.waitForFinished(5000)) {
        first.kill();
        first.waitForFinished(5000);
    }
}

namespace {

// A dialog sized by its layout only, like the program's dialogs: `rows` lines of label and edit.
std::unique_ptr<QDialog> formDialog(int rows) {
    auto dialog = std::make_unique<QDialog>();
    auto* form = new QFormLayout(dialog.get());
    for (int i = 0; i < rows; ++i) form->addRow(QStringLiteral("Field %1").arg(i), new QLineEdit);
    form->addRow(new QPushButton(QStringLiteral("&Help")));
    return dialog;
}

}  // namespace

TEST(Centring, DialogStaysOnScreenOverEitherCornerAndShrinksWhenTooLarge) {
    qtApp();
    QMainWindow main;
    main.show();
    setMainWindow(&main);
    const QRect avail = main.screen()->availableGeometry();
    // A main window hanging over the top-left corner of its screen.
    main.setGeometry(avail.left() - 500, avail.top() - 300, 600, 400);
    auto dialog = formDialog(4);
    centerDialog(dialog.get());
    dialog->show();
    EXPECT_TRUE(avail.contains(dialog->frameGeometry())) << dialog->x() << "," << dialog->y();

    // A dialog larger than the screen is made to fit it.
    QDialog huge;
    huge.resize(avail.width() + 400, avail.height() + 300);
    main.setGeometry(avail.left() + 50, avail.top() + 50, 300, 200);
    centerDialog(&huge);
    huge.show();
    EXPECT_TRUE(avail.contains(huge.frameGeometry())) << huge.width() << "x" << huge.height();
    setMainWindow(nullptr);
}
