// Print jobs handed over by the print queue (see printjobs.h).
#include "app/printjobs.h"

#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QTimer>

#include <algorithm>
#include <cstdlib>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include "app/mainwindow.h"
#include "app/uihelpers.h"
#include "settings/printspool.h"

namespace telvane::app {

namespace {
// How often jobs held back by `busy` are looked at again.
constexpr int kRetryMs = 2000;

// The job number of "job-<digits>[-<title>].<ext>".
qulonglong jobNumber(const QString& name) {
    qsizetype end = 4;
    while (end < name.size() && name.at(end).isDigit()) ++end;
    return name.mid(4, end - 4).toULongLong();
}
}  // namespace

QString PrintJobQueue::userSpoolDir() {
    // A program run on a data directory of its own (tests, demos) leaves the user's real jobs alone.
    const char* spoolRoot = std::getenv("TELVANE_PRINT_SPOOL");
    if (std::getenv("TELVANE_HOME") && !(spoolRoot && *spoolRoot)) return {};
    const passwd* pw = getpwuid(getuid());
    const std::string user = pw ? pw->pw_name : "";
    return QString::fromStdString(settings::printSpoolDir(user, QDir::homePath().toStdString(), spoolRoot));
}

PrintJobQueue::PrintJobQueue(const QString& spoolDir, Handler handler, QObject* parent)
    : QObject(parent), dir_(spoolDir), handler_(std::move(handler)) {
    if (dir_.isEmpty() || !settings::makePrivateDir(dir_.toStdString(), getuid()).empty()) return;
    const int fd = ::open(QFile::encodeName(dir_ + QStringLiteral("/.watcher.lock")).constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return;
    }
    lockFd_ = fd;
    watcher_ = new QFileSystemWatcher(QStringList{dir_}, this);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { offerNext(); });
    retry_ = new QTimer(this);
    retry_->setSingleShot(true);
    retry_->setInterval(kRetryMs);
    connect(retry_, &QTimer::timeout, this, [this] { offerNext(); });
    QTimer::singleShot(0, this, [this] { offerNext(); });
}

PrintJobQueue::~PrintJobQueue() {
    if (lockFd_ >= 0) ::close(lockFd_);
}

QStringList PrintJobQueue::waitingJobs() const {
    QStringList jobs;
    for (const QString& name : QDir(dir_).entryList(QDir::Files | QDir::NoDotAndDotDot))
        if (settings::isPrintJobName(name.toStdString())) jobs << name;
    std::sort(jobs.begin(), jobs.end(), [](const QString& a, const QString& b) { return jobNumber(a) < jobNumber(b); });
    return jobs;
}

void PrintJobQueue::offerNext() {
    if (offering_ || lockFd_ < 0) return;
    if (busy && busy()) {
        retry_->start();
        return;
    }
    offering_ = true;
    for (const QString& name : waitingJobs()) {
        if (kept_.contains(name)) continue;
        const QString path = dir_ + QLatin1Char('/') + name;
        const Outcome outcome = handler_(path);
        if (outcome == Outcome::Keep)
            kept_.insert(name);
        else
            QFile::remove(path);
        // The handler ran an event loop: look again, from the start, for what arrived meanwhile.
        QTimer::singleShot(0, this, [this] { offerNext(); });
        break;
    }
    offering_ = false;
}

PrintJobQueue::Outcome offerPrintJobAsNewFax(IMainWindow& main, const MainWindowCommands& commands,
                                             const QString& jobPath) {
    // The new fax goes into the outgoing log: show it, and set the log's commands for what is
    // there afterwards, saved or not.
    main.selectPage(IMainWindow::kOutgoingPage);
    const bool made = commands.newFaxWithDocuments && commands.newFaxWithDocuments(main, {jobPath});
    main.SetButtons();
    if (made) return PrintJobQueue::Outcome::Done;
    return AskYesNoDefaultNo(QStringLiteral("The printed document was not made into a fax.\rDiscard it?\r\r"
                                            "No keeps it: it is offered again when Telvane next starts."),
                             QStringLiteral("Printed Document"))
               ? PrintJobQueue::Outcome::Discard
               : PrintJobQueue::Outcome::Keep;
}

}  // namespace telvane::app
