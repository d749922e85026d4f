// The main window's session commands (see sessionhooks.h).
#include "sessions/sessionhooks.h"

#include "app/mainwindow.h"
#include "settings/programdir.h"
#include "app/uihelpers.h"
#include "transport/dispatcher.h"
#include "sessions/desktoppresence.h"
#include "sessions/modemsetup.h"
#include "sessions/preferences.h"
#include "sessions/receivemode.h"
#include "sessions/sendfax.h"

namespace telvane::sessions {

void addSessionCommands(app::MainWindowCommands& commands) {
    telvane::transport::setEventPump([] { app::letMessagesRun(); });
    commands.sendFax = [](app::IMainWindow& main) { sessions::sendFaxCommand(main); };
    commands.toggleReceiveMode = [](app::IMainWindow& main) { sessions::TReceiveMode::of(main).ReceiveButtonClick(); };
    commands.quickSetup = [](app::IMainWindow& main) { sessions::runQuickSetup(main.widget()); };
    commands.preferences = [](app::IMainWindow& main) { return sessions::runPreferences(main.widget()); };
    commands.createWindows = [](app::IMainWindow& main) {
        sessions::TReceiveMode& receive = sessions::TReceiveMode::of(main);
        new sessions::TDesktopPresence(main, receive);  // notifications and tray icon; owned by receive mode
    };
}

}  // namespace telvane::sessions
