// Rich text <-> memo field (see richtextmemo.h).
#include "compose/editor/richtextmemo.h"

#include "compose/richtext/trichtext.h"

namespace telvane {

void RichTextMemo::clear() { editor_.Clear(); }

bool RichTextMemo::loadFromFile(const std::string& path) {
  return editor_.LoadFromFile(QString::fromStdString(path));
}

bool RichTextMemo::saveToFile(const std::string& path) { return editor_.SaveToFile(QString::fromStdString(path)); }

void RichTextMemo::refresh() {
  editor_.ReLayout();
  editor_.Repaint();
}

bool LoadRichText(TRichText& editor, const std::string& memoField, records::TXbAccess& xb,
                  const std::string& programDir) {
  RichTextMemo target(editor);
  return records::LoadRichText(target, memoField, xb, programDir);
}

bool SaveRichText(TRichText& editor, const std::string& memoField, records::TXbAccess& xb,
                  const std::string& programDir) {
  RichTextMemo target(editor);
  return records::SaveRichText(target, memoField, xb, programDir);
}

}  // namespace telvane
