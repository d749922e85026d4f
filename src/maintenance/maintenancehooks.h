// Connects record maintenance and the configuration report to the main window: sets the Fax Log
// Cleanup, Rebuild Indexes and Configuration Information commands.
#pragma once

namespace telvane::app {
struct MainWindowCommands;
}  // namespace telvane::app

namespace telvane::maintenance {

void addMaintenanceCommands(app::MainWindowCommands& commands);

}  // namespace telvane::maintenance
