// ask-release: asks the generator on a port for its software release, the first thing the
// control panel does after it opens the line, with plain synchronous writes and reads.
//
//   ask-release PORT        e.g. ask-release /dev/ttyUSB0, ask-release COM3
//
// The generator takes ASCII frames ended by a carriage return. The status request is the
// command "SR" to unit 01, "@01SR\r"; the reply comes under unit 02 as "#02SR" and three
// digits of release, "#02SR106\r".

#include <cstdio>
#include <string>

#include <valtrex/serial/ComError.h>
#include <valtrex/serial/ComPort.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ask-release PORT\n");
    return 2;
  }

  serial::TComPort port;
  port.SetPort(argv[1]);
  // The panel's line: 19200 bit/s, 8 data bits, no parity, one stop bit, no handshake, DTR held
  // off and RTS raised around each transmission.
  port.SetBaudRate(serial::br19200);
  port.SetDataBits(serial::dbEight);
  port.Parity().SetBits(serial::prNone);
  port.SetStopBits(serial::sbOneStopBit);
  port.FlowControl().SetFlowControl(serial::fcNone);
  port.FlowControl().SetControlDTR(serial::dtrDisable);
  port.FlowControl().SetControlRTS(serial::rtsToggle);
  // A read waits up to one second for the reply, and ends once 50 ms pass with no new byte.
  // (The default time-outs make a read return at once with whatever has come.)
  port.Timeouts().SetReadInterval(50);
  port.Timeouts().SetReadTotalC(1000);
  // This program reads for itself: it needs no event thread watching the line.
  port.Events = {};

  try {
    port.Open();

    const std::string request = "@01SR\r";
    // A write returns what went out before the write time-out; less than all is a failure.
    if (port.WriteStr(request) != static_cast<int32_t>(request.size())) {
      std::fprintf(stderr, "ask-release: the request did not go out whole\n");
      return 1;
    }

    std::string reply;
    port.ReadStr(reply, 20);  // the reply is 9 bytes; the time-outs end the read
    if (reply.empty()) {
      std::fprintf(stderr, "ask-release: no reply within a second\n");
      return 1;
    }
    if (reply.size() < 8 || reply.compare(0, 5, "#02SR") != 0) {
      std::fprintf(stderr, "ask-release: not a status reply: \"%s\"\n", reply.c_str());
      return 1;
    }
    std::printf("generator release %s\n", reply.substr(5, 3).c_str());
    port.Close();
  } catch (const serial::EComPort& e) {
    // Every failure of the port: it cannot be opened, the line is gone, a setting is refused.
    std::fprintf(stderr, "ask-release: %s\n", e.what());
    return 1;
  }
  return 0;
}
