// Starter cover templates (see startertemplates.h).
#include "compose/cover/startertemplates.h"

#include <QDir>
#include <QFontMetricsF>
#include <QStringList>

#include <algorithm>
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

// One line: the bold label, `tabs` tabs, then the merge field of `tag`.
void writeField(richtext::TRichText& text, const QString& label, int tabs, int tag) {
    writeText(text, label + QString(tabs, QLatin1Char('\t')), 12, richtext::kStyleBold);
    for (const MergeField& f : mergeFields()) {
        if (f.tag == tag) {
            writeText(text, QString(), 12, 0);
            text.insertInsertPoint(f.tag, f.placeholder);
        }
    }
    writeText(text, QStringLiteral("\n"), 12, 0);
}

struct FieldLine {
    QString label;
    int tag;
};

// The labels are followed by as many tabs as each needs to reach the first tab stop past the
// widest of them (and a space's width), so that every value starts at one column whatever the
// font makes of the labels' lengths.
void writeFields(richtext::TRichText& text, const std::vector<FieldLine>& lines) {
    richtext::TextAttributes bold = text.currentAttributes();
    bold.size = 12;
    bold.style = richtext::kStyleBold;
    text.setInputAttributes(bold);
    const QFontMetricsF metrics(text.currentFont());
    const double stop = text.tabStopDistance();
    double widest = 0;
    for (const FieldLine& l : lines) widest = std::max(widest, metrics.horizontalAdvance(l.label));
    const int column = static_cast<int>((widest + metrics.horizontalAdvance(QLatin1Char(' '))) / stop) + 1;
    for (const FieldLine& l : lines) {
        const int passed = static_cast<int>(metrics.horizontalAdvance(l.label) / stop);
        writeField(text, l.label, column - passed, l.tag);
    }
}

void compose(richtext::TRichText& text, const Starter& s) {
    text.clearAll();
    editorkit::applyDefaultFont(text, app::appSettings());
    writeText(text, s.heading + QStringLiteral("\n\n"), 28, richtext::kStyleBold);
    std::vector<FieldLine> lines = {{QStringLiteral("To:"), 1},
                                    {QStringLiteral("Fax number:"), 2},
                                    {QStringLiteral("Subject:"), 3},
                                    {QStringLiteral("Date:"), 4}};
    if (s.withTime) lines.push_back({QStringLiteral("Time:"), 5});
    writeFields(text, lines);
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
