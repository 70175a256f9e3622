// The line record turned into termios flags. Nothing here touches a device.
#include "platform/posix/LineConfig.h"

#include <termios.h>

#include <cerrno>
#include <utility>

namespace platform::posix {
namespace {

constexpr std::pair<uint32_t, speed_t> kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

constexpr uint8_t kNoParity = 0, kOdd = 1, kEven = 2, kMark = 3, kSpace = 4;
constexpr uint8_t kOneStop = 0, kOneAndHalfStop = 1, kTwoStop = 2;

// Every input, output and local mode off: bytes pass unchanged, nothing is echoed, no
// character raises a signal or ends a line. PARMRK stays on always: the marks let our receive
// path see a break or a bad byte the moment it arrives (the driver's counters alone would only
// tell later, and many adapters keep none), and a bad byte keeps its value unless a
// replacement is asked for, where the plain driver would hand over a NUL. INPCK stays on too:
// without it the driver marks neither parity nor framing errors, and whether a parity error
// counts is for our receive path to decide.
constexpr uint32_t kRawInput = PARMRK | INPCK;
// The device is read without blocking, and VMIN 1 makes an empty read say so (EAGAIN): with 0
// it would return nothing, as a hang-up does, and every empty read would need a poll to tell
// the two apart.
constexpr uint8_t kVmin = 1;

}  // namespace

std::optional<uint32_t> StandardSpeed(uint32_t baudRate) {
  for (const auto& [rate, code] : kSpeeds) {
    if (rate == baudRate) return code;
  }
  return std::nullopt;
}

void MakeRaw(TTermiosFlags& flags, uint32_t currentCflag) {
  flags.iflag = kRawInput;
  flags.oflag = 0;
  flags.lflag = 0;
  flags.cflag = (currentCflag & ~static_cast<uint32_t>(CBAUD | CIBAUD)) | CREAD | CLOCAL;
  flags.vmin = kVmin;
  flags.vtime = 0;
}

int DcbToTermios(const TDCB& dcb, TTermiosFlags& flags, TLineOptions& options) {
  if (dcb.BaudRate == 0) return EINVAL;
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return EINVAL;
  if (dcb.Parity > kSpace || dcb.StopBits > kTwoStop) return EINVAL;
  // The UART makes 1.5 stop bits only from the two-stop setting with 5 data bits, and 2 stop
  // bits with 5 data bits would come out as 1.5: either other pairing is refused, never
  // silently changed.
  if (dcb.StopBits == kOneAndHalfStop && dcb.ByteSize != 5) return EINVAL;
  if (dcb.StopBits == kTwoStop && dcb.ByteSize == 5) return EINVAL;
  const uint32_t f = dcb.Flags;
  const bool outX = f & dcb::fOutX, inX = f & dcb::fInX;
  if ((outX || inX) && dcb.XonChar == dcb.XoffChar) return EINVAL;

  TTermiosFlags t;
  TLineOptions o;
  o.baudRate = dcb.BaudRate;
  o.speedCode = StandardSpeed(dcb.BaudRate);

  t.iflag = kRawInput;
  if (outX) t.iflag |= IXON;
  if (inX) t.iflag |= IXOFF;
  t.oflag = 0;
  t.lflag = 0;

  // HUPCL: closing the device lowers DTR and RTS.
  t.cflag = CREAD | CLOCAL | HUPCL;
  static constexpr uint32_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.cflag |= kSizes[dcb.ByteSize - 5];
  switch (dcb.Parity) {
    case kOdd:
      t.cflag |= PARENB | PARODD;
      break;
    case kEven:
      t.cflag |= PARENB;
      break;
    case kMark:
      t.cflag |= PARENB | CMSPAR | PARODD;
      break;
    case kSpace:
      t.cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  if (dcb.StopBits != kOneStop) t.cflag |= CSTOPB;

  const uint32_t rtsControl = f & dcb::fRtsControlMask;
  // The driver has one switch for both directions of hardware flow: output waiting for CTS and
  // RTS signalling our input state come together, whichever of the two the record asks for.
  const bool hardwareFlow = (f & dcb::fOutxCtsFlow) || rtsControl == dcb::fRtsControlHandshake;
  if (hardwareFlow) t.cflag |= CRTSCTS;
  o.hardwareFlow = hardwareFlow;

  t.vmin = kVmin;
  t.vtime = 0;
  t.vstart = static_cast<uint8_t>(dcb.XonChar);
  t.vstop = static_cast<uint8_t>(dcb.XoffChar);

  // What the terminal driver cannot do at all: DTR handshake (input flow on DTR) drives DTR
  // high like dtrEnable; fTXContinueOnXoff and the XonLim/XoffLim thresholds have no
  // counterpart, since the driver sends XOFF and XON by the fill of its own buffer, which our
  // queue only lets fill once it is full itself. They are accepted and have no effect.
  o.dtr = (f & dcb::fDtrControlMask) != 0 ? TPinControl::pcOn : TPinControl::pcOff;
  switch (rtsControl) {
    case dcb::fRtsControlEnable:
      o.rts = TPinControl::pcOn;
      break;
    case dcb::fRtsControlHandshake:
      o.rts = TPinControl::pcFlow;
      break;
    case dcb::fRtsControlToggle:
      o.rts = TPinControl::pcToggle;
      break;
    default:
      o.rts = hardwareFlow ? TPinControl::pcFlow : TPinControl::pcOff;
      break;
  }

  o.parityCheck = f & dcb::fParity;
  o.lineParity = dcb.Parity != kNoParity;
  o.replaceErrors = o.parityCheck && (f & dcb::fErrorChar);
  o.errorChar = o.replaceErrors ? static_cast<uint8_t>(dcb.ErrorChar) : 0;
  o.discardNull = f & dcb::fNull;
  o.evtChar = static_cast<uint8_t>(dcb.EvtChar);
  o.outDsrFlow = f & dcb::fOutxDsrFlow;
  o.dsrSensitivity = f & dcb::fDsrSensitivity;
  o.abortOnError = f & dcb::fAbortOnError;

  // Bits on the line per character, in halves: start, data, parity, and 1, 1.5 or 2 stops.
  const uint32_t halfBits = 2 * (1u + dcb.ByteSize + (dcb.Parity != kNoParity ? 1u : 0u)) +
                            (dcb.StopBits == kOneStop          ? 2u
                             : dcb.StopBits == kOneAndHalfStop ? 3u
                                                               : 4u);
  const uint64_t twiceRate = uint64_t{dcb.BaudRate} * 2u;
  const uint64_t us = (uint64_t{halfBits} * 1000000u + twiceRate - 1) / twiceRate;
  o.charTimeUs = static_cast<uint32_t>(us == 0 ? 1 : us);

  flags = t;
  options = o;
  return 0;
}

}  // namespace platform::posix
