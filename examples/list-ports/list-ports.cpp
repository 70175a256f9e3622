// list-ports: the serial ports of this machine, one a line, with what is known of each.
//
// The list is read from what the system tells of its devices; no port is opened. Ports that
// programs offer on a pseudo-terminal (the generator simulator, a bridge) are listed too, as
// virtual ports, when they leave a link in the user's folder of virtual ports.
//
//   list-ports

#include <cstdio>
#include <vector>

#include <valtrex/serial/ComError.h>
#include <valtrex/serial/extras/ComPortInfo.h>

int main() {
  std::vector<serial::TComPortInfo> ports;
  try {
    ports = serial::EnumComPorts();
  } catch (const serial::EComPort& e) {
    // Only when the system's list itself cannot be read.
    std::fprintf(stderr, "list-ports: %s\n", e.what());
    return 1;
  }

  if (ports.empty()) {
    std::printf("no serial ports found\n");
    return 0;
  }
  for (const serial::TComPortInfo& port : ports) {
    // Name is what a port's SetPort takes; Description() says in words what the port is.
    std::printf("%-24s %s\n", port.Name.c_str(), port.Description().c_str());
  }
  std::printf("%zu port(s); virtual ports are looked for in %s\n", ports.size(),
              serial::VirtualPortFolder().c_str());
  return 0;
}
