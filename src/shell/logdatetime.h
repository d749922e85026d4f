// The "sent" and "received" texts of a log record: the date in the user's short date format, " at ",
// and the stored "hh:mm" time in the short time format. An outgoing fax not yet sent reads
// "not sent"; a date that cannot be formatted reads "unknown"; a time that does not read as a time
// is shown as stored.
#pragma once

#include <QLocale>
#include <QString>

#include "records/xb_types.h"

namespace telvane {

QString formatLogDateTime(const records::Date& date, const QString& storedTime, const QLocale& locale);
// The outgoing form: "not sent" unless sent.
QString formatSentDateTime(bool sent, const records::Date& date, const QString& storedTime, const QLocale& locale);

}  // namespace telvane
