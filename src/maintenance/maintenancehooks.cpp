// The main window's maintenance commands (see maintenancehooks.h).
#include "maintenance/maintenancehooks.h"

#include "app/mainwindow.h"
#include "settings/programdir.h"
#include "app/uihelpers.h"
#include "maintenance/configinfo.h"
#include "maintenance/dmform.h"
#include "maintenance/rebuildind.h"

namespace telvane {

void AddMaintenanceCommands(MainWindowCommands& commands) {
    commands.faxLogCleanup = [](IMainWindow& main) {
        maintenance::TDMForm form(main.RecTable(), main.RecXb(), main.FaxTable(), main.FaxXb(), main.XbEnv(),
                                  receiveDir(), main.widget());
        CenterDialog(&form);
        form.exec();
        return form.deletedSomething();
    };
    commands.rebuildIndexes = [](IMainWindow& main) {
        maintenance::TRebuildInd window(
            {main.FaxTable(), main.FaxXb(), main.RecTable(), main.RecXb(), main.PhoneTable(), main.PhoneXb(),
             main.CoverTable(), main.CoverXb(), ProgramDir()},
            main.widget());
        CenterDialog(&window);
        window.exec();
    };
    commands.configurationInformation = [](IMainWindow& main) {
        maintenance::ShowConfigurationInformation(main.widget());
    };
}

}  // namespace telvane
