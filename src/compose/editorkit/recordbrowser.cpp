// RecordBrowser (see recordbrowser.h).
#include "compose/editorkit/recordbrowser.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "compose/editorkit/hintgate.h"
#include "app/helpwindow.h"
#include "app/uihelpers.h"

namespace telvane::editorkit {

RecordBrowser::RecordBrowser(Qt::WindowFlags flags, QWidget* parent) : QDialog(parent, flags) {}

RecordBrowser::~RecordBrowser() { detachGrid(); }

app::TLogGrid* RecordBrowser::makeGrid(const char* name, records::RecordSet& table, std::vector<app::LogColumn> columns,
                                       int widthChars) {
    table_ = &table;
    grid_ = new app::TLogGrid(this);
    grid_->setObjectName(QString::fromLatin1(name));
    model_ = new app::LogTableModel(table, std::move(columns), grid_);
    grid_->setLogModel(model_);
    grid_->setMinimumSize(grid_->fontMetrics().averageCharWidth() * widthChars, grid_->fontMetrics().height() * 14);
    return grid_;
}

void RecordBrowser::finishLayout(std::initializer_list<QPushButton*> recordButtons, const BarTexts& texts) {
    AcceptButton = app::makePushButton(this, "AcceptButton", QStringLiteral("&Accept"), texts.acceptHint);
    CancelButton = app::makePushButton(this, "CancelButton", QStringLiteral("Cance&l"), texts.cancelHint);
    CloseButton = app::makePushButton(this, "CloseButton", QStringLiteral("C&lose"), texts.closeHint);
    HelpButton = app::makePushButton(this, "HelpButton", QStringLiteral("&Help"), texts.helpHint);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : recordButtons) buttons->addWidget(b);
    buttons->addStretch(1);
    for (QPushButton* b : {AcceptButton, CancelButton, CloseButton, HelpButton}) buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(grid_, 1);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(AcceptButton, &QPushButton::clicked, this, [this] { acceptButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { done(2); });
    connect(CloseButton, &QPushButton::clicked, this, [this] { done(2); });
    connect(HelpButton, &QPushButton::clicked, this, [context = texts.helpContext] { app::showHelp(context); });
    connect(grid_, &QAbstractItemView::doubleClicked, this, [this] {
        if (pick_) acceptButtonClick();
    });
    followHintSetting(this);
    setPickMode(false);
}

void RecordBrowser::setPickMode(bool pick) {
    pick_ = pick;
    AcceptButton->setVisible(pick);
    CancelButton->setVisible(pick);
    CloseButton->setVisible(!pick);
    (pick ? AcceptButton : CloseButton)->setDefault(true);
}

void RecordBrowser::reject() { done(2); }

bool RecordBrowser::hasRecords() const { return table_ && app::hasVisibleRecords(*table_); }

bool RecordBrowser::recordsOrBeep() const { return table_ && app::visibleRecordsOrBeep(*table_); }

void RecordBrowser::deleteCurrentRecord(const QString& question, const QString& failure) {
    if (app::AskYesNoDefaultNo(question, QStringLiteral("Delete"))) {
        try {
            table_->deleteRecord();
        } catch (const records::EXbError& e) {
            app::ShowInformation(failure + QStringLiteral("\r") + QString::fromStdString(e.what()));
        }
    }
    reloadGrid();
}

void RecordBrowser::reloadGrid() { model_->reload(); }

void RecordBrowser::detachGrid() {
    if (!model_) return;
    // The model listens to the table; it must stop before the table or this window is gone.
    grid_->setModel(nullptr);
    delete model_;
    model_ = nullptr;
}

}  // namespace telvane::editorkit
