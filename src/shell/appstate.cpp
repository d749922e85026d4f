// Program-wide settings record.
#include "shell/appstate.h"

#include <QString>

#include "shell/programdir.h"
#include "shell/uihelpers.h"

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
