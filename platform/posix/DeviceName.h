#pragma once
// Port names as the user gives them, turned into device paths, and the devices they open.

#include <memory>
#include <string>

#include "platform/ComDevice.h"
#include "platform/posix/Kernel.h"

namespace platform::posix {

// "COMn" (n from 1, no leading zero) is the n-th on-board serial port, ttyS<n-1> under /dev; a
// name holding '/' is a path used as it stands; any other name is a device under /dev
// ("ttyUSB0"). The name is not changed in any other way.
std::string DevicePath(const std::string& portName);

// Takes over a descriptor opened read-write with O_NOCTTY and O_NONBLOCK, for a caller that
// looked at the device itself before giving it to a port: locks it, makes it exclusive and sets
// its line up, as OpenComDevice does after its open. The descriptor is closed on failure.
std::unique_ptr<ComDevice> AdoptComDevice(int fd, int& error);
// The same over another kernel's calls, which must outlive the device.
std::unique_ptr<ComDevice> AdoptComDevice(const TKernel& kernel, int fd, int& error);

}  // namespace platform::posix
