// Which commands of the main window are enabled, as a pure function of the page shown, whether each
// log has a current record, and receive mode. The main window applies the result to its buttons,
// menu entries and grids; tests check the rules here without any window.
#pragma once

namespace telvane {

struct ButtonStateInput {
    int page = 0;               // 0 outgoing, 1 incoming
    bool faxHasRecord = false;  // the outgoing log has a current record
    bool recHasRecord = false;  // the incoming log has a current record
    bool receiveMode = false;
};

struct ButtonStates {
    bool faxGrid = false;
    bool recFaxGrid = false;
    bool newFax = false;       // Newbutton and mnuNew
    bool cloneFax = false;     // mnuClone
    bool send = false;         // SendButton and mnuSend
    bool receiveMenu = false;  // mnuReceive (the Receive button itself stays enabled)
    bool edit = false;         // EditButton and mnuEdit
    bool deleteFax = false;    // DeleteButton and mnuDelete
    bool viewPrint = false;    // ViewFaxButton, Printbutton and mnuViewPrint
    friend bool operator==(const ButtonStates&, const ButtonStates&) = default;
};

ButtonStates computeButtonStates(const ButtonStateInput& in);

}  // namespace telvane
