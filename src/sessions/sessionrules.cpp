// Session rules (see sessionrules.h).
#include "sessions/sessionrules.h"

#include "transport/fax/faxsession.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>

#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "settings/settings.h"

namespace telvane::sessions {

namespace {
std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}
}  // namespace

int DialWaitFromInitString(const std::string& initString) {
    const std::string up = upper(initString);
    const size_t at = up.find("S7=");
    if (at == std::string::npos) return 60;
    std::string part = up.substr(at, 6);
    while (!part.empty() && !std::isdigit(static_cast<unsigned char>(part.back()))) part.pop_back();
    if (part.size() < 4) return 60;
    const std::string digits = part.substr(3, 3);
    for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c))) return 60;
    const int value = std::stoi(digits);
    return value < 55 ? 55 : value;
}

std::string withAtPrefix(const std::string& s) { return upper(s).find("AT") != std::string::npos ? s : "AT" + s; }

QString buildHeaderText(const QString& name, const QString& stationId, const QString& shortDate,
                        const QString& shortTime) {
    QString header = QStringLiteral("Sent");
    if (!(name + stationId).trimmed().isEmpty()) header += QStringLiteral(" by");
    if (!name.isEmpty()) header += QStringLiteral(": ") + name + QString(4, QLatin1Char(' '));
    if (!stationId.isEmpty())
        header += QString(9, QLatin1Char(' ')) + QStringLiteral("$I") + QString(10, QLatin1Char(' '));
    header += QString(11, QLatin1Char(' ')) + shortDate + QString(4, QLatin1Char(' ')) + shortTime;
    header += QString(14, QLatin1Char(' ')) + QStringLiteral("Page $P of $N");
    return header;
}

int64_t secondsFromTicks(int64_t ticks) { return (ticks + 9) * 92 / 1675; }

QString clockText(int64_t seconds) {
    if (seconds < 0) seconds = 0;
    const QString text = QString::number(seconds / 60) + QLatin1Char(':') +
                         QStringLiteral("%1").arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return text.rightJustified(6, QLatin1Char(' '));
}

QString shortFileName(const QString& path) {
    qsizetype cut = -1;
    for (QChar sep : {QLatin1Char('\\'), QLatin1Char('/'), QLatin1Char(':')})
        cut = std::max(cut, path.lastIndexOf(sep));
    const QString name = path.mid(cut + 1);
    return name.size() > 20 ? name.left(20) + QStringLiteral("...") : name;
}

int pageMeterPercent(long bytes, long pageLength) {
    if (pageLength <= 0) return 0;
    return static_cast<int>(static_cast<double>(bytes) / static_cast<double>(pageLength) * 100.0 + 0.5);
}

QString receiveStatusText(const QString& statusText, const QString& remoteId, int currentPage, long bytes) {
    QString text = statusText.trimmed();
    if (text.toUpper() == QStringLiteral("GOT CLASS 2 FHNG CODE")) text = QStringLiteral("Hangup successful");
    QString bytesPart, pagePart;
    if (text == QStringLiteral("Getting page data")) {
        text = QStringLiteral("Receiving fax");
        if (bytes > 0) bytesPart = QStringLiteral(" (") + QString::number(bytes) + QStringLiteral(" bytes)");
        if (currentPage != 0) pagePart = QStringLiteral(", page ") + QString::number(currentPage);
    }
    if (!remoteId.isEmpty()) text += QStringLiteral(" from: ") + remoteId.trimmed() + pagePart + bytesPart;
    if (text.toUpper().contains(QStringLiteral("ABORT"))) text.clear();
    return text;
}

QString portCheckAdvice(int comNumber, bool receiving) {
    return QStringLiteral("\r\n\r\n") + QStringLiteral("Is the Communications Port (COM") + QString::number(comNumber) +
           QStringLiteral(") correct? Please") + QStringLiteral("\r\n") +
           (receiving ? QStringLiteral("use Find Modem Port in File > Preferences to be sure.")
                      : QStringLiteral("use Find Modem Port under the Preferences button to be sure."));
}

QString noModemResponseText(int comNumber, bool receiving) {
    const QString n = QString::number(comNumber);
    return QStringLiteral("We did not receive a modem response from COM") + n + QStringLiteral(".") +
           QStringLiteral("\r\n\r\n") +
           (receiving ? QStringLiteral("To verify the communications port, please use Find Modem Port in File > "
                                       "Preferences.")
                      : QStringLiteral("To verify the communications port, please use Find Modem Port under the "
                                       "Preferences button.")) +
           QStringLiteral("\r\n\r\n") + QStringLiteral("If you are sure there is a modem on COM") + n +
           QStringLiteral(", press CONTINUE") + QStringLiteral("\r\n") +
           QStringLiteral("to continue, otherwise press OK to stop the fax session.");
}

QString resetStringFailureText(const QString& resetString, int comNumber, bool receiving) {
    return QStringLiteral(
               "We are unable to continue the fax session. \r\n\r\nThe modem did not respond to the reset "
               "string:   (") +
           resetString + QStringLiteral(")") + portCheckAdvice(comNumber, receiving);
}

QString receiptPrinterName(const QString& setting, const QStringList& installed, const QString& systemDefault) {
    if (setting == QLatin1String(settings::kDefaultPrinterName)) return systemDefault;
    return installed.contains(setting, Qt::CaseSensitive) ? setting : QString();
}

QString logDateTime() {
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale;
    return locale.toString(now.date(), QLocale::LongFormat) + QLatin1Char(' ') +
           locale.toString(now.time(), QLocale::LongFormat);
}

void SessionLog::add(const QString& line) {
    if (line == last_) return;
    lines_.append(line);
    last_ = line;
}

void SessionLog::clear() {
    lines_.clear();
    last_.clear();
}

bool SessionLog::save(const QString& path) {
    add(QStringLiteral("Finish: ") + logDateTime());
    QByteArray data;
    for (const QString& line : lines_) {
        QString text = line;
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
        for (const QString& part : text.split(QLatin1Char('\n'))) data += part.toUtf8() + "\r\n";
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(data);
    return file.commit();
}

bool appendSendHistory(const QString& path, const SendAttempt& a) {
    QString line = logDateTime() + QStringLiteral("  To: ") + a.recipient + QStringLiteral("  Subject: ") + a.subject +
                   QStringLiteral("  Fax#: ") + a.number + QStringLiteral("  Pages: ") + QString::number(a.pages) +
                   QStringLiteral("  Result: ") + a.result;
    // One attempt, one line, whatever the fields hold.
    line.replace(QRegularExpression(QStringLiteral("[\\r\\n]+")), QStringLiteral(" "));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return false;
    const QByteArray data = line.toUtf8() + "\r\n";
    const bool written = file.write(data) == data.size() && file.flush();
    return written && ::fsync(file.handle()) == 0;
}

QString refusedDialText(int errorCode, bool reachedRemote, const QString& number) {
    if (reachedRemote) return {};
    if (errorCode != telvane::errors::ecFaxNoCarrier && errorCode != telvane::errors::ecFaxBadModemResult) return {};
    return QStringLiteral(
               "The call to \"%1\" was not made: the modem refused the dial command or found no fax "
               "machine on the line.\r\n\r\nCheck the fax number, the dial prefix and the dial suffix, "
               "then send again.")
        .arg(number.trimmed());
}

QString faxClassRefusedText(int errorCode, int storedFaxClass) {
    if (errorCode != telvane::errors::ecFaxInitError || storedFaxClass < 1 || storedFaxClass > 3) return {};
    return QStringLiteral(
               "The modem did not accept %1, the fax class set in Preferences. Click Check Fax Class "
               "in Preferences to see which classes it supports.")
        .arg(QString::fromStdString(settings::FaxClassName(storedFaxClass)));
}

QString sendStatusText(int status, const QString& engineText, int currentPage, int totalPages) {
    using namespace telvane::transport;
    if ((status != fpSendPageStatus && status != fpPageOK) || currentPage <= 0) return engineText;
    if (status == fpSendPageStatus) {
        const QString page = totalPages > 0 ? QStringLiteral("Page %1 of %2").arg(currentPage).arg(totalPages)
                                            : QStringLiteral("Page %1").arg(currentPage);
        return page + QStringLiteral(" is with the modem, waiting for the far end to confirm it");
    }
    if (totalPages > 0 && currentPage < totalPages)
        return QStringLiteral("Page %1 of %2 sent, more pages follow").arg(currentPage).arg(totalPages);
    return totalPages > 0 ? QStringLiteral("Page %1 of %2 sent, ending the fax").arg(currentPage).arg(totalPages)
                          : QStringLiteral("Page %1 sent, ending the fax").arg(currentPage);
}

int sendMeterPercent(int status, long bytes, long pageLength) {
    if (status == telvane::transport::fpPageOK) return 100;
    if (status == telvane::transport::fpSendPageStatus) return 99;
    return std::min(99, pageMeterPercent(bytes, pageLength));
}

QString currentPageText(int currentPage, int totalPages, bool hasCoverFile) {
    if (currentPage <= 0) return hasCoverFile ? QStringLiteral("<cover page>") : QStringLiteral("-");
    if (totalPages > 0) return QStringLiteral("%1 of %2").arg(currentPage).arg(totalPages);
    return QString::number(currentPage);
}

}  // namespace telvane::sessions
