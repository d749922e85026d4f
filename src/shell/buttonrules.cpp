// Enable rules of the main window's commands.
#include "shell/buttonrules.h"

namespace telvane {

ButtonStates computeButtonStates(const ButtonStateInput& in) {
    const bool outgoingPage = in.page == 0;
    const bool pageHasRecord = outgoingPage ? in.faxHasRecord : in.recHasRecord;
    ButtonStates s;
    s.faxGrid = in.faxHasRecord;
    s.recFaxGrid = in.recHasRecord;
    s.newFax = outgoingPage;
    s.cloneFax = outgoingPage && in.faxHasRecord;
    s.send = in.faxHasRecord;
    s.receiveMenu = !in.receiveMode;
    s.edit = pageHasRecord;
    s.deleteFax = pageHasRecord;
    s.viewPrint = pageHasRecord;
    return s;
}

}  // namespace telvane
