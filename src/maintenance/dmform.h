// TDMForm, the log clean-up window: both logs in read-only grids with a "Deleted?" column, and an
// Actions menu that sets the deletion mark on the current fax or on every fax of the log shown that
// an expression selects (before a date, sent, not sent, matching a condition, all). A received
// fax's file goes with its record. The logs' filters are cleared while the window is open and put
// back when it closes. deletedSomething() tells the main window to rebuild the indexes afterwards.
#pragma once

#include <QDialog>

#include <memory>
#include <string>

#include "records/record_set.h"
#include "records/xb_access.h"

class QAction;
class QMenu;
class QMenuBar;
class QTabWidget;

namespace telvane::app {
class LogTableModel;
class TLogGrid;
}  // namespace telvane::app

namespace telvane::maintenance {

class TDMForm : public QDialog {
    Q_OBJECT
public:
    static constexpr int kOutgoingPage = 0;
    static constexpr int kIncomingPage = 1;
    static constexpr int kHelpContext = 21071;

    // receiveDir: where received fax files live (ends with '/').
    TDMForm(records::RecordSet& recTable, records::TXbAccess& recXb, records::RecordSet& faxTable,
            records::TXbAccess& faxXb, records::TXbEnv& xbEnv, std::string receiveDir, QWidget* parent = nullptr);
    ~TDMForm() override;

    bool deletedSomething() const { return deletedSomething_; }
    int currentPage() const;
    void setCurrentPage(int page);

    QTabWidget* pageControl1() const { return pages_; }
    app::TLogGrid* SendGrid() const { return sendGrid_; }
    app::TLogGrid* RecGrid() const { return recGrid_; }
    QMenu* mnuActions() const { return actions_; }
    QMenu* gridPopup() const { return popup_; }
    QAction* action(const char* objectName) const;

    // The Actions menu.
    void mnuToggleDeletedStateClick();
    void mnuDeleteBeforeDateClick();
    void mnuDeleteSentClick();
    void mnuDeleteNotSentClick();
    void mnuDeleteConditionsClick();
    void mnuDeleteAllClick();

    // Marks every unmarked record of the current log for which the expression is true, shows the
    // count of records marked (and what failed, when something did), and returns it.
    int deleteMatching(const std::string& expression);
    void updateWindow();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    records::RecordSet& currentTable();
    records::TXbAccess& currentXb();
    app::TLogGrid* currentGrid() const;
    QString kind() const;
    std::string dateField() const;
    // Marks the current record (and removes a received fax's file); inRun: inside a group deletion.
    // False (with the reason in error) when the mark could not be set.
    bool deleteOne(bool inRun, std::string& error);
    void restoreFilters();
    void FormActivate();

    records::RecordSet& recTable_;
    records::TXbAccess& recXb_;
    records::RecordSet& faxTable_;
    records::TXbAccess& faxXb_;
    records::TXbEnv& xbEnv_;
    std::string receiveDir_;

    std::unique_ptr<app::LogTableModel> sendModel_, recModel_;
    QTabWidget* pages_ = nullptr;
    app::TLogGrid* sendGrid_ = nullptr;
    app::TLogGrid* recGrid_ = nullptr;
    QMenuBar* menuBar_ = nullptr;
    QMenu* actions_ = nullptr;
    QMenu* popup_ = nullptr;

    bool firstActivation_ = true;
    bool deletedSomething_ = false;
    bool filtersNoted_ = false;
    std::string recFilter_, faxFilter_;
};

}  // namespace telvane::maintenance
