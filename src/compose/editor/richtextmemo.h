// Moving rich text between a TRichText and a memo field of the current record, through the
// transfer file "Eraseme.rtf" in the program's directory (see records/fax_tables.h for the rules:
// a memo that cannot be written out leaves the control empty; the file is left after a save).
#pragma once

#include <string>

#include "records/fax_tables.h"

namespace telvane {

class TRichText;

// The rich-text control as the memo transfer sees it.
class RichTextMemo : public records::RichTextTarget {
 public:
  explicit RichTextMemo(TRichText& editor) : editor_(editor) {}
  void clear() override;
  bool loadFromFile(const std::string& path) override;
  bool saveToFile(const std::string& path) override;
  void refresh() override;

 private:
  TRichText& editor_;
};

// Memo of the current record -> control. False when nothing was loaded (the control is then empty).
bool LoadRichText(TRichText& editor, const std::string& memoField, records::TXbAccess& xb,
                  const std::string& programDir);
// Control -> memo of the current record. False when the transfer file could not be written or stored.
bool SaveRichText(TRichText& editor, const std::string& memoField, records::TXbAccess& xb,
                  const std::string& programDir);

}  // namespace telvane
