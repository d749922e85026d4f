// The phone book: button states follow whether the table holds entries, entries are listed by
// name without regard to case, and a pick fills the fax's recipient and number only.
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include "compose/editor/tenteredit.h"
#include "compose/editor/tfaxeditor.h"
#include "compose/phonebook/tphonebook.h"
#include "compose/phonebook/tphonebookeditor.h"
#include "compose/editors_fixture.h"
#include "app/loggrid.h"
#include "support/scriptedprompter.h"

namespace telvane::editortest {
namespace {

using PhoneBookTest = EditorsTest;

QStringList listedNames(phonebook::TPhoneBook& book) {
    QStringList names;
    QAbstractItemModel* model = book.PhoneGrid->model();
    for (int row = 0; row < model->rowCount(); ++row) names << model->index(row, 0).data().toString();
    return names;
}

void typeEntry(const QString& name, const QString& number) {
    whenModal<phonebook::TPhoneBookEditor>([=](phonebook::TPhoneBookEditor* e) {
        e->Name->setText(name);
        e->Number->setText(number);
        e->AcceptButton->click();
    });
}

TEST_F(PhoneBookTest, EmptyBookDisablesEditDeleteAcceptAndBeepsUntilTheFirstEntry) {
    phonebook::TPhoneBook book(dir());
    ASSERT_TRUE(book.openTable());
    book.setPickMode(true);
    book.show();
    EXPECT_FALSE(book.EditButton->isEnabled());
    EXPECT_FALSE(book.DeleteButton->isEnabled());
    EXPECT_FALSE(book.AcceptButton->isEnabled());
    EXPECT_TRUE(book.NewButton->isEnabled());
    book.EditButtonClick();
    book.DeleteButtonClick();
    book.acceptButtonClick();
    EXPECT_EQ(prompts().count(PromptRecord::Beep), 3);
    EXPECT_EQ(book.result(), 0);

    typeEntry("Jones", "555-0100");
    book.NewButton->click();
    EXPECT_TRUE(book.EditButton->isEnabled());
    EXPECT_TRUE(book.DeleteButton->isEnabled());
    EXPECT_TRUE(book.AcceptButton->isEnabled());

    prompts().answers = {true};
    book.DeleteButton->click();
    ASSERT_EQ(prompts().count(PromptRecord::YesNoDefaultNo), 1);
    EXPECT_EQ(prompts().records.last().text, "Delete the current phone book entry?:\rJones");
    EXPECT_EQ(prompts().records.last().caption, "Delete");
    EXPECT_FALSE(book.EditButton->isEnabled());
    EXPECT_FALSE(book.DeleteButton->isEnabled());
    EXPECT_FALSE(book.AcceptButton->isEnabled());
    EXPECT_TRUE(listedNames(book).isEmpty());
}

TEST_F(PhoneBookTest, EntriesAreListedByNameWithoutRegardToCase) {
    phonebook::TPhoneBook book(dir());
    ASSERT_TRUE(book.openTable());
    for (const auto& [name, number] : {std::pair{"smith", "3"}, {"Jones", "2"}, {"adams", "1"}, {"Brown", "4"}}) {
        typeEntry(name, number);
        book.newButtonClick();
    }
    EXPECT_EQ(listedNames(book), (QStringList{"adams", "Brown", "Jones", "smith"}));
    EXPECT_EQ(book.PhoneGrid->model()->headerData(1, Qt::Horizontal).toString(), "Fax #");
}

TEST_F(PhoneBookTest, EditorCancelChangesNothingAndAcceptRewritesTheEntry) {
    addPhone("Jones", "555-0100");
    phonebook::TPhoneBook book(dir());
    ASSERT_TRUE(book.openTable());
    book.show();

    whenModal<phonebook::TPhoneBookEditor>([](phonebook::TPhoneBookEditor* e) {
        e->Name->setText("Discarded");
        e->CancelButton->click();
    });
    book.newButtonClick();
    whenModal<phonebook::TPhoneBookEditor>([](phonebook::TPhoneBookEditor* e) {
        EXPECT_EQ(e->Name->text(), "Jones");
        e->Number->setText("555-0199");
        e->CancelButton->click();
    });
    book.EditButtonClick();
    EXPECT_EQ(book.PhoneTable().recCount(), 1u);
    EXPECT_EQ(book.PhoneTable().currentRow().text("PHONE"), "555-0100");

    whenModal<phonebook::TPhoneBookEditor>([](phonebook::TPhoneBookEditor* e) {
        EXPECT_EQ(e->Number->maxLength(), 25);
        EXPECT_EQ(e->Name->maxLength(), 35);
        e->Number->setText("555-0199");
        e->AcceptButton->click();
    });
    book.EditButtonClick();
    EXPECT_EQ(book.PhoneTable().recCount(), 1u);
    EXPECT_EQ(book.PhoneTable().currentRow().text("PHONE"), "555-0199");
    EXPECT_EQ(book.PhoneTable().currentRow().text("NAME"), "Jones");
}

TEST_F(PhoneBookTest, PickFillsRecipientAndNumberAndLeavesTheSubject) {
    addPhone("Jones", "555-0100");
    addPhone("smith", "555-0200");
    editor::TFaxEditor editor(dir());
    editor.show();
    editor.Recipient->setText("Before");
    editor.FaxNumber->setText("000");
    editor.Subject->setText("Keep this subject");

    whenModal<phonebook::TPhoneBook>([](phonebook::TPhoneBook* book) {
        EXPECT_TRUE(book->AcceptButton->isVisible());
        EXPECT_TRUE(book->CancelButton->isVisible());
        EXPECT_FALSE(book->CloseButton->isVisible());
        book->PhoneTable().last();
        book->AcceptButton->click();
    });
    editor.AddressButton->click();
    EXPECT_EQ(editor.Recipient->text(), "smith");
    EXPECT_EQ(editor.FaxNumber->text(), "555-0200");
    EXPECT_EQ(editor.Subject->text(), "Keep this subject");

    whenModal<phonebook::TPhoneBook>([](phonebook::TPhoneBook* book) { book->CancelButton->click(); });
    editor.AddressButton->click();
    EXPECT_EQ(editor.Recipient->text(), "smith");
    EXPECT_EQ(editor.FaxNumber->text(), "555-0200");
}

}  // namespace
}  // namespace telvane::editortest

namespace telvane::editortest {
namespace {

// The phone book keeps only numbers a modem can dial: Accept with another number says why and
// keeps the editor open on the number.
// Esc closes an untouched entry at once but asks before throwing typed changes away (No keeps
// the editor and what was typed).
TEST(PhoneBookEditorNumbers, EscAsksBeforeDiscardingTypedChanges) {
    app();
    ScopedScriptedPrompter prompts;
    phonebook::TPhoneBookEditor editor;
    editor.Name->setText("Ann");
    editor.Number->setText("555 0100");
    editor.show();
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&editor, &esc);
    EXPECT_FALSE(editor.isVisible());
    EXPECT_TRUE(prompts->records.isEmpty());

    editor.show();
    editor.Number->insert("9");
    prompts->answers = {false};
    QApplication::sendEvent(&editor, &esc);
    EXPECT_TRUE(editor.isVisible());
    EXPECT_EQ(editor.Number->text(), "555 01009");
    ASSERT_EQ(prompts->records.size(), 1);
    EXPECT_EQ(prompts->records[0].kind, PromptRecord::YesNoDefaultNo);
    EXPECT_EQ(prompts->records[0].text, "Discard the changes made to this entry?");
    prompts->answers = {true};
    QApplication::sendEvent(&editor, &esc);
    EXPECT_FALSE(editor.isVisible());
    EXPECT_EQ(editor.result(), 2);
}

TEST(PhoneBookEditorNumbers, AcceptRefusesANumberAModemCannotDial) {
    app();
    ScopedScriptedPrompter prompts;
    phonebook::TPhoneBookEditor editor;
    editor.show();
    editor.Name->setText("Ann");
    editor.Number->setText("call me maybe!");
    editor.AcceptButton->click();
    EXPECT_TRUE(editor.isVisible());
    ASSERT_EQ(prompts->texts().size(), 1);
    EXPECT_TRUE(prompts->texts()[0].contains("cannot dial")) << prompts->texts()[0].toStdString();
    editor.Number->setText("555 0100");
    editor.AcceptButton->click();
    EXPECT_FALSE(editor.isVisible());
    EXPECT_EQ(editor.result(), 1);
}

}  // namespace
}  // namespace telvane::editortest
