#pragma once
/// \file
/// The serial ports present on this machine, read from what the system tells of its devices,
/// never by opening one: opening a device can change its lines or take it from its owner.
///
/// Besides the hardware the system lists, programs that offer a port on a pseudo-terminal (a
/// simulator, a bridge) leave a link to it in one folder per user, VirtualPortFolder(); each link
/// whose target is a live pseudo-terminal is listed as a virtual port under the link's path.

#include <cstdint>
#include <string>
#include <vector>
#include "../../platform/Export.h"

namespace serial {

/// What kind of device a port is, as its name in the system tells.
enum TComPortKind {
  pkOnBoard,   ///< a UART of the machine itself (ttyS*), named "COMn" after its number plus one
  pkUsb,       ///< a USB serial adapter (ttyUSB*)
  pkAcm,       ///< a USB modem-class device (ttyACM*)
  pkPlatform,  ///< another UART the kernel reports (ttyAMA*, ttymxc* and the like)
  pkVirtual    ///< a pseudo-terminal a program offers through the folder of virtual ports
};

/// One serial port present on this machine, with what the system tells of it.
struct VALTREX_API TComPortInfo {
  std::string Name;    ///< what SetPort and the panel's port box accept
  std::string Device;  ///< the device file, "/dev/ttyUSB0"; a virtual port's link target
  TComPortKind Kind = pkOnBoard;  ///< what kind of device it is
  std::string Driver;      ///< the kernel driver's name, "ftdi_sio", "cdc_acm", "serial8250"
  bool HasUsbIds = false;  ///< whether the two ids below were read
  std::uint16_t VendorId = 0;   ///< the USB vendor id
  std::uint16_t ProductId = 0;  ///< the USB product id
  std::string Manufacturer;  ///< the USB device's own strings, empty where it has none
  std::string Product;       ///< the USB device's product string
  std::string SerialNumber;  ///< the USB device's serial number string
  std::string ById;  ///< its stable "/dev/serial/by-id/..." name, empty where none

  /// One line for a tool tip or a list: what is known of it, in words.
  std::string Description() const;
};

/// Where the system's information lives; tests point these at a tree of their own.
struct VALTREX_API TComEnumRoots {
  std::string SysClassTty = "/sys/class/tty";    ///< the kernel's list of terminals
  std::string Dev = "/dev";                      ///< where the device files are
  std::string SerialById = "/dev/serial/by-id";  ///< the stable names of USB ports
  std::string VirtualPorts;  ///< empty: VirtualPortFolder()
};

/// The ports, hardware first in the order of their device names ("ttyS2" before "ttyS10"), then
/// the virtual ports by name. One entry that cannot be read is left out; when the system's list
/// cannot be read at all, raises EComPort 15 "EnumPorts function failed" with the system error.
VALTREX_API std::vector<TComPortInfo> EnumComPorts(const TComEnumRoots& roots = {});

/// The per-user folder for links to virtual ports: "$XDG_RUNTIME_DIR/valtrex-ports", or
/// `/tmp/valtrex-ports-<uid>` where the runtime folder is not set. Not created here.
VALTREX_API std::string VirtualPortFolder();

/// Creates the folder (mode 0700) where it is missing and gives its path; raises EComPort 15 when
/// it cannot be made or is not a folder the user owns.
VALTREX_API std::string MakeVirtualPortFolder();

}  // namespace serial
