// The fax printer: token substitution and sheet layout as functions, then whole jobs printed to
// PDF files through QPrinter and looked at with pdftoppm and pdftotext (sheets, slots, header
// and footer text, sizes), the print log, the status display and abort.
#include <gtest/gtest.h>

#include "support/peers.h"

#include <QFile>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "errors/errors.h"
#include "faximage/printer/faxprinter.h"
#include "faximage/printer/printstatus.h"
#include "faximage/viewertestutil.h"

using namespace telvane;
using namespace telvane::faximage;
using namespace viewertest;

namespace {

const QDateTime kWhen(QDate(2026, 12, 9), QTime(14, 30));

TEST(FaxPrinterTokens, EachTokenRunsToTheNextBlankAndTakesItsFirstLetter) {
    EXPECT_EQ(substituteMarginTokens("Page: $P of $N", "f.ovf", 2, 5, kWhen), "Page: 2 of 5");
    EXPECT_EQ(substituteMarginTokens("$p/$n", "f.ovf", 2, 5, kWhen), "2");  // one token up to the blank
    EXPECT_EQ(substituteMarginTokens("FILE: $F", "/r/fax0001.ovf", 1, 1, kWhen), "FILE: /r/fax0001.ovf");
    EXPECT_EQ(substituteMarginTokens("x $Q y $ z", "f", 1, 1, kWhen), "x  y  z");
    EXPECT_EQ(substituteMarginTokens("$D", "f", 1, 1, kWhen), QLocale().toString(kWhen.date(), QLocale::ShortFormat));
    EXPECT_EQ(substituteMarginTokens("$t", "f", 1, 1, kWhen), QLocale().toString(kWhen.time(), QLocale::ShortFormat));
    EXPECT_EQ(substituteMarginTokens("no tokens", "f", 1, 1, kWhen), "no tokens");
}

TEST(FaxPrinterLayout, SlotsPerSheetAndTheirOrder) {
    EXPECT_EQ(faxPagesPerSheet(false, false), 1);
    EXPECT_EQ(faxPagesPerSheet(true, false), 4);
    EXPECT_EQ(faxPagesPerSheet(true, true), 2);
    const QRect sheet(0, 0, 1000, 1400);
    EXPECT_EQ(faxSlotArea(sheet, false, false, 0), QRect(2, 2, 996, 1396));
    EXPECT_EQ(faxSlotArea(sheet, true, false, 0), QRect(2, 2, 496, 696));
    EXPECT_EQ(faxSlotArea(sheet, true, false, 1), QRect(502, 2, 496, 696));
    EXPECT_EQ(faxSlotArea(sheet, true, false, 2), QRect(2, 702, 496, 696));
    EXPECT_EQ(faxSlotArea(sheet, true, false, 3), QRect(502, 702, 496, 696));
    const QRect wide(0, 0, 1400, 1000);
    EXPECT_EQ(faxSlotArea(wide, true, true, 0), QRect(2, 2, 696, 996));
    EXPECT_EQ(faxSlotArea(wide, true, true, 1), QRect(702, 2, 696, 996));
}

TEST(FaxPrinterLayout, NoScalingDrawsTwoHundredPelsPerInchAndCutsTheHeight) {
    const QRect area(0, 0, 6000, 6000);
    FaxPageLayout l = faxPlacePage(area, QSize(1728, 2200), psNone, 600, 600);
    EXPECT_EQ(l.image.width(), 5184);
    EXPECT_EQ(l.image.height(), 6000);  // 6600 dots would not fit
    EXPECT_EQ(l.source.height(), 2000);
    l = faxPlacePage(QRect(10, 20, 6000, 8000), QSize(1728, 2200), psNone, 600, 600);
    EXPECT_EQ(l.image, QRect(10, 20, 5184, 6600));
    EXPECT_EQ(l.source, QRect(0, 0, 1728, 2200));
}

TEST(FaxPrinterLayout, FitToPageUsesNinetyThreePercentOfTheWidthAndKeepsProportions) {
    FaxPageLayout l = faxPlacePage(QRect(0, 0, 1000, 2000), QSize(1728, 2200), psFitToPage, 300, 300);
    EXPECT_EQ(l.image.width(), 930);
    EXPECT_EQ(l.image.height(), 930 * 2200 / 1728);
    // A page too tall for the area is shrunk to the area height, still in proportion.
    l = faxPlacePage(QRect(0, 0, 1000, 500), QSize(1728, 2200), psFitToPage, 300, 300);
    EXPECT_EQ(l.image.height(), 500);
    EXPECT_EQ(l.image.width(), 500 * 1728 / 2200);
}

TEST(FaxPrinterLog, LinesForEachCode) {
    EXPECT_TRUE(TOvxFaxPrinterLog::lineFor(0, "A.OVF", kWhen).startsWith("Printing A.OVF started at "));
    EXPECT_FALSE(TOvxFaxPrinterLog::lineFor(0, "A.OVF", kWhen).endsWith("\r\n"));
    EXPECT_TRUE(TOvxFaxPrinterLog::lineFor(1, "A.OVF", kWhen).startsWith("Printing A.OVF finished at "));
    EXPECT_TRUE(TOvxFaxPrinterLog::lineFor(1, "A.OVF", kWhen).endsWith("\r\n"));
    EXPECT_TRUE(TOvxFaxPrinterLog::lineFor(2, "A.OVF", kWhen).startsWith("Printing A.OVF aborted at "));
    EXPECT_TRUE(TOvxFaxPrinterLog::lineFor(3, "A.OVF", kWhen).startsWith("Printing A.OVF failed at "));
}

class FaxPrinterJob : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        ASSERT_TRUE(dir.isValid());
        log.LogFileName = dir.filePath("FAXPRINT.LOG");
        printer.FaxPrinterLog = &log;
        printer.FaxHeader.Enabled = false;
        printer.FaxFooter.Enabled = false;
    }
    QString fax(const std::vector<Raster>& pages, const char* name = "fax.ovf") {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(makeFax(path.toStdString(), pages));
        return path;
    }
    // Prints to a PDF at 150 dpi on Letter paper (or the given size) and renders it at `dpi`.
    std::vector<Grey> printToPdf(int dpi = 50, QPageLayout::Orientation o = QPageLayout::Portrait,
                                 const QPageSize& size = QPageSize(QPageSize::Letter)) {
        pdf = dir.filePath(QStringLiteral("out%1.pdf").arg(++jobs));
        QPrinter& p = printer.qPrinter();
        p.setOutputFormat(QPrinter::PdfFormat);
        p.setOutputFileName(pdf);
        p.setResolution(150);
        p.setPageSize(size);
        p.setPageOrientation(o);
        p.setPageMargins(QMarginsF(0, 0, 0, 0));
        rc = printer.printFax();
        return QFile::exists(pdf) ? renderPdf(pdf, dpi) : std::vector<Grey>{};
    }
    QString logText() {
        QFile f(log.LogFileName);
        f.open(QIODevice::ReadOnly);
        return QString::fromLocal8Bit(f.readAll());
    }

    QTemporaryDir dir;
    TOvxFaxPrinterLog log;
    TOvxFaxPrinter printer;
    QString pdf;
    int jobs = 0;
    int rc = 1;
};

TEST_F(FaxPrinterJob, SettingTheFileReadsPagesFlagsAndTheRange) {
    EXPECT_EQ(printer.setFileName(fax({barsPage(1), barsPage(2), barsPage(3)})), 0);
    EXPECT_EQ(printer.pageCount(), 3);
    EXPECT_TRUE(printer.faxFine());
    EXPECT_FALSE(printer.faxWide());
    EXPECT_EQ(printer.FirstPage, 1);
    EXPECT_EQ(printer.LastPage, 3);
    EXPECT_EQ(printer.setFileName(dir.filePath("missing.ovf")), errors::ecFileNotFound);
    EXPECT_EQ(printer.pageCount(), 0);
    EXPECT_EQ(printer.FirstPage, 0);
}

TEST_F(FaxPrinterJob, MultiPagePortraitPutsPagesFiveAndSixInTheTopHalfOfSheetTwo) {
    TELVANE_REQUIRE_PEER(havePoppler(), "pdftoppm/pdftotext (poppler-utils) not installed");
    std::vector<Raster> pages;
    for (int k = 1; k <= 6; ++k) pages.push_back(barsPage(k));
    ASSERT_EQ(printer.setFileName(fax(pages)), 0);
    printer.MultiPage = true;
    QSignalSpy nextPage(&printer, &TOvxFaxPrinter::OnNextPage);
    const std::vector<Grey> sheets = printToPdf();
    ASSERT_EQ(rc, 0);
    ASSERT_EQ(sheets.size(), 2u);
    EXPECT_EQ(nextPage.count(), 6);
    const Grey& s1 = sheets[0];
    const int w = s1.width, h = s1.height;
    // Sheet 1: pages 1..4 as top-left, top-right, bottom-left, bottom-right.
    EXPECT_EQ(s1.maxRuns(0, 0, w / 2, h / 2), 1);
    EXPECT_EQ(s1.maxRuns(w / 2, 0, w, h / 2), 2);
    EXPECT_EQ(s1.maxRuns(0, h / 2, w / 2, h), 3);
    EXPECT_EQ(s1.maxRuns(w / 2, h / 2, w, h), 4);
    const Grey& s2 = sheets[1];
    EXPECT_EQ(s2.maxRuns(0, 0, w / 2, h / 2), 5);
    EXPECT_EQ(s2.maxRuns(w / 2, 0, w, h / 2), 6);
    EXPECT_EQ(s2.darkCount(0, h / 2, w, h), 0);
}

TEST_F(FaxPrinterJob, MultiPageLandscapePutsTwoPagesSideBySide) {
    TELVANE_REQUIRE_PEER(havePoppler(), "pdftoppm/pdftotext (poppler-utils) not installed");
    ASSERT_EQ(printer.setFileName(fax({barsPage(1), barsPage(2), barsPage(3)})), 0);
    printer.MultiPage = true;
    const std::vector<Grey> sheets = printToPdf(50, QPageLayout::Landscape);
    ASSERT_EQ(sheets.size(), 2u);
    const Grey& s = sheets[0];
    EXPECT_GT(s.width, s.height);
    EXPECT_EQ(s.maxRuns(0, 0, s.width / 2, s.height), 1);
    EXPECT_EQ(s.maxRuns(s.width / 2, 0, s.width, s.height), 2);
    EXPECT_EQ(sheets[1].maxRuns(0, 0, s.width / 2, s.height), 3);
    EXPECT_EQ(sheets[1].darkCount(s.width / 2, 0, s.width, s.height), 0);
}

TEST_F(FaxPrinterJob, HeaderAndFooterTokensShowPageTwoOfFive) {
    TELVANE_REQUIRE_PEER(havePoppler(), "pdftoppm/pdftotext (poppler-utils) not installed");
    std::vector<Raster> pages;
    for (int k = 1; k <= 5; ++k) pages.push_back(barsPage(k));
    ASSERT_EQ(printer.setFileName(fax(pages)), 0);
    printer.FaxHeader = {QStringLiteral("Header $P of $N"), true, QFont(QStringLiteral("Arial"), 12)};
    printer.FaxFooter = {QStringLiteral("Page: $P of $N"), true, QFont(QStringLiteral("Arial"), 12)};
    printer.FirstPage = 2;
    printer.LastPage = 3;
    const std::vector<Grey> sheets = printToPdf(100);
    ASSERT_EQ(rc, 0);
    ASSERT_EQ(sheets.size(), 2u);
    const QString text = pdfText(pdf, 1);
    EXPECT_TRUE(text.contains("Header 2 of 5")) << text.toStdString();
    EXPECT_TRUE(text.contains("Page: 2 of 5")) << text.toStdString();
    EXPECT_TRUE(pdfText(pdf, 2).contains("Page: 3 of 5"));
    // The header text lies above the fax image and the footer below it.
    QStringList lines;
    for (const QString& line : text.split('\n'))
        if (!line.trimmed().isEmpty()) lines << line;
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines.first().contains("Header"));
    EXPECT_TRUE(lines.last().contains("Page:"));
    const Grey& s = sheets[0];
    EXPECT_EQ(s.maxRuns(0, s.height / 8, s.width, s.height * 3 / 4), 2);
    // The rule under the header: a dark run across most of the sheet near its top.
    int longestTop = 0;
    for (int y = 0; y < s.height / 8; ++y) {
        int run = 0;
        for (int x = 0; x < s.width; ++x) {
            run = s.dark(x, y) ? run + 1 : 0;
            longestTop = std::max(longestTop, run);
        }
    }
    EXPECT_GT(longestTop, s.width * 9 / 10);
}

TEST_F(FaxPrinterJob, DisabledOrEmptyMarginsPrintNoText) {
    TELVANE_REQUIRE_PEER(havePoppler(), "pdftoppm/pdftotext (poppler-utils) not installed");
    ASSERT_EQ(printer.setFileName(fax({barsPage(2)})), 0);
    printer.FaxHeader = {QStringLiteral("Header $P"), false, QFont()};
    printer.FaxFooter = {QString(), true, QFont()};
    printToPdf();
    ASSERT_EQ(rc, 0);
    EXPECT_TRUE(pdfText(pdf, 1).trimmed().isEmpty());
}

TEST_F(FaxPrinterJob, NoScalingPrintsAPageLineAtTwoHundredPelsPerInch) {
    TELVANE_REQUIRE_PEER(havePoppler(), "pdftoppm/pdftotext (poppler-utils) not installed");
    Raster page(1728, 400);
    fillRect(page, 0, 100, 1728, 6);  // one line across the whole page width
    ASSERT_EQ(printer.setFileName(fax({page})), 0);
    printer.PrintScale = psNone;
    // Paper wider than 8.64 inches so the whole line fits.
    const std::vector<Grey> sheets = printToPdf(100, QPageLayout::Portrait, QPageSize(QSizeF(10, 12), QPageSize::Inch));
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_NEAR(sheets[0].longestRun(), 864, 3);  // 1728 pels at 200 per inch = 8.64 in
}

TEST_F(FaxPrinterJob, FitToPageFillsNinetyThreePercentOfTheSheetWidth) {
    TELVANE_REQUIRE_PEER(havePoppler(), "pdftoppm/pdftotext (poppler-utils) not installed");
    Raster page(1728, 400);
    fillRect(page, 0, 100, 1728, 6);
    ASSERT_EQ(printer.setFileName(fax({page})), 0);
    printer.PrintScale = psFitToPage;
    const std::vector<Grey> sheets = printToPdf(100);
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_NEAR(sheets[0].longestRun(), (850 - 4) * 93 / 100, 4);  // Letter at 100 dpi, less 2 pels a side
}

TEST_F(FaxPrinterJob, EveryJobIsLoggedStartedAndFinished) {
    ASSERT_EQ(printer.setFileName(fax({barsPage(1)})), 0);
    QSignalSpy logs(&printer, &TOvxFaxPrinter::OnFaxPrintLog);
    QSignalSpy status(&printer, &TOvxFaxPrinter::OnFaxPrintStatus);
    printToPdf();
    ASSERT_EQ(rc, 0);
    ASSERT_EQ(logs.count(), 2);
    EXPECT_EQ(logs[0][0].toInt(), 0);
    EXPECT_EQ(logs[1][0].toInt(), 1);
    QList<int> codes;
    for (const auto& s : status) codes << s[0].toInt();
    EXPECT_EQ(codes, (QList<int>{ppConverting, ppComposing, ppRendering, ppSubmitting, ppIdle}));
    const QString text = logText();
    EXPECT_TRUE(text.startsWith("Printing " + printer.FileName() + " started at ")) << text.toStdString();
    EXPECT_TRUE(text.contains("Printing " + printer.FileName() + " finished at "));
    EXPECT_EQ(printer.progress(), ppIdle);
}

TEST_F(FaxPrinterJob, AnUndecodablePageFailsTheJobAndLogsIt) {
    const QString path = fax({barsPage(1), barsPage(2)});
    // Cut the file inside page 2's data.
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    const qint64 size = f.size();
    ASSERT_TRUE(f.resize(size - 2000));
    f.close();
    ASSERT_EQ(printer.setFileName(path), 0);
    printToPdf();
    EXPECT_LT(rc, 0);
    EXPECT_TRUE(logText().contains(" failed at "));
    EXPECT_FALSE(logText().contains(" finished at "));
}

TEST_F(FaxPrinterJob, AbortFromTheStatusWindowStopsAndLogsAborted) {
    std::vector<Raster> pages;
    for (int k = 1; k <= 4; ++k) pages.push_back(barsPage(k));
    ASSERT_EQ(printer.setFileName(fax(pages)), 0);
    TStandardFaxPrinterStatusDisplay display;
    printer.StatusDisplay = &display;
    QStringList seen;
    QObject::connect(&printer, &TOvxFaxPrinter::OnNextPage, [&](int page, int) {
        seen << display.statusText();
        if (page == 2) printer.printAbort();
    });
    QSignalSpy nextPage(&printer, &TOvxFaxPrinter::OnNextPage);
    printToPdf();
    EXPECT_EQ(rc, errors::ecUnpackAbort);
    EXPECT_EQ(nextPage.count(), 2);
    EXPECT_TRUE(logText().contains(" aborted at "));
    EXPECT_FALSE(logText().contains(" finished at "));
    EXPECT_EQ(display.fileText(), printer.FileName().toUpper());
    EXPECT_EQ(display.windowTitle(), "Print Status");
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_TRUE(seen.first().endsWith(" 1 of 4")) << seen.first().toStdString();
    EXPECT_FALSE(display.isVisible());
}

TEST_F(FaxPrinterJob, AFileWithoutPagesPrintsNothing) {
    QFile::remove(log.LogFileName);
    ASSERT_TRUE(makeFax(dir.filePath("empty.ovf").toStdString(), {}));
    ASSERT_EQ(printer.setFileName(dir.filePath("empty.ovf")), 0);
    EXPECT_EQ(printer.pageCount(), 0);
    printToPdf();
    EXPECT_EQ(rc, 0);
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_FALSE(QFile::exists(log.LogFileName));
}

}  // namespace

namespace {

// Where a job cannot go is named with its reason, for each kind of destination.
TEST(FaxPrinterReadiness, ProblemsNameTheReason) {
    QTemporaryDir dir;
    QPrinter pdf;
    pdf.setOutputFormat(QPrinter::PdfFormat);
    pdf.setOutputFileName(QString());
    EXPECT_EQ(printerProblem(pdf, {}), "no printer is set up on this computer");
    EXPECT_EQ(printerProblem(pdf, {"Office"}), "no file name was chosen for the PDF file");
    EXPECT_EQ(printerDisplayName(pdf), "a PDF file");
    pdf.setOutputFileName(dir.filePath("no/such/folder/out.pdf"));
    EXPECT_TRUE(printerProblem(pdf, {}).contains("does not exist")) << printerProblem(pdf, {}).toStdString();
    pdf.setOutputFileName(dir.filePath("out.pdf"));
    EXPECT_EQ(printerProblem(pdf, {}), "");
    EXPECT_TRUE(printerDisplayName(pdf).startsWith("the PDF file \""));

    // A system printer (made from its parts: a QPrinter falls back to PDF without a printing system).
    const auto native = [](const QStringList& installed) {
        return printerProblem(QPrinter::NativeFormat, QStringLiteral("Front Desk"), QString(), installed);
    };
    EXPECT_EQ(native({}), "no printer is set up on this computer");
    EXPECT_EQ(native({"Office"}), "that printer is not installed on this computer");
    EXPECT_EQ(native({"Office", "Front Desk"}), "");
}

}  // namespace

// A job for a destination that cannot take it fails at once with a sentence naming the
// destination and the reason, is logged as failed, and draws nothing.
TEST_F(FaxPrinterJob, AJobWithoutAUsablePrinterFailsWithTheReason) {
    ASSERT_EQ(printer.setFileName(fax({barsPage(1)})), 0);
    printer.InstalledPrinters = [] { return QStringList{}; };
    QPrinter& p = printer.qPrinter();
    p.setOutputFormat(QPrinter::PdfFormat);
    p.setOutputFileName(QString());
    QSignalSpy logs(&printer, &TOvxFaxPrinter::OnFaxPrintLog);
    EXPECT_EQ(printer.readinessProblem(), "no printer is set up on this computer");
    EXPECT_EQ(printer.printFax(), errors::ecDeviceWrite);
    EXPECT_EQ(printer.lastError(), "Printing on a PDF file failed: no printer is set up on this computer.");
    ASSERT_EQ(logs.count(), 2);
    EXPECT_EQ(logs[1][0].toInt(), 3);
    EXPECT_TRUE(logText().contains(" failed at "));
    // A folder that does not exist is named as such.
    p.setOutputFileName(dir.filePath("gone/out.pdf"));
    EXPECT_EQ(printer.printFax(), errors::ecDeviceWrite);
    EXPECT_TRUE(printer.lastError().contains("gone")) << printer.lastError().toStdString();
    EXPECT_TRUE(printer.lastError().contains("does not exist"));
    // A good destination prints and clears the error.
    printToPdf();
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(printer.lastError(), "");
}

// A destination the user chose is used by fax printers made afterwards, unless they opt out.
TEST_F(FaxPrinterJob, AChosenPdfFileIsRememberedForLaterPrinters) {
    QPrinter chosen;
    chosen.setOutputFormat(QPrinter::PdfFormat);
    chosen.setOutputFileName(dir.filePath("chosen.pdf"));
    TOvxFaxPrinter::rememberChoice(chosen);
    TOvxFaxPrinter later;
    EXPECT_EQ(later.qPrinter().outputFormat(), QPrinter::PdfFormat);
    EXPECT_EQ(later.qPrinter().outputFileName(), dir.filePath("chosen.pdf"));
    TOvxFaxPrinter receipt;
    receipt.UseRememberedChoice = false;
    EXPECT_NE(receipt.qPrinter().outputFileName(), dir.filePath("chosen.pdf"));
    TOvxFaxPrinter::rememberChoice(QPrinter());  // back to the system's printer for other tests
}
