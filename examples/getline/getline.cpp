// getline: a port as a standard stream. Requests go out with <<, replies come back with
// std::getline, one per carriage return.
//
//   getline PORT

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include <valtrex/serial/ComError.h>
#include <valtrex/serial/ComPort.h>
#include <valtrex/serial/extras/ComStream.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: getline PORT\n");
    return 2;
  }
  serial::TComPort port;
  port.SetPort(argv[1]);
  port.SetBaudRate(serial::br19200);
  // The stream reads the port itself: no event thread, and no link that would read instead.
  port.Events = {};
  // A read waits up to one second for its first byte. With the default time-outs a read never
  // waits, and getline would find no reply yet.
  port.Timeouts().SetReadInterval(0);
  port.Timeouts().SetReadTotalC(1000);

  try {
    port.Open();
  } catch (const serial::EComPort& e) {
    std::fprintf(stderr, "getline: %s\n", e.what());
    return 1;
  }

  serial::TComStream stream(port);
  // The requests stay in the stream's buffer until a read needs the line (or a flush).
  stream << "@01SR\r" << "%01f\r" << "%01s\r";
  const char* names[] = {"status", "frequency", "power"};
  int lines = 0;
  std::string reply;
  for (const char* name : names) {
    if (!std::getline(stream, reply, '\r')) break;
    // A line the time-out cut short comes back with eofbit set: check before trusting it.
    if (stream.eof()) break;
    std::printf("%-9s %s\n", name, reply.c_str());
    ++lines;
  }

  if (stream.bad() && stream.LastError()) {
    // The port failed; the stream kept the port's EComPort.
    try {
      std::rethrow_exception(stream.LastError());
    } catch (const std::exception& e) {
      std::fprintf(stderr, "getline: %s\n", e.what());
    }
  } else if (stream.TimedOut()) {
    std::fprintf(stderr, "getline: no more replies within a second\n");
  }
  return lines == 3 ? 0 : 1;
}
