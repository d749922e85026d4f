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
#include "compose/render/faxrenderer.h"

#include <QFile>
#include <QStringList>

#include <algorithm>

namespace telvane::composecommands {
namespace {

// The document part as the memo sees it: its RTF followed by the list of attached documents.
class DocumentWithAttachments : public records::RichTextTarget {
public:
    DocumentWithAttachments(richtext::TRichText& control, const std::vector<render::FaxDocument>& documents)
        : memo_(control), documents_(documents) {}
    void clear() override { memo_.clear(); }
    bool loadFromFile(const std::string& path) override { return memo_.loadFromFile(path); }
    void refresh() override { memo_.refresh(); }
    bool saveToFile(const std::string& path) override {
        if (!memo_.saveToFile(path)) return false;
        QFile file(QString::fromStdString(path));
        if (!file.open(QIODevice::ReadOnly)) return false;
        const QByteArray rtf = file.readAll();
        file.close();
        const std::string listed =
            render::withDocuments(std::string_view(rtf.constData(), std::size_t(rtf.size())), documents_);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
        const bool written = file.write(listed.data(), qint64(listed.size())) == qint64(listed.size());
        return file.flush() && written;
    }

private:
    richtext::RichTextMemo memo_;
    const std::vector<render::FaxDocument>& documents_;
};

void fillFromRecord(editor::TFaxEditor& editor, records::RecordSet& faxTable, records::TXbAccess& faxXb,
                    const std::string& programDir, bool clone) {
    richtext::LoadRichText(*editor.RichCover, "RTFCOVER", faxXb, programDir);
    richtext::LoadRichText(*editor.RichDoc, "RTFDOC", faxXb, programDir);
    editor.setDocuments(render::documentsFromRecord(faxXb, programDir));
    const records::Row row = faxTable.currentRow();
    editor.Recipient->setText(QString::fromStdString(row.text("RECIPIENT")));
    const QString subject = QString::fromStdString(row.text("SUBJECT"));
    editor.Subject->setText(clone ? QStringLiteral("[clone]") + subject : subject);
    editor.FaxNumber->setText(QString::fromStdString(row.text("PHONE")));
}

// Stores the editor's fax in the buffer of faxTable (appended or in edit).
void storeFax(editor::TFaxEditor& editor, records::RecordSet& faxTable, records::TXbAccess& faxXb,
              const std::string& programDir) {
    faxTable.fieldByName("RECIPIENT").setString(editor.Recipient->text().toStdString());
    faxTable.fieldByName("SUBJECT").setString(editor.Subject->text().toStdString());
    faxTable.fieldByName("PHONE").setString(editor.FaxNumber->text().toStdString());
    if (!richtext::SaveRichText(*editor.RichCover, "RTFCOVER", faxXb, programDir))
        throw editorkit::memoError("RTFCOVER", faxXb.lastError());
    DocumentWithAttachments document(*editor.RichDoc, editor.documents());
    if (!records::SaveRichText(document, "RTFDOC", faxXb, programDir))
        throw editorkit::memoError("RTFDOC", faxXb.lastError());
}

// Runs the filled editor until the fax is appended (true) or the user cancels.
bool appendFromEditor(editor::TFaxEditor& editor, records::RecordSet& faxTable, records::TXbAccess& faxXb,
                      const std::string& programDir) {
    while (editor.exec() == 1) {
        const bool written = editorkit::writeRecord(
            faxTable, true,
            [&] {
                app::letMessagesRun();
                storeFax(editor, faxTable, faxXb, programDir);
            },
            QStringLiteral("The fax could not be saved."));
        if (!written) continue;
        editor.keepDocuments();
        app::letMessagesRun();
        records::FaxTableCloseAndOpen(faxTable, faxXb, [] { app::letMessagesRun(); });
        app::letMessagesRun();
        return true;
    }
    return false;
}

}  // namespace

bool newFax(records::RecordSet& faxTable, records::TXbAccess& faxXb, const std::string& programDir, bool clone,
            QWidget* parent) {
    editor::TFaxEditor editor(programDir, parent);
    if (clone && app::hasVisibleRecords(faxTable)) {
        fillFromRecord(editor, faxTable, faxXb, programDir, true);
    } else {
        editorkit::applyDefaultFont(*editor.RichCover, app::appSettings());
        editorkit::applyDefaultFont(*editor.RichDoc, app::appSettings());
    }
    return appendFromEditor(editor, faxTable, faxXb, programDir);
}

bool newFaxWithDocuments(records::RecordSet& faxTable, records::TXbAccess& faxXb, const std::string& programDir,
                         const QStringList& documentPaths, QWidget* parent) {
    editor::TFaxEditor editor(programDir, parent);
    editorkit::applyDefaultFont(*editor.RichCover, app::appSettings());
    editorkit::applyDefaultFont(*editor.RichDoc, app::appSettings());
    editor.addDocuments(documentPaths);
    if (!appendFromEditor(editor, faxTable, faxXb, programDir)) return false;
    // Saved without one of them (it could not be read, or the user removed it): not made into a fax.
    const QStringList attached = editor.attachedSources();
    return std::all_of(documentPaths.begin(), documentPaths.end(),
                       [&attached](const QString& path) { return attached.contains(path); });
}

bool editFax(records::RecordSet& faxTable, records::TXbAccess& faxXb, const std::string& programDir, QWidget* parent) {
    if (!app::visibleRecordsOrBeep(faxTable)) return false;
    const uint32_t recno = faxTable.recNo();
    editor::TFaxEditor editor(programDir, parent);
    fillFromRecord(editor, faxTable, faxXb, programDir, false);
    while (editor.exec() == 1) {
        const bool written = editorkit::writeRecord(
            faxTable, false, [&] { storeFax(editor, faxTable, faxXb, programDir); },
            QStringLiteral("The changes to the fax could not be saved."));
        if (written) {
            editor.keepDocuments();
            // Copies of documents the fax no longer lists go once the record is on disk.
            if (records::Table* table = faxTable.table()) render::removeUnnamedDocuments(programDir, *table);
            return true;
        }
        try {
            faxTable.go(recno);
        } catch (const records::EXbError&) {
            // The record is gone; the next attempt reports the engine's refusal again.
        }
    }
    return false;
}

void coverSheets(records::RecordSet& coverTable, records::TXbAccess& coverXb, const std::string& programDir,
                 QWidget* parent) {
    if (!cover::openCoverTemplates(programDir, coverTable, coverXb)) return;
    {
        cover::TCoverBrowse browse(coverTable, coverXb, programDir, parent);
        browse.setPickMode(false);
        app::centerDialog(&browse);
        browse.exec();
    }
    try {
        coverTable.close();
    } catch (const records::EXbError&) {
        // Every change made in the browser was posted there already.
    }
}

void phoneBook(const std::string& programDir, QWidget* parent) {
    phonebook::TPhoneBook book(programDir, parent);
    if (!book.openTable()) return;
    book.setPickMode(false);
    app::centerDialog(&book);
    book.exec();
}

}  // namespace telvane::composecommands
