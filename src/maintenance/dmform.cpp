#include "maintenance/dmform.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "maintenance/cleanupexpr.h"
#include "maintenance/dateselector.h"
#include "maintenance/deleteconditions.h"
#include "records/fax_tables.h"
#include "records/table.h"
#include "app/helpwindow.h"
#include "app/loggrid.h"
#include "app/uihelpers.h"

namespace telvane::maintenance {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

std::vector<app::LogColumn> columnsOf(const records::TableSpec& spec, std::initializer_list<const char*> fields) {
    std::vector<app::LogColumn> cols;
    cols.push_back({"ISDELETED", QStringLiteral("Deleted?"), 8});
    for (const char* f : fields) {
        const std::string label = records::fieldLabel(spec, f);
        cols.push_back({f, label.empty() ? qs(f) : qs(label), 0});
    }
    return cols;
}

// Removes a received fax file by its stored name; only a plain file name inside the receive
// directory is accepted, compared without regard to case.
void removeReceivedFile(const QString& receiveDir, const QString& storedName) {
    const QString name = storedName.trimmed();
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
        name == QLatin1String(".") || name == QLatin1String(".."))
        return;
    const QDir dir(receiveDir);
    if (QFileInfo(dir.filePath(name)).isFile()) {
        QFile::remove(dir.filePath(name));
        return;
    }
    for (const QString& entry : dir.entryList(QDir::Files))
        if (entry.compare(name, Qt::CaseInsensitive) == 0) {
            QFile::remove(dir.filePath(entry));
            return;
        }
}

}  // namespace

TDMForm::TDMForm(records::RecordSet& recTable, records::TXbAccess& recXb, records::RecordSet& faxTable,
                 records::TXbAccess& faxXb, records::TXbEnv& xbEnv, std::string receiveDir, QWidget* parent)
    : QDialog(parent),
      recTable_(recTable),
      recXb_(recXb),
      faxTable_(faxTable),
      faxXb_(faxXb),
      xbEnv_(xbEnv),
      receiveDir_(std::move(receiveDir)) {
    setObjectName(QStringLiteral("TDMForm"));
    setWindowTitle(QStringLiteral("Fax Log Cleanup Utility"));
    setSizeGripEnabled(true);

    menuBar_ = new QMenuBar(this);
    actions_ = menuBar_->addMenu(QStringLiteral("&Actions"));
    actions_->setObjectName(QStringLiteral("mnuActions"));
    const auto add = [this](const char* name, const QString& caption, void (TDMForm::*handler)(),
                            const QKeySequence& shortcut = {}) {
        QAction* a = actions_->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        if (!shortcut.isEmpty()) a->setShortcut(shortcut);
        connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return a;
    };
    QAction* current = add("mnuToggleDeletedState", QStringLiteral("Delete Current Fax"),
                           &TDMForm::mnuToggleDeletedStateClick, QKeySequence(Qt::Key_Delete));
    addAction(current);  // the shortcut works while the grids have the focus
    actions_->addSeparator();
    add("mnuDeleteBeforeDate", QStringLiteral("Delete All Before A Particular Date"),
        &TDMForm::mnuDeleteBeforeDateClick);
    add("mnuDeleteSent", QStringLiteral("Delete All that Have Been Sent"), &TDMForm::mnuDeleteSentClick);
    add("mnuDeleteNotSent", QStringLiteral("Delete All That Have NOT Been Sent"), &TDMForm::mnuDeleteNotSentClick);
    add("mnuDeleteConditions", QStringLiteral("Delete All Faxes Meeting Certain Conditions..."),
        &TDMForm::mnuDeleteConditionsClick);
    actions_->addSeparator();
    add("mnuDeleteAll", QStringLiteral("Delete All Faxes"), &TDMForm::mnuDeleteAllClick);
    app::enableKeyboardMenus(menuBar_);

    popup_ = new QMenu(this);
    popup_->setObjectName(QStringLiteral("GridPopup"));
    QAction* del = popup_->addAction(QStringLiteral("Delete"));
    del->setObjectName(QStringLiteral("Delete1"));
    connect(del, &QAction::triggered, this, [this] { mnuToggleDeletedStateClick(); });

    pages_ = new QTabWidget(this);
    pages_->setObjectName(QStringLiteral("PageControl1"));
    sendGrid_ = new app::TLogGrid;
    sendGrid_->setObjectName(QStringLiteral("SendGrid"));
    recGrid_ = new app::TLogGrid;
    recGrid_->setObjectName(QStringLiteral("RecGrid"));
    pages_->addTab(sendGrid_, QStringLiteral("Outgoing Faxes"));
    pages_->addTab(recGrid_, QStringLiteral("Incoming Faxes"));
    connect(pages_, &QTabWidget::currentChanged, this, [this] { updateWindow(); });
    for (app::TLogGrid* grid : {sendGrid_, recGrid_}) {
        connect(grid, &QWidget::customContextMenuRequested, this, [this, grid](const QPoint& pos) {
            if (grid->isEnabled()) popup_->popup(grid->viewport()->mapToGlobal(pos));
        });
        // A double click on the "Deleted?" column deletes the fax.
        connect(grid, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
            if (index.column() == 0) mnuToggleDeletedStateClick();
        });
    }

    QPushButton* help = app::makePushButton(this, "HelpButton", QStringLiteral("Help"), {});
    QPushButton* close = app::makePushButton(this, "CloseButton", QStringLiteral("Close"), {});
    connect(help, &QPushButton::clicked, this, [] { app::showHelp(kHelpContext); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(help);
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(menuBar_);
    layout->addWidget(pages_);
    layout->addLayout(buttons);
    resize(820, 460);
}

TDMForm::~TDMForm() {
    restoreFilters();
    // The grids go before their models.
    delete pages_;
    sendModel_.reset();
    recModel_.reset();
}

QAction* TDMForm::action(const char* objectName) const { return findChild<QAction*>(QString::fromLatin1(objectName)); }

int TDMForm::currentPage() const { return pages_->currentIndex(); }

void TDMForm::setCurrentPage(int page) { pages_->setCurrentIndex(page); }

void TDMForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (firstActivation_) {
        firstActivation_ = false;
        FormActivate();
    }
}

void TDMForm::FormActivate() {
    // Every record is shown here, whatever filter the main window had set.
    recFilter_ = recTable_.filter();
    faxFilter_ = faxTable_.filter();
    filtersNoted_ = true;
    recXb_.xb_Query("");
    faxXb_.xb_Query("");
    try {
        if (recTable_.active()) recTable_.refresh();
        if (faxTable_.active()) faxTable_.refresh();
    } catch (const records::EXbError&) {}

    pages_->setCurrentIndex(kOutgoingPage);
    sendModel_ = std::make_unique<app::LogTableModel>(
        faxTable_,
        columnsOf(records::faxTableSpec(), {"DATESENT", "TIMESENT", "RECIPIENT", "SUBJECT", "PHONE", "LASTRESULT"}));
    recModel_ = std::make_unique<app::LogTableModel>(
        recTable_, columnsOf(records::recTableSpec(), {"DATEREC", "TIMEREC", "FROM", "PAGES", "FAXFILE", "NOTES"}));
    sendGrid_->setLogModel(sendModel_.get());
    recGrid_->setLogModel(recModel_.get());
    updateWindow();
}

void TDMForm::done(int result) {
    restoreFilters();
    QDialog::done(result);
}

void TDMForm::restoreFilters() {
    if (!filtersNoted_) return;
    filtersNoted_ = false;
    recXb_.xb_Query(recFilter_);
    faxXb_.xb_Query(faxFilter_);
}

records::RecordSet& TDMForm::currentTable() { return currentPage() == kIncomingPage ? recTable_ : faxTable_; }
records::TXbAccess& TDMForm::currentXb() { return currentPage() == kIncomingPage ? recXb_ : faxXb_; }
app::TLogGrid* TDMForm::currentGrid() const { return currentPage() == kIncomingPage ? recGrid_ : sendGrid_; }
QString TDMForm::kind() const {
    return currentPage() == kIncomingPage ? QStringLiteral("received") : QStringLiteral("outgoing");
}
std::string TDMForm::dateField() const { return currentPage() == kIncomingPage ? "DATEREC" : "DATESENT"; }

void TDMForm::updateWindow() {
    const bool outgoing = currentPage() == kOutgoingPage;
    action("mnuDeleteSent")->setVisible(outgoing);
    action("mnuDeleteNotSent")->setVisible(outgoing);

    const auto empty = [](const records::RecordSet& rs) { return !rs.active() || rs.isEmpty(); };
    const bool sendEmpty = empty(faxTable_);
    const bool recEmpty = empty(recTable_);
    sendGrid_->setEnabled(!sendEmpty);
    recGrid_->setEnabled(!recEmpty);
    sendGrid_->setContextMenuPolicy(sendEmpty ? Qt::NoContextMenu : Qt::CustomContextMenu);
    recGrid_->setContextMenuPolicy(recEmpty ? Qt::NoContextMenu : Qt::CustomContextMenu);

    const bool actions = currentGrid()->isEnabled();
    actions_->menuAction()->setEnabled(actions);
    for (QAction* a : actions_->actions())
        if (!a->isSeparator()) a->setEnabled(actions);

    pages_->setTabText(kOutgoingPage,
                       sendEmpty ? QStringLiteral("OutGoing Faxes (none)") : QStringLiteral("Outgoing Faxes"));
    pages_->setTabText(kIncomingPage,
                       recEmpty ? QStringLiteral("Incoming Faxes (none)") : QStringLiteral("Incoming Faxes"));
}

bool TDMForm::deleteOne(bool inRun, std::string& error) {
    records::RecordSet& rs = currentTable();
    // The mark first: a record that cannot be marked keeps its file.
    QString file;
    try {
        if (currentPage() == kIncomingPage) file = qs(rs.currentRow().text("FAXFILE"));
        if (inRun && rs.table() && rs.filter().empty() && !rs.deletedHidden()) {
            // During a run every record is shown in physical order, so a mark changes neither what
            // is shown nor the walk; the table is marked directly and the record set refreshed once
            // at the end (marking through the record set re-sorts its order on every mark).
            rs.table()->setDeleted(rs.recNo(), true);
        } else {
            rs.deleteRecord();
        }
    } catch (const records::EXbError& e) {
        error = e.what();
        return false;
    }
    if (currentPage() == kIncomingPage) removeReceivedFile(qs(receiveDir_), file);
    deletedSomething_ = true;
    return true;
}

void TDMForm::mnuToggleDeletedStateClick() {
    records::RecordSet& rs = currentTable();
    records::TXbAccess& xb = currentXb();
    if (!rs.active() || rs.isEmpty() || rs.recNo() > rs.recCount() || rs.deleted()) return;
    if (!app::AskYesNo(QStringLiteral("Delete this fax? (action is permanent)"), QStringLiteral("DELETE"))) return;
    const long here = xb.xb_RecNo();
    rs.next();
    const long after = xb.xb_RecNo();
    xb.xb_Go(here);
    std::string ignored;
    deleteOne(false, ignored);
    if (after != here) xb.xb_Go(after);
    updateWindow();
}

int TDMForm::deleteMatching(const std::string& expression) {
    records::RecordSet& rs = currentTable();
    records::TXbAccess& xb = currentXb();
    const long here = xb.xb_RecNo();
    const int order = xb.xb_IndexOrd();
    int count = 0, failed = 0;
    std::string error;  // the first failure, told with the count
    {
        app::HourGlass hourglass;
        xb.xbSetOrder(0);
        xb.xb_SetDeleted(false);  // marked records stay in the walk, so they are seen and skipped
        rs.disableControls();
        try {
            rs.first();
            // Physical order with every record shown: the next record is the next record number.
            const long records = xb.xb_RecCount();
            for (long recno = 1; recno <= records; ++recno) {
                if (!xb.xb_Go(recno)) {
                    if (error.empty()) error = xb.lastError();
                    break;
                }
                if (xb.xb_EvalLogical(expression) && !xb.xb_Deleted()) {
                    std::string why;
                    if (deleteOne(true, why))
                        ++count;
                    else if (++failed == 1 && error.empty())
                        error = why;
                }
                if (recno % 4096 == 0) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            }
        } catch (const records::EXbError& e) {
            if (error.empty()) error = e.what();
        }
        xb.xb_SetDeleted(true);
        rs.enableControls();
        try {
            rs.refresh();
        } catch (const records::EXbError&) {}
        currentGrid()->viewport()->update();
        xb.xbSetOrder(order);
        if (here > 0 && here <= xb.xb_RecCount()) xb.xb_Go(here);
        // A record marked by this run is hidden now: the grid goes to the first one shown instead.
        try {
            if (rs.recNo() <= rs.recCount() && rs.deleted()) rs.first();
        } catch (const records::EXbError&) {}
    }
    QString text = QString::number(count) + QStringLiteral(" deleted.");
    if (!error.empty())
        text += (failed ? QStringLiteral("\n") + QString::number(failed) + QStringLiteral(" could not be deleted: ")
                        : QStringLiteral("\nThe deletion stopped: ")) +
                qs(error);
    app::ShowInformation(text);
    updateWindow();
    return count;
}

void TDMForm::mnuDeleteBeforeDateClick() {
    TDateSelector selector(QDate::currentDate(), this);
    selector.setWindowTitle(QStringLiteral("Delete all before..."));
    app::centerDialog(&selector);
    if (selector.exec() != QDialog::Accepted) return;
    const QDate date = selector.date();
    if (!app::AskYesNoDefaultNo(QStringLiteral("Delete all ") + kind() + QStringLiteral(" faxes prior to ") +
                                    QLocale().toString(date, QLocale::LongFormat) +
                                    QStringLiteral(" (action is permanent)?"),
                                QStringLiteral("DELETE")))
        return;
    deleteMatching(beforeDateExpression(dateField(), date));
}

void TDMForm::mnuDeleteSentClick() {
    if (currentPage() != kOutgoingPage) return;
    if (app::AskYesNoDefaultNo(QStringLiteral("Delete all outgoing faxes which have been sent? (action is permanent)"),
                               QStringLiteral("DELETE")))
        deleteMatching(kSentExpression);
}

void TDMForm::mnuDeleteNotSentClick() {
    if (currentPage() != kOutgoingPage) return;
    if (app::AskYesNoDefaultNo(
            QStringLiteral("Delete all outgoing faxes which have NOT been sent? (action is permanent)"),
            QStringLiteral("DELETE")))
        deleteMatching(kNotSentExpression);
}

void TDMForm::mnuDeleteAllClick() {
    if (app::AskYesNoDefaultNo(
            QStringLiteral("Delete all ") + kind() + QStringLiteral(" faxes ? (action is permanent)"),
            QStringLiteral("DELETE ALL")))
        deleteMatching(kAllExpression);
}

void TDMForm::mnuDeleteConditionsClick() {
    TDeleteForConditions dialog(this);
    app::centerDialog(&dialog);
    records::RecordSet& rs = currentTable();
    records::Row row;
    const bool hasRow = rs.active() && !rs.isEmpty() && rs.recNo() <= rs.recCount();
    if (hasRow) row = rs.currentRow();
    if (currentPage() == kOutgoingPage)
        dialog.prepareOutgoing(hasRow ? qs(row.text("RECIPIENT")) : QString(),
                               hasRow ? qs(row.text("PHONE")) : QString());
    else
        dialog.prepareIncoming(hasRow ? qs(row.text("FROM")) : QString());
    if (dialog.exec() != QDialog::Accepted) return;
    const std::string expression = dialog.expression();
    if (!expression.empty()) deleteMatching(expression);
}

}  // namespace telvane::maintenance
