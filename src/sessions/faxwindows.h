// The two windows every fax session shows: the fax status window TStandardFaxDisplay (the engine's
// status display: number, files, connection, page, elapsed-time clock, busy countdown, page meter,
// Cancel) and the error dialog TShowErrorForm (ShowErrorMessage, ShowErrorWithContinue, the
// 30-second self-closing timer when nobody is waited for, "Technical Help").
// Guarantees: at most one error dialog shows at a time (a second request is dropped and counts as
// "Ok"); the status window never blocks the engine (it only reads the component's state).
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>

#include "transport/fax/faxsession.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace telvane::sessions {

// Everything the status window shows, read from the fax component at one moment.
struct FaxStatusValues {
    int status = 0;
    QString statusText;
    QString phoneNumber, faxFile, coverFile;
    int dialAttempt = 0;
    int64_t retryWaitSeconds = 0;
    int totalPages = 0, currentPage = 0;
    long pageLength = 0, bytesTransferred = 0;
    QString remoteId;
    QString connectBps, resolution, width, errorControl;  // empty while unknown
    int64_t nowTicks = 0;
};

FaxStatusValues readFaxStatus(telvane::transport::TOvxAbstractFax& fax);

class TStandardFaxDisplay : public QDialog, public telvane::transport::TOvxAbstractFaxStatus {
    Q_OBJECT
public:
    explicit TStandardFaxDisplay(const QString& caption = QStringLiteral("Fax Status"), QWidget* parent = nullptr);

    // The engine's hook: First ties and shows, Last hides; every call but the last updates.
    void updateDisplay(telvane::transport::TOvxAbstractFax& fax, bool First, bool Last) override;
    void UpdateValues(telvane::transport::TOvxAbstractFax& fax);
    void UpdateValues(const FaxStatusValues& v);
    void CancelClick();

    QLabel *fsPhoneNumber, *fsFaxFileName, *fsCoverFileName, *fsTotalPages, *fsDialAttempt;
    QLabel *fsRemoteID, *fsConnectBPS, *fsResolution, *fsWidth, *fsErrorControl;
    QLabel *fsCurrentPage, *fsPageLength, *fsBytesTransferred, *fsElapsedTime, *fsStatusMsg;
    QProgressBar* meter;
    QPushButton* fsCancel;

    // Cancels the session shown (set when the window is tied to a component).
    std::function<void()> cancelSession;

private:
    bool clockRunning_ = false;
    int64_t clockStart_ = 0;
    int64_t frozenSeconds_ = 0;
    bool busyRunning_ = false;
    int64_t busyEnd_ = 0;
};

// The error dialog. Results: 1 Ok, -99 Continue, 4 Technical Help.
class TShowErrorForm : public QDialog {
    Q_OBJECT
public:
    explicit TShowErrorForm(QWidget* parent = nullptr);
    void BitBtn2Click();
    void Timer1Timer();
    // Height so that every line of Memo1 shows.
    void fitToText();

    QPlainTextEdit* Memo1;
    QLabel* infoLabel;
    QPushButton *BitBtn1, *ContinueButton, *BitBtn2;
    QTimer* Timer1;

protected:
    void done(int result) override;
};

// A request to show the error dialog, as an interceptor sees it.
struct ErrorDialogRequest {
    QString caption, text;
    bool withContinue = false;
    bool waitForUser = true;
};
// Replaces the dialog (automation and tests): the function returns the dialog's result
// (1, -99 or 4). nullptr restores the dialog.
void setErrorDialogInterceptor(std::function<int(const ErrorDialogRequest&)> interceptor);

void ShowErrorMessage(const QString& caption, const QString& text, bool waitForUser);
bool ShowErrorWithContinue(const QString& caption, const QString& text, bool waitForUser);
// Whether an error dialog is showing now.
bool errorDialogShowing();
// The fax problem solver (help context 10000).
void ShowProblemSolver();

}  // namespace telvane::sessions
