// TOvxFaxPrinter, the fax printer: prints a page range of an OVF fax file through Qt
// PrintSupport, one page per sheet or several per sheet (MultiPage), fitted to the sheet or at
// 200 pels per inch, with optional header and footer lines whose "$" tokens are substituted.
// Progress goes to a status display and to the print log "FAXPRINT.LOG".
// Guarantees: every started job ends in exactly one log line of finished, aborted or failed;
// a page that cannot be decoded fails the job without a crash; window events run between
// steps so an abort takes effect at the next step.
#pragma once

#include "faximage/faxunpacker.h"
#include "faximage/raster.h"

#include <QDateTime>
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QPrinter>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QPainter;
class QWidget;

namespace telvane::faximage {

enum TFaxPrintScale { psNone, psFitToPage };
enum TFaxPrintProgress { ppIdle, ppComposing, ppRendering, ppSubmitting, ppConverting };

// "Idle", "Composing", "Rendering", "Submitting", "Converting".
QString faxPrintProgressText(int progress);

struct TOvxFaxPrinterMargin {
    QString Caption;
    bool Enabled = true;
    QFont Font = QFont(QStringLiteral("Arial"), 10);
};

// The print log: one appended line per job event; no file name, no log.
class TOvxFaxPrinterLog {
public:
    QString LogFileName = QStringLiteral("FAXPRINT.LOG");
    // Codes: 0 started, 1 finished, 2 aborted, 3 failed. Write failures are ignored.
    void log(int code, const QString& faxFile, const QDateTime& when = QDateTime::currentDateTime()) const;
    static QString lineFor(int code, const QString& faxFile, const QDateTime& when);
};

class TOvxFaxPrinter;

// What a status display is told while printing.
class TOvxAbstractFaxPrinterStatus {
public:
    virtual ~TOvxAbstractFaxPrinterStatus() = default;
    virtual void showStatus(TOvxFaxPrinter& printer) = 0;
    virtual void updateStatus(TOvxFaxPrinter& printer) = 0;
    virtual void closeStatus(TOvxFaxPrinter& printer) = 0;
};

// Substitutes the tokens of a header or footer caption: each "$" starts a token running to the
// next blank, replaced by the value named by its first letter (D date, T time, F file name,
// N page count, P page number, case-insensitive; any other letter gives an empty string).
QString substituteMarginTokens(const QString& caption, const QString& fileName, int page, int pageCount,
                               const QDateTime& when);

// Where one fax page goes on a sheet.
struct FaxPageLayout {
    QRect area;    // the page's drawing area after header and footer
    QRect image;   // the page bitmap's target rectangle
    QRect source;  // the part of the bitmap drawn (cut to the area under psNone)
};

// The drawing area of slot `index` (0-based within the sheet) of a sheet with the given
// printable rectangle: the whole sheet, or with MultiPage a quarter (portrait: top-left,
// top-right, bottom-left, bottom-right) or a half (landscape: left, right), shrunk by 2 pels.
QRect faxSlotArea(const QRect& printable, bool multiPage, bool landscape, int index);
// Pages per sheet: 1, or with MultiPage 4 in portrait and 2 in landscape.
int faxPagesPerSheet(bool multiPage, bool landscape);
// Size and place of a page bitmap of pageSize (pels at about 200 per inch) in `area`:
// psFitToPage: 93 % of the area width, proportional height, shrunk further when too tall;
// psNone: pels x dpi / 200 in both directions, the height cut to the area.
FaxPageLayout faxPlacePage(const QRect& area, QSize pageSize, TFaxPrintScale scale, int dpiX, int dpiY);

// The name a user knows a print destination by: the printer's name, "the PDF file NAME", or
// "the default printer".
QString printerDisplayName(const QPrinter& printer);
// Why a job cannot start on `printer` when `installed` are the system's printers; empty when it
// can. Checked before a job starts so that a missing printer is named, not silently skipped.
QString printerProblem(const QPrinter& printer, const QStringList& installed);
// The same for a destination given by its parts (a system printer needs a printing system to
// be made into a QPrinter).
QString printerProblem(QPrinter::OutputFormat format, const QString& printerName, const QString& outputFile,
                       const QStringList& installed);
// The system's printers (QPrinterInfo).
QStringList installedPrinterNames();

class TOvxFaxPrinter : public QObject {
    Q_OBJECT
public:
    explicit TOvxFaxPrinter(QObject* parent = nullptr);
    ~TOvxFaxPrinter() override;

    QString Caption = QStringLiteral("Fax");
    TOvxFaxPrinterMargin FaxHeader{QStringLiteral("FILE: $F"), true, QFont(QStringLiteral("Arial"), 10)};
    TOvxFaxPrinterMargin FaxFooter{QStringLiteral("PAGE: $P of $N"), true, QFont(QStringLiteral("Arial"), 10)};
    TOvxFaxPrinterLog* FaxPrinterLog = nullptr;
    TOvxAbstractFaxPrinterStatus* StatusDisplay = nullptr;
    bool MultiPage = false;
    TFaxPrintScale PrintScale = psFitToPage;

    // Reads the page count and page 1's flags; the range becomes 1..page count. Returns 0 or
    // the decoder's error (the page count is then 0).
    int setFileName(const QString& name);
    const QString& FileName() const { return fileName_; }

    int pageCount() const { return pageCount_; }
    bool faxFine() const { return fine_; }
    bool faxWide() const { return wide_; }
    int FirstPage = 0;
    int LastPage = 0;
    int currentPage() const { return currentPage_; }
    int progress() const { return progress_; }
    bool Printing() const { return printing_; }

    // The printer used; made on first use for the current system printer. Tests and callers
    // may replace its settings (output file, resolution, orientation).
    QPrinter& qPrinter();

    // The system's printers as the readiness check sees them; replaceable for tests.
    std::function<QStringList()> InstalledPrinters = installedPrinterNames;
    // Why the current printer cannot take a job now; empty when it can.
    QString readinessProblem();
    // After PrintFax failed: a sentence naming the printer and the reason; empty otherwise.
    const QString& lastError() const { return lastError_; }
    // A printer the user chose (name, or PDF output file) is used by every fax printer made
    // afterwards in this run.
    static void rememberChoice(const QPrinter& printer);
    // Off: this printer starts from the system's current printer whatever was chosen.
    bool UseRememberedChoice = true;

    // The printer setup dialog; true when confirmed.
    bool printSetup(QWidget* parent = nullptr);
    // The print dialog with the page range; prints when confirmed. 0, 1 when cancelled, or an error.
    int printWithDialog(QWidget* parent = nullptr);
    // Prints FirstPage..LastPage (clamped to the file): 0, or a negative code (ecUnpackAbort
    // after an abort).
    int printFax();
    // Stops the running job at the next step.
    void printAbort();

signals:
    void OnNextPage(int currentPage, int totalPages);
    void OnFaxPrintLog(int faxPLCode);
    void OnFaxPrintStatus(int statusCode);

private:
    void setProgress(int code);
    void log(int code);
    int printPage(QPainter& painter, int page, int slot, bool landscape);
    int drawMargin(QPainter& painter, const TOvxFaxPrinterMargin& margin, QRect& area, bool top, int page);
    int decode(int page, Raster& out);

    QString fileName_;
    int pageCount_ = 0;
    bool fine_ = false, wide_ = false;
    int currentPage_ = 0;
    int progress_ = ppIdle;
    bool printing_ = false;
    bool aborted_ = false;
    std::unique_ptr<QPrinter> printer_;
    TOvxFaxUnpacker unpacker_;
    QDateTime jobTime_;
    QString lastError_;
};

}  // namespace telvane::faximage
