// The main window's View/Print command: the fax of the page shown, viewed or printed.
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
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
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

// ---------------------------------------------------------------------------------------------
// The View/Print command

namespace {

void printFromMainWindow(QWidget* parent, const QString& file, const QString& infoLine) {
    faximage::TOvxFaxPrinter printer;
    faximage::TOvxFaxPrinterLog log;
    log.LogFileName = QString::fromStdString(settings::ProgramDir()) + QStringLiteral("FAXPRINT.LOG");
    printer.FaxPrinterLog = &log;
    faximage::TStandardFaxPrinterStatusDisplay status(parent);
    printer.StatusDisplay = &status;
    printer.setFileName(file);
    const int pages = printer.pageCount();
    printer.FirstPage = 1;
    printer.LastPage = pages;
    settings::PrintOptions options = loadOptions();
    TPrePrintForm form(parent);
    form.limitTo(pages);
    form.FromPage->setValue(1);
    form.ToPage->setValue(std::max(1, pages));
    form.setOptions(options);
    app::centerDialog(&form);
    const int result = form.exec();
    form.storeOptions(options);
    saveOptions(options);
    if (result != 1) return;
    printer.FirstPage = form.FromPage->value();
    printer.LastPage = form.ToPage->value();
    printer.PrintScale = options.Stretch ? faximage::psFitToPage : faximage::psNone;
    printer.MultiPage = options.MultiPage;
    applyMargins(printer, options, infoLine);
    printAndReport(printer, parent);
}

void viewOrPrint(app::IMainWindow& window, bool print, const QString& file, const QString& infoLine) {
    if (print) {
        printFromMainWindow(window.widget(), file, infoLine);
        return;
    }
    window.setStatus(QStringLiteral("Loading viewer..."));
    app::letMessagesRun();
    TFaxViewer viewer(window.widget());
    viewer.FaxFileName = file;
    viewer.InfoLine = infoLine;
    window.setStatus(QString());
    viewer.exec();
}

}  // namespace

void viewPrintFax(app::IMainWindow& window, bool print) {
    std::optional<app::HourGlass> hourglass(std::in_place);
    window.setStatus(QStringLiteral("Preparing files for viewing..."));
    app::letMessagesRun();
    const bool incoming = window.currentPage() == app::IMainWindow::kIncomingPage;
    QString file, infoLine;
    // Whatever happens below: status cleared, button bar enabled, a rendered file deleted.
    struct Finish {
        app::IMainWindow& w;
        bool incoming;
        QString* file;
        ~Finish() {
            w.setStatus(QString());
            w.enableButtonBar(true);
            if (!incoming && !file->isEmpty()) QFile::remove(*file);
        }
    } finish{window, incoming, &file};

    if (incoming) {
        const QString received = window.GetDatetimeAsString(false);
        records::Row row;
        try {
            row = window.RecTable().currentRow();
        } catch (const std::exception&) {
            hourglass.reset();
            app::ShowInformation(QStringLiteral("Fax file is missing"));
            return;
        }
        const QString path = QString::fromStdString(settings::receiveDir() + row.text("FAXFILE"));
        if (row.text("FAXFILE").empty() || !QFileInfo(path).isFile()) {
            hourglass.reset();
            app::ShowInformation(QStringLiteral("Fax file is missing"));
            return;
        }
        infoLine = incomingInfoLine(QString::fromStdString(row.text("FROM")), received, path);
        // A received file is never deleted: it stays out of `file`.
        hourglass.reset();
        viewOrPrint(window, print, path, infoLine);
        return;
    }

    const QString sent = window.GetDatetimeAsString(true);
    QString recipient, subject;
    try {
        const records::Row row = window.FaxTable().currentRow();
        recipient = QString::fromStdString(row.text("RECIPIENT"));
        subject = QString::fromStdString(row.text("SUBJECT"));
    } catch (const std::exception&) {
        // The info line then names no recipient; rendering reports its own failures.
    }
    file = window.CreateFaxFile();
    if (file.isEmpty() || !QFileInfo(file).isFile()) {
        hourglass.reset();
        // An empty fax or an unreadable document has been explained already; a second box only
        // confused the next command.
        if (!window.renderedFaxFailureTold()) app::ShowInformation(QStringLiteral("Error creating fax file"));
        return;
    }
    infoLine = outgoingInfoLine(recipient, subject, sent);
    hourglass.reset();
    viewOrPrint(window, print, file, infoLine);
}

void addViewerCommands(app::MainWindowCommands& commands) {
    commands.viewPrintFax = [](app::IMainWindow& w, bool print) { viewPrintFax(w, print); };
}

}  // namespace telvane::viewprint
