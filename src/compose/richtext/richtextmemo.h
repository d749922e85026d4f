// Moving rich text between a TRichText and a memo field of the current record, through the
// transfer file "Eraseme.rtf" in the given directory (see records/fax_tables.h for the rules:
// a memo that cannot be written out leaves the control empty; the file is left after a save).
// The one adapter of TRichText to the memo transfer, for the editors and for rendering alike.
#pragma once

#include <string>

#include "records/fax_tables.h"

namespace telvane::richtext {

class TRichText;

// The page a load starts from. The editors keep the page the window set (an RTF without a page
// layout of its own is shown on it); rendering starts every part from the default page.
enum class MemoPage { Keep, Reset };

// The rich-text control as the memo transfer sees it.
class RichTextMemo : public records::RichTextTarget {
public:
    explicit RichTextMemo(TRichText& control, MemoPage page = MemoPage::Keep) : control_(control), page_(page) {}
    void clear() override;
    bool loadFromFile(const std::string& path) override;
    bool saveToFile(const std::string& path) override;
    void refresh() override;

private:
    TRichText& control_;
    MemoPage page_;
};

// Memo of the current record -> control. False when nothing was loaded (the control is then empty).
bool LoadRichText(TRichText& control, const std::string& memoField, records::TXbAccess& xb,
                  const std::string& programDir, MemoPage page = MemoPage::Keep);
// Control -> memo of the current record. False when the transfer file could not be written or stored.
bool SaveRichText(TRichText& control, const std::string& memoField, records::TXbAccess& xb,
                  const std::string& programDir);

}  // namespace telvane::richtext
