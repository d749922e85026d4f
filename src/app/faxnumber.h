// Fax numbers as the user types them and as the modem is given them, in Qt terms: the windows'
// side of the one dial-number rule (settings/dialnumber.h) that telvane-fax follows as well.
// A number with characters a modem cannot dial ("call me maybe!") is refused where it is typed.
#pragma once

#include <QString>

namespace telvane::app {

// The characters of `number` that a fax number cannot hold, each once, in order of appearance;
// empty when the number is fine (an empty number is fine here: blank numbers are refused where
// a number is needed).
QString faxNumberBadCharacters(const QString& number);

// The message for a number that holds such characters; empty when the number is fine.
QString faxNumberProblem(const QString& number);

// The number as the modem dials it: digits, the modifiers (upper case), * and #; blanks and the
// readability marks + - ( ) . are dropped.
QString dialableNumber(const QString& number);

}  // namespace telvane::app
