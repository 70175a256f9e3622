#pragma once
/// \file
/// The port's line settings: the enumerations and sets of the component's vocabulary and the four
/// setting objects a port owns. Each setting object keeps a back reference to its port; a change
/// made through a setter is handed to the port, which decides whether it reaches the driver now.

#include <array>
#include <cstdint>

#include "Set.h"
#include "../platform/Export.h"

namespace serial {

class TCustomComPort;

/// The bit rates a port offers by name, each brN being N bits per second; any other rate is
/// brCustom with the port's CustomBaudRate().
enum TBaudRate : uint8_t {
  brCustom,  ///< the port's CustomBaudRate()
  br110,     ///< 110 bit/s
  br300,     ///< 300 bit/s
  br600,     ///< 600 bit/s
  br1200,    ///< 1200 bit/s
  br2400,    ///< 2400 bit/s
  br4800,    ///< 4800 bit/s
  br9600,    ///< 9600 bit/s, a new port's rate
  br14400,   ///< 14400 bit/s
  br19200,   ///< 19200 bit/s
  br38400,   ///< 38400 bit/s
  br56000,   ///< 56000 bit/s
  br57600,   ///< 57600 bit/s
  br115200,  ///< 115200 bit/s
  br128000,  ///< 128000 bit/s
  br256000   ///< 256000 bit/s
};
/// Stop bits after each character.
enum TStopBits : uint8_t {
  sbOneStopBit,    ///< one
  sbOne5StopBits,  ///< one and a half, only with 5 data bits
  sbTwoStopBits    ///< two; not with 5 data bits
};
/// Data bits of each character.
enum TDataBits : uint8_t {
  dbFive,   ///< 5 bits, for old teleprinter codes
  dbSix,    ///< 6 bits
  dbSeven,  ///< 7 bits, ASCII text
  dbEight   ///< 8 bits, bytes as they are
};
/// The parity bit added to each character.
enum TParityBits : uint8_t {
  prNone,  ///< none
  prOdd,   ///< makes the count of set bits odd
  prEven,  ///< makes the count of set bits even
  prMark,  ///< always set
  prSpace  ///< always clear
};
/// What the port does with DTR.
enum TDTRFlowControl : uint8_t {
  dtrDisable,   ///< off while the port is open; SetDTR changes it
  dtrEnable,    ///< on while the port is open; SetDTR changes it
  dtrHandshake  ///< input flow control: off while the input queue is nearly full
};
/// What the port does with RTS.
enum TRTSFlowControl : uint8_t {
  rtsDisable,    ///< off while the port is open; SetRTS changes it
  rtsEnable,     ///< on while the port is open; SetRTS changes it
  rtsHandshake,  ///< input flow control: off while the input queue is nearly full
  rtsToggle      ///< on only while bytes are being sent, for a half-duplex line driver
};
/// The flow control presets TComFlowControl::SetFlowControl writes.
enum TFlowControl : uint8_t {
  fcHardware,  ///< RTS handshake and output waiting for CTS; no XON/XOFF
  fcSoftware,  ///< XON/XOFF both ways; no RTS or CTS
  fcNone,      ///< neither; RTS off
  fcCustom     ///< any other combination of the fields
};
/// Where the port's line events reach its handlers and links.
enum TSyncMethod : uint8_t {
  smThreadSync,  ///< on the main thread; the event thread waits until they have run
  smWindowSync,  ///< on the main thread through a hidden window, the event thread released at once
  smNone         ///< on the event thread: no main thread loop needed, handlers must be thread-safe
};
/// The event thread's priority. On Linux the levels below normal lower it (down to the idle
/// policy); the levels above ask for more and stay normal where the process may not have it.
enum TThreadPriority : uint8_t {
  tpIdle,         ///< runs only when nothing else wants the processor
  tpLowest,       ///< two levels below normal
  tpLower,        ///< one level below normal
  tpNormal,       ///< as the rest of the program
  tpHigher,       ///< one level above normal
  tpHighest,      ///< two levels above normal
  tpTimeCritical  ///< three levels above normal, the highest
};

/// A line event the port can watch for and deliver.
enum TComEvent : uint8_t {
  evRxChar,   ///< bytes came (OnRxChar, or OnRxBuf when the port reads)
  evTxEmpty,  ///< the last written byte went out
  evRxFlag,   ///< the event character came
  evRing,     ///< the ring indicator came on
  evBreak,    ///< a break came
  evCTS,      ///< CTS changed
  evDSR,      ///< DSR changed
  evError,    ///< a line error: framing, overrun, parity
  evRLSD,     ///< RLSD (carrier detect) changed
  evRx80Full  ///< the input queue is 80 % full
};
/// A set of line events.
using TComEvents = TSet<TComEvent, uint16_t>;
/// Every line event: what a new port watches.
inline constexpr TComEvents kAllComEvents = {evRxChar, evTxEmpty, evRxFlag, evRing, evBreak,
                                             evCTS,    evDSR,     evError,  evRLSD, evRx80Full};
/// The order in which one detected set is delivered: errors first, so a handler sees the
/// line's faults before the bytes they spoiled.
inline constexpr std::array<TComEvent, 10> kComEventDeliveryOrder = {
    evError, evRxChar, evTxEmpty, evBreak, evRing, evCTS, evDSR, evRxFlag, evRLSD, evRx80Full};

/// A modem line the other side drives.
enum TComSignal : uint8_t {
  csCTS,   ///< clear to send
  csDSR,   ///< data set ready
  csRing,  ///< ring indicator
  csRLSD   ///< receive line signal detect (carrier detect)
};
/// The modem lines that are on.
using TComSignals = TSet<TComSignal, uint8_t>;

/// A line error the driver reports.
enum TComError : uint8_t {
  ceFrame,     ///< a character came with a framing error: wrong rate or format, or noise
  ceRxParity,  ///< a character came with a parity error; reported only while parity is checked
  ceOverrun,   ///< the hardware lost a character before it was read
  ceBreak,     ///< a break came
  ceIO,        ///< an I/O error while talking to the device
  ceMode,      ///< a mode the device lacks was asked for
  ceRxOver,    ///< the input queue overflowed: received bytes were lost
  ceTxFull     ///< a byte was written to a full output queue
};
/// A set of line errors.
using TComErrors = TSet<TComError, uint8_t>;

/// The driver's status bits as StateFlags gives them (bits 0 to 6 of the status word).
enum TComStateFlag : uint8_t {
  sfCTSHold,   ///< output waits for CTS
  sfDSRHold,   ///< output waits for DSR
  sfRLSDHold,  ///< output waits for RLSD
  sfXoffHold,  ///< output waits: XOFF came
  sfXoffSent,  ///< output waits: the port sent XOFF itself
  sfEof,       ///< the end-of-file character came
  sfTxim       ///< a character sent with TransmitChar waits to go
};
/// A set of the driver's status bits.
using TComStateFlags = TSet<TComStateFlag, uint8_t>;

/// What a port tells its links (TComLink), each to its slot.
enum TComLinkEvent : uint8_t {
  leConn,     ///< opened or closed (OnConn)
  leCTS,      ///< CTS changed (OnCTSChange)
  leDSR,      ///< DSR changed (OnDSRChange)
  leRLSD,     ///< RLSD changed (OnRLSDChange)
  leRing,     ///< the ring indicator came on (OnRing)
  leRx,       ///< bytes wait, or the last read left none (OnRx)
  leTx,       ///< a write was issued, or the output ran empty (OnTx)
  leTxEmpty,  ///< the output ran empty (OnTxEmpty)
  leRxFlag    ///< the event character came (OnRxFlag)
};

/// The driver's comm event mask for a set of events and back; kEvPerr is never asked for and
/// is dropped when a driver reports it.
VALTREX_API uint32_t EventsToInts(TComEvents events);
/// The set of events a driver's comm event mask stands for.
VALTREX_API TComEvents IntToEvents(uint32_t mask);
/// The platform flag that stands for one event.
VALTREX_API uint32_t EventToInt(TComEvent event);

/// Bits per second of a rate member; brCustom has none of its own (the port's CustomBaudRate).
VALTREX_API uint32_t BaudRateValue(TBaudRate rate);

/// The parity bit and what the driver does with a character that fails it.
///
/// Copying a setting object copies its fields only: the copy keeps the owner it had (none for a
/// new object) and nothing is applied.
class VALTREX_API TComParity {
 public:
  /// No parity, not checked, nothing replaced; no owner.
  TComParity() = default;
  /// The fields of `other`, with no owner.
  TComParity(const TComParity& other) : v_(other.v_) {}
  /// Takes the fields of `other`; this object keeps its owner and applies nothing.
  TComParity& operator=(const TComParity& other) {
    v_ = other.v_;
    return *this;
  }
  /// Copies the fields into `dest`, which keeps its owner and applies nothing.
  void AssignTo(TComParity& dest) const { dest.v_ = v_; }
  /// The port that owns the object; null for a free-standing copy.
  TCustomComPort* ComPort() const { return comPort_; }

  /// The parity bit sent and expected.
  TParityBits Bits() const { return v_.bits; }
  /// Sets the parity bit; the owning port applies it as any setting.
  void SetBits(TParityBits value);
  /// Whether received characters are checked: a failure is a ceRxParity error.
  bool Check() const { return v_.check; }
  /// Turns the check on or off.
  void SetCheck(bool value);
  /// Whether a character that fails the check is replaced by ReplaceChar() (with the check on).
  bool Replace() const { return v_.replace; }
  /// Turns the replacing on or off.
  void SetReplace(bool value);
  /// What a character that fails the check becomes.
  char ReplaceChar() const { return v_.replaceChar; }
  /// Sets the replacement character.
  void SetReplaceChar(char value);

 private:
  friend class TCustomComPort;
  void Changed();
  struct Values {
    TParityBits bits = prNone;
    bool check = false;
    bool replace = false;
    char replaceChar = 0;
  };
  Values v_;
  TCustomComPort* comPort_ = nullptr;
};

/// Flow control: which lines and characters hold either side's output. Copied as TComParity is.
class VALTREX_API TComFlowControl {
 public:
  /// No flow control, DTR and RTS off, XON 17 and XOFF 19; no owner.
  TComFlowControl() = default;
  /// The fields of `other`, with no owner.
  TComFlowControl(const TComFlowControl& other) : v_(other.v_) {}
  /// Takes the fields of `other`; this object keeps its owner and applies nothing.
  TComFlowControl& operator=(const TComFlowControl& other) {
    v_ = other.v_;
    return *this;
  }
  /// Copies the fields into `dest`, which keeps its owner and applies nothing.
  void AssignTo(TComFlowControl& dest) const { dest.v_ = v_; }
  /// The port that owns the object; null for a free-standing copy.
  TCustomComPort* ComPort() const { return comPort_; }

  /// Whether output waits while CTS is off.
  bool OutCTSFlow() const { return v_.outCTSFlow; }
  /// Has output wait for CTS, or not.
  void SetOutCTSFlow(bool value);
  /// Whether output waits while DSR is off.
  bool OutDSRFlow() const { return v_.outDSRFlow; }
  /// Has output wait for DSR, or not.
  void SetOutDSRFlow(bool value);
  /// What the port does with DTR.
  TDTRFlowControl ControlDTR() const { return v_.controlDTR; }
  /// Sets what the port does with DTR.
  void SetControlDTR(TDTRFlowControl value);
  /// What the port does with RTS.
  TRTSFlowControl ControlRTS() const { return v_.controlRTS; }
  /// Sets what the port does with RTS.
  void SetControlRTS(TRTSFlowControl value);
  /// Whether output stops on a received XOFF and resumes on XON.
  bool XonXoffOut() const { return v_.xonXoffOut; }
  /// Has output obey XON/XOFF, or not.
  void SetXonXoffOut(bool value);
  /// Whether the port sends XOFF and XON as its input queue fills and empties.
  bool XonXoffIn() const { return v_.xonXoffIn; }
  /// Has the port send XON/XOFF, or not.
  void SetXonXoffIn(bool value);
  /// Whether bytes that come while DSR is off are dropped.
  bool DSRSensitivity() const { return v_.dsrSensitivity; }
  /// Has bytes that come while DSR is off dropped, or kept.
  void SetDSRSensitivity(bool value);
  /// Whether output goes on after the port has sent XOFF.
  bool TxContinueOnXoff() const { return v_.txContinueOnXoff; }
  /// Lets output go on after the port has sent XOFF, or not.
  void SetTxContinueOnXoff(bool value);
  /// The character that lets output go on, 17 (DC1) by default.
  char XonChar() const { return v_.xonChar; }
  /// Sets the XON character.
  void SetXonChar(char value);
  /// The character that holds output, 19 (DC3) by default.
  char XoffChar() const { return v_.xoffChar; }
  /// Sets the XOFF character.
  void SetXoffChar(char value);

  /// The preset the fields amount to; fcCustom for anything no preset describes.
  TFlowControl FlowControl() const;
  /// Writes the preset's fields directly and re-applies the line once, fcCustom included.
  void SetFlowControl(TFlowControl value);

 private:
  friend class TCustomComPort;
  void Changed();
  struct Values {
    bool outCTSFlow = false;
    bool outDSRFlow = false;
    TDTRFlowControl controlDTR = dtrDisable;
    TRTSFlowControl controlRTS = rtsDisable;
    bool xonXoffOut = false;
    bool xonXoffIn = false;
    bool dsrSensitivity = false;
    bool txContinueOnXoff = false;
    char xonChar = 17;
    char xoffChar = 19;
  };
  Values v_;
  TCustomComPort* comPort_ = nullptr;
};

/// Milliseconds; -1 stands for the driver's maximum.
///
/// They bound the port's reads and writes as the driver's time-out record does
/// (platform::TCommTimeouts). The defaults, an interval of -1 and read totals of 0, make a read
/// return at once with what has come; a write may take 100 ms a byte plus a second. Copied as
/// TComParity is.
class VALTREX_API TComTimeouts {
 public:
  /// The defaults; no owner.
  TComTimeouts() = default;
  /// The fields of `other`, with no owner.
  TComTimeouts(const TComTimeouts& other) : v_(other.v_) {}
  /// Takes the fields of `other`; this object keeps its owner and applies nothing.
  TComTimeouts& operator=(const TComTimeouts& other) {
    v_ = other.v_;
    return *this;
  }
  /// Copies the fields into `dest`, which keeps its owner and applies nothing.
  void AssignTo(TComTimeouts& dest) const { dest.v_ = v_; }
  /// The port that owns the object; null for a free-standing copy.
  TCustomComPort* ComPort() const { return comPort_; }

  /// The longest gap between two received bytes before a read ends.
  int32_t ReadInterval() const { return v_.readInterval; }
  /// Sets the read interval.
  void SetReadInterval(int32_t value);
  /// Per byte asked for, added to a read's limit.
  int32_t ReadTotalMultiplier() const { return v_.readTotalMultiplier; }
  /// Sets the read multiplier.
  void SetReadTotalM(int32_t value);
  /// Added once to a read's limit.
  int32_t ReadTotalConstant() const { return v_.readTotalConstant; }
  /// Sets the read constant.
  void SetReadTotalC(int32_t value);
  /// Per byte written, added to a write's limit.
  int32_t WriteTotalMultiplier() const { return v_.writeTotalMultiplier; }
  /// Sets the write multiplier.
  void SetWriteTotalM(int32_t value);
  /// Added once to a write's limit.
  int32_t WriteTotalConstant() const { return v_.writeTotalConstant; }
  /// Sets the write constant.
  void SetWriteTotalC(int32_t value);

 private:
  friend class TCustomComPort;
  void Changed();
  struct Values {
    int32_t readInterval = -1;
    int32_t readTotalMultiplier = 0;
    int32_t readTotalConstant = 0;
    int32_t writeTotalMultiplier = 100;
    int32_t writeTotalConstant = 1000;
  };
  Values v_;
  TCustomComPort* comPort_ = nullptr;
};

/// Driver queue sizes in bytes. A positive size is kept even: an odd one is lowered by one.
/// Copied as TComParity is.
class VALTREX_API TComBuffer {
 public:
  /// 1024 bytes each way; no owner.
  TComBuffer() = default;
  /// The fields of `other`, with no owner.
  TComBuffer(const TComBuffer& other) : v_(other.v_) {}
  /// Takes the fields of `other`; this object keeps its owner and applies nothing.
  TComBuffer& operator=(const TComBuffer& other) {
    v_ = other.v_;
    return *this;
  }
  /// Copies the fields into `dest`, which keeps its owner and applies nothing.
  void AssignTo(TComBuffer& dest) const { dest.v_ = v_; }
  /// The port that owns the object; null for a free-standing copy.
  TCustomComPort* ComPort() const { return comPort_; }

  /// The input queue's size; a quarter of it is where input flow control acts.
  int32_t InputSize() const { return v_.inputSize; }
  /// Sets the input queue's size.
  void SetInputSize(int32_t value);
  /// The output queue's size.
  int32_t OutputSize() const { return v_.outputSize; }
  /// Sets the output queue's size.
  void SetOutputSize(int32_t value);

 private:
  friend class TCustomComPort;
  void Changed();
  struct Values {
    int32_t inputSize = 1024;
    int32_t outputSize = 1024;
  };
  Values v_;
  TCustomComPort* comPort_ = nullptr;
};

}  // namespace serial
