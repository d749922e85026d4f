// Connects the composing commands to the main window: installComposeHooks() sets the main window's
// New/Clone, Edit (outgoing fax), Cover Sheets and Phone Book hooks to the functions of
// composecommands.h, working on the main window's tables and the program's directory. The main
// window applies its own checks (receive-mode lock, empty log) before calling a hook.
#pragma once

namespace telvane {

void installComposeHooks();

}  // namespace telvane
