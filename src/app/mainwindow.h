// What the windows below the main window may use of it. The main window (src/shell) implements
// IMainWindow; the windows of compose, sessions, the viewer and maintenance see it only through this
// interface, so no library below the shell links the main window. The commands that open those
// windows are handed to the main window at construction as MainWindowCommands (the program entry
// fills them); the main window applies its own checks (receive-mode lock, empty log) first.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

#include "records/record_set.h"
#include "records/xb_access.h"

class QObject;
class QWidget;

namespace telvane::app {

class TLogGrid;

// A fax rendered for sending or viewing: its file (empty when nothing was made), its pages,
// whether it had neither cover nor document, and whether the renderer has told the user why no
// file was made (no contents, an attached document that cannot be read).
struct RenderedFax {
    QString path;
    int pages = 0;
    bool empty = false;
    bool told = false;
};

class IMainWindow {
public:
    static constexpr int kOutgoingPage = 0;
    static constexpr int kIncomingPage = 1;

    virtual ~IMainWindow() = default;

    // The window itself: the parent of dialogs opened for it.
    virtual QWidget* widget() = 0;

    virtual records::RecordSet& FaxTable() = 0;
    virtual records::RecordSet& RecTable() = 0;
    virtual records::RecordSet& CoverTable() = 0;
    virtual records::RecordSet& PhoneTable() = 0;
    virtual records::TXbAccess& FaxXb() = 0;
    virtual records::TXbAccess& RecXb() = 0;
    virtual records::TXbAccess& CoverXb() = 0;
    virtual records::TXbAccess& PhoneXb() = 0;
    virtual records::TXbEnv& xbEnv() = 0;
    virtual TLogGrid* FaxGrid() const = 0;
    virtual TLogGrid* RecFaxGrid() const = 0;

    // Receive mode: the main window updates its own Receive button and command rules.
    virtual bool receiveMode() const = 0;
    virtual void setReceiveMode(bool on) = 0;
    // Receive mode is answering calls: the Receive button reads "STOP" (and "&Receive" again after).
    virtual void showReceiveModeRunning(bool running) = 0;
    // Clicks the Receive button as the user would (nothing happens while it is disabled).
    virtual void clickReceiveButton() = 0;
    virtual bool faxArriving() const = 0;
    virtual void setFaxArriving(bool arriving) = 0;

    virtual int currentPage() const = 0;
    virtual void selectPage(int page) = 0;
    virtual void setStatus(const QString& text) = 0;
    // Receive mode's own status (waiting, answering, page n...): shown now, and shown again when
    // a command clears the status line while receive mode is on.
    virtual void setReceiveStatus(const QString& text) = 0;
    virtual void setHint(QObject* control, const QString& hint) = 0;
    virtual void SetButtons() = 0;
    // Disables the button bar while long work (rendering) runs.
    virtual void enableButtonBar(bool on) = 0;
    virtual void FaxTableCloseAndOpen() = 0;
    virtual void RecTableCloseAndOpen() = 0;
    virtual QString GetDatetimeAsString(bool outgoingLog) = 0;
    // Renders the current outgoing fax; returns the fax file's path (empty when nothing was made).
    virtual QString CreateFaxFile() = 0;
    // Pages of the fax CreateFaxFile made, and whether it found neither cover nor document.
    virtual int renderedPageCount() const = 0;
    virtual bool renderedFaxWasEmpty() const = 0;
    // The failure of the last CreateFaxFile was explained already: callers add no message of their own.
    virtual bool renderedFaxFailureTold() const = 0;
    // Plays Receive.Wav when it is set and the file exists; false when nothing was started.
    virtual bool playArrivalSound() = 0;
    // The main window's Preferences command (the send dialog offers it too); true when the
    // preferences were saved.
    virtual bool mnuPreferencesClick() = 0;
};

// The commands of the main window that open other subsystems' windows.
struct MainWindowCommands {
    // New and Clone once the lock and the empty-log check passed: run the fax editor and, on OK,
    // append the record (clone = prefill from the current outgoing record).
    std::function<void(IMainWindow&, bool clone)> newFax;
    // A new fax with these document files attached (printed jobs, files handed over): the fax
    // editor with empty recipient fields; true when the fax was appended to the outgoing log with
    // every one of the files, of which it then holds copies of its own (the files may be removed).
    std::function<bool(IMainWindow&, const QStringList& documentPaths)> newFaxWithDocuments;
    // Edit of the current outgoing fax (the log has a record).
    std::function<void(IMainWindow&)> editFax;
    // After outgoing faxes were deleted: removes the copies of documents no fax names any more.
    std::function<void(IMainWindow&)> removeUnnamedDocuments;
    // Send, from the rendering of the current outgoing fax on (receive mode, page and empty log are checked).
    std::function<void(IMainWindow&)> sendFax;
    // Receive mode on/off (the toggle; also called at start with Receive.AtStartup and at close).
    std::function<void(IMainWindow&)> toggleReceiveMode;
    // View (print = false) or print (print = true) the current fax of the page shown.
    std::function<void(IMainWindow&, bool print)> viewPrintFax;
    std::function<void(IMainWindow&)> coverSheets;
    std::function<void(IMainWindow&)> phoneBook;
    // The rebuild window; without it the two logs are rebuilt by the main window with the engine.
    std::function<void(IMainWindow&)> rebuildIndexes;
    // The clean-up window; returns true when it deleted anything (Rebuild Indexes follows).
    std::function<bool(IMainWindow&)> faxLogCleanup;
    // The preferences wizard; true when it saved the settings.
    std::function<bool(IMainWindow&)> preferences;
    std::function<void(IMainWindow&)> configurationInformation;
    // First start (no port stored): the quick set-up dialog.
    std::function<void(IMainWindow&)> quickSetup;
    // Renders the current outgoing fax.
    std::function<RenderedFax(IMainWindow&)> createFaxFile;
    // Made once the main window exists (receive mode and its hidden notice window).
    std::function<void(IMainWindow&)> createWindows;
};

}  // namespace telvane::app
