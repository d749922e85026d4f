// Fax status window and error dialog (see faxwindows.h).
#include "sessions/faxwindows.h"

#include <QFontMetrics>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "transport/comport.h"
#include "sessions/sessionrules.h"
#include "app/helpwindow.h"
#include "app/uihelpers.h"
#include "transport/ticks.h"

namespace telvane::sessions {

FaxStatusValues readFaxStatus(telvane::transport::TOvxAbstractFax& fax) {
    FaxStatusValues v;
    v.status = fax.faxProgress();
    v.statusText = QString::fromStdString(fax.statusText());
    if (auto* send = dynamic_cast<telvane::transport::TOvxCustomSendFax*>(&fax)) {
        v.phoneNumber = QString::fromStdString(send->PhoneNumber);
        v.coverFile = QString::fromStdString(send->CoverFile);
        v.dialAttempt = send->DialAttempt();
        v.retryWaitSeconds = send->DialRetryWait();
    }
    v.faxFile = QString::fromStdString(fax.FaxFile());
    v.totalPages = fax.totalPages();
    v.currentPage = fax.currentPage();
    v.pageLength = fax.pageLength();
    v.bytesTransferred = fax.bytesTransferred();
    v.remoteId = QString::fromStdString(fax.remoteID());
    // The connection fields stay blank until a rate has been negotiated.
    if (fax.connectBPS() > 0) {
        v.connectBps = QString::number(fax.connectBPS());
        v.resolution = fax.highResolution() ? QStringLiteral("high") : QStringLiteral("standard");
        v.width = QString::number(fax.pageWidth());
        // MH pages: error control on or off; 2-D coded ones name their coding too ("MMR, ECM").
        if (fax.coding() == telvane::faximage::FaxCoding::MH)
            v.errorControl = fax.errorControl() ? QStringLiteral("on") : QStringLiteral("off");
        else
            v.errorControl = QString::fromStdString(fax.codingText());
    }
    v.nowTicks = telvane::transport::systemClock().nowTicks();
    return v;
}

namespace {
QFrame* panel(QVBoxLayout* outer) {
    auto* frame = new QFrame;
    frame->setFrameShape(QFrame::StyledPanel);
    outer->addWidget(frame);
    return frame;
}
QLabel* field(QFormLayout* form, const QString& label, const char* name) {
    auto* value = new QLabel;
    value->setObjectName(QString::fromLatin1(name));
    value->setTextFormat(Qt::PlainText);  // values such as the remote station's ID are never markup
    value->setMinimumWidth(160);
    form->addRow(label, value);
    return value;
}
}  // namespace

TStandardFaxDisplay::TStandardFaxDisplay(const QString& caption, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TStandardFaxDisplay"));
    setWindowTitle(caption);
    auto* outer = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* frame1 = new QFrame;
    frame1->setFrameShape(QFrame::StyledPanel);
    auto* f1 = new QFormLayout(frame1);
    fsPhoneNumber = field(f1, QStringLiteral("Phone number:"), "fsPhoneNumber");
    fsFaxFileName = field(f1, QStringLiteral("Fax file name:"), "fsFaxFileName");
    fsCoverFileName = field(f1, QStringLiteral("Cover file name:"), "fsCoverFileName");
    fsTotalPages = field(f1, QStringLiteral("Total pages:"), "fsTotalPages");
    fsDialAttempt = field(f1, QStringLiteral("Dial attempt:"), "fsDialAttempt");
    auto* frame2 = new QFrame;
    frame2->setFrameShape(QFrame::StyledPanel);
    auto* f2 = new QFormLayout(frame2);
    fsRemoteID = field(f2, QStringLiteral("Remote ID:"), "fsRemoteID");
    fsConnectBPS = field(f2, QStringLiteral("Connect BPS:"), "fsConnectBPS");
    fsResolution = field(f2, QStringLiteral("Resolution:"), "fsResolution");
    fsWidth = field(f2, QStringLiteral("Width:"), "fsWidth");
    fsErrorControl = field(f2, QStringLiteral("Error control:"), "fsErrorControl");
    top->addWidget(frame1);
    top->addWidget(frame2);
    outer->addLayout(top);
    auto* middle = new QHBoxLayout;
    auto* frame3 = new QFrame;
    frame3->setFrameShape(QFrame::StyledPanel);
    auto* f3 = new QFormLayout(frame3);
    fsCurrentPage = field(f3, QStringLiteral("Current page:"), "fsCurrentPage");
    fsPageLength = field(f3, QStringLiteral("Page length:"), "fsPageLength");
    auto* frame4 = new QFrame;
    frame4->setFrameShape(QFrame::StyledPanel);
    auto* f4 = new QFormLayout(frame4);
    fsBytesTransferred = field(f4, QStringLiteral("Bytes transferred:"), "fsBytesTransferred");
    fsElapsedTime = field(f4, QStringLiteral("Elapsed time:"), "fsElapsedTime");
    middle->addWidget(frame3);
    middle->addWidget(frame4);
    outer->addLayout(middle);
    auto* f5 = new QFormLayout(panel(outer));
    fsStatusMsg = field(f5, QStringLiteral("Status:"), "fsStatusMsg");
    auto* frame6 = panel(outer);
    auto* row6 = new QHBoxLayout(frame6);
    row6->addWidget(new QLabel(QStringLiteral("Page progress:")));
    meter = new QProgressBar;
    meter->setRange(0, 100);
    meter->setValue(0);
    meter->setGeometry(99, 7, 406, 20);
    row6->addWidget(meter, 1);
    fsCancel = new QPushButton(QStringLiteral("Cancel"));
    fsCancel->setObjectName(QStringLiteral("fsCancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(fsCancel);
    buttons->addStretch();
    outer->addLayout(buttons);
    connect(fsCancel, &QPushButton::clicked, this, [this] { CancelClick(); });
    fsElapsedTime->setText(QStringLiteral("00:00"));
}

void TStandardFaxDisplay::updateDisplay(telvane::transport::TOvxAbstractFax& fax, bool First, bool Last) {
    if (Last) {
        hide();
        cancelSession = nullptr;
        clockRunning_ = busyRunning_ = false;
        return;
    }
    if (First) {
        cancelSession = [&fax] { fax.CancelSession(); };
        clockRunning_ = busyRunning_ = false;
        frozenSeconds_ = 0;
        show();
        raise();
    }
    UpdateValues(fax);
}

void TStandardFaxDisplay::UpdateValues(telvane::transport::TOvxAbstractFax& fax) { UpdateValues(readFaxStatus(fax)); }

void TStandardFaxDisplay::UpdateValues(const FaxStatusValues& v) {
    using namespace telvane::transport;
    if ((v.status == fpSessionParams || v.status == fpGotRemoteID) && !clockRunning_) {
        clockRunning_ = true;
        clockStart_ = v.nowTicks;
    }
    if (v.status == fpCancel || v.status == fpFinished || v.status == fpGotHangup) {
        // The clock stops where it was, so the window keeps saying how long the call took.
        if (clockRunning_) frozenSeconds_ = secondsFromTicks(v.nowTicks - clockStart_);
        clockRunning_ = false;
    }
    if (v.status == fpBusyWait) {
        if (!busyRunning_) {
            busyRunning_ = true;
            busyEnd_ = v.nowTicks + secondsToTicks(v.retryWaitSeconds);
        }
    } else {
        busyRunning_ = false;
    }

    fsPhoneNumber->setText(v.phoneNumber);
    fsFaxFileName->setText(shortFileName(v.faxFile));
    fsCoverFileName->setText(shortFileName(v.coverFile));
    // The engine counts the attempts made before this one.
    fsDialAttempt->setText(QString::number(v.dialAttempt + 1));
    fsTotalPages->setText(QString::number(v.totalPages));
    fsRemoteID->setText(v.remoteId);
    fsConnectBPS->setText(v.connectBps);
    fsResolution->setText(v.resolution);
    fsWidth->setText(v.width);
    fsErrorControl->setText(v.errorControl);
    fsCurrentPage->setText(currentPageText(v.currentPage, v.totalPages, !v.coverFile.isEmpty()));
    fsPageLength->setText(QString::number(v.pageLength));
    fsBytesTransferred->setText(QString::number(v.bytesTransferred));
    fsElapsedTime->setText(clockText(clockRunning_ ? secondsFromTicks(v.nowTicks - clockStart_) : frozenSeconds_));
    QString status = sendStatusText(v.status, v.statusText, v.currentPage, v.totalPages);
    if (v.status == fpBusyWait && busyRunning_)
        status += clockText(secondsFromTicks(std::max<int64_t>(0, busyEnd_ - v.nowTicks)));
    fsStatusMsg->setText(status);
    // The meter never goes back within a page (a cancel after the page's data keeps what was
    // shown); a new page, or a page the far end refused and that goes out again, starts afresh.
    if (v.currentPage != meterPage_ || v.status == fpPageError) meterFloor_ = 0;
    meterPage_ = v.currentPage;
    meterFloor_ = std::max(meterFloor_, sendMeterPercent(v.status, v.bytesTransferred, v.pageLength));
    meter->setValue(meterFloor_);
}

void TStandardFaxDisplay::CancelClick() {
    if (cancelSession) cancelSession();
}

void TStandardFaxDisplay::reject() {
    if (!cancelSession) {
        QDialog::reject();
        return;
    }
    // No is the default: a stray Enter must not end a call that is going well.
    const bool cancel = app::AskYesNoDefaultNo(
        QStringLiteral("The fax is still being sent.\r\n\r\nCancel sending this fax?"), QStringLiteral("Fax Status"));
    // The session may have ended while the question was up; then there is nothing left to cancel.
    if (cancel) CancelClick();
}

// ---------------------------------------------------------------------------------------------

namespace {
bool gErrorShowing = false;
std::function<int(const ErrorDialogRequest&)>& interceptor() {
    static std::function<int(const ErrorDialogRequest&)> f;
    return f;
}
}  // namespace

TShowErrorForm::TShowErrorForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TShowErrorForm"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* layout = new QVBoxLayout(this);
    Memo1 = new QPlainTextEdit;
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setFont(QFont(QStringLiteral("Arial"), 9));
    Memo1->setStyleSheet(QStringLiteral("background: transparent;"));
    // A fixed text width, so that the lines counted for the dialog's height are the lines shown.
    Memo1->setFixedWidth(420);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(Memo1, 1);
    infoLabel =
        new QLabel(QStringLiteral("For more information and possible solutions, click the Technical Help button"));
    infoLabel->setWordWrap(true);
    layout->addWidget(infoLabel);
    auto* row = new QHBoxLayout;
    BitBtn1 = new QPushButton(QStringLiteral("&Ok"));
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    ContinueButton = new QPushButton(QStringLiteral("&Continue"));
    ContinueButton->setObjectName(QStringLiteral("ContinueButton"));
    ContinueButton->setVisible(false);
    BitBtn2 = new QPushButton(QStringLiteral("&Technical Help"));
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setToolTip(QStringLiteral("Open Technical Help to read about solutions to this error"));
    row->addWidget(BitBtn1);
    row->addWidget(ContinueButton);
    row->addWidget(BitBtn2);
    layout->addLayout(row);
    BitBtn1->setDefault(true);
    Timer1 = new QTimer(this);
    Timer1->setInterval(30000);
    Timer1->setSingleShot(true);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { done(1); });
    connect(ContinueButton, &QPushButton::clicked, this, [this] { done(-99); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

void TShowErrorForm::BitBtn2Click() {
    // With "Continue" offered the dialog stays up while the user reads the help.
    if (!ContinueButton->isHidden()) {
        ShowProblemSolver();
        return;
    }
    done(4);
}

void TShowErrorForm::Timer1Timer() {
    Timer1->stop();
    done(1);
}

namespace {
// Lines the memo shows for its text: every paragraph wrapped at the memo's text width.
int wrappedLineCount(QPlainTextEdit* memo) {
    const qreal width = memo->width() - 2 * memo->frameWidth() - 2 * memo->document()->documentMargin();
    int lines = 0;
    for (QTextBlock block = memo->document()->begin(); block.isValid(); block = block.next()) {
        QTextLayout layout(block.text(), memo->font());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        int n = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            ++n;
        }
        layout.endLayout();
        lines += std::max(n, 1);
    }
    return lines;
}
}  // namespace

// A long line wraps in the memo, so the lines counted are the ones shown, not the text's.
void TShowErrorForm::fitToText() {
    adjustSize();
    const int lines = wrappedLineCount(Memo1);
    const int lineHeight = QFontMetrics(Memo1->font()).height();
    const int chrome = height() - Memo1->height();
    Memo1->setMinimumHeight((lines + 3) * lineHeight);
    resize(width(), (lines + 3) * lineHeight + chrome);
}

void TShowErrorForm::done(int result) {
    Timer1->stop();
    QDialog::done(result);
}

namespace {
int showErrorCore(const QString& caption, const QString& text, bool withContinue, bool waitForUser) {
    if (gErrorShowing) return 1;
    gErrorShowing = true;
    int result = 1;
    if (interceptor()) {
        result = interceptor()({caption, text, withContinue, waitForUser});
    } else {
        TShowErrorForm form(app::mainWindow());
        form.setWindowTitle(caption);
        QString shown = text;
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
        form.Memo1->setPlainText(shown);
        form.ContinueButton->setVisible(withContinue);
        if (!waitForUser) form.Timer1->start();
        form.fitToText();
        app::centerDialog(&form);
        result = form.exec();
    }
    if (result == 4) ShowProblemSolver();
    gErrorShowing = false;
    return result;
}
}  // namespace

void setErrorDialogInterceptor(std::function<int(const ErrorDialogRequest&)> f) { interceptor() = std::move(f); }

void ShowErrorMessage(const QString& caption, const QString& text, bool waitForUser) {
    showErrorCore(caption, text, false, waitForUser);
}

bool ShowErrorWithContinue(const QString& caption, const QString& text, bool waitForUser) {
    return showErrorCore(caption, text, true, waitForUser) == -99;
}

bool errorDialogShowing() { return gErrorShowing; }

void ShowProblemSolver() { app::showHelp(10000); }

}  // namespace telvane::sessions
