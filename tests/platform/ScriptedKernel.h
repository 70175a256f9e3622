#pragma once
// A kernel for the terminal device that plays a driver and the line behind it, so what only a
// real port does can be tested without one: a transmitter that empties at the line's rate, a
// FIFO the driver's output count does not see, modem-status interrupts that a line change can
// switch off, the counters, and EIO once the adapter is unplugged. Time is the monotonic clock
// the device itself runs on; the kernel notes what the device did and when.
//
// The calls of the table reach the one kernel alive at a time.

#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "platform/ComDevice.h"
#include "platform/posix/Kernel.h"

namespace platform::kerneltest {

using Clock = std::chrono::steady_clock;

// What kind of port the kernel plays.
struct TDriverModel {
  std::string name;
  bool serialCore = true;   // an on-board UART: line status readable, modem interrupt switchable
  unsigned fifo = 16;       // bytes the hardware holds beyond the driver's output count
  bool modemWait = true;    // TIOCMIWAIT
  bool counters = true;     // TIOCGICOUNT
  int baudBase = 0;         // the UART's clock over 16, as TIOCGSERIAL tells it; 0: not told
  int uartType = 4;         // as TIOCGSERIAL tells it: 4 a 16550A, 0 no UART behind the port
  bool rs485 = false;       // the driver has an RS-485 mode
  uint32_t rs485Flags = 0;  // the mode the port is in when opened
};

inline void PrintTo(const TDriverModel& model, std::ostream* out) {
  *out << model.name;
}

TDriverModel Uart16550();  // an 8250/16550 port, 16-byte FIFO
TDriverModel UsbSerial();  // a usb-serial adapter: its FIFO beyond the host's count, no LSR
TDriverModel UsbNoWait();  // a usb-serial adapter whose driver has no TIOCMIWAIT

class TScriptedKernel {
 public:
  explicit TScriptedKernel(TDriverModel model);
  ~TScriptedKernel();
  TScriptedKernel(const TScriptedKernel&) = delete;
  TScriptedKernel& operator=(const TScriptedKernel&) = delete;

  const posix::TKernel& Table() const;
  // A device on this kernel, opened as a port is: locked, exclusive, set up.
  std::unique_ptr<ComDevice> Open(int& error);

  // --- the far end and the adapter
  // Sets the modem input lines (TIOCM_CTS, TIOCM_DSR, TIOCM_CD, TIOCM_RNG) to `lines`.
  void SetInputLines(int lines);
  void Unplug();
  // Bytes that arrive, each as the UART received it; the line discipline marks the bad ones as
  // the line's settings say (INPCK, PARMRK), and the driver counts them.
  enum class TRx { kData, kFrame, kParity, kBreak };
  struct TRxByte {
    uint8_t byte;
    TRx kind = TRx::kData;
  };
  void Arrive(const std::vector<TRxByte>& bytes);

  // --- what the device did
  int OutputLines();  // TIOCM_DTR and TIOCM_RTS as the device left them
  // RTS lowered while the transmitter still had bits of a written byte to send.
  int RtsDropsMidFrame();
  Clock::time_point WireEnd();  // when the last byte written leaves the transmitter
  uint32_t Rate();
  // Bytes the driver still held when the device closed it: its close would wait for them, up
  // to its closing time (30 s by default), and output held by CTS never drains.
  int HeldAtClose();        // the line's rate as the driver holds it, 0 for one it could not keep
  serial_rs485 Rs485();     // the driver's RS-485 mode as the device left it
  int ModemWaitsEntered();  // TIOCMIWAIT calls so far, refused ones too
  // The device's calls on its descriptor, by name ("TIOCMBIC", "tcsetattr", ...), each with
  // the output lines as they were when it came.
  struct TCall {
    std::string name;
    int outputLines = 0;
  };
  std::vector<TCall> Calls();

  // Waits, bounded, until `condition` holds; it is asked after every call the device makes, and
  // at least every millisecond.
  bool WaitFor(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(5));

  // --- the table's calls, on the kernel alive
  int Ioctl(unsigned long request, void* arg);
  int GetAttr(termios* t);
  int GetAttr2(void* t);
  int SetAttr2(const void* t);
  int SetAttr(const termios* t);
  int Flush(int queue);
  int Close();
  ssize_t Read(void* buffer, size_t count);
  ssize_t Write(const void* buffer, size_t count);
  int Poll(pollfd* fds, nfds_t count, int timeoutMs);
  int Fd() const { return inputRing_; }

 private:
  void Note(const char* name);
  void Ring(int fd, bool on);
  Clock::duration CharTime() const;
  uint32_t Pending(Clock::time_point now) const;  // bytes whose start bit has not gone out
  int ModemWait();

  TDriverModel model_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // The device's descriptor rings while there is input or the adapter is gone; the other one
  // rings only once it is gone, for a poll that asks for no input.
  int inputRing_ = -1;
  int hangupRing_ = -1;
  int modemRing_ = -1;  // wakes a TIOCMIWAIT for a delivered modem interrupt
  bool inputRinging_ = false;
  termios attr_{};
  uint32_t rate_ = 9600;
  uint32_t held_ = 0;  // written while CTS holds the output
  int heldAtClose_ = -1;
  int outputs_ = TIOCM_DTR | TIOCM_RTS;  // opening raises both
  int inputs_ = 0;
  bool modemInterrupt_ = false;
  uint64_t modemInterrupts_ = 0;
  serial_icounter_struct counters_{};
  std::deque<uint8_t> input_;
  Clock::time_point wireEnd_{};
  bool unplugged_ = false;
  int rtsDropsMidFrame_ = 0;
  int modemWaits_ = 0;
  serial_rs485 rs485_{};
  std::vector<TCall> calls_;
};

}  // namespace platform::kerneltest
