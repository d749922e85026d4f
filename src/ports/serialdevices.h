// Discovery of the serial devices present, the one rule for every window that offers or reports
// them (Preferences, the configuration report): /dev/serial/by-id/* first, then ttyACM*, ttyUSB*
// and ttyS*, each group in natural order (ttyS2 before ttyS10). A ttyS* node exists whether or
// not a UART is behind it: it is left out when sysfs gives its type as 0 (no UART) and kept when
// sysfs says nothing, so a port is never hidden only because /sys cannot be read.
// Guarantees: plain C++; a directory that cannot be read contributes nothing; no entry is a
// directory or a hidden name.
#pragma once

#include <string>
#include <vector>

namespace telvane::ports {

// Paths of the serial devices under devRoot ("/dev"), with the UART types read from
// sysRoot/<name>/type (sysRoot "/sys/class/tty"); tests point both at a prepared tree.
std::vector<std::string> serialDevicesPresent(const std::string& devRoot = "/dev",
                                              const std::string& sysRoot = "/sys/class/tty");

// True when a comes before b in natural order: the names without their trailing digits, then
// the numbers those digits make.
bool naturalLess(const std::string& a, const std::string& b);

}  // namespace telvane::ports
