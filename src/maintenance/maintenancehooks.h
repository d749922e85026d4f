// Connects record maintenance and the configuration report to the main window: sets the Fax Log
// Cleanup, Rebuild Indexes and Configuration Information commands.
#pragma once

namespace telvane {

struct MainWindowCommands;

void addMaintenanceCommands(MainWindowCommands& commands);

}  // namespace telvane
