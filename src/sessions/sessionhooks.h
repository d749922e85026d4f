// Connects the fax sessions to the main window: addSessionCommands() sets the main window's Send,
// Receive, quick set-up and Preferences commands and lets the modem waits run window messages; its
// createWindows command makes, at program start, the main window's receive mode with its engine
// components, fax printer and hidden notice window.
#pragma once

namespace telvane::app {
struct MainWindowCommands;
}  // namespace telvane::app

namespace telvane::sessions {

void addSessionCommands(app::MainWindowCommands& commands);

}  // namespace telvane::sessions
