// Fax number rules in Qt terms (see faxnumber.h), on the shared rule of settings/dialnumber.h.
#include "app/faxnumber.h"

#include "settings/dialnumber.h"

namespace telvane::app {

QString faxNumberBadCharacters(const QString& number) {
    QString bad;
    for (QChar c : number)
        if (!settings::isDialableCharacter(c.unicode()) && !settings::isReadabilityMark(c.unicode()) &&
            !bad.contains(c))
            bad += c;
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
    return QString::fromStdString(settings::dialableNumber(number.toStdString()));
}

}  // namespace telvane::app
