// The ports of the system's device map, on Windows. Under Wine the test stage maps two of them
// (VALTREX_TEST_PORTS); their names must be listed, in the order of their numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "serial/extras/ComPortInfo.h"

namespace serial::test {
namespace {

TEST(WindowsPortList, ListsTheMappedPortsInTheOrderOfTheirNumbers) {
  const char* ports = std::getenv("VALTREX_TEST_PORTS");
  if (!ports || std::string(ports).find(',') == std::string::npos) {
    std::printf("SKIPPED: no mapped COM ports to look for (VALTREX_TEST_PORTS)\n");
    GTEST_SKIP() << "no mapped COM ports (VALTREX_TEST_PORTS)";
  }
  const std::string names = ports;
  const std::string first = names.substr(0, names.find(','));
  const std::string second = names.substr(names.find(',') + 1);
  const auto list = EnumComPorts();
  const auto at = [&](const std::string& name) {
    return std::find_if(list.begin(), list.end(),
                        [&](const TComPortInfo& p) { return p.Name == name; });
  };
  ASSERT_NE(at(first), list.end()) << first;
  ASSERT_NE(at(second), list.end()) << second;
  EXPECT_LT(at(first), at(second));
  EXPECT_NE(at(first)->Description().find(at(first)->Device), std::string::npos)
      << at(first)->Description();
  // Every entry is a name the port accepts.
  for (const TComPortInfo& p : list) EXPECT_FALSE(p.Name.empty()) << p.Device;
}

TEST(WindowsPortList, AnAdaptersIdsAndNameShowInItsDescription) {
  TComPortInfo usb;
  usb.Name = "COM7";
  usb.Kind = pkUsb;
  usb.Product = "USB Serial Port (COM7)";
  usb.Manufacturer = "FTDI";
  usb.HasUsbIds = true;
  usb.VendorId = 0x0403;
  usb.ProductId = 0x6001;
  EXPECT_EQ(usb.Description(), "FTDI USB Serial Port (COM7), 0403:6001");
  TComPortInfo plain;
  plain.Name = "COM1";
  EXPECT_EQ(plain.Description(), "on-board serial port");
}

}  // namespace
}  // namespace serial::test
