// The port map's defaults and the one discovery rule for serial devices, on a prepared /dev and
// /sys tree: by-id links first, then ttyACM*, ttyUSB*, ttyS* in natural order; a ttyS* without
// a UART left out, one whose type cannot be read kept; other nodes, directories and hidden names
// never listed.
#include "ports/portmap.h"
#include "ports/serialdevices.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace telvane::ports;
using telvane::test::TempDir;

TEST(PortMap, DefaultsOfTheSixPortsAndBeyond) {
    EXPECT_EQ(defaultDevicePath(0), "");
    EXPECT_EQ(defaultDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(defaultDevicePath(4), "/dev/ttyS3");
    EXPECT_EQ(defaultDevicePath(5), "/dev/ttyACM0");
    EXPECT_EQ(defaultDevicePath(6), "/dev/ttyUSB0");
    EXPECT_EQ(defaultDevicePath(8), "/dev/ttyS7");
    const auto map = defaultPortMap();
    for (int i = 0; i < kPortCount; ++i) EXPECT_EQ(map[std::size_t(i)], defaultDevicePath(i + 1)) << i;
}

TEST(SerialDevices, OneRuleForEveryList) {
    TempDir d;
    const std::string dev = d.file("dev"), sys = d.file("sys");
    std::filesystem::create_directories(dev + "/serial/by-id/not-a-device");
    std::filesystem::create_directories(dev + "/ttyS7");  // a directory, not a node
    for (const char* name : {"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyACM0", "ttyACM10", "ttyACM2", "ttyUSB1", "tty0",
                             "ttyprintk", "null", ".ttyS3", "serial/by-id/usb-Acme_USB_Modem_0042-if02"})
        ASSERT_TRUE(telvane::test::writeFile(dev + "/" + name, ""));
    std::filesystem::create_symlink("../../ttyACM0", dev + "/serial/by-id/usb-Acme_USB_Modem_0042-if00");
    // ttyS1 has no UART behind it; ttyS0 has one; sysfs says nothing of ttyS2 and ttyS10.
    std::filesystem::create_directories(sys + "/ttyS0");
    std::filesystem::create_directories(sys + "/ttyS1");
    ASSERT_TRUE(telvane::test::writeFile(sys + "/ttyS0/type", "4\n"));
    ASSERT_TRUE(telvane::test::writeFile(sys + "/ttyS1/type", " 0\n"));

    EXPECT_EQ(serialDevicesPresent(dev, sys),
              (std::vector<std::string>{dev + "/serial/by-id/usb-Acme_USB_Modem_0042-if00",
                                        dev + "/serial/by-id/usb-Acme_USB_Modem_0042-if02", dev + "/ttyACM0",
                                        dev + "/ttyACM2", dev + "/ttyACM10", dev + "/ttyUSB1", dev + "/ttyS0",
                                        dev + "/ttyS2", dev + "/ttyS10"}));
    EXPECT_TRUE(serialDevicesPresent(d.file("nothing"), sys).empty());
}

TEST(SerialDevices, NaturalOrder) {
    EXPECT_TRUE(naturalLess("ttyS2", "ttyS10"));
    EXPECT_FALSE(naturalLess("ttyS10", "ttyS2"));
    EXPECT_TRUE(naturalLess("ttyS9", "ttyS00010"));
    EXPECT_TRUE(naturalLess("ttyACM3", "ttyS0"));
    EXPECT_TRUE(naturalLess("ttyS", "ttyS0"));
    EXPECT_TRUE(naturalLess("ttyS99999999999999999999", "ttyS100000000000000000000"));
    EXPECT_FALSE(naturalLess("ttyS1", "ttyS1"));
}

}  // namespace
