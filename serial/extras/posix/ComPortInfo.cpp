// The ports as sysfs describes them. Every tty the kernel knows has an entry in
// /sys/class/tty; those backed by hardware have a "device" link, and the rest (consoles, ptys)
// have none. Nothing here opens a device: reading a UART's registers, or even opening it, can
// raise its lines or take it from the program that holds it.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/ComError.h"
#include "serial/extras/ComPortInfo.h"

namespace serial {
namespace {

// Linux's pseudo-terminal slaves: majors 136 to 143 (UNIX98_PTY_SLAVE_MAJOR and up).
constexpr unsigned kFirstPtySlaveMajor = 136;
constexpr unsigned kLastPtySlaveMajor = 143;

struct TDirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using TDir = std::unique_ptr<DIR, TDirCloser>;

// The names in a folder, without "." and ".."; nullopt with errno set when it cannot be read.
std::optional<std::vector<std::string>> FolderNames(const std::string& folder) {
  TDir dir(opendir(folder.c_str()));
  if (!dir) return std::nullopt;
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  if (errno != 0) return std::nullopt;
  return names;
}

// A sysfs attribute's first line; nullopt when it cannot be read.
std::optional<std::string> ReadAttribute(const std::string& path) {
  std::ifstream file(path);
  if (!file) return std::nullopt;
  std::string line;
  if (!std::getline(file, line) && !file.eof()) return std::nullopt;
  if (file.bad()) return std::nullopt;
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line;
}

std::optional<std::string> RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::nullopt;
  std::string result(resolved);
  std::free(resolved);
  return result;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Parent(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

std::optional<std::uint16_t> HexId(const std::optional<std::string>& text) {
  if (!text || text->empty() || text->size() > 4) return std::nullopt;
  std::uint16_t value = 0;
  for (char c : *text) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return std::nullopt;
    value = static_cast<std::uint16_t>(value * 16 + digit);
  }
  return value;
}

// The USB device above a tty's device: the first folder upwards that has both ids. An ACM
// tty's device is the interface, a USB serial adapter's is its port below the interface.
void ReadUsbDevice(const std::string& device, TComPortInfo& info) {
  std::string folder = device;
  for (int depth = 0; depth < 4 && folder.size() > 1; ++depth, folder = Parent(folder)) {
    const auto vendor = HexId(ReadAttribute(folder + "/idVendor"));
    const auto product = HexId(ReadAttribute(folder + "/idProduct"));
    if (!vendor || !product) continue;
    info.HasUsbIds = true;
    info.VendorId = *vendor;
    info.ProductId = *product;
    info.Manufacturer = ReadAttribute(folder + "/manufacturer").value_or("");
    info.Product = ReadAttribute(folder + "/product").value_or("");
    info.SerialNumber = ReadAttribute(folder + "/serial").value_or("");
    return;
  }
}

TComPortKind KindOf(const std::string& name) {
  if (StartsWith(name, "ttyS") && name.size() > 4 &&
      std::all_of(name.begin() + 4, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return pkOnBoard;
  }
  if (StartsWith(name, "ttyUSB")) return pkUsb;
  if (StartsWith(name, "ttyACM")) return pkAcm;
  return pkPlatform;
}

// "COMn" for the on-board ports, as the port box maps them back; the device path for the rest.
std::string PortName(const std::string& name, TComPortKind kind, const std::string& device) {
  if (kind == pkOnBoard) {
    const unsigned long n = std::strtoul(name.c_str() + 4, nullptr, 10);
    if (n < 999999) return "COM" + std::to_string(n + 1);
  }
  return device;
}

// One tty's entry, or nullopt when it is not a port or cannot be read.
std::optional<TComPortInfo> ReadTty(const TComEnumRoots& roots, const std::string& name) {
  const std::string entry = roots.SysClassTty + "/" + name;
  const auto device = RealPath(entry + "/device");
  if (!device) return std::nullopt;
  TComPortInfo info;
  info.Kind = KindOf(name);
  if (info.Kind == pkOnBoard) {
    // The 8250 driver makes an entry for every port it might have; "type" 0 is "no UART here".
    const auto type = ReadAttribute(entry + "/type");
    if (!type || type->empty() || *type == "0") return std::nullopt;
  }
  info.Device = roots.Dev + "/" + name;
  info.Name = PortName(name, info.Kind, info.Device);
  if (const auto driver = RealPath(*device + "/driver")) info.Driver = BaseName(*driver);
  ReadUsbDevice(*device, info);
  return info;
}

// "ttyS2" before "ttyS10": runs of digits compare by their value.
bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0;
  size_t j = 0;
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      size_t ei = i;
      size_t ej = j;
      while (ei < a.size() && digit(a[ei])) ++ei;
      while (ej < b.size() && digit(b[ej])) ++ej;
      std::string na = a.substr(i, ei - i);
      std::string nb = b.substr(j, ej - j);
      na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
      nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

// The by-id links, each resolved to the device it leads to; dangling links name nothing.
void AddByIdNames(const std::string& folder, std::vector<TComPortInfo>& ports) {
  const auto names = FolderNames(folder);
  if (!names) return;
  std::vector<std::string> sorted = *names;
  std::sort(sorted.begin(), sorted.end());
  for (const std::string& link : sorted) {
    const auto target = RealPath(folder + "/" + link);
    if (!target) continue;
    for (TComPortInfo& port : ports) {
      if (port.ById.empty() && BaseName(*target) == BaseName(port.Device)) {
        port.ById = folder + "/" + link;
      }
    }
  }
}

bool IsLivePtySlave(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned major = ::major(st.st_rdev);
  return major >= kFirstPtySlaveMajor && major <= kLastPtySlaveMajor;
}

void AddVirtualPorts(const std::string& folder, std::vector<TComPortInfo>& ports) {
  const auto names = FolderNames(folder);
  if (!names) return;
  std::vector<TComPortInfo> found;
  for (const std::string& name : *names) {
    const std::string link = folder + "/" + name;
    struct stat st {};
    if (lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) continue;
    const auto target = RealPath(link);
    // A pty whose program ended is gone, or soon taken by another program's terminal: only a
    // live slave under /dev/pts is a port.
    if (!target || !StartsWith(*target, "/dev/pts/") || !IsLivePtySlave(*target)) continue;
    TComPortInfo info;
    info.Kind = pkVirtual;
    info.Name = link;
    info.Device = *target;
    found.push_back(std::move(info));
  }
  std::sort(found.begin(), found.end(), [](const TComPortInfo& a, const TComPortInfo& b) {
    return NaturalLess(a.Name, b.Name);
  });
  for (TComPortInfo& info : found) ports.push_back(std::move(info));
}

}  // namespace

std::vector<TComPortInfo> EnumComPorts(const TComEnumRoots& roots) {
  auto names = FolderNames(roots.SysClassTty);
  if (!names) {
    RaiseComError(ecode::kEnumPorts, errno, "cannot read " + roots.SysClassTty);
  }
  std::sort(names->begin(), names->end(), NaturalLess);
  std::vector<TComPortInfo> ports;
  for (const std::string& name : *names) {
    if (auto info = ReadTty(roots, name)) ports.push_back(std::move(*info));
  }
  AddByIdNames(roots.SerialById, ports);
  AddVirtualPorts(roots.VirtualPorts.empty() ? VirtualPortFolder() : roots.VirtualPorts, ports);
  return ports;
}

std::string VirtualPortFolder() {
  // A relative runtime folder is to be ignored, as if it were not set.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/valtrex-ports";
  return "/tmp/valtrex-ports-" + std::to_string(getuid());
}

std::string MakeVirtualPortFolder() {
  const std::string folder = VirtualPortFolder();
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    RaiseComError(ecode::kEnumPorts, errno, "cannot make " + folder);
  }
  // In /tmp another user may have made the folder first, to see or replace our links.
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0) RaiseComError(ecode::kEnumPorts, errno, folder);
  if (!S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
    RaiseComError(ecode::kEnumPorts, EPERM, folder + " is not a folder of this user");
  }
  return folder;
}

}  // namespace serial
