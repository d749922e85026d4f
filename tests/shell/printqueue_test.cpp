// The "Telvane" print queue end to end: a private cupsd (its own configuration, spool and socket
// under a scratch directory) runs the queue with our PPD and backend; a PDF printed with
// `lp -d Telvane` lands in the printing user's spool, private and complete, with its pages; the
// program's queue watcher turns it into a new fax with the document attached, and a job the user
// does not make into a fax stays until it is discarded. The first job is a PDF made by LibreOffice
// (as a desktop program prints), the second one made by Ghostscript.
#include <gtest/gtest.h>

#include "mainscreen_fixture.h"
#include "support/modal.h"
#include "support/peers.h"
#include "support/virtualline.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>

#include <csignal>
#include <fstream>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/printjobs.h"
#include "compose/commands/composehooks.h"
#include "compose/editor/tenteredit.h"
#include "compose/editor/tfaxeditor.h"

namespace telvane::shelltest {
namespace {

using telvane::test::Child;
using telvane::test::TempDir;
using telvane::test::waitUntil;
using telvane::test::whenModal;

// Runs a command to its end; its exit status, or -1 when it could not run.
int run(const QString& program, const QStringList& args, QString* output = nullptr) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(60000)) return -1;
    if (output) *output = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

int pdfPages(const std::string& path) {
    QString info;
    if (run(QStringLiteral("pdfinfo"), {QString::fromStdString(path)}, &info) != 0) return -1;
    for (const QString& line : info.split('\n'))
        if (line.startsWith("Pages:")) return line.mid(6).trimmed().toInt();
    return -1;
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// A cupsd of our own with the queue "Telvane" (our PPD, our backend run as root as installed).
class PrivateCups {
public:
    explicit PrivateCups(const TempDir& dir) : dir_(dir.pathNoSlash()) {
        for (const char* sub : {"/root", "/bin/backend", "/spool", "/cache", "/state", "/tmp", "/log", "/jobs"})
            QDir().mkpath(QString::fromStdString(dir_ + sub));
        ::chmod((dir_ + "/jobs").c_str(), 0755);
        ::symlink("/usr/lib/cups/daemon", (dir_ + "/bin/daemon").c_str());
        const std::string backend = dir_ + "/bin/backend/telvane";
        QFile::copy(QString::fromStdString(telvane::test::toolPath("telvane-cups-backend")),
                    QString::fromStdString(backend));
        ::chmod(backend.c_str(), 0700);
        std::ofstream(dir_ + "/root/cupsd.conf") << "Listen " << socket() << "\nLogLevel debug\nWebInterface No\n"
                                                 << "Browsing No\n<Location />\n  Order allow,deny\n  Allow all\n"
                                                 << "</Location>\n";
        std::ofstream(dir_ + "/root/cups-files.conf")
            << "ServerRoot " << dir_ << "/root\nServerBin " << dir_ << "/bin\nRequestRoot " << dir_ << "/spool\n"
            << "CacheDir " << dir_ << "/cache\nStateDir " << dir_ << "/state\nTempDir " << dir_ << "/tmp\n"
            << "ErrorLog " << dir_ << "/log/error_log\nAccessLog " << dir_ << "/log/access_log\n"
            << "PageLog " << dir_ << "/log/page_log\nFileDevice No\nSandboxing Relaxed\n"
            << "SetEnv TELVANE_PRINT_SPOOL " << spoolRoot() << "\n";
        cupsd_ = telvane::test::start(
            {"cupsd", "-f", "-c", dir_ + "/root/cupsd.conf", "-s", dir_ + "/root/cups-files.conf"}, dir_, "cupsd");
        qputenv("CUPS_SERVER", QByteArray::fromStdString(socket()));
    }
    ~PrivateCups() {
        telvane::test::signal(cupsd_, SIGTERM);
        telvane::test::wait(cupsd_, 20);
        qunsetenv("CUPS_SERVER");
    }
    std::string socket() const { return dir_ + "/cups.sock"; }
    std::string spoolRoot() const { return dir_ + "/jobs"; }
    std::string errorLog() const { return telvane::test::slurp(dir_ + "/log/error_log"); }
    bool ready() const { return telvane::test::waitForPath(socket(), 20); }

private:
    std::string dir_;
    Child cupsd_;
};

class PrintQueueTest : public MainScreenTest {};
using shell::TMainScreen;

TEST_F(PrintQueueTest, PrintedPdfBecomesANewFaxWithItsPagesAndAJobNotMadeIntoAFaxWaits) {
    TELVANE_REQUIRE_PEER(geteuid() == 0, "root (cupsd runs the queue's backend as root, as installed)");
    for (const char* program : {"cupsd", "lpadmin", "lp", "gs", "pdfinfo", "soffice"})
        TELVANE_REQUIRE_PEER(telvane::test::haveProgram(program), program);
    TempDir tmp("telvane-cups");
    PrivateCups cups(tmp);
    ASSERT_TRUE(cups.ready()) << cups.errorLog();
    ASSERT_EQ(run("lpadmin", {"-p", "Telvane", "-E", "-v", "telvane:/", "-P",
                              QStringLiteral(TELVANE_SOURCE_DIR "/tools/telvane-cups-backend/telvane.ppd")}),
              0)
        << cups.errorLog();
    const std::string pdf = tmp / "three.pdf";
    ASSERT_EQ(run("gs", {"-q", "-sDEVICE=pdfwrite", "-o", QString::fromStdString(pdf), "-c",
                         "/Helvetica findfont 24 scalefont setfont 72 700 moveto (One) show showpage "
                         "72 700 moveto (Two) show showpage 72 700 moveto (Three) show showpage"}),
              0);
    ASSERT_EQ(pdfPages(pdf), 3);
    // LibreOffice: a text document of two pages (a page break between them).
    {
        std::ofstream(tmp / "letter.rtf") << "{\\rtf1\\ansi Dear customer,\\par\\page Yours sincerely\\par}";
        QProcess office;
        office.setWorkingDirectory(QString::fromStdString(tmp.pathNoSlash()));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", QString::fromStdString(tmp.pathNoSlash()));
        office.setProcessEnvironment(env);
        office.start("soffice", {"--headless", "--convert-to", "pdf", "letter.rtf"});
        ASSERT_TRUE(office.waitForFinished(120000));
        ASSERT_EQ(office.exitCode(), 0) << office.readAllStandardError().toStdString();
    }
    const std::string letter = tmp / "letter.pdf";
    ASSERT_EQ(pdfPages(letter), 2);
    QString producer;
    ASSERT_EQ(run(QStringLiteral("pdfinfo"), {QString::fromStdString(letter)}, &producer), 0);
    EXPECT_TRUE(producer.contains("LibreOffice")) << producer.toStdString();

    QString output;
    ASSERT_EQ(run("lp", {"-d", "Telvane", QString::fromStdString(letter)}, &output), 0) << output.toStdString();
    const std::string user = getpwuid(geteuid())->pw_name;
    const std::string spool = cups.spoolRoot() + "/" + user;
    ASSERT_TRUE(telvane::test::waitForPath(spool + "/job-1-letter.pdf", 30)) << cups.errorLog();
    EXPECT_EQ(modeOf(spool), 0700u);
    EXPECT_EQ(modeOf(spool + "/job-1-letter.pdf"), 0600u);
    EXPECT_EQ(pdfPages(spool + "/job-1-letter.pdf"), 2);

    // The program of that user makes it a new fax with the document attached.
    writePortSetting();
    rebuildLogs(dir);
    qputenv("TELVANE_PRINT_SPOOL", QByteArray::fromStdString(cups.spoolRoot()));
    // The fax editor converts documents with telvane-faxconv, found beside the program or on PATH.
    qputenv("PATH", QByteArray::fromStdString(telvane::test::toolPath("")) + ":" + qgetenv("PATH"));
    composecommands::addComposeCommands(commands);
    TMainScreen& w = start();
    const auto offer = [&](const QString& job) { return app::offerPrintJobAsNewFax(w, commands, job); };
    int attachedPages = -1;
    std::string attachedTitle;
    whenModal<editor::TFaxEditor>([&](editor::TFaxEditor* e) {
        EXPECT_TRUE(waitUntil([e] { return !e->addingDocuments(); }, 120));
        if (e->documents().size() == 1) {
            attachedPages = e->documents()[0].pages;
            attachedTitle = e->documents()[0].title;
        }
        EXPECT_TRUE(e->FaxNumber->text().isEmpty());
        e->FaxNumber->setText("5550100");
        e->OKButton->click();
    });
    auto queue = std::make_unique<app::PrintJobQueue>(app::PrintJobQueue::userSpoolDir(), offer);
    ASSERT_TRUE(waitUntil([&] { return w.FaxTable().visibleCount() == 1; }, 120));
    ASSERT_TRUE(waitUntil([&] { return !QFile::exists(QString::fromStdString(spool + "/job-1-letter.pdf")); }, 20));
    EXPECT_EQ(attachedPages, 2);
    EXPECT_EQ(attachedTitle, "letter.pdf");  // the title the job was printed under

    // A job whose fax the user cancels stays when they keep it, is offered again at the next
    // start, and goes when they discard it.
    const auto cancel = [](editor::TFaxEditor* e) { e->CancelButton->click(); };
    prompter().answers = {false};
    whenModal<editor::TFaxEditor>(std::function<void(editor::TFaxEditor*)>(cancel));
    ASSERT_EQ(run("lp", {"-d", "Telvane", QString::fromStdString(pdf)}, &output), 0) << output.toStdString();
    ASSERT_TRUE(waitUntil([&] { return prompter().records.size() == 1; }, 120)) << cups.errorLog();
    EXPECT_TRUE(prompter().records[0].text.contains("Discard")) << prompter().records[0].text.toStdString();
    EXPECT_EQ(queue->waitingJobs(), QStringList{"job-2-three.pdf"}) << prompter().texts().join('|').toStdString();
    queue.reset();
    prompter().answers = {true};
    whenModal<editor::TFaxEditor>(std::function<void(editor::TFaxEditor*)>(cancel));
    queue = std::make_unique<app::PrintJobQueue>(app::PrintJobQueue::userSpoolDir(), offer);
    ASSERT_TRUE(queue->watching());
    ASSERT_TRUE(waitUntil([&] { return prompter().records.size() == 2; }, 120));
    EXPECT_TRUE(waitUntil([&] { return queue->waitingJobs().isEmpty(); }, 20));
    EXPECT_EQ(w.FaxTable().visibleCount(), 1u);
    queue.reset();
    qunsetenv("TELVANE_PRINT_SPOOL");
}

}  // namespace
}  // namespace telvane::shelltest
