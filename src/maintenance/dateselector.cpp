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

    m_panel = new QLabel(this);
    m_panel->setObjectName(QStringLiteral("ShowDatePanel"));
    QFont bold = m_panel->font();
    bold.setBold(true);
    m_panel->setFont(bold);
    m_panel->setAlignment(Qt::AlignCenter);
    m_panel->setFrameShape(QFrame::Panel);
    m_panel->setFrameShadow(QFrame::Sunken);
    m_panel->setMinimumHeight(m_panel->fontMetrics().height() + 10);

    m_calendar = new QCalendarWidget(this);
    m_calendar->setObjectName(QStringLiteral("Calendar1"));
    m_calendar->setGridVisible(true);
    m_calendar->setSelectedDate(initial.isValid() ? initial : QDate::currentDate());
    connect(m_calendar, &QCalendarWidget::selectionChanged, this, [this] { showDate(); });
    // A double click on a day is Ok (activated fires for double click and Enter).
    connect(m_calendar, &QCalendarWidget::activated, this, [this] { accept(); });
    if (auto* view = m_calendar->findChild<QTableView*>()) view->viewport()->installEventFilter(this);

    auto* steps = new QHBoxLayout;
    const auto add = [this, steps](const char* name, const QString& caption, const QString& hint, auto handler) {
        QPushButton* b = MakePushButton(this, name, caption, hint);
        connect(b, &QPushButton::clicked, this, handler);
        steps->addWidget(b);
    };
    add("YearMinus", QStringLiteral("Year-"), QStringLiteral("Show the previous year"), [this] { YearMinusClick(); });
    add("MonthMinus", QStringLiteral("Month-"), QStringLiteral("Show the previous month"),
        [this] { MonthMinusClick(); });
    add("TodayButton", QStringLiteral("Today"), QStringLiteral("Show today's date"), [this] { TodayClick(); });
    add("MonthPlus", QStringLiteral("Month +"), QStringLiteral("Show the next month"), [this] { MonthPlusClick(); });
    add("YearPlus", QStringLiteral("Year+"), QStringLiteral("Show the next year"), [this] { YearPlusClick(); });

    auto* okCancel = new QHBoxLayout;
    okCancel->addStretch();
    QPushButton* ok = MakePushButton(this, "OkButton", QStringLiteral("Ok"), {});
    QPushButton* cancel = MakePushButton(this, "CancelButton", QStringLiteral("Cancel"), {});
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    okCancel->addWidget(ok);
    okCancel->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_panel);
    layout->addWidget(m_calendar);
    layout->addLayout(steps);
    layout->addLayout(okCancel);
    showDate();
    adjustSize();  // its real size, for centring before it is shown
}

QDate TDateSelector::date() const { return m_calendar->selectedDate(); }

void TDateSelector::setDate(const QDate& date) { m_calendar->setSelectedDate(date); }

QString TDateSelector::titleText(const QDate& date) {
    // Written out in the user's language, in the order weekday, month day, year.
    return QLocale().toString(date, QStringLiteral("dddd, MMMM d, yyyy"));
}

void TDateSelector::TodayClick() { m_calendar->setSelectedDate(QDate::currentDate()); }

void TDateSelector::step(int months) {
    QDate d = m_calendar->selectedDate().addMonths(months);
    m_calendar->setSelectedDate(d);
    m_calendar->setCurrentPage(d.year(), d.month());
}

void TDateSelector::showDate() { m_panel->setText(titleText(m_calendar->selectedDate())); }

void TDateSelector::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_firstActivation) {
        m_firstActivation = false;
        showDate();
    }
}

bool TDateSelector::eventFilter(QObject* watched, QEvent* event) {
    // QCalendarWidget reports a double click only on a day of the month shown; a day of the
    // neighbouring months is selected by the first click, so the double click is Ok as well.
    if (event->type() == QEvent::MouseButtonDblClick) {
        // Only on a day: row 0 holds the weekday names, column 0 the week numbers.
        auto* view = m_calendar->findChild<QTableView*>();
        const QModelIndex at =
            view ? view->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint()) : QModelIndex();
        const int firstDayColumn = m_calendar->verticalHeaderFormat() == QCalendarWidget::NoVerticalHeader ? 0 : 1;
        if (at.isValid() && at.row() >= 1 && at.column() >= firstDayColumn)
            QMetaObject::invokeMethod(
                this, [this] { accept(); }, Qt::QueuedConnection);
        return false;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace telvane::maintenance
