// The default font of new faxes and new cover templates (settings section "Default Font"): turning
// it into character attributes, applying it to an empty rich-text part as the attributes for text
// typed next, and the chooser that edits it through the font dialog and saves the settings file.
#pragma once

#include <string>

#include "compose/richtext/trichtext.h"
#include "settings/settings.h"

class QWidget;

namespace telvane::editorkit {

richtext::TextAttributes defaultFontAttributes(const settings::Settings& settings);

// Makes the default font the attributes for text typed next; text already there is not changed.
void applyDefaultFont(richtext::TRichText& editor, const settings::Settings& settings);

// Reads the settings file again, opens the font dialog on the stored default font and, when the
// user confirms, stores name, size, bold, italic and underline and writes the settings file.
// True when a font was chosen and saved; a refused write is reported to the user.
bool chooseDefaultFont(QWidget* parent, const std::string& programDir);

}  // namespace telvane::editorkit
