// TCoverBrowse: the "Cover Sheet Template Browser". Lists the templates of an open cover table by
// description and creates, edits, clones and deletes them through TCoverEditor. Maintenance mode
// shows "C&lose"; pick mode shows "&Accept" (result 1: the table's current record is the chosen
// template) and "Cance&l". Edit, Clone and Delete (and Accept in pick mode) are disabled while
// the table is empty, and only beep if reached anyway, so that result 1 always comes with a
// template. A new template starts with an empty description. The caller opens and closes the table.
#pragma once

#include <string>

#include "compose/editorkit/recordbrowser.h"
#include "records/record_set.h"
#include "records/xb_access.h"

class QPushButton;

namespace telvane::cover {

class TCoverBrowse : public editorkit::RecordBrowser {
    Q_OBJECT
public:
    TCoverBrowse(records::RecordSet& coverTable, records::TXbAccess& coverXb, std::string programDir,
                 QWidget* parent = nullptr);

    void newButtonClick();
    void cloneButtonClick();
    void modifyButtonClick();
    void DeleteButtonClick();
    void acceptButtonClick() override;
    void setPickMode(bool pick) override;

    app::TLogGrid* CoverGrid = nullptr;
    QPushButton* NewButton = nullptr;
    QPushButton* ModifyButton = nullptr;
    QPushButton* CloneButton = nullptr;
    QPushButton* DeleteButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Commands that act on a template are enabled only while there is one.
    void applyButtonStates();
    // Appends a record with the editor's description and text; reports a failed write.
    void storeTemplate(class TCoverEditor& editor, bool append);

    records::RecordSet& table_;
    records::TXbAccess& xb_;
    std::string programDir_;
    bool cloneMode_ = false;
};

}  // namespace telvane::cover
