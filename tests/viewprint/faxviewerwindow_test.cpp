// The viewer window, the print options dialog and the main window's View/Print command,
// offscreen: initial zoom, zoom steps and menus, rotation menu, status text and page buttons,
// both print paths to PDF with the options stored whatever the result, the page range rules,
// exports, and what happens to the fax file of an outgoing and of a received fax.
#include <gtest/gtest.h>

#include "support/peers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPrinter>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <fstream>

#include "shell/mainscreen_fixture.h"
#include "compose/commands/createfaxfile.h"
#include "compose/render/faxdocuments.h"
#include "compose/render/renderutil.h"
#include "sessions/sendfax.h"
#include "viewprint/faxviewerwindow.h"
#include "settings/settings.h"
#include "faximage/viewertestutil.h"
#include "support/keyboard.h"
#include "support/scriptedprompter.h"

using namespace telvane;
using namespace telvane::viewprint;
using namespace telvane::shelltest;
using viewertest::barsPage;
using viewertest::makeFax;

namespace {

TEST(ViewerInfoLine, OutgoingAndIncomingTexts) {
    EXPECT_EQ(outgoingInfoLine("Ann Smith", "Offer", "not sent"),
              "To: Ann Smith             Subject: Offer             Sent: not sent");
    EXPECT_EQ(incomingInfoLine("  ACME Fax ", "12/8/26 at 10:15", "/Data/receive/FAX0001.OVF"),
              "From: ACME Fax             Received: 12/8/26 at 10:15             Fax File: /Data/receive/FAX0001.OVF");
}

TEST(ViewerInitialZoom, HalfSizeUnlessTheControlIsFarTooNarrow) {
    EXPECT_EQ(initialZoomStep(1728, 600), 50);
    EXPECT_EQ(initialZoomStep(1728, 400), 25);
    EXPECT_EQ(initialZoomStep(800, 800), 50);
    EXPECT_EQ(initialZoomStep(1728, 426), 25);  // 36.97 -> 36
    EXPECT_EQ(initialZoomStep(1728, 427), 50);  // 37.07 -> 37
}

// A data directory, scripted prompts and fax files for the window tests.
class ViewerWindowTest : public MainScreenTest {
protected:
    QString fax(int pages, const char* name = "fax.ovf") {
        std::vector<faximage::Raster> rasters;
        for (int k = 1; k <= pages; ++k) rasters.push_back(barsPage(k));
        const QString path = QString::fromStdString(dir) + name;
        EXPECT_TRUE(makeFax(path.toStdString(), rasters));
        return path;
    }
    // A window that has loaded `file` in a viewer of the given width, not shown.
    std::unique_ptr<TFaxViewer> loaded(const QString& file, int width = 600) {
        auto v = std::make_unique<TFaxViewer>();
        v->faxViewer()->resize(width, 400);
        v->FaxFileName = file;
        v->loadFile();
        return v;
    }
    void printToPdf(TFaxViewer& v, const QString& pdf) {
        QPrinter& p = v.faxPrinter().qPrinter();
        p.setOutputFormat(QPrinter::PdfFormat);
        p.setOutputFileName(pdf);
        p.setResolution(150);
        p.setPageSize(QPageSize(QPageSize::Letter));
    }
    settings::PrintOptions storedOptions() {
        settings::PrintOptions o;
        o.loadFrom(dir);
        return o;
    }
};

TEST_F(ViewerWindowTest, InitialZoomFollowsTheControlWidth) {
    const QString file = fax(1);
    auto wide = loaded(file, 600);
    EXPECT_EQ(wide->zoomStep(), 50);
    EXPECT_TRUE(wide->zoomAction(50)->isChecked());
    EXPECT_EQ(wide->zoomAction(50)->text(), "100%");
    EXPECT_FALSE(wide->zoomAction(25)->isChecked());
    EXPECT_EQ(wide->faxViewer()->scaledSize().width(), 864);
    auto narrow = loaded(file, 400);
    EXPECT_EQ(narrow->zoomStep(), 25);
    EXPECT_EQ(narrow->faxViewer()->scaledSize().width(), 432);
}

// A standard-resolution fax shows at the same size as a fine one: its lines are doubled, not
// its width halved (at half width the text was barely readable).
TEST_F(ViewerWindowTest, StandardAndFinePagesShowAtTheSameSize) {
    const std::string fine = dir + "fine.ovf", standard = dir + "standard.ovf";
    ASSERT_TRUE(makeFax(fine, {barsPage(2, 1200)}, true));
    ASSERT_TRUE(makeFax(standard, {barsPage(2, 600)}, false));
    auto f = loaded(QString::fromStdString(fine), 600);
    auto s = loaded(QString::fromStdString(standard), 600);
    EXPECT_EQ(s->zoomStep(), f->zoomStep());
    EXPECT_EQ(f->faxViewer()->scaledSize(), QSize(864, 600));
    EXPECT_EQ(s->faxViewer()->scaledSize(), f->faxViewer()->scaledSize());
}

TEST_F(ViewerWindowTest, StatusTextAndPageButtons) {
    auto one = loaded(fax(1, "one.ovf"));
    EXPECT_EQ(one->statusText(), "Page 1 of 1");
    EXPECT_TRUE(one->button("FirstButton")->isHidden() || !one->button("FirstButton")->isVisibleTo(one.get()));
    auto three = loaded(fax(3, "three.ovf"));
    EXPECT_EQ(three->statusText(), "Page 1 of 3");
    for (const char* b : {"FirstButton", "PrevButton", "NextButton", "LastButton"})
        EXPECT_TRUE(three->button(b)->isVisibleTo(three.get())) << b;
    three->button("NextButton")->click();
    EXPECT_EQ(three->statusText(), "Page 2 of 3");
    three->button("LastButton")->click();
    EXPECT_EQ(three->statusText(), "Page 3 of 3");
    three->button("FirstButton")->click();
    EXPECT_EQ(three->statusText(), "Page 1 of 3");
    EXPECT_EQ(three->button("ZoomInButton")->toolTip(), "Zoom in");
    EXPECT_EQ(three->button("PrintSinglePageButton")->toolTip(), "Print current page");
}

// The viewer's commands and the print options are reached from the keyboard: each button by an
// Alt key of its own or a shortcut, each menu by its Alt key, the pages by the page keys of the page shown,
// each field and check box of the print options by an Alt key of its own.
TEST_F(ViewerWindowTest, EveryCommandIsReachedFromTheKeyboard) {
    auto viewer = loaded(fax(3, "three.ovf"));
    QStringList missing;
    for (const char* name :
         {"ZoomInButton", "ZoomOutButton", "PrinterSetupButton", "Printbutton", "PrintSinglePageButton"}) {
        QAbstractButton* b = viewer->button(name);
        if (telvane::test::mnemonicOf(b->text()).isEmpty() && b->shortcut().isEmpty()) missing << b->text();
    }
    for (QMenu* menu : viewer->findChildren<QMenu*>())
        if (telvane::test::mnemonicOf(menu->title()).isEmpty()) missing << menu->title();
    EXPECT_EQ(missing.join('|').toStdString(), "");
    EXPECT_EQ(telvane::test::sharedMnemonics(viewer.get()).join('|').toStdString(), "");
    viewer->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(viewer.get()));
    // The page keys reach the page a user sees first, without a click into it.
    EXPECT_EQ(QApplication::focusWidget(), viewer->faxViewer());
    QStringList pages;
    for (QKeyCombination key : {QKeyCombination(Qt::Key_PageDown), Qt::CTRL | Qt::Key_End,
                                QKeyCombination(Qt::Key_PageUp), Qt::CTRL | Qt::Key_Home}) {
        QTest::keyClick(viewer->faxViewer(), key.key(), key.keyboardModifiers());
        pages << viewer->statusText();
    }
    EXPECT_EQ(pages.join('|').toStdString(), "Page 2 of 3|Page 3 of 3|Page 2 of 3|Page 1 of 3");

    TPrePrintForm options;
    options.show();
    EXPECT_EQ(telvane::test::buttonsWithoutKeys(&options).join('|').toStdString(), "");
    EXPECT_EQ(telvane::test::sharedMnemonics(&options).join('|').toStdString(), "");
    for (QCheckBox* box : options.findChildren<QCheckBox*>())
        if (telvane::test::mnemonicOf(box->text()).isEmpty()) missing << box->text();
    for (QLabel* label : options.findChildren<QLabel*>())
        if (label->text().endsWith(':') && !label->buddy()) missing << label->text();
    EXPECT_EQ(missing.join('|').toStdString(), "");
}

TEST_F(ViewerWindowTest, AnUnreadableFileSaysSoAndShowsNoFileLoaded) {
    QFile junk(QString::fromStdString(dir) + "junk.ovf");
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a fax at all, not a fax at all, not a fax at all, not a fax at all");
    junk.close();
    auto v = loaded(junk.fileName());
    EXPECT_EQ(prompter().texts(), QStringList{"Error opening fax file"});
    EXPECT_EQ(v->statusText(), "No file loaded");
    EXPECT_EQ(v->faxViewer()->pageCount(), 0);
}

TEST_F(ViewerWindowTest, ZoomStepsBeepAtTheirEndsAndCheckTheirMenuItem) {
    auto v = loaded(fax(1), 600);
    v->zoomInButtonClick();
    EXPECT_EQ(v->zoomStep(), 75);
    EXPECT_TRUE(v->zoomAction(75)->isChecked());
    v->zoomInButtonClick();
    EXPECT_EQ(v->zoomStep(), 100);
    EXPECT_FALSE(v->faxViewer()->Scaling());  // "200%" is the page unscaled
    EXPECT_EQ(v->faxViewer()->scaledSize().width(), 1728);
    EXPECT_EQ(prompter().count(PromptRecord::Beep), 0);
    v->zoomInButtonClick();
    EXPECT_EQ(prompter().count(PromptRecord::Beep), 1);
    EXPECT_EQ(v->zoomStep(), 100);
    v->zoomAction(25)->trigger();
    EXPECT_EQ(v->zoomStep(), 25);
    EXPECT_EQ(v->faxViewer()->scaledSize().width(), 432);
    for (int s : {50, 75, 100}) EXPECT_FALSE(v->zoomAction(s)->isChecked()) << s;
    v->zoomOutButtonClick();
    EXPECT_EQ(prompter().count(PromptRecord::Beep), 2);
    EXPECT_EQ(v->zoomStep(), 25);
}

TEST_F(ViewerWindowTest, CtrlWheelZoomsWithoutBeepingAtTheEnds) {
    auto v = loaded(fax(1), 600);
    auto wheel = [&](int delta, Qt::KeyboardModifiers mods) {
        QWheelEvent e(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, delta), Qt::NoButton, mods,
                      Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(v->faxViewer()->viewport(), &e);
    };
    wheel(120, Qt::ControlModifier);
    EXPECT_EQ(v->zoomStep(), 75);
    wheel(-120, Qt::ControlModifier);
    wheel(-120, Qt::ControlModifier);
    wheel(-120, Qt::ControlModifier);
    EXPECT_EQ(v->zoomStep(), 25);
    EXPECT_EQ(prompter().count(PromptRecord::Beep), 0);
    wheel(-120, Qt::NoModifier);  // a plain wheel scrolls
    EXPECT_EQ(v->zoomStep(), 25);
}

TEST_F(ViewerWindowTest, RotationMenuChecksTheChosenItemOnly) {
    auto v = std::make_unique<TFaxViewer>();
    v->FaxFileName = fax(1);
    v->show();
    for (int i = 0; i < 200 && v->statusText() == "No file loaded"; ++i) QTest::qWait(5);
    EXPECT_EQ(v->statusText(), "Page 1 of 1");
    // The rotation in effect is marked from the start.
    for (int q = 0; q < 4; ++q) EXPECT_EQ(v->rotationAction(q)->isChecked(), q == 0) << q;
    // Whether or not the system has a printer, all print buttons work: a PDF file can be chosen.
    EXPECT_TRUE(v->button("Printbutton")->isEnabled());
    EXPECT_TRUE(v->button("PrinterSetupButton")->isEnabled());
    EXPECT_TRUE(v->button("PrintSinglePageButton")->isEnabled());
    v->rotationAction(1)->trigger();
    EXPECT_EQ(v->faxViewer()->rotation(), 1);
    EXPECT_TRUE(v->rotationAction(1)->isChecked());
    v->rotationAction(2)->trigger();
    EXPECT_FALSE(v->rotationAction(1)->isChecked());
    EXPECT_TRUE(v->rotationAction(2)->isChecked());
    EXPECT_EQ(v->faxViewer()->rotation(), 2);
    EXPECT_EQ(v->rotationAction(3)->text(), "Rotate 270 degrees");
    v->close();
}

TEST_F(ViewerWindowTest, PrintWithHeaderAndFooterStoresTheOptionsAndPrintsTheInfoLine) {
    TELVANE_REQUIRE_PEER(viewertest::havePoppler(), "pdftoppm/pdftotext (poppler-utils) not installed");
    auto v = loaded(fax(3));
    v->InfoLine = outgoingInfoLine("Ann", "Offer", "not sent");
    const QString pdf = QString::fromStdString(dir) + "out.pdf";
    printToPdf(*v, pdf);
    onNextModal([](QWidget* w) {
        auto* form = qobject_cast<TPrePrintForm*>(w);
        ASSERT_NE(form, nullptr);
        EXPECT_EQ(form->windowTitle(), "Print");
        EXPECT_EQ(form->FromPage->value(), 1);
        EXPECT_EQ(form->ToPage->value(), 3);
        EXPECT_EQ(form->ToPage->maximum(), 3);
        EXPECT_TRUE(form->MultiPageBox->isEnabled());
        form->HeaderBox->setChecked(true);
        form->FooterBox->setChecked(true);
        form->StretchBox->setChecked(true);
        form->FromPage->setValue(2);
        form->OkButton->click();
    });
    v->printbuttonClick();
    const settings::PrintOptions o = storedOptions();
    EXPECT_TRUE(o.Header);
    EXPECT_TRUE(o.Footer);
    EXPECT_TRUE(o.Stretch);
    EXPECT_FALSE(o.MultiPage);
    ASSERT_TRUE(QFile::exists(pdf));
    const QString page1 = viewertest::pdfText(pdf, 1);
    EXPECT_TRUE(page1.contains("To: Ann")) << page1.toStdString();
    EXPECT_TRUE(page1.contains("Subject: Offer"));
    EXPECT_TRUE(page1.contains("Page: 2 of 3"));
    EXPECT_TRUE(viewertest::pdfText(pdf, 2).contains("Page: 3 of 3"));
    EXPECT_EQ(viewertest::renderPdf(pdf, 30).size(), 2u);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir) + "FAXPRINT.LOG"));
}

TEST_F(ViewerWindowTest, CancelledOptionsAreStoredAndNothingIsPrinted) {
    auto v = loaded(fax(2));
    const QString pdf = QString::fromStdString(dir) + "never.pdf";
    printToPdf(*v, pdf);
    onNextModal([](QWidget* w) {
        auto* form = qobject_cast<TPrePrintForm*>(w);
        ASSERT_NE(form, nullptr);
        form->MultiPageBox->setChecked(true);
        form->FooterBox->setChecked(true);
        form->CancelButton->click();
    });
    v->printbuttonClick();
    EXPECT_TRUE(storedOptions().MultiPage);
    EXPECT_TRUE(storedOptions().Footer);
    EXPECT_FALSE(storedOptions().Header);
    EXPECT_FALSE(QFile::exists(pdf));
}

TEST_F(ViewerWindowTest, ToPageBelowFromPageBeepsAndKeepsTheDialogOpen) {
    auto v = loaded(fax(3));
    printToPdf(*v, QString::fromStdString(dir) + "x.pdf");
    bool stayedOpen = false;
    onNextModal([&](QWidget* w) {
        auto* form = qobject_cast<TPrePrintForm*>(w);
        ASSERT_NE(form, nullptr);
        form->FromPage->setValue(3);
        form->ToPage->setValue(2);
        form->OkButton->click();
        stayedOpen = form->isVisible();
        form->CancelButton->click();
    });
    v->printbuttonClick();
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(prompter().count(PromptRecord::Beep), 1);
}

TEST_F(ViewerWindowTest, SinglePagePrintPrintsThePageOnDisplayAndResetsTheRange) {
    TELVANE_REQUIRE_PEER(viewertest::havePoppler(), "pdftoppm/pdftotext (poppler-utils) not installed");
    auto v = loaded(fax(4));
    v->faxViewer()->setCurrentPage(3);
    const QString pdf = QString::fromStdString(dir) + "single.pdf";
    printToPdf(*v, pdf);
    {
        settings::PrintOptions o;
        o.MultiPage = true;
        o.saveTo(dir);
    }
    onNextModal([](QWidget* w) {
        auto* form = qobject_cast<TPrePrintForm*>(w);
        ASSERT_NE(form, nullptr);
        EXPECT_EQ(form->FromPage->value(), 3);
        EXPECT_EQ(form->ToPage->value(), 3);
        EXPECT_FALSE(form->FromPage->isEnabled());
        EXPECT_FALSE(form->ToPage->isEnabled());
        EXPECT_FALSE(form->MultiPageBox->isEnabled());
        EXPECT_TRUE(form->MultiPageBox->isChecked());
        form->OkButton->click();
    });
    v->printSinglePageButtonClick();
    const auto sheets = viewertest::renderPdf(pdf, 30);
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_EQ(sheets[0].maxRuns(0, 0, sheets[0].width, sheets[0].height), 3);  // page 3, whole sheet
    EXPECT_TRUE(storedOptions().MultiPage);                                    // untouched by a single-page print
    // A later "Print" offers the whole fax again.
    onNextModal([](QWidget* w) {
        auto* form = qobject_cast<TPrePrintForm*>(w);
        ASSERT_NE(form, nullptr);
        EXPECT_EQ(form->FromPage->value(), 1);
        EXPECT_EQ(form->ToPage->value(), 4);
        EXPECT_TRUE(form->FromPage->isEnabled());
        form->CancelButton->click();
    });
    v->printbuttonClick();
}

// Printing without a usable printer names the printer and the reason, then lets the user
// choose where to print (here a PDF file); cancelling that choice prints nothing.
TEST_F(ViewerWindowTest, PrintingWithoutAUsablePrinterSaysWhyAndOffersAChoice) {
    auto v = loaded(fax(2));
    faximage::TOvxFaxPrinter& printer = v->faxPrinter();
    printer.InstalledPrinters = [] { return QStringList{}; };
    printer.qPrinter().setOutputFormat(QPrinter::PdfFormat);
    printer.qPrinter().setOutputFileName(QString());
    const QString pdf = QString::fromStdString(dir) + "chosen.pdf";
    int chooserCalls = 0;
    bool choose = false;
    auto saved = printerChooser();
    printerChooser() = [&](QPrinter& p, QWidget*) {
        ++chooserCalls;
        if (!choose) return false;
        p.setOutputFormat(QPrinter::PdfFormat);
        p.setOutputFileName(pdf);
        p.setResolution(100);
        return true;
    };
    auto okOptions = [] {
        QTimer::singleShot(0, [] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* form = qobject_cast<TPrePrintForm*>(w); form && form->isVisible()) form->OkButton->click();
        });
    };
    okOptions();
    v->printSinglePageButtonClick();
    ASSERT_EQ(prompter().texts().size(), 1);
    // Without any printer the user is told what will happen instead, not that a PDF file failed.
    EXPECT_EQ(prompter().texts()[0],
              "No printer is set up on this computer, so the fax will be printed into a PDF file.\r\rChoose the file "
              "in the next window.");
    EXPECT_EQ(chooserCalls, 1);
    EXPECT_FALSE(QFile::exists(pdf));  // cancelled: nothing printed, nothing more said

    choose = true;
    okOptions();
    v->printbuttonClick();
    EXPECT_EQ(chooserCalls, 2);
    EXPECT_EQ(prompter().texts().size(), 2);  // the reason once more, no failure after the choice
    ASSERT_TRUE(QFile::exists(pdf));
    if (viewertest::havePoppler()) {
        EXPECT_EQ(viewertest::renderPdf(pdf, 20).size(), 2u);
    } else {
        EXPECT_FALSE(telvane::test::underCi()) << "missing test peer: pdftoppm (poppler-utils)";
    }

    // The setup button is the chooser too.
    v->printerSetupButtonClick();
    EXPECT_EQ(chooserCalls, 3);

    // With printers present, a destination that cannot be used is named with its reason.
    printer.InstalledPrinters = [] { return QStringList{"Office"}; };
    printer.qPrinter().setOutputFormat(QPrinter::PdfFormat);
    printer.qPrinter().setOutputFileName(QString());
    choose = false;
    okOptions();
    v->printbuttonClick();
    ASSERT_EQ(prompter().texts().size(), 3);
    EXPECT_EQ(prompter().texts()[2],
              "Cannot print on a PDF file: no file name was chosen for the PDF file.\r\rChoose "
              "a printer or a PDF file in the next window.");
    printerChooser() = saved;
}

TEST_F(ViewerWindowTest, ExportsThePageOnDisplayOrTheWholeFax) {
    auto v = loaded(fax(2));
    v->faxViewer()->setCurrentPage(2);
    QStringList asked, folders;
    QString target;
    v->AskExportFile = [&](const QString& format, const QString& suggested) {
        asked << format + ":" + QFileInfo(suggested).fileName();
        folders << QFileInfo(suggested).absolutePath();
        return target;
    };
    const QByteArray signatures[] = {"BM", QByteArray("\x0a", 1), QByteArray("\xb1\x68\xde\x3a", 4), "II*", "%PDF"};
    const char* formats[] = {"BMP", "PCX", "DCX", "TIFF", "PDF"};
    for (int i = 0; i < 5; ++i) {
        target = QString::fromStdString(dir) + "export." + QString(formats[i]).toLower();
        v->exportAction(formats[i])->trigger();
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << formats[i];
        EXPECT_TRUE(f.readAll().startsWith(signatures[i])) << formats[i];
    }
    EXPECT_EQ(asked.first(), "BMP:fax-page2.bmp");
    EXPECT_EQ(asked.last(), "PDF:fax.pdf");
    // Offered where the user keeps files, not in the private data directory the fax lies in.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString expected = QFileInfo(documents).isDir() ? documents : QDir::homePath();
    EXPECT_EQ(folders, QStringList(5, QFileInfo(expected).absoluteFilePath()));
    EXPECT_FALSE(folders.first().startsWith(QFileInfo(QString::fromStdString(dir)).absolutePath()));
    EXPECT_EQ(v->exportAction("BMP")->text(), "Export this page as BMP File");
    // The DCX holds one page: the page on display.
    QFile dcx(QString::fromStdString(dir) + "export.dcx");
    ASSERT_TRUE(dcx.open(QIODevice::ReadOnly));
    const QByteArray d = dcx.readAll();
    ASSERT_GE(d.size(), 4100);
    EXPECT_NE(d.mid(4, 4), QByteArray(4, '\0'));
    EXPECT_EQ(d.mid(8, 4), QByteArray(4, '\0'));
    // A cancelled dialog writes nothing.
    target.clear();
    QFile::remove(QString::fromStdString(dir) + "export.bmp");
    v->exportAction("BMP")->trigger();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir) + "export.bmp"));
    EXPECT_TRUE(prompter().texts().isEmpty());
}

// The View/Print command from the main window.
class ViewPrintCommandTest : public ViewerWindowTest {
protected:
    void SetUp() override {
        ViewerWindowTest::SetUp();
        writePortSetting();
        addViewerCommands(commands);
    }
    static OutgoingSeed outgoingFax(std::string subject, std::string recipient = "Recipient") {
        OutgoingSeed s;
        s.subject = std::move(subject);
        s.recipient = std::move(recipient);
        return s;
    }
};

TEST_F(ViewPrintCommandTest, ViewingAnOutgoingFaxLeavesNoRenderedFile) {
    seedOutgoing(dir, {outgoingFax("Offer", "Ann Smith")});
    rebuildLogs(dir);
    const QString rendered = QString::fromStdString(dir) + "TVN_1.OVF";
    commands.createFaxFile = [&](app::IMainWindow&) { return app::RenderedFax{fax(2, "TVN_1.OVF"), 2}; };
    shell::TMainScreen& w = start();
    QString info, status;
    onNextModal([&](QWidget* m) {
        auto* viewer = qobject_cast<TFaxViewer*>(m);
        ASSERT_NE(viewer, nullptr);
        for (int i = 0; i < 200 && viewer->statusText() == "No file loaded"; ++i) QTest::qWait(5);
        info = viewer->InfoLine;
        status = viewer->statusText();
        viewer->button("CloseButton")->click();
    });
    w.viewFaxButtonClick();
    EXPECT_EQ(info, "To: Ann Smith             Subject: Offer             Sent: not sent");
    EXPECT_EQ(status, "Page 1 of 2");
    EXPECT_FALSE(QFile::exists(rendered));
    EXPECT_TRUE(w.statusText().isEmpty());
    EXPECT_TRUE(w.buttonBar()->isEnabled());
}

TEST_F(ViewPrintCommandTest, PrintingAnOutgoingFaxStoresOptionsAndLeavesNoRenderedFile) {
    seedOutgoing(dir, {outgoingFax("Offer")});
    rebuildLogs(dir);
    const QString rendered = QString::fromStdString(dir) + "TVN_1.OVF";
    commands.createFaxFile = [&](app::IMainWindow&) { return app::RenderedFax{fax(3, "TVN_1.OVF"), 3}; };
    shell::TMainScreen& w = start();
    onNextModal([](QWidget* m) {
        auto* form = qobject_cast<TPrePrintForm*>(m);
        ASSERT_NE(form, nullptr);
        EXPECT_EQ(form->ToPage->value(), 3);
        EXPECT_TRUE(form->MultiPageBox->isEnabled());
        form->StretchBox->setChecked(true);
        form->CancelButton->click();
    });
    w.printbuttonClick();
    EXPECT_TRUE(storedOptions().Stretch);
    EXPECT_FALSE(QFile::exists(rendered));
}

TEST_F(ViewPrintCommandTest, AnOutgoingFaxThatCannotBeRenderedSaysSo) {
    seedOutgoing(dir, {outgoingFax("Empty")});
    rebuildLogs(dir);
    commands.createFaxFile = [](app::IMainWindow&) { return app::RenderedFax{}; };
    shell::TMainScreen& w = start();
    w.viewFaxButtonClick();
    EXPECT_EQ(prompter().texts(), QStringList{"Error creating fax file"});
    EXPECT_TRUE(w.statusText().isEmpty());
}

// A fax whose attached document has a damaged copy is refused by view, print and send alike with
// one message naming the document; no "Error creating fax file" follows it.
TEST_F(ViewPrintCommandTest, ADamagedAttachedDocumentIsNamedOnce) {
    seedOutgoing(dir, {outgoingFax("Invoice")});
    rebuildLogs(dir);
    render::FaxDocument invoice;
    invoice.storedName = "0123456789abcdef.pdf";
    invoice.title = "invoice.pdf";
    invoice.pages = 1;
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(render::documentsDir(dir))));
    {
        QFile copy(QString::fromStdString(render::documentsDir(dir) + invoice.storedName));
        ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
        copy.write("%PDF-1.4\nnot a document at all\n");
        records::RecordSet rs;
        records::TXbAccess xb(rs);
        ASSERT_TRUE(records::OpenFaxDBF(dir, rs, xb));
        rs.first();
        const std::string listed = render::withDocuments("{\\rtf1 Please pay.\\par}", {invoice});
        const std::string memo = dir + "memo.rtf";
        std::ofstream(memo) << listed;
        rs.replaceFromFile("RTFDOC", memo);
        rs.post();
        rs.close();
    }
    rendertest::putBuiltProgramsOnPath();
    commands.createFaxFile = [](app::IMainWindow& main) { return composecommands::createFaxFileOf(main); };
    shell::TMainScreen& w = start();
    const std::vector<std::pair<const char*, std::function<void()>>> ways = {
        {"view", [&w] { w.viewFaxButtonClick(); }},
        {"print", [&w] { w.printbuttonClick(); }},
        {"send", [&w] { sessions::sendFaxCommand(w); }}};
    const QStringList named = {
        QStringLiteral("The document \"invoice.pdf\" cannot be read: it is damaged or not what its name says.")};
    for (const auto& [name, act] : ways) {
        prompter().records.clear();
        act();
        EXPECT_EQ(prompter().texts(), named) << name;
    }
}

// A fax without cover or document is explained once; no second "Error creating fax file" box
// follows it (that box used to be taken for the answer to the user's next command).
TEST_F(ViewPrintCommandTest, AnEmptyFaxIsExplainedOnce) {
    seedOutgoing(dir, {outgoingFax("Empty")});
    rebuildLogs(dir);
    bool unreadableMemo = false;
    commands.createFaxFile = [&unreadableMemo](app::IMainWindow& main) {
        if (!unreadableMemo) return composecommands::createFaxFileOf(main);
        composecommands::FaxFileRenderer renderer;
        const render::FaxFileResult r = renderer.CreateFaxFile(
            settings::ProgramDir(), [](richdoc::RichDocument&, richdoc::RichDocument&, QString& error) {
                error = QStringLiteral("unreadable memo");
                return false;
            });
        return app::RenderedFax{QString::fromStdString(r.fileName), r.pageCount, r.empty};
    };
    shell::TMainScreen& w = start();
    w.viewFaxButtonClick();
    EXPECT_EQ(prompter().texts(), QStringList{"Fax has no contents or cover sheet"});
    EXPECT_TRUE(w.renderedFaxWasEmpty());
    w.printbuttonClick();
    EXPECT_EQ(prompter().texts().size(), 2);
    EXPECT_EQ(prompter().texts().last(), "Fax has no contents or cover sheet");
    // A failure of another kind is still reported.
    unreadableMemo = true;
    w.viewFaxButtonClick();
    EXPECT_EQ(prompter().texts().last(), "Error creating fax file");
}

TEST_F(ViewPrintCommandTest, ViewingAReceivedFaxNeverDeletesIt) {
    QDir().mkpath(QString::fromStdString(settings::receiveDir()));
    std::vector<faximage::Raster> pages{barsPage(1)};
    const QString file = QString::fromStdString(settings::receiveDir()) + "FAX0001.OVF";
    ASSERT_TRUE(makeFax(file.toStdString(), pages));
    seedIncoming(dir, {incoming("  ACME  ", "FAX0001.OVF")});
    rebuildLogs(dir);
    shell::TMainScreen& w = start();
    w.selectPage(shell::TMainScreen::kIncomingPage);
    QString info;
    onNextModal([&](QWidget* m) {
        auto* viewer = qobject_cast<TFaxViewer*>(m);
        ASSERT_NE(viewer, nullptr);
        info = viewer->InfoLine;
        viewer->reject();
    });
    w.viewFaxButtonClick();
    EXPECT_TRUE(info.startsWith("From: ACME             Received: ")) << info.toStdString();
    EXPECT_TRUE(info.endsWith("             Fax File: " + file)) << info.toStdString();
    EXPECT_TRUE(QFile::exists(file));
    // Printing it does not delete it either.
    onNextModal([](QWidget* m) {
        if (auto* form = qobject_cast<TPrePrintForm*>(m)) form->CancelButton->click();
    });
    w.printbuttonClick();
    EXPECT_TRUE(QFile::exists(file));
}

TEST_F(ViewPrintCommandTest, AMissingReceivedFileSaysSo) {
    seedIncoming(dir, {incoming("ACME", "FAX0009.OVF")});
    rebuildLogs(dir);
    shell::TMainScreen& w = start();
    w.selectPage(shell::TMainScreen::kIncomingPage);
    w.viewFaxButtonClick();
    EXPECT_EQ(prompter().texts(), QStringList{"Fax file is missing"});
    EXPECT_TRUE(w.statusText().isEmpty());
}

}  // namespace
