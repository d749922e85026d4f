// RTF writer: produces standard RTF 1.x (Windows-1252, \uN for other characters) from a Document:
// font table, colour table, page layout, bold/italic/underline, sizes, colours, alignment, indents,
// spacing, line height, page breaks (\pagebb) and insert points. An insert point is written as a
// standard field, {\field{\*\fldinst MERGEFIELD TelvaneInsertPoint<tag>}{\fldrslt marker text}},
// so other word processors show its placeholder and the reader finds its tag again.
#pragma once

#include <string>

#include "compose/rtf/rtfdocument.h"

namespace telvane::rtf {

std::string writeRtf(const Document& doc);

}  // namespace telvane::rtf
