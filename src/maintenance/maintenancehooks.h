// Connects record maintenance and the configuration report to the main window: installs the
// Fax Log Cleanup, Rebuild Indexes and Configuration Information hooks.
#pragma once

namespace telvane {

void installMaintenanceHooks();

}  // namespace telvane
