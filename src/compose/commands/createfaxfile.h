// The main window's CreateFaxFile: the render core (compose/render) with what the user sees around
// it: the hourglass, the disabled button bar and the status line of each phase for the whole
// operation, window messages running between the steps, and the message "Fax has no contents or
// cover sheet" for a fax with nothing at all; an attached document that cannot be converted is
// named in a message.
// Guarantees: hourglass, button bar and status line are restored on every path (also on failure),
// before the no-contents message shows; a call made while the same renderer runs is refused
// without touching them.
#pragma once

#include "app/mainwindow.h"
#include "compose/render/faxrenderer.h"

#include <QString>
#include <functional>
#include <string>

namespace telvane::composecommands {

class FaxFileRenderer {
public:
    FaxFileRenderer();

    // Sets the main window's status line ("" clears it).
    std::function<void(const QString&)> StatusSink;
    // Enables (true) or disables (false) the main window's button bar.
    std::function<void(bool)> ButtonBarSwitch;

    // Renders the fax whose parts `load` supplies, then `documents`, into a fax file in dataDir
    // (ending in '/'). Nothing at all: the no-contents message and an empty result.
    render::FaxFileResult CreateFaxFile(const std::string& dataDir, const render::FaxPartsLoader& load,
                                        const std::vector<render::FaxDocument>& documents = {});

    int lastPageCount() const { return core_.lastPageCount(); }
    bool busy() const { return core_.busy(); }
    render::FaxRenderer& core() { return core_; }

private:
    class UiLock;

    render::FaxRenderer core_;
};

// The main window's createFaxFile command: renders its current outgoing fax, with the documents its
// record lists, in the data directory.
app::RenderedFax createFaxFileOf(app::IMainWindow& main);

}  // namespace telvane::composecommands
