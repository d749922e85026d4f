// RTF reader: turns RTF 1.x as common word processors write it into a Document. Unknown and
// ignorable destinations are skipped; \uN Unicode with its fallback, Windows-1252 bytes, \par, \line,
// \tab, \page and \pagebb are understood; tables come out as text (cells separated by tabs, one
// paragraph per row); pictures, objects, headers and footers are skipped. Insert points are read
// back from the fields the writer stores them in.
// Malformed input (unbalanced braces, truncation, huge numbers, deep nesting) yields whatever could
// be read; the reader never crashes and never recurses.
#pragma once

#include <string_view>

#include "compose/rtf/rtfdocument.h"

namespace telvane::rtf {

// True when the data starts (after white space) with "{\rtf".
bool looksLikeRtf(std::string_view data);

Document readRtf(std::string_view data);

// A document made of plain text: lines end at CR LF, LF or CR; UTF-8 when the bytes are valid
// UTF-8, Windows-1252 otherwise.
Document readPlainText(std::string_view data);

// The tag of an insert-point field instruction, or 0 when the instruction is not one.
int insertPointTagOf(std::string_view instruction);

}  // namespace telvane::rtf
