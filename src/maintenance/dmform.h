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

namespace telvane {
class LogTableModel;
class TLogGrid;
}  // namespace telvane

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

    bool deletedSomething() const { return m_deletedSomething; }
    int currentPage() const;
    void setCurrentPage(int page);

    QTabWidget* PageControl1() const { return m_pages; }
    TLogGrid* SendGrid() const { return m_sendGrid; }
    TLogGrid* RecGrid() const { return m_recGrid; }
    QMenu* mnuActions() const { return m_actions; }
    QMenu* GridPopup() const { return m_popup; }
    QAction* action(const char* objectName) const;

    // The Actions menu.
    void mnuToggleDeletedStateClick();
    void mnuDeleteBeforeDateClick();
    void mnuDeleteSentClick();
    void mnuDeleteNotSentClick();
    void mnuDeleteConditionsClick();
    void mnuDeleteAllClick();

    // Marks every unmarked record of the current log for which the expression is true, shows the
    // count, and returns it.
    int DeleteMatching(const std::string& expression);
    void UpdateWindow();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    records::RecordSet& currentTable();
    records::TXbAccess& currentXb();
    TLogGrid* currentGrid() const;
    QString kind() const;
    std::string dateField() const;
    // Marks the current record (and removes a received fax's file); inRun: inside a group deletion.
    void deleteOne(bool inRun);
    void restoreFilters();
    void FormActivate();

    records::RecordSet& m_recTable;
    records::TXbAccess& m_recXb;
    records::RecordSet& m_faxTable;
    records::TXbAccess& m_faxXb;
    records::TXbEnv& m_xbEnv;
    std::string m_receiveDir;

    std::unique_ptr<LogTableModel> m_sendModel, m_recModel;
    QTabWidget* m_pages = nullptr;
    TLogGrid* m_sendGrid = nullptr;
    TLogGrid* m_recGrid = nullptr;
    QMenuBar* m_menuBar = nullptr;
    QMenu* m_actions = nullptr;
    QMenu* m_popup = nullptr;

    bool m_firstActivation = true;
    bool m_deletedSomething = false;
    bool m_filtersNoted = false;
    std::string m_recFilter, m_faxFilter;
};

}  // namespace telvane::maintenance
