// TCustomComPort: the line state (queue counts, errors, modem signals) and line control.
#include "serial/ComPort.h"

namespace serial {
namespace {

struct ErrorBit {
  uint32_t flag;
  TComError error;
};
constexpr ErrorBit kErrorBits[] = {
    {platform::kCeFrame, ceFrame},     {platform::kCeRxParity, ceRxParity},
    {platform::kCeOverrun, ceOverrun}, {platform::kCeBreak, ceBreak},
    {platform::kCeIoe, ceIO},          {platform::kCeMode, ceMode},
    {platform::kCeRxOver, ceRxOver},   {platform::kCeTxFull, ceTxFull},
};

}  // namespace

// --- Line state

platform::TComStat TCustomComPort::QueryStatus() {
  uint32_t errors = 0;
  platform::TComStat stat;
  const int error = Handle().ClearCommError(&errors, &stat);
  if (error != 0) RaiseComError(ecode::kClearCommError, error);
  // Asking for the counts clears the driver's error flags; keep them for LastErrors.
  pendingErrors_ |= errors;
  return stat;
}

int32_t TCustomComPort::InputCount() {
  return static_cast<int32_t>(QueryStatus().cbInQue);
}

int32_t TCustomComPort::OutputCount() {
  return static_cast<int32_t>(QueryStatus().cbOutQue);
}

TComStateFlags TCustomComPort::StateFlags() {
  return TComStateFlags::FromBits(static_cast<uint8_t>(QueryStatus().Flags & 0xFF));
}

TComErrors TCustomComPort::LastErrors() {
  uint32_t errors = 0;
  const int error = Handle().ClearCommError(&errors, nullptr);
  if (error != 0) RaiseComError(ecode::kClearCommError, error);
  errors |= pendingErrors_;
  pendingErrors_ = 0;
  TComErrors result;
  for (const auto& bit : kErrorBits) {
    if (!(errors & bit.flag)) continue;
    // A parity error is only an error while the driver is asked to check parity.
    if (bit.error == ceRxParity && !parity_.Check()) continue;
    result.Include(bit.error);
  }
  return result;
}

TComSignals TCustomComPort::Signals() {
  uint32_t status = 0;
  const int error = Handle().GetCommModemStatus(&status);
  if (error != 0) RaiseComError(ecode::kModemStatus, error);
  return TComSignals::FromBits(static_cast<uint8_t>((status >> 4) & 0x0F));
}

void TCustomComPort::Escape(uint32_t function) {
  const int error = Handle().EscapeCommFunction(function);
  if (error != 0) RaiseComError(ecode::kEscapeComm, error);
}

void TCustomComPort::SetDTR(bool on) {
  Escape(on ? platform::kSetDtr : platform::kClrDtr);
}
void TCustomComPort::SetRTS(bool on) {
  Escape(on ? platform::kSetRts : platform::kClrRts);
}
void TCustomComPort::SetBreak(bool on) {
  Escape(on ? platform::kSetBreak : platform::kClrBreak);
}
void TCustomComPort::SetXonXoff(bool on) {
  Escape(on ? platform::kSetXon : platform::kSetXoff);
}

void TCustomComPort::TransmitChar(char ch) {
  const int error = Handle().TransmitCommChar(ch);
  if (error != 0) RaiseComError(ecode::kTransmitChar, error);
}

}  // namespace serial
