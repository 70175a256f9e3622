// overlapped-read: reads that run in the background while the program goes on, each on a
// TAsync record: one the generator answers, one the port's time-out ends, and one the program
// gives up on and cancels.
//
//   overlapped-read PORT

#include <cstdio>
#include <memory>
#include <string>

#include <valtrex/platform/ComDevice.h>
#include <valtrex/platform/Sync.h>
#include <valtrex/serial/Async.h>
#include <valtrex/serial/ComError.h>
#include <valtrex/serial/ComPort.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: overlapped-read PORT\n");
    return 2;
  }
  serial::TComPort port;
  port.SetPort(argv[1]);
  port.SetBaudRate(serial::br19200);
  port.Events = {};  // no event thread: this program does its own reading

  try {
    port.Open();
    std::unique_ptr<serial::TAsync> async;
    port.InitAsync(async);  // one record serves one operation at a time
    char buffer[64];

    // 1. Ask for the release and start the read of the reply; the read then runs on its own.
    //    The port's time-outs end it: at most one second, or 50 ms after the last byte.
    port.Timeouts().SetReadInterval(50);
    port.Timeouts().SetReadTotalC(1000);
    port.WriteStr("@01SR\r");
    port.ReadAsync(buffer, sizeof buffer, async.get());
    // The record's event is signalled when the read ends; a program may wait on it with a limit
    // of its own, or ask IsAsyncCompleted between other work.
    const bool ended = platform::WaitForSingleObject(async->Event, 2000) == platform::kWaitObject0;
    // WaitForAsync gives the count (and raises what the read failed with).
    int32_t count = port.WaitForAsync(async.get());
    std::printf("1. read %s with %d bytes: \"%.*s\"\n", ended ? "ended" : "still running", count,
                count > 1 ? count - 1 : 0, buffer);  // without the closing CR

    // 2. Nothing asked, nothing comes: after 300 ms the port's time-out ends the read with 0.
    port.Timeouts().SetReadInterval(0);
    port.Timeouts().SetReadTotalC(300);
    port.ReadAsync(buffer, sizeof buffer, async.get());
    count = port.WaitForAsync(async.get());
    std::printf("2. the port's time-out ended the read with %d bytes\n", count);

    // 3. With no time-outs at all a read waits for all its bytes, for ever if need be.
    port.Timeouts().SetReadTotalC(0);
    port.ReadAsync(buffer, sizeof buffer, async.get());
    if (platform::WaitForSingleObject(async->Event, 300) == platform::kWaitTimeout) {
      std::printf("3. no bytes after 300 ms; still running: %s\n",
                  port.IsAsyncCompleted(async.get()) ? "no" : "yes");
      // Ends every read and write still running on the port; each fails as aborted.
      port.AbortAllAsync();
    }
    try {
      port.WaitForAsync(async.get());
      std::printf("3. the read ended normally\n");
    } catch (const serial::EComPort& e) {
      const bool aborted = e.SystemErrorCode() == platform::kOperationAborted;
      std::printf("3. %s: %s\n", aborted ? "read cancelled" : "read failed", e.what());
    }

    port.DoneAsync(async);  // would also cancel an operation still running
    port.Close();
  } catch (const serial::EComPort& e) {
    std::fprintf(stderr, "overlapped-read: %s\n", e.what());
    return 1;
  }
  return 0;
}
