// Connects the composing commands to the main window: addComposeCommands() sets the main window's
// New/Clone, Edit (outgoing fax), Cover Sheets and Phone Book commands to the functions of
// composecommands.h and its CreateFaxFile to createfaxfile.h, working on the main window's tables
// and the program's directory. The main
// window applies its own checks (receive-mode lock, empty log) before calling a command.
#pragma once

namespace telvane::app {
struct MainWindowCommands;
}  // namespace telvane::app

namespace telvane::composecommands {

void addComposeCommands(app::MainWindowCommands& commands);

}  // namespace telvane::composecommands
