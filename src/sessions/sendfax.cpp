// Send command and send dialog (see sendfax.h).
#include "sessions/sendfax.h"

#include "app/faxnumber.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QPushButton>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

#include <optional>

#include "transport/qtbridge/qtfaxbridge.h"
#include "records/fax_tables.h"
#include "records/xb_error.h"
#include "sessions/faxwindows.h"
#include "sessions/modemcommands.h"
#include "sessions/receivemode.h"
#include "sessions/sendsettings.h"
#include "app/appstate.h"
#include "app/helpwindow.h"
#include "app/mainwindow.h"
#include "settings/programdir.h"
#include "app/uihelpers.h"

namespace telvane::sessions {

namespace {
QString qs(const std::string& s) { return QString::fromStdString(s); }
std::string ss(const QString& s) { return s.left(255).toStdString(); }

void setBusyCursor(bool on) {
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
    if (on) QApplication::setOverrideCursor(Qt::WaitCursor);
}

QString memoClassName(int storedClass) {
    switch (storedClass) {
    case 1: return QStringLiteral("Class 1");
    case 2: return QStringLiteral("Class 2");
    case 3: return QStringLiteral("Class 2.0");
    default: return QStringLiteral("Autodetect");
    }
}
}  // namespace

TSendFaxForm::TSendFaxForm(QWidget* parent)
    : QDialog(parent), sink_(std::make_unique<telvane::transport::TOvxQtEventSink>()) {
    setObjectName(QStringLiteral("TSendFaxForm"));
    setWindowTitle(QStringLiteral("Send Fax"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFont(QFont(QStringLiteral("Arial"), font().pointSize()));

    auto* outer = new QVBoxLayout(this);
    auto* upper = new QVBoxLayout;
    upper->addLayout(buildNumberForm());
    SendFaxButton = new QPushButton(QStringLiteral("&Send Fax Now"));
    SendFaxButton->setDefault(true);
    upper->addWidget(SendFaxButton);
    upper->addWidget(buildConfigBox());
    status = new QLabel;
    status->setObjectName(QStringLiteral("status"));
    upper->addWidget(status);
    outer->addLayout(upper);
    outer->addLayout(buildBottomButtons());

    connectButtons();
    setUpEngine();
}

QFormLayout* TSendFaxForm::buildNumberForm() {
    auto* form = new QFormLayout;
    ToLabel = new QLabel;
    Subjectlabel = new QLabel;
    form->addRow(QStringLiteral("To:"), ToLabel);
    form->addRow(QStringLiteral("Subject:"), Subjectlabel);
    sfPhoneNumber = new QLineEdit;
    sfPhoneNumber->setMaxLength(25);
    form->addRow(QStringLiteral("&Fax Number to dial:"), sfPhoneNumber);
    sfDialPrefix = new QLineEdit;
    DisablePrefix = new QCheckBox(QStringLiteral("Disable Prefix"));
    auto* prefixRow = new QHBoxLayout;
    prefixRow->addWidget(sfDialPrefix);
    prefixRow->addWidget(DisablePrefix);
    // A row whose field is a layout gets no buddy: without one the label would show the "&".
    auto* prefixLabel = new QLabel(QStringLiteral("&Dial prefix (dial before the fax#):"));
    prefixLabel->setBuddy(sfDialPrefix);
    form->addRow(prefixLabel, prefixRow);
    sfDialsuffix = new QLineEdit;
    DisableSuffix = new QCheckBox(QStringLiteral("Disable Suffix"));
    auto* suffixRow = new QHBoxLayout;
    suffixRow->addWidget(sfDialsuffix);
    suffixRow->addWidget(DisableSuffix);
    auto* suffixLabel = new QLabel(QStringLiteral("Dial s&uffix (dial after the fax#):"));
    suffixLabel->setBuddy(sfDialsuffix);
    form->addRow(suffixLabel, suffixRow);
    return form;
}

QGroupBox* TSendFaxForm::buildConfigBox() {
    auto* config = new QGroupBox(QStringLiteral("Configuration:"));
    QFont bold = config->font();
    bold.setBold(true);
    config->setFont(bold);
    auto* configLayout = new QVBoxLayout(config);
    SetupDisplayMemo = new QPlainTextEdit;
    SetupDisplayMemo->setReadOnly(true);
    SetupDisplayMemo->setFont(font());
    SetupDisplayMemo->setMinimumHeight(170);
    PreferencesButton = new QPushButton(QStringLiteral("P&references"));
    PreferencesButton->setFont(font());
    configLayout->addWidget(SetupDisplayMemo);
    configLayout->addWidget(PreferencesButton);
    return config;
}

QHBoxLayout* TSendFaxForm::buildBottomButtons() {
    auto* bottom = new QHBoxLayout;
    Helpbutton = new QPushButton(QStringLiteral("&Help"));
    ProblemSolverButton = new QPushButton(QStringLiteral("&Technical Help"));
    CloseButton = new QPushButton(QStringLiteral("C&lose"));
    CloseButton->setAutoDefault(false);
    bottom->addWidget(Helpbutton);
    bottom->addWidget(ProblemSolverButton);
    bottom->addStretch();
    bottom->addWidget(CloseButton);
    return bottom;
}

void TSendFaxForm::connectButtons() {
    connect(SendFaxButton, &QPushButton::clicked, this, [this] { SendFaxButtonClick(); });
    connect(CloseButton, &QPushButton::clicked, this, [this] { CloseButtonClick(); });
    connect(Helpbutton, &QPushButton::clicked, this, [this] { HelpButtonClick(); });
    connect(ProblemSolverButton, &QPushButton::clicked, this, [this] { ProblemSolverButtonClick(); });
    connect(PreferencesButton, &QPushButton::clicked, this, [this] { PreferencesButtonClick(); });
}

// Engine components with their design-time values.
void TSendFaxForm::setUpEngine() {
    prepareSessionPort(OvxComPort1, sink_.get());
    OvxSendFax1.setComPort(&OvxComPort1);
    OvxSendFax1.setFaxClass(telvane::transport::fcUnknown);
    OvxSendFax1.FaxFileExt = "OVF";
    // The header line and a text cover in a system font (pages are black on white, so the
    // fonts carry no colour); the renderer substitutes a font the system has for "MS Sans Serif".
    OvxSendFax1.EnhTextEnabled = true;
    OvxSendFax1.EnhHeaderFont = telvane::transport::TOvxFont{"MS Sans Serif", -13};
    OvxSendFax1.EnhFont = telvane::transport::TOvxFont{"MS Sans Serif", -11};
    OvxFaxStatus1 = new TStandardFaxDisplay(QStringLiteral("Fax Status"), this);
    OvxFaxStatus1->setWindowFlag(Qt::Window);
    // While a session runs the status window is the one the user acts in (Cancel): modal over
    // this dialog and the main window, so a click on either brings it, not this dialog, to the top.
    OvxFaxStatus1->setWindowModality(Qt::WindowModal);
    OvxSendFax1.StatusDisplay = OvxFaxStatus1;
    // The finish event returns at once; the dialog's handling (message boxes, closing the port)
    // runs right after it, so the engine's thread is never held by a modal box.
    OvxSendFax1.OnFaxFinish = [this](telvane::transport::TOvxAbstractFax&, int code) {
        QTimer::singleShot(0, this, [this, code] { OvxSendFax1FaxFinish(code); });
    };
    lineTimer_ = new QTimer(this);
    lineTimer_->setInterval(250);
    connect(lineTimer_, &QTimer::timeout, this, [this] {
        if (Line.busy && Line.busy()) return;
        stopWaitingForLine();
        sendNow();
    });
}

TSendFaxForm::~TSendFaxForm() {
    OvxSendFax1.StatusDisplay = nullptr;
    closePort(OvxComPort1);
}

void TSendFaxForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormActivate();
}

void TSendFaxForm::FormActivate() {
    if (!FirstActivation) return;
    sfPhoneNumber->setText(InitialPhone);
    FirstActivation = false;
    setBusyCursor(false);
    ShowSetup();
}

void TSendFaxForm::ShowSetup() {
    const settings::Settings& s = app::appSettings();
    SetupDisplayMemo->clear();
    QStringList lines;
    lines << QStringLiteral("Communications Port: COM") + QString::number(s.Modem.ComPort + 1)
          << QStringLiteral("Fax Class: ") + memoClassName(s.Modem.FaxClass)
          << QStringLiteral("Transfer Rate: ") + QString::number(s.Modem.MaximumBPS)
          << QStringLiteral("Dialing with: ") +
                 (s.Dialing.ToneOrPulse == 0 ? QStringLiteral("Tone") : QStringLiteral("Pulse"))
          << QStringLiteral("Modem Init String :") + qs(s.Modem.InitString)
          << QStringLiteral("Modem Reset String :") + qs(s.Resetting.String)
          << QStringLiteral("Post Reset String :") + qs(s.Resetting.AfterString)
          << QStringLiteral("Station ID (Fax #) :") + qs(s.User.Fax)
          << QStringLiteral("Dial Attempts :") + QString::number(s.Dialing.DialAttempts)
          << QStringLiteral("Retry in :") + QString::number(s.Dialing.RetryWait) + QStringLiteral(" seconds");
    if (s.Dialing.BlindDial) lines << QStringLiteral("Blind Dial is ACTIVE");
    if (s.Dialing.IgnoreBusy) lines << QStringLiteral("Ignore Busy is ACTIVE");
    if (s.Dialing.ECM) lines << QStringLiteral("Using Error Correction");
    SetupDisplayMemo->setPlainText(lines.join(QLatin1Char('\n')));
}

void TSendFaxForm::setStatus(const QString& text) { status->setText(text); }

void TSendFaxForm::releasePort() {
    closePort(OvxComPort1);
    if (!linePaused_) return;
    linePaused_ = false;
    if (Line.resume) Line.resume();
}

void TSendFaxForm::giveUp() {
    setBusyCursor(false);
    releasePort();
    SessionBusy = false;
    setStatus({});
}

void TSendFaxForm::SaveLocalLog() { log_.save(qs(settings::ProgramDir()) + QStringLiteral("Lastsend.log")); }

void TSendFaxForm::BuildHeader() {
    const QLocale locale;
    HeaderText = buildHeaderText(qs(app::appSettings().User.Name), qs(app::appSettings().User.Fax),
                                 locale.toString(QDate::currentDate(), QLocale::ShortFormat),
                                 locale.toString(QTime::currentTime(), QLocale::ShortFormat));
}

void TSendFaxForm::SendFaxButtonClick() {
    if (!numberCanBeDialled()) return;
    if (Line.busy && Line.busy())
        waitForLine();
    else
        sendNow();
}

// A fax is arriving: the send is queued (Close takes it back) and goes out once the line is free.
void TSendFaxForm::waitForLine() {
    SessionBusy = true;
    waitingForLine_ = true;
    setStatus(QStringLiteral("A fax is arriving; this fax is sent when it has been received..."));
    lineTimer_->start();
}

void TSendFaxForm::stopWaitingForLine() {
    lineTimer_->stop();
    waitingForLine_ = false;
    SessionBusy = false;
    setStatus({});
}

void TSendFaxForm::sendNow() {
    settings::Settings& s = app::appSettings();
    if (Line.pause) {
        setStatus(QStringLiteral("Pausing receive mode..."));
        app::letMessagesRun();
        if (Line.busy && Line.busy()) {
            waitForLine();
            return;
        }
        linePaused_ = Line.pause();
    }
    if (!openPortForSending(s) || !modemAnswers() || !sendResetString(s)) return;
    setBusyCursor(true);
    logSessionSettings(s);
    startSending(s);
}

// A number is typed, no session runs, and the number is one a modem can dial.
bool TSendFaxForm::numberCanBeDialled() {
    QString trimmed = sfPhoneNumber->text();
    trimmed.remove(QRegularExpression(QStringLiteral("^[\\s\\x00-\\x1f]+|[\\s\\x00-\\x1f]+$")));
    if (trimmed.isEmpty()) {
        app::ShowInformation(QStringLiteral("Phone number is blank"));
        sfPhoneNumber->setFocus();
        return false;
    }
    if (SessionBusy) {
        app::soundBeep();
        return false;
    }
    if (const QString problem = app::faxNumberProblem(sfPhoneNumber->text()); !problem.isEmpty()) {
        app::ShowInformation(problem);
        sfPhoneNumber->setFocus();
        return false;
    }
    return true;
}

// Opens the port of the settings; a failure is logged, shown and ends the session.
bool TSendFaxForm::openPortForSending(const settings::Settings& s) {
    SessionBusy = true;
    setBusyCursor(true);
    log_.clear();
    OvxComPort1.setOutSize(s.Other.GlobalLargerSendBuffer ? 16384 : 8192);
    setStatus(QStringLiteral("Opening communications port..."));
    app::letMessagesRun();
    assignPort(OvxComPort1, s.Modem.ComPort + 1);
    const QString n = QString::number(portNumber());
    AddtoLastSendLog(QStringLiteral("Start:") + logDateTime());
    AddtoLastSendLog(QStringLiteral("Opening com port: COM") + n);

    QString message;
    if (!OpenComPort(OvxComPort1, message)) {
        AddtoLastSendLog(QStringLiteral("Error opening com port: COM") + n);
        AddtoLastSendLog(QStringLiteral("Message:") + message);
        giveUp();
        ShowErrorMessage(QStringLiteral("Error Opening Communications Port"),
                         message + portCheckAdvice(portNumber(), false), true);
        SaveLocalLog();
        return false;
    }
    return true;
}

// "AT" is answered, or the user chooses to go on without an answer.
bool TSendFaxForm::modemAnswers() {
    setBusyCursor(true);
    AddtoLastSendLog(QStringLiteral("Opened com port OK"));
    AddtoLastSendLog(QStringLiteral("Checking for modem"));
    if (!CheckForModem(OvxComPort1)) {
        setBusyCursor(false);
        AddtoLastSendLog(QStringLiteral("Error checking for modem"));
        const bool goOn = ShowErrorWithContinue(QStringLiteral("No Response From Modem"),
                                                noModemResponseText(portNumber(), false), true);
        if (!goOn) {
            giveUp();
            AddtoLastSendLog(QStringLiteral("Exit"));
            SaveLocalLog();
            return false;
        }
        setBusyCursor(true);
    }
    return true;
}

// The user's reset string, when there is one; a modem that does not take it ends the session.
bool TSendFaxForm::sendResetString(settings::Settings& s) {
    if (!s.Resetting.String.empty()) {
        setStatus(QStringLiteral("Sending reset string..."));
        app::letMessagesRun();
        AddtoLastSendLog(QStringLiteral("Sending reset string: ") + qs(s.Resetting.String));
        if (!SendModemString(OvxComPort1, s.Resetting.String)) {
            AddtoLastSendLog(QStringLiteral("Failure sending reset string: ") + qs(s.Resetting.String));
            giveUp();
            ShowErrorMessage(QStringLiteral("Unable to Continue"),
                             resetStringFailureText(qs(s.Resetting.String), portNumber(), false), true);
            AddtoLastSendLog(QStringLiteral("Exiting..."));
            SaveLocalLog();
            return false;
        }
    }
    return true;
}

// What this session is asked to do, for Lastsend.log.
void TSendFaxForm::logSessionSettings(const settings::Settings& s) {
    AddtoLastSendLog(QStringLiteral("Desired BPS: ") + QString::number(s.Modem.MaximumBPS));
    if (s.Dialing.ECM) AddtoLastSendLog(QStringLiteral("Desired ECM: ON"));
    if (s.Dialing.BlindDial) AddtoLastSendLog(QStringLiteral("Blind Dial: ON"));
    if (s.Dialing.IgnoreBusy) AddtoLastSendLog(QStringLiteral("Ignore Busy: ON"));
    AddtoLastSendLog(s.Modem.RenegotiateBetween ? QStringLiteral("Negotiate between pages: ON")
                                                : QStringLiteral("Negotiate between pages: OFF"));
    AddtoLastSendLog(QStringLiteral("Fax#: ") + sfPhoneNumber->text());
    if (!DisablePrefix->isChecked()) AddtoLastSendLog(QStringLiteral("Dial Prefix: ") + sfDialPrefix->text());
    if (!DisableSuffix->isChecked()) AddtoLastSendLog(QStringLiteral("Dial Suffix: ") + sfDialsuffix->text());
    if (s.Dialing.ToneOrPulse != 0) AddtoLastSendLog(QStringLiteral("Using Pulse Dialing ***"));
    AddtoLastSendLog(QStringLiteral("Fax Class: ") + qs(settings::FaxClassName(s.Modem.FaxClass)));
    AddtoLastSendLog(QStringLiteral("StationID: ") + qs(s.User.Fax));
    AddtoLastSendLog(QStringLiteral("User INIT String: ") + qs(s.Modem.InitString));
}

// Hands number, files and header to the send component and starts it; a start that fails ends the
// session.
void TSendFaxForm::startSending(const settings::Settings& s) {
    try {
        applySendSettings(
            s,
            // The modem is given only what it can dial: blanks and - ( ) . + typed for
            // readability would make it answer ERROR to the dial command.
            {ss(app::dialableNumber(sfPhoneNumber->text())), ss(app::dialableNumber(sfDialPrefix->text())),
             ss(app::dialableNumber(sfDialsuffix->text())), DisablePrefix->isChecked(), DisableSuffix->isChecked()},
            OvxSendFax1);
        OvxSendFax1.SetFaxFile(ss(FaxFileName));
        OvxSendFax1.CoverFile = ss(CoverFileName);
        BuildHeader();
        OvxSendFax1.HeaderLine = ss(HeaderText);
        setStatus({});
        app::letMessagesRun();
        setBusyCursor(false);
        OvxSendFax1.StartSend();
        if (OnAttemptStarted) OnAttemptStarted();
    } catch (const std::exception&) {
        setBusyCursor(false);
        SessionBusy = false;
        releasePort();
        setStatus({});
        AddtoLastSendLog(QStringLiteral("Error..."));
        SaveLocalLog();
    }
}

void TSendFaxForm::OvxSendFax1FaxFinish(int ErrorCode) {
    const FaxStatusValues reached = readFaxStatus(OvxSendFax1);
    const bool reachedRemote = !reached.connectBps.isEmpty() || !reached.remoteId.isEmpty();
    QString text = QString::fromStdString(telvane::errors::ovxErrorText(ErrorCode));
    if (ErrorCode == 0 && text.isEmpty()) text = QStringLiteral("OK");
    ResultText = text;
    // 2-D coding or error correction: the log names what the call used ("Coding: MMR, ECM").
    if (reachedRemote && (OvxSendFax1.coding() != telvane::faximage::FaxCoding::MH || OvxSendFax1.errorControl()))
        AddtoLastSendLog(QStringLiteral("Coding: ") + QString::fromStdString(OvxSendFax1.codingText()));
    AddtoLastSendLog(QStringLiteral("Result: ") + text);
    const bool sent = ErrorCode == 0 || text.toUpper() == QStringLiteral("OK");
    if (sent) ResultText = QStringLiteral("Sent");
    // The user's own Cancel: said as such, not as a fault to look up.
    else if (ErrorCode == telvane::errors::ecCancelRequested)
        ResultText = QStringLiteral("Cancelled");
    // Stored before anything else can happen: the user may leave the message box up for hours.
    if (OnAttemptEnded) OnAttemptEnded(ResultText);
    app::letMessagesRun();
    settings::Settings& s = app::appSettings();
    if (!s.Resetting.AfterString.empty()) {
        setStatus(QStringLiteral("Sending AFTER reset string..."));
        app::letMessagesRun();
        SendModemString(OvxComPort1, s.Resetting.AfterString);
    }
    releasePort();
    app::letMessagesRun();
    SessionBusy = false;
    setStatus({});
    if (sent) {
        app::ShowInformation(QStringLiteral("Fax sent successfully"));
    } else if (ErrorCode == telvane::errors::ecCancelRequested) {
        app::ShowInformation(QStringLiteral("Sending was cancelled. The fax was not sent."));
    } else if (const QString refused = refusedDialText(ErrorCode, reachedRemote, sfPhoneNumber->text());
               !refused.isEmpty()) {
        ShowErrorMessage(QStringLiteral("Fax Failure"), refused, true);
    } else if (const QString advice = faxClassRefusedText(ErrorCode, s.Modem.FaxClass); !advice.isEmpty()) {
        ShowErrorMessage(QStringLiteral("Fax Failure"),
                         QStringLiteral("Error message: ") + text + QStringLiteral("\r\n\r\n") + advice, true);
    } else {
        ShowErrorMessage(
            QStringLiteral("Fax Failure"),
            (QStringLiteral("We have received an error message while trying to send the fax\r\n\r\nError message: ") +
             text + QStringLiteral("\r\n\r\n"))
                .left(255),
            true);
    }
    SaveLocalLog();
    // A sent fax is done: the dialog closes, so "Send Fax Now" cannot send it a second time by
    // mistake and the log behind it is in view with the fax marked sent.
    if (sent) done(QDialog::Accepted);
}

void TSendFaxForm::CloseButtonClick() {
    if (waitingForLine_) stopWaitingForLine();
    if (SessionBusy) {
        app::soundBeep();
        return;
    }
    closePort(OvxComPort1);
    done(QDialog::Rejected);
}

void TSendFaxForm::reject() { CloseButtonClick(); }

void TSendFaxForm::closeEvent(QCloseEvent* event) {
    if (waitingForLine_) stopWaitingForLine();
    if (SessionBusy) {
        app::soundBeep();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TSendFaxForm::HelpButtonClick() { app::showHelp(1016); }

void TSendFaxForm::ProblemSolverButtonClick() { ShowProblemSolver(); }

void TSendFaxForm::PreferencesButtonClick() {
    if (OpenPreferences && OpenPreferences()) {
        const settings::Settings& s = app::appSettings();
        sfDialPrefix->setText(qs(s.Dialing.DialPrefix));
        DisablePrefix->setChecked(s.User.PrefixDisable);
        sfDialsuffix->setText(qs(s.Dialing.DialSuffix));
        DisableSuffix->setChecked(s.User.SuffixDisable);
    }
    ShowSetup();
}

// ---------------------------------------------------------------------------------------------

namespace {
bool isSuccess(const QString& result) {
    const QString up = result.trimmed().toUpper();
    return up == QStringLiteral("SENT") || up == QStringLiteral("OK");
}

// Edits the current outgoing record with `set`, posts it, and says so when that fails.
void updateCurrentRecord(app::IMainWindow& main, const std::function<void(records::RecordSet&)>& set) {
    records::RecordSet& table = main.FaxTable();
    try {
        table.edit();
        set(table);
        table.post();
    } catch (const std::exception& e) {
        try {
            table.cancel();
        } catch (const std::exception&) {}
        app::ShowInformation(QStringLiteral("The result could not be stored in the fax log: ") +
                             QString::fromLocal8Bit(e.what()));
    }
}
}  // namespace

void storeSendOutcome(app::IMainWindow& main, int pages, const QString& result, const QString& number) {
    updateCurrentRecord(main, [&](records::RecordSet& table) {
        table.fieldByName("PAGES").setInteger(records::pagesForLog(pages));
        table.fieldByName("PHONE").setString(number.left(25).toStdString());
        if (result.trimmed().isEmpty()) return;
        // A fax the far end has is not made unsent by a later attempt that failed.
        const bool alreadySent = table.fieldByName("SENT").asBoolean();
        if (alreadySent && !isSuccess(result)) return;
        table.fieldByName("LASTRESULT").setString(result.left(100).toStdString());
        if (isSuccess(result)) {
            table.fieldByName("SENT").setBoolean(true);
            table.fieldByName("DATESENT").setDate(records::Date::today());
            table.fieldByName("TIMESENT")
                .setString(QTime::currentTime().toString(QStringLiteral("HH:mm")).toStdString());
        }
    });
}

void storeAttemptStarted(app::IMainWindow& main, const QString& number) {
    updateCurrentRecord(main, [&](records::RecordSet& table) {
        table.fieldByName("PHONE").setString(number.left(25).toStdString());
        if (table.fieldByName("SENT").asBoolean()) return;
        const QString started = QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
        table.fieldByName("LASTRESULT")
            .setString((QStringLiteral("Attempt started ") + started + QStringLiteral(", no result yet"))
                           .left(100)
                           .toStdString());
    });
}

TSendFaxForm::SharedLine receiveModeLine(app::IMainWindow& main) {
    return {[&main] { return main.receiveMode() && main.faxArriving(); },
            [&main] { return main.receiveMode() && TReceiveMode::of(main).pauseForSending(); },
            [&main] { TReceiveMode::of(main).resumeAfterSending(); }};
}

void sendFaxCommand(app::IMainWindow& main) {
    std::optional<app::HourGlass> hourglass(std::in_place);
    main.setStatus(QStringLiteral("Preparing files for viewing..."));
    app::letMessagesRun();
    const QString path = main.CreateFaxFile();
    if (path.isEmpty()) {
        hourglass.reset();
        // An empty fax or an unreadable document has been explained already; a second box only
        // confused the next command.
        if (!main.renderedFaxFailureTold()) app::ShowInformation(QStringLiteral("Error creating fax file"));
        main.setStatus({});
        return;
    }
    const int pages = main.renderedPageCount();
    QString recipient, subject, phone;
    try {
        const records::Row row = main.FaxTable().currentRow();
        recipient = qs(row.text("RECIPIENT"));
        subject = qs(row.text("SUBJECT"));
        phone = qs(row.text("PHONE"));
    } catch (const std::exception&) {}
    const settings::Settings& s = app::appSettings();
    QString number;
    {
        TSendFaxForm form(main.widget());
        form.OpenPreferences = [&main] { return main.mnuPreferencesClick(); };
        form.Line = receiveModeLine(main);
        form.OnAttemptStarted = [&main, &form] { storeAttemptStarted(main, form.sfPhoneNumber->text()); };
        form.OnAttemptEnded = [&](const QString& attemptResult) {
            storeSendOutcome(main, pages, attemptResult, form.sfPhoneNumber->text());
            appendSendHistory(qs(settings::ProgramDir()) + QString::fromLatin1(kSendHistoryName),
                              {recipient, subject, form.sfPhoneNumber->text(), pages, attemptResult});
        };
        app::centerDialog(&form);
        form.FaxFileName = path;
        form.ToLabel->setText(recipient);
        form.Subjectlabel->setText(subject);
        form.InitialPhone = phone;
        form.OvxComPort1.setComNumber(s.Modem.ComPort + 1);
        form.sfDialPrefix->setText(qs(s.Dialing.DialPrefix));
        form.sfDialsuffix->setText(qs(s.Dialing.DialSuffix));
        form.DisablePrefix->setChecked(s.User.PrefixDisable);
        form.DisableSuffix->setChecked(s.User.SuffixDisable);
        app::centerDialog(&form);
        main.setStatus({});
        app::letMessagesRun();
        hourglass.reset();
        form.exec();

        main.enableButtonBar(true);
        number = form.sfPhoneNumber->text();
        settings::Settings& w = app::appSettings();
        w.Dialing.DialPrefix = form.sfDialPrefix->text().toStdString();
        w.Dialing.DialSuffix = form.sfDialsuffix->text().toStdString();
        w.User.PrefixDisable = form.DisablePrefix->isChecked();
        w.User.SuffixDisable = form.DisableSuffix->isChecked();
        app::saveSettings();
    }
    QFile::remove(path);
    hourglass.emplace();
    storeSendOutcome(main, pages, {}, number);
    hourglass.reset();
    main.setStatus({});
}

}  // namespace telvane::sessions
