// A program killed during a send leaves the outgoing record saying what was known up to then.
// The send (an attempt that times out, one that succeeds, one cancelled, the dialog closed) runs again
// and again in a child process that ends itself (_exit) just before its N-th change to a table
// file, for N = 1, 2, ... until the send completes. After each stop the log is opened as the
// program opens it: the fax's record is there once and shows one of the states the send passes
// through, never an earlier one than the stop before it showed, and a fax once marked sent keeps
// its date.
#include <QDate>
#include <QPushButton>

#include <filesystem>
#include <memory>
#include <set>
#include <unistd.h>

#include "records/fax_tables.h"
#include "records/file_io.h"
#include "records/test_util.h"
#include "sessions/sendfax.h"
#include "sessions/sessionhooks.h"
#include "sessions_fixture.h"
#include "shell/mainscreen.h"

namespace telvane::sessiontest {
namespace {

using namespace telvane::sessions;
using shell::TMainScreen;
namespace fs = std::filesystem;

int gStopAt = 0;
int gChanges = 0;
int gReport = -1;

void stopBeforeChange(const records::io::ChangeInfo& c) {
    if (++gChanges != gStopAt) return;
    const std::string what = records::io::baseName(c.path) + "\n";
    if (::write(gReport, what.data(), what.size()) < 0) _exit(4);
    _exit(42);
}

// The states the record passes through, in order; a stop may show any of them but never one
// before what an earlier stop showed.
enum State { Untouched, FirstAttempt, TimedOut, SecondAttempt, Sent, Unknown };

const char* stateName(State s) {
    static const char* const names[] = {
        "untouched", "first attempt under way", "timed out", "second attempt under way", "sent", "unknown"};
    return names[s];
}

class SendCrashTest : public SessionsTest {
protected:
    app::MainWindowCommands commands() {
        app::MainWindowCommands c;
        sessions::addSessionCommands(c);
        c.createFaxFile = [](app::IMainWindow&) {
            app::RenderedFax fax;
            fax.path = QString::fromStdString(settings::ProgramDir()) + "TVN_1.OVF";
            fax.pages = 2;
            if (!writeFax(fax.path, 2)) fax.path.clear();
            return fax;
        };
        return c;
    }

    // The log with one unsent fax, written by the program itself.
    void makeBase() {
        TMainScreen main(commands());
        app::setMainWindow(&main);
        records::RecordSet& table = main.FaxTable();
        table.append();
        table.fieldByName("SUBJECT").setString("Quarterly figures");
        table.fieldByName("RECIPIENT").setString("Far End");
        table.fieldByName("PHONE").setString("555 0100");
        table.post();
        app::setMainWindow(nullptr);
    }

    // The whole send, in the program directory: it times out, goes through, and a third attempt is
    // cancelled.
    void sendTwice() {
        const app::MainWindowCommands c = commands();
        TMainScreen main(c);
        app::setMainWindow(&main);
        whenModal<TSendFaxForm>([](TSendFaxForm* f) {
            for (const int code : {-6006, 0, int(telvane::errors::ecCancelRequested)}) {
                f->SessionBusy = true;
                f->OnAttemptStarted();
                f->OvxSendFax1FaxFinish(code);
            }
            f->CloseButton->click();
        });
        main.SendButtonClick();
        app::setMainWindow(nullptr);
    }

    // The state of the one record in dir, as the program opens the log; why it is not one of
    // the expected states goes to `problem`.
    static State stateIn(const std::string& dir, std::string& problem) {
        records::RecordSet table;
        records::TXbAccess xb(table);
        if (!records::OpenFaxDBF(dir, table, xb)) {
            problem = "the log does not open";
            return Unknown;
        }
        int count = 0;
        std::string subject, recipient, result, dateSent;
        bool sent = false;
        for (table.first(); !table.eof(); table.next()) {
            ++count;
            const records::Row row = table.currentRow();
            subject = row.text("SUBJECT");
            recipient = row.text("RECIPIENT");
            result = row.text("LASTRESULT");
            sent = row.boolean("SENT");
            dateSent = row.date("DATESENT").isEmpty() ? "" : row.date("DATESENT").dtos();
        }
        table.close();
        if (count != 1) {
            problem = std::to_string(count) + " records";
            return Unknown;
        }
        if (subject != "Quarterly figures" || recipient != "Far End") {
            problem = "the record's own fields changed";
            return Unknown;
        }
        if (sent) {
            if (result != "Sent" || dateSent != QDate::currentDate().toString("yyyyMMdd").toStdString()) {
                problem = "sent without its result or date: " + result;
                return Unknown;
            }
            return Sent;
        }
        if (!dateSent.empty()) problem = "a send date on an unsent fax";
        if (result.empty()) return Untouched;
        if (result.rfind("Attempt started ", 0) == 0) return FirstAttempt;  // or the second
        if (result == "Fatal time out") return TimedOut;
        problem = "unexpected result: " + result;
        return Unknown;
    }
};

TEST_F(SendCrashTest, AKillBeforeAnyTableChangeLeavesTheRecordInAStateTheSendPassedThrough) {
    makeBase();
    const std::string base = dir() + "base/", work = dir() + "work/";
    fs::create_directories(base);
    for (const auto& e : fs::directory_iterator(dir()))
        if (e.is_regular_file()) fs::copy_file(e.path(), base + e.path().filename().string());

    State last = Untouched;
    bool completed = false;
    std::set<State> seen;
    for (int n = 1; n < 400 && !completed; ++n) {
        fs::remove_all(work);
        fs::copy(base, work);
        settings::setProgramDir(work);
        const records::test::Child child = records::test::forkChild([&](int fd) {
            gStopAt = n;
            gReport = fd;
            records::io::setChangeObserver(stopBeforeChange);
            sendTwice();
            records::io::setChangeObserver(nullptr);
            _exit(0);
        });
        int status = 0;
        const std::string stoppedBefore = records::test::finishChild(child, &status);
        ASSERT_TRUE(WIFEXITED(status)) << "the send ended abnormally before change " << n;
        const int code = WEXITSTATUS(status);
        ASSERT_TRUE(code == 0 || code == 42) << "exit " << code << " at change " << n;
        completed = code == 0;

        std::string problem;
        State now = stateIn(work, problem);
        ASSERT_NE(now, Unknown) << "stopped before change " << n << " (" << stoppedBefore << "): " << problem;
        EXPECT_TRUE(problem.empty()) << "stopped before change " << n << ": " << problem;
        // "Attempt started" stands for both attempts: after the time-out it is the second one.
        if (now == FirstAttempt && last >= TimedOut) now = SecondAttempt;
        EXPECT_GE(now, last) << "stopped before change " << n << " (" << stoppedBefore << "): " << stateName(now)
                             << " after " << stateName(last);
        last = now;
        seen.insert(now);
    }
    settings::setProgramDir(dir());
    EXPECT_TRUE(completed) << "the send never completed";
    EXPECT_EQ(last, Sent);
    // A stop fell between every two stored steps, so each state was seen on the way.
    EXPECT_EQ(seen.size(), size_t(Unknown)) << seen.size() << " states seen";
}

}  // namespace
}  // namespace telvane::sessiontest
