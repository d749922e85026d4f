#include "maintenance/rebuildind.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include "records/fax_tables.h"
#include "app/uihelpers.h"

namespace telvane::maintenance {

TRebuildInd::TRebuildInd(RebuildTables tables, QWidget* parent) : QDialog(parent), tables_(std::move(tables)) {
    setObjectName(QStringLiteral("TRebuildInd"));
    setWindowTitle(QStringLiteral("Rebuild Indexes"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* wait = new QLabel(QStringLiteral("Please wait..."), this);
    wait->setObjectName(QStringLiteral("WaitLabel"));
    QFont bold = wait->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    wait->setFont(bold);
    wait->setAlignment(Qt::AlignCenter);
    progress_ = new QLabel(this);
    progress_->setObjectName(QStringLiteral("ProgressLabel"));
    progress_->setAlignment(Qt::AlignCenter);
    progress_->setMinimumWidth(progress_->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 52);
    progress_->setVisible(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(wait);
    layout->addWidget(progress_);
    setMinimumHeight(110);
    adjustSize();  // its real size, for centring before it is shown
}

void TRebuildInd::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (started_) return;
    started_ = true;
    // The work starts once the window is on the screen.
    QTimer::singleShot(0, this, [this] { rebuild(); });
}

bool TRebuildInd::event(QEvent* event) {
    if (event->type() == app::windowMessageType(app::kCloseRequestMessage)) {
        accept();
        return true;
    }
    return QDialog::event(event);
}

void TRebuildInd::reject() {
    if (finished_) QDialog::reject();
}

void TRebuildInd::say(const std::string& text) {
    const QString line = QString::fromStdString(text);
    said_ << line;
    progress_->setVisible(true);
    progress_->setText(line);
    app::letMessagesRun();
}

void TRebuildInd::rebuild() {
    started_ = true;
    const auto sayFn = [this](const std::string& t) { say(t); };
    {
        app::HourGlass hourglass;
        RebuildTables& t = tables_;
        try {
            if (t.faxTable.active())
                records::rebuildTableIndexes(t.faxTable, t.faxXb, records::faxTableSpec(),
                                             "Removing FAX file records marked for deletion",
                                             "Rebuilding FAX file indexes", sayFn);
            if (t.recTable.active())
                records::rebuildTableIndexes(t.recTable, t.recXb, records::recTableSpec(),
                                             "Removing Received FAX records marked for deletion",
                                             "Rebuilding Received FAX indexes", sayFn);
            if (records::OpenPhoneDBF(t.dir, t.phoneTable, t.phoneXb)) {
                records::rebuildTableIndexes(t.phoneTable, t.phoneXb, records::phoneTableSpec(),
                                             "Removing PHONE file records marked for deletion",
                                             "Rebuilding PHONE file indexes", sayFn);
                t.phoneTable.close();
            }
            if (records::OpenCoverDBF(t.dir, t.coverTable, t.coverXb)) {
                records::rebuildTableIndexes(t.coverTable, t.coverXb, records::coverTableSpec(),
                                             "Removing COVER file records marked for deletion",
                                             "Rebuilding COVER file indexes", sayFn);
                t.coverTable.close();
            }
        } catch (const records::EXbError&) {
            // A table the engine gave up on keeps whatever state it has; the close request follows.
        }
    }
    finished_ = true;
    app::postWindowMessage(this, app::kCloseRequestMessage);
}

}  // namespace telvane::maintenance
