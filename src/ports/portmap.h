// The port map's defaults: which serial device each port number stands for until the settings
// file maps it elsewhere (section Ports). The settings record, the serial port and every window
// that shows or opens a port take the defaults from here.
// Guarantees: plain C++; the map is fixed (COM1..COM4 the first four UARTs, COM5 the first USB
// ACM modem, COM6 the first USB serial adapter).
#pragma once

#include <array>
#include <string>

namespace telvane::ports {

// COM1..COM6.
inline constexpr int kPortCount = 6;

// Device path of a 1-based port number: 1..4 /dev/ttyS0..3, 5 /dev/ttyACM0, 6 /dev/ttyUSB0,
// higher numbers /dev/ttyS<n-1>. Empty for 0 or less.
std::string defaultDevicePath(int comNumber);

// The devices of COM1..COM6 (index 0 = COM1).
std::array<std::string, kPortCount> defaultPortMap();

}  // namespace telvane::ports
