// The main window's composing commands (see composehooks.h).
#include "compose/commands/composehooks.h"

#include "app/mainwindow.h"

#include <QStringList>

#include "settings/programdir.h"
#include "compose/commands/composecommands.h"
#include "compose/commands/createfaxfile.h"
#include "compose/render/faxdocuments.h"
#include "records/table.h"

namespace telvane::composecommands {

void addComposeCommands(app::MainWindowCommands& commands) {
    commands.newFax = [](app::IMainWindow& main, bool clone) {
        newFax(main.FaxTable(), main.FaxXb(), settings::ProgramDir(), clone, main.widget());
    };
    commands.newFaxWithDocuments = [](app::IMainWindow& main, const QStringList& documentPaths) {
        return newFaxWithDocuments(main.FaxTable(), main.FaxXb(), settings::ProgramDir(), documentPaths, main.widget());
    };
    commands.editFax = [](app::IMainWindow& main) {
        editFax(main.FaxTable(), main.FaxXb(), settings::ProgramDir(), main.widget());
    };
    commands.removeUnnamedDocuments = [](app::IMainWindow& main) {
        if (records::Table* table = main.FaxTable().table())
            render::removeUnnamedDocuments(settings::ProgramDir(), *table);
    };
    commands.coverSheets = [](app::IMainWindow& main) {
        coverSheets(main.CoverTable(), main.CoverXb(), settings::ProgramDir(), main.widget());
    };
    commands.coverSheets = [](app::IMainWindow& main) {
        coverSheets(main.CoverTable(), main.CoverXb(), settings::ProgramDir(), main.widget());
    };
    commands.phoneBook = [](app::IMainWindow& main) { phoneBook(settings::ProgramDir(), main.widget()); };
    commands.createFaxFile = [](app::IMainWindow& main) { return createFaxFileOf(main); };
}

}  // namespace telvane::composecommands
