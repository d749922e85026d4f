// Helpers shared by the rich-text tests of this directory.
#pragma once

#include <QTextCursor>

#include "compose/richtext/trichtext.h"

namespace telvane::testing {

// The attributes the control reports with the caret at `position`.
inline richtext::TextAttributes attributesAt(richtext::TRichText& rt, int position) {
    QTextCursor c(rt.document());
    c.setPosition(position);
    rt.setTextCursor(c);
    return rt.currentAttributes();
}

}  // namespace telvane::testing
