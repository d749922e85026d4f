#include "maintenance/configreport.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace telvane::maintenance {

namespace {

constexpr const char* kProductName = "Telvane";
constexpr const char* kEngineVersion = "v3.04";
const QDate kBuildDate(2000, 10, 26);

QString yesNo(bool on) { return on ? QStringLiteral("Yes") : QStringLiteral("No"); }
QString qs(const std::string& s) { return QString::fromStdString(s); }

void addSessionLog(QStringList& out, const QString& path, const QString& heading) {
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly)) return;
    QString text = QString::fromUtf8(file.readAll());
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    out << QString() << heading << QString();
    out << lines;
    out << QString();
}

// The COM number (1-based) whose [Ports] device is this node, 0 when none is.
int comNumberOf(const Settings& settings, const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (int i = 0; i < ports::kPortCount; ++i) {
        const QString port = qs(settings.Ports[i]);
        if (port.isEmpty()) continue;
        if (port == path) return i + 1;
        const QString portCanonical = QFileInfo(port).canonicalFilePath();
        if (!canonical.isEmpty() && portCanonical == canonical) return i + 1;
    }
    return 0;
}

}  // namespace

qint64 colourCount(int bitsPerPixel) {
    switch (bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 15:
    case 16: return qint64(1) << bitsPerPixel;
    case 24:
    case 32: return 16777216;
    default: return bitsPerPixel;
    }
}

QStringList runningProgramEntries(const std::vector<ProcessEntry>& processes, qint64 ownPid) {
    static const char* const kLeftOut[] = {"TConfigurationInfo", "TInputQueryForm", "TStandardFaxPrinterStatusDisplay",
                                           "TStartingFaxForm",   "OleDdeWndClass",  "OleMainThreadWndClass",
                                           kProductName};
    QStringList entries;
    for (const ProcessEntry& p : processes) {
        if (p.pid == ownPid) continue;
        const QString title = p.name.trimmed();
        if (title.isEmpty()) continue;
        const QString program = p.program.trimmed().isEmpty() ? title : p.program.trimmed();
        const QString entry = title + QStringLiteral("  (") + program + QLatin1Char(')');
        bool leftOut = entry.toUpper().contains(QLatin1String("KESTRELFX"));
        for (const char* word : kLeftOut) leftOut = leftOut || entry.contains(QLatin1String(word));
        if (!leftOut) entries << entry;
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    // Many processes of one program (shells, compilers) are listed once.
    entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
    return entries;
}

QStringList BuildConfigurationReport(const SystemProbe& probe, const Settings& s, const PrintOptions& print,
                                     const std::string& programDir) {
    const QLocale loc = probe.locale();
    const auto number = [&loc](uint64_t n) { return loc.toString(qulonglong(n)); };
    QStringList r;

    r << loc.toString(probe.today(), QLocale::LongFormat) << QString() << QStringLiteral("[Product]");
    r << QStringLiteral("Program:     \t") + QLatin1String(kProductName);
    r << QStringLiteral("Version:     \t") + QLatin1String(kProgramVersion);
    r << QStringLiteral("Build Date:  \t") + loc.toString(kBuildDate, QLocale::ShortFormat);
    r << QStringLiteral("Fax Engine:  \t") + QLatin1String(kEngineVersion);

    r << QString() << QStringLiteral("[Environment]");
    if (probe.screenSaverActive()) r << QStringLiteral("Screen Saver:\tPossible Active Screen Saver Detected");

    // The system line: distribution, then kernel release, kernel build and machine.
    r << QStringLiteral("Windows:     \t") + probe.osName() + QStringLiteral(" (version ") + probe.kernelRelease() +
             QStringLiteral(" build:") + probe.kernelVersion() + QLatin1Char(' ') + probe.machine() + QLatin1Char(')');
    r << QStringLiteral("CPU:         \tProcessor:  ") + probe.processorModel();
    const std::optional<ScreenInfo> screen = probe.screen();
    if (screen) {
        r << QStringLiteral("Video:       \t") + QString::number(screen->width) + QStringLiteral(" x ") +
                 QString::number(screen->height) + QStringLiteral(" x ") +
                 loc.toString(colourCount(screen->bitsPerPixel)) + QStringLiteral(" colors");
        QString font = QStringLiteral("Custom font size in use");
        if (screen->dotsPerInch == 96) font = QStringLiteral("Small Fonts in use");
        if (screen->dotsPerInch == 120) font = QStringLiteral("Large Fonts in use");
        r << QStringLiteral("Font:        \t") + font;
    } else {
        r << QStringLiteral("Video:       \t") << QStringLiteral("Font:        \t");
    }
    const std::optional<MemoryInfo> mem = probe.memory();
    const auto pair = [&](uint64_t total, uint64_t avail) {
        return QStringLiteral("Total: ") + number(total) + QStringLiteral(";    Available: ") + number(avail);
    };
    if (mem) {
        r << QStringLiteral("Memory Load: \t") + QString::number(mem->loadPercent);
        r << QStringLiteral("Phys Memory: \t") + pair(mem->physTotal, mem->physAvailable);
        r << QStringLiteral("Page File:   \t") + pair(mem->swapTotal, mem->swapAvailable);
        r << QStringLiteral("Virt Memory: \t") + pair(mem->virtualTotal, mem->virtualAvailable);
    } else {
        r << QStringLiteral("Memory Load: \t") << QStringLiteral("Phys Memory: \t") << QStringLiteral("Page File:   \t")
          << QStringLiteral("Virt Memory: \t");
    }
    r << QStringLiteral("Language:    \tUser: ") + probe.userLanguage() + QStringLiteral(";    System: ") +
             probe.systemLanguage();
    r << QStringLiteral("Country:     \tUser: ") + probe.userCountry() + QStringLiteral(";    System: ") +
             probe.systemCountry();
    r << QStringLiteral("Date Format: \tShort: ") + loc.dateFormat(QLocale::ShortFormat) +
             QStringLiteral(";    Long: ") + loc.dateFormat(QLocale::LongFormat);
    r << QStringLiteral("Time Format: \tShort: ") + loc.timeFormat(QLocale::ShortFormat) +
             QStringLiteral(";    Long: ") + loc.timeFormat(QLocale::LongFormat);

    r << QString();
    if (const auto devices = probe.serialDevices()) {
        r << QStringLiteral("[Modem Settings in Registry]") << QString();
        bool first = true;
        for (const SerialDevice& d : *devices) {
            if (!first) r << QString();
            first = false;
            if (!d.manufacturer.isEmpty()) r << QStringLiteral("Manufacturer:         \t") + d.manufacturer;
            if (!d.product.isEmpty() || !d.usbId.isEmpty()) {
                QString model = d.product;
                if (!d.usbId.isEmpty())
                    model += (model.isEmpty() ? QString() : QStringLiteral(" ")) + QStringLiteral("(USB ") + d.usbId +
                             QLatin1Char(')');
                r << QStringLiteral("Model:                \t") + model;
            }
            if (!d.driver.isEmpty()) r << QStringLiteral("Driver:               \t") + d.driver;
            QString port = d.path;
            if (const int com = comNumberOf(s, d.path)) port += QStringLiteral(" (COM%1)").arg(com);
            r << QStringLiteral("Port:                 \t") + port;
        }
    }
    r << QString() << QString();

    r << QLatin1Char('[') + qs(settingsPath(programDir)) + QLatin1Char(']') << QString();

    const QString toneOrPulse = s.Dialing.ToneOrPulse == 0   ? QStringLiteral("Tone")
                                : s.Dialing.ToneOrPulse == 1 ? QStringLiteral("Pulse")
                                                             : QStringLiteral("unknown");
    r << QStringLiteral("{general}");
    r << QStringLiteral("COM Port:             \t") + QString::number(s.Modem.ComPort + 1);
    r << QStringLiteral("Tone/Pulse:           \t") + toneOrPulse;
    r << QStringLiteral("Reset String          \t") + qs(s.Resetting.String);
    r << QStringLiteral("Post Reset String:    \t") + qs(s.Resetting.AfterString);
    r << QStringLiteral("{sending}");
    r << QStringLiteral("Fax Class:            \t") + qs(FaxClassName(s.Modem.FaxClass));
    r << QStringLiteral("Max BPS:              \t") + QString::number(s.Modem.MaximumBPS);
    r << QStringLiteral("Modem Init:           \t") + qs(s.Modem.InitString);
    r << QStringLiteral("ECM:                  \t") + yesNo(s.Dialing.ECM);
    r << QStringLiteral("Dial Prefix:          \t") + qs(s.Dialing.DialPrefix);
    r << QStringLiteral("Dial Suffix:          \t") + qs(s.Dialing.DialSuffix);
    r << QStringLiteral("Dial Attempts:        \t") + QString::number(s.Dialing.DialAttempts);
    r << QStringLiteral("Retry Wait:           \t") + QString::number(s.Dialing.RetryWait);
    r << QStringLiteral("Blind Dial:           \t") + yesNo(s.Dialing.BlindDial);
    r << QStringLiteral("Ignore Busy:          \t") + yesNo(s.Dialing.IgnoreBusy);
    r << QStringLiteral("Renegotiate Between:  \t") + yesNo(s.Modem.RenegotiateBetween);
    r << QStringLiteral("Alternate header font \t") + yesNo(s.Other.UseAlternateHeaderFont);
    r << QStringLiteral("Larger send buffer    \t") + yesNo(s.Other.GlobalLargerSendBuffer);
    r << QStringLiteral("{receiving}");
    r << QStringLiteral("Receive Fax Class:    \t") + qs(FaxClassName(s.Modem.FaxClassReceive));
    r << QStringLiteral("Receive Max BPS:      \t") + QString::number(s.Modem.MaximumBPSReceive);
    r << QStringLiteral("Receive Init String:  \t") + qs(s.Modem.InitStringReceive);
    r << QStringLiteral("Answer On Ring:       \t") + QString::number(s.Receive.AnswerOnRing);
    r << QStringLiteral("Receive Startup:      \t") + yesNo(s.Receive.AtStartup);
    r << QStringLiteral("ECM Receive:          \t") + yesNo(s.Receive.ECMReceive);
    r << QStringLiteral("WAV File:             \t") + qs(s.Receive.Wav);
    r << QStringLiteral("Print On Receipt:     \t") + yesNo(s.Receive.PrintOnReceipt);
    r << QStringLiteral("Printer (POR):        \t") + qs(s.Receive.PrintOnReceiptPrinter);
    r << QStringLiteral("Alternate naming rec  \t") + yesNo(s.Other.GlobalUseAlternateNamingRec);
    r << QStringLiteral("Larger rec buffer     \t") + yesNo(s.Other.GlobalLargerReceiveBuffer);
    r << QStringLiteral("{misc}");
    r << QStringLiteral("SM56 Fix              \t") + yesNo(s.Other.UseMotorolaSM56Fix);
    r << QStringLiteral("RAGE MOBILITY FIX     \t") + yesNo(s.Other.ImposeWaitBeforePrinting);
    r << QStringLiteral("ShowHint:             \t") + yesNo(s.Hints.On);
    r << QStringLiteral("Disable Prefix:       \t") + yesNo(s.User.PrefixDisable);
    r << QStringLiteral("Program Path          \t") + qs(programDir);
    r << QStringLiteral("{printing}");
    r << QStringLiteral("Print Multi           \t") + yesNo(print.MultiPage);
    r << QStringLiteral("Print Header          \t") + yesNo(print.Header);
    r << QStringLiteral("Print Footer          \t") + yesNo(print.Footer);
    r << QStringLiteral("Print Stretch         \t") + yesNo(print.Stretch);
    r << QString();

    r << QStringLiteral("[Other Running Applications (Window, Window Class)]") << QString();
    r << runningProgramEntries(probe.processes(), probe.ownPid());

    const QString dir = qs(programDir);
    addSessionLog(r, dir + QStringLiteral("Lastsend.log"), QStringLiteral("[Last Send Session]"));
    addSessionLog(r, dir + QStringLiteral("Lastrec.log"), QStringLiteral("[Last Receive Session]"));
    return r;
}

QByteArray reportText(const QStringList& lines) {
    QByteArray out;
    for (const QString& line : lines) out += line.toUtf8() + "\r\n";
    return out;
}

}  // namespace telvane::maintenance
