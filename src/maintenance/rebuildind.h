// TRebuildInd, the rebuild window: when it is first shown it removes the records marked for
// deletion from the four tables for good and builds every index tag anew, saying what it does on
// its progress line, then posts itself the close request. The two logs stay open throughout; the
// phone book and the covers are opened for the work and closed again, and skipped when they cannot
// be opened.
#pragma once

#include <QDialog>

#include <string>

#include "records/record_set.h"
#include "records/xb_access.h"

class QLabel;

namespace telvane::maintenance {

struct RebuildTables {
    records::RecordSet& faxTable;
    records::TXbAccess& faxXb;
    records::RecordSet& recTable;
    records::TXbAccess& recXb;
    records::RecordSet& phoneTable;
    records::TXbAccess& phoneXb;
    records::RecordSet& coverTable;
    records::TXbAccess& coverXb;
    std::string dir;  // the program's directory, ending with '/'
};

class TRebuildInd : public QDialog {
    Q_OBJECT
public:
    explicit TRebuildInd(RebuildTables tables, QWidget* parent = nullptr);

    // Every progress text said, in order.
    const QStringList& progress() const { return said_; }
    QLabel* progressLabel() const { return progress_; }
    bool finished() const { return finished_; }

    // The work itself (run once, at the first activation).
    void rebuild();

    // Escape does not close the window while the work runs.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void say(const std::string& text);

    RebuildTables tables_;
    QLabel* progress_;
    QStringList said_;
    bool started_ = false;
    bool finished_ = false;
};

}  // namespace telvane::maintenance
