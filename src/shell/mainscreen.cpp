// Main window: layout, start-up, enable rules, record commands, the receive-mode lock and the end.
#include "shell/mainscreen.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
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
#include "shell/appstate.h"
#include "shell/buttonrules.h"
#include "shell/helpwindow.h"
#include "shell/logdatetime.h"
#include "shell/loggrid.h"
#include "shell/placement.h"
#include "shell/programdir.h"
#include "shell/receivenotes.h"
#include "shell/splash.h"
#include "shell/uihelpers.h"

namespace telvane {

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

enum DrawnIcon { IconNew, IconEdit, IconDelete, IconSend, IconReceive, IconView, IconPrint, IconExit };

void drawPage(QPainter& p, const QRectF& r) {
    QPainterPath page;
    const qreal fold = r.width() * 0.3;
    page.moveTo(r.topLeft());
    page.lineTo(r.right() - fold, r.top());
    page.lineTo(r.right(), r.top() + fold);
    page.lineTo(r.bottomRight());
    page.lineTo(r.bottomLeft());
    page.closeSubpath();
    p.setPen(QPen(QColor(90, 90, 90), 1.2));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.setPen(QPen(QColor(170, 170, 170), 1.0));
    for (qreal y = r.top() + fold + 3; y < r.bottom() - 3; y += 4)
        p.drawLine(QPointF(r.left() + 3, y), QPointF(r.right() - 3, y));
}

void drawArrow(QPainter& p, QPointF from, QPointF to, const QColor& color) {
    p.setPen(QPen(color, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const QLineF line(to, from);
    QLineF a = line;
    a.setLength(7);
    a.setAngle(line.angle() + 40);
    QLineF b = line;
    b.setLength(7);
    b.setAngle(line.angle() - 40);
    p.drawLine(a);
    p.drawLine(b);
}

// Simple glyphs for the button bar, used where the desktop theme has no icon.
QIcon drawIcon(int kind) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    switch (kind) {
    case IconNew:
        drawPage(p, QRectF(5, 3, 19, 25));
        p.setPen(QPen(QColor(30, 140, 50), 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(24, 18), QPointF(24, 29));
        p.drawLine(QPointF(18.5, 23.5), QPointF(29.5, 23.5));
        break;
    case IconEdit:
        drawPage(p, QRectF(4, 3, 19, 25));
        p.setPen(QPen(QColor(60, 60, 60), 1.0));
        p.setBrush(QColor(240, 190, 40));
        p.drawPolygon(QPolygonF({QPointF(27, 9), QPointF(30, 12), QPointF(17, 25), QPointF(14, 22)}));
        p.setBrush(QColor(60, 60, 60));
        p.drawPolygon(QPolygonF({QPointF(14, 22), QPointF(17, 25), QPointF(12.5, 26.5)}));
        break;
    case IconDelete:
        p.setPen(QPen(QColor(200, 40, 40), 4.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 8), QPointF(24, 24));
        p.drawLine(QPointF(24, 8), QPointF(8, 24));
        break;
    case IconSend:
        drawPage(p, QRectF(3, 3, 17, 23));
        drawArrow(p, QPointF(13, 22), QPointF(29, 22), QColor(30, 80, 180));
        break;
    case IconReceive:
        p.setPen(QPen(QColor(80, 80, 80), 1.5));
        p.setBrush(QColor(210, 210, 210));
        p.drawRoundedRect(QRectF(4, 20, 24, 9), 2, 2);
        drawArrow(p, QPointF(16, 3), QPointF(16, 21), QColor(30, 140, 50));
        break;
    case IconView:
        drawPage(p, QRectF(3, 3, 18, 24));
        p.setPen(QPen(QColor(40, 40, 40), 2.2));
        p.setBrush(QColor(200, 225, 250, 200));
        p.drawEllipse(QPointF(18, 17), 6.5, 6.5);
        p.setPen(QPen(QColor(40, 40, 40), 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(23, 22), QPointF(29, 28));
        break;
    case IconPrint:
        drawPage(p, QRectF(9, 2, 14, 14));
        p.setPen(QPen(QColor(70, 70, 70), 1.3));
        p.setBrush(QColor(190, 190, 190));
        p.drawRoundedRect(QRectF(3, 13, 26, 11), 2, 2);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(8, 21, 16, 8));
        p.setBrush(QColor(30, 160, 60));
        p.drawEllipse(QPointF(25, 16.5), 1.3, 1.3);
        break;
    case IconExit:
        p.setPen(QPen(QColor(90, 60, 30), 1.3));
        p.setBrush(QColor(170, 120, 70));
        p.drawRect(QRectF(4, 3, 14, 26));
        p.setBrush(QColor(240, 200, 60));
        p.drawEllipse(QPointF(15, 16), 1.2, 1.2);
        drawArrow(p, QPointF(14, 16), QPointF(29, 16), QColor(200, 40, 40));
        break;
    }
    return QIcon(pm);
}

// The program's icon: a fax page over a blue tile.
QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 32.0, size / 32.0);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(31, 63, 143));
        p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
        drawPage(p, QRectF(8, 4, 16, 21));
        p.setPen(QPen(QColor(240, 190, 40), 2.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(6, 28), QPointF(26, 28));
        icon.addPixmap(pm);
    }
    return icon;
}

QIcon buttonIcon(const QString& themeName, int drawn) {
    if (QIcon::hasThemeIcon(themeName)) return QIcon::fromTheme(themeName);
    return drawIcon(drawn);
}

// A received fax file's name as stored must be a plain name inside the receive directory.
bool isPlainFileName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

// Deletes receive/<name>, matching the name without regard to case. False when nothing was deleted.
bool removeReceivedFile(const QString& storedName) {
    const QString name = storedName.trimmed();
    if (!isPlainFileName(name)) return false;
    const QDir dir(qs(receiveDir()));
    if (QFileInfo(dir.filePath(name)).isFile()) return QFile::remove(dir.filePath(name));
    for (const QString& entry : dir.entryList(QDir::Files))
        if (entry.compare(name, Qt::CaseInsensitive) == 0) return QFile::remove(dir.filePath(entry));
    return false;
}

}  // namespace

MainScreenHooks& mainScreenHooks() {
    static MainScreenHooks hooks;
    return hooks;
}

const QString& TMainScreen::receiveModeRefusal() {
    static const QString text = QStringLiteral(
        "You are in Fax Receive mode. This operation cannot be done\rwhile in Fax Receive mode. "
        "Click the Stop button to end\rFax Receive mode");
    return text;
}

TMainScreen::TMainScreen(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("MainScreen"));
    setWindowTitle(QStringLiteral("Telvane "));
    if (QApplication::windowIcon().isNull() || QApplication::windowIcon().availableSizes().isEmpty())
        QApplication::setWindowIcon(programIcon());
    installHintTiming();
    m_faxXb.bind(m_faxTable, &m_xbEnv);
    m_recXb.bind(m_recTable, &m_xbEnv);
    m_coverXb.bind(m_coverTable, &m_xbEnv);
    m_phoneXb.bind(m_phoneTable, &m_xbEnv);

    buildMenus();
    buildButtonBar();

    m_faxGrid = new TLogGrid;
    m_faxGrid->setObjectName(QStringLiteral("FaxGrid"));
    m_recFaxGrid = new TLogGrid;
    m_recFaxGrid->setObjectName(QStringLiteral("RecFaxGrid"));
    m_notebook = new QStackedWidget;
    m_notebook->setObjectName(QStringLiteral("Notebook"));
    m_notebook->addWidget(buildLogPage(QStringLiteral("Outgoing Faxes"), QColor(31, 63, 143), m_faxGrid));
    m_notebook->addWidget(buildLogPage(QStringLiteral("Incoming Faxes"), QColor(30, 120, 50), m_recFaxGrid));
    connect(m_faxGrid, &QAbstractItemView::doubleClicked, this, [this] { mnuViewPrintClick(false); });
    connect(m_recFaxGrid, &QAbstractItemView::doubleClicked, this, [this] { mnuViewPrintClick(false); });

    m_tabSet = new QTabBar;
    m_tabSet->setObjectName(QStringLiteral("TabSet1"));
    m_tabSet->setShape(QTabBar::RoundedSouth);
    m_tabSet->setDrawBase(false);
    m_tabSet->addTab(QStringLiteral("Outgoing"));
    m_tabSet->addTab(QStringLiteral("Incoming"));
    connect(m_tabSet, &QTabBar::currentChanged, this, [this](int index) { SelectPage(index); });

    auto* tabRow = new QHBoxLayout;
    tabRow->setContentsMargins(0, 0, 0, 0);
    tabRow->addWidget(m_tabSet);
    tabRow->addStretch();

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 0);
    layout->setSpacing(4);
    layout->addWidget(m_buttonBar);
    layout->addWidget(m_notebook, 1);
    layout->addLayout(tabRow);
    setCentralWidget(central);

    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("status"));
    statusBar()->addWidget(m_status, 1);
    statusBar()->setSizeGripEnabled(true);

    resize(960, 580);
    FormCreate();
}

TMainScreen::~TMainScreen() {
    // The grids go first: their models listen to the record sets.
    m_faxGrid->setModel(nullptr);
    m_recFaxGrid->setModel(nullptr);
    m_faxModel.reset();
    m_recModel.reset();
    for (records::RecordSet* rs : {&m_faxTable, &m_recTable, &m_coverTable, &m_phoneTable}) {
        try {
            if (rs->active()) rs->close();
        } catch (const EXbError&) {}
    }
}

QWidget* TMainScreen::buildLogPage(const QString& title, const QColor& color, TLogGrid* grid) {
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
    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("File1"));
    addMenuEntry(file, "mnuNew", QStringLiteral("&New Fax"), [this] { NewbuttonClick(); });
    addMenuEntry(file, "mnuEdit", QStringLiteral("&Edit Fax"), [this] { EditButtonClick(); });
    addMenuEntry(file, "mnuClone", QStringLiteral("Clone Fax"), [this] { mnuCloneClick(); });
    addMenuEntry(file, "mnuDelete", QStringLiteral("Delete Fax"), [this] { DeleteButtonClick(); });
    addMenuEntry(file, "FaxlogCleanup1", QStringLiteral("Fax Log Cleanup"), [this] { FaxlogCleanup1Click(); });
    file->addSeparator();
    addMenuEntry(
        file, "mnuSend", QStringLiteral("Send Fax"), [this] { SendButtonClick(); }, QKeySequence(Qt::CTRL | Qt::Key_S));
    addMenuEntry(
        file, "mnuReceive", QStringLiteral("Receive Faxes"), [this] { ReceiveButtonClick(); },
        QKeySequence(Qt::CTRL | Qt::Key_R));
    addMenuEntry(
        file, "mnuViewPrint", QStringLiteral("View/Print Fax"), [this] { mnuViewPrintClick(false); },
        QKeySequence(Qt::CTRL | Qt::Key_V));
    file->addSeparator();
    addMenuEntry(file, "mnuCover", QStringLiteral("C&over Sheets"), [this] { mnuCoverClick(); });
    addMenuEntry(file, "mnuPhoneBook", QStringLiteral("&Phone Book"), [this] { mnuPhoneBookClick(); });
    QAction* rebuild = addMenuEntry(file, "mnuRebuildIndexes", QStringLiteral("Rebuild &Indexes"),
                                    [this] { mnuRebuildIndexesClick(); });
    SetHint(rebuild, QStringLiteral("Do this every 2 weeks "));
    addMenuEntry(file, "mnuPreferences", QStringLiteral("P&references"), [this] { mnuPreferencesClick(); });
    file->addSeparator();
    addMenuEntry(
        file, "Exit1", QStringLiteral("E&xit"), [this] { close(); }, QKeySequence(Qt::CTRL | Qt::Key_X));

    QMenu* help = menuBar()->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("Help1"));
    addMenuEntry(help, "Contents1", QStringLiteral("Contents"), [this] { HelpClick(kHelpContents); });
    addMenuEntry(help, "FrequentlyAskedQuestionsFAQ1", QStringLiteral("Frequently Asked Questions (FAQ)"),
                 [this] { HelpClick(kHelpFaq); });
    addMenuEntry(help, "TroubleshootingTips1", QStringLiteral("Technical Help"), [this] { HelpClick(kHelpTechnical); });
    addMenuEntry(help, "TechnicalSupport1", QStringLiteral("Technical Support"), [this] { HelpClick(kHelpSupport); });
    addMenuEntry(help, "About1", QStringLiteral("About"), [this] { About1Click(); });
    help->addSeparator();
    addMenuEntry(help, "ConfigurationInformation1", QStringLiteral("Configuration Information"),
                 [this] { ConfigurationInformation1Click(); });
    addMenuEntry(help, "VisitOurInternetWebsite1", QStringLiteral("Visit Our Internet Website"),
                 [this] { VisitOurInternetWebsite1Click(); });
    help->addSeparator();
    m_mnuShowHint = addMenuEntry(help, "mnuShowHint", QStringLiteral("Show Hints"), [this] { mnuShowHintClick(); });
    m_mnuShowHint->setCheckable(true);
    m_mnuShowHint->setChecked(true);
}

QToolButton* TMainScreen::addButton(const char* name, const QString& caption, const QString& iconName, int drawnIcon,
                                    const QString& hint, std::function<void()> handler) {
    auto* button = new QToolButton(m_buttonBar);
    button->setObjectName(QLatin1String(name));
    button->setText(caption);
    button->setIcon(buttonIcon(iconName, drawnIcon));
    button->setIconSize(QSize(28, 28));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setMinimumWidth(button->fontMetrics().horizontalAdvance(QStringLiteral("Receive")) + 28);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(button, &QToolButton::clicked, this, [handler = std::move(handler)] { handler(); });
    SetHint(button, hint);
    m_buttonBar->layout()->addWidget(button);
    return button;
}

void TMainScreen::buildButtonBar() {
    m_buttonBar = new QWidget;
    m_buttonBar->setObjectName(QStringLiteral("ButtonBar"));
    auto* row = new QHBoxLayout(m_buttonBar);
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
    m_receiveButton = addButton("ReceiveButton", QStringLiteral("&Receive"), QStringLiteral("mail-receive"),
                                IconReceive, QStringLiteral("Start receiving faxes"), [this] { ReceiveButtonClick(); });
    gap();
    addButton("ViewFaxButton", QStringLiteral("&View"), QStringLiteral("document-print-preview"), IconView,
              QStringLiteral("View the current fax"), [this] { mnuViewPrintClick(false); });
    addButton("Printbutton", QStringLiteral("&Print"), QStringLiteral("document-print"), IconPrint,
              QStringLiteral("Print the current fax"), [this] { mnuViewPrintClick(true); });
    row->addStretch();
    addButton("Exitbutton", QStringLiteral("E&xit"), QStringLiteral("application-exit"), IconExit,
              QStringLiteral("Exit the program"), [this] { close(); });
}

QToolButton* TMainScreen::Button(const char* objectName) const {
    return m_buttonBar->findChild<QToolButton*>(QLatin1String(objectName));
}

QAction* TMainScreen::MenuAction(const char* objectName) const {
    return menuBar()->findChild<QAction*>(QLatin1String(objectName));
}

void TMainScreen::createModels() {
    m_faxModel = std::make_unique<LogTableModel>(
        m_faxTable, std::vector<LogColumn>{{"SentYesNo", QStringLiteral("Sent"), 0},
                                           {"DATESENT", QStringLiteral("Date Sent"), 0},
                                           {"TIMESENT", QStringLiteral("Time Sent"), 0},
                                           {"RECIPIENT", QStringLiteral("Recipient"), 20},
                                           {"PHONE", QStringLiteral("Phone"), 15, true},
                                           {"PAGES", QStringLiteral("Pages"), 5},
                                           {"SUBJECT", QStringLiteral("Subject"), 20},
                                           {"LASTRESULT", QStringLiteral("Last Attempt"), 35}});
    m_recModel =
        std::make_unique<LogTableModel>(m_recTable, std::vector<LogColumn>{{"DATEREC", QStringLiteral("Date Rec'd"), 0},
                                                                           {"TIMEREC", QStringLiteral("Time Rec'd"), 0},
                                                                           {"FROM", QStringLiteral("From"), 0},
                                                                           {"PAGES", QStringLiteral("Pages"), 0},
                                                                           {"NOTES", QStringLiteral("Notes"), 20},
                                                                           {"FAXFILE", QStringLiteral("Fax File"), 0}});
    m_faxGrid->setLogModel(m_faxModel.get());
    m_recFaxGrid->setLogModel(m_recModel.get());
}

void TMainScreen::FormCreate() {
    m_firstActivationPending = true;
    m_xbEnv.xb_SysProp(1009, 0);
    m_notebook->setCurrentIndex(kOutgoingPage);

    const std::string dir = ProgramDir();
    // Table file names are matched without regard to case.
    const QStringList present = QDir(qs(dir)).entryList(QDir::Files);
    const auto exists = [&present](const char* name) {
        return present.contains(QString::fromLatin1(name), Qt::CaseInsensitive);
    };
    m_faxLogCreated = !exists("TVN.DBF");
    m_recLogCreated = !exists("TVNREC.DBF");
    bool faxOpen = false;
    bool recOpen = false;
    try {
        faxOpen = records::OpenFaxDBF(dir, m_faxTable, m_faxXb);
    } catch (const EXbError&) {}
    if (!faxOpen) {
        ShowInformation(QStringLiteral("Unable to open/create the FAX datafile - closing program"));
        PostWindowMessage(this, kCloseRequestMessage);
    }
    try {
        recOpen = records::OpenRecFaxDBF(dir, m_recTable, m_recXb);
    } catch (const EXbError&) {}
    if (!recOpen) {
        ShowInformation(QStringLiteral("Unable to open/create the FAX RECEIVE datafile - closing program"));
        PostWindowMessage(this, kCloseRequestMessage);
    }
    createModels();

    Settings& settings = AppSettings();
    settings.loadFrom(dir);
    if (settings.Modem.ComPort == -1) {
        FirstRunSetupPending() = true;
        settings.Modem.ComPort = 0;
    }
    m_faxArriving = false;
    m_receiveMode = false;
    QDir().mkpath(qs(receiveDir()));

    m_hintsOn = settings.Hints.On;
    m_mnuShowHint->setChecked(m_hintsOn);
    applyHints();
}

void TMainScreen::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_firstActivationPending && !m_activationQueued) {
        m_activationQueued = true;
        QTimer::singleShot(0, this, [this] { FormActivate(); });
    }
}

void TMainScreen::FormActivate() {
    if (!m_firstActivationPending || m_closeRequested || m_closed) return;
    RestoreWindowPlacement(this, ProgramDir());
    SetButtons();
    if (startedMinimized())
        showMinimized();
    else
        show();
    LetMessagesRun();
    if (m_closeRequested || m_closed) return;

    if (FirstRunSetupPending() && mainScreenHooks().quickSetup) mainScreenHooks().quickSetup(*this);

    // A log created in this start is empty: it gets its full tag set now instead of a question
    // that would be pointless on a first start. A log that existed without DATEND still asks.
    const auto silent = [](const std::string&) {};
    bool rebuilt = false;
    try {
        if (m_faxLogCreated && m_faxTable.active() && m_faxXb.xb_TagArea("DATEND") == 0)
            rebuilt |= records::RebuildTableIndexes(m_faxTable, m_faxXb, records::faxTableSpec(), "", "", silent);
        if (m_recLogCreated && m_recTable.active() && m_recXb.xb_TagArea("DATEND") == 0)
            rebuilt |= records::RebuildTableIndexes(m_recTable, m_recXb, records::recTableSpec(), "", "", silent);
    } catch (const EXbError&) {
        // The question below then offers the rebuild.
    }
    if (rebuilt) {
        m_faxModel->reload();
        m_recModel->reload();
        SetButtons();
    }
    if (m_faxTable.active() && m_recTable.active() &&
        (m_faxXb.xb_TagArea("DATEND") == 0 || m_recXb.xb_TagArea("DATEND") == 0)) {
        if (AskYesNo(QStringLiteral("The log files need to be reindexed.\rDo this now?"), QStringLiteral("REINDEX")))
            mnuRebuildIndexesClick();
    }
    if (AppSettings().Receive.AtStartup) ReceiveButtonClick();
    m_firstActivationPending = false;
}

bool TMainScreen::event(QEvent* event) {
    if (event->type() == windowMessageType(kCloseRequestMessage)) {
        m_closeRequested = true;
        close();
        return true;
    }
    if (event->type() == windowMessageType(kArrivalSoundMessage)) {
        PlayArrivalSound();
        return true;
    }
    return QMainWindow::event(event);
}

void TMainScreen::closeEvent(QCloseEvent* event) {
    if (m_closed) {
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
    if (m_faxArriving &&
        !AskYesNo(QStringLiteral("You are receiving a fax. Exit the program?"), QStringLiteral("Exit")))
        return false;
    LetMessagesRun();
    return true;
}

void TMainScreen::FormClose() {
    // Receive mode ends before the logs close, so a fax that is being stored still finds its log.
    if (m_receiveMode) {
        if (mainScreenHooks().toggleReceiveMode) mainScreenHooks().toggleReceiveMode(*this);
        m_receiveMode = false;
    }
    SetButtons();
    KeepWindowPlacement(this, ProgramDir());
    SaveSettings();
    for (records::RecordSet* rs : {&m_faxTable, &m_recTable}) {
        try {
            if (rs->active()) rs->close();
        } catch (const EXbError&) {}
    }
    LetMessagesRun();
    m_closed = true;
}

void TMainScreen::SetStatus(const QString& text) { m_status->setText(text); }

QString TMainScreen::statusText() const { return m_status->text(); }

void TMainScreen::SetHint(QObject* control, const QString& hint) {
    bool found = false;
    for (auto& [obj, text] : m_hints) {
        if (obj == control) {
            text = hint;
            found = true;
        }
    }
    if (!found) m_hints.emplace_back(control, hint);
    applyHints();
}

void TMainScreen::applyHints() {
    for (const auto& [obj, text] : m_hints) {
        if (!obj) continue;
        const QString shown = m_hintsOn ? text : QString();
        if (auto* w = qobject_cast<QWidget*>(obj.data())) {
            w->setToolTip(shown);
            w->setToolTipDuration(kHintHideMs);
        } else if (auto* a = qobject_cast<QAction*>(obj.data())) {
            a->setStatusTip(shown);
        }
    }
}

int TMainScreen::currentPage() const { return m_notebook->currentIndex(); }

void TMainScreen::setReceiveMode(bool on) {
    m_receiveMode = on;
    SetButtons();
}

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
    syncOrder(m_faxTable, "DATESENT");
    syncOrder(m_recTable, "DATETIME");
    const ButtonStates s =
        ComputeButtonStates({currentPage(), hasCurrentRecord(m_faxTable), hasCurrentRecord(m_recTable), m_receiveMode});
    m_faxGrid->setEnabled(s.faxGrid);
    m_recFaxGrid->setEnabled(s.recFaxGrid);
    const auto set = [this](const char* button, const char* menu, bool on) {
        if (button) Button(button)->setEnabled(on);
        if (menu) MenuAction(menu)->setEnabled(on);
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

void TMainScreen::SelectPage(int page) {
    if (page != kOutgoingPage && page != kIncomingPage) return;
    if (m_tabSet->currentIndex() != page) {
        m_tabSet->setCurrentIndex(page);  // comes back here through currentChanged
        return;
    }
    m_notebook->setCurrentIndex(page);
    SetButtons();
}

bool TMainScreen::refusedInReceiveMode() {
    if (!m_receiveMode) return false;
    ShowInformation(receiveModeRefusal());
    return true;
}

bool TMainScreen::missingHook(bool installed, const QString& command) {
    if (installed) return false;
    ShowInformation(QStringLiteral("%1 is not available in this build of Telvane.").arg(command));
    return true;
}

void TMainScreen::FaxTableCloseAndOpen() {
    records::FaxTableCloseAndOpen(m_faxTable, m_faxXb, LetMessagesRun);
    m_faxModel->reload();
}

void TMainScreen::RecTableCloseAndOpen() {
    records::RecTableCloseAndOpen(m_recTable, m_recXb, LetMessagesRun);
    m_recModel->reload();
}

QString TMainScreen::GetDatetimeAsString(bool outgoingLog) {
    try {
        if (outgoingLog) {
            const records::Row row = m_faxTable.currentRow();
            return FormatSentDateTime(row.boolean("SENT"), row.date("DATESENT"), qs(row.text("TIMESENT")), QLocale());
        }
        const records::Row row = m_recTable.currentRow();
        return FormatLogDateTime(row.date("DATEREC"), qs(row.text("TIMEREC")), QLocale());
    } catch (const EXbError&) {
        return {};
    }
}

QString TMainScreen::CreateFaxFile() {
    m_renderedPageCount = 0;
    if (!mainScreenHooks().createFaxFile) return {};
    return mainScreenHooks().createFaxFile(*this);
}

bool TMainScreen::PlayArrivalSound() {
    QString wav = qs(AppSettings().Receive.Wav);
    if (wav.isEmpty()) return false;
    if (QFileInfo(wav).isRelative()) wav = qs(ProgramDir()) + wav;
    if (!QFileInfo(wav).isFile()) return false;
#ifdef TELVANE_HAVE_MULTIMEDIA
    if (!m_sound) m_sound = new QSoundEffect(this);
    m_sound->setSource(QUrl::fromLocalFile(wav));
    m_sound->play();
    return true;
#else
    return false;
#endif
}

void TMainScreen::NewbuttonClick() {
    if (refusedInReceiveMode()) {
        m_cloneRequested = false;
        return;
    }
    if (!missingHook(static_cast<bool>(mainScreenHooks().newFax), QStringLiteral("The fax editor")))
        mainScreenHooks().newFax(*this, m_cloneRequested);
    m_cloneRequested = false;
    SetButtons();
}

void TMainScreen::mnuCloneClick() {
    if (!VisibleRecordsOrBeep(m_faxTable)) return;
    m_cloneRequested = true;
    NewbuttonClick();
}

void TMainScreen::EditButtonClick() {
    if (refusedInReceiveMode()) return;
    if (currentPage() == kIncomingPage) {
        editReceiveNote();
        return;
    }
    if (!VisibleRecordsOrBeep(m_faxTable)) return;
    if (!missingHook(static_cast<bool>(mainScreenHooks().editFax), QStringLiteral("The fax editor")))
        mainScreenHooks().editFax(*this);
    SetButtons();
}

void TMainScreen::editReceiveNote() {
    if (!VisibleRecordsOrBeep(m_recTable)) return;
    const uint32_t noted = m_recTable.recNo();
    const records::Row row = m_recTable.currentRow();
    TEditReceiveNotes dialog(this);
    dialog.Notes()->setText(qs(row.text("NOTES")));
    dialog.Descript()->setText(QStringLiteral("From: ") + qs(row.text("FROM")));
    CenterDialog(&dialog);
    if (dialog.exec() != 1) return;
    try {
        if (noted > 0) m_recTable.go(noted);
        m_recTable.edit();
        m_recTable.fieldByName("NOTES").setString(dialog.Notes()->text().toStdString());
        m_recTable.post();
    } catch (const EXbError& e) {
        try {
            m_recTable.cancel();
        } catch (const EXbError&) {}
        ShowInformation(QString::fromLocal8Bit(e.what()));
    }
    m_recModel->reload();
}

void TMainScreen::DeleteButtonClick() {
    if (currentPage() == kIncomingPage)
        deleteIncoming();
    else
        deleteOutgoing();
}

void TMainScreen::deleteIncoming() {
    if (refusedInReceiveMode()) return;
    if (!VisibleRecordsOrBeep(m_recTable)) return;
    const records::Row row = m_recTable.currentRow();
    if (AskYesNoDefaultNo(
            QStringLiteral("Delete the current fax?\r\n(from: \"") + qs(row.text("FROM")) + QStringLiteral("\")"),
            QStringLiteral("Delete"))) {
        bool marked = false;
        try {
            m_recTable.deleteRecord();
            marked = true;
            m_recTable.refresh();
        } catch (const EXbError& e) {
            if (!marked) ShowInformation(QString::fromLocal8Bit(e.what()));
        }
        // The file goes only with its record, so a failed deletion loses nothing.
        if (marked) removeReceivedFile(qs(row.text("FAXFILE")));
        m_recModel->reload();
    }
    SetButtons();
}

void TMainScreen::deleteOutgoing() {
    if (!VisibleRecordsOrBeep(m_faxTable)) return;
    const records::Row row = m_faxTable.currentRow();
    if (AskYesNoDefaultNo(
            QStringLiteral("Delete the current fax?\r\n(subject: \"") + qs(row.text("SUBJECT")) + QStringLiteral("\")"),
            QStringLiteral("Delete"))) {
        try {
            m_faxTable.deleteRecord();
            m_faxTable.refresh();
        } catch (const EXbError& e) {
            ShowInformation(QString::fromLocal8Bit(e.what()));
        }
        m_faxModel->reload();
    }
    SetButtons();
}

void TMainScreen::SendButtonClick() {
    if (m_receiveMode) {
        ShowInformation(
            QStringLiteral("You are in Fax Receive mode. You cannot send\rwhile in Fax Receive mode. "
                           "Click the Stop button to end\rFax Receive mode"));
        return;
    }
    if (currentPage() != kOutgoingPage) {
        ShowInformation(QStringLiteral("Please switch to the Outgoing Faxes tab\rand highlight a fax to send"));
        return;
    }
    if (!VisibleRecordsOrBeep(m_faxTable)) return;
    if (!missingHook(static_cast<bool>(mainScreenHooks().sendFax), QStringLiteral("Sending")))
        mainScreenHooks().sendFax(*this);
    SetButtons();
}

void TMainScreen::ReceiveButtonClick() {
    if (!missingHook(static_cast<bool>(mainScreenHooks().toggleReceiveMode), QStringLiteral("Receive mode")))
        mainScreenHooks().toggleReceiveMode(*this);
    SetButtons();
}

void TMainScreen::mnuViewPrintClick(bool print) {
    records::RecordSet& table = currentPage() == kIncomingPage ? m_recTable : m_faxTable;
    if (!VisibleRecordsOrBeep(table)) return;
    if (!missingHook(static_cast<bool>(mainScreenHooks().viewPrintFax), QStringLiteral("Viewing and printing")))
        mainScreenHooks().viewPrintFax(*this, print);
}

void TMainScreen::mnuCoverClick() {
    if (refusedInReceiveMode()) return;
    if (!missingHook(static_cast<bool>(mainScreenHooks().coverSheets), QStringLiteral("Cover Sheets")))
        mainScreenHooks().coverSheets(*this);
}

void TMainScreen::mnuPhoneBookClick() {
    if (refusedInReceiveMode()) return;
    if (!missingHook(static_cast<bool>(mainScreenHooks().phoneBook), QStringLiteral("The Phone Book")))
        mainScreenHooks().phoneBook(*this);
}

void TMainScreen::mnuRebuildIndexesClick() {
    if (refusedInReceiveMode()) return;
    for (records::RecordSet* rs : {&m_coverTable, &m_faxTable, &m_recTable}) rs->disableControls();
    if (mainScreenHooks().rebuildIndexes)
        mainScreenHooks().rebuildIndexes(*this);
    else
        rebuildLogsWithEngine();
    for (records::RecordSet* rs : {&m_recTable, &m_faxTable, &m_coverTable}) rs->enableControls();
    m_faxModel->reload();
    m_recModel->reload();
    SetButtons();
}

void TMainScreen::rebuildLogsWithEngine() {
    HourGlass hourglass;
    const auto say = [this](const std::string& text) {
        SetStatus(qs(text));
        LetMessagesRun();
    };
    if (m_faxTable.active())
        records::RebuildTableIndexes(m_faxTable, m_faxXb, records::faxTableSpec(),
                                     "Removing FAX file records marked for deletion", "Rebuilding FAX file indexes",
                                     say);
    if (m_recTable.active())
        records::RebuildTableIndexes(m_recTable, m_recXb, records::recTableSpec(),
                                     "Removing Received FAX records marked for deletion",
                                     "Rebuilding Received FAX indexes", say);
    SetStatus({});
}

void TMainScreen::FaxlogCleanup1Click() {
    if (refusedInReceiveMode()) return;
    if (missingHook(static_cast<bool>(mainScreenHooks().faxLogCleanup), QStringLiteral("Fax Log Cleanup"))) return;
    const bool deletedSomething = mainScreenHooks().faxLogCleanup(*this);
    if (deletedSomething)
        mnuRebuildIndexesClick();
    else
        SetButtons();
}

void TMainScreen::mnuPreferencesClick() {
    if (refusedInReceiveMode()) return;
    if (!missingHook(static_cast<bool>(mainScreenHooks().preferences), QStringLiteral("Preferences")))
        mainScreenHooks().preferences(*this);
    SetButtons();
}

void TMainScreen::ConfigurationInformation1Click() {
    if (!missingHook(static_cast<bool>(mainScreenHooks().configurationInformation),
                     QStringLiteral("Configuration Information")))
        mainScreenHooks().configurationInformation(*this);
}

void TMainScreen::VisitOurInternetWebsite1Click() {
    if (refusedInReceiveMode()) return;
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kProductWebSite)));
}

void TMainScreen::mnuShowHintClick() {
    m_hintsOn = !m_hintsOn;
    m_mnuShowHint->setChecked(m_hintsOn);
    AppSettings().Hints.On = m_hintsOn;
    SaveSettings();
    applyHints();
    SetStatus({});
}

void TMainScreen::About1Click() {
    TSplashform about(this);
    CenterDialog(&about);
    about.exec();
}

void TMainScreen::HelpClick(int context) { ShowHelp(context); }

}  // namespace telvane
