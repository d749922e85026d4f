// Merge fields (see merge.h).
#include "compose/cover/merge.h"

#include <QLocale>
#include <QRegularExpression>

#include "compose/richtext/richtextmemo.h"
#include "compose/richtext/trichtext.h"

namespace telvane::cover {

const std::vector<MergeField>& mergeFields() {
    static const std::vector<MergeField> fields = {
        {QStringLiteral("Recipient"), 1, QStringLiteral("[RECIPIENT]")},
        {QStringLiteral("Fax Number"), 2, QStringLiteral("[FAX#]")},
        {QStringLiteral("Subject"), 3, QStringLiteral("[SUBJECT]")},
        {QStringLiteral("Date"), 4, QStringLiteral("[DATE]")},
        {QStringLiteral("Time"), 5, QStringLiteral("[TIME]")},
    };
    return fields;
}

const MergeField* mergeFieldForCaption(const QString& caption) {
    QString key = caption.toUpper();
    key.remove(QLatin1Char('&'));
    for (const MergeField& field : mergeFields())
        if (key == field.caption.toUpper()) return &field;
    return nullptr;
}

QString mergeDateText(const QDate& date) { return QLocale::system().toString(date, QLocale::ShortFormat); }

QString mergeTimeText(const QTime& time) {
    // The long format may name the time zone ("t"), which a clock time on a cover sheet does not carry.
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b"));
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(zone);
    return QLocale::system().toString(time, format.trimmed());
}

QString mergeValue(int tag, const MergeSource& source) {
    QString value;
    switch (tag) {
    case 1: value = source.recipient; break;
    case 2: value = source.faxNumber; break;
    case 3: value = source.subject; break;
    case 4: value = mergeDateText(source.now.date()); break;
    case 5: value = mergeTimeText(source.now.time()); break;
    default: return QString();
    }
    if (value.isNull()) value = QLatin1String("");
    return value.left(kMaxMergeValueLength);
}

bool loadTemplate(richtext::TRichText& cover, records::TXbAccess& coverXb, const std::string& programDir) {
    const bool loaded = richtext::LoadRichText(cover, "COVER", coverXb, programDir);
    cover.reLayout();
    cover.repaintDocument();
    cover.mergeInsertPoints();
    cover.setHideInsertPointMarks(true);
    return loaded;
}

}  // namespace telvane::cover
