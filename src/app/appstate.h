// The program-wide settings record of this run and its save helper.
#pragma once

#include "settings/settings.h"

namespace telvane::app {

settings::Settings& appSettings();

// Set at start-up when the settings hold no port yet; the quick set-up (or the preferences wizard's
// first-time mode) takes it over and clears it.
bool& firstRunSetupPending();

// Saves the settings record; a refused write is shown to the user as a message naming the file.
// Returns false when the write failed.
bool saveSettings();
// The same without a message (used while closing, where nothing more can be done).
bool saveSettingsQuietly();

}  // namespace telvane::app
