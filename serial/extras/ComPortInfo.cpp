#include "serial/extras/ComPortInfo.h"

#include <cstdio>

namespace serial {

std::string TComPortInfo::Description() const {
  std::string text;
  auto add = [&text](const std::string& part) {
    if (part.empty()) return;
    if (!text.empty()) text += ", ";
    text += part;
  };
  switch (Kind) {
    case pkOnBoard:
      add("on-board serial port");
      break;
    case pkUsb:
      add("USB serial adapter");
      break;
    case pkAcm:
      add("USB modem device");
      break;
    case pkPlatform:
      add("serial port");
      break;
    case pkVirtual:
      add("virtual port");
      break;
  }
  if (!Manufacturer.empty() || !Product.empty()) {
    text = Manufacturer.empty() ? Product
           : Product.empty()    ? Manufacturer
                                : Manufacturer + " " + Product;
  }
  add(Device);
  add(Driver);
  if (HasUsbIds) {
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", VendorId, ProductId);
    add(ids);
  }
  if (!SerialNumber.empty()) add("serial number " + SerialNumber);
  add(ById);
  return text;
}

}  // namespace serial
