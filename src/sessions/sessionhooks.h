// Connects the fax sessions to the main window: installSessionHooks() sets the main window's
// Send, Receive, quick set-up and Preferences hooks (and rendering, when no other part has set it) and lets
// the modem waits run window messages; createSessionWindows() makes, at program start, the main
// window's receive mode with its engine components, fax printer and hidden notice window.
#pragma once

namespace telvane {

class TMainScreen;

void installSessionHooks();
void createSessionWindows(TMainScreen& main);

}  // namespace telvane
