#pragma once
// The port box's drop-down: the names the window's layout gives ("COM1" to "COM10") first and
// in their order, then the ports found on this machine by the names the box accepts. A found
// port's description is its entry's tool tip, also where it already stands among the first.

#include <string>
#include <vector>

#include "serial/extras/ComPortInfo.h"

namespace app {

struct TPortListEntry {
  std::string Name;
  std::string ToolTip;  // empty for a name the machine did not report
};

std::vector<TPortListEntry> PortList(const std::vector<std::string>& layoutItems,
                                     const std::vector<serial::TComPortInfo>& found);

// The list as the drop-down shows it when it opens. The machine's ports are read there and then;
// when they cannot be read the layout's names still make the list, since the operator can always
// type a name.
std::vector<TPortListEntry> ReadPortList(const std::vector<std::string>& layoutItems);

}  // namespace app
