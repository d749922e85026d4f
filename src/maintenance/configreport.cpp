// The configuration report (see configreport.h): its sections in order, the settings section as a
// table of rows.
#include "maintenance/configreport.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace telvane::maintenance {

namespace {

constexpr const char* kProductName = "Telvane";
constexpr const char* kEngineVersion = "v3.04";

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
int comNumberOf(const settings::Settings& settings, const QString& path) {
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

QDate buildDate() {
    // __DATE__ is "Mmm dd yyyy" in English, the day padded with a blank.
    return QLocale::c().toDate(QString::fromLatin1(__DATE__).simplified(), QStringLiteral("MMM d yyyy"));
}

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

namespace {

// Programs that matter when a fax modem misbehaves, by process name (the kernel keeps 15
// characters of it): modem managers and dial-up programs that open serial ports, daemons that
// claim serial devices, and other fax software that may hold the modem or answer calls.
constexpr const char* kFaxRelevantNames[] = {
    "ModemManager", "pppd",   "wvdial",  "gpsd",     "brltty",   "minicom",   "picocom",   "cu",
    "mgetty",       "vgetty", "sendfax", "faxrunqd", "faxq",     "faxgetty",  "hfaxd",     "faxsend",
    "faxqclean",    "efax",   "efix",    "iaxmodem", "t38modem", "c2faxrecv", "c2faxsend",
};

bool isOurProgram(const QString& name) { return name.startsWith(QLatin1String("telvane"), Qt::CaseInsensitive); }

bool mattersToFaxSupport(const QString& name, const QString& program) {
    if (isOurProgram(name) || isOurProgram(program)) return true;
    for (const char* relevant : kFaxRelevantNames)
        if (name == QLatin1String(relevant) || program == QLatin1String(relevant)) return true;
    return false;
}

}  // namespace

QStringList runningProgramEntries(const std::vector<ProcessEntry>& processes, qint64 ownPid) {
    QStringList entries;
    for (const ProcessEntry& p : processes) {
        const QString title = p.name.trimmed();
        if (title.isEmpty()) continue;
        const QString program = p.program.trimmed().isEmpty() ? title : p.program.trimmed();
        if (!mattersToFaxSupport(title, program)) continue;
        QString entry = title + QStringLiteral("  (") + program + QLatin1Char(')');
        if (p.pid == ownPid) entry += QStringLiteral("  this program");
        entries << entry;
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    // Several processes of one program are listed once.
    entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
    return entries;
}

namespace {

// What the settings section is read from.
struct ReportSettings {
    const settings::Settings& s;
    const settings::PrintOptions& print;
    const std::string& programDir;
};

// One line of the settings section: its label as the report shows it and how its value reads; a
// row without a value is a heading.
struct SettingRow {
    const char* label;
    QString (*value)(const ReportSettings&);
};

QString toneOrPulse(int setting) {
    return setting == 0 ? QStringLiteral("Tone") : setting == 1 ? QStringLiteral("Pulse") : QStringLiteral("unknown");
}

const SettingRow kSettingRows[] = {
    {"{general}", nullptr},
    {"COM Port:             \t", [](const ReportSettings& r) { return QString::number(r.s.Modem.ComPort + 1); }},
    {"Tone/Pulse:           \t", [](const ReportSettings& r) { return toneOrPulse(r.s.Dialing.ToneOrPulse); }},
    {"Reset String          \t", [](const ReportSettings& r) { return qs(r.s.Resetting.String); }},
    {"Post Reset String:    \t", [](const ReportSettings& r) { return qs(r.s.Resetting.AfterString); }},
    {"{sending}", nullptr},
    {"Fax Class:            \t",
     [](const ReportSettings& r) { return qs(settings::FaxClassName(r.s.Modem.FaxClass)); }},
    {"Max BPS:              \t", [](const ReportSettings& r) { return QString::number(r.s.Modem.MaximumBPS); }},
    {"Modem Init:           \t", [](const ReportSettings& r) { return qs(r.s.Modem.InitString); }},
    {"ECM:                  \t", [](const ReportSettings& r) { return yesNo(r.s.Dialing.ECM); }},
    {"Dial Prefix:          \t", [](const ReportSettings& r) { return qs(r.s.Dialing.DialPrefix); }},
    {"Dial Suffix:          \t", [](const ReportSettings& r) { return qs(r.s.Dialing.DialSuffix); }},
    {"Dial Attempts:        \t", [](const ReportSettings& r) { return QString::number(r.s.Dialing.DialAttempts); }},
    {"Retry Wait:           \t", [](const ReportSettings& r) { return QString::number(r.s.Dialing.RetryWait); }},
    {"Blind Dial:           \t", [](const ReportSettings& r) { return yesNo(r.s.Dialing.BlindDial); }},
    {"Ignore Busy:          \t", [](const ReportSettings& r) { return yesNo(r.s.Dialing.IgnoreBusy); }},
    {"Renegotiate Between:  \t", [](const ReportSettings& r) { return yesNo(r.s.Modem.RenegotiateBetween); }},
    {"Alternate header font \t", [](const ReportSettings& r) { return yesNo(r.s.Other.UseAlternateHeaderFont); }},
    {"Larger send buffer    \t", [](const ReportSettings& r) { return yesNo(r.s.Other.GlobalLargerSendBuffer); }},
    {"{receiving}", nullptr},
    {"Receive Fax Class:    \t",
     [](const ReportSettings& r) { return qs(settings::FaxClassName(r.s.Modem.FaxClassReceive)); }},
    {"Receive Max BPS:      \t", [](const ReportSettings& r) { return QString::number(r.s.Modem.MaximumBPSReceive); }},
    {"Receive Init String:  \t", [](const ReportSettings& r) { return qs(r.s.Modem.InitStringReceive); }},
    {"Answer On Ring:       \t", [](const ReportSettings& r) { return QString::number(r.s.Receive.AnswerOnRing); }},
    {"Receive Startup:      \t", [](const ReportSettings& r) { return yesNo(r.s.Receive.AtStartup); }},
    {"ECM Receive:          \t", [](const ReportSettings& r) { return yesNo(r.s.Receive.ECMReceive); }},
    {"WAV File:             \t", [](const ReportSettings& r) { return qs(r.s.Receive.Wav); }},
    {"Print On Receipt:     \t", [](const ReportSettings& r) { return yesNo(r.s.Receive.PrintOnReceipt); }},
    {"Printer (POR):        \t", [](const ReportSettings& r) { return qs(r.s.Receive.PrintOnReceiptPrinter); }},
    {"Alternate naming rec  \t", [](const ReportSettings& r) { return yesNo(r.s.Other.GlobalUseAlternateNamingRec); }},
    {"Larger rec buffer     \t", [](const ReportSettings& r) { return yesNo(r.s.Other.GlobalLargerReceiveBuffer); }},
    {"{misc}", nullptr},
    {"SM56 Fix              \t", [](const ReportSettings& r) { return yesNo(r.s.Other.UseMotorolaSM56Fix); }},
    {"Wait Before Printing: \t", [](const ReportSettings& r) { return yesNo(r.s.Other.ImposeWaitBeforePrinting); }},
    {"ShowHint:             \t", [](const ReportSettings& r) { return yesNo(r.s.Hints.On); }},
    {"Disable Prefix:       \t", [](const ReportSettings& r) { return yesNo(r.s.User.PrefixDisable); }},
    {"Program Path          \t", [](const ReportSettings& r) { return qs(r.programDir); }},
    {"{printing}", nullptr},
    {"Print Multi           \t", [](const ReportSettings& r) { return yesNo(r.print.MultiPage); }},
    {"Print Header          \t", [](const ReportSettings& r) { return yesNo(r.print.Header); }},
    {"Print Footer          \t", [](const ReportSettings& r) { return yesNo(r.print.Footer); }},
    {"Print Stretch         \t", [](const ReportSettings& r) { return yesNo(r.print.Stretch); }},
};

void addProduct(QStringList& r, const QLocale& loc) {
    r << QStringLiteral("[Product]");
    r << QStringLiteral("Program:     \t") + QLatin1String(kProductName);
    r << QStringLiteral("Version:     \t") + QLatin1String(settings::kProgramVersion);
    r << QStringLiteral("Build Date:  \t") + loc.toString(buildDate(), QLocale::ShortFormat);
    r << QStringLiteral("Fax Engine:  \t") + QLatin1String(kEngineVersion);
}

void addScreen(QStringList& r, const QLocale& loc, const std::optional<ScreenInfo>& screen) {
    if (!screen) {
        r << QStringLiteral("Video:       \t") << QStringLiteral("Font:        \t");
        return;
    }
    r << QStringLiteral("Video:       \t") + QString::number(screen->width) + QStringLiteral(" x ") +
             QString::number(screen->height) + QStringLiteral(" x ") + loc.toString(colourCount(screen->bitsPerPixel)) +
             QStringLiteral(" colors");
    QString font = QStringLiteral("Custom font size in use");
    if (screen->dotsPerInch == 96) font = QStringLiteral("Small Fonts in use");
    if (screen->dotsPerInch == 120) font = QStringLiteral("Large Fonts in use");
    r << QStringLiteral("Font:        \t") + font;
}

void addMemory(QStringList& r, const QLocale& loc, const std::optional<MemoryInfo>& mem) {
    if (!mem) {
        r << QStringLiteral("Memory Load: \t") << QStringLiteral("Phys Memory: \t") << QStringLiteral("Swap:        \t")
          << QStringLiteral("Virt Memory: \t");
        return;
    }
    const auto pair = [&loc](uint64_t total, uint64_t avail) {
        return QStringLiteral("Total: ") + loc.toString(qulonglong(total)) + QStringLiteral(";    Available: ") +
               loc.toString(qulonglong(avail));
    };
    r << QStringLiteral("Memory Load: \t") + QString::number(mem->loadPercent);
    r << QStringLiteral("Phys Memory: \t") + pair(mem->physTotal, mem->physAvailable);
    r << QStringLiteral("Swap:        \t") + pair(mem->swapTotal, mem->swapAvailable);
    r << QStringLiteral("Virt Memory: \t") + pair(mem->virtualTotal, mem->virtualAvailable);
}

void addEnvironment(QStringList& r, const SystemProbe& probe, const QLocale& loc) {
    r << QStringLiteral("[Environment]");
    if (probe.screenSaverActive()) r << QStringLiteral("Screen Saver:\tPossible Active Screen Saver Detected");
    // The system line: distribution, then kernel release, kernel build and machine.
    r << QStringLiteral("System:      \t") + probe.osName() + QStringLiteral(" (version ") + probe.kernelRelease() +
             QStringLiteral(" build:") + probe.kernelVersion() + QLatin1Char(' ') + probe.machine() + QLatin1Char(')');
    r << QStringLiteral("CPU:         \tProcessor:  ") + probe.processorModel();
    addScreen(r, loc, probe.screen());
    addMemory(r, loc, probe.memory());
    r << QStringLiteral("Language:    \tUser: ") + probe.userLanguage() + QStringLiteral(";    System: ") +
             probe.systemLanguage();
    r << QStringLiteral("Country:     \tUser: ") + probe.userCountry() + QStringLiteral(";    System: ") +
             probe.systemCountry();
    r << QStringLiteral("Date Format: \tShort: ") + loc.dateFormat(QLocale::ShortFormat) +
             QStringLiteral(";    Long: ") + loc.dateFormat(QLocale::LongFormat);
    r << QStringLiteral("Time Format: \tShort: ") + loc.timeFormat(QLocale::ShortFormat) +
             QStringLiteral(";    Long: ") + loc.timeFormat(QLocale::LongFormat);
}

void addSerialDevice(QStringList& r, const SerialDevice& d, const settings::Settings& s) {
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

// The device the sessions open for the selected port, through the same port map, with the node a
// link (the virtual line's, /dev/serial/by-id/...) leads to.
QString selectedPortLine(const settings::Settings& s) {
    const QString device = qs(s.portDevice(s.Modem.ComPort));
    QString line = QStringLiteral("Selected Port:        \tCOM%1  ").arg(s.Modem.ComPort + 1);
    if (device.isEmpty()) return line + QStringLiteral("(no device)");
    line += device;
    const QFileInfo info(device);
    const QString target = info.canonicalFilePath();
    if (target.isEmpty()) return line + QStringLiteral("  (not present)");
    if (target != device) line += QStringLiteral(" -> ") + target;
    return line;
}

void addSerialDevices(QStringList& r, const std::optional<std::vector<SerialDevice>>& devices,
                      const settings::Settings& s) {
    r << QStringLiteral("[Modem Devices]") << QString() << selectedPortLine(s);
    if (!devices) return;
    r << QString();
    bool first = true;
    for (const SerialDevice& d : *devices) {
        if (!first) r << QString();
        first = false;
        addSerialDevice(r, d, s);
    }
}

void addSettings(QStringList& r, const ReportSettings& settings) {
    r << QLatin1Char('[') + qs(settings::settingsPath(settings.programDir)) + QLatin1Char(']') << QString();
    for (const SettingRow& row : kSettingRows)
        r << QLatin1String(row.label) + (row.value ? row.value(settings) : QString());
}

}  // namespace

QStringList buildConfigurationReport(const SystemProbe& probe, const settings::Settings& s,
                                     const settings::PrintOptions& print, const std::string& programDir) {
    const QLocale loc = probe.locale();
    QStringList r;
    r << loc.toString(probe.today(), QLocale::LongFormat) << QString();
    addProduct(r, loc);
    r << QString();
    addEnvironment(r, probe, loc);
    r << QString();
    addSerialDevices(r, probe.serialDevices(), s);
    r << QString() << QString();
    addSettings(r, ReportSettings{s, print, programDir});
    r << QString();
    r << QStringLiteral("[Running Programs Relevant to Fax (Process, Program)]") << QString();
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
