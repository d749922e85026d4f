#include "maintenance/linuxprobe.h"

#include "ports/serialdevices.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>

#include <sys/utsname.h>
#include <unistd.h>

namespace telvane::maintenance {

namespace {

QString readText(const QString& file, qint64 limit = 1 << 20) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.read(limit));
}

QString readLine(const QString& file) { return readText(file, 4096).section(QLatin1Char('\n'), 0, 0).trimmed(); }

// KEY=value or KEY="value" lines (os-release, locale files).
QString shellValue(const QString& text, const QString& key) {
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (!line.startsWith(key + QLatin1Char('='))) continue;
        QString v = line.mid(key.size() + 1).trimmed();
        if (v.size() >= 2 && (v.front() == QLatin1Char('"') || v.front() == QLatin1Char('\'')) && v.back() == v.front())
            v = v.mid(1, v.size() - 2);
        return v;
    }
    return {};
}

// Known screen savers and lockers, by command name.
bool isScreenSaver(const QString& name) {
    static const char* const kNames[] = {
        "xscreensaver", "gnome-screensaver", "mate-screensaver",    "cinnamon-screensaver",
        "light-locker", "xfce4-screensaver", "kscreenlocker_greet", "xss-lock",
        "xautolock",    "swayidle"};
    for (const char* n : kNames)
        if (name == QLatin1String(n)) return true;
    return false;
}

}  // namespace

LinuxProbe::LinuxProbe(QString root) : root_(std::move(root)) {}

QLocale LinuxProbe::locale() const { return QLocale::system(); }

QDate LinuxProbe::today() const { return QDate::currentDate(); }

QString LinuxProbe::osName() const {
    QString text = readText(path(QStringLiteral("/etc/os-release")));
    if (text.isEmpty()) text = readText(path(QStringLiteral("/usr/lib/os-release")));
    QString name = shellValue(text, QStringLiteral("PRETTY_NAME"));
    if (name.isEmpty()) name = shellValue(text, QStringLiteral("NAME"));
    if (name.isEmpty()) name = QStringLiteral("Linux");
    return name;
}

QString LinuxProbe::kernelRelease() const {
    utsname u{};
    return uname(&u) == 0 ? QString::fromLocal8Bit(u.release) : QString();
}

QString LinuxProbe::kernelVersion() const {
    utsname u{};
    return uname(&u) == 0 ? QString::fromLocal8Bit(u.version) : QString();
}

QString LinuxProbe::machine() const {
    utsname u{};
    return uname(&u) == 0 ? QString::fromLocal8Bit(u.machine) : QString();
}

QString LinuxProbe::processorModel() const {
    const QString text = readText(path(QStringLiteral("/proc/cpuinfo")));
    int count = 0;
    QString model;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString key = line.section(QLatin1Char(':'), 0, 0).trimmed();
        const QString value = line.section(QLatin1Char(':'), 1).trimmed();
        if (key == QLatin1String("processor")) ++count;
        if (model.isEmpty() && (key == QLatin1String("model name") || key == QLatin1String("Model") ||
                                key == QLatin1String("cpu model") || key == QLatin1String("Hardware")))
            model = value;
    }
    if (model.isEmpty()) model = machine();
    if (count > 1) model += QStringLiteral(" (%1 processors)").arg(count);
    return model;
}

std::optional<ScreenInfo> LinuxProbe::screen() const {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return std::nullopt;
    QScreen* s = QGuiApplication::primaryScreen();
    if (!s) return std::nullopt;
    ScreenInfo info;
    info.width = s->geometry().width();
    info.height = s->geometry().height();
    info.bitsPerPixel = s->depth();
    info.dotsPerInch = qRound(s->logicalDotsPerInch());
    return info;
}

std::optional<MemoryInfo> LinuxProbe::memory() const {
    const QString text = readText(path(QStringLiteral("/proc/meminfo")));
    if (text.isEmpty()) return std::nullopt;
    const auto kb = [&text](const char* key) -> uint64_t {
        static const QRegularExpression re(QStringLiteral("^(\\w+\\(?\\w*\\)?):\\s+(\\d+)"),
                                           QRegularExpression::MultilineOption);
        auto it = re.globalMatch(text);
        while (it.hasNext()) {
            const auto m = it.next();
            if (m.captured(1) == QLatin1String(key)) return m.captured(2).toULongLong() * 1024;
        }
        return 0;
    };
    MemoryInfo m;
    m.physTotal = kb("MemTotal");
    m.physAvailable = kb("MemAvailable");
    if (m.physAvailable == 0) m.physAvailable = kb("MemFree") + kb("Buffers") + kb("Cached");
    m.swapTotal = kb("SwapTotal");
    m.swapAvailable = kb("SwapFree");
    // What programs can get in all: memory and swap together.
    m.virtualTotal = m.physTotal + m.swapTotal;
    m.virtualAvailable = m.physAvailable + m.swapAvailable;
    if (m.physTotal > 0)
        m.loadPercent = int((m.physTotal - std::min(m.physAvailable, m.physTotal)) * 100 / m.physTotal);
    return m;
}

QLocale LinuxProbe::systemLocale() const {
    for (const char* file : {"/etc/default/locale", "/etc/locale.conf"}) {
        const QString text = readText(path(QString::fromLatin1(file)));
        QString lang = shellValue(text, QStringLiteral("LANG"));
        if (lang.isEmpty()) continue;
        lang = lang.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
        return QLocale(lang);
    }
    return QLocale::c();
}

QString LinuxProbe::userLanguage() const { return QLocale::languageToString(locale().language()); }
QString LinuxProbe::systemLanguage() const { return QLocale::languageToString(systemLocale().language()); }
// The C locale has no territory. A guess from the time zone would report a country nobody set
// (a UTC zone has none, others span borders); support needs to read what the system is set to.
QString countryText(const QLocale& locale) {
    if (locale.language() == QLocale::C) return QStringLiteral("Not set (C locale)");
    if (locale.territory() == QLocale::AnyTerritory) return QStringLiteral("Not set");
    return QLocale::territoryToCode(locale.territory());
}

QString LinuxProbe::userCountry() const { return countryText(locale()); }
QString LinuxProbe::systemCountry() const { return countryText(systemLocale()); }

bool LinuxProbe::screenSaverActive() const {
    for (const ProcessEntry& p : processes())
        if (isScreenSaver(p.name)) return true;
    return false;
}

std::optional<std::vector<SerialDevice>> LinuxProbe::serialDevices() const {
    const QString devRoot = path(QStringLiteral("/dev"));
    if (!QDir(devRoot).exists()) return std::nullopt;
    const QString sysTty = path(QStringLiteral("/sys/class/tty/"));
    // What sysfs tells of the kernel's device `name` (for a by-id link: the device it names).
    const auto describe = [&](const QString& node, const QString& name) {
        SerialDevice d;
        d.path = node;
        const QString device = sysTty + name + QStringLiteral("/device");
        const QString driver = QFileInfo(device + QStringLiteral("/driver")).symLinkTarget();
        if (!driver.isEmpty()) d.driver = QFileInfo(driver).fileName();
        // The USB device is the first directory above the interface that has idVendor.
        QString dir = QFileInfo(device).canonicalFilePath();
        for (int up = 0; up < 4 && !dir.isEmpty() && dir != QLatin1String("/"); ++up) {
            if (QFileInfo::exists(dir + QStringLiteral("/idVendor"))) {
                d.manufacturer = readLine(dir + QStringLiteral("/manufacturer"));
                d.product = readLine(dir + QStringLiteral("/product"));
                d.usbId = readLine(dir + QStringLiteral("/idVendor")) + QLatin1Char(':') +
                          readLine(dir + QStringLiteral("/idProduct"));
                break;
            }
            dir = QFileInfo(dir).path();
        }
        return d;
    };
    std::vector<SerialDevice> out;
    for (const std::string& found :
         ports::serialDevicesPresent(devRoot.toStdString(), path(QStringLiteral("/sys/class/tty")).toStdString())) {
        const QString node = QString::fromStdString(found);
        const QString target = QFileInfo(node).canonicalFilePath();
        out.push_back(describe(node, QFileInfo(target.isEmpty() ? node : target).fileName()));
    }
    return out;
}

std::vector<ProcessEntry> LinuxProbe::processes() const {
    // Every user's processes: a modem manager or fax daemon holding the port runs as another user.
    std::vector<ProcessEntry> out;
    const QDir proc(path(QStringLiteral("/proc")));
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric) continue;
        const QString dir = proc.filePath(entry);
        ProcessEntry p;
        p.pid = pid;
        p.name = readLine(dir + QStringLiteral("/comm"));
        // Kernel threads and processes whose program cannot be read (another user's) keep their
        // command name only.
        const QString exe = QFileInfo(dir + QStringLiteral("/exe")).symLinkTarget();
        p.program = exe.isEmpty() ? p.name : QFileInfo(exe).fileName();
        out.push_back(p);
    }
    return out;
}

qint64 LinuxProbe::ownPid() const { return QCoreApplication::applicationPid(); }

}  // namespace telvane::maintenance
