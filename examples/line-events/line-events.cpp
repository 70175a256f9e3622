// line-events: a listener (TComLink) on a port, hearing the line's events in each of the port's
// three delivery modes, while the program asks the generator for its release.
//
//   line-events PORT
//
// The port's event thread watches the line. How it hands an event over is the SyncMethod:
//   smThreadSync  runs the listener on the main thread, and waits until it has run;
//   smWindowSync  sends the event to a hidden window of the main thread, and goes on at once;
//   smNone        runs the listener on the event thread itself.
// The first two need the main thread to serve its message queue. A windowed program's loop does
// that; a console program does it with platform::ProcessMessages() now and then, or, as here,
// by waiting with platform::WaitServingMessages().

#include <cstdio>
#include <mutex>
#include <string>

#include <valtrex/platform/MessageLoop.h>
#include <valtrex/platform/Sync.h>
#include <valtrex/serial/ComError.h>
#include <valtrex/serial/ComLink.h>
#include <valtrex/serial/ComPort.h>

namespace {

const char* Where() { return platform::IsMainThread() ? "main thread" : "event thread"; }

bool AskRelease(const char* portName, serial::TSyncMethod mode, const char* modeName) {
  serial::TComPort port;
  port.SetPort(portName);
  port.SetBaudRate(serial::br19200);
  port.SetSyncMethod(mode);  // only while the port is closed

  std::mutex mutex;  // smNone: the listener runs beside this thread
  std::string received;
  platform::TEvent replied(true, false);

  serial::TComLink link;  // only the slots assigned are called
  link.OnConn = [&](serial::TCustomComPort&, bool on) {
    std::printf("[%s] connection %s (%s)\n", modeName, on ? "up" : "down", Where());
  };
  link.OnTxBuf = [&](serial::TCustomComPort&, const void*, int32_t count) {
    std::printf("[%s] %d bytes written (%s)\n", modeName, count, Where());
  };
  link.OnTxEmpty = [&](serial::TCustomComPort&) {
    std::printf("[%s] all sent (%s)\n", modeName, Where());
  };
  link.OnRx = [&](serial::TCustomComPort&, bool waiting) {
    std::printf("[%s] bytes waiting: %s (%s)\n", modeName, waiting ? "yes" : "no", Where());
  };
  // A link with OnRxBuf makes the port read what comes and hand the bytes round.
  link.OnRxBuf = [&](serial::TCustomComPort&, const void* bytes, int32_t count) {
    std::printf("[%s] %d bytes received (%s)\n", modeName, count, Where());
    std::lock_guard lock(mutex);
    received.append(static_cast<const char*>(bytes), static_cast<size_t>(count));
    if (received.find('\r') != std::string::npos) replied.Set();
  };

  port.RegisterLink(&link);
  bool ok = false;
  try {
    port.Open();
    port.WriteStr("@01SR\r");
    // Serves the main thread's queue until the reply is in, or 5 s have passed.
    ok = platform::WaitServingMessages(replied, 5000);
    port.Close();
  } catch (const serial::EComPort& e) {
    std::fprintf(stderr, "line-events: %s\n", e.what());
  }
  port.UnRegisterLink(&link);  // the port neither owns nor frees its links

  std::lock_guard lock(mutex);
  std::printf("[%s] reply: %s\n", modeName,
              ok ? received.substr(0, received.find('\r')).c_str() : "none");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: line-events PORT\n");
    return 2;
  }
  platform::SetMainThread();  // the thread whose queue the deliveries go to
  bool ok = AskRelease(argv[1], serial::smThreadSync, "smThreadSync");
  ok = AskRelease(argv[1], serial::smWindowSync, "smWindowSync") && ok;
  ok = AskRelease(argv[1], serial::smNone, "smNone") && ok;
  return ok ? 0 : 1;
}
