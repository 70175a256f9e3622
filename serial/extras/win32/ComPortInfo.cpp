// The ports the system lists in its device map (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: one value
// per port, its data the port's name), described where the device manager knows more of them.
// Nothing is opened. Windows has no pseudo-terminals: a virtual port is a device of its own
// and stands in the device map like any other.
#include "serial/extras/ComPortInfo.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "serial/ComError.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h:
#include <devguid.h>
#include <setupapi.h>

namespace serial {
namespace {

// "COM10" after "COM9": by the number, then by the name.
bool PortOrder(const TComPortInfo& a, const TComPortInfo& b) {
  const auto number = [](const std::string& name) {
    return name.size() > 3 && name.compare(0, 3, "COM") == 0 ? std::atol(name.c_str() + 3) : 0L;
  };
  const long na = number(a.Name), nb = number(b.Name);
  return na != nb ? na < nb : a.Name < b.Name;
}

TComPortKind KindOf(const std::string& device) {
  std::string upper = device;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (upper.rfind("\\DEVICE\\SERIAL", 0) == 0) return pkOnBoard;
  if (upper.find("USBSER") != std::string::npos) return pkAcm;
  if (upper.find("VCP") != std::string::npos || upper.find("USB") != std::string::npos ||
      upper.find("SILABSER") != std::string::npos || upper.find("PROLIFIC") != std::string::npos) {
    return pkUsb;
  }
  return pkVirtual;
}

std::string Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  char text[512] = {};
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyA(set, &device, property, &type,
                                         reinterpret_cast<BYTE*>(text), sizeof text - 1, nullptr)) {
    return "";
  }
  return text;  // a multi-string's first string
}

// "USB\VID_0403&PID_6001&REV_0600" gives the two ids.
void ReadUsbIds(const std::string& hardwareId, TComPortInfo& info) {
  const size_t vid = hardwareId.find("VID_");
  const size_t pid = hardwareId.find("PID_");
  if (vid == std::string::npos || pid == std::string::npos) return;
  info.VendorId = static_cast<uint16_t>(std::strtoul(hardwareId.substr(vid + 4, 4).c_str(), nullptr, 16));
  info.ProductId = static_cast<uint16_t>(std::strtoul(hardwareId.substr(pid + 4, 4).c_str(), nullptr, 16));
  info.HasUsbIds = true;
  if (info.Kind != pkAcm) info.Kind = pkUsb;
}

// What the device manager knows of the ports it lists under the ports class.
void Describe(std::vector<TComPortInfo>& ports) {
  const HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    char name[64] = {};
    DWORD size = sizeof name - 1;
    DWORD type = 0;
    const bool named = RegQueryValueExA(key, "PortName", nullptr, &type,
                                        reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
                       type == REG_SZ;
    RegCloseKey(key);
    if (!named) continue;
    const auto it = std::find_if(ports.begin(), ports.end(),
                                 [&](const TComPortInfo& p) { return p.Name == name; });
    if (it == ports.end()) continue;
    it->Product = Property(set, device, SPDRP_FRIENDLYNAME);
    it->Manufacturer = Property(set, device, SPDRP_MFG);
    it->Driver = Property(set, device, SPDRP_SERVICE);
    ReadUsbIds(Property(set, device, SPDRP_HARDWAREID), *it);
  }
  SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

std::vector<TComPortInfo> EnumComPorts(const TComEnumRoots&) {
  HKEY map = nullptr;
  LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                                 KEY_QUERY_VALUE, &map);
  // A machine with no serial port at all has no map.
  if (status == ERROR_FILE_NOT_FOUND) return {};
  if (status != ERROR_SUCCESS) RaiseComError(ecode::kEnumPorts, static_cast<int32_t>(status));
  std::vector<TComPortInfo> ports;
  for (DWORD i = 0;; ++i) {
    char device[256] = {};
    char name[256] = {};
    DWORD deviceSize = sizeof device;
    DWORD nameSize = sizeof name - 1;
    DWORD type = 0;
    status = RegEnumValueA(map, i, device, &deviceSize, nullptr, &type,
                           reinterpret_cast<BYTE*>(name), &nameSize);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_MORE_DATA) continue;  // one entry that cannot be read is left out
    if (status != ERROR_SUCCESS) {
      RegCloseKey(map);
      RaiseComError(ecode::kEnumPorts, static_cast<int32_t>(status));
    }
    if (type != REG_SZ || name[0] == '\0') continue;
    TComPortInfo info;
    info.Name = name;
    info.Device = device;
    info.Kind = KindOf(device);
    ports.push_back(std::move(info));
  }
  RegCloseKey(map);
  Describe(ports);
  std::sort(ports.begin(), ports.end(), PortOrder);
  return ports;
}

std::string VirtualPortFolder() {
  char temp[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathA(sizeof temp, temp);
  return std::string(temp, n) + "valtrex-ports";
}

std::string MakeVirtualPortFolder() {
  const std::string folder = VirtualPortFolder();
  if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    RaiseComError(ecode::kEnumPorts, static_cast<int32_t>(GetLastError()));
  }
  return folder;
}

}  // namespace serial
