#pragma once
// The serial ports present on this machine, read from what the system tells of its devices,
// never by opening one: opening a device can change its lines or take it from its owner.
//
// Besides the hardware the system lists, programs that offer a port on a pseudo-terminal (a
// simulator, a bridge) leave a link to it in one folder per user, VirtualPortFolder(); each link
// whose target is a live pseudo-terminal is listed as a virtual port under the link's path.

#include <cstdint>
#include <string>
#include <vector>
#include "../../platform/Export.h"

namespace serial {

enum TComPortKind { pkOnBoard, pkUsb, pkAcm, pkPlatform, pkVirtual };

struct VALTREX_API TComPortInfo {
  std::string Name;    // what SetPort and the panel's port box accept
  std::string Device;  // the device file, "/dev/ttyUSB0"; a virtual port's link target
  TComPortKind Kind = pkOnBoard;
  std::string Driver;      // the kernel driver's name, "ftdi_sio", "cdc_acm", "serial8250"
  bool HasUsbIds = false;  // whether the two ids below were read
  std::uint16_t VendorId = 0;
  std::uint16_t ProductId = 0;
  std::string Manufacturer;  // the USB device's own strings, empty where it has none
  std::string Product;
  std::string SerialNumber;
  std::string ById;  // its stable "/dev/serial/by-id/..." name, empty where none

  // One line for a tool tip or a list: what is known of it, in words.
  std::string Description() const;
};

// Where the system's information lives; tests point these at a tree of their own.
struct VALTREX_API TComEnumRoots {
  std::string SysClassTty = "/sys/class/tty";
  std::string Dev = "/dev";
  std::string SerialById = "/dev/serial/by-id";
  std::string VirtualPorts;  // empty: VirtualPortFolder()
};

// The ports, hardware first in the order of their device names ("ttyS2" before "ttyS10"), then
// the virtual ports by name. One entry that cannot be read is left out; when the system's list
// cannot be read at all, raises EComPort 15 "EnumPorts function failed" with the system error.
VALTREX_API std::vector<TComPortInfo> EnumComPorts(const TComEnumRoots& roots = {});

// The per-user folder for links to virtual ports: "$XDG_RUNTIME_DIR/valtrex-ports", or
// "/tmp/valtrex-ports-<uid>" where the runtime folder is not set. Not created here.
VALTREX_API std::string VirtualPortFolder();

// Creates the folder (mode 0700) where it is missing and gives its path; raises EComPort 15 when
// it cannot be made or is not a folder the user owns.
VALTREX_API std::string MakeVirtualPortFolder();

}  // namespace serial
