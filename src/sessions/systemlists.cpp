// The system's printers and serial devices (see systemlists.h).
#include "sessions/systemlists.h"

#include <QPrinterInfo>

#include "ports/serialdevices.h"

namespace telvane::sessions {

std::function<QStringList()>& serialDeviceSource() {
    static std::function<QStringList()> source = [] {
        QStringList devices;
        for (const std::string& device : ports::serialDevicesPresent()) devices << QString::fromStdString(device);
        return devices;
    };
    return source;
}

std::function<QStringList()>& printerNameSource() {
    static std::function<QStringList()> source = [] { return QPrinterInfo::availablePrinterNames(); };
    return source;
}

}  // namespace telvane::sessions
