// TPhoneBook (see tphonebook.h).
#include "compose/phonebook/tphonebook.h"

#include <QLineEdit>
#include <QPushButton>

#include "compose/editorkit/recordwrite.h"
#include "compose/phonebook/tphonebookeditor.h"
#include "records/fax_tables.h"
#include "app/uihelpers.h"

namespace telvane::phonebook {
namespace {

constexpr int kHelpPhoneBook = 1019;

}  // namespace

TPhoneBook::TPhoneBook(std::string programDir, QWidget* parent)
    : editorkit::RecordBrowser(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint,
                               parent),
      programDir_(std::move(programDir)) {
    setObjectName(QStringLiteral("PhoneBook"));
    setWindowTitle(QStringLiteral("Phone Book Browser"));
    xb_.bind(table_);

    PhoneGrid = makeGrid("PhoneGrid", table_,
                         {{"NAME", QStringLiteral("Name"), 35}, {"PHONE", QStringLiteral("Fax #"), 25}}, 72);
    NewButton =
        app::makePushButton(this, "NewButton", QStringLiteral("&New"), QStringLiteral("Create a new phone book entry"));
    EditButton = app::makePushButton(this, "EditButton", QStringLiteral("&Edit"),
                                     QStringLiteral("Edit the currently selected phone book entry"));
    DeleteButton = app::makePushButton(this, "DeleteButton", QStringLiteral("&Delete"),
                                       QStringLiteral("Delete the currently selected phone book entry"));
    connect(NewButton, &QPushButton::clicked, this, &TPhoneBook::newButtonClick);
    connect(EditButton, &QPushButton::clicked, this, &TPhoneBook::EditButtonClick);
    connect(DeleteButton, &QPushButton::clicked, this, &TPhoneBook::DeleteButtonClick);
    finishLayout({NewButton, EditButton, DeleteButton},
                 {QStringLiteral("Use this phone book entry"),
                  QStringLiteral("Cancel - do not use any of these phone book entries"),
                  QStringLiteral("Close the Phone Book Browser"), QStringLiteral("Open the help for Phonebook Browser"),
                  kHelpPhoneBook});
}

TPhoneBook::~TPhoneBook() {
    // The record set is this window's and goes before the grid does.
    detachGrid();
    try {
        table_.close();
    } catch (const records::EXbError&) {
        // Every change was posted when it was made.
    }
}

bool TPhoneBook::openTable() { return records::OpenPhoneDBF(programDir_, table_, xb_); }

void TPhoneBook::setPickMode(bool pick) {
    editorkit::RecordBrowser::setPickMode(pick);
    applyButtonStates();
}

void TPhoneBook::setButtonStates() {
    app::letMessagesRun();
    applyButtonStates();
}

void TPhoneBook::applyButtonStates() {
    const bool any = hasRecords();
    EditButton->setEnabled(any);
    DeleteButton->setEnabled(any);
    if (pickMode()) AcceptButton->setEnabled(any);
}

void TPhoneBook::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    setButtonStates();
}

void TPhoneBook::editEntry(bool append) {
    TPhoneBookEditor editor(this);
    if (!append) {
        const records::Row row = table_.currentRow();
        editor.Name->setText(QString::fromStdString(row.text("NAME")));
        editor.Number->setText(QString::fromStdString(row.text("PHONE")));
    }
    app::centerDialog(&editor);
    if (editor.exec() == 1) {
        editorkit::writeRecord(
            table_, append,
            [&] {
                table_.fieldByName("NAME").setString(editor.Name->text().toStdString());
                table_.fieldByName("PHONE").setString(editor.Number->text().toStdString());
            },
            QStringLiteral("The phone book entry could not be saved."));
    }
    reloadGrid();
    setButtonStates();
}

void TPhoneBook::newButtonClick() { editEntry(true); }

void TPhoneBook::EditButtonClick() {
    if (!recordsOrBeep()) return;
    editEntry(false);
}

void TPhoneBook::DeleteButtonClick() {
    if (!recordsOrBeep()) return;
    deleteCurrentRecord(QStringLiteral("Delete the current phone book entry?:\r") +
                            QString::fromStdString(table_.currentRow().text("NAME")),
                        QStringLiteral("The phone book entry could not be deleted."));
    setButtonStates();
}

void TPhoneBook::acceptButtonClick() {
    if (!recordsOrBeep()) return;
    const records::Row row = table_.currentRow();
    pickedName_ = QString::fromStdString(row.text("NAME"));
    pickedNumber_ = QString::fromStdString(row.text("PHONE"));
    done(1);
}

}  // namespace telvane::phonebook
