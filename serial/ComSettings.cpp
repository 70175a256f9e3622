#include "serial/ComSettings.h"

#include "platform/ComDevice.h"
#include "serial/ComPort.h"

namespace serial {
namespace {

// Stores the value and tells whether it changed; an equal value must reach nobody.
template <typename T>
bool Change(T& field, T value) {
  if (field == value) return false;
  field = value;
  return true;
}

struct EventFlag {
  TComEvent event;
  uint32_t flag;
};
constexpr EventFlag kEventFlags[] = {
    {evRxChar, platform::kEvRxChar}, {evTxEmpty, platform::kEvTxEmpty},
    {evRxFlag, platform::kEvRxFlag}, {evRing, platform::kEvRing},
    {evBreak, platform::kEvBreak},   {evCTS, platform::kEvCts},
    {evDSR, platform::kEvDsr},       {evError, platform::kEvErr},
    {evRLSD, platform::kEvRlsd},     {evRx80Full, platform::kEvRx80Full},
};

constexpr uint32_t kBaudRates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                   14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
static_assert(std::size(kBaudRates) == br256000 + 1);

}  // namespace

uint32_t EventToInt(TComEvent event) {
  for (const auto& e : kEventFlags) {
    if (e.event == event) return e.flag;
  }
  return 0;
}

uint32_t EventsToInts(TComEvents events) {
  uint32_t mask = 0;
  for (const auto& e : kEventFlags) {
    if (events.Contains(e.event)) mask |= e.flag;
  }
  return mask;
}

TComEvents IntToEvents(uint32_t mask) {
  TComEvents events;
  for (const auto& e : kEventFlags) {
    if (mask & e.flag) events.Include(e.event);
  }
  return events;
}

uint32_t BaudRateValue(TBaudRate rate) {
  return rate <= br256000 ? kBaudRates[rate] : 0;
}

// --- TComParity

void TComParity::Changed() {
  if (!comPort_) return;
  comPort_->SettingsNotifyLink();
  comPort_->ApplyDCB();
}
void TComParity::SetBits(TParityBits value) {
  if (Change(v_.bits, value)) Changed();
}
void TComParity::SetCheck(bool value) {
  if (Change(v_.check, value)) Changed();
}
void TComParity::SetReplace(bool value) {
  if (Change(v_.replace, value)) Changed();
}
void TComParity::SetReplaceChar(char value) {
  if (Change(v_.replaceChar, value)) Changed();
}

// --- TComFlowControl

void TComFlowControl::Changed() {
  if (!comPort_) return;
  comPort_->SettingsNotifyLink();
  comPort_->ApplyDCB();
}
void TComFlowControl::SetOutCTSFlow(bool value) {
  if (Change(v_.outCTSFlow, value)) Changed();
}
void TComFlowControl::SetOutDSRFlow(bool value) {
  if (Change(v_.outDSRFlow, value)) Changed();
}
void TComFlowControl::SetControlDTR(TDTRFlowControl value) {
  if (Change(v_.controlDTR, value)) Changed();
}
void TComFlowControl::SetControlRTS(TRTSFlowControl value) {
  if (Change(v_.controlRTS, value)) Changed();
}
void TComFlowControl::SetXonXoffOut(bool value) {
  if (Change(v_.xonXoffOut, value)) Changed();
}
void TComFlowControl::SetXonXoffIn(bool value) {
  if (Change(v_.xonXoffIn, value)) Changed();
}
void TComFlowControl::SetDSRSensitivity(bool value) {
  if (Change(v_.dsrSensitivity, value)) Changed();
}
void TComFlowControl::SetTxContinueOnXoff(bool value) {
  if (Change(v_.txContinueOnXoff, value)) Changed();
}
void TComFlowControl::SetXonChar(char value) {
  if (Change(v_.xonChar, value)) Changed();
}
void TComFlowControl::SetXoffChar(char value) {
  if (Change(v_.xoffChar, value)) Changed();
}

TFlowControl TComFlowControl::FlowControl() const {
  const bool xon = v_.xonXoffIn || v_.xonXoffOut;
  if (v_.controlRTS == rtsHandshake && v_.outCTSFlow && !xon) return fcHardware;
  if (v_.controlRTS == rtsDisable && !v_.outCTSFlow && v_.xonXoffIn && v_.xonXoffOut) {
    return fcSoftware;
  }
  if (v_.controlRTS == rtsDisable && !v_.outCTSFlow && !xon) return fcNone;
  return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value) {
  if (value != fcCustom) {
    v_.controlRTS = rtsDisable;
    v_.outCTSFlow = false;
    v_.xonXoffIn = false;
    v_.xonXoffOut = false;
    if (value == fcHardware) {
      v_.controlRTS = rtsHandshake;
      v_.outCTSFlow = true;
    } else if (value == fcSoftware) {
      v_.xonXoffIn = true;
      v_.xonXoffOut = true;
    }
  }
  Changed();
}

// --- TComTimeouts

void TComTimeouts::Changed() {
  if (!comPort_) return;
  comPort_->SettingsNotifyLink();
  comPort_->ApplyTimeouts();
}
void TComTimeouts::SetReadInterval(int32_t value) {
  if (Change(v_.readInterval, value)) Changed();
}
void TComTimeouts::SetReadTotalM(int32_t value) {
  if (Change(v_.readTotalMultiplier, value)) Changed();
}
void TComTimeouts::SetReadTotalC(int32_t value) {
  if (Change(v_.readTotalConstant, value)) Changed();
}
void TComTimeouts::SetWriteTotalM(int32_t value) {
  if (Change(v_.writeTotalMultiplier, value)) Changed();
}
void TComTimeouts::SetWriteTotalC(int32_t value) {
  if (Change(v_.writeTotalConstant, value)) Changed();
}

// --- TComBuffer

namespace {
int32_t EvenSize(int32_t value) {
  return value > 0 && value % 2 != 0 ? value - 1 : value;
}
}  // namespace

void TComBuffer::Changed() {
  if (!comPort_) return;
  comPort_->SettingsNotifyLink();
  comPort_->ApplyBuffer();
}
void TComBuffer::SetInputSize(int32_t value) {
  if (value == v_.inputSize) return;
  v_.inputSize = EvenSize(value);
  Changed();
}
void TComBuffer::SetOutputSize(int32_t value) {
  if (value == v_.outputSize) return;
  v_.outputSize = EvenSize(value);
  Changed();
}

}  // namespace serial
