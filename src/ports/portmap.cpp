// The default port map (see portmap.h).
#include "ports/portmap.h"

namespace telvane::ports {

std::string defaultDevicePath(int comNumber) {
    if (comNumber <= 0) return {};
    if (comNumber == 5) return "/dev/ttyACM0";
    if (comNumber == 6) return "/dev/ttyUSB0";
    return "/dev/ttyS" + std::to_string(comNumber - 1);
}

std::array<std::string, kPortCount> defaultPortMap() {
    std::array<std::string, kPortCount> map;
    for (int i = 0; i < kPortCount; ++i) map[static_cast<std::size_t>(i)] = defaultDevicePath(i + 1);
    return map;
}

}  // namespace telvane::ports
