#include "serial/ComPort.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <span>
#include <utility>

#include "platform/Application.h"
#include "platform/MessageLoop.h"
#include "platform/Sync.h"
#include "serial/ComThread.h"

namespace serial {
namespace {

template <typename T>
bool Change(T& field, T value) {
  if (field == value) return false;
  field = value;
  return true;
}

// Handlers run from a copy: a handler may reassign or clear itself while it runs.
template <typename H, typename... A>
void Fire(const H& handler, A&&... args) {
  if (!handler) return;
  H call = handler;
  call(std::forward<A>(args)...);
}

// A record that a transfer of nothing leaves behind reads as finished with 0 bytes.
void MarkUnused(TAsync& async) {
  async.Overlapped.InternalHigh.store(0);
  async.Overlapped.Internal.store(0);
}

// The record of a synchronous transfer. Making one costs an event, so each thread keeps the last
// one it used for the next; a transfer started while another is finishing (a link handler that
// writes) makes its own. The record goes back however the transfer ends, its operation ended.
class SyncAsync {
 public:
  explicit SyncAsync(TCustomComPort& port)
      : port_(port), async_(spare_ ? std::move(spare_) : std::make_unique<TAsync>()) {
    // A kept record still tells of its last transfer; a transfer of nothing must read as 0.
    async_->Kind = okWrite;
    MarkUnused(*async_);
    // Nobody waits on this record's event, so it has none: the device then spends no system
    // calls setting and clearing it, two for every transfer.
    async_->Overlapped.hEvent = nullptr;
  }
  ~SyncAsync() {
    port_.EndAsync(*async_);
    if (!spare_) spare_ = std::move(async_);
  }
  SyncAsync(const SyncAsync&) = delete;
  SyncAsync& operator=(const SyncAsync&) = delete;
  TAsync* get() const { return async_.get(); }

 private:
  static thread_local std::unique_ptr<TAsync> spare_;
  TCustomComPort& port_;
  std::unique_ptr<TAsync> async_;
};
thread_local std::unique_ptr<TAsync> SyncAsync::spare_;

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

TCustomComPort::TCustomComPort() : opener_(platform::OpenComDevice) {
  parity_.comPort_ = this;
  flowControl_.comPort_ = this;
  timeouts_.comPort_ = this;
  buffer_.comPort_ = this;
}

TCustomComPort::~TCustomComPort() {
  try {
    Close();
  } catch (...) {
    try {
      platform::HandleException(std::current_exception());
    } catch (...) {
      // Nothing may leave a destructor.
    }
  }
  ReapRetiredThreads();
}

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

// --- Lifecycle

void TCustomComPort::SetDeviceOpener(platform::ComDeviceOpener opener) {
  opener_ = opener ? std::move(opener) : platform::ComDeviceOpener(platform::OpenComDevice);
}

platform::ComDevice& TCustomComPort::Handle() const {
  return handle_ ? *handle_ : platform::InvalidComDevice();
}

void TCustomComPort::CreateHandle() {
  int error = 0;
  std::unique_ptr<platform::ComDevice> device = opener_(port_, error);
  if (!device) RaiseComError(ecode::kOpen, error != 0 ? error : ENODEV);
  handle_ = std::move(device);
}

void TCustomComPort::DestroyHandle() {
  handle_.reset();
}

void TCustomComPort::Open() {
  if (connected_ || state_.Designing) return;
  ReapRetiredThreads();
  CallBeforeOpen();
  CreateHandle();
  connected_ = true;
  bool linksToldUp = false;
  try {
    SetupComPort();
    // The event thread starts on the configured line; none runs while Events is empty.
    StartEventThread();
    linksToldUp = true;
    CallAfterOpen();
  } catch (...) {
    // Whatever step failed, a raised Open leaves the port closed.
    closing_ = true;
    StopEventThread();
    closing_ = false;
    DestroyHandle();
    connected_ = false;
    if (linksToldUp) {
      try {
        SendSignalToLink(leConn, false);
      } catch (...) {
        // The first failure is the one the caller needs to see.
      }
    }
    throw;
  }
}

void TCustomComPort::Close() {
  if (!connected_ || state_.Designing) return;
  // A removed adapter or a raising handler must not keep the device: every step runs, and the
  // first failure is raised once the port is closed.
  std::exception_ptr failure;
  auto step = [&failure](auto&& action) {
    try {
      action();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  };
  closing_ = true;
  step([this] { CallBeforeClose(); });
  step([this] { AbortAllAsync(); });
  // The event thread stops before the device it waits on is released.
  step([this] { StopEventThread(); });
  step([this] { DestroyHandle(); });
  handle_.reset();
  connected_ = false;
  closing_ = false;
  step([this] { CallAfterClose(); });
  if (failure) std::rethrow_exception(failure);
}

void TCustomComPort::StartEventThread() {
  if (Events.Empty()) return;
  if (syncMethod_ == smWindowSync) {
    notifyWindow_ = std::make_unique<platform::THiddenWindow>(
        [this](uint32_t msg, uintptr_t wParam, intptr_t lParam) -> intptr_t {
          TMessage message{msg, wParam, lParam, 0};
          WindowMethod(message);
          return message.Result;
        });
  }
  eventThread_ = std::make_unique<TComThread>(*this);
}

void TCustomComPort::StopEventThread() {
  if (eventThread_ && eventThread_->DeliveringHere()) {
    // Closed from inside one of the thread's own deliveries: the worker waits for this very call
    // to return, so waiting for the worker here would never end. It is told to stop and that the
    // device is no longer its own, and is collected once the delivery has returned.
    eventThread_->Stop();
    eventThread_->ReleaseDevice();
    retired_.push_back(std::move(eventThread_));
  } else {
    // Stops the worker and waits for it, serving the deliveries it has started.
    eventThread_.reset();
  }
  notifyWindow_.reset();
}

void TCustomComPort::ReapRetiredThreads() {
  // One whose delivery is still on this thread's stack cannot be waited for yet.
  std::erase_if(retired_,
                [](const std::unique_ptr<TComThread>& t) { return !t->DeliveringHere(); });
}

void TCustomComPort::SetConnected(bool value) {
  if (state_.Designing || state_.Loading) {
    connected_ = value;
    return;
  }
  if (value == connected_) return;
  if (value) {
    Open();
  } else {
    Close();
  }
}

void TCustomComPort::SetPort(const std::string& value) {
  if (value == port_) return;
  port_ = value;
  SettingsNotifyLink();
  if (connected_ && !state_.Designing && !state_.Loading) {
    Close();
    Open();
  }
}

void TCustomComPort::Loaded() {
  state_.Loading = false;
  if (connected_ && !state_.Designing) {
    connected_ = false;
    try {
      Open();
    } catch (...) {
      platform::HandleException(std::current_exception());
    }
  }
}

// --- Transfer

void TCustomComPort::InitAsync(std::unique_ptr<TAsync>& async) {
  DoneAsync(async);
  async = std::make_unique<TAsync>();
}

void TCustomComPort::DoneAsync(std::unique_ptr<TAsync>& async) {
  if (!async) return;
  EndAsync(*async);
  async.reset();
}

void TCustomComPort::EndAsync(TAsync& async) {
  // The device writes into a record (and its buffer) until the operation ends: end it first.
  // A record left by a device that is gone has nobody writing into it any more.
  if (async.Running() && handle_) {
    handle_->CancelIo(&async.Overlapped);
    // Until the status is in, its last touch of the record: the event is set a moment before
    // it, and a synchronous transfer's record has none. The device's own wait covers both.
    while (async.Running()) handle_->GetOverlappedResult(&async.Overlapped, nullptr, true);
  }
  async.DataCopy.reset();
  async.DataSize = 0;
}

int32_t TCustomComPort::WriteAsync(const void* buffer, int32_t count, TAsync* async) {
  if (!async || async->Running()) RaiseComError(ecode::kInvalidAsync);
  async->Kind = okWrite;
  async->DataCopy.reset();
  async->DataSize = 0;
  if (count <= 0) {
    MarkUnused(*async);
    return 0;
  }
  async->DataCopy = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(count));
  std::memcpy(async->DataCopy.get(), buffer, static_cast<size_t>(count));
  async->DataSize = count;
  uint32_t done = 0;
  const int error = Handle().WriteFile(async->DataCopy.get(), static_cast<uint32_t>(count), &done,
                                       &async->Overlapped);
  if (error != 0 && error != platform::kIoPending) RaiseComError(ecode::kWriteFile, error);
  SendSignalToLink(leTx, true);
  return error == 0 ? static_cast<int32_t>(done) : 0;
}

int32_t TCustomComPort::ReadAsync(void* buffer, int32_t count, TAsync* async) {
  if (!async || async->Running()) RaiseComError(ecode::kInvalidAsync);
  async->Kind = okRead;
  async->DataCopy.reset();
  async->DataSize = 0;
  if (count <= 0) {
    MarkUnused(*async);
    return 0;
  }
  uint32_t done = 0;
  const int error =
      Handle().ReadFile(buffer, static_cast<uint32_t>(count), &done, &async->Overlapped);
  if (error != 0 && error != platform::kIoPending) RaiseComError(ecode::kReadFile, error);
  return error == 0 ? static_cast<int32_t>(done) : 0;
}

int32_t TCustomComPort::WaitForAsync(TAsync* async) {
  if (!async) RaiseComError(ecode::kInvalidAsync);
  const int32_t code = async->Kind == okRead ? ecode::kReadFile : ecode::kWriteFile;
  // The device does the waiting: a read's waiter can then take the bytes from the driver itself.
  uint32_t done = 0;
  const int error = Handle().GetOverlappedResult(&async->Overlapped, &done, true);
  if (error != 0) RaiseComError(code, error);
  const auto transferred = static_cast<int32_t>(done);
  if (async->Kind == okRead) {
    // Only the links care whether the read emptied the queue; the count costs two driver calls.
    if (!links_.empty() && InputCount() == 0) SendSignalToLink(leRx, false);
  } else if (async->DataCopy) {
    // A timed-out write sent only part of the copy; the links hear of what went out.
    TxNotifyLink(async->DataCopy.get(), std::min(transferred, async->DataSize));
  }
  return transferred;
}

bool TCustomComPort::IsAsyncCompleted(TAsync* async) {
  if (!async) RaiseComError(ecode::kInvalidAsync);
  uint32_t done = 0;
  const int error = Handle().GetOverlappedResult(&async->Overlapped, &done, false);
  if (error == 0) return true;
  if (error == platform::kIoPending || error == platform::kIoIncomplete) return false;
  RaiseComError(ecode::kAsyncStatus, error);
}

int32_t TCustomComPort::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  SyncAsync async(*this);
  WriteAsync(buffer, count, async.get());
  return WaitForAsync(async.get());
}

int32_t TCustomComPort::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  SyncAsync async(*this);
  ReadAsync(buffer, count, async.get());
  return WaitForAsync(async.get());
}

int32_t TCustomComPort::WriteStrAsync(const std::string& text, TAsync* async) {
  // An empty text still goes through WriteAsync: the record must forget the transfer it served
  // before, or its next wait reports that one again.
  return WriteAsync(text.data(), static_cast<int32_t>(text.size()), async);
}

int32_t TCustomComPort::WriteStr(const std::string& text) {
  if (text.empty()) return 0;
  SyncAsync async(*this);
  WriteStrAsync(text, async.get());
  return WaitForAsync(async.get());
}

int32_t TCustomComPort::ReadStrAsync(std::string& text, int32_t count, TAsync* async) {
  text.assign(static_cast<size_t>(std::max(count, 0)), '\0');
  // A count of nothing still goes through ReadAsync, which marks the record unused.
  return ReadAsync(text.data(), count, async);
}

int32_t TCustomComPort::ReadStr(std::string& text, int32_t count) {
  if (count <= 0) {
    text.clear();
    return 0;
  }
  SyncAsync async(*this);
  ReadStrAsync(text, count, async.get());
  const int32_t received = WaitForAsync(async.get());
  text.resize(static_cast<size_t>(std::clamp(received, 0, count)));
  return received;
}

void TCustomComPort::AbortAllAsync() {
  const int error = Handle().PurgeComm(platform::kPurgeTxAbort | platform::kPurgeRxAbort);
  if (error != 0) RaiseComError(ecode::kPurgeComm, error);
}

void TCustomComPort::ClearBuffer(bool input, bool output) {
  uint32_t flags = 0;
  if (input) flags |= platform::kPurgeRxClear;
  if (output) flags |= platform::kPurgeTxClear;
  const int error = Handle().PurgeComm(flags);
  if (error != 0) RaiseComError(ecode::kPurgeComm, error);
}

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

// --- Links

void TCustomComPort::RegisterLink(TComLink* link) {
  const bool known = std::any_of(links_.begin(), links_.end(),
                                 [link](const Registered& r) { return r.link == link; });
  if (!link || known) RaiseComError(ecode::kLinkRegistration);
  links_.push_back({link, ++nextLinkSerial_});
  rxBufLinked_ = HasLink();
}

void TCustomComPort::UnRegisterLink(TComLink* link) {
  const auto it = std::find_if(links_.begin(), links_.end(),
                               [link](const Registered& r) { return r.link == link; });
  if (it == links_.end()) RaiseComError(ecode::kLinkRegistration);
  links_.erase(it);
  rxBufLinked_ = HasLink();
}

bool TCustomComPort::HasLink() const {
  return std::any_of(links_.begin(), links_.end(),
                     [](const Registered& r) { return static_cast<bool>(r.link->OnRxBuf); });
}

// Walks the links registered when the walk began. A handler may register or unregister links:
// one removed meanwhile is not called again, one added is called from the next walk on.
template <typename F>
void TCustomComPort::ForEachLink(F call) {
  if (links_.empty()) return;
  const std::vector<Registered> walk = links_;
  for (const Registered& entry : walk) {
    const bool stillThere =
        std::any_of(links_.begin(), links_.end(),
                    [&entry](const Registered& r) { return r.serial == entry.serial; });
    if (stillThere) call(*entry.link);
  }
}

void TCustomComPort::SendSignalToLink(TComLinkEvent event, bool onOff) {
  TComSignalEvent TComLink::*slot = nullptr;
  switch (event) {
    case leConn:
      slot = &TComLink::OnConn;
      break;
    case leCTS:
      slot = &TComLink::OnCTSChange;
      break;
    case leDSR:
      slot = &TComLink::OnDSRChange;
      break;
    case leRLSD:
      slot = &TComLink::OnRLSDChange;
      break;
    case leRx:
      slot = &TComLink::OnRx;
      break;
    case leTx:
      slot = &TComLink::OnTx;
      break;
    default:
      return;
  }
  ForEachLink([&](TComLink& link) { Fire(link.*slot, *this, onOff); });
}

void TCustomComPort::NotifyLink(TComLinkEvent event) {
  TNotifyEvent TComLink::*slot = nullptr;
  switch (event) {
    case leRing:
      slot = &TComLink::OnRing;
      break;
    case leTxEmpty:
      slot = &TComLink::OnTxEmpty;
      break;
    case leRxFlag:
      slot = &TComLink::OnRxFlag;
      break;
    default:
      return;
  }
  ForEachLink([&](TComLink& link) { Fire(link.*slot, *this); });
}

void TCustomComPort::TxNotifyLink(const void* buffer, int32_t count) {
  ForEachLink([&](TComLink& link) { Fire(link.OnTxBuf, *this, buffer, count); });
}

void TCustomComPort::SettingsNotifyLink() {
  // A whole set of settings given at once is one change to whoever shows them.
  if (updateCount_ > 0) {
    settingsChangeHeld_ = true;
    return;
  }
  ForEachLink([&](TComLink& link) { Fire(link.OnSettingsChange, *this); });
}

// --- Delivery

void TCustomComPort::CallBeforeOpen() {
  DoBeforeOpen();
}

void TCustomComPort::CallAfterOpen() {
  SendSignalToLink(leConn, true);
  DoAfterOpen();
  CheckSignals(true);
}

void TCustomComPort::CallBeforeClose() {
  CheckSignals(false);
  DoBeforeClose();
}

void TCustomComPort::CallAfterClose() {
  SendSignalToLink(leConn, false);
  DoAfterClose();
}

void TCustomComPort::CheckSignals(bool open) {
  if (open) {
    // Listeners and handlers learn the line's initial state.
    CallCTSChange();
    CallDSRChange();
    CallRLSDChange();
  } else {
    SendSignalToLink(leCTS, false);
    SendSignalToLink(leDSR, false);
    SendSignalToLink(leRLSD, false);
    DoCTSChange(false);
    DoDSRChange(false);
    DoRLSDChange(false);
  }
}

void TCustomComPort::CallRxChar() {
  int32_t count = InputCount();
  if (count <= 0) return;
  SendSignalToLink(leRx, true);
  if (!TriggersOnRxChar()) {
    // One read per event, into one buffer shared by the port's and every link's handler. The
    // handlers get what the read delivered, which may be less than the queue held a moment ago.
    std::vector<uint8_t> buffer;
    bool read = false;
    int32_t received = 0;
    auto readNow = [&] {
      read = true;
      buffer.resize(static_cast<size_t>(count));
      received = std::max(Read(buffer.data(), count), 0);
      if (received > 0) DoRxBuf(buffer.data(), received);
    };
    ForEachLink([&](TComLink& link) {
      if (!link.OnRxBuf) return;
      if (!read) readNow();
      if (received > 0) Fire(link.OnRxBuf, *this, buffer.data(), received);
    });
    if (!read && !triggersOnRxChar_) readNow();
    if (read) count = 0;
  }
  if (count > 0) DoRxChar(count);
}

void TCustomComPort::CallTxEmpty() {
  SendSignalToLink(leTx, false);
  NotifyLink(leTxEmpty);
  DoTxEmpty();
}

void TCustomComPort::CallBreak() {
  DoBreak();
}

void TCustomComPort::CallRing() {
  NotifyLink(leRing);
  DoRing();
}

void TCustomComPort::CallCTSChange() {
  const bool onOff = Signals().Contains(csCTS);
  SendSignalToLink(leCTS, onOff);
  DoCTSChange(onOff);
}

void TCustomComPort::CallDSRChange() {
  const bool onOff = Signals().Contains(csDSR);
  SendSignalToLink(leDSR, onOff);
  DoDSRChange(onOff);
}

void TCustomComPort::CallRLSDChange() {
  const bool onOff = Signals().Contains(csRLSD);
  SendSignalToLink(leRLSD, onOff);
  DoRLSDChange(onOff);
}

void TCustomComPort::CallRxFlag() {
  NotifyLink(leRxFlag);
  DoRxFlag();
}

void TCustomComPort::CallError() {
  const TComErrors errors = LastErrors();
  if (!errors.Empty()) DoError(errors);
}

void TCustomComPort::CallRx80Full() {
  DoRx80Full();
}

void TCustomComPort::CallEvent(TComEvent event) {
  switch (event) {
    case evRxChar:
      CallRxChar();
      break;
    case evTxEmpty:
      CallTxEmpty();
      break;
    case evRxFlag:
      CallRxFlag();
      break;
    case evRing:
      CallRing();
      break;
    case evBreak:
      CallBreak();
      break;
    case evCTS:
      CallCTSChange();
      break;
    case evDSR:
      CallDSRChange();
      break;
    case evError:
      CallError();
      break;
    case evRLSD:
      CallRLSDChange();
      break;
    case evRx80Full:
      CallRx80Full();
      break;
  }
}

void TCustomComPort::CallEvents(TComEvents events) {
  for (TComEvent event : kComEventDeliveryOrder) {
    // A handler that closed the port ends the delivery: the rest would reach no device. Once
    // Close has begun, the links have heard the lines drop; a late event must not raise them.
    if (!connected_ || closing_) return;
    if (events.Contains(event)) CallEvent(event);
  }
}

void TCustomComPort::WindowMethod(TMessage& message) {
  if (message.Msg != PortEventMessage) {
    message.Result = platform::DefWindowProc(message.Msg, message.WParam, message.LParam);
    return;
  }
  // The worker runs on while this thread handles the event.
  if (platform::InSendMessage()) platform::ReplyMessage(0);
  message.Result = 0;
  try {
    CallEvents(IntToEvents(static_cast<uint32_t>(message.WParam)));
  } catch (...) {
    // Nobody waits for this delivery any more to take the failure back.
    platform::HandleException(std::current_exception());
  }
}

void TCustomComPort::WaitForEvent(TComEvents& events, platform::TEvent* stopEvent,
                                  int32_t timeout) {
  if (ThreadCreated()) RaiseComError(ecode::kThreadCreated);
  platform::TEvent completion(true, false);
  platform::TOverlapped ov;
  ov.hEvent = &completion;
  platform::ComDevice& device = Handle();
  device.SetCommMask(EventsToInts(events));
  // The device writes into mask until the wait has ended; it is ended before mask goes.
  uint32_t mask = 0;
  int error = device.WaitCommEvent(&mask, &ov);
  if (error == 0 || error == platform::kIoPending) {
    const uint32_t r = device.WaitCompletion(
        ov, stopEvent, timeout < 0 ? platform::kInfinite : static_cast<uint32_t>(timeout));
    const bool ok = r == platform::kWaitObject0 || r == platform::kWaitTimeout ||
                    (stopEvent && r == platform::kWaitObject0 + 1);
    const int waitError = ok ? 0 : platform::LastSystemError();
    error = ok ? 0 : (waitError != 0 ? waitError : EIO);
    // Clearing the mask ends a wait still pending; the cancel makes sure the device has let go.
    device.SetCommMask(0);
    device.CancelIo(&ov);
  }
  if (error != 0) RaiseComError(ecode::kWaitForEvent, error);
  // An event may complete the wait after the time-out or the stop, before the mask is cleared:
  // it came all the same. A wait the clearing or the cancel ended holds no events.
  uint32_t unused = 0;
  const bool completed = device.GetOverlappedResult(&ov, &unused, false) == 0;
  events = completed ? IntToEvents(mask) : TComEvents{};
}

// --- Do methods

void TCustomComPort::DoAfterClose() {
  Fire(OnAfterClose, *this);
}
void TCustomComPort::DoAfterOpen() {
  Fire(OnAfterOpen, *this);
}
void TCustomComPort::DoBeforeClose() {
  Fire(OnBeforeClose, *this);
}
void TCustomComPort::DoBeforeOpen() {
  Fire(OnBeforeOpen, *this);
}
void TCustomComPort::DoRxChar(int32_t count) {
  Fire(OnRxChar, *this, count);
}
void TCustomComPort::DoRxBuf(const void* buffer, int32_t count) {
  Fire(OnRxBuf, *this, buffer, count);
}
void TCustomComPort::DoTxEmpty() {
  Fire(OnTxEmpty, *this);
}
void TCustomComPort::DoBreak() {
  Fire(OnBreak, *this);
}
void TCustomComPort::DoRing() {
  Fire(OnRing, *this);
}
void TCustomComPort::DoRxFlag() {
  Fire(OnRxFlag, *this);
}
void TCustomComPort::DoCTSChange(bool onOff) {
  Fire(OnCTSChange, *this, onOff);
}
void TCustomComPort::DoDSRChange(bool onOff) {
  Fire(OnDSRChange, *this, onOff);
}
void TCustomComPort::DoError(TComErrors errors) {
  Fire(OnError, *this, errors);
}
void TCustomComPort::DoRLSDChange(bool onOff) {
  Fire(OnRLSDChange, *this, onOff);
}
void TCustomComPort::DoRx80Full() {
  Fire(OnRx80Full, *this);
}

}  // namespace serial
