// Connects the fax sessions to the main window: AddSessionCommands() sets the main window's Send,
// Receive, quick set-up and Preferences commands and lets the modem waits run window messages; its
// createWindows command makes, at program start, the main window's receive mode with its engine
// components, fax printer and hidden notice window.
#pragma once

namespace telvane {

struct MainWindowCommands;

void AddSessionCommands(MainWindowCommands& commands);

}  // namespace telvane
