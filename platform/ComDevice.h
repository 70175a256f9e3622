#pragma once
/// \file
/// The serial device seam. One ComDevice is one open serial device with the operations
/// and the observable behaviour of the Windows comm driver: a line-configuration record,
/// time-out rules, overlapped transfers that complete through an event, queue counts and
/// error flags, modem lines and comm events. The serial component is written against this
/// interface only; platform/posix realises it on termios, platform/fake records it for tests.
///
/// Every operation returns 0 on success or the platform's error value (errno's on Linux, the
/// system's last-error values on Windows). An overlapped operation that has started but not
/// finished returns kIoPending.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Sync.h"
#include "Export.h"

namespace platform {

// The platform's error values that callers meet by name.
extern VALTREX_API const int kIoPending;           ///< the operation continues in the background
extern VALTREX_API const int kIoIncomplete;        ///< its result is not there yet
extern VALTREX_API const int kOperationAborted;    ///< a cancel or a purge ended it
extern VALTREX_API const int kInvalidHandleError;  ///< an operation on the invalid handle

/// The calling thread's last system error: what a failed wait leaves behind.
VALTREX_API int LastSystemError();
/// A system error value as the system names it in a message: "system error 22: Invalid
/// argument" on Linux, "win error code: 87" on Windows.
VALTREX_API std::string SystemErrorText(int error);

/// The largest 32-bit count: "no limit" where the driver takes a count.
inline constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

/// The line-configuration record, field for field and byte for byte the Windows DCB (28 bytes).
struct VALTREX_API TDCB {
  uint32_t DCBlength = 0;  ///< the record's size, 28; set by whoever fills it in
  uint32_t BaudRate = 0;   ///< bits per second
  uint32_t Flags = 0;      ///< the bit fields, see namespace dcb
  uint16_t wReserved = 0;  ///< unused, 0
  /// Input flow control lets the other side send again once the input queue holds fewer bytes.
  uint16_t XonLim = 0;
  /// Input flow control holds the other side once fewer bytes of the input queue are free.
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 0;    ///< data bits per character, 5 to 8
  uint8_t Parity = 0;      ///< 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t StopBits = 0;    ///< 0 one, 1 one and a half, 2 two
  char XonChar = 0;        ///< the character that lets the other side send again
  char XoffChar = 0;       ///< the character that holds the other side
  char ErrorChar = 0;      ///< replaces a character received with a parity error (fErrorChar)
  char EofChar = 0;        ///< the end-of-data character; unused by the component
  char EvtChar = 0;        ///< the character whose arrival raises kEvRxFlag
  uint16_t wReserved1 = 0;  ///< unused, 0
};
static_assert(sizeof(TDCB) == 28, "the line record keeps the driver's layout");

/// The bits of TDCB::Flags, with the values of the Windows DCB's bit fields.
namespace dcb {
inline constexpr uint32_t fBinary = 0x0001;  ///< binary mode; always set, as Windows requires
inline constexpr uint32_t fParity = 0x0002;  ///< check the parity of received characters
inline constexpr uint32_t fOutxCtsFlow = 0x0004;  ///< output waits while CTS is off
inline constexpr uint32_t fOutxDsrFlow = 0x0008;  ///< output waits while DSR is off
/// The two bits of the DTR mode; neither set: DTR off.
inline constexpr uint32_t fDtrControlMask = 0x0030;
inline constexpr uint32_t fDtrControlEnable = 0x0010;  ///< DTR on while the device is open
/// DTR drops while the input queue is nearly full.
inline constexpr uint32_t fDtrControlHandshake = 0x0020;
inline constexpr uint32_t fDsrSensitivity = 0x0040;  ///< bytes that come while DSR is off go
/// Output goes on after the device has sent XOFF.
inline constexpr uint32_t fTXContinueOnXoff = 0x0080;
inline constexpr uint32_t fOutX = 0x0100;  ///< output stops on a received XOFF, resumes on XON
/// The device sends XOFF and XON as its input queue fills and empties.
inline constexpr uint32_t fInX = 0x0200;
/// A character received with a parity error becomes TDCB::ErrorChar.
inline constexpr uint32_t fErrorChar = 0x0400;
inline constexpr uint32_t fNull = 0x0800;  ///< received NUL bytes are dropped
/// The two bits of the RTS mode; neither set: RTS off.
inline constexpr uint32_t fRtsControlMask = 0x3000;
inline constexpr uint32_t fRtsControlEnable = 0x1000;  ///< RTS on while the device is open
/// RTS drops while the input queue is nearly full.
inline constexpr uint32_t fRtsControlHandshake = 0x2000;
/// RTS on only while bytes are being sent.
inline constexpr uint32_t fRtsControlToggle = 0x3000;
/// A line error ends every transfer until ClearCommError is called.
inline constexpr uint32_t fAbortOnError = 0x4000;
}  // namespace dcb

/// Time-outs in milliseconds, as the Windows COMMTIMEOUTS record.
struct VALTREX_API TCommTimeouts {
  /// The longest gap between two received bytes. kMaxDword with both read totals 0: a read
  /// returns at once with what has come.
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;  ///< per byte asked for, added to the read's limit
  /// Added once to the read's limit; all three read values 0: a read waits without limit.
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;  ///< per byte written, added to the write's limit
  /// Added once to the write's limit; both write values 0: a write waits without limit.
  uint32_t WriteTotalTimeoutConstant = 0;
};

/// The status record of ClearCommError.
struct VALTREX_API TComStat {
  uint32_t Flags = 0;     ///< bit 0 CTS hold ... bit 6 immediate character
  uint32_t cbInQue = 0;   ///< received bytes not yet read
  uint32_t cbOutQue = 0;  ///< bytes written and not yet sent
};

// Error flags of ClearCommError.
inline constexpr uint32_t kCeRxOver = 0x0001;    ///< the input queue overflowed: bytes were lost
inline constexpr uint32_t kCeOverrun = 0x0002;   ///< the hardware lost a character unread
inline constexpr uint32_t kCeRxParity = 0x0004;  ///< a character came with a parity error
inline constexpr uint32_t kCeFrame = 0x0008;     ///< a character came with a framing error
inline constexpr uint32_t kCeBreak = 0x0010;     ///< a break was received
inline constexpr uint32_t kCeTxFull = 0x0100;    ///< a byte was written to a full output queue
inline constexpr uint32_t kCeIoe = 0x0400;       ///< an I/O error while talking to the device
inline constexpr uint32_t kCeMode = 0x8000;      ///< a mode the device lacks was asked for

// PurgeComm flags.
inline constexpr uint32_t kPurgeTxAbort = 0x0001;  ///< ends the pending writes (kOperationAborted)
inline constexpr uint32_t kPurgeRxAbort = 0x0002;  ///< ends the pending reads (kOperationAborted)
inline constexpr uint32_t kPurgeTxClear = 0x0004;  ///< empties the output queue, unsent
inline constexpr uint32_t kPurgeRxClear = 0x0008;  ///< empties the input queue, unread

// EscapeCommFunction codes.
inline constexpr uint32_t kSetXoff = 1;   ///< output behaves as if XOFF had been received
inline constexpr uint32_t kSetXon = 2;    ///< output behaves as if XON had been received
inline constexpr uint32_t kSetRts = 3;    ///< raises RTS
inline constexpr uint32_t kClrRts = 4;    ///< drops RTS
inline constexpr uint32_t kSetDtr = 5;    ///< raises DTR
inline constexpr uint32_t kClrDtr = 6;    ///< drops DTR
inline constexpr uint32_t kSetBreak = 8;  ///< holds the line in the break state; output stops
inline constexpr uint32_t kClrBreak = 9;  ///< ends the break state; output resumes

// GetCommModemStatus bits.
inline constexpr uint32_t kMsCtsOn = 0x0010;   ///< CTS (clear to send) is on
inline constexpr uint32_t kMsDsrOn = 0x0020;   ///< DSR (data set ready) is on
inline constexpr uint32_t kMsRingOn = 0x0040;  ///< the ring indicator is on
inline constexpr uint32_t kMsRlsdOn = 0x0080;  ///< RLSD (carrier detect) is on

// Comm event mask bits (SetCommMask, WaitCommEvent).
inline constexpr uint32_t kEvRxChar = 0x0001;    ///< a byte was received
inline constexpr uint32_t kEvRxFlag = 0x0002;    ///< the event character (TDCB::EvtChar) came
inline constexpr uint32_t kEvTxEmpty = 0x0004;   ///< the last byte of the output queue was sent
inline constexpr uint32_t kEvCts = 0x0008;       ///< CTS changed
inline constexpr uint32_t kEvDsr = 0x0010;       ///< DSR changed
inline constexpr uint32_t kEvRlsd = 0x0020;      ///< RLSD changed
inline constexpr uint32_t kEvBreak = 0x0040;     ///< a break was received
inline constexpr uint32_t kEvErr = 0x0080;       ///< a line error: framing, overrun or parity
inline constexpr uint32_t kEvRing = 0x0100;      ///< the ring indicator came on
inline constexpr uint32_t kEvPerr = 0x0200;      ///< a printer error; the component never asks
inline constexpr uint32_t kEvRx80Full = 0x0400;  ///< the input queue reached 80 % of its size

/// The record of one overlapped operation. The caller owns it and keeps it (and the buffer it
/// handed over) alive until the operation has completed or CancelIo has returned. A zeroed record
/// that no operation used reads as "completed, 0 bytes". The device resets hEvent when an operation
/// starts and sets it when the operation completes. Internal is stored last: once it no longer
/// reads kIoPending, the device touches neither the record nor its event again, so the caller
/// may free both at once.
struct VALTREX_API TOverlapped {
  TEvent* hEvent = nullptr;               ///< the caller's manual-reset event, set on completion
  std::atomic<int> Internal{0};           ///< 0 done, kIoPending in flight, otherwise the error
  std::atomic<uint32_t> InternalHigh{0};  ///< bytes transferred
};

/// One open serial device. Releasing the object closes the device; a pending operation must have
/// ended (or been cancelled) before that.
class VALTREX_API ComDevice {
 public:
  virtual ~ComDevice() = default;  ///< releasing the device is closing the handle

  /// Asks for queues of the given sizes in bytes; a driver may keep its own.
  virtual int SetupComm(uint32_t inQueue, uint32_t outQueue) = 0;
  /// Configures the line from the record as a whole: rate, framing, flow control, special
  /// characters. A record the device cannot realise fails and leaves the line as it was.
  virtual int SetCommState(const TDCB& dcb) = 0;
  /// Sets the time-outs that bound later reads and writes.
  virtual int SetCommTimeouts(const TCommTimeouts& timeouts) = 0;

  /// Start a transfer. Returns 0 when it completed at once (with `*done` set), kIoPending when it
  /// goes on in the background and completes through ov, otherwise the error.
  virtual int ReadFile(void* buffer, uint32_t count, uint32_t* done, TOverlapped* ov) = 0;
  /// Starts a write of `count` bytes from `buffer`; completes as ReadFile does.
  virtual int WriteFile(const void* buffer, uint32_t count, uint32_t* done, TOverlapped* ov) = 0;
  /// The outcome of an overlapped operation: 0 with `*done` the bytes transferred, kIoIncomplete
  /// while it runs (never waits when `wait` is false), or the operation's error.
  virtual int GetOverlappedResult(TOverlapped* ov, uint32_t* done, bool wait) = 0;
  /// Ends the operation of ov if it still runs and returns once the device no longer touches ov
  /// or its buffer; the operation completes with ECANCELED. Does nothing for a finished record.
  virtual int CancelIo(TOverlapped* ov) = 0;

  /// Reading the counts clears the driver's error flags, as on Windows. `errors` or `stat` may
  /// be null.
  virtual int ClearCommError(uint32_t* errors, TComStat* stat) = 0;
  /// Ends pending transfers or empties the queues, as the kPurge flags in `flags` say.
  virtual int PurgeComm(uint32_t flags) = 0;
  /// Acts on the lines: one of the codes kSetXoff to kClrBreak.
  virtual int EscapeCommFunction(uint32_t function) = 0;
  /// `*status` receives the modem lines as kMs bits.
  virtual int GetCommModemStatus(uint32_t* status) = 0;
  /// Sends `c` ahead of whatever waits in the output queue (an XOFF that cannot wait, say).
  virtual int TransmitCommChar(char c) = 0;

  /// The kEv bits WaitCommEvent watches for; a new mask ends a wait in progress.
  virtual int SetCommMask(uint32_t mask) = 0;
  /// Waits for any event of the mask; `*mask` receives the events seen. Overlapped like ReadFile.
  /// A SetCommMask while it waits completes it with `*mask` 0.
  virtual int WaitCommEvent(uint32_t* mask, TOverlapped* ov) = 0;

  /// Waits as WaitForMultipleObjects({&stop, ov.hEvent}, kInfinite) does, for a thread whose
  /// only work is that operation. A device may serve the operation from the waiting thread
  /// meanwhile, instead of waking it from another one.
  virtual uint32_t WaitStopOrCompletion(TEvent& stop, TOverlapped& ov) {
    TEvent* waitList[] = {&stop, ov.hEvent};
    return WaitForMultipleObjects(waitList, kInfinite);
  }
  /// Waits as WaitForMultipleObjects({ov.hEvent, stop}, timeout) does (ov.hEvent alone when
  /// `stop` is null), for a thread whose only work is that operation; as WaitStopOrCompletion,
  /// a device may serve the operation from the waiting thread meanwhile.
  virtual uint32_t WaitCompletion(TOverlapped& ov, TEvent* stop, uint32_t timeout) {
    TEvent* waitList[] = {ov.hEvent, stop};
    return WaitForMultipleObjects(std::span<TEvent* const>(waitList, stop ? 2 : 1), timeout);
  }
};

/// How a port gets its device: by name, giving the device or null with `error` set.
using ComDeviceOpener =
    std::function<std::unique_ptr<ComDevice>(const std::string& name, int& error)>;

/// The operating system's devices (platform/posix on Linux, platform/win32 on Windows).
VALTREX_API std::unique_ptr<ComDevice> OpenComDevice(const std::string& name, int& error);

/// The device behind the invalid handle: every operation fails with kInvalidHandleError, so
/// operations on a closed port fail as the driver would fail them.
VALTREX_API ComDevice& InvalidComDevice();

}  // namespace platform
