// Starter cover templates (see startertemplates.h).
#include "compose/cover/startertemplates.h"

#include <QDir>
#include <QStringList>

#include <vector>

#include "compose/cover/merge.h"
#include "compose/editorkit/defaultfont.h"
#include "compose/editorkit/recordwrite.h"
#include "compose/richtext/richtextmemo.h"
#include "compose/richtext/trichtext.h"
#include "app/appstate.h"
#include "records/fax_tables.h"

namespace telvane::cover {
namespace {

struct Starter {
    QString description;
    QString heading;
    QString closing;
    bool withTime;
};

const std::vector<Starter>& starters() {
    static const std::vector<Starter> list = {
        {QStringLiteral("Business"), QStringLiteral("FAX"),
         QStringLiteral("Please call us if any page is missing or cannot be read."), false},
        {QStringLiteral("Personal"), QStringLiteral("A fax for you"), QStringLiteral("With best wishes."), false},
        {QStringLiteral("Urgent"), QStringLiteral("URGENT FAX"),
         QStringLiteral("Please hand this fax to the recipient at once."), true},
    };
    return list;
}

void writeText(richtext::TRichText& text, const QString& s, int size, int style) {
    richtext::TextAttributes a = text.currentAttributes();
    a.size = size;
    a.style = style;
    text.setInputAttributes(a);
    text.insertPlainText(s);
}

// One line "label" + the merge field of `tag`.
void writeField(richtext::TRichText& text, const QString& label, int tag) {
    writeText(text, label, 12, richtext::kStyleBold);
    for (const MergeField& f : mergeFields()) {
        if (f.tag == tag) {
            writeText(text, QString(), 12, 0);
            text.insertInsertPoint(f.tag, f.placeholder);
        }
    }
    writeText(text, QStringLiteral("\n"), 12, 0);
}

void compose(richtext::TRichText& text, const Starter& s) {
    text.clearAll();
    editorkit::applyDefaultFont(text, app::appSettings());
    writeText(text, s.heading + QStringLiteral("\n\n"), 28, richtext::kStyleBold);
    writeField(text, QStringLiteral("To:\t\t"), 1);
    writeField(text, QStringLiteral("Fax number:\t"), 2);
    writeField(text, QStringLiteral("Subject:\t"), 3);
    writeField(text, QStringLiteral("Date:\t\t"), 4);
    if (s.withTime) writeField(text, QStringLiteral("Time:\t\t"), 5);
    writeText(text, QStringLiteral("\n") + s.closing + QStringLiteral("\n"), 12, s.withTime ? richtext::kStyleBold : 0);
}

void addStarters(records::RecordSet& table, records::TXbAccess& xb, const std::string& dir) {
    richtext::TRichText text;
    for (const Starter& s : starters()) {
        compose(text, s);
        editorkit::writeRecord(
            table, true,
            [&] {
                table.fieldByName("DESCRIPT").setString(s.description.toStdString());
                if (!richtext::SaveRichText(text, "COVER", xb, dir))
                    throw editorkit::memoError("COVER", xb.lastError());
            },
            QStringLiteral("The starter cover template \"%1\" could not be saved.").arg(s.description));
    }
    try {
        table.first();
    } catch (const records::EXbError&) {
        // An empty table has no first record; the browser shows it empty.
    }
}

}  // namespace

QStringList starterCoverDescriptions() {
    QStringList out;
    for (const Starter& s : starters()) out << s.description;
    return out;
}

bool openCoverTemplates(const std::string& dir, records::RecordSet& coverTable, records::TXbAccess& coverXb) {
    // Table file names are matched without regard to case, as the table engine does.
    const bool fresh = !QDir(QString::fromStdString(dir))
                            .entryList(QDir::Files)
                            .contains(QString::fromStdString(records::coverTableSpec().fileName), Qt::CaseInsensitive);
    if (!records::OpenCoverDBF(dir, coverTable, coverXb)) return false;
    if (fresh && coverTable.recCount() == 0) addStarters(coverTable, coverXb, dir);
    return true;
}

}  // namespace telvane::cover
