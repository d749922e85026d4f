// Program start: the single-instance guard, the application title, the main window with the
// commands of the windows below it.
// Command-line arguments have no effect.
#include <QApplication>
#include <QFileInfo>

#include <cstdio>
#include <sys/stat.h>

#include "compose/commands/composehooks.h"
#include "compose/viewer/faxviewerwindow.h"
#include "sessions/sessionhooks.h"
#include "shell/mainscreen.h"
#include "app/programdir.h"
#include "app/singleinstance.h"
#include "app/uihelpers.h"

int main(int argc, char** argv) {
    // Faxes, tables, logs and settings are private: new files 0600, new directories 0700.
    ::umask(077);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Telvane"));
    // No display name: on X11 Qt would append it to every window caption ("REINDEX — Telvane").

    const QString exe = QCoreApplication::applicationFilePath();
    const std::string dir = telvane::resolveProgramDir(exe.toStdString());
    if (dir.empty()) {
        std::fprintf(stderr, "telvane: no private data directory: set HOME or TELVANE_HOME\n");
        return 1;
    }
    telvane::setProgramDir(dir);

    telvane::SingleInstanceGuard guard(QFileInfo(exe).fileName(), QString::fromStdString(telvane::ProgramDir()));
    if (guard.previousInstanceFound()) return 0;

    telvane::MainWindowCommands commands;
    telvane::AddComposeCommands(commands);
    telvane::AddViewerCommands(commands);
    telvane::AddSessionCommands(commands);
    telvane::TMainScreen mainScreen(commands);
    telvane::setMainWindow(&mainScreen);
    commands.createWindows(mainScreen);  // receive mode and its notice window, hidden
    guard.setWindow(&mainScreen);
    mainScreen.show();
    return QApplication::exec();
}
