// The main window: the button bar, the two logs (outgoing and incoming) in paging grids, the tab
// strip, the status line and both menus; start-up (logs opened or created, settings loaded, the
// receive directory, placement, the reindex question), the enable rules of every command, deleting
// and annotating records, the receive-mode lock, help, About, and the orderly end (placement and
// settings saved, logs closed).
//
// Commands that open the windows of other subsystems (the fax editor, cover sheets, phone book,
// send, receive mode, view/print, clean-up, rebuild window, preferences, configuration report,
// quick set-up, rendering) apply this window's checks and then call the command handed over at
// construction (MainWindowCommands). The other windows see this one only as an IMainWindow.
#pragma once

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

#include "app/mainwindow.h"
#include "records/record_set.h"
#include "records/xb_access.h"

class QAction;
class QLabel;
class QMenu;
class QSoundEffect;
class QStackedWidget;
class QTabBar;
class QToolButton;

namespace telvane::app {
class LogTableModel;
class TLogGrid;
}  // namespace telvane::app

namespace telvane::shell {

class TMainScreen : public QMainWindow, public app::IMainWindow {
    Q_OBJECT
public:
    explicit TMainScreen(app::MainWindowCommands commands = {}, QWidget* parent = nullptr);
    ~TMainScreen() override;

    // IMainWindow: tables and their access objects.
    QWidget* widget() override { return this; }
    records::RecordSet& FaxTable() override { return faxTable_; }
    records::RecordSet& RecTable() override { return recTable_; }
    records::RecordSet& CoverTable() override { return coverTable_; }
    records::RecordSet& PhoneTable() override { return phoneTable_; }
    records::TXbAccess& FaxXb() override { return faxXb_; }
    records::TXbAccess& RecXb() override { return recXb_; }
    records::TXbAccess& CoverXb() override { return coverXb_; }
    records::TXbAccess& PhoneXb() override { return phoneXb_; }
    records::TXbEnv& xbEnv() override { return xbEnv_; }
    app::TLogGrid* FaxGrid() const override { return faxGrid_; }
    app::TLogGrid* RecFaxGrid() const override { return recFaxGrid_; }

    // Controls (tests and this window).
    QTabBar* TabSet1() const { return tabSet_; }
    QWidget* buttonBar() const { return buttonBar_; }
    QToolButton* button(const char* objectName) const;
    QAction* menuAction(const char* objectName) const;
    QToolButton* ReceiveButton() const { return receiveButton_; }

    // State.
    bool receiveMode() const override { return receiveMode_; }
    void setReceiveMode(bool on) override;
    void showReceiveModeRunning(bool running) override;
    void clickReceiveButton() override;
    bool faxArriving() const override { return faxArriving_; }
    void setFaxArriving(bool arriving) override { faxArriving_ = arriving; }
    bool firstActivationPending() const { return firstActivationPending_; }
    bool cloneRequested() const { return cloneRequested_; }
    int currentPage() const override;
    int renderedPageCount() const override { return rendered_.pages; }
    bool renderedFaxWasEmpty() const override { return rendered_.empty; }
    bool renderedFaxFailureTold() const override { return rendered_.empty || rendered_.told; }

    // The status line.
    void setStatus(const QString& text) override;
    void setReceiveStatus(const QString& text) override;
    QString statusText() const;
    // Sets a control's hint; shown while hints are on.
    void setHint(QObject* control, const QString& hint) override;
    bool hintsShown() const { return hintsOn_; }

    // Operations.
    void SetButtons() override;
    void selectPage(int page) override;  // the tab change
    void enableButtonBar(bool on) override;
    void FaxTableCloseAndOpen() override;
    void RecTableCloseAndOpen() override;
    QString GetDatetimeAsString(bool outgoingLog) override;
    QString CreateFaxFile() override;
    bool playArrivalSound() override;

    // Commands.
    void NewbuttonClick();
    void mnuCloneClick();
    void EditButtonClick();
    void DeleteButtonClick();
    void SendButtonClick();
    void ReceiveButtonClick();
    void mnuViewPrintClick(bool print = false);
    void viewFaxButtonClick() { mnuViewPrintClick(false); }
    void printbuttonClick() { mnuViewPrintClick(true); }
    void mnuCoverClick();
    void mnuPhoneBookClick();
    void mnuRebuildIndexesClick();
    void FaxlogCleanup1Click();
    bool mnuPreferencesClick() override;
    void configurationInformation1Click();
    void mnuShowHintClick();
    void About1Click();
    void helpClick(int context);

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
    QWidget* buildLogPage(const QString& title, const QColor& color, app::TLogGrid* grid);
    QAction* addMenuEntry(QMenu* menu, const char* name, const QString& caption, std::function<void()> handler,
                          const QKeySequence& shortcut = {});
    QToolButton* addButton(const char* name, const QString& caption, const QString& iconName, int drawnIcon,
                           const QString& hint, std::function<void()> handler);
    void applyHints();
    void createModels();
    // True (after showing the refusal) while receive mode is on.
    bool refusedInReceiveMode();
    // Beeps for a command whose window is not part of this program (a main window made for a test);
    // false when the command is there.
    static bool missingCommand(bool present);
    void editReceiveNote();
    void deleteIncoming();
    void deleteOutgoing();
    void rebuildLogsWithEngine();
    static bool hasCurrentRecord(const records::RecordSet& table);
    void syncOrder(records::RecordSet& table, const char* tag);

    app::MainWindowCommands commands_;
    // Record sets first: they outlive the models that listen to them.
    records::TXbEnv xbEnv_;
    records::RecordSet faxTable_, recTable_, coverTable_, phoneTable_;
    records::TXbAccess faxXb_, recXb_, coverXb_, phoneXb_;
    std::unique_ptr<app::LogTableModel> faxModel_, recModel_;

    QWidget* buttonBar_ = nullptr;
    QToolButton* receiveButton_ = nullptr;
    QStackedWidget* notebook_ = nullptr;
    app::TLogGrid* faxGrid_ = nullptr;
    app::TLogGrid* recFaxGrid_ = nullptr;
    QTabBar* tabSet_ = nullptr;
    QLabel* status_ = nullptr;
    QAction* mnuShowHint_ = nullptr;
    std::vector<std::pair<QPointer<QObject>, QString>> hints_;
    QSoundEffect* sound_ = nullptr;

    bool firstActivationPending_ = true;
    // The logs this start created (they get their full tag set without a question).
    bool faxLogCreated_ = false;
    bool recLogCreated_ = false;
    bool receiveMode_ = false;
    QString receiveStatus_;  // receive mode's last status text
    bool faxArriving_ = false;
    bool cloneRequested_ = false;
    bool hintsOn_ = true;
    bool closeRequested_ = false;
    bool closed_ = false;
    bool activationQueued_ = false;
    app::RenderedFax rendered_;
};

}  // namespace telvane::shell
