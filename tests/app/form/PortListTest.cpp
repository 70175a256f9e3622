// The port box's list: the layout's names stay first and in their order; found ports follow by
// the names the box accepts, and a found port that is one of the layout's names adds only its
// description.
#include "app/PortList.h"

#include <gtest/gtest.h>

namespace app {
namespace {

serial::TComPortInfo Port(const std::string& name, serial::TComPortKind kind,
                          const std::string& device) {
  serial::TComPortInfo info;
  info.Name = name;
  info.Kind = kind;
  info.Device = device;
  return info;
}

TEST(PortList, LayoutNamesFirstThenTheFoundPortsWithTheirDescriptions) {
  const std::vector<std::string> layout{"COM1", "COM2", "COM3"};
  serial::TComPortInfo usb = Port("/fake/usb-adapter", serial::pkUsb, "/fake/usb-adapter");
  usb.Manufacturer = "FTDI";
  usb.Product = "FT232R USB UART";
  usb.ById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0";
  const auto list = PortList(
      layout, {Port("COM2", serial::pkOnBoard, "/fake/on-board-1"), usb,
               Port("COM12", serial::pkOnBoard, "/fake/on-board-11"),
               Port("/run/user/0/valtrex-ports/valtrex-sim", serial::pkVirtual, "/dev/pts/4")});
  std::vector<std::string> names;
  for (const TPortListEntry& entry : list) names.push_back(entry.Name);
  EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM2", "COM3", "/fake/usb-adapter", "COM12",
                                             "/run/user/0/valtrex-ports/valtrex-sim"}));
  EXPECT_EQ(list[0].ToolTip, "");
  EXPECT_EQ(list[1].ToolTip, "on-board serial port, /fake/on-board-1");
  EXPECT_EQ(list[2].ToolTip, "");
  EXPECT_EQ(list[3].ToolTip, "FTDI FT232R USB UART, /fake/usb-adapter, " + usb.ById);
  EXPECT_EQ(list[5].ToolTip, "virtual port, /dev/pts/4");

  // Nothing found: the layout's list as it is.
  EXPECT_EQ(PortList(layout, {}).size(), 3u);
}

}  // namespace
}  // namespace app
