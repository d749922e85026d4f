// Main window: layout, start-up, enable rules, record commands, the receive-mode lock and the end.
#include "shell/mainscreen.h"

#include "shell/icons.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProxyStyle>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#ifdef TELVANE_HAVE_MULTIMEDIA
#include <QSoundEffect>
#endif

#include "records/fax_tables.h"
#include "app/appstate.h"
#include "shell/buttonrules.h"
#include "app/helpwindow.h"
#include "shell/logdatetime.h"
#include "app/loggrid.h"
#include "app/placement.h"
#include "settings/programdir.h"
#include "shell/receivenotes.h"
#include "shell/splash.h"
#include "app/uihelpers.h"

namespace telvane::shell {

using records::EXbError;

namespace {

constexpr int kHintPauseMs = 1200;
constexpr int kHintHideMs = 30000;

// The program-wide pause before a hint appears.
class HintTimingStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* ret) const override {
        if (hint == SH_ToolTip_WakeUpDelay) return kHintPauseMs;
        return QProxyStyle::styleHint(hint, option, widget, ret);
    }
};

void installHintTiming() {
    if (!dynamic_cast<HintTimingStyle*>(QApplication::style()))
        QApplication::setStyle(new HintTimingStyle(QApplication::style()->name()));
}

// A desktop entry or autostart line starts the program as an icon with TELVANE_START_MINIMIZED=1.
bool startedMinimized() {
    const QByteArray v = qgetenv("TELVANE_START_MINIMIZED");
    return !v.isEmpty() && v != "0";
}

QString qs(const std::string& s) { return QString::fromStdString(s); }

// A received fax file's name as stored must be a plain name inside the receive directory.
bool isPlainFileName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

// Deletes receive/<name>, matching the name without regard to case. False when nothing was deleted.
bool removeReceivedFile(const QString& storedName) {
    const QString name = storedName.trimmed();
    if (!isPlainFileName(name)) return false;
    const QDir dir(qs(settings::receiveDir()));
    if (QFileInfo(dir.filePath(name)).isFile()) return QFile::remove(dir.filePath(name));
    for (const QString& entry : dir.entryList(QDir::Files))
        if (entry.compare(name, Qt::CaseInsensitive) == 0) return QFile::remove(dir.filePath(entry));
    return false;
}

}  // namespace

const QString& TMainScreen::receiveModeRefusal() {
    static const QString text = QStringLiteral(
        "You are in Fax Receive mode. This operation cannot be done\rwhile in Fax Receive mode. "
        "Click the Stop button to end\rFax Receive mode");
    return text;
}

TMainScreen::TMainScreen(app::MainWindowCommands commands, QWidget* parent)
    : QMainWindow(parent), commands_(std::move(commands)) {
    setObjectName(QStringLiteral("MainScreen"));
    setWindowTitle(QStringLiteral("Telvane "));
    if (QApplication::windowIcon().isNull() || QApplication::windowIcon().availableSizes().isEmpty())
        QApplication::setWindowIcon(programIcon());
    installHintTiming();
    faxXb_.bind(faxTable_, &xbEnv_);
    recXb_.bind(recTable_, &xbEnv_);
    coverXb_.bind(coverTable_, &xbEnv_);
    phoneXb_.bind(phoneTable_, &xbEnv_);

    buildMenus();
    buildButtonBar();

    faxGrid_ = new app::TLogGrid;
    faxGrid_->setObjectName(QStringLiteral("FaxGrid"));
    recFaxGrid_ = new app::TLogGrid;
    recFaxGrid_->setObjectName(QStringLiteral("RecFaxGrid"));
    notebook_ = new QStackedWidget;
    notebook_->setObjectName(QStringLiteral("Notebook"));
    notebook_->addWidget(buildLogPage(QStringLiteral("Outgoing Faxes"), QColor(31, 63, 143), faxGrid_));
    notebook_->addWidget(buildLogPage(QStringLiteral("Incoming Faxes"), QColor(30, 120, 50), recFaxGrid_));
    connect(faxGrid_, &QAbstractItemView::doubleClicked, this, [this] { mnuViewPrintClick(false); });
    connect(recFaxGrid_, &QAbstractItemView::doubleClicked, this, [this] { mnuViewPrintClick(false); });

    tabSet_ = new QTabBar;
    tabSet_->setObjectName(QStringLiteral("TabSet1"));
    tabSet_->setShape(QTabBar::RoundedSouth);
    tabSet_->setDrawBase(false);
    tabSet_->addTab(QStringLiteral("Outgoing"));
    tabSet_->addTab(QStringLiteral("Incoming"));
    connect(tabSet_, &QTabBar::currentChanged, this, [this](int index) { selectPage(index); });

    auto* tabRow = new QHBoxLayout;
    tabRow->setContentsMargins(0, 0, 0, 0);
    tabRow->addWidget(tabSet_);
    tabRow->addStretch();

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 0);
    layout->setSpacing(4);
    layout->addWidget(buttonBar_);
    layout->addWidget(notebook_, 1);
    layout->addLayout(tabRow);
    setCentralWidget(central);

    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("status"));
    status_->setTextFormat(Qt::PlainText);  // carries the remote station's ID
    statusBar()->addWidget(status_, 1);
    statusBar()->setSizeGripEnabled(true);

    resize(960, 580);
    FormCreate();
}

TMainScreen::~TMainScreen() {
    // The grids go first: their models listen to the record sets.
    faxGrid_->setModel(nullptr);
    recFaxGrid_->setModel(nullptr);
    faxModel_.reset();
    recModel_.reset();
    for (records::RecordSet* rs : {&faxTable_, &recTable_, &coverTable_, &phoneTable_}) {
        try {
            if (rs->active()) rs->close();
        } catch (const EXbError&) {}
    }
}

QWidget* TMainScreen::buildLogPage(const QString& title, const QColor& color, app::TLogGrid* grid) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* bar = new QLabel(title);
    bar->setObjectName(title == QLatin1String("Outgoing Faxes") ? QStringLiteral("SentTitle")
                                                                : QStringLiteral("ReceivedTitle"));
    bar->setAlignment(Qt::AlignCenter);
    QFont f = bar->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.15);
    bar->setFont(f);
    bar->setAutoFillBackground(true);
    QPalette pal = bar->palette();
    pal.setColor(QPalette::Window, color);
    pal.setColor(QPalette::WindowText, Qt::white);
    bar->setPalette(pal);
    bar->setContentsMargins(6, 4, 6, 4);
    layout->addWidget(bar);
    layout->addWidget(grid, 1);
    return page;
}

QAction* TMainScreen::addMenuEntry(QMenu* menu, const char* name, const QString& caption, std::function<void()> handler,
                                   const QKeySequence& shortcut) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    if (!shortcut.isEmpty()) action->setShortcut(shortcut);
    connect(action, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
    return action;
}

void TMainScreen::buildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    addMenuEntry(file, "mnuNew", QStringLiteral("&New Fax"), [this] { NewbuttonClick(); });
    addMenuEntry(file, "mnuEdit", QStringLiteral("&Edit Fax"), [this] { EditButtonClick(); });
    addMenuEntry(file, "mnuClone", QStringLiteral("C&lone Fax"), [this] { mnuCloneClick(); });
    addMenuEntry(file, "mnuDelete", QStringLiteral("&Delete Fax"), [this] { DeleteButtonClick(); });
    addMenuEntry(file, "FaxlogCleanup1", QStringLiteral("Fax Log Clean&up"), [this] { FaxlogCleanup1Click(); });
    file->addSeparator();
    addMenuEntry(
        file, "mnuSend", QStringLiteral("&Send Fax"), [this] { SendButtonClick(); },
        QKeySequence(Qt::CTRL | Qt::Key_S));
    addMenuEntry(
        file, "mnuReceive", QStringLiteral("Re&ceive Faxes"), [this] { ReceiveButtonClick(); },
        QKeySequence(Qt::CTRL | Qt::Key_R));
    addMenuEntry(
        file, "mnuViewPrint", QStringLiteral("&View/Print Fax"), [this] { mnuViewPrintClick(false); },
        QKeySequence(Qt::CTRL | Qt::Key_V));
    file->addSeparator();
    addMenuEntry(file, "mnuCover", QStringLiteral("C&over Sheets"), [this] { mnuCoverClick(); });
    addMenuEntry(file, "mnuPhoneBook", QStringLiteral("&Phone Book"), [this] { mnuPhoneBookClick(); });
    QAction* rebuild = addMenuEntry(file, "mnuRebuildIndexes", QStringLiteral("Rebuild &Indexes"),
                                    [this] { mnuRebuildIndexesClick(); });
    setHint(rebuild, QStringLiteral("Do this every 2 weeks "));
    addMenuEntry(file, "mnuPreferences", QStringLiteral("P&references"), [this] { mnuPreferencesClick(); });
    file->addSeparator();
    addMenuEntry(
        file, "Exit1", QStringLiteral("E&xit"), [this] { close(); }, QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    addMenuEntry(help, "Contents1", QStringLiteral("&Contents"), [this] { helpClick(app::kHelpContents); });
    addMenuEntry(help, "FrequentlyAskedQuestionsFAQ1", QStringLiteral("&Frequently Asked Questions (FAQ)"),
                 [this] { helpClick(app::kHelpFaq); });
    addMenuEntry(help, "TroubleshootingTips1", QStringLiteral("&Technical Help"),
                 [this] { helpClick(app::kHelpTechnical); });
    addMenuEntry(help, "TechnicalSupport1", QStringLiteral("Technical &Support"),
                 [this] { helpClick(app::kHelpSupport); });
    addMenuEntry(help, "About1", QStringLiteral("&About"), [this] { About1Click(); });
    help->addSeparator();
    addMenuEntry(help, "ConfigurationInformation1", QStringLiteral("Confi&guration Information"),
                 [this] { configurationInformation1Click(); });
    help->addSeparator();
    mnuShowHint_ = addMenuEntry(help, "mnuShowHint", QStringLiteral("Show &Hints"), [this] { mnuShowHintClick(); });
    mnuShowHint_->setCheckable(true);
    mnuShowHint_->setChecked(true);
    app::enableKeyboardMenus(menuBar());
}

QToolButton* TMainScreen::addButton(const char* name, const QString& caption, const QString& iconName, int drawnIcon,
                                    const QString& hint, std::function<void()> handler) {
    auto* button = new QToolButton(buttonBar_);
    button->setObjectName(QLatin1String(name));
    button->setText(caption);
    button->setIcon(buttonIcon(iconName, drawnIcon));
    button->setIconSize(QSize(28, 28));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setMinimumWidth(button->fontMetrics().horizontalAdvance(QStringLiteral("Receive")) + 28);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(button, &QToolButton::clicked, this, [handler = std::move(handler)] { handler(); });
    setHint(button, hint);
    buttonBar_->layout()->addWidget(button);
    return button;
}

void TMainScreen::buildButtonBar() {
    buttonBar_ = new QWidget;
    buttonBar_->setObjectName(QStringLiteral("ButtonBar"));
    auto* row = new QHBoxLayout(buttonBar_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    auto gap = [row] { row->addSpacing(12); };
    addButton("Newbutton", QStringLiteral("&New"), QStringLiteral("document-new"), IconNew,
              QStringLiteral("Create a new fax"), [this] { NewbuttonClick(); });
    addButton("EditButton", QStringLiteral("&Edit"), QStringLiteral("document-edit"), IconEdit,
              QStringLiteral("Edit the currently selected fax"), [this] { EditButtonClick(); });
    addButton("DeleteButton", QStringLiteral("&Delete"), QStringLiteral("edit-delete"), IconDelete,
              QStringLiteral("Delete  the currently selected fax"), [this] { DeleteButtonClick(); });
    gap();
    addButton("SendButton", QStringLiteral("&Send"), QStringLiteral("mail-send"), IconSend,
              QStringLiteral("Send the currently selected fax"), [this] { SendButtonClick(); });
    receiveButton_ = addButton("ReceiveButton", QStringLiteral("&Receive"), QStringLiteral("mail-receive"), IconReceive,
                               QStringLiteral("Start receiving faxes"), [this] { ReceiveButtonClick(); });
    gap();
    addButton("ViewFaxButton", QStringLiteral("&View"), QStringLiteral("document-print-preview"), IconView,
              QStringLiteral("View the current fax"), [this] { mnuViewPrintClick(false); });
    addButton("Printbutton", QStringLiteral("&Print"), QStringLiteral("document-print"), IconPrint,
              QStringLiteral("Print the current fax"), [this] { mnuViewPrintClick(true); });
    row->addStretch();
    addButton("Exitbutton", QStringLiteral("E&xit"), QStringLiteral("application-exit"), IconExit,
              QStringLiteral("Exit the program"), [this] { close(); });
}

QToolButton* TMainScreen::button(const char* objectName) const {
    return buttonBar_->findChild<QToolButton*>(QLatin1String(objectName));
}

QAction* TMainScreen::menuAction(const char* objectName) const {
    return menuBar()->findChild<QAction*>(QLatin1String(objectName));
}

void TMainScreen::createModels() {
    faxModel_ = std::make_unique<app::LogTableModel>(
        faxTable_, std::vector<app::LogColumn>{{"SentYesNo", QStringLiteral("Sent"), 0},
                                               {"DATESENT", QStringLiteral("Date Sent"), 0},
                                               {"TIMESENT", QStringLiteral("Time Sent"), 0},
                                               {"RECIPIENT", QStringLiteral("Recipient"), 20},
                                               {"PHONE", QStringLiteral("Phone"), 15, true},
                                               {"PAGES", QStringLiteral("Pages"), 5},
                                               {"SUBJECT", QStringLiteral("Subject"), 20},
                                               {"LASTRESULT", QStringLiteral("Last Attempt"), 35}});
    recModel_ = std::make_unique<app::LogTableModel>(
        recTable_, std::vector<app::LogColumn>{{"DATEREC", QStringLiteral("Date Rec'd"), 0},
                                               {"TIMEREC", QStringLiteral("Time Rec'd"), 0},
                                               {"FROM", QStringLiteral("From"), 0},
                                               {"PAGES", QStringLiteral("Pages"), 0},
                                               {"NOTES", QStringLiteral("Notes"), 20},
                                               {"FAXFILE", QStringLiteral("Fax File"), 0}});
    faxGrid_->setLogModel(faxModel_.get());
    recFaxGrid_->setLogModel(recModel_.get());
}

void TMainScreen::FormCreate() {
    firstActivationPending_ = true;
    xbEnv_.xb_SysProp(1009, 0);
    notebook_->setCurrentIndex(kOutgoingPage);

    const std::string dir = settings::ProgramDir();
    // Table file names are matched without regard to case.
    const QStringList present = QDir(qs(dir)).entryList(QDir::Files);
    const auto exists = [&present](const char* name) {
        return present.contains(QString::fromLatin1(name), Qt::CaseInsensitive);
    };
    faxLogCreated_ = !exists("TVN.DBF");
    recLogCreated_ = !exists("TVNREC.DBF");
    bool faxOpen = false;
    bool recOpen = false;
    try {
        faxOpen = records::OpenFaxDBF(dir, faxTable_, faxXb_);
    } catch (const EXbError&) {}
    if (!faxOpen) {
        app::ShowInformation(QStringLiteral("Unable to open/create the FAX datafile - closing program"));
        app::postWindowMessage(this, app::kCloseRequestMessage);
    }
    try {
        recOpen = records::OpenRecFaxDBF(dir, recTable_, recXb_);
    } catch (const EXbError&) {}
    if (!recOpen) {
        app::ShowInformation(QStringLiteral("Unable to open/create the FAX RECEIVE datafile - closing program"));
        app::postWindowMessage(this, app::kCloseRequestMessage);
    }
    createModels();

    settings::Settings& settings = app::appSettings();
    settings.loadFrom(dir);
    if (settings.Modem.ComPort == -1) {
        app::firstRunSetupPending() = true;
        settings.Modem.ComPort = 0;
    }
    faxArriving_ = false;
    receiveMode_ = false;
    QDir().mkpath(qs(settings::receiveDir()));

    hintsOn_ = settings.Hints.On;
    mnuShowHint_->setChecked(hintsOn_);
    applyHints();
}

void TMainScreen::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (firstActivationPending_ && !activationQueued_) {
        activationQueued_ = true;
        QTimer::singleShot(0, this, [this] { FormActivate(); });
    }
}

void TMainScreen::FormActivate() {
    if (!firstActivationPending_ || closeRequested_ || closed_) return;
    app::restoreWindowPlacement(this, settings::ProgramDir());
    SetButtons();
    if (startedMinimized())
        showMinimized();
    else
        show();
    app::letMessagesRun();
    if (closeRequested_ || closed_) return;

    if (app::firstRunSetupPending() && commands_.quickSetup) commands_.quickSetup(*this);

    // A log created in this start is empty: it gets its full tag set now instead of a question
    // that would be pointless on a first start. A log that existed without DATEND still asks.
    const auto silent = [](const std::string&) {};
    bool rebuilt = false;
    try {
        if (faxLogCreated_ && faxTable_.active() && faxXb_.xb_TagArea("DATEND") == 0)
            rebuilt |= records::rebuildTableIndexes(faxTable_, faxXb_, records::faxTableSpec(), "", "", silent);
        if (recLogCreated_ && recTable_.active() && recXb_.xb_TagArea("DATEND") == 0)
            rebuilt |= records::rebuildTableIndexes(recTable_, recXb_, records::recTableSpec(), "", "", silent);
    } catch (const EXbError&) {
        // The question below then offers the rebuild.
    }
    if (rebuilt) {
        faxModel_->reload();
        recModel_->reload();
        SetButtons();
    }
    if (faxTable_.active() && recTable_.active() &&
        (faxXb_.xb_TagArea("DATEND") == 0 || recXb_.xb_TagArea("DATEND") == 0)) {
        if (app::AskYesNo(QStringLiteral("The log files need to be reindexed.\rDo this now?"),
                          QStringLiteral("REINDEX")))
            mnuRebuildIndexesClick();
    }
    if (app::appSettings().Receive.AtStartup) ReceiveButtonClick();
    firstActivationPending_ = false;
}

bool TMainScreen::event(QEvent* event) {
    if (event->type() == app::windowMessageType(app::kCloseRequestMessage)) {
        closeRequested_ = true;
        close();
        return true;
    }
    if (event->type() == app::windowMessageType(app::kArrivalSoundMessage)) {
        playArrivalSound();
        return true;
    }
    return QMainWindow::event(event);
}

void TMainScreen::closeEvent(QCloseEvent* event) {
    if (closed_) {
        event->accept();
        return;
    }
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

bool TMainScreen::FormCloseQuery() {
    if (faxArriving_ &&
        !app::AskYesNo(QStringLiteral("You are receiving a fax. Exit the program?"), QStringLiteral("Exit")))
        return false;
    app::letMessagesRun();
    return true;
}

void TMainScreen::FormClose() {
    // Receive mode ends before the logs close, so a fax that is being stored still finds its log.
    if (receiveMode_) {
        if (commands_.toggleReceiveMode) commands_.toggleReceiveMode(*this);
        receiveMode_ = false;
    }
    SetButtons();
    app::keepWindowPlacement(this, settings::ProgramDir());
    app::saveSettings();
    for (records::RecordSet* rs : {&faxTable_, &recTable_}) {
        try {
            if (rs->active()) rs->close();
        } catch (const EXbError&) {}
    }
    app::letMessagesRun();
    closed_ = true;
}

void TMainScreen::setStatus(const QString& text) {
    status_->setText(text.isEmpty() && receiveMode_ ? receiveStatus_ : text);
}

void TMainScreen::setReceiveStatus(const QString& text) {
    receiveStatus_ = text;
    status_->setText(text);
}

QString TMainScreen::statusText() const { return status_->text(); }

void TMainScreen::setHint(QObject* control, const QString& hint) {
    bool found = false;
    for (auto& [obj, text] : hints_) {
        if (obj == control) {
            text = hint;
            found = true;
        }
    }
    if (!found) hints_.emplace_back(control, hint);
    applyHints();
}

void TMainScreen::applyHints() {
    for (const auto& [obj, text] : hints_) {
        if (!obj) continue;
        const QString shown = hintsOn_ ? text : QString();
        if (auto* w = qobject_cast<QWidget*>(obj.data())) {
            w->setToolTip(shown);
            w->setToolTipDuration(kHintHideMs);
        } else if (auto* a = qobject_cast<QAction*>(obj.data())) {
            a->setStatusTip(shown);
        }
    }
}

int TMainScreen::currentPage() const { return notebook_->currentIndex(); }

void TMainScreen::setReceiveMode(bool on) {
    receiveMode_ = on;
    if (!on) receiveStatus_.clear();
    SetButtons();
}

void TMainScreen::showReceiveModeRunning(bool running) {
    if (!receiveButton_) return;
    receiveButton_->setText(running ? QStringLiteral("STOP") : QStringLiteral("&Receive"));
    setHint(receiveButton_, running ? QStringLiteral("Stop receiving faxes") : QStringLiteral("Start receiving faxes"));
}

void TMainScreen::clickReceiveButton() {
    if (receiveButton_ && receiveButton_->isEnabled()) receiveButton_->click();
}

void TMainScreen::enableButtonBar(bool on) { buttonBar_->setEnabled(on); }

bool TMainScreen::hasCurrentRecord(const records::RecordSet& table) {
    if (!table.active()) return false;
    try {
        return table.recNo() != table.recCount() + 1;
    } catch (const EXbError&) {
        return false;
    }
}

void TMainScreen::syncOrder(records::RecordSet& table, const char* tag) {
    if (!table.active()) return;
    try {
        const bool has = hasCurrentRecord(table);
        if (!has && table.indexOrd() != 0) {
            table.setOrder(0);
        } else if (has && table.indexOrd() == 0) {
            const int order = table.tagArea(tag);
            if (order > 0) {
                table.setOrder(order);
                table.first();
            }
        }
    } catch (const EXbError&) {}
}

void TMainScreen::SetButtons() {
    syncOrder(faxTable_, "DATESENT");
    syncOrder(recTable_, "DATETIME");
    const ButtonStates s =
        computeButtonStates({currentPage(), hasCurrentRecord(faxTable_), hasCurrentRecord(recTable_), receiveMode_});
    faxGrid_->setEnabled(s.faxGrid);
    recFaxGrid_->setEnabled(s.recFaxGrid);
    const auto set = [this](const char* buttonName, const char* menuName, bool on) {
        if (buttonName) button(buttonName)->setEnabled(on);
        if (menuName) menuAction(menuName)->setEnabled(on);
    };
    set("Newbutton", "mnuNew", s.newFax);
    set(nullptr, "mnuClone", s.cloneFax);
    set("SendButton", "mnuSend", s.send);
    set(nullptr, "mnuReceive", s.receiveMenu);
    set("EditButton", "mnuEdit", s.edit);
    set("DeleteButton", "mnuDelete", s.deleteFax);
    set("ViewFaxButton", "mnuViewPrint", s.viewPrint);
    set("Printbutton", nullptr, s.viewPrint);
}

void TMainScreen::selectPage(int page) {
    if (page != kOutgoingPage && page != kIncomingPage) return;
    if (tabSet_->currentIndex() != page) {
        tabSet_->setCurrentIndex(page);  // comes back here through currentChanged
        return;
    }
    notebook_->setCurrentIndex(page);
    SetButtons();
}

bool TMainScreen::refusedInReceiveMode() {
    if (!receiveMode_) return false;
    app::ShowInformation(receiveModeRefusal());
    return true;
}

bool TMainScreen::missingCommand(bool present) {
    if (present) return false;
    app::soundBeep();
    return true;
}

void TMainScreen::FaxTableCloseAndOpen() {
    records::FaxTableCloseAndOpen(faxTable_, faxXb_, app::letMessagesRun);
    faxModel_->reload();
}

void TMainScreen::RecTableCloseAndOpen() {
    records::RecTableCloseAndOpen(recTable_, recXb_, app::letMessagesRun);
    recModel_->reload();
}

QString TMainScreen::GetDatetimeAsString(bool outgoingLog) {
    try {
        if (outgoingLog) {
            const records::Row row = faxTable_.currentRow();
            return formatSentDateTime(row.boolean("SENT"), row.date("DATESENT"), qs(row.text("TIMESENT")), QLocale());
        }
        const records::Row row = recTable_.currentRow();
        return formatLogDateTime(row.date("DATEREC"), qs(row.text("TIMEREC")), QLocale());
    } catch (const EXbError&) {
        return {};
    }
}

QString TMainScreen::CreateFaxFile() {
    rendered_ = {};
    if (commands_.createFaxFile) rendered_ = commands_.createFaxFile(*this);
    return rendered_.path;
}

bool TMainScreen::playArrivalSound() {
    QString wav = qs(app::appSettings().Receive.Wav);
    if (wav.isEmpty()) return false;
    if (QFileInfo(wav).isRelative()) wav = qs(settings::ProgramDir()) + wav;
    if (!QFileInfo(wav).isFile()) return false;
#ifdef TELVANE_HAVE_MULTIMEDIA
    if (!sound_) sound_ = new QSoundEffect(this);
    sound_->setSource(QUrl::fromLocalFile(wav));
    sound_->play();
    return true;
#else
    return false;
#endif
}

void TMainScreen::NewbuttonClick() {
    if (refusedInReceiveMode()) {
        cloneRequested_ = false;
        return;
    }
    if (!missingCommand(static_cast<bool>(commands_.newFax))) commands_.newFax(*this, cloneRequested_);
    cloneRequested_ = false;
    SetButtons();
}

void TMainScreen::mnuCloneClick() {
    if (!app::visibleRecordsOrBeep(faxTable_)) return;
    cloneRequested_ = true;
    NewbuttonClick();
}

void TMainScreen::EditButtonClick() {
    if (refusedInReceiveMode()) return;
    if (currentPage() == kIncomingPage) {
        editReceiveNote();
        return;
    }
    if (!app::visibleRecordsOrBeep(faxTable_)) return;
    if (!missingCommand(static_cast<bool>(commands_.editFax))) commands_.editFax(*this);
    SetButtons();
}

void TMainScreen::editReceiveNote() {
    if (!app::visibleRecordsOrBeep(recTable_)) return;
    const uint32_t noted = recTable_.recNo();
    const records::Row row = recTable_.currentRow();
    TEditReceiveNotes dialog(this);
    dialog.Notes()->setText(qs(row.text("NOTES")));
    dialog.Descript()->setText(QStringLiteral("From: ") + qs(row.text("FROM")));
    app::centerDialog(&dialog);
    if (dialog.exec() != 1) return;
    try {
        if (noted > 0) recTable_.go(noted);
        recTable_.edit();
        recTable_.fieldByName("NOTES").setString(dialog.Notes()->text().toStdString());
        recTable_.post();
    } catch (const EXbError& e) {
        try {
            recTable_.cancel();
        } catch (const EXbError&) {}
        app::ShowInformation(QString::fromLocal8Bit(e.what()));
    }
    recModel_->reload();
}

void TMainScreen::DeleteButtonClick() {
    if (currentPage() == kIncomingPage)
        deleteIncoming();
    else
        deleteOutgoing();
}

void TMainScreen::deleteIncoming() {
    if (refusedInReceiveMode()) return;
    if (!app::visibleRecordsOrBeep(recTable_)) return;
    const records::Row row = recTable_.currentRow();
    if (app::AskYesNoDefaultNo(
            QStringLiteral("Delete the current fax?\r\n(from: \"") + qs(row.text("FROM")) + QStringLiteral("\")"),
            QStringLiteral("Delete"))) {
        bool marked = false;
        try {
            recTable_.deleteRecord();
            marked = true;
            recTable_.refresh();
        } catch (const EXbError& e) {
            if (!marked) app::ShowInformation(QString::fromLocal8Bit(e.what()));
        }
        // The file goes only with its record, so a failed deletion loses nothing.
        if (marked) removeReceivedFile(qs(row.text("FAXFILE")));
        recModel_->reload();
    }
    SetButtons();
}

void TMainScreen::deleteOutgoing() {
    if (!app::visibleRecordsOrBeep(faxTable_)) return;
    const records::Row row = faxTable_.currentRow();
    if (app::AskYesNoDefaultNo(
            QStringLiteral("Delete the current fax?\r\n(subject: \"") + qs(row.text("SUBJECT")) + QStringLiteral("\")"),
            QStringLiteral("Delete"))) {
        bool marked = false;
        try {
            faxTable_.deleteRecord();
            marked = true;
            faxTable_.refresh();
        } catch (const EXbError& e) {
            if (!marked) app::ShowInformation(QString::fromLocal8Bit(e.what()));
        }
        if (marked && commands_.removeUnnamedDocuments) commands_.removeUnnamedDocuments(*this);
        faxModel_->reload();
    }
    SetButtons();
}

// Allowed in receive mode: the send command pauses receiving while the fax goes out.
void TMainScreen::SendButtonClick() {
    if (currentPage() != kOutgoingPage) {
        app::ShowInformation(QStringLiteral("Please switch to the Outgoing Faxes tab\rand highlight a fax to send"));
        return;
    }
    if (!app::visibleRecordsOrBeep(faxTable_)) return;
    if (!missingCommand(static_cast<bool>(commands_.sendFax))) commands_.sendFax(*this);
    SetButtons();
}

void TMainScreen::ReceiveButtonClick() {
    if (!missingCommand(static_cast<bool>(commands_.toggleReceiveMode))) commands_.toggleReceiveMode(*this);
    SetButtons();
}

void TMainScreen::mnuViewPrintClick(bool print) {
    records::RecordSet& table = currentPage() == kIncomingPage ? recTable_ : faxTable_;
    if (!app::visibleRecordsOrBeep(table)) return;
    if (!missingCommand(static_cast<bool>(commands_.viewPrintFax))) commands_.viewPrintFax(*this, print);
}

void TMainScreen::mnuCoverClick() {
    if (refusedInReceiveMode()) return;
    if (!missingCommand(static_cast<bool>(commands_.coverSheets))) commands_.coverSheets(*this);
}

void TMainScreen::mnuPhoneBookClick() {
    if (refusedInReceiveMode()) return;
    if (!missingCommand(static_cast<bool>(commands_.phoneBook))) commands_.phoneBook(*this);
}

void TMainScreen::mnuRebuildIndexesClick() {
    if (refusedInReceiveMode()) return;
    for (records::RecordSet* rs : {&coverTable_, &faxTable_, &recTable_}) rs->disableControls();
    if (commands_.rebuildIndexes)
        commands_.rebuildIndexes(*this);
    else
        rebuildLogsWithEngine();
    for (records::RecordSet* rs : {&recTable_, &faxTable_, &coverTable_}) rs->enableControls();
    faxModel_->reload();
    recModel_->reload();
    SetButtons();
}

void TMainScreen::rebuildLogsWithEngine() {
    app::HourGlass hourglass;
    const auto say = [this](const std::string& text) {
        setStatus(qs(text));
        app::letMessagesRun();
    };
    if (faxTable_.active())
        records::rebuildTableIndexes(faxTable_, faxXb_, records::faxTableSpec(),
                                     "Removing FAX file records marked for deletion", "Rebuilding FAX file indexes",
                                     say);
    if (recTable_.active())
        records::rebuildTableIndexes(recTable_, recXb_, records::recTableSpec(),
                                     "Removing Received FAX records marked for deletion",
                                     "Rebuilding Received FAX indexes", say);
    setStatus({});
}

void TMainScreen::FaxlogCleanup1Click() {
    if (refusedInReceiveMode()) return;
    if (missingCommand(static_cast<bool>(commands_.faxLogCleanup))) return;
    const bool deletedSomething = commands_.faxLogCleanup(*this);
    if (deletedSomething) {
        mnuRebuildIndexesClick();
        if (commands_.removeUnnamedDocuments) commands_.removeUnnamedDocuments(*this);
    } else {
        SetButtons();
    }
}

bool TMainScreen::mnuPreferencesClick() {
    if (refusedInReceiveMode()) return false;
    const bool saved = !missingCommand(static_cast<bool>(commands_.preferences)) && commands_.preferences(*this);
    SetButtons();
    return saved;
}

void TMainScreen::configurationInformation1Click() {
    if (!missingCommand(static_cast<bool>(commands_.configurationInformation)))
        commands_.configurationInformation(*this);
}

void TMainScreen::mnuShowHintClick() {
    hintsOn_ = !hintsOn_;
    mnuShowHint_->setChecked(hintsOn_);
    app::appSettings().Hints.On = hintsOn_;
    app::saveSettings();
    applyHints();
    setStatus({});
}

void TMainScreen::About1Click() {
    TSplashform about(this);
    app::centerDialog(&about);
    about.exec();
}

void TMainScreen::helpClick(int context) { app::showHelp(context); }

}  // namespace telvane::shell
