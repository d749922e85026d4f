// The print queue's hand-over on Telvane's side: watches this user's print spool
// (settings/printspool.h) and offers each complete job, oldest first and one at a time, to a
// handler (the main window's new fax with the document attached). A job is removed only when the
// handler says the fax was made or the user discarded it; one the user keeps is offered again at
// the next start. Jobs are not offered while `busy` holds (a modal window is up, a fax arrives):
// they wait and are offered when it no longer does. Only one Telvane of the user watches the
// spool (a lock in it), so a job is never offered twice at once.
#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

class QFileSystemWatcher;
class QTimer;

namespace telvane::app {

class IMainWindow;
struct MainWindowCommands;

class PrintJobQueue : public QObject {
    Q_OBJECT
public:
    enum class Outcome { Done, Discard, Keep };
    using Handler = std::function<Outcome(const QString& jobPath)>;

    // spoolDir: the user's spool, made private when missing. Jobs are offered from the event loop.
    PrintJobQueue(const QString& spoolDir, Handler handler, QObject* parent = nullptr);
    ~PrintJobQueue() override;

    // This user's spool directory (TELVANE_PRINT_SPOOL or ~/.local/share/telvane/printjobs); empty,
    // so nothing is watched, when TELVANE_HOME is set without TELVANE_PRINT_SPOOL.
    static QString userSpoolDir();

    std::function<bool()> busy;
    // False when another Telvane of this user watches the spool (or it cannot be made private).
    bool watching() const { return lockFd_ >= 0; }
    // Complete jobs in the spool, oldest (lowest job number) first.
    QStringList waitingJobs() const;

private:
    void offerNext();

    QString dir_;
    Handler handler_;
    QFileSystemWatcher* watcher_ = nullptr;
    QTimer* retry_ = nullptr;
    QSet<QString> kept_;
    bool offering_ = false;
    int lockFd_ = -1;
};

// The main window's hand-over: a new fax with the job attached (recipient fields empty). When the
// user cancels the fax, asks whether to discard the printed document; No keeps it.
PrintJobQueue::Outcome offerPrintJobAsNewFax(IMainWindow& main, const MainWindowCommands& commands,
                                             const QString& jobPath);

}  // namespace telvane::app
