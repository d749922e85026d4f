// Receive mode and its notice window (see receivemode.h).
#include "sessions/receivemode.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QTime>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include "records/fax_tables.h"
#include "faximage/printer/faxprinter.h"
#include "faximage/printer/printstatus.h"
#include "transport/qtbridge/qtfaxbridge.h"
#include "sessions/faxwindows.h"
#include "sessions/modemcommands.h"
#include "sessions/sessionrules.h"
#include "app/appstate.h"
#include "app/mainwindow.h"
#include "settings/programdir.h"
#include "app/uihelpers.h"

namespace telvane::sessions {

namespace {
// Longest wait for the engine's session to end when receive mode stops.
constexpr qint64 kStopWaitMs = 20000;

QString qs(const std::string& s) { return QString::fromStdString(s); }

void setBusyCursor(bool on) {
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
    if (on) QApplication::setOverrideCursor(Qt::WaitCursor);
}
}  // namespace

TStartingFaxForm::TStartingFaxForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TStartingFaxForm"));
    setWindowTitle(QStringLiteral("Starting Receive mode..."));
    setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    ReadyPanel = new QWidget;
    auto* ready = new QVBoxLayout(ReadyPanel);
    for (const char* line : {"Telvane is in receive mode now", "To end receive mode, press the STOP button",
                             "Sending a fax pauses receive mode until it has gone out"}) {
        auto* label = new QLabel(QString::fromLatin1(line));
        label->installEventFilter(this);
        ready->addWidget(label);
    }
    StartingPanel = new QWidget;
    auto* starting = new QVBoxLayout(StartingPanel);
    auto* wait = new QLabel(QStringLiteral("Please wait while fax receive mode is started....."));
    wait->installEventFilter(this);
    starting->addWidget(wait);
    ReadyPanel->installEventFilter(this);
    StartingPanel->installEventFilter(this);
    layout->addWidget(ReadyPanel);
    layout->addWidget(StartingPanel);
    auto* row = new QHBoxLayout;
    DontShowCheck = new QCheckBox(QStringLiteral("Do not show this again"));
    OkButton = new QPushButton(QStringLiteral("Ok"));
    row->addWidget(DontShowCheck);
    row->addStretch();
    row->addWidget(OkButton);
    layout->addLayout(row);
    Timer1 = new QTimer(this);
    Timer1->setInterval(15000);
    Timer1->setSingleShot(true);
    connect(OkButton, &QPushButton::clicked, this, &QWidget::hide);
    connect(DontShowCheck, &QCheckBox::clicked, this,
            [](bool on) { app::appSettings().Receive.DisableReceivingFaxesNotification = on; });
    connect(Timer1, &QTimer::timeout, this, &QWidget::hide);
}

void TStartingFaxForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    DontShowCheck->setChecked(app::appSettings().Receive.DisableReceivingFaxesNotification);
    Timer1->start();
}

void TStartingFaxForm::hideEvent(QHideEvent* event) {
    Timer1->stop();
    QDialog::hideEvent(event);
}

bool TStartingFaxForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        hide();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------

TReceiveMode::TReceiveMode(app::IMainWindow& main)
    : QObject(main.widget()), main_(main), sink_(std::make_unique<telvane::transport::TOvxQtEventSink>()) {
    setObjectName(QStringLiteral("TReceiveMode"));
    prepareSessionPort(OvxComPort1, sink_.get());
    OvxReceiveFax1.setComPort(&OvxComPort1);
    OvxReceiveFax1.FaxFileExt = "OVF";
    OvxReceiveFax1.ConstantStatus = true;
    OvxReceiveFax1.OnFaxStatus = [this](telvane::transport::TOvxAbstractFax&, bool first, bool last) {
        OvxReceiveFax1FaxStatus(first, last);
    };
    OvxReceiveFax1.OnFaxLog = [this](telvane::transport::TOvxAbstractFax&, int code) { OvxReceiveFax1FaxLog(code); };
    OvxReceiveFax1.OnFaxError = [this](telvane::transport::TOvxAbstractFax&, int code) {
        OvxReceiveFax1FaxError(code);
    };
    OvxReceiveFax1.OnFaxAccept = [this](telvane::transport::TOvxAbstractFax&, bool& accept) {
        OvxReceiveFax1FaxAccept(accept);
    };
    // Handled after the event returns, so that the engine's thread is never held by a message box.
    OvxReceiveFax1.OnFaxFinish = [this](telvane::transport::TOvxAbstractFax&, int code) {
        QTimer::singleShot(0, this, [this, code] { engineFinished(code); });
    };
    StartingFaxForm = new TStartingFaxForm(main.widget());
    printer_ = std::make_unique<faximage::TOvxFaxPrinter>();
    printer_->MultiPage = false;
    // Received faxes go to the printer of the settings, never to a PDF file chosen in a viewer
    // (every fax would overwrite it).
    printer_->UseRememberedChoice = false;
    printer_->FaxHeader = {QStringLiteral("FILE: $F"), false};
    printer_->FaxFooter = {QStringLiteral("Page: $P of $N"), false};
    Printers = [] {
        PrinterCatalogue c;
        for (const QPrinterInfo& info : QPrinterInfo::availablePrinters()) c.installed << info.printerName();
        c.systemDefault = QPrinterInfo::defaultPrinterName();
        return c;
    };
    printStatus_ = new faximage::TStandardFaxPrinterStatusDisplay(main.widget());
    printStatus_->setWindowTitle(QStringLiteral("Print Status"));
    printer_->StatusDisplay = printStatus_;
    connect(printer_.get(), &faximage::TOvxFaxPrinter::OnFaxPrintStatus, this, [] { app::letMessagesRun(); });
}

TReceiveMode::~TReceiveMode() {
    OvxReceiveFax1.OnFaxStatus = nullptr;
    OvxReceiveFax1.OnFaxLog = nullptr;
    OvxReceiveFax1.OnFaxError = nullptr;
    OvxReceiveFax1.OnFaxAccept = nullptr;
    OvxReceiveFax1.OnFaxFinish = nullptr;
    if (OvxReceiveFax1.inProgress()) OvxReceiveFax1.CancelSession();
    closePort(OvxComPort1);
}

TReceiveMode& TReceiveMode::of(app::IMainWindow& main) {
    if (auto* existing =
            main.widget()->findChild<TReceiveMode*>(QStringLiteral("TReceiveMode"), Qt::FindDirectChildrenOnly))
        return *existing;
    return *new TReceiveMode(main);
}

void TReceiveMode::SaveLocalRecLog() { log_.save(qs(settings::ProgramDir()) + QStringLiteral("Lastrec.log")); }

void TReceiveMode::setReceiveCaption(bool on) {
    emit receiveModeChanged(on);
    main_.showReceiveModeRunning(on);
}

void TReceiveMode::ReceiveButtonClick() {
    const settings::Settings& s = app::appSettings();
    OvxReceiveFax1.setDestinationDir(settings::ProgramDir() + "receive");
    OvxReceiveFax1.FaxNameMode =
        s.Other.GlobalUseAlternateNamingRec ? telvane::transport::fnMonthDay : telvane::transport::fnCount;
    setBusyCursor(true);
    lastError_ = 0;
    if (!main_.receiveMode())
        start();
    else
        stop();
}

void TReceiveMode::abortStart() {
    StartingFaxForm->hide();
    main_.setStatus({});
    setBusyCursor(false);
    main_.setReceiveMode(false);
    setReceiveCaption(false);
    AddtoLastRecLog(QStringLiteral("Error..."));
    SaveLocalRecLog();
}

// Opens the port, checks the modem, sends the reset string and starts the engine waiting for calls.
// A step that fails is logged and shown, and ends the mode (false).
bool TReceiveMode::listen(bool announce) {
    settings::Settings& s = app::appSettings();
    assignPort(OvxComPort1, s.Modem.ComPort + 1);
    const QString n = QString::number(OvxComPort1.ComNumber());
    OvxReceiveFax1.setFaxClass(static_cast<telvane::transport::TFaxClass>(s.Modem.FaxClassReceive + 1));
    OvxReceiveFax1.setStationID(s.User.Fax);
    OvxReceiveFax1.AnswerOnRing = s.Receive.AnswerOnRing;
    OvxReceiveFax1.DesiredBPS = s.Modem.MaximumBPSReceive;
    OvxReceiveFax1.setDesiredECM(s.Receive.ECMReceive);
    if (!s.Modem.InitStringReceive.empty()) OvxReceiveFax1.setModemInit(withAtPrefix(s.Modem.InitStringReceive));
    const size_t size = s.Other.GlobalLargerReceiveBuffer ? 16384 : 8192;
    OvxComPort1.setInSize(size);
    OvxComPort1.setBufferFull(static_cast<size_t>(0.9 * static_cast<double>(size)));
    OvxComPort1.setBufferResume(static_cast<size_t>(0.1 * static_cast<double>(size)));

    AddtoLastRecLog(QStringLiteral("Opening com port: COM") + n);
    QString message;
    if (!OpenComPort(OvxComPort1, message)) {
        StartingFaxForm->hide();
        main_.setStatus({});
        AddtoLastRecLog(QStringLiteral("Error opening com port: COM") + n);
        AddtoLastRecLog(QStringLiteral("Message:") + message);
        ShowErrorMessage(QStringLiteral("Error Opening Communications Port"),
                         message + portCheckAdvice(OvxComPort1.ComNumber(), true), false);
        SaveLocalRecLog();
        abortStart();
        main_.SetButtons();
        return false;
    }
    AddtoLastRecLog(QStringLiteral("Opened com port OK"));
    AddtoLastRecLog(QStringLiteral("Checking for modem"));
    if (!CheckForModem(OvxComPort1)) {
        AddtoLastRecLog(QStringLiteral("Error checking for modem"));
        StartingFaxForm->hide();
        setBusyCursor(false);
        const bool goOn = ShowErrorWithContinue(QStringLiteral("No Response From Modem"),
                                                noModemResponseText(OvxComPort1.ComNumber(), true), false);
        if (!goOn) {
            closePort(OvxComPort1);
            main_.setStatus({});
            AddtoLastRecLog(QStringLiteral("Exit"));
            SaveLocalRecLog();
            abortStart();
            main_.SetButtons();
            return false;
        }
        setBusyCursor(true);
    }
    if (!s.Resetting.String.empty()) {
        AddtoLastRecLog(QStringLiteral("Sending reset string: ") + qs(s.Resetting.String));
        main_.setStatus(QStringLiteral("Sending reset string..."));
        app::letMessagesRun();
        if (!SendModemString(OvxComPort1, s.Resetting.String)) {
            AddtoLastRecLog(QStringLiteral("Failure sending reset string: ") + qs(s.Resetting.String));
            StartingFaxForm->hide();
            main_.setStatus({});
            setBusyCursor(false);
            closePort(OvxComPort1);
            ShowErrorMessage(QStringLiteral("Unable to Continue"),
                             resetStringFailureText(qs(s.Resetting.String), OvxComPort1.ComNumber(), true), false);
            main_.setStatus({});
            AddtoLastRecLog(QStringLiteral("Exiting..."));
            SaveLocalRecLog();
            abortStart();
            main_.SetButtons();
            return false;
        }
    }
    AddtoLastRecLog(QStringLiteral("Desired BPS: ") + QString::number(s.Modem.MaximumBPSReceive));
    if (s.Receive.ECMReceive) AddtoLastRecLog(QStringLiteral("Desired ECM: ON"));
    if (s.Dialing.ToneOrPulse != 0) AddtoLastRecLog(QStringLiteral("Using Pulse Dialing ***"));
    AddtoLastRecLog(QStringLiteral("Fax Class: ") + qs(settings::FaxClassName(s.Modem.FaxClassReceive)));
    AddtoLastRecLog(QStringLiteral("User INIT String: ") + qs(s.Modem.InitStringReceive));
    if (announce && !s.Receive.DisableReceivingFaxesNotification) StartingFaxForm->show();
    AddtoLastRecLog(QStringLiteral("StartReceive"));
    OvxReceiveFax1.StartReceive();
    return true;
}

void TReceiveMode::start() {
    log_.clear();
    AddtoLastRecLog(QStringLiteral("Start:") + logDateTime());
    main_.selectPage(app::IMainWindow::kIncomingPage);
    app::centerDialog(StartingFaxForm);
    StartingFaxForm->OkButton->hide();
    StartingFaxForm->DontShowCheck->hide();
    StartingFaxForm->ReadyPanel->hide();
    StartingFaxForm->StartingPanel->show();
    app::letMessagesRun();
    main_.setReceiveMode(true);
    try {
        main_.SetButtons();
        app::letMessagesRun();
        main_.setStatus(QStringLiteral("Starting receive mode..."));
        if (!listen(true)) return;
        setReceiveCaption(true);
        StartingFaxForm->OkButton->show();
        StartingFaxForm->DontShowCheck->show();
        StartingFaxForm->StartingPanel->hide();
        StartingFaxForm->ReadyPanel->show();
    } catch (const std::exception&) {
        closePort(OvxComPort1);
        abortStart();
    }
    main_.SetButtons();
    setBusyCursor(false);
}

// The session ends on the engine's thread after its hang-up (escape, guard times, "ATH": a few
// seconds); the port is closed, or the after-session string sent, only after it has, or after
// kStopWaitMs when the engine does not end.
void TReceiveMode::endSession() {
    OvxReceiveFax1.CancelSession();
    app::letMessagesRun();
    QElapsedTimer waited;
    waited.start();
    while (OvxReceiveFax1.inProgress() && waited.elapsed() < kStopWaitMs) {
        app::letMessagesRun();
        QThread::msleep(25);
    }
}

bool TReceiveMode::pauseForSending() {
    if (!main_.receiveMode() || paused_ || !OvxComPort1.Open()) return false;
    StartingFaxForm->hide();
    paused_ = true;
    try {
        endSession();
    } catch (const std::exception&) {}
    closePort(OvxComPort1);
    AddtoLastRecLog(QStringLiteral("Paused for sending:") + logDateTime());
    main_.setStatus(QString::fromLatin1(kPausedForSending));
    return true;
}

void TReceiveMode::resumeAfterSending() {
    if (!paused_) return;
    paused_ = false;
    if (!main_.receiveMode()) return;
    AddtoLastRecLog(QStringLiteral("Resuming after sending:") + logDateTime());
    main_.setStatus(QStringLiteral("Resuming receive mode..."));
    try {
        if (!listen(false)) return;
    } catch (const std::exception&) {
        closePort(OvxComPort1);
        abortStart();
        main_.SetButtons();
        return;
    }
    main_.setStatus({});
}

void TReceiveMode::stop() {
    StartingFaxForm->hide();
    setBusyCursor(true);
    try {
        endSession();
        settings::Settings& s = app::appSettings();
        if (!s.Resetting.AfterString.empty()) {
            main_.setStatus(QStringLiteral("Sending AFTER reset string..."));
            app::letMessagesRun();
            SendModemString(OvxComPort1, s.Resetting.AfterString);
        }
        closePort(OvxComPort1);
        app::letMessagesRun();
    } catch (const std::exception&) {}
    paused_ = false;
    main_.setReceiveMode(false);
    setBusyCursor(false);
    setReceiveCaption(false);
    main_.setStatus({});
    AddtoLastRecLog(QStringLiteral("Stopped receive mode:") + logDateTime());
    SaveLocalRecLog();
    main_.SetButtons();
    setBusyCursor(false);
}

void TReceiveMode::OvxReceiveFax1FaxStatus(bool First, bool Last) {
    UpdateValues();
    if (First) pageCount_ = 0;
    if (Last) main_.setFaxArriving(false);
}

void TReceiveMode::UpdateValues() {
    pageCount_ = OvxReceiveFax1.currentPage();
    const QString text = receiveStatusText(qs(OvxReceiveFax1.statusText()), qs(OvxReceiveFax1.remoteID()),
                                           OvxReceiveFax1.currentPage(), OvxReceiveFax1.bytesTransferred());
    main_.setReceiveStatus(text);
    if (StartingFaxForm->isVisible() && text.toUpper().contains(QStringLiteral("ANSWERING"))) StartingFaxForm->hide();
}

void TReceiveMode::OvxReceiveFax1FaxAccept(bool& Accept) {
    main_.setFaxArriving(true);
    lastError_ = 0;
    Accept = true;
}

void TReceiveMode::storeReceivedFax(bool incomplete) {
    main_.setFaxArriving(false);
    // 2-D coding or error correction: the log names what the call used, and lines lost where
    // a block was given up ("Coding: MMR, ECM, 12 lines damaged").
    const long damaged = OvxReceiveFax1.damagedLines();
    if (OvxReceiveFax1.coding() != telvane::faximage::FaxCoding::MH || OvxReceiveFax1.errorControl() || damaged > 0)
        AddtoLastRecLog(QStringLiteral("Coding: ") + qs(OvxReceiveFax1.codingText()) +
                        (damaged > 0 ? QStringLiteral(", %1 lines damaged").arg(damaged) : QString()));
    records::RecordSet& table = main_.RecTable();
    // A fax cut short holds the pages confirmed to the sender, not the one that was arriving.
    const int pages = incomplete ? OvxReceiveFax1.pagesConfirmed() : std::max(pageCount_, OvxReceiveFax1.currentPage());
    if (incomplete) {
        const QString error =
            lastError_ != 0 ? qs(telvane::errors::ovxErrorText(lastError_)) : QStringLiteral("Unknown error");
        lastError_ = 0;
        const QString note =
            QStringLiteral("Incomplete fax %1 from %2: %3 %4 kept (%5)")
                .arg(QFileInfo(qs(OvxReceiveFax1.FaxFile())).fileName(), qs(OvxReceiveFax1.remoteID()),
                     QString::number(pages), pages == 1 ? QStringLiteral("page") : QStringLiteral("pages"), error);
        AddtoLastRecLog(note);
        main_.setStatus(note);
    }
    try {
        table.append();
        table.fieldByName("DATEREC").setDate(records::Date::today());
        table.fieldByName("TIMEREC").setString(QTime::currentTime().toString(QStringLiteral("HH:mm")).toStdString());
        table.fieldByName("FROM").setString(OvxReceiveFax1.remoteID());
        table.fieldByName("PAGES").setInteger(records::pagesForLog(pages));
        table.fieldByName("FAXFILE").setString(QFileInfo(qs(OvxReceiveFax1.FaxFile())).fileName().toStdString());
        table.post();
    } catch (const std::exception&) {
        try {
            table.cancel();
        } catch (const std::exception&) {}
    }
    app::letMessagesRun();
    main_.RecTableCloseAndOpen();
    app::letMessagesRun();
    app::postWindowMessage(main_.widget(), app::kArrivalSoundMessage);
    main_.SetButtons();
    emit faxReceived(qs(OvxReceiveFax1.remoteID()), pages);
    const settings::Settings& s = app::appSettings();
    if (s.Receive.PrintOnReceipt) {
        const QString file = lastFile_.isEmpty() ? qs(OvxReceiveFax1.FaxFile()) : lastFile_;
        // Printed after the engine's event has returned, so the line is never held up by the printer.
        QTimer::singleShot(0, this, [this, file] { PrintOnReceipt(file); });
    }
}

void TReceiveMode::PrintOnReceipt(const QString& file) {
    const PrinterCatalogue printers = Printers();
    const QString chosen = receiptPrinterName(qs(app::appSettings().Receive.PrintOnReceiptPrinter), printers.installed,
                                              printers.systemDefault);
    if (!chosen.isEmpty()) printer_->qPrinter().setPrinterName(chosen);
    printer_->InstalledPrinters = [printers] { return printers.installed; };
    emit printRequested(file, chosen);
    if (printer_->setFileName(file) != 0) return;
    if (printer_->printFax() == 0 || printer_->lastError().isEmpty()) {
        printProblemShown_ = false;  // a later problem is news again
        return;
    }
    // The reason goes to the receive log for every fax, the message only once: an unattended
    // program must not pile up one box per fax.
    AddtoLastRecLog(QStringLiteral("Print on receipt of %1: ").arg(QFileInfo(file).fileName()) + printer_->lastError());
    if (printProblemShown_) return;
    printProblemShown_ = true;
    ShowErrorMessage(
        QStringLiteral("Printing Failed"),
        printer_->lastError() + QStringLiteral("\r\n\r\nReceived faxes are still stored and can be printed from the "
                                               "Incoming log. This message is not repeated for further faxes."),
        false);
}

void TReceiveMode::failedReception() {
    main_.setFaxArriving(false);
    const bool cancelled = lastError_ == telvane::errors::ecCancelRequested;
    const QString error =
        lastError_ != 0 ? qs(telvane::errors::ovxErrorText(lastError_)) : QStringLiteral("Unknown error");
    lastError_ = 0;
    const QString file = qs(OvxReceiveFax1.FaxFile());
    if (!file.isEmpty() && QFileInfo(file).isFile()) QFile::remove(file);
    if (cancelled) {
        // Stopped by the user (Stop, Cancel or closing the program): not a failure to report.
        AddtoLastRecLog(QStringLiteral("Reception cancelled by the user"));
        return;
    }
    QTimer::singleShot(0, this, [error] {
        ShowErrorMessage(
            QStringLiteral("Failed To Receive Incoming Fax"),
            QStringLiteral("Telvane failed to receive an incoming fax.\r\n\r\nThe error message was:   ") + error,
            false);
    });
}

// The engine ends by itself only when it cannot go on: the modem refused its set-up (a fax class
// it does not have), or vanished. Receive mode must not look on while nothing answers calls: it
// is switched off and the user is told why. A Stop cancels the engine and ends the mode itself.
void TReceiveMode::engineFinished(int errorCode) {
    if (errorCode == 0 || errorCode == telvane::errors::ecCancelRequested || !main_.receiveMode()) return;
    const QString error = qs(telvane::errors::ovxErrorText(errorCode));
    const QString advice = faxClassRefusedText(errorCode, app::appSettings().Modem.FaxClassReceive);
    AddtoLastRecLog(QStringLiteral("Receive mode ended: ") + error);
    stop();
    ShowErrorMessage(
        QStringLiteral("Receive Mode Stopped"),
        QStringLiteral("Receive mode has stopped: no calls are answered.\r\n\r\nThe error message was:   ") + error +
            (advice.isEmpty() ? QString() : QStringLiteral("\r\n\r\n") + advice),
        false);
}

void TReceiveMode::OvxReceiveFax1FaxLog(int logCode) {
    switch (logCode) {
    case telvane::transport::lfaxReceiveStart: lastFile_ = qs(OvxReceiveFax1.FaxFile()); break;
    case telvane::transport::lfaxReceiveOk: storeReceivedFax(false); break;
    case telvane::transport::lfaxReceivePartial: storeReceivedFax(true); break;
    case telvane::transport::lfaxReceiveFail: failedReception(); break;
    default: break;
    }
}

}  // namespace telvane::sessions
