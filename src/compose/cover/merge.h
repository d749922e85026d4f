// Merge fields of cover templates: the five insert points (tag, insert-menu caption, placeholder),
// the values they take in a fax (recipient, fax number and subject as typed, today's date in the
// short format, the time in the long format, each cut to 100 characters), and loading a template
// into a fax's cover sheet: the text copied, every insert point given its value, markers hidden.
#pragma once

#include <QDateTime>
#include <QString>

#include <string>
#include <vector>

#include "records/xb_access.h"

namespace telvane::richtext {
class TRichText;
}  // namespace telvane::richtext

namespace telvane::cover {

struct MergeField {
    QString caption;      // insert-menu item
    int tag;              // insert-point tag, > 0
    QString placeholder;  // text shown in the template until merged
};

// Recipient 1 "[RECIPIENT]", Fax Number 2 "[FAX#]", Subject 3 "[SUBJECT]", Date 4 "[DATE]", Time 5 "[TIME]".
const std::vector<MergeField>& mergeFields();

// The field whose caption matches, in upper case and without accelerator marks; nullptr when none.
const MergeField* mergeFieldForCaption(const QString& caption);

inline constexpr int kMaxMergeValueLength = 100;

struct MergeSource {
    QString recipient;
    QString faxNumber;
    QString subject;
    QDateTime now;
};

// Date in the system's short format; time in its long format (without a time-zone name).
QString mergeDateText(const QDate& date);
QString mergeTimeText(const QTime& time);

// The value of a tag, cut to kMaxMergeValueLength; a null string for a tag without a value.
QString mergeValue(int tag, const MergeSource& source);

// Replaces the cover sheet by the template of coverXb's current record (COVER), re-lays it out,
// merges every insert point through the part's GetTextToInsert and hides the markers.
// False when the template could not be read (the part is then empty).
bool loadTemplate(richtext::TRichText& cover, records::TXbAccess& coverXb, const std::string& programDir);

}  // namespace telvane::cover
