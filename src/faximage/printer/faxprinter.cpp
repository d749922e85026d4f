// The fax printer: page layout on the sheet, header and footer, the print job loop, the log.
#include "faximage/printer/faxprinter.h"

#include "errors/errors.h"
#include "faximage/ovffile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLocale>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

#include <algorithm>

namespace telvane::faximage {

QString faxPrintProgressText(int progress) {
    switch (progress) {
    case ppIdle: return QStringLiteral("Idle");
    case ppComposing: return QStringLiteral("Composing");
    case ppRendering: return QStringLiteral("Rendering");
    case ppSubmitting: return QStringLiteral("Submitting");
    case ppConverting: return QStringLiteral("Converting");
    default: return {};
    }
}

QString TOvxFaxPrinterLog::lineFor(int code, const QString& faxFile, const QDateTime& when) {
    const QString stamp = QLocale().toString(when, QLocale::ShortFormat);
    switch (code) {
    case 0: return QStringLiteral("Printing %1 started at %2").arg(faxFile, stamp);
    case 1: return QStringLiteral("Printing %1 finished at %2\r\n").arg(faxFile, stamp);
    case 2: return QStringLiteral("Printing %1 aborted at %2\r\n").arg(faxFile, stamp);
    case 3: return QStringLiteral("Printing %1 failed at %2\r\n").arg(faxFile, stamp);
    default: return {};
    }
}

void TOvxFaxPrinterLog::log(int code, const QString& faxFile, const QDateTime& when) const {
    if (LogFileName.isEmpty()) return;
    const QString line = lineFor(code, faxFile, when);
    if (line.isEmpty()) return;
    QFile f(LogFileName);
    if (!f.open(QIODevice::Append | QIODevice::WriteOnly)) return;
    f.write((line + QStringLiteral("\r\n")).toLocal8Bit());
}

QString substituteMarginTokens(const QString& caption, const QString& fileName, int page, int pageCount,
                               const QDateTime& when) {
    QString out;
    for (int i = 0; i < caption.size();) {
        if (caption[i] != QLatin1Char('$')) {
            out += caption[i++];
            continue;
        }
        int end = i + 1;
        while (end < caption.size() && caption[end] != QLatin1Char(' ')) ++end;
        const QChar letter = i + 1 < end ? caption[i + 1].toUpper() : QChar();
        if (letter == QLatin1Char('D'))
            out += QLocale().toString(when.date(), QLocale::ShortFormat);
        else if (letter == QLatin1Char('T'))
            out += QLocale().toString(when.time(), QLocale::ShortFormat);
        else if (letter == QLatin1Char('F'))
            out += fileName;
        else if (letter == QLatin1Char('N'))
            out += QString::number(pageCount);
        else if (letter == QLatin1Char('P'))
            out += QString::number(page);
        i = end;
    }
    return out;
}

int faxPagesPerSheet(bool multiPage, bool landscape) { return multiPage ? (landscape ? 2 : 4) : 1; }

QRect faxSlotArea(const QRect& printable, bool multiPage, bool landscape, int index) {
    QRect area = printable;
    if (multiPage) {
        const int columns = 2, rows = landscape ? 1 : 2;
        const int w = printable.width() / columns, h = printable.height() / rows;
        const int col = index % columns, row = (index / columns) % rows;
        area = QRect(printable.left() + col * w, printable.top() + row * h, w, h);
    }
    return area.adjusted(2, 2, -2, -2);
}

FaxPageLayout faxPlacePage(const QRect& area, QSize pageSize, TFaxPrintScale scale, int dpiX, int dpiY) {
    FaxPageLayout l;
    l.area = area;
    l.source = QRect(QPoint(0, 0), pageSize);
    if (pageSize.isEmpty() || area.isEmpty()) return l;
    if (scale == psNone) {
        const int w = int(std::int64_t(pageSize.width()) * dpiX / 200);
        int h = int(std::int64_t(pageSize.height()) * dpiY / 200);
        if (h > area.height()) {
            // Only the rows that fit are drawn, at the same scale.
            const int rows = int(std::int64_t(area.height()) * 200 / dpiY);
            l.source.setHeight(std::max(1, rows));
            h = int(std::int64_t(l.source.height()) * dpiY / 200);
        }
        l.image = QRect(area.topLeft(), QSize(w, h));
        return l;
    }
    // Pels are nearly square (204 x 196 per inch) once standard pages have doubled rows.
    int w = area.width() * 93 / 100;
    int h = int(std::int64_t(w) * pageSize.height() / pageSize.width());
    if (h > area.height()) {
        h = area.height();
        w = int(std::int64_t(h) * pageSize.width() / pageSize.height());
    }
    l.image = QRect(area.topLeft(), QSize(std::max(1, w), std::max(1, h)));
    return l;
}

QString printerDisplayName(const QPrinter& printer) {
    if (printer.outputFormat() == QPrinter::PdfFormat)
        return printer.outputFileName().isEmpty()
                   ? QStringLiteral("a PDF file")
                   : QStringLiteral("the PDF file \"%1\"").arg(QDir::toNativeSeparators(printer.outputFileName()));
    if (!printer.printerName().isEmpty()) return QStringLiteral("the printer \"%1\"").arg(printer.printerName());
    return QStringLiteral("the default printer");
}

QString printerProblem(const QPrinter& printer, const QStringList& installed) {
    return printerProblem(printer.outputFormat(), printer.printerName(), printer.outputFileName(), installed);
}

QString printerProblem(QPrinter::OutputFormat format, const QString& printerName, const QString& file,
                       const QStringList& installed) {
    if (format == QPrinter::PdfFormat) {
        if (file.isEmpty())
            return installed.isEmpty() ? QStringLiteral("no printer is set up on this computer")
                                       : QStringLiteral("no file name was chosen for the PDF file");
        const QFileInfo folder(QFileInfo(file).absolutePath());
        if (!folder.isDir()) return QStringLiteral("the folder \"%1\" does not exist").arg(folder.filePath());
        if (!folder.isWritable()) return QStringLiteral("the folder \"%1\" cannot be written").arg(folder.filePath());
        if (QFileInfo(file).exists() && !QFileInfo(file).isWritable())
            return QStringLiteral("the file cannot be written");
        return {};
    }
    if (installed.isEmpty()) return QStringLiteral("no printer is set up on this computer");
    if (!printerName.isEmpty() && !installed.contains(printerName))
        return QStringLiteral("that printer is not installed on this computer");
    return {};
}

QStringList installedPrinterNames() { return QPrinterInfo::availablePrinterNames(); }

namespace {

// The destination the user chose last in this run.
struct PrinterChoice {
    bool made = false;
    QPrinter::OutputFormat format = QPrinter::NativeFormat;
    QString printerName;
    QString outputFile;
};

PrinterChoice& printerChoice() {
    static PrinterChoice choice;
    return choice;
}

}  // namespace

void TOvxFaxPrinter::rememberChoice(const QPrinter& printer) {
    PrinterChoice& c = printerChoice();
    c.made = true;
    c.format = printer.outputFormat();
    c.printerName = printer.printerName();
    c.outputFile = printer.outputFileName();
}

TOvxFaxPrinter::TOvxFaxPrinter(QObject* parent) : QObject(parent) { unpacker_.Options = 0; }

TOvxFaxPrinter::~TOvxFaxPrinter() = default;

QPrinter& TOvxFaxPrinter::qPrinter() {
    if (!printer_) {
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
        const PrinterChoice& c = printerChoice();
        if (c.made && UseRememberedChoice) {
            printer_->setOutputFormat(c.format);
            if (c.format == QPrinter::PdfFormat)
                printer_->setOutputFileName(c.outputFile);
            else if (!c.printerName.isEmpty())
                printer_->setPrinterName(c.printerName);
        }
    }
    return *printer_;
}

QString TOvxFaxPrinter::readinessProblem() {
    return printerProblem(qPrinter(), InstalledPrinters ? InstalledPrinters() : QStringList());
}

int TOvxFaxPrinter::setFileName(const QString& name) {
    fileName_ = name;
    pageCount_ = 0;
    fine_ = wide_ = false;
    FirstPage = LastPage = 0;
    OvfReader reader;
    int rc = reader.open(name.toStdString());
    if (rc != 0) return rc;
    if (reader.pageCount() > 0) {
        OvfPageHeader first;
        rc = reader.seekPage(1, first);
        if (rc != 0) return rc;
        fine_ = first.fine();
        wide_ = first.wide();
    }
    pageCount_ = reader.pageCount();
    if (pageCount_ > 0) {
        FirstPage = 1;
        LastPage = pageCount_;
    }
    return 0;
}

bool TOvxFaxPrinter::printSetup(QWidget* parent) {
    QPageSetupDialog dialog(&qPrinter(), parent);
    return dialog.exec() == QDialog::Accepted;
}

int TOvxFaxPrinter::printWithDialog(QWidget* parent) {
    if (pageCount_ == 0) return 0;
    QPrintDialog dialog(&qPrinter(), parent);
    dialog.setMinMax(1, pageCount_);
    dialog.setFromTo(std::max(1, FirstPage), std::clamp(LastPage, 1, pageCount_));
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    if (dialog.exec() != QDialog::Accepted) return 1;
    if (qPrinter().printRange() == QPrinter::PageRange) {
        FirstPage = qPrinter().fromPage();
        LastPage = qPrinter().toPage();
    } else {
        FirstPage = 1;
        LastPage = pageCount_;
    }
    return printFax();
}

void TOvxFaxPrinter::setProgress(int code) {
    progress_ = code;
    emit OnFaxPrintStatus(code);
    if (StatusDisplay) StatusDisplay->updateStatus(*this);
    QCoreApplication::processEvents();
}

void TOvxFaxPrinter::log(int code) {
    if (FaxPrinterLog) FaxPrinterLog->log(code, fileName_, QDateTime::currentDateTime());
    emit OnFaxPrintLog(code);
}

void TOvxFaxPrinter::printAbort() {
    if (!printing_) return;
    aborted_ = true;
    unpacker_.Options |= uoAbort;
}

int TOvxFaxPrinter::decode(int page, Raster& out) {
    unpacker_.setInFileName(fileName_.toStdString());
    bool fine = false;
    Raster r;
    const int rc = unpacker_.unpackPageToRaster(page, r, fine);
    if (rc != 0) return rc;
    if (r.empty()) r = Raster(wide_ ? 2048 : 1728, 1);
    // Standard pages have half as many rows per inch: double them for a true aspect.
    out = fine ? std::move(r) : stretchRaster(r, r.width, r.height * 2);
    return 0;
}

int TOvxFaxPrinter::drawMargin(QPainter& painter, const TOvxFaxPrinterMargin& margin, QRect& area, bool top, int page) {
    if (!margin.Enabled || margin.Caption.isEmpty()) return 0;
    QFont font(margin.Font, painter.device());
    if (MultiPage) {
        if (font.pointSizeF() > 0)
            font.setPointSizeF(font.pointSizeF() / 2);
        else
            font.setPixelSize(std::max(1, font.pixelSize() / 2));
    }
    painter.setFont(font);
    const QString text = substituteMarginTokens(margin.Caption, fileName_, page, pageCount_, jobTime_);
    const int textHeight = painter.fontMetrics().height();
    const int dpi = painter.device()->logicalDpiY();
    const int rule = std::max(1, dpi / 72);  // about one point
    const int gap = std::max(2, dpi / 100);  // keeps the rule clear of descenders
    painter.setPen(QPen(Qt::black, rule));
    if (top) {
        painter.drawText(QRect(area.left(), area.top(), area.width(), textHeight), Qt::AlignLeft | Qt::AlignTop, text);
        const int y = area.top() + textHeight + gap;
        painter.drawLine(area.left(), y, area.right(), y);
        area.setTop(y + rule + gap);
    } else {
        const int textTop = area.bottom() - textHeight + 1;
        painter.drawText(QRect(area.left(), textTop, area.width(), textHeight), Qt::AlignLeft | Qt::AlignTop, text);
        const int y = textTop - gap;
        painter.drawLine(area.left(), y, area.right(), y);
        area.setBottom(y - rule - gap);
    }
    return textHeight;
}

int TOvxFaxPrinter::printPage(QPainter& painter, int page, int slot, bool landscape) {
    setProgress(ppConverting);
    Raster r;
    const int rc = decode(page, r);
    if (rc != 0) return rc;
    setProgress(ppComposing);
    QPrinter& printer = qPrinter();
    const QRect printable(QPoint(0, 0), printer.pageLayout().paintRectPixels(printer.resolution()).size());
    QRect area = faxSlotArea(printable, MultiPage, landscape, slot);
    drawMargin(painter, FaxHeader, area, true, page);
    drawMargin(painter, FaxFooter, area, false, page);
    const FaxPageLayout layout =
        faxPlacePage(area, QSize(r.width, r.height), PrintScale, printer.resolution(), printer.resolution());
    setProgress(ppRendering);
    if (!layout.image.isEmpty()) {
        QImage mono(r.width, r.height, QImage::Format_Mono);
        mono.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
        for (int y = 0; y < r.height; ++y) std::copy(r.row(y), r.row(y) + r.stride, mono.scanLine(y));
        painter.drawImage(layout.image, mono, layout.source);
    }
    setProgress(ppSubmitting);
    return 0;
}

int TOvxFaxPrinter::printFax() {
    lastError_.clear();
    if (pageCount_ == 0 || printing_) return 0;
    QPrinter& printer = qPrinter();
    const QString where = printerDisplayName(printer);
    auto failure = [&where](const QString& reason) {
        return QStringLiteral("Printing on %1 failed: %2.").arg(where, reason);
    };
    // A destination that cannot take the job is named with its reason before anything starts
    // (Qt would only warn on stderr and draw nothing).
    if (const QString problem = readinessProblem(); !problem.isEmpty()) {
        lastError_ = failure(problem);
        log(0);
        log(3);
        return errors::ecDeviceWrite;
    }
    const int first = std::clamp(FirstPage, 1, pageCount_);
    const int last = std::clamp(LastPage, first, pageCount_);
    printing_ = true;
    aborted_ = false;
    unpacker_.Options &= ~uoAbort;
    jobTime_ = QDateTime::currentDateTime();
    currentPage_ = first;
    if (StatusDisplay) StatusDisplay->showStatus(*this);
    log(0);

    printer.setDocName(Caption);
    const bool landscape = printer.pageLayout().orientation() == QPageLayout::Landscape;
    const int perSheet = faxPagesPerSheet(MultiPage, landscape);
    QPainter painter;
    int rc = 0;
    if (!painter.begin(&printer)) {
        rc = errors::ecDeviceWrite;
        lastError_ = failure(QStringLiteral("the printing system did not accept the job"));
    }
    for (int page = first; rc == 0 && page <= last; ++page) {
        const int index = page - first;
        if (index > 0 && index % perSheet == 0 && !printer.newPage()) {
            rc = errors::ecDeviceWrite;
            lastError_ = failure(QStringLiteral("the printer stopped taking pages after page %1").arg(page - 1));
            break;
        }
        currentPage_ = page;
        emit OnNextPage(page, last);
        QCoreApplication::processEvents();
        if (aborted_) break;
        rc = printPage(painter, page, index % perSheet, landscape);
        if (rc != 0 && !aborted_)
            lastError_ = failure(QStringLiteral("page %1 of the fax cannot be read (error %2)").arg(page).arg(rc));
        if (aborted_) break;
    }
    if (aborted_) {
        printer.abort();
        if (painter.isActive()) painter.end();
        rc = errors::ecUnpackAbort;
        lastError_.clear();  // the user's own choice, not a fault
        log(2);
    } else {
        if (painter.isActive() && !painter.end() && rc == 0) {
            rc = errors::ecDeviceWrite;
            lastError_ = failure(QStringLiteral("the job could not be finished"));
        }
        log(rc == 0 ? 1 : 3);
    }
    setProgress(ppIdle);
    if (StatusDisplay) StatusDisplay->closeStatus(*this);
    printing_ = false;
    return rc;
}

}  // namespace telvane::faximage
