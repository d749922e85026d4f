// The program-wide settings record of this run and its save helper.
#pragma once

#include "shell/settings.h"

namespace telvane {

Settings& AppSettings();

// Saves the settings record; a refused write is shown to the user as a message naming the file.
// Returns false when the write failed.
bool SaveSettings();
// The same without a message (used while closing, where nothing more can be done).
bool SaveSettingsQuietly();

}  // namespace telvane
