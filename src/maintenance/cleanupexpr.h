// Texts and xBase expressions of the log clean-up's group deletions. A value taken from a record
// or typed by the user only ever becomes a text literal of the expression: it is converted to the
// tables' code page, and written as one or more quoted pieces joined by "+", each piece quoted with
// a delimiter it does not contain (the expression language has no escape inside a literal), so no
// character of the value can end the literal or add operators.
#pragma once

#include <QDate>
#include <QString>

#include <string>

namespace telvane::maintenance {

// A text literal for the expression language holding exactly these code-page bytes.
std::string xbTextLiteral(const std::string& cp1252);

// "(F<CTOD("mm/dd/yyyy")) .and. (.not. EMPTY(F))": dated before the day, empty dates left out.
std::string beforeDateExpression(const std::string& dateField, const QDate& date);

// Condition of the conditions dialog on field F for the typed text: the text is trimmed and
// upper-cased (as UPPER() does on the stored text); exact: ALLTRIM(UPPER(F))==value, partial:
// value$ALLTRIM(UPPER(F)). Empty when nothing is left of the text.
std::string matchExpression(const std::string& field, const QString& typed, bool exact);

// The typed text as it is compared: code page, blanks removed at both ends, upper case.
std::string matchValue(const QString& typed);

inline constexpr const char* kSentExpression = ".not. EMPTY(DATESENT)";
inline constexpr const char* kNotSentExpression = "EMPTY(DATESENT)";
inline constexpr const char* kAllExpression = ".true.";

}  // namespace telvane::maintenance
