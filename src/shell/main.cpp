// Program start: the single-instance guard, the application title, the main window.
// Command-line arguments have no effect, except --version and --help, which print and exit before
// anything else starts (no display needed).
#include <QApplication>
#include <QFileInfo>
#include <QIcon>

#include <cstdio>
#include <cstring>

#include "compose/commands/composehooks.h"
#include "compose/viewer/faxviewerwindow.h"
#include "sessions/sessionhooks.h"
#include "shell/mainscreen.h"
#include "shell/installpaths.h"
#include "shell/programdir.h"
#include "shell/settings.h"
#include "shell/singleinstance.h"
#include "shell/uihelpers.h"

namespace {

constexpr const char* kUsage =
    "Usage: telvane [--version | --help]\n"
    "Desktop fax: compose, send and receive faxes through a fax modem.\n"
    "\n"
    "  --version  print the version and exit\n"
    "  --help     print this help and exit\n"
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

// Handles --version and --help; returns the exit status, or -1 to start the program.
int handleInformationOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Telvane %s\n", telvane::kProgramVersion);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = handleInformationOptions(argc, argv); status >= 0) return status;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Telvane"));
    QApplication::setApplicationVersion(QString::fromLatin1(telvane::kProgramVersion));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.telvane.Telvane"));
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("telvane"),
                         QIcon(QString::fromStdString(telvane::SharedDataDir()) + QStringLiteral("telvane.png"))));
    // No display name: on X11 Qt would append it to every window caption ("REINDEX — Telvane").

    const QString exe = QCoreApplication::applicationFilePath();
    telvane::setProgramDir(telvane::resolveProgramDir(exe.toStdString()));

    telvane::SingleInstanceGuard guard(QFileInfo(exe).fileName(), QString::fromStdString(telvane::ProgramDir()));
    if (guard.previousInstanceFound()) return 0;

    telvane::installComposeHooks();
    telvane::installViewerHooks();
    telvane::installSessionHooks();
    telvane::TMainScreen mainScreen;
    telvane::setMainWindow(&mainScreen);
    telvane::createSessionWindows(mainScreen);  // receive mode and its notice window, hidden
    guard.setWindow(&mainScreen);
    mainScreen.show();
    return QApplication::exec();
}
