// The configuration report's probe of this machine: /etc/os-release and uname for the system,
// /proc/cpuinfo and /proc/meminfo, the primary screen (when a GUI application runs), the locale
// (the user's from the process, the system's from /etc/default/locale or /etc/locale.conf), the
// serial device nodes with what sysfs tells about them, and the running processes by command name.
#pragma once

#include "maintenance/configreport.h"

namespace telvane::maintenance {

// The country a locale names, as its two-letter code; the C locale names none and says so.
QString countryText(const QLocale& locale);

class LinuxProbe : public SystemProbe {
public:
    // root prefixes every file read (tests point it at a prepared tree); "" is the real machine.
    explicit LinuxProbe(QString root = {});

    QLocale locale() const override;
    QDate today() const override;
    QString osName() const override;
    QString kernelRelease() const override;
    QString kernelVersion() const override;
    QString machine() const override;
    QString processorModel() const override;
    std::optional<ScreenInfo> screen() const override;
    std::optional<MemoryInfo> memory() const override;
    QString userLanguage() const override;
    QString systemLanguage() const override;
    QString userCountry() const override;
    QString systemCountry() const override;
    bool screenSaverActive() const override;
    std::optional<std::vector<SerialDevice>> serialDevices() const override;
    std::vector<ProcessEntry> processes() const override;
    qint64 ownPid() const override;

private:
    QString path(const QString& p) const { return root_ + p; }
    QLocale systemLocale() const;

    QString root_;
};

}  // namespace telvane::maintenance
