#pragma once
// The port's line settings: the enumerations and sets of the component's vocabulary and the four
// setting objects a port owns. Each setting object keeps a back reference to its port; a change
// made through a setter is handed to the port, which decides whether it reaches the driver now.

#include <array>
#include <cstdint>

#include "Set.h"
#include "../platform/Export.h"

namespace serial {

class TCustomComPort;

enum TBaudRate : uint8_t {
  brCustom,
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000
};
enum TStopBits : uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TSyncMethod : uint8_t { smThreadSync, smWindowSync, smNone };
enum TThreadPriority : uint8_t {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

enum TComEvent : uint8_t {
  evRxChar,
  evTxEmpty,
  evRxFlag,
  evRing,
  evBreak,
  evCTS,
  evDSR,
  evError,
  evRLSD,
  evRx80Full
};
using TComEvents = TSet<TComEvent, uint16_t>;
inline constexpr TComEvents kAllComEvents = {evRxChar, evTxEmpty, evRxFlag, evRing, evBreak,
                                             evCTS,    evDSR,     evError,  evRLSD, evRx80Full};
// The order in which one detected set is delivered: errors first, so a handler sees the
// line's faults before the bytes they spoiled.
inline constexpr std::array<TComEvent, 10> kComEventDeliveryOrder = {
    evError, evRxChar, evTxEmpty, evBreak, evRing, evCTS, evDSR, evRxFlag, evRLSD, evRx80Full};

enum TComSignal : uint8_t { csCTS, csDSR, csRing, csRLSD };
using TComSignals = TSet<TComSignal, uint8_t>;

enum TComError : uint8_t {
  ceFrame,
  ceRxParity,
  ceOverrun,
  ceBreak,
  ceIO,
  ceMode,
  ceRxOver,
  ceTxFull
};
using TComErrors = TSet<TComError, uint8_t>;

// The driver's status bits as StateFlags gives them (bits 0 to 6 of the status word).
enum TComStateFlag : uint8_t {
  sfCTSHold,
  sfDSRHold,
  sfRLSDHold,
  sfXoffHold,
  sfXoffSent,
  sfEof,
  sfTxim
};
using TComStateFlags = TSet<TComStateFlag, uint8_t>;

enum TComLinkEvent : uint8_t {
  leConn,
  leCTS,
  leDSR,
  leRLSD,
  leRing,
  leRx,
  leTx,
  leTxEmpty,
  leRxFlag
};

// The driver's comm event mask for a set of events and back; kEvPerr is never asked for and
// is dropped when a driver reports it.
VALTREX_API uint32_t EventsToInts(TComEvents events);
VALTREX_API TComEvents IntToEvents(uint32_t mask);
// The platform flag that stands for one event.
VALTREX_API uint32_t EventToInt(TComEvent event);

// Bits per second of a rate member; brCustom has none of its own (the port's CustomBaudRate).
VALTREX_API uint32_t BaudRateValue(TBaudRate rate);

// Copying a setting object copies its fields only: the copy keeps the owner it had (none for a
// new object) and nothing is applied.
class VALTREX_API TComParity {
 public:
  TComParity() = default;
  TComParity(const TComParity& other) : v_(other.v_) {}
  TComParity& operator=(const TComParity& other) {
    v_ = other.v_;
    return *this;
  }
  void AssignTo(TComParity& dest) const { dest.v_ = v_; }
  TCustomComPort* ComPort() const { return comPort_; }

  TParityBits Bits() const { return v_.bits; }
  void SetBits(TParityBits value);
  bool Check() const { return v_.check; }
  void SetCheck(bool value);
  bool Replace() const { return v_.replace; }
  void SetReplace(bool value);
  char ReplaceChar() const { return v_.replaceChar; }
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

class VALTREX_API TComFlowControl {
 public:
  TComFlowControl() = default;
  TComFlowControl(const TComFlowControl& other) : v_(other.v_) {}
  TComFlowControl& operator=(const TComFlowControl& other) {
    v_ = other.v_;
    return *this;
  }
  void AssignTo(TComFlowControl& dest) const { dest.v_ = v_; }
  TCustomComPort* ComPort() const { return comPort_; }

  bool OutCTSFlow() const { return v_.outCTSFlow; }
  void SetOutCTSFlow(bool value);
  bool OutDSRFlow() const { return v_.outDSRFlow; }
  void SetOutDSRFlow(bool value);
  TDTRFlowControl ControlDTR() const { return v_.controlDTR; }
  void SetControlDTR(TDTRFlowControl value);
  TRTSFlowControl ControlRTS() const { return v_.controlRTS; }
  void SetControlRTS(TRTSFlowControl value);
  bool XonXoffOut() const { return v_.xonXoffOut; }
  void SetXonXoffOut(bool value);
  bool XonXoffIn() const { return v_.xonXoffIn; }
  void SetXonXoffIn(bool value);
  bool DSRSensitivity() const { return v_.dsrSensitivity; }
  void SetDSRSensitivity(bool value);
  bool TxContinueOnXoff() const { return v_.txContinueOnXoff; }
  void SetTxContinueOnXoff(bool value);
  char XonChar() const { return v_.xonChar; }
  void SetXonChar(char value);
  char XoffChar() const { return v_.xoffChar; }
  void SetXoffChar(char value);

  // The preset the fields amount to; fcCustom for anything no preset describes.
  TFlowControl FlowControl() const;
  // Writes the preset's fields directly and re-applies the line once, fcCustom included.
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

// Milliseconds; -1 stands for the driver's maximum.
class VALTREX_API TComTimeouts {
 public:
  TComTimeouts() = default;
  TComTimeouts(const TComTimeouts& other) : v_(other.v_) {}
  TComTimeouts& operator=(const TComTimeouts& other) {
    v_ = other.v_;
    return *this;
  }
  void AssignTo(TComTimeouts& dest) const { dest.v_ = v_; }
  TCustomComPort* ComPort() const { return comPort_; }

  int32_t ReadInterval() const { return v_.readInterval; }
  void SetReadInterval(int32_t value);
  int32_t ReadTotalMultiplier() const { return v_.readTotalMultiplier; }
  void SetReadTotalM(int32_t value);
  int32_t ReadTotalConstant() const { return v_.readTotalConstant; }
  void SetReadTotalC(int32_t value);
  int32_t WriteTotalMultiplier() const { return v_.writeTotalMultiplier; }
  void SetWriteTotalM(int32_t value);
  int32_t WriteTotalConstant() const { return v_.writeTotalConstant; }
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

// Driver queue sizes in bytes. A positive size is kept even: an odd one is lowered by one.
class VALTREX_API TComBuffer {
 public:
  TComBuffer() = default;
  TComBuffer(const TComBuffer& other) : v_(other.v_) {}
  TComBuffer& operator=(const TComBuffer& other) {
    v_ = other.v_;
    return *this;
  }
  void AssignTo(TComBuffer& dest) const { dest.v_ = v_; }
  TCustomComPort* ComPort() const { return comPort_; }

  int32_t InputSize() const { return v_.inputSize; }
  void SetInputSize(int32_t value);
  int32_t OutputSize() const { return v_.outputSize; }
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
