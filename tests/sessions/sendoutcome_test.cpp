// What the outgoing record and the send history keep of each send attempt, from the main window's
// Send command with the engine's finish events played into the send dialog: the outcome is
// stored when the attempt ends (the dialog still open), an attempt under way is visible in the
// record (what a killed program leaves), a later failure never unsends a sent fax, and every
// attempt is a line of its own in "Sendhist.log".
#include <QDate>
#include <QFile>
#include <QAbstractItemModel>
#include <QPushButton>

#include <memory>

#include "app/loggrid.h"
#include "records/fax_tables.h"
#include "sessions/sendfax.h"
#include "sessions/sessionhooks.h"
#include "sessions_fixture.h"
#include "shell/mainscreen.h"
#include "support/scriptedprompter.h"

namespace telvane::sessiontest {
namespace {

using namespace telvane::sessions;
using shell::TMainScreen;

class SendOutcomeTest : public SessionsTest {
protected:
    void SetUp() override {
        SessionsTest::SetUp();
        commands_ = app::MainWindowCommands{};
        sessions::addSessionCommands(commands_);
        commands_.createFaxFile = [this](app::IMainWindow&) {
            app::RenderedFax fax;
            fax.path = qdir() + "TVN_1.OVF";
            fax.pages = pages_;
            if (!writeFax(fax.path, 2)) fax.path.clear();
            return fax;
        };
        main_ = std::make_unique<TMainScreen>(commands_);
        app::setMainWindow(main_.get());
        records::RecordSet& table = main_->FaxTable();
        table.append();
        table.fieldByName("SUBJECT").setString("Quarterly figures");
        table.fieldByName("RECIPIENT").setString("Far End");
        table.fieldByName("PHONE").setString("555 0100");
        table.post();
    }
    void TearDown() override {
        main_.reset();
        app::setMainWindow(nullptr);
        SessionsTest::TearDown();
    }

    records::Row record() { return main_->FaxTable().currentRow(); }
    // Runs the Send command; `inDialog` plays the attempts into the open dialog.
    void send(const std::function<void(TSendFaxForm*)>& inDialog) {
        whenModal<TSendFaxForm>([inDialog](TSendFaxForm* f) {
            inDialog(f);
            f->CloseButton->click();
        });
        main_->SendButtonClick();
    }
    // The engine has started an attempt and ends it with `code`.
    static void attempt(TSendFaxForm* f, int code) {
        f->SessionBusy = true;
        f->OnAttemptStarted();
        f->OvxSendFax1FaxFinish(code);
    }

    app::MainWindowCommands commands_;
    std::unique_ptr<TMainScreen> main_;
    int pages_ = 2;  // what the rendering reports
};

TEST_F(SendOutcomeTest, ASuccessIsStoredAtOnceAndALaterFailureDoesNotUnsendIt) {
    const std::string today = QDate::currentDate().toString("yyyyMMdd").toStdString();
    send([&](TSendFaxForm* f) {
        f->SessionBusy = true;
        f->OnAttemptStarted();
        // Under way: the record says so (a program killed now leaves this behind).
        EXPECT_EQ(record().text("LASTRESULT").rfind("Attempt started ", 0), 0u) << record().text("LASTRESULT");
        EXPECT_FALSE(record().boolean("SENT"));
        f->OvxSendFax1FaxFinish(0);
        // Stored when the session ended, with the dialog still open.
        EXPECT_TRUE(record().boolean("SENT"));
        EXPECT_EQ(record().text("LASTRESULT"), "Sent");
        EXPECT_EQ(record().date("DATESENT").dtos(), today);
        const std::string time = record().text("TIMESENT");

        attempt(f, telvane::errors::ecCancelRequested);
        attempt(f, -6006);
        EXPECT_TRUE(record().boolean("SENT"));
        EXPECT_EQ(record().text("LASTRESULT"), "Sent");
        EXPECT_EQ(record().date("DATESENT").dtos(), today);
        EXPECT_EQ(record().text("TIMESENT"), time);
    });
    EXPECT_TRUE(record().boolean("SENT"));
    EXPECT_EQ(record().text("LASTRESULT"), "Sent");
    EXPECT_EQ(record().integer("PAGES"), 2);
    EXPECT_FALSE(QFile::exists(qdir() + "TVN_1.OVF"));

    const QStringList history = readLines(qdir() + kSendHistoryName);
    ASSERT_EQ(history.size(), 3) << history.join('|').toStdString();
    EXPECT_TRUE(
        history[0].endsWith("  To: Far End  Subject: Quarterly figures  Fax#: 555 0100  Pages: 2  Result: Sent"))
        << history[0].toStdString();
    EXPECT_TRUE(history[1].endsWith("Result: Cancelled")) << history[1].toStdString();
    EXPECT_TRUE(history[2].endsWith("Result: Fatal time out")) << history[2].toStdString();
}

TEST_F(SendOutcomeTest, AFailureIsStoredWhenTheAttemptEndsAndASuccessAfterItMarksTheFaxSent) {
    send([&](TSendFaxForm* f) {
        attempt(f, -6006);
        EXPECT_FALSE(record().boolean("SENT"));
        EXPECT_EQ(record().text("LASTRESULT"), "Fatal time out");
        EXPECT_TRUE(record().date("DATESENT").isEmpty());
        attempt(f, 0);
        EXPECT_TRUE(record().boolean("SENT"));
        EXPECT_EQ(record().text("LASTRESULT"), "Sent");
    });
    EXPECT_EQ(readLines(qdir() + kSendHistoryName).size(), 2);
}

// After "Fax sent successfully" the dialog closes by itself (no live "Send Fax Now" left to send
// the fax twice), and the outgoing log's grid already shows the fax as sent.
TEST_F(SendOutcomeTest, ASuccessClosesTheDialogAndTheGridShowsTheFaxSent) {
    bool openAfterSuccess = true;
    QString gridSent, gridResult;
    send([&](TSendFaxForm* f) {
        attempt(f, 0);
        openAfterSuccess = f->isVisible();
        const QAbstractItemModel* grid = main_->FaxGrid()->model();
        gridSent = grid->data(grid->index(0, 0), Qt::DisplayRole).toString();
        gridResult = grid->data(grid->index(0, 7), Qt::DisplayRole).toString();
    });
    EXPECT_FALSE(openAfterSuccess);
    EXPECT_EQ(gridSent, "Yes");
    EXPECT_EQ(gridResult, "Sent");
    EXPECT_TRUE(record().boolean("SENT"));
}

// A fax longer than the log's two-digit page count: its success is stored all the same (before,
// the record could not be written and the fax stayed unsent in the log).
TEST_F(SendOutcomeTest, ASendOfMoreThan99PagesIsStoredAsSent) {
    pages_ = 120;
    send([&](TSendFaxForm* f) { attempt(f, 0); });
    EXPECT_TRUE(record().boolean("SENT"));
    EXPECT_EQ(record().text("LASTRESULT"), "Sent");
    EXPECT_EQ(record().integer("PAGES"), 99);
}

}  // namespace
}  // namespace telvane::sessiontest
