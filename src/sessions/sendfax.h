// The send session: the main window's Send command from rendering on (SendFaxCommand) and the
// send dialog TSendFaxForm, which opens the port, checks the modem, sends the reset string,
// configures TOvxSendFax (dial wait from the init string, header line, prefix and suffix, "AT"
// prefixing) and starts it; the finish event becomes ResultText, a message and "Lastsend.log".
// With receive mode on, a send waits for a fax that is arriving, pauses receive mode for the
// attempt and resumes it when the attempt ends.
// Guarantees: while an attempt runs (SessionBusy) neither Send nor Close does anything but beep;
// the port is closed on every path out of an attempt; "Lastsend.log" describes the last attempt
// that ended. The record is written when an attempt starts (it says an attempt is under way, so
// a program killed mid-call leaves that behind) and again the moment it ends, before any message
// box (LASTRESULT, and SENT/DATESENT/TIMESENT on success); an attempt that fails after a success
// leaves the success, its date and its result in place. Every ended attempt is added to the send
// history "Sendhist.log". The rendered fax file is deleted when the dialog closes (a file left by
// a killed program is removed at the next start) and PAGES and PHONE are stored then.
#pragma once

#include <functional>

#include <QDialog>
#include <QString>

#include <memory>

#include "transport/comport.h"
#include "transport/fax/faxsession.h"
#include "sessions/sessionrules.h"
#include "settings/settings.h"

class QCheckBox;
class QFormLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace telvane::app {
class IMainWindow;
}  // namespace telvane::app

namespace telvane::transport {
class TOvxQtEventSink;
}

namespace telvane::sessions {

class TStandardFaxDisplay;

class TSendFaxForm : public QDialog {
    Q_OBJECT
public:
    explicit TSendFaxForm(QWidget* parent = nullptr);
    ~TSendFaxForm() override;

    void FormActivate();
    void SendFaxButtonClick();
    void OvxSendFax1FaxFinish(int ErrorCode);
    void CloseButtonClick();
    void HelpButtonClick();
    void ProblemSolverButtonClick();
    void PreferencesButtonClick();
    // The main window's Preferences command; true when the preferences were saved.
    std::function<bool()> OpenPreferences;
    // Called once the engine has started an attempt, and with ResultText when it has ended.
    std::function<void()> OnAttemptStarted;
    std::function<void(const QString& result)> OnAttemptEnded;
    // The other user of the modem, receive mode. While `busy` holds (a fax is arriving) a send is
    // queued and goes out after it; `pause` is called before the port is opened (true when it
    // paused something) and then `resume` once the attempt has ended, whatever its outcome.
    struct SharedLine {
        std::function<bool()> busy;
        std::function<bool()> pause;
        std::function<void()> resume;
    };
    SharedLine Line;
    bool waitingForLine() const { return waitingForLine_; }
    void AddtoLastSendLog(const QString& line) { log_.add(line); }
    void SaveLocalLog();
    void BuildHeader();
    void ShowSetup();

    QString FaxFileName, CoverFileName, InitialPhone, ResultText, HeaderText;
    bool SessionBusy = false;
    bool FirstActivation = true;
    const SessionLog& sessionLog() const { return log_; }

    QLabel *ToLabel, *Subjectlabel, *status;
    QLineEdit *sfPhoneNumber, *sfDialPrefix, *sfDialsuffix;
    QCheckBox *DisablePrefix, *DisableSuffix;
    QPushButton *SendFaxButton, *PreferencesButton, *Helpbutton, *ProblemSolverButton, *CloseButton;
    QPlainTextEdit* SetupDisplayMemo;

    telvane::transport::TOvxComPort OvxComPort1;
    telvane::transport::TOvxSendFax OvxSendFax1;
    TStandardFaxDisplay* OvxFaxStatus1;

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The steps of the constructor: the controls top to bottom, then the engine.
    QFormLayout* buildNumberForm();
    QGroupBox* buildConfigBox();
    QHBoxLayout* buildBottomButtons();
    void connectButtons();
    void setUpEngine();
    // The steps of SendFaxButtonClick; each returns false when the session ends there.
    bool numberCanBeDialled();
    bool openPortForSending(const settings::Settings& s);
    bool modemAnswers();
    bool sendResetString(settings::Settings& s);
    void logSessionSettings(const settings::Settings& s);
    void startSending(const settings::Settings& s);
    void giveUp();
    void sendNow();
    void waitForLine();
    void stopWaitingForLine();
    // Closes the port and hands the modem back to receive mode when it was paused for this send.
    void releasePort();
    void setStatus(const QString& text);
    int portNumber() const { return OvxComPort1.ComNumber(); }

    SessionLog log_;
    std::unique_ptr<telvane::transport::TOvxQtEventSink> sink_;
    QTimer* lineTimer_;
    bool waitingForLine_ = false;
    bool linePaused_ = false;
};

// Receive mode of `main` as the send dialog's other user of the modem.
TSendFaxForm::SharedLine receiveModeLine(app::IMainWindow& main);

// The Send command after the main window's own checks: renders the current outgoing fax, runs
// the dialog and writes the outcome into the record.
void sendFaxCommand(app::IMainWindow& main);

// Stores the outcome of a send attempt in the current outgoing record (edit, set, post): PAGES
// and PHONE, and the result unless it is empty or the record is already sent and this attempt
// failed. An empty result stores only PAGES and PHONE.
void storeSendOutcome(app::IMainWindow& main, int pages, const QString& result, const QString& number);
// Marks the current outgoing record as having an attempt under way (unless it is already sent).
void storeAttemptStarted(app::IMainWindow& main, const QString& number);
// The file every ended send attempt is added to, one line each.
inline constexpr const char* kSendHistoryName = "Sendhist.log";

}  // namespace telvane::sessions
