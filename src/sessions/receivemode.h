// Receive mode: the main window's Receive toggle. Starting opens the port, checks the modem,
// sends the reset string and starts TOvxReceiveFax, which answers calls and writes each fax into
// "receive"; every fax received OK becomes a record of the incoming log (date, "hh:nn", station
// ID, pages, file name), then the arrival sound is asked for and, when set, the fax is printed.
// Stopping cancels the session, sends the after-session reset string and closes the port. The
// run is logged to "Lastrec.log". TStartingFaxForm is the notice window shown while it starts.
// The main window's receive mode, with its notice window, is made hidden at program start.
// A send pauses the mode (the session ends and the port closes, so no call is answered) and
// resumes it afterwards.
// Guarantees: the mode flag is set before the engine starts and cleared only after the session
// is cancelled; a failed reception deletes its partial file; engine events never wait on a modal
// box (messages are shown after the event has returned).
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include "transport/comport.h"
#include "transport/fax/faxsession.h"
#include "sessions/sessionrules.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;
class QWidget;

namespace telvane::app {
class IMainWindow;
}  // namespace telvane::app

namespace telvane::transport {
class TOvxQtEventSink;
}
namespace telvane::faximage {
class TOvxFaxPrinter;
class TStandardFaxPrinterStatusDisplay;
}
namespace telvane::sessions {

class TStartingFaxForm : public QDialog {
    Q_OBJECT
public:
    explicit TStartingFaxForm(QWidget* parent = nullptr);
    QWidget *ReadyPanel, *StartingPanel;
    QPushButton* OkButton;
    QCheckBox* DontShowCheck;
    QTimer* Timer1;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

class TReceiveMode : public QObject {
    Q_OBJECT
public:
    explicit TReceiveMode(app::IMainWindow& main);
    ~TReceiveMode() override;

    // The receive mode of a main window (made on first use, freed with the window).
    static TReceiveMode& of(app::IMainWindow& main);

    void ReceiveButtonClick();
    void OvxReceiveFax1FaxStatus(bool First, bool Last);
    void OvxReceiveFax1FaxLog(int logCode);
    void OvxReceiveFax1FaxError(int errorCode) { lastError_ = errorCode; }
    void engineFinished(int errorCode);
    void OvxReceiveFax1FaxAccept(bool& Accept);
    void UpdateValues();

signals:
    // Print-on-receipt is about to print `file` on `printerName` (empty: the current printer).
    void printRequested(const QString& file, const QString& printerName);
    // Receive mode was turned on (the modem is ready) or off.
    void receiveModeChanged(bool on);
    // A fax was stored and logged: the remote station's ID and the page count.
    void faxReceived(const QString& sender, int pages);

public:
    // Prints a received fax file on the printer chosen in the settings (the current printer when
    // that one is not installed); runs after the engine's event has returned.
    void PrintOnReceipt(const QString& file);
    // The installed printers and the system default, as print-on-receipt looks them up
    // (QPrinterInfo; replaceable so that the choice can be checked without real printers).
    struct PrinterCatalogue {
        QStringList installed;
        QString systemDefault;
    };
    std::function<PrinterCatalogue()> Printers;

    // One modem serves both directions. A send pauses the mode: the session waiting for calls is
    // ended and the port closed, so no call is answered until resumeAfterSending() opens the
    // port and waits for calls again (a failure there ends the mode with its usual message).
    // pauseForSending() is false when there was nothing to pause (mode off, or not listening).
    bool pauseForSending();
    void resumeAfterSending();
    bool paused() const { return paused_; }
    static constexpr const char* kPausedForSending = "Receive mode paused while sending...";

    void AddtoLastRecLog(const QString& line) { log_.add(line); }
    void SaveLocalRecLog();
    const SessionLog& receiveLog() const { return log_; }

    telvane::transport::TOvxComPort OvxComPort1;
    telvane::transport::TOvxReceiveFax OvxReceiveFax1;
    TStartingFaxForm* StartingFaxForm;
    faximage::TOvxFaxPrinter& ovxFaxPrinter1() { return *printer_; }
    int pageCount() const { return pageCount_; }
    const QString& lastReceivedFile() const { return lastFile_; }

private:
    void start();
    void stop();
    void abortStart();
    bool listen(bool announce);
    void endSession();
    // Adds the received fax to the incoming table; one cut short (its confirmed pages kept) is
    // also marked incomplete in the receive log and the status line.
    void storeReceivedFax(bool incomplete);
    void failedReception();
    // Tells the main window and listeners (the desktop presence) whether receive mode is answering.
    void setReceiveCaption(bool on);

    app::IMainWindow& main_;
    std::unique_ptr<telvane::transport::TOvxQtEventSink> sink_;
    std::unique_ptr<faximage::TOvxFaxPrinter> printer_;
    faximage::TStandardFaxPrinterStatusDisplay* printStatus_;
    SessionLog log_;
    int lastError_ = 0;
    int pageCount_ = 0;
    bool printProblemShown_ = false;
    bool paused_ = false;
    QString lastFile_;
};

}  // namespace telvane::sessions
