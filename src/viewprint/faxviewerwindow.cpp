// The viewer window (TFaxViewer) and printing with the user's choice of printer.
#include "viewprint/faxviewerwindow.h"
#include "viewprint/printhelpers.h"

#include "faximage/faxexport.h"
#include "faximage/faxunpacker.h"
#include "app/helpwindow.h"
#include "app/mainwindow.h"
#include "app/placement.h"
#include "settings/programdir.h"
#include "settings/settings.h"
#include "app/uihelpers.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <optional>

namespace telvane::viewprint {

namespace {

constexpr int kZoomSteps[] = {25, 50, 75, 100};

QString zoomName(int step) { return QStringLiteral("%1%").arg(step * 2); }

}  // namespace

// TFaxViewer

TFaxViewer::TFaxViewer(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FaxViewer"));
    setWindowTitle(QStringLiteral("Fax Viewer "));
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setSizeGripEnabled(true);
    AskExportFile = [this](const QString& format, const QString& suggested) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Export"), suggested,
                                            QStringLiteral("%1 File (*.%2 *.%1)").arg(format, format.toLower()));
    };
    printer_.FaxHeader.Caption = QStringLiteral("File: $F");
    printer_.FaxHeader.Enabled = false;
    printer_.FaxFooter.Caption = kPageFooterCaption;
    printer_.FaxFooter.Enabled = false;
    printer_.Caption = QStringLiteral("Fax");
    printLog_.LogFileName = QString::fromStdString(settings::ProgramDir()) + QStringLiteral("FAXPRINT.LOG");
    printer_.FaxPrinterLog = &printLog_;
    statusDisplay_ = new faximage::TStandardFaxPrinterStatusDisplay(this);
    printer_.StatusDisplay = statusDisplay_;
    buildUi();
    resize(760, 620);
}

TFaxViewer::~TFaxViewer() = default;

QAbstractButton* TFaxViewer::addButton(const char* name, const QString& text, const QString& hint,
                                       std::function<void()> f) {
    auto* b = new QToolButton(this);
    b->setObjectName(QLatin1String(name));
    b->setText(text);
    b->setToolTip(hint);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    b->setFocusPolicy(Qt::TabFocus);
    connect(b, &QToolButton::clicked, this, std::move(f));
    return b;
}

void TFaxViewer::buildUi() {
    buildViewer();
    QMenuBar* menus = buildMenus();
    buildPageButtons();
    QHBoxLayout* row = buildButtonRow();
    addZoomKeys();
    buildStatusPanel();

    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(menus);
    layout->addWidget(viewer_, 1);
    layout->addLayout(row);
    layout->addWidget(status_);
    pageButtons_->setVisible(false);
}

void TFaxViewer::buildViewer() {
    viewer_ = new faximage::TOvxFaxViewer(this);
    viewer_->setObjectName(QStringLiteral("OvxFaxViewer1"));
    // A standard-resolution page is stretched to double height, so that it shows at the size of a
    // fine one: at half width its text was too small to read.
    viewer_->setAutoScaleMode(faximage::asDoubleHeight);
    viewer_->BusyCursor = QCursor(Qt::WaitCursor);
    connect(viewer_, &faximage::TOvxFaxViewer::OnPageChange, this, &TFaxViewer::ovxFaxViewer1PageChange);
    connect(viewer_, &faximage::TOvxFaxViewer::OnViewerError, this, &TFaxViewer::ovxFaxViewer1ViewerError);
    connect(viewer_, &faximage::TOvxFaxViewer::OnDropFile, this, [this](const QString& file) {
        FaxFileName = file;
        loadFile();
    });
}

QMenuBar* TFaxViewer::buildMenus() {
    auto* menus = new QMenuBar(this);
    QMenu* view = menus->addMenu(QStringLiteral("&View"));
    for (int step : kZoomSteps) {
        QAction* a = view->addAction(zoomName(step), this, [this, step] { setZoom(step); });
        a->setObjectName(QStringLiteral("Zoom%1").arg(step));
        a->setCheckable(true);
    }
    QMenu* rotation = menus->addMenu(QStringLiteral("&Rotation"));
    const QString rotations[] = {QStringLiteral("No rotation"), QStringLiteral("Rotate 90 degrees"),
                                 QStringLiteral("Rotate 180 degrees"), QStringLiteral("Rotate 270 degrees")};
    for (int q = 0; q < 4; ++q) {
        QAction* a = rotation->addAction(rotations[q], this, [this, q] { setRotation(q); });
        a->setObjectName(QStringLiteral("Rotation%1").arg(q));
        a->setCheckable(true);
    }
    addExportMenu(menus);
    return menus;
}

void TFaxViewer::addExportMenu(QMenuBar* menus) {
    QMenu* exportMenu = menus->addMenu(QStringLiteral("&Export"));
    for (const char* format : {"BMP", "PCX", "DCX"}) {
        const QString f = QLatin1String(format);
        QAction* a = exportMenu->addAction(QStringLiteral("Export this page as %1 File").arg(f), this,
                                           [this, f] { exportClick(f); });
        a->setObjectName(QStringLiteral("Export") + f);
    }
    exportMenu->addSeparator();
    for (const char* format : {"TIFF", "PDF"}) {
        const QString f = QLatin1String(format);
        QAction* a = exportMenu->addAction(QStringLiteral("Export the whole fax as %1 File").arg(f), this,
                                           [this, f] { exportClick(f); });
        a->setObjectName(QStringLiteral("Export") + f);
    }
}

void TFaxViewer::buildPageButtons() {
    pageButtons_ = new QWidget(this);
    auto* pages = new QHBoxLayout(pageButtons_);
    pages->setContentsMargins(0, 0, 0, 0);
    pages->addWidget(
        addButton("FirstButton", QStringLiteral("|<"), QStringLiteral("First page"), [this] { viewer_->firstPage(); }));
    pages->addWidget(
        addButton("PrevButton", QStringLiteral("<"), QStringLiteral("Previous page"), [this] { viewer_->prevPage(); }));
    pages->addWidget(
        addButton("NextButton", QStringLiteral(">"), QStringLiteral("Next page"), [this] { viewer_->nextPage(); }));
    pages->addWidget(
        addButton("LastButton", QStringLiteral(">|"), QStringLiteral("Last page"), [this] { viewer_->lastPage(); }));
}

QHBoxLayout* TFaxViewer::buildButtonRow() {
    auto* row = new QHBoxLayout;
    row->addWidget(pageButtons_);
    row->addSpacing(8);
    // The zoom buttons answer the desktop's zoom keys (Ctrl++ and Ctrl+-).
    row->addWidget(addButton("ZoomInButton", QStringLiteral("Zoom +"), QStringLiteral("Zoom in"),
                             [this] { zoomInButtonClick(); }));
    button("ZoomInButton")->setShortcut(QKeySequence::ZoomIn);
    row->addWidget(addButton("ZoomOutButton", QStringLiteral("Zoom -"), QStringLiteral("Zoom out"),
                             [this] { zoomOutButtonClick(); }));
    button("ZoomOutButton")->setShortcut(QKeySequence::ZoomOut);
    row->addSpacing(8);
    row->addWidget(addButton("PrinterSetupButton", QStringLiteral("Printer Se&tup..."), QStringLiteral("Printer setup"),
                             [this] { printerSetupButtonClick(); }));
    row->addWidget(
        addButton("Printbutton", QStringLiteral("&Print..."), QStringLiteral("Print"), [this] { printbuttonClick(); }));
    row->addWidget(addButton("PrintSinglePageButton", QStringLiteral("Print Pa&ge..."),
                             QStringLiteral("Print current page"), [this] { printSinglePageButtonClick(); }));
    row->addStretch();
    auto* close = new QPushButton(QStringLiteral("C&lose"), this);
    close->setObjectName(QStringLiteral("CloseButton"));
    close->setToolTip(QStringLiteral("Close the Fax Viewer"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &TFaxViewer::reject);
    auto* help =
        app::makePushButton(this, "HelpButton", QStringLiteral("&Help"), QStringLiteral("Get help for the Fax Viewer"));
    connect(help, &QPushButton::clicked, this, [] { app::showHelp(kHelpContext); });
    row->addWidget(close);
    row->addWidget(help);
    return row;
}

void TFaxViewer::addZoomKeys() {
    // Zoom the way other viewers do: Ctrl+wheel and Ctrl+plus / Ctrl+minus.
    viewer_->viewport()->installEventFilter(this);
    auto* zoomIn = new QAction(this);
    zoomIn->setShortcuts({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    connect(zoomIn, &QAction::triggered, this, &TFaxViewer::zoomInButtonClick);
    auto* zoomOut = new QAction(this);
    zoomOut->setShortcut(QKeySequence::ZoomOut);
    connect(zoomOut, &QAction::triggered, this, &TFaxViewer::zoomOutButtonClick);
    addActions({zoomIn, zoomOut});
}

void TFaxViewer::buildStatusPanel() {
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("StatusPanel"));
    status_->setFrameShape(QFrame::StyledPanel);
    status_->setFrameShadow(QFrame::Sunken);
    status_->setText(QStringLiteral("No file loaded"));
}

QAbstractButton* TFaxViewer::button(const char* objectName) const {
    return findChild<QAbstractButton*>(QLatin1String(objectName));
}

QAction* TFaxViewer::zoomAction(int step) const { return findChild<QAction*>(QStringLiteral("Zoom%1").arg(step)); }

QAction* TFaxViewer::rotationAction(int quarterTurns) const {
    return findChild<QAction*>(QStringLiteral("Rotation%1").arg(quarterTurns));
}

QAction* TFaxViewer::exportAction(const QString& format) const {
    return findChild<QAction*>(QStringLiteral("Export") + format);
}

QString TFaxViewer::statusText() const { return status_->text(); }

void TFaxViewer::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (activated_) return;
    activated_ = true;
    app::restoreWindowPlacement(this, settings::ProgramDir());
    // After the layout has given the viewer its size.
    QTimer::singleShot(0, this, [this] { FormActivate(); });
}

void TFaxViewer::FormActivate() {
    // Print and Printer Setup stay enabled without a system printer: the setup dialog can always
    // choose a PDF file, and a print names what is missing.
    loadFile();
    // The menu marks the rotation in effect from the start.
    for (int q = 0; q < 4; ++q) rotationAction(q)->setChecked(q == viewer_->rotation());
    viewer_->setFocus();
}

void TFaxViewer::loadFile() {
    loading_ = true;
    const int rc = viewer_->setFileName(FaxFileName);
    loading_ = false;
    if (rc != 0 || FaxFileName.isEmpty()) {
        viewer_->setFileName(QString());
        if (rc != 0) app::ShowInformation(QStringLiteral("Error opening fax file"));
    } else {
        zoom_ = 66;
        setZoom(initialZoomStep(viewer_->pageWidth(), viewer_->width()));
    }
    updateStatus();
    pageButtons_->setVisible(viewer_->pageCount() > 1);
}

void TFaxViewer::updateStatus() {
    if (viewer_->pageCount() == 0)
        status_->setText(QStringLiteral("No file loaded"));
    else
        status_->setText(QStringLiteral("Page %1 of %2").arg(viewer_->currentPage()).arg(viewer_->pageCount()));
}

void TFaxViewer::ovxFaxViewer1PageChange(int) { updateStatus(); }

void TFaxViewer::ovxFaxViewer1ViewerError(int code) {
    if (loading_) return;  // LoadFile says "Error opening fax file" itself
    app::ShowInformation(QStringLiteral("Viewer error %1").arg(code));
    updateStatus();
    pageButtons_->setVisible(viewer_->pageCount() > 1);
}

void TFaxViewer::setZoom(int step) {
    if (step == zoom_) return;
    zoom_ = step;
    viewer_->beginUpdate();
    if (step == 100) {
        viewer_->setScaling(false);
    } else {
        viewer_->setScaling(true);
        viewer_->setScale(step, 100, step, 100);
    }
    viewer_->endUpdate();
    for (int s : kZoomSteps) zoomAction(s)->setChecked(s == step);
}

void TFaxViewer::zoomInButtonClick() {
    if (zoom_ >= 100) {
        app::soundBeep();
        return;
    }
    for (int s : kZoomSteps)
        if (s > zoom_) {
            setZoom(s);
            return;
        }
}

void TFaxViewer::zoomOutButtonClick() {
    if (zoom_ <= 25) {
        app::soundBeep();
        return;
    }
    for (int i = 3; i >= 0; --i)
        if (kZoomSteps[i] < zoom_) {
            setZoom(kZoomSteps[i]);
            return;
        }
}

void TFaxViewer::setRotation(int quarterTurns) {
    viewer_->setRotation(quarterTurns);
    for (int q = 0; q < 4; ++q) rotationAction(q)->setChecked(q == quarterTurns);
}

void TFaxViewer::printerSetupButtonClick() {
    if (viewer_->pageCount() > 0) {
        const int first = printer_.FirstPage, last = printer_.LastPage;
        printer_.setFileName(viewer_->FileName());
        if (printerSetUp_) {
            printer_.FirstPage = first;
            printer_.LastPage = last;
        }
    }
    printerChooser()(printer_.qPrinter(), this);
    printerSetUp_ = true;
}

void TFaxViewer::printFax(bool singlePage) {
    if (FaxFileName.trimmed().isEmpty() || viewer_->pageCount() == 0) return;
    settings::PrintOptions options = loadOptions();
    const int first = printer_.FirstPage, last = printer_.LastPage;
    printer_.setFileName(viewer_->FileName());
    const int pages = printer_.pageCount();
    if (printerSetUp_) {
        printer_.FirstPage = std::clamp(first, 1, std::max(1, pages));
        printer_.LastPage = std::clamp(last, 1, std::max(1, pages));
    }
    printerSetUp_ = true;

    TPrePrintForm form(this);
    form.limitTo(pages);
    if (singlePage) {
        form.FromPage->setValue(viewer_->currentPage());
        form.ToPage->setValue(viewer_->currentPage());
        form.FromPage->setEnabled(false);
        form.ToPage->setEnabled(false);
        form.MultiPageBox->setEnabled(false);
    } else {
        form.FromPage->setValue(printer_.FirstPage);
        form.ToPage->setValue(printer_.LastPage);
    }
    form.setOptions(options);
    app::centerDialog(&form);
    const int result = form.exec();
    form.storeOptions(options);
    if (!singlePage) {
        printer_.FirstPage = form.FromPage->value();
        printer_.LastPage = form.ToPage->value();
    }
    saveOptions(options);
    if (result != 1) return;

    if (singlePage) printer_.FirstPage = printer_.LastPage = viewer_->currentPage();
    printer_.PrintScale = options.Stretch ? faximage::psFitToPage : faximage::psNone;
    printer_.MultiPage = singlePage ? false : options.MultiPage;
    applyMargins(printer_, options, InfoLine);
    printAndReport(printer_, this);
    if (singlePage) {
        printer_.FirstPage = 1;
        printer_.LastPage = pages;
    }
}

int TFaxViewer::exportTo(const QString& format, const QString& file) {
    const std::string in = viewer_->FileName().toStdString();
    const std::string out = file.toStdString();
    if (format == QLatin1String("TIFF")) return faximage::exportFaxToTiff(in, out);
    if (format == QLatin1String("PDF")) return faximage::exportFaxToPdf(in, out);
    faximage::TOvxFaxUnpacker unpacker;
    unpacker.setInFileName(in);
    unpacker.OutFileName = out;
    unpacker.WhitespaceCompression = viewer_->WhitespaceCompression;
    unpacker.WhitespaceFrom = viewer_->WhitespaceFrom;
    unpacker.WhitespaceTo = viewer_->WhitespaceTo;
    unpacker.OnYield = [] {
        app::letMessagesRun();
        return true;
    };
    const int page = viewer_->currentPage();
    if (format == QLatin1String("BMP")) return unpacker.unpackPageToBmp(page);
    if (format == QLatin1String("PCX")) return unpacker.unpackPageToPcx(page);
    faximage::Raster r;
    const int rc = unpacker.unpackPageToBitmap(page, r);
    if (rc != 0) return rc;
    return faximage::writeFileBytes(out, faximage::encodeDcx({faximage::encodePcx(r)}));
}

void TFaxViewer::exportClick(const QString& format) {
    if (viewer_->pageCount() == 0) {
        app::soundBeep();
        return;
    }
    const QFileInfo fax(viewer_->FileName());
    const bool wholeFax = format == QLatin1String("TIFF") || format == QLatin1String("PDF");
    const QString base = wholeFax ? fax.completeBaseName()
                                  : QStringLiteral("%1-page%2").arg(fax.completeBaseName()).arg(viewer_->currentPage());
    // Received faxes live in the private data directory: the copy goes where the user keeps files.
    const QString suggested = QDir(app::userFilesFolder()).filePath(base + QLatin1Char('.') + format.toLower());
    const QString file = AskExportFile(format, suggested);
    if (file.isEmpty()) return;
    app::HourGlass hourglass;
    const int rc = exportTo(format, file);
    if (rc != 0)
        app::ShowInformation(QStringLiteral("Error %1 exporting to %2").arg(rc).arg(QFileInfo(file).fileName()));
}

bool TFaxViewer::eventFilter(QObject* watched, QEvent* e) {
    if (watched == viewer_->viewport() && e->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(e);
        if (wheel->modifiers() & Qt::ControlModifier) {
            const int delta = wheel->angleDelta().y();
            if (delta > 0 && zoom_ < 100)
                zoomInButtonClick();
            else if (delta < 0 && zoom_ > 25)
                zoomOutButtonClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, e);
}

void TFaxViewer::savePlacement() {
    if (placementSaved_) return;
    placementSaved_ = true;
    app::keepWindowPlacement(this, settings::ProgramDir());
}

void TFaxViewer::closeEvent(QCloseEvent* e) {
    savePlacement();
    QDialog::closeEvent(e);
}

void TFaxViewer::done(int r) {
    if (printer_.Printing()) printer_.printAbort();
    savePlacement();
    QDialog::done(r == QDialog::Rejected ? 2 : r);
}

// ---------------------------------------------------------------------------------------------
// Choosing a printer and reporting print failures

std::function<bool(QPrinter&, QWidget*)>& printerChooser() {
    static std::function<bool(QPrinter&, QWidget*)> chooser = [](QPrinter& printer, QWidget* parent) {
        QPrintDialog dialog(&printer, parent);
        dialog.setWindowTitle(QStringLiteral("Printer Setup"));
        dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
        // The dialog only chooses the printer and its settings here; nothing is printed yet.
        for (QDialogButtonBox* box : dialog.findChildren<QDialogButtonBox*>())
            if (QPushButton* ok = box->button(QDialogButtonBox::Ok)) ok->setText(QStringLiteral("OK"));
        app::centerDialog(&dialog);
        if (dialog.exec() != QDialog::Accepted) return false;
        faximage::TOvxFaxPrinter::rememberChoice(printer);
        return true;
    };
    return chooser;
}

int printAndReport(faximage::TOvxFaxPrinter& printer, QWidget* parent) {
    if (const QString problem = printer.readinessProblem(); !problem.isEmpty()) {
        const bool noPrinter = !printer.InstalledPrinters || printer.InstalledPrinters().isEmpty();
        // Without any printer the next window can only make a PDF file: say so rather than
        // blame a PDF file the user never chose.
        if (noPrinter)
            app::ShowInformation(
                QStringLiteral("No printer is set up on this computer, so the fax will be printed into a "
                               "PDF file.\r\rChoose the file in the next window."));
        else
            app::ShowInformation(QStringLiteral("Cannot print on %1: %2.\r\rChoose a printer or a PDF file in the next "
                                                "window.")
                                     .arg(faximage::printerDisplayName(printer.qPrinter()), problem));
        if (!printerChooser()(printer.qPrinter(), parent)) return 1;
    }
    const int rc = printer.printFax();
    if (rc != 0 && !printer.lastError().isEmpty()) app::ShowInformation(printer.lastError());
    return rc;
}

}  // namespace telvane::viewprint
