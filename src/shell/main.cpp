// Program start: the single-instance guard, the application title, the main window with the
// commands of the windows below it. Command-line arguments have no effect on the program's work,
// except --version and --help, which print and exit before anything else starts (no display
// needed), and --config-report, which prints the configuration report instead of starting.
#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QMetaObject>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>

#include "app/printjobs.h"
#include "app/appstate.h"
#include "settings/inifile.h"
#include "settings/installpaths.h"
#include "settings/programdir.h"
#include "settings/settings.h"
#include "app/singleinstance.h"
#include "app/uihelpers.h"
#include "compose/commands/composehooks.h"
#include "compose/render/faxjoin.h"
#include "viewprint/faxviewerwindow.h"
#include "maintenance/configinfo.h"
#include "maintenance/configreport.h"
#include "maintenance/linuxprobe.h"
#include "maintenance/maintenancehooks.h"
#include "records/table.h"
#include "sessions/sessionhooks.h"
#include "shell/mainscreen.h"

namespace {

constexpr const char* kUsage =
    "Usage: telvane [--version | --help | --config-report]\n"
    "Desktop fax: compose, send and receive faxes through a fax modem.\n"
    "\n"
    "  --version        print the version and exit\n"
    "  --help           print this help and exit\n"
    "  --config-report  print the configuration report (Help > Configuration Information) to\n"
    "                   standard output and exit, without opening a window\n"
    "\n"
    "Other arguments are ignored. One instance runs per data directory; starting a second\n"
    "raises the first one's window.\n"
    "\n"
    "Environment:\n"
    "  TELVANE_HOME            data directory (settings TVN.INI, tables, logs, receive/)\n"
    "  TELVANE_START_MINIMIZED=1  start with the window minimised\n"
    "Without TELVANE_HOME the data directory is $XDG_DATA_HOME/telvane/ (~/.local/share/telvane/),\n"
    "or the program's own directory for a portable copy in a writable directory.\n"
    "See telvane(1) for the [Ports] device mapping and the dialout group.\n";

// Sets the data directory of this run and checks that its settings file can be read; says on
// stderr why a start is refused, or that the directory was made private.
bool openDataDirectory(const std::string& executablePath) {
    std::string report;
    const std::string dir = telvane::settings::resolveProgramDir(executablePath, &report);
    if (!report.empty()) std::fprintf(stderr, "telvane: %s\n", report.c_str());
    if (dir.empty()) return false;
    telvane::settings::setProgramDir(dir);
    const std::string refusal = telvane::settings::IniFile::load(telvane::settings::settingsPath(dir)).refusal();
    if (!refusal.empty()) std::fprintf(stderr, "telvane: %s\n", refusal.c_str());
    return refusal.empty();
}

// Prints the report of this machine; needs no window and leaves a running instance alone.
int printConfigReport(int argc, char** argv) {
    // The screen lines need a display; without one they stay empty.
    const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
    std::unique_ptr<QCoreApplication> app;
    if (display)
        app = std::make_unique<QGuiApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Telvane"));
    if (!openDataDirectory(QCoreApplication::applicationFilePath().toStdString())) return 1;
    telvane::app::appSettings().loadFrom(telvane::settings::ProgramDir());
    const QStringList lines = telvane::maintenance::collectConfigurationReport(telvane::maintenance::LinuxProbe());
    for (const QString& line : lines) std::printf("%s\n", line.toLocal8Bit().constData());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// Handles the options that print and exit; returns the exit status, or -1 to start the program.
int handleInformationOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Telvane %s\n", telvane::settings::kProgramVersion);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--config-report") == 0) return printConfigReport(argc, argv);
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    // Faxes, tables, logs and settings are private: new files 0600, new directories 0700.
    ::umask(077);
    if (const int status = handleInformationOptions(argc, argv); status >= 0) return status;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Telvane"));
    QApplication::setApplicationVersion(QString::fromLatin1(telvane::settings::kProgramVersion));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.telvane.Telvane"));
    QApplication::setWindowIcon(QIcon::fromTheme(
        QStringLiteral("telvane"),
        QIcon(QString::fromStdString(telvane::settings::sharedDataDir()) + QStringLiteral("telvane.png"))));
    // No display name: on X11 Qt would append it to every window caption ("REINDEX — Telvane").

    const QString exe = QCoreApplication::applicationFilePath();
    if (!openDataDirectory(exe.toStdString())) return 1;
    // With a file-size limit a write that passes it fails (EFBIG) instead of killing the program; the
    // table engine then keeps what it could not write in memory and says so once.
    std::signal(SIGXFSZ, SIG_IGN);
    telvane::records::Table::setWarningHandler([](const std::string& warning) {
        const QString text = QString::fromStdString(warning);
        QMetaObject::invokeMethod(
            qApp, [text] { telvane::app::ShowInformation(text); }, Qt::QueuedConnection);
    });

    telvane::app::SingleInstanceGuard guard(QFileInfo(exe).fileName(),
                                            QString::fromStdString(telvane::settings::ProgramDir()));
    if (guard.previousInstanceFound()) return 0;
    // This is the only instance on the data directory: a rendered fax still there was left by a
    // program that was killed while it viewed or sent it.
    telvane::render::removeRenderLeftovers(telvane::settings::ProgramDir());

    telvane::app::MainWindowCommands commands;
    telvane::composecommands::addComposeCommands(commands);
    telvane::viewprint::addViewerCommands(commands);
    telvane::sessions::addSessionCommands(commands);
    telvane::maintenance::addMaintenanceCommands(commands);
    telvane::shell::TMainScreen mainScreen(commands);
    telvane::app::setMainWindow(&mainScreen);
    commands.createWindows(mainScreen);  // receive mode and its notice window, hidden
    guard.setWindow(&mainScreen);
    // Jobs printed to the "Telvane" queue become new faxes, once the window is up and idle.
    telvane::app::PrintJobQueue printJobs(telvane::app::PrintJobQueue::userSpoolDir(), [&](const QString& job) {
        return telvane::app::offerPrintJobAsNewFax(mainScreen, commands, job);
    });
    printJobs.busy = [&mainScreen] {
        return mainScreen.firstActivationPending() || mainScreen.faxArriving() || QApplication::activeModalWidget();
    };
    mainScreen.show();
    return QApplication::exec();
}
