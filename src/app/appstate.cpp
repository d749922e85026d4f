// Program-wide settings record.
#include "app/appstate.h"

#include <QString>

#include "settings/programdir.h"
#include "app/uihelpers.h"

namespace telvane::app {

settings::Settings& appSettings() {
    static settings::Settings settings;
    return settings;
}

bool& firstRunSetupPending() {
    static bool pending = false;
    return pending;
}

bool saveSettings() {
    try {
        appSettings().saveTo(settings::ProgramDir());
        return true;
    } catch (const settings::IniError& e) {
        ShowInformation(QString::fromLocal8Bit(e.what()));
        return false;
    }
}

bool saveSettingsQuietly() {
    try {
        appSettings().saveTo(settings::ProgramDir());
        return true;
    } catch (const settings::IniError&) {
        return false;
    }
}

}  // namespace telvane::app
