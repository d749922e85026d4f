// RecordBrowser: what the cover-sheet template browser and the phone book browser have in common.
// A grid over one table's records and a button bar: the window's own record buttons on the left,
// then "&Accept" and "Cance&l" (pick mode) or "C&lose" (maintenance mode), and "&Help".
// Guarantees: Accept, and a double click in pick mode, run AcceptButtonClick; Cancel, Close and
// Escape end the window with 2; the grid lets go of the table before the window is gone; a
// deletion that the table engine refuses is reported and leaves the record in place.
#pragma once

#include <QDialog>
#include <QString>

#include <initializer_list>
#include <vector>

#include "records/record_set.h"
#include "app/loggrid.h"

class QPushButton;

namespace telvane::editorkit {

class RecordBrowser : public QDialog {
    Q_OBJECT
public:
    ~RecordBrowser() override;

    // Pick mode shows Accept and Cancel, maintenance mode Close; the one shown is the default button.
    virtual void setPickMode(bool pick);
    bool pickMode() const { return pick_; }
    virtual void acceptButtonClick() = 0;

    QPushButton* AcceptButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* CloseButton = nullptr;
    QPushButton* HelpButton = nullptr;

public slots:
    void reject() override;

protected:
    // Hints of the shared buttons and the help context of "&Help".
    struct BarTexts {
        QString acceptHint;
        QString cancelHint;
        QString closeHint;
        QString helpHint;
        int helpContext = 0;
    };

    RecordBrowser(Qt::WindowFlags flags, QWidget* parent);

    // The grid over `table`, widthChars average characters wide and 14 lines high.
    app::TLogGrid* makeGrid(const char* name, records::RecordSet& table, std::vector<app::LogColumn> columns,
                            int widthChars);
    // Creates the shared buttons after the record buttons (so the tab order follows the bar), lays
    // out grid and bar, wires the shared buttons and starts in maintenance mode.
    void finishLayout(std::initializer_list<QPushButton*> recordButtons, const BarTexts& texts);

    bool hasRecords() const;
    // False, after a beep, when the table holds no records.
    bool recordsOrBeep() const;
    // Asks `question` (default No) and deletes the current record; a refusal is reported as
    // `failure` and the reason. The grid is reloaded either way.
    void deleteCurrentRecord(const QString& question, const QString& failure);
    void reloadGrid();
    // Takes the grid off the table; a browser that closes its own table calls it first.
    void detachGrid();

private:
    records::RecordSet* table_ = nullptr;
    app::TLogGrid* grid_ = nullptr;
    app::LogTableModel* model_ = nullptr;
    bool pick_ = false;
};

}  // namespace telvane::editorkit
