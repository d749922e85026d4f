// Date and time texts of log records.
#include "shell/logdatetime.h"

#include <QDate>
#include <QTime>

namespace telvane {
namespace {

QTime readTime(const QString& text) {
    const QString t = text.trimmed();
    for (const char* format : {"H:mm", "H:mm:ss", "H:m", "H:m:s"}) {
        const QTime time = QTime::fromString(t, QLatin1String(format));
        if (time.isValid()) return time;
    }
    return {};
}

}  // namespace

QString formatLogDateTime(const records::Date& date, const QString& storedTime, const QLocale& locale) {
    const QDate d(date.year, date.month, date.day);
    const QString dateText =
        !date.isEmpty() && d.isValid() ? locale.toString(d, QLocale::ShortFormat) : QStringLiteral("unknown");
    const QTime time = readTime(storedTime);
    const QString timeText = time.isValid() ? locale.toString(time, QLocale::ShortFormat) : storedTime;
    return dateText + QStringLiteral(" at ") + timeText;
}

QString formatSentDateTime(bool sent, const records::Date& date, const QString& storedTime, const QLocale& locale) {
    if (!sent) return QStringLiteral("not sent");
    return formatLogDateTime(date, storedTime, locale);
}

}  // namespace telvane
