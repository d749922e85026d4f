// TPhoneBook: the "Phone Book Browser". It has its own record set and access object on TVNPB.DBF
// (opened by OpenTable through the phone book's open-or-create, listed by name without regard to
// case) and adds, edits and deletes entries through TPhoneBookEditor. Maintenance mode shows
// "C&lose"; pick mode shows "&Accept" (result 1 with the picked name and number) and "Cance&l".
// Whenever it is activated and after every change, "&Edit", "&Delete" and "&Accept" are enabled
// exactly when the table holds entries; acting on an empty table beeps.
#pragma once

#include <string>

#include "compose/editorkit/recordbrowser.h"
#include "records/record_set.h"
#include "records/xb_access.h"

class QPushButton;

namespace telvane::phonebook {

class TPhoneBook : public editorkit::RecordBrowser {
    Q_OBJECT
public:
    explicit TPhoneBook(std::string programDir, QWidget* parent = nullptr);
    ~TPhoneBook() override;

    records::RecordSet& PhoneTable() { return table_; }
    records::TXbAccess& PhoneXb() { return xb_; }
    // Opens (creating when missing) the phone book on this window's record set.
    bool openTable();

    void setPickMode(bool pick) override;
    QString pickedName() const { return pickedName_; }
    QString pickedNumber() const { return pickedNumber_; }

    void setButtonStates();
    void newButtonClick();
    void EditButtonClick();
    void DeleteButtonClick();
    void acceptButtonClick() override;

    app::TLogGrid* PhoneGrid = nullptr;
    QPushButton* NewButton = nullptr;
    QPushButton* EditButton = nullptr;
    QPushButton* DeleteButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The enable rule without letting pending messages run first.
    void applyButtonStates();
    void editEntry(bool append);

    std::string programDir_;
    records::RecordSet table_;
    records::TXbAccess xb_;
    QString pickedName_;
    QString pickedNumber_;
};

}  // namespace telvane::phonebook
