// What the windows offer from the system: the installed printers' names and the serial devices
// present (the one discovery rule of ports/serialdevices.h). Tests may replace either source.
#pragma once

#include <QStringList>

#include <functional>

namespace telvane::sessions {

std::function<QStringList()>& printerNameSource();
std::function<QStringList()>& serialDeviceSource();

}  // namespace telvane::sessions
