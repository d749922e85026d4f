// Fax number rules (see faxnumber.h).
#include "app/faxnumber.h"

namespace telvane {

namespace {

bool isReadabilityMark(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('+') || c == QLatin1Char('-') ||
           c == QLatin1Char('(') || c == QLatin1Char(')') || c == QLatin1Char('.');
}

bool isDialable(QChar c) {
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) return true;
    switch (c.toUpper().unicode()) {
    case ',':
    case 'W':
    case 'P':
    case 'T':
    case '!':
    case '@':
    case '*':
    case '#': return true;
    default: return false;
    }
}

}  // namespace

QString faxNumberBadCharacters(const QString& number) {
    QString bad;
    for (QChar c : number)
        if (!isDialable(c) && !isReadabilityMark(c) && !bad.contains(c)) bad += c;
    return bad;
}

QString faxNumberProblem(const QString& number) {
    const QString bad = faxNumberBadCharacters(number);
    if (bad.isEmpty()) return {};
    QString shown;
    for (QChar c : bad) {
        if (!shown.isEmpty()) shown += QLatin1Char(' ');
        shown += QLatin1Char('"') + QString(c) + QLatin1Char('"');
    }
    return QStringLiteral(
               "The fax number \"%1\" holds characters a modem cannot dial: %2.\r\n\r\n"
               "Use digits, blanks, + - ( ) . and the dial signs , W P T ! @ * #.")
        .arg(number, shown);
}

QString dialableNumber(const QString& number) {
    QString out;
    for (QChar c : number)
        if (isDialable(c)) out += c.toUpper();
    return out;
}

}  // namespace telvane
