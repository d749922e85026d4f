// TDateSelector: picks one day on a month calendar. The bold title shows the selected day written
// out ("dddd, mmmm d, yyyy"); buttons step the calendar by a year or a month or go to today; a
// double click on a day is Ok. Result: the calendar's date.
#pragma once

#include <QDate>
#include <QDialog>

class QCalendarWidget;
class QLabel;

namespace telvane::maintenance {

class TDateSelector : public QDialog {
    Q_OBJECT
public:
    explicit TDateSelector(const QDate& initial, QWidget* parent = nullptr);

    QDate date() const;
    void setDate(const QDate& date);
    QCalendarWidget* calendar() const { return calendar_; }
    QLabel* ShowDatePanel() const { return panel_; }

    // The title text of a date: weekday and month written out.
    static QString titleText(const QDate& date);

    void yearMinusClick() { step(-12); }
    void monthMinusClick() { step(-1); }
    void todayClick();
    void monthPlusClick() { step(1); }
    void yearPlusClick() { step(12); }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void step(int months);
    void showDate();

    QCalendarWidget* calendar_;
    QLabel* panel_;
    bool firstActivation_ = true;
};

}  // namespace telvane::maintenance
