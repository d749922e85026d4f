// Print jobs handed over by the print queue: offered oldest first, one at a time, removed only when
// the fax was made or the job discarded, kept ones offered again at the next start; partial files
// never offered; jobs wait while the program is busy; a second Telvane of the user stays aside; a
// program on a data directory of its own leaves the user's spool alone.
#include <gtest/gtest.h>

#include "support/qtapp.h"
#include "support/tempdir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <functional>
#include <map>

#include "app/printjobs.h"

namespace {

using telvane::app::PrintJobQueue;
using telvane::test::TempDir;
using Outcome = PrintJobQueue::Outcome;
using telvane::test::waitUntil;

void settle() {
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Records the names offered and answers from `outcomes` (Keep when a name is not listed).
struct Recorder {
    std::map<QString, Outcome> outcomes;
    QStringList offered;
    PrintJobQueue::Handler handler() {
        return [this](const QString& path) {
            const QString name = path.mid(path.lastIndexOf('/') + 1);
            offered << name;
            const auto it = outcomes.find(name);
            return it == outcomes.end() ? Outcome::Keep : it->second;
        };
    }
};

TEST(PrintJobQueue, JobsAreOfferedInOrderAndLeaveOnlyWhenMadeIntoAFaxOrDiscarded) {
    TempDir tmp;
    const QString spool = QString::fromStdString(tmp / "spool");
    const std::string dir = spool.toStdString() + "/";
    {
        Recorder r;
        r.outcomes = {{"job-2.pdf", Outcome::Done}, {"job-11.ps", Outcome::Discard}};
        PrintJobQueue queue(spool, r.handler());
        ASSERT_TRUE(queue.watching());
        telvane::test::writeFile(dir + "job-10-letter.pdf", "%PDF-1.4 ten");
        telvane::test::writeFile(dir + "job-2.pdf", "%PDF-1.4 two");
        telvane::test::writeFile(dir + ".job-3.part", "%PDF-1.4 half");
        telvane::test::writeFile(dir + "notes.txt", "not a job");
        ASSERT_TRUE(waitUntil([&] { return r.offered.size() == 2; }, 20)) << r.offered.join(' ').toStdString();
        // A job the backend renames into place while the program runs is noticed.
        telvane::test::writeFile(dir + ".job-11.part", "%!PS eleven");
        ASSERT_EQ(std::rename((dir + ".job-11.part").c_str(), (dir + "job-11.ps").c_str()), 0);
        ASSERT_TRUE(waitUntil([&] { return r.offered.size() == 3; }, 20)) << r.offered.join(' ').toStdString();
        settle();
        EXPECT_EQ(r.offered, (QStringList{"job-2.pdf", "job-10-letter.pdf", "job-11.ps"}));
        EXPECT_EQ(queue.waitingJobs(), QStringList{"job-10-letter.pdf"});
        EXPECT_TRUE(QFile::exists(spool + "/.job-3.part"));
        EXPECT_TRUE(QFile::exists(spool + "/notes.txt"));
    }
    // The kept job is offered again at the next start.
    Recorder next;
    next.outcomes = {{"job-10-letter.pdf", Outcome::Done}};
    PrintJobQueue queue(spool, next.handler());
    ASSERT_TRUE(waitUntil([&] { return !next.offered.isEmpty(); }, 20));
    settle();
    EXPECT_EQ(next.offered, QStringList{"job-10-letter.pdf"});
    EXPECT_TRUE(queue.waitingJobs().isEmpty());
}

TEST(PrintJobQueue, BusyHoldsJobsBackAndASecondWatcherStaysAside) {
    TempDir tmp;
    const QString spool = QString::fromStdString(tmp / "spool");
    telvane::test::writeFile(tmp / "job-5.pdf", "%PDF-1.4");
    Recorder r, other;
    bool busy = true;
    PrintJobQueue queue(spool, r.handler());
    queue.busy = [&] { return busy; };
    PrintJobQueue second(spool, other.handler());
    EXPECT_TRUE(queue.watching());
    EXPECT_FALSE(second.watching());
    ASSERT_EQ(std::rename((tmp / "job-5.pdf").c_str(), (spool.toStdString() + "/job-5.pdf").c_str()), 0);
    settle();
    EXPECT_TRUE(r.offered.isEmpty());
    busy = false;
    ASSERT_TRUE(waitUntil([&] { return !r.offered.isEmpty(); }, 20));
    settle();
    EXPECT_EQ(r.offered, QStringList{"job-5.pdf"});
    EXPECT_TRUE(other.offered.isEmpty());
}

// A program on a data directory of its own (TELVANE_HOME: tests, demos) must not take the user's
// real jobs: it watches a spool only when one is named for it.
TEST(PrintJobQueue, OwnDataDirectoryMeansOnlyANamedSpoolIsWatched) {
    const QByteArray home = qgetenv("TELVANE_HOME"), spool = qgetenv("TELVANE_PRINT_SPOOL");
    qputenv("TELVANE_HOME", "/tmp/some-demo");
    qunsetenv("TELVANE_PRINT_SPOOL");
    EXPECT_EQ(PrintJobQueue::userSpoolDir(), QString());
    qputenv("TELVANE_PRINT_SPOOL", "/tmp/spool-root");
    EXPECT_TRUE(PrintJobQueue::userSpoolDir().startsWith("/tmp/spool-root/"))
        << PrintJobQueue::userSpoolDir().toStdString();
    qunsetenv("TELVANE_HOME");
    qunsetenv("TELVANE_PRINT_SPOOL");
    EXPECT_TRUE(PrintJobQueue::userSpoolDir().endsWith("/.local/share/telvane/printjobs"));
    if (!home.isNull()) qputenv("TELVANE_HOME", home);
    if (!spool.isNull()) qputenv("TELVANE_PRINT_SPOOL", spool);
}

}  // namespace
