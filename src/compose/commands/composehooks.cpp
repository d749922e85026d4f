// The main window's composing hooks (see composehooks.h).
#include "compose/commands/composehooks.h"

#include "compose/commands/composecommands.h"
#include "shell/mainscreen.h"
#include "shell/programdir.h"

namespace telvane {

void installComposeHooks() {
    MainScreenHooks& hooks = mainScreenHooks();
    hooks.newFax = [](TMainScreen& main, bool clone) {
        NewFax(main.FaxTable(), main.FaxXb(), ProgramDir(), clone, &main);
    };
    hooks.editFax = [](TMainScreen& main) { EditFax(main.FaxTable(), main.FaxXb(), ProgramDir(), &main); };
    hooks.coverSheets = [](TMainScreen& main) { CoverSheets(main.CoverTable(), main.CoverXb(), ProgramDir(), &main); };
    hooks.phoneBook = [](TMainScreen& main) { PhoneBook(ProgramDir(), &main); };
}

}  // namespace telvane
