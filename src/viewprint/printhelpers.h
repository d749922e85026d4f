// Print options shared by the viewer window and the main window's View/Print command: the options
// kept in the settings file, and the printer's header (info line) and footer captions.
#pragma once

#include <QString>

#include "settings/settings.h"
#include "faximage/printer/faxprinter.h"

namespace telvane::viewprint {

// The stored print options (defaults when they cannot be read).
settings::PrintOptions loadOptions();
// Stores the options; options that cannot be written are kept for this run only.
void saveOptions(const settings::PrintOptions& options);
// Header (info line) and footer captions, enabled as the options say.
void applyMargins(faximage::TOvxFaxPrinter& printer, const settings::PrintOptions& options, const QString& infoLine);

}  // namespace telvane::viewprint
