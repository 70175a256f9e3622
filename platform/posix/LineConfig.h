#pragma once
// The line record turned into terminal settings, as pure functions: no device is touched, so
// every mapping is checked without one. The result carries the termios flag words and what our
// own receive and transmit path does beside the driver (the parts of the record the terminal
// driver has no flag for).

#include <cstdint>
#include <optional>

#include "platform/ComDevice.h"

namespace platform::posix {

// The termios flag words and control characters the line needs, the bit rate aside.
struct TTermiosFlags {
  uint32_t iflag = 0;
  uint32_t oflag = 0;
  uint32_t cflag = 0;  // without the rate bits
  uint32_t lflag = 0;
  uint8_t vmin = 0;
  uint8_t vtime = 0;
  uint8_t vstart = 0;
  uint8_t vstop = 0;
};

// How a modem output line is driven.
enum class TPinControl : uint8_t {
  pcOff,     // held low
  pcOn,      // held high
  pcFlow,    // driven by the driver's hardware flow control
  pcToggle,  // raised around each transmission
};

struct TLineOptions {
  uint32_t baudRate = 0;
  // The Bxxx code of a standard rate; none when the rate goes to the driver as a number.
  std::optional<uint32_t> speedCode;
  TPinControl dtr = TPinControl::pcOff;
  TPinControl rts = TPinControl::pcOff;
  bool hardwareFlow = false;  // CRTSCTS: output waits for CTS
  // Done in our own receive and transmit path:
  bool parityCheck = false;    // marks of bad bytes are decoded
  bool lineParity = false;     // characters carry a parity bit: a bad one may be either error
  bool replaceErrors = false;  // a byte with a parity error becomes errorChar
  uint8_t errorChar = 0;
  bool discardNull = false;
  uint8_t evtChar = 0;
  bool outDsrFlow = false;      // output waits while DSR is low
  bool dsrSensitivity = false;  // input is dropped while DSR is low
  bool abortOnError = false;    // a line error ends transfers until ClearCommError
  uint32_t charTimeUs = 0;      // one character on the line, start and stop bits included
};

// Fills `flags` and `options` from the record, or returns EINVAL (and leaves them alone) for a
// record the driver must refuse: a bad character size, parity or stop-bit code, 1.5 stop bits
// with more than 5 data bits, 2 with 5, a rate of 0, or equal XON and XOFF characters with
// software flow control.
int DcbToTermios(const TDCB& dcb, TTermiosFlags& flags, TLineOptions& options);

// The terminal settings a freshly opened device gets before any record: raw, receiving, no
// modem control, the rate and character format left as they are.
void MakeRaw(TTermiosFlags& flags, uint32_t currentCflag);

// The Bxxx code of a rate the terminal interface names; none for any other rate.
std::optional<uint32_t> StandardSpeed(uint32_t baudRate);

}  // namespace platform::posix
