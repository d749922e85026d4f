// The send session: the main window's Send command from rendering on (SendFaxCommand) and the
// send dialog TSendFaxForm, which opens the port, checks the modem, sends the reset string,
// configures TOvxSendFax (dial wait from the init string, header line, prefix and suffix, "AT"
// prefixing) and starts it; the finish event becomes ResultText, a message and "Lastsend.log".
// Guarantees: while an attempt runs (SessionBusy) neither Send nor Close does anything but beep;
// the port is closed on every path out of an attempt; "Lastsend.log" describes the last attempt
// that ended; the rendered fax file is deleted when the dialog closes and the record is updated
// (PAGES, PHONE, LASTRESULT, and SENT/DATESENT/TIMESENT on success).
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
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace telvane::transport {
class TOvxQtEventSink;
}

namespace telvane {
class IMainWindow;
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
    // The steps of SendFaxButtonClick; each returns false when the session ends there.
    bool numberCanBeDialled();
    bool openPortForSending(const Settings& s);
    bool modemAnswers();
    bool sendResetString(Settings& s);
    void logSessionSettings(const Settings& s);
    void startSending(const Settings& s);
    void giveUp();
    void setStatus(const QString& text);
    int portNumber() const { return OvxComPort1.ComNumber(); }

    SessionLog log_;
    std::unique_ptr<telvane::transport::TOvxQtEventSink> sink_;
};

// The Send command after the main window's own checks: renders the current outgoing fax, runs
// the dialog and writes the outcome into the record.
void sendFaxCommand(IMainWindow& main);

// Stores the outcome of a send dialog in the current outgoing record (edit, set, post).
void storeSendOutcome(IMainWindow& main, int pages, const QString& result, const QString& number);

}  // namespace telvane::sessions
