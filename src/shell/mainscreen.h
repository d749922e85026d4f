// The main window: the button bar, the two logs (outgoing and incoming) in paging grids, the tab
// strip, the status line and both menus; start-up (logs opened or created, settings loaded, the
// receive directory, placement, the reindex question), the enable rules of every command, deleting
// and annotating records, the receive-mode lock, help, About, and the orderly end (placement and
// settings saved, logs closed).
//
// Commands that open the windows of other subsystems (the fax editor, cover sheets, phone book,
// send, receive mode, view/print, clean-up, rebuild window, preferences, configuration report,
// quick set-up, rendering) apply this window's checks and then call a hook of mainScreenHooks();
// the program entry installs the hooks before the window is created. A command whose hook is not
// installed tells the user it is not available.
#pragma once

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

#include "records/record_set.h"
#include "records/xb_access.h"

class QAction;
class QLabel;
class QMenu;
class QSoundEffect;
class QStackedWidget;
class QTabBar;
class QToolButton;

namespace telvane {

class LogTableModel;
class TLogGrid;
class TMainScreen;

struct MainScreenHooks {
    // New and Clone once the lock and the empty-log check passed: run the fax editor and, on OK,
    // append the record (clone = prefill from the current outgoing record).
    std::function<void(TMainScreen&, bool clone)> newFax;
    // Edit of the current outgoing fax (the log has a record).
    std::function<void(TMainScreen&)> editFax;
    // Send, from the rendering of the current outgoing fax on (receive mode, page and empty log are checked).
    std::function<void(TMainScreen&)> sendFax;
    // Receive mode on/off (the toggle; also called at start with Receive.AtStartup and at close).
    std::function<void(TMainScreen&)> toggleReceiveMode;
    // View (print = false) or print (print = true) the current fax of the page shown.
    std::function<void(TMainScreen&, bool print)> viewPrintFax;
    std::function<void(TMainScreen&)> coverSheets;
    std::function<void(TMainScreen&)> phoneBook;
    // The rebuild window; without it the two logs are rebuilt here with the engine.
    std::function<void(TMainScreen&)> rebuildIndexes;
    // The clean-up window; returns true when it deleted anything (Rebuild Indexes follows).
    std::function<bool(TMainScreen&)> faxLogCleanup;
    std::function<void(TMainScreen&)> preferences;
    std::function<void(TMainScreen&)> configurationInformation;
    // First start (no port stored): the quick set-up dialog.
    std::function<void(TMainScreen&)> quickSetup;
    // Renders the current outgoing fax; returns the fax file's path (empty when nothing was made)
    // and stores the page count with setRenderedPageCount.
    std::function<QString(TMainScreen&)> createFaxFile;
};

// The program-wide hooks, read by the main window each time a command runs.
MainScreenHooks& mainScreenHooks();

class TMainScreen : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kOutgoingPage = 0;
    static constexpr int kIncomingPage = 1;

    explicit TMainScreen(QWidget* parent = nullptr);
    ~TMainScreen() override;

    // Tables and their access objects.
    records::RecordSet& FaxTable() { return m_faxTable; }
    records::RecordSet& RecTable() { return m_recTable; }
    records::RecordSet& CoverTable() { return m_coverTable; }
    records::RecordSet& PhoneTable() { return m_phoneTable; }
    records::TXbAccess& FaxXb() { return m_faxXb; }
    records::TXbAccess& RecXb() { return m_recXb; }
    records::TXbAccess& CoverXb() { return m_coverXb; }
    records::TXbAccess& PhoneXb() { return m_phoneXb; }
    records::TXbEnv& XbEnv() { return m_xbEnv; }

    // Controls other windows use.
    TLogGrid* FaxGrid() const { return m_faxGrid; }
    TLogGrid* RecFaxGrid() const { return m_recFaxGrid; }
    QTabBar* TabSet1() const { return m_tabSet; }
    QWidget* ButtonBar() const { return m_buttonBar; }
    QToolButton* Button(const char* objectName) const;
    QAction* MenuAction(const char* objectName) const;
    QToolButton* ReceiveButton() const { return m_receiveButton; }

    // State.
    bool receiveMode() const { return m_receiveMode; }
    void setReceiveMode(bool on);
    bool faxArriving() const { return m_faxArriving; }
    void setFaxArriving(bool arriving) { m_faxArriving = arriving; }
    bool firstActivationPending() const { return m_firstActivationPending; }
    bool cloneRequested() const { return m_cloneRequested; }
    int currentPage() const;
    int renderedPageCount() const { return m_renderedPageCount; }
    void setRenderedPageCount(int pages) { m_renderedPageCount = pages; }

    // The status line.
    void SetStatus(const QString& text);
    QString statusText() const;
    // Sets a control's hint; shown while hints are on.
    void SetHint(QObject* control, const QString& hint);
    bool hintsShown() const { return m_hintsOn; }

    // Operations.
    void SetButtons();
    void SelectPage(int page);  // the tab change
    void FaxTableCloseAndOpen();
    void RecTableCloseAndOpen();
    QString GetDatetimeAsString(bool outgoingLog);
    QString CreateFaxFile();
    // Plays Receive.Wav when it is set and the file exists; false when nothing was started.
    bool PlayArrivalSound();

    // Commands.
    void NewbuttonClick();
    void mnuCloneClick();
    void EditButtonClick();
    void DeleteButtonClick();
    void SendButtonClick();
    void ReceiveButtonClick();
    void mnuViewPrintClick(bool print = false);
    void ViewFaxButtonClick() { mnuViewPrintClick(false); }
    void PrintbuttonClick() { mnuViewPrintClick(true); }
    void mnuCoverClick();
    void mnuPhoneBookClick();
    void mnuRebuildIndexesClick();
    void FaxlogCleanup1Click();
    void mnuPreferencesClick();
    void ConfigurationInformation1Click();
    void VisitOurInternetWebsite1Click();
    void mnuShowHintClick();
    void About1Click();
    void HelpClick(int context);

    // The fixed refusal of the receive-mode lock.
    static const QString& receiveModeRefusal();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void FormCreate();
    void FormActivate();
    bool FormCloseQuery();
    void FormClose();

    void buildMenus();
    void buildButtonBar();
    QWidget* buildLogPage(const QString& title, const QColor& color, TLogGrid* grid);
    QAction* addMenuEntry(QMenu* menu, const char* name, const QString& caption, std::function<void()> handler,
                          const QKeySequence& shortcut = {});
    QToolButton* addButton(const char* name, const QString& caption, const QString& iconName, int drawnIcon,
                           const QString& hint, std::function<void()> handler);
    void applyHints();
    void createModels();
    // True (after showing the refusal) while receive mode is on.
    bool refusedInReceiveMode();
    // Shows that a command of another subsystem is not installed; false when it is.
    bool missingHook(bool installed, const QString& command);
    void editReceiveNote();
    void deleteIncoming();
    void deleteOutgoing();
    void rebuildLogsWithEngine();
    static bool hasCurrentRecord(const records::RecordSet& table);
    void syncOrder(records::RecordSet& table, const char* tag);

    // Record sets first: they outlive the models that listen to them.
    records::TXbEnv m_xbEnv;
    records::RecordSet m_faxTable, m_recTable, m_coverTable, m_phoneTable;
    records::TXbAccess m_faxXb, m_recXb, m_coverXb, m_phoneXb;
    std::unique_ptr<LogTableModel> m_faxModel, m_recModel;

    QWidget* m_buttonBar = nullptr;
    QToolButton* m_receiveButton = nullptr;
    QStackedWidget* m_notebook = nullptr;
    TLogGrid* m_faxGrid = nullptr;
    TLogGrid* m_recFaxGrid = nullptr;
    QTabBar* m_tabSet = nullptr;
    QLabel* m_status = nullptr;
    QAction* m_mnuShowHint = nullptr;
    std::vector<std::pair<QPointer<QObject>, QString>> m_hints;
    QSoundEffect* m_sound = nullptr;

    bool m_firstActivationPending = true;
    // The logs this start created (they get their full tag set without a question).
    bool m_faxLogCreated = false;
    bool m_recLogCreated = false;
    bool m_receiveMode = false;
    bool m_faxArriving = false;
    bool m_cloneRequested = false;
    bool m_hintsOn = true;
    bool m_closeRequested = false;
    bool m_closed = false;
    bool m_activationQueued = false;
    int m_renderedPageCount = 0;
};

}  // namespace telvane
