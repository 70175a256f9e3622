#include "app/PortList.h"

#include <algorithm>

#include "serial/ComError.h"

namespace app {

std::vector<TPortListEntry> PortList(const std::vector<std::string>& layoutItems,
                                     const std::vector<serial::TComPortInfo>& found) {
  std::vector<TPortListEntry> list;
  for (const std::string& name : layoutItems) list.push_back({name, {}});
  for (const serial::TComPortInfo& port : found) {
    auto same = std::find_if(list.begin(), list.end(),
                             [&](const TPortListEntry& entry) { return entry.Name == port.Name; });
    if (same == list.end()) {
      list.push_back({port.Name, port.Description()});
    } else if (same->ToolTip.empty()) {
      same->ToolTip = port.Description();
    }
  }
  return list;
}

std::vector<TPortListEntry> ReadPortList(const std::vector<std::string>& layoutItems) {
  std::vector<serial::TComPortInfo> found;
  try {
    found = serial::EnumComPorts();
  } catch (const serial::EComPort&) {
    // Nothing to add; the drop-down is no place for an error box on every opening.
  }
  return PortList(layoutItems, found);
}

}  // namespace app
