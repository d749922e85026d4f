// The configuration report: a plain-text list of lines about the program, the computer, the serial
// devices with the one the selected port opens, the fax settings, the running programs that matter
// to fax support and the last send and receive sessions.
// Everything about the machine comes from a SystemProbe, so the report can be built against canned
// answers; LinuxProbe (linuxprobe.h) is the real one. The report holds no environment variables,
// no command lines and no file contents other than the two session logs and our settings.
#pragma once

#include <QDate>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/settings.h"

namespace telvane::maintenance {

struct ScreenInfo {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    int dotsPerInch = 0;
};

struct MemoryInfo {
    int loadPercent = 0;
    uint64_t physTotal = 0, physAvailable = 0;
    uint64_t swapTotal = 0, swapAvailable = 0;
    uint64_t virtualTotal = 0, virtualAvailable = 0;
};

// One serial device node and what the system knows about it; empty texts are unknown.
struct SerialDevice {
    QString path;          // /dev/ttyUSB0, /dev/serial/by-id/...
    QString manufacturer;  // USB manufacturer name
    QString product;       // USB product name
    QString usbId;         // "vvvv:pppp"
    QString driver;        // kernel driver
};

// A running process: its command name (never its arguments) and the file name of its program.
struct ProcessEntry {
    qint64 pid = 0;
    QString name;
    QString program;
};

class SystemProbe {
public:
    virtual ~SystemProbe() = default;
    virtual QLocale locale() const = 0;
    virtual QDate today() const = 0;
    // Operating system name and version, kernel release, kernel version and machine.
    virtual QString osName() const = 0;
    virtual QString kernelRelease() const = 0;
    virtual QString kernelVersion() const = 0;
    virtual QString machine() const = 0;
    virtual QString processorModel() const = 0;
    virtual std::optional<ScreenInfo> screen() const = 0;
    virtual std::optional<MemoryInfo> memory() const = 0;
    virtual QString userLanguage() const = 0;
    virtual QString systemLanguage() const = 0;
    virtual QString userCountry() const = 0;
    virtual QString systemCountry() const = 0;
    virtual bool screenSaverActive() const = 0;
    // nullopt when the device list cannot be read at all (the section is left out).
    virtual std::optional<std::vector<SerialDevice>> serialDevices() const = 0;
    virtual std::vector<ProcessEntry> processes() const = 0;
    virtual qint64 ownPid() const = 0;
};

// Colour count of a depth: 2^bits for 1, 4, 8, 15 and 16 bits, 16777216 for 24 and 32, else the bit count.
qint64 colourCount(int bitsPerPixel);

// The running-program entries ("name  (program)") that matter to fax support: modem managers and
// other programs that open serial ports, other fax software, and this program's own processes (the
// report's own marked "this program"). Sorted without regard to case, each distinct entry once.
QStringList runningProgramEntries(const std::vector<ProcessEntry>& processes, qint64 ownPid);

// Builds the report. programDir ends with '/'; settings and print options as held in memory.
// The day this program was built.
QDate buildDate();

QStringList buildConfigurationReport(const SystemProbe& probe, const settings::Settings& settings,
                                     const settings::PrintOptions& print, const std::string& programDir);

// Lines joined with CR LF after each (the saved and copied form).
QByteArray reportText(const QStringList& lines);

}  // namespace telvane::maintenance
