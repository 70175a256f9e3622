#pragma once
// Port names as the user gives them, turned into device paths.

#include <string>

namespace platform::posix {

// "COMn" (n from 1, no leading zero) is the n-th on-board serial port, ttyS<n-1> under /dev; a
// name holding '/' is a path used as it stands; any other name is a device under /dev
// ("ttyUSB0"). The name is not changed in any other way.
std::string DevicePath(const std::string& portName);

}  // namespace platform::posix
