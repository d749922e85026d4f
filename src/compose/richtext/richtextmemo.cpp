// Rich text <-> memo field (see richtextmemo.h).
#include "compose/richtext/richtextmemo.h"

#include "compose/richtext/trichtext.h"

namespace telvane::richtext {

void RichTextMemo::clear() {
    control_.clearAll();
    if (page_ == MemoPage::Reset) control_.setPageLayout(richdoc::PageLayoutTwips{});
}

bool RichTextMemo::loadFromFile(const std::string& path) { return control_.loadFromFile(QString::fromStdString(path)); }

bool RichTextMemo::saveToFile(const std::string& path) { return control_.saveToFile(QString::fromStdString(path)); }

void RichTextMemo::refresh() { control_.reLayout(); }

bool LoadRichText(TRichText& control, const std::string& memoField, records::TXbAccess& xb,
                  const std::string& programDir, MemoPage page) {
    RichTextMemo target(control, page);
    return records::LoadRichText(target, memoField, xb, programDir);
}

bool SaveRichText(TRichText& control, const std::string& memoField, records::TXbAccess& xb,
                  const std::string& programDir) {
    RichTextMemo target(control);
    return records::SaveRichText(target, memoField, xb, programDir);
}

}  // namespace telvane::richtext
