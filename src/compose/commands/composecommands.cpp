// The main window's composing commands (see composecommands.h).
#include "compose/commands/composecommands.h"

#include "compose/cover/startertemplates.h"
#include "compose/cover/tcoverbrowse.h"
#include "compose/editorkit/defaultfont.h"
#include "compose/editorkit/recordwrite.h"
#include "compose/richtext/richtextmemo.h"
#include "compose/editor/tenteredit.h"
#include "compose/editor/tfaxeditor.h"
#include "compose/phonebook/tphonebook.h"
#include "compose/richtext/trichtext.h"
#include "records/fax_tables.h"
#include "app/appstate.h"
#include "app/loggrid.h"
#include "app/uihelpers.h"

namespace telvane {
namespace {

void fillFromRecord(TFaxEditor& editor, records::RecordSet& faxTable, records::TXbAccess& faxXb,
                    const std::string& programDir, bool clone) {
    LoadRichText(*editor.RichCover, "RTFCOVER", faxXb, programDir);
    LoadRichText(*editor.RichDoc, "RTFDOC", faxXb, programDir);
    const records::Row row = faxTable.currentRow();
    editor.Recipient->setText(QString::fromStdString(row.text("RECIPIENT")));
    const QString subject = QString::fromStdString(row.text("SUBJECT"));
    editor.Subject->setText(clone ? QStringLiteral("[clone]") + subject : subject);
    editor.FaxNumber->setText(QString::fromStdString(row.text("PHONE")));
}

// Stores the editor's fax in the buffer of faxTable (appended or in edit).
void storeFax(TFaxEditor& editor, records::RecordSet& faxTable, records::TXbAccess& faxXb,
              const std::string& programDir) {
    faxTable.fieldByName("RECIPIENT").setString(editor.Recipient->text().toStdString());
    faxTable.fieldByName("SUBJECT").setString(editor.Subject->text().toStdString());
    faxTable.fieldByName("PHONE").setString(editor.FaxNumber->text().toStdString());
    if (!SaveRichText(*editor.RichCover, "RTFCOVER", faxXb, programDir)) throw MemoError("RTFCOVER", faxXb.lastError());
    if (!SaveRichText(*editor.RichDoc, "RTFDOC", faxXb, programDir)) throw MemoError("RTFDOC", faxXb.lastError());
}

}  // namespace

bool NewFax(records::RecordSet& faxTable, records::TXbAccess& faxXb, const std::string& programDir, bool clone,
            QWidget* parent) {
    TFaxEditor editor(programDir, parent);
    if (clone && HasVisibleRecords(faxTable)) {
        fillFromRecord(editor, faxTable, faxXb, programDir, true);
    } else {
        ApplyDefaultFont(*editor.RichCover, AppSettings());
        ApplyDefaultFont(*editor.RichDoc, AppSettings());
    }
    while (editor.exec() == 1) {
        const bool written = WriteRecord(
            faxTable, true,
            [&] {
                LetMessagesRun();
                storeFax(editor, faxTable, faxXb, programDir);
            },
            QStringLiteral("The fax could not be saved."));
        if (!written) continue;
        LetMessagesRun();
        records::FaxTableCloseAndOpen(faxTable, faxXb, [] { LetMessagesRun(); });
        LetMessagesRun();
        return true;
    }
    return false;
}

bool EditFax(records::RecordSet& faxTable, records::TXbAccess& faxXb, const std::string& programDir, QWidget* parent) {
    if (!VisibleRecordsOrBeep(faxTable)) return false;
    const uint32_t recno = faxTable.recNo();
    TFaxEditor editor(programDir, parent);
    fillFromRecord(editor, faxTable, faxXb, programDir, false);
    while (editor.exec() == 1) {
        const bool written = WriteRecord(
            faxTable, false, [&] { storeFax(editor, faxTable, faxXb, programDir); },
            QStringLiteral("The changes to the fax could not be saved."));
        if (written) return true;
        try {
            faxTable.go(recno);
        } catch (const records::EXbError&) {
            // The record is gone; the next attempt reports the engine's refusal again.
        }
    }
    return false;
}

void CoverSheets(records::RecordSet& coverTable, records::TXbAccess& coverXb, const std::string& programDir,
                 QWidget* parent) {
    if (!OpenCoverTemplates(programDir, coverTable, coverXb)) return;
    {
        TCoverBrowse browse(coverTable, coverXb, programDir, parent);
        browse.SetPickMode(false);
        CenterDialog(&browse);
        browse.exec();
    }
    try {
        coverTable.close();
    } catch (const records::EXbError&) {
        // Every change made in the browser was posted there already.
    }
}

void PhoneBook(const std::string& programDir, QWidget* parent) {
    TPhoneBook book(programDir, parent);
    if (!book.OpenTable()) return;
    book.SetPickMode(false);
    CenterDialog(&book);
    book.exec();
}

}  // namespace telvane
