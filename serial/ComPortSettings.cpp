// TCustomComPort: the settings, their storage, and their application to the open device.
#include "serial/ComPort.h"

#include <algorithm>
#include <cerrno>

namespace serial {
namespace {

template <typename T>
bool Change(T& field, T value) {
  if (field == value) return false;
  field = value;
  return true;
}

}  // namespace

// --- Settings storage

namespace {
std::shared_ptr<const TComStorage> RequireStorage(const TCustomComPort& port, int32_t code) {
  auto storage = port.Storage();
  if (!storage) RaiseComError(code, ENOSYS, "no settings storage is installed");
  return storage;
}
}  // namespace

std::shared_ptr<const TComStorage> TCustomComPort::Storage() const {
  return storage_ ? storage_ : DefaultComStorage();
}

void TCustomComPort::StoreRegistry(const std::string& keyPath) const {
  RequireStorage(*this, ecode::kStoreSettings)->StoreRegistry(*this, keyPath);
}
void TCustomComPort::StoreIniFile(const std::string& fileName, const std::string& section) const {
  RequireStorage(*this, ecode::kStoreSettings)->StoreIniFile(*this, fileName, section);
}
void TCustomComPort::LoadRegistry(const std::string& keyPath) {
  RequireStorage(*this, ecode::kLoadSettings)->LoadRegistry(*this, keyPath);
}
void TCustomComPort::LoadIniFile(const std::string& fileName, const std::string& section) {
  RequireStorage(*this, ecode::kLoadSettings)->LoadIniFile(*this, fileName, section);
}

// --- Settings

bool TCustomComPort::CanApply() const {
  return connected_ && updateCount_ == 0 && !state_.Designing && !state_.Loading;
}

bool TCustomComPort::Settable() const {
  return !connected_ || state_.Designing || state_.Loading;
}

void TCustomComPort::SetBaudRate(TBaudRate value) {
  if (!Change(baudRate_, value)) return;
  SettingsNotifyLink();
  ApplyDCB();
}
void TCustomComPort::SetCustomBaudRate(int32_t value) {
  if (!Change(customBaudRate_, value)) return;
  SettingsNotifyLink();
  ApplyDCB();
}
void TCustomComPort::SetStopBits(TStopBits value) {
  if (!Change(stopBits_, value)) return;
  SettingsNotifyLink();
  ApplyDCB();
}
void TCustomComPort::SetDataBits(TDataBits value) {
  if (!Change(dataBits_, value)) return;
  SettingsNotifyLink();
  ApplyDCB();
}
void TCustomComPort::SetDiscardNull(bool value) {
  if (!Change(discardNull_, value)) return;
  SettingsNotifyLink();
  ApplyDCB();
}
void TCustomComPort::SetEventChar(char value) {
  if (!Change(eventChar_, value)) return;
  SettingsNotifyLink();
  ApplyDCB();
}

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
  if (value == syncMethod_) return;
  if (!Settable()) RaiseComError(ecode::kWhileConnected);
  syncMethod_ = value;
  SettingsNotifyLink();
}

void TCustomComPort::SetEventThreadPriority(TThreadPriority value) {
  if (value == eventThreadPriority_) return;
  if (!Settable()) RaiseComError(ecode::kWhileConnected);
  eventThreadPriority_ = value;
  SettingsNotifyLink();
}

void TCustomComPort::SetTriggersOnRxChar(bool value) {
  if (rxBufLinked_) RaiseComError(ecode::kRxBufLinked);
  if (!Change(triggersOnRxChar_, value)) return;
  SettingsNotifyLink();
}

void TCustomComPort::SetParity(const TComParity& value) {
  value.AssignTo(parity_);
  SettingsNotifyLink();
  ApplyDCB();
}
void TCustomComPort::SetFlowControl(const TComFlowControl& value) {
  value.AssignTo(flowControl_);
  SettingsNotifyLink();
  ApplyDCB();
}
void TCustomComPort::SetTimeouts(const TComTimeouts& value) {
  value.AssignTo(timeouts_);
  SettingsNotifyLink();
  ApplyTimeouts();
}
void TCustomComPort::SetBuffer(const TComBuffer& value) {
  value.AssignTo(buffer_);
  SettingsNotifyLink();
  ApplyBuffer();
}

void TCustomComPort::BeginUpdate() {
  ++updateCount_;
}

void TCustomComPort::EndUpdate() {
  if (updateCount_ < 1) return;
  if (--updateCount_ != 0) return;
  if (settingsChangeHeld_) {
    settingsChangeHeld_ = false;
    SettingsNotifyLink();
  }
  SetupComPort();
}

void TCustomComPort::SetupComPort() {
  ApplyBuffer();
  ApplyDCB();
  ApplyTimeouts();
}

void TCustomComPort::ApplyBuffer() {
  if (!CanApply()) return;
  const int error = Handle().SetupComm(static_cast<uint32_t>(buffer_.InputSize()),
                                       static_cast<uint32_t>(buffer_.OutputSize()));
  if (error != 0) RaiseComError(ecode::kSetupComm, error);
}

void TCustomComPort::ApplyDCB() {
  if (!CanApply()) return;
  const int error = Handle().SetCommState(BuildDCB());
  if (error != 0) RaiseComError(ecode::kSetCommState, error);
}

void TCustomComPort::ApplyTimeouts() {
  if (!CanApply()) return;
  const int error = Handle().SetCommTimeouts(BuildTimeouts());
  if (error != 0) RaiseComError(ecode::kSetCommTimeouts, error);
}

platform::TDCB TCustomComPort::BuildDCB() const {
  namespace dcb = platform::dcb;
  platform::TDCB record{};
  record.DCBlength = sizeof(platform::TDCB);
  record.BaudRate =
      baudRate_ == brCustom ? static_cast<uint32_t>(customBaudRate_) : BaudRateValue(baudRate_);
  // The flow limits are 16-bit: a large input queue must not wrap them to a small value.
  const int32_t limit = std::clamp(buffer_.InputSize() / 4, 0, 65535);
  record.XonLim = static_cast<uint16_t>(limit);
  record.XoffLim = static_cast<uint16_t>(limit);
  record.EvtChar = eventChar_;
  record.XonChar = flowControl_.XonChar();
  record.XoffChar = flowControl_.XoffChar();

  uint32_t flags = dcb::fBinary;
  if (discardNull_) flags |= dcb::fNull;
  if (flowControl_.OutCTSFlow()) flags |= dcb::fOutxCtsFlow;
  if (flowControl_.OutDSRFlow()) flags |= dcb::fOutxDsrFlow;
  switch (flowControl_.ControlDTR()) {
    case dtrDisable:
      break;
    case dtrEnable:
      flags |= dcb::fDtrControlEnable;
      break;
    case dtrHandshake:
      flags |= dcb::fDtrControlHandshake;
      break;
  }
  switch (flowControl_.ControlRTS()) {
    case rtsDisable:
      break;
    case rtsEnable:
      flags |= dcb::fRtsControlEnable;
      break;
    case rtsHandshake:
      flags |= dcb::fRtsControlHandshake;
      break;
    case rtsToggle:
      flags |= dcb::fRtsControlToggle;
      break;
  }
  if (flowControl_.XonXoffOut()) flags |= dcb::fOutX;
  if (flowControl_.XonXoffIn()) flags |= dcb::fInX;
  if (flowControl_.DSRSensitivity()) flags |= dcb::fDsrSensitivity;
  if (flowControl_.TxContinueOnXoff()) flags |= dcb::fTXContinueOnXoff;
  // A replacement character only means something while the driver checks parity.
  if (parity_.Check()) {
    flags |= dcb::fParity;
    if (parity_.Replace()) {
      flags |= dcb::fErrorChar;
      record.ErrorChar = parity_.ReplaceChar();
    }
  }
  record.Flags = flags;

  record.Parity = static_cast<uint8_t>(parity_.Bits());
  record.StopBits = static_cast<uint8_t>(stopBits_);
  record.ByteSize = static_cast<uint8_t>(5 + dataBits_);
  return record;
}

platform::TCommTimeouts TCustomComPort::BuildTimeouts() const {
  // -1 keeps all its bits, which the driver reads as its maximum; any other value passes as is.
  auto value = [](int32_t ms) { return static_cast<uint32_t>(ms); };
  platform::TCommTimeouts record;
  record.ReadIntervalTimeout = value(timeouts_.ReadInterval());
  record.ReadTotalTimeoutMultiplier = value(timeouts_.ReadTotalMultiplier());
  record.ReadTotalTimeoutConstant = value(timeouts_.ReadTotalConstant());
  record.WriteTotalTimeoutMultiplier = value(timeouts_.WriteTotalMultiplier());
  record.WriteTotalTimeoutConstant = value(timeouts_.WriteTotalConstant());
  return record;
}

}  // namespace serial
