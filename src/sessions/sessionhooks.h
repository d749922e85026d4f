// Connects the fax sessions to the main window: installSessionHooks() sets the main window's
// Send, Receive and quick set-up hooks (and rendering, when no other part has set it) and lets
// the modem waits run window messages.
#pragma once

namespace telvane {

void installSessionHooks();

}  // namespace telvane
