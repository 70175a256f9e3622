// TCustomComPort: the links, and the delivery of events to the links and the handlers.
#include "serial/ComPort.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "platform/Application.h"
#include "platform/MessageLoop.h"
#include "platform/Sync.h"

namespace serial {
namespace {

// Handlers run from a copy: a handler may reassign or clear itself while it runs.
template <typename H, typename... A>
void Fire(const H& handler, A&&... args) {
  if (!handler) return;
  H call = handler;
  call(std::forward<A>(args)...);
}

}  // namespace

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
