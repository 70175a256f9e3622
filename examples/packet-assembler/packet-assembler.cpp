// packet-assembler: cuts what the generator sends into its replies, whatever pieces the bytes
// arrive in. Every reply ends with a carriage return, so that is the packet's stop string.
//
//   packet-assembler PORT
//
// The program sends five requests in one write and prints each reply as a whole packet. A reply
// may come in several reads (a slow line, a reply sent in two parts): the packet gathers them.

#include <cstdio>
#include <string>

#include <valtrex/platform/MessageLoop.h>
#include <valtrex/platform/Sync.h>
#include <valtrex/serial/ComError.h>
#include <valtrex/serial/ComPort.h>
#include <valtrex/serial/extras/ComDataPacket.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: packet-assembler PORT\n");
    return 2;
  }
  serial::TComPort port;
  port.SetPort(argv[1]);
  port.SetBaudRate(serial::br19200);
  // The default delivery, smThreadSync: the packet's handlers run on the main thread, while it
  // serves its message queue (WaitServingMessages below).
  platform::SetMainThread();

  // The status reply, two parameters (frequency, set power) and the two telemetry replies.
  const std::string requests = "@01SR\r%01f\r%01s\r%03?\r%01&\r";
  const int expected = 5;
  int replies = 0;
  platform::TEvent allIn(true, false);

  // Declared after the port, so it goes first: a port must outlive the packets on it.
  serial::TComDataPacket packet;
  packet.SetStopString("\r");  // IncludeStrings stays off: the packets come without their CR
  packet.OnPacket = [&](serial::TComDataPacket&, const std::string& bytes) {
    std::printf("packet: %s\n", bytes.c_str());
    if (++replies == expected) allIn.Set();
  };
  // What cannot belong to a packet: here, bytes beyond MaxBufferSize with no CR among them.
  packet.OnDiscard = [](serial::TComDataPacket&, const std::string& bytes,
                        serial::TDiscardReason reason) {
    std::printf("discarded %zu bytes (reason %d)\n", bytes.size(), static_cast<int>(reason));
  };
  // The packet registers itself as a link of the port: the port then reads on every receive
  // event and hands each buffer to it.
  packet.SetComPort(&port);

  bool ok = false;
  try {
    port.Open();
    port.WriteStr(requests);
    ok = platform::WaitServingMessages(allIn, 5000);
    port.Close();
  } catch (const serial::EComPort& e) {
    std::fprintf(stderr, "packet-assembler: %s\n", e.what());
  }
  std::printf("%d of %d replies\n", replies, expected);
  return ok ? 0 : 1;
}
