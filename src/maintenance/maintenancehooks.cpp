// The main window's maintenance commands (see maintenancehooks.h).
#include "maintenance/maintenancehooks.h"

#include "app/mainwindow.h"
#include "settings/programdir.h"
#include "app/uihelpers.h"
#include "maintenance/configinfo.h"
#include "maintenance/dmform.h"
#include "maintenance/rebuildind.h"

namespace telvane::maintenance {

void addMaintenanceCommands(app::MainWindowCommands& commands) {
    commands.faxLogCleanup = [](app::IMainWindow& main) {
        maintenance::TDMForm form(main.RecTable(), main.RecXb(), main.FaxTable(), main.FaxXb(), main.xbEnv(),
                                  settings::receiveDir(), main.widget());
        app::centerDialog(&form);
        form.exec();
        return form.deletedSomething();
    };
    commands.rebuildIndexes = [](app::IMainWindow& main) {
        maintenance::TRebuildInd window(
            {main.FaxTable(), main.FaxXb(), main.RecTable(), main.RecXb(), main.PhoneTable(), main.PhoneXb(),
             main.CoverTable(), main.CoverXb(), settings::ProgramDir()},
            main.widget());
        app::centerDialog(&window);
        window.exec();
    };
    commands.configurationInformation = [](app::IMainWindow& main) {
        maintenance::showConfigurationInformation(main.widget());
    };
}

}  // namespace telvane::maintenance
