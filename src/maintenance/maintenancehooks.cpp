#include "maintenance/maintenancehooks.h"

#include "maintenance/configinfo.h"
#include "maintenance/dmform.h"
#include "maintenance/rebuildind.h"
#include "shell/mainscreen.h"
#include "shell/programdir.h"
#include "shell/uihelpers.h"

namespace telvane {

void installMaintenanceHooks() {
    MainScreenHooks& hooks = mainScreenHooks();
    hooks.faxLogCleanup = [](TMainScreen& main) {
        maintenance::TDMForm form(main.RecTable(), main.RecXb(), main.FaxTable(), main.FaxXb(), main.XbEnv(),
                                  receiveDir(), &main);
        CenterDialog(&form);
        form.exec();
        return form.deletedSomething();
    };
    hooks.rebuildIndexes = [](TMainScreen& main) {
        maintenance::TRebuildInd window(
            {main.FaxTable(), main.FaxXb(), main.RecTable(), main.RecXb(), main.PhoneTable(), main.PhoneXb(),
             main.CoverTable(), main.CoverXb(), ProgramDir()},
            &main);
        CenterDialog(&window);
        window.exec();
    };
    hooks.configurationInformation = [](TMainScreen& main) { maintenance::ShowConfigurationInformation(&main); };
}

}  // namespace telvane
