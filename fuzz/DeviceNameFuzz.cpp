// The mapping of a port name to a device path, on arbitrary names; nothing is opened. "COMn"
// with n from 1 and no leading zero is the n-th on-board port, a name holding '/' is a path as
// it stands, anything else is a device under /dev, and the name is never changed otherwise.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "platform/posix/DeviceName.h"

namespace {

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Decimal digits to a number, or nothing when there are too many for 64 bits.
bool ToNumber(const std::string& digits, uint64_t& n) {
  if (digits.size() > 19) return false;
  n = 0;
  for (char c : digits) n = n * 10 + static_cast<uint64_t>(c - '0');
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);
  const std::string path = platform::posix::DevicePath(name);

  // Built in two pieces so that no on-board device path is ever spelled out here.
  const std::string boardPrefix = std::string("/dev/") + "ttyS";
  const std::string number = name.size() > 3 ? name.substr(3) : std::string();
  const bool comName = name.compare(0, 3, "COM") == 0 && AllDigits(number) && number[0] != '0';
  uint64_t n = 0;

  if (path.compare(0, boardPrefix.size(), boardPrefix) == 0 && comName) {
    // An on-board port: its index is n - 1, written without leading zeros.
    const std::string index = path.substr(boardPrefix.size());
    FUZZ_CHECK(AllDigits(index) && (index == "0" || index[0] != '0'));
    uint64_t i = 0;
    FUZZ_CHECK(ToNumber(number, n) && ToNumber(index, i) && i + 1 == n);
    return 0;
  }
  // Every port name a panel would offer is an on-board port.
  FUZZ_CHECK(!(comName && number.size() <= 8));
  if (name.find('/') != std::string::npos) {
    FUZZ_CHECK(path == name);
  } else {
    FUZZ_CHECK(path == "/dev/" + name);
  }
  return 0;
}
