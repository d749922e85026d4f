// Viewing and printing logged faxes: the viewer window TFaxViewer, the print options dialog
// TPrePrintForm, the info line and the main window's View/Print command.
// Guarantees: the print options are written to the settings file after every print options
// dialog whatever its result; a rendered (outgoing) fax file is deleted after viewing or
// printing on every path, a received fax file never; the main window's cursor and status line
// are restored on every path.
#pragma once

#include "faximage/printer/faxprinter.h"
#include "faximage/printer/printstatus.h"
#include "faximage/viewer/faxviewer.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <string>

class QAction;
class QCheckBox;
class QHBoxLayout;
class QLabel;
class QMenuBar;
class QPushButton;
class QSpinBox;
class QAbstractButton;

class QPrinter;

namespace telvane::app {
class IMainWindow;
struct MainWindowCommands;
}  // namespace telvane::app

namespace telvane::settings {
struct PrintOptions;
}  // namespace telvane::settings

namespace telvane::viewprint {

// The info line of an outgoing fax: "To: " recipient, 13 spaces, "Subject: " subject, 13 spaces,
// "Sent: " and the sent text.
QString outgoingInfoLine(const QString& recipient, const QString& subject, const QString& sentText);
// The info line of a received fax: "From: " sender (trimmed), 13 spaces, "Received: " text,
// 13 spaces, "Fax File: " and the fax file's path (as it is: Linux file names keep their case).
QString incomingInfoLine(const QString& from, const QString& receivedText, const QString& faxFilePath);

// The footer caption both print paths use.
inline const QString kPageFooterCaption = QStringLiteral("Page: $P of $N");

// The initial zoom step for a page `pageWidth` pixels wide in a control `controlWidth` wide.
int initialZoomStep(int pageWidth, int controlWidth);

// The print options dialog "Print". exec() returns 1 for Ok and 2 for Cancel.
class TPrePrintForm : public QDialog {
    Q_OBJECT
public:
    explicit TPrePrintForm(QWidget* parent = nullptr);

    QSpinBox* FromPage;
    QSpinBox* ToPage;
    QCheckBox* HeaderBox;
    QCheckBox* FooterBox;
    QCheckBox* MultiPageBox;
    QCheckBox* StretchBox;
    QPushButton* OkButton;
    QPushButton* CancelButton;

    // Limits both spin edits to 1..pages.
    void limitTo(int pages);
    void setOptions(const settings::PrintOptions& options);
    // Writes the four boxes into options (multi-page only when its box is enabled).
    void storeOptions(settings::PrintOptions& options) const;

    void OkButtonClick();
    void reject() override;
};

class TFaxViewer : public QDialog {
    Q_OBJECT
public:
    static constexpr int kHelpContext = 1021;

    explicit TFaxViewer(QWidget* parent = nullptr);
    ~TFaxViewer() override;

    // Given by the caller before the window is shown.
    QString FaxFileName;
    QString InfoLine;

    faximage::TOvxFaxViewer* faxViewer() const { return viewer_; }
    faximage::TOvxFaxPrinter& faxPrinter() { return printer_; }
    faximage::TStandardFaxPrinterStatusDisplay& printStatus() { return *statusDisplay_; }
    QString statusText() const;
    int zoomStep() const { return zoom_; }
    QAction* zoomAction(int step) const;
    QAction* rotationAction(int quarterTurns) const;
    QAction* exportAction(const QString& format) const;
    QAbstractButton* button(const char* objectName) const;

    // Asks for the output file of an export ("" = cancelled); replaceable for tests.
    std::function<QString(const QString& format, const QString& suggested)> AskExportFile;

    // First activation: load the file, initial zoom, buttons.
    void FormActivate();
    void loadFile();
    void setZoom(int step);
    void zoomInButtonClick();
    void zoomOutButtonClick();
    void setRotation(int quarterTurns);
    void printerSetupButtonClick();
    void printbuttonClick() { printFax(false); }
    void printSinglePageButtonClick() { printFax(true); }
    // Exports the page on display (BMP, PCX, DCX) or the whole fax (TIFF, PDF) into `file`:
    // 0 or the engine's error code.
    int exportTo(const QString& format, const QString& file);
    void exportClick(const QString& format);

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void done(int r) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildUi();
    // The steps of buildUi, in the order the widgets are made (that order is the tab order).
    void buildViewer();
    QMenuBar* buildMenus();
    void addExportMenu(QMenuBar* menus);
    void buildPageButtons();
    QHBoxLayout* buildButtonRow();
    void addZoomKeys();
    void buildStatusPanel();
    void printFax(bool singlePage);
    void updateStatus();
    void ovxFaxViewer1PageChange(int page);
    void ovxFaxViewer1ViewerError(int code);
    void savePlacement();
    QAbstractButton* addButton(const char* name, const QString& text, const QString& hint, std::function<void()> f);

    faximage::TOvxFaxViewer* viewer_ = nullptr;
    faximage::TOvxFaxPrinter printer_;
    faximage::TStandardFaxPrinterStatusDisplay* statusDisplay_ = nullptr;
    faximage::TOvxFaxPrinterLog printLog_;
    QLabel* status_ = nullptr;
    QWidget* pageButtons_ = nullptr;
    int zoom_ = 66;
    bool printerSetUp_ = false;
    bool activated_ = false;
    bool loading_ = false;
    bool placementSaved_ = false;
};

// Qt's print dialog as a chooser of where to print (a printer, or a PDF file): true when the
// user chose; the choice is kept for the rest of the run. Replaceable for tests.
std::function<bool(QPrinter& printer, QWidget* parent)>& printerChooser();

// Prints the job prepared in `printer`. A destination that cannot take it is first offered for
// choosing again (cancelling prints nothing and says nothing); a failure is shown in a message
// naming the printer and the reason. Returns the printer's result (1 when nothing was printed
// by the user's choice).
int printAndReport(faximage::TOvxFaxPrinter& printer, QWidget* parent);

// The main window's View/Print command for the current fax of the page shown.
void viewPrintFax(app::IMainWindow& window, bool print);

// Sets ViewPrintFax as the main window's view/print command.
void addViewerCommands(app::MainWindowCommands& commands);

}  // namespace telvane::viewprint
