// Receive mode on the main window without a line: the notice window made hidden at start, the
// close query while a fax arrives, and a fax reported received by the engine becoming a record
// and, when asked, a print job on the printer the settings name (or the current printer when
// that one is not installed).
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QRegularExpression>

#include <vector>

#include "faximage/mhcoder.h"
#include "faximage/ovffile.h"
#include "faximage/printer/faxprinter.h"
#include "faxsession.h"
#include "sessions/receivemode.h"
#include "sessions/sessionhooks.h"
#include "sessions_fixture.h"
#include "shell/mainscreen.h"

namespace telvane::sessiontest {
namespace {

using namespace telvane::sessions;

// Writes an OVF file of `pages` pages with a black bar on each.
bool writeFax(const QString& path, int pages) {
    faximage::OvfWriter w;
    if (w.create(path.toStdString(), "TEST") != 0) return false;
    faximage::FaxLineCoder coder;
    std::vector<uint8_t> white(1728 / 8, 0), bar(1728 / 8, 0);
    for (size_t i = 20; i < 60; ++i) bar[i] = 0xFF;
    for (int p = 0; p < pages; ++p) {
        coder.setup(1728, 0, false);
        if (w.beginPage(0) != 0) return false;
        for (int y = 0; y < 400; ++y) {
            const std::vector<uint8_t>& row = (y > 100 && y < 300) ? bar : white;
            const size_t n = coder.codeLine(row.data());
            if (w.appendRecord(coder.data(), n) != 0) return false;
        }
        if (w.endPage() != 0) return false;
    }
    return w.close() == 0;
}

// Pages of a PDF written by Qt (one "/Type /Page" object each).
int pdfPages(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return -1;
    return static_cast<int>(QString::fromLatin1(f.readAll()).count(QRegularExpression(QStringLiteral("/Type\\s*/Page\\b"))));
}

class ReceiveModeTest : public SessionsTest {
protected:
    void SetUp() override {
        SessionsTest::SetUp();
        mainScreenHooks() = MainScreenHooks{};
        main_ = std::make_unique<TMainScreen>();
        setMainWindow(main_.get());
        createSessionWindows(*main_);
    }
    void TearDown() override {
        main_.reset();
        setMainWindow(nullptr);
        SessionsTest::TearDown();
    }

    // The engine's events for a fax received into receive/<name> from `from`.
    void receive(TReceiveMode& mode, const QString& name, const std::string& from, int pages) {
        ASSERT_TRUE(writeFax(qdir() + "receive/" + name, pages));
        mode.OvxReceiveFax1.SetFaxFile((qdir() + "receive/" + name).toStdString());
        mode.OvxReceiveFax1.SetRemoteID(from);
        mode.OvxReceiveFax1.SetPageInfo(pages, pages);
        mode.OvxReceiveFax1FaxLog(ovx::lfaxReceiveStart);
        mode.OvxReceiveFax1FaxLog(ovx::lfaxReceiveOk);
    }
    QString printTo(TReceiveMode& mode) {
        const QString pdf = qdir() + "receipt.pdf";
        QPrinter& p = mode.ovxFaxPrinter1().Printer();
        p.setOutputFormat(QPrinter::PdfFormat);
        p.setOutputFileName(pdf);
        p.setResolution(100);
        return pdf;
    }

    std::unique_ptr<TMainScreen> main_;
};

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
    Settings& s = AppSettings();
    s.Receive.PrintOnReceipt = true;
    s.Receive.PrintOnReceiptPrinter = "Telvane Test Printer That Is Not Installed";
    TReceiveMode& mode = TReceiveMode::of(*main_);
    const QString pdf = printTo(mode);
    const QString current = mode.ovxFaxPrinter1().Printer().printerName();
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
    EXPECT_EQ(mode.ovxFaxPrinter1().Printer().printerName(), current);
    EXPECT_EQ(mode.ovxFaxPrinter1().Printer().outputFormat(), QPrinter::PdfFormat);
    EXPECT_FALSE(mode.ovxFaxPrinter1().FaxHeader.Enabled);
    EXPECT_FALSE(mode.ovxFaxPrinter1().FaxFooter.Enabled);
}

TEST_F(ReceiveModeTest, PrinterIsLookedUpByExactNameOrIsTheSystemDefault) {
    Settings& s = AppSettings();
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
    AppSettings().Receive.PrintOnReceipt = false;
    TReceiveMode& mode = TReceiveMode::of(*main_);
    const QString pdf = printTo(mode);
    bool requested = false;
    QObject::connect(&mode, &TReceiveMode::printRequested, [&] { requested = true; });
    receive(mode, "FAX0001.OVF", "", 1);
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(main_->RecTable().visibleCount(), 1u);
    EXPECT_FALSE(requested);
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_TRUE(mode.ovxFaxPrinter1().FileName().isEmpty());
}

}  // namespace
}  // namespace telvane::sessiontest
