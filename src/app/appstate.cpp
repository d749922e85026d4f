// Program-wide settings record.
#include "app/appstate.h"

#include <QString>

#include "settings/programdir.h"
#include "app/uihelpers.h"

namespace telvane {

Settings& AppSettings() {
    static Settings settings;
    return settings;
}

bool& FirstRunSetupPending() {
    static bool pending = false;
    return pending;
}

bool SaveSettings() {
    try {
        AppSettings().saveTo(ProgramDir());
        return true;
    } catch (const IniError& e) {
        ShowInformation(QString::fromLocal8Bit(e.what()));
        return false;
    }
}

bool SaveSettingsQuietly() {
    try {
        AppSettings().saveTo(ProgramDir());
        return true;
    } catch (const IniError&) {
        return false;
    }
}

}  // namespace telvane
