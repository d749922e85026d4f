#include "maintenance/dateselector.h"

#include <QCalendarWidget>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "app/uihelpers.h"

namespace telvane::maintenance {

TDateSelector::TDateSelector(const QDate& initial, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TDateSelector"));
    setWindowTitle(QStringLiteral("Select Date"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    panel_ = new QLabel(this);
    panel_->setObjectName(QStringLiteral("ShowDatePanel"));
    QFont bold = panel_->font();
    bold.setBold(true);
    panel_->setFont(bold);
    panel_->setAlignment(Qt::AlignCenter);
    panel_->setFrameShape(QFrame::Panel);
    panel_->setFrameShadow(QFrame::Sunken);
    panel_->setMinimumHeight(panel_->fontMetrics().height() + 10);

    calendar_ = new QCalendarWidget(this);
    calendar_->setObjectName(QStringLiteral("Calendar1"));
    calendar_->setGridVisible(true);
    calendar_->setSelectedDate(initial.isValid() ? initial : QDate::currentDate());
    connect(calendar_, &QCalendarWidget::selectionChanged, this, [this] { showDate(); });
    // A double click on a day is Ok (activated fires for double click and Enter).
    connect(calendar_, &QCalendarWidget::activated, this, [this] { accept(); });
    if (auto* view = calendar_->findChild<QTableView*>()) view->viewport()->installEventFilter(this);

    auto* steps = new QHBoxLayout;
    const auto add = [this, steps](const char* name, const QString& caption, const QString& hint, auto handler) {
        QPushButton* b = app::makePushButton(this, name, caption, hint);
        connect(b, &QPushButton::clicked, this, handler);
        steps->addWidget(b);
    };
    add("YearMinus", QStringLiteral("Year-"), QStringLiteral("Show the previous year"), [this] { yearMinusClick(); });
    add("MonthMinus", QStringLiteral("Month-"), QStringLiteral("Show the previous month"),
        [this] { monthMinusClick(); });
    add("TodayButton", QStringLiteral("Today"), QStringLiteral("Show today's date"), [this] { todayClick(); });
    add("MonthPlus", QStringLiteral("Month +"), QStringLiteral("Show the next month"), [this] { monthPlusClick(); });
    add("YearPlus", QStringLiteral("Year+"), QStringLiteral("Show the next year"), [this] { yearPlusClick(); });

    auto* okCancel = new QHBoxLayout;
    okCancel->addStretch();
    QPushButton* ok = app::makePushButton(this, "OkButton", QStringLiteral("Ok"), {});
    QPushButton* cancel = app::makePushButton(this, "CancelButton", QStringLiteral("Cancel"), {});
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    okCancel->addWidget(ok);
    okCancel->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel_);
    layout->addWidget(calendar_);
    layout->addLayout(steps);
    layout->addLayout(okCancel);
    showDate();
    adjustSize();  // its real size, for centring before it is shown
}

QDate TDateSelector::date() const { return calendar_->selectedDate(); }

void TDateSelector::setDate(const QDate& date) { calendar_->setSelectedDate(date); }

QString TDateSelector::titleText(const QDate& date) {
    // Written out in the user's language, in the order weekday, month day, year.
    return QLocale().toString(date, QStringLiteral("dddd, MMMM d, yyyy"));
}

void TDateSelector::todayClick() { calendar_->setSelectedDate(QDate::currentDate()); }

void TDateSelector::step(int months) {
    QDate d = calendar_->selectedDate().addMonths(months);
    calendar_->setSelectedDate(d);
    calendar_->setCurrentPage(d.year(), d.month());
}

void TDateSelector::showDate() { panel_->setText(titleText(calendar_->selectedDate())); }

void TDateSelector::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (firstActivation_) {
        firstActivation_ = false;
        showDate();
    }
}

bool TDateSelector::eventFilter(QObject* watched, QEvent* event) {
    // QCalendarWidget reports a double click only on a day of the month shown; a day of the
    // neighbouring months is selected by the first click, so the double click is Ok as well.
    if (event->type() == QEvent::MouseButtonDblClick) {
        // Only on a day: row 0 holds the weekday names, column 0 the week numbers.
        auto* view = calendar_->findChild<QTableView*>();
        const QModelIndex at =
            view ? view->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint()) : QModelIndex();
        const int firstDayColumn = calendar_->verticalHeaderFormat() == QCalendarWidget::NoVerticalHeader ? 0 : 1;
        if (at.isValid() && at.row() >= 1 && at.column() >= firstDayColumn)
            QMetaObject::invokeMethod(
                this, [this] { accept(); }, Qt::QueuedConnection);
        return false;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace telvane::maintenance
