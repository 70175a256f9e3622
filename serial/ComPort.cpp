// TCustomComPort: construction, and the lifecycle: opening, closing and the event thread.
#include "serial/ComPort.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <utility>

#include "platform/Application.h"
#include "platform/MessageLoop.h"
#include "serial/ComThread.h"

namespace serial {

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

}  // namespace serial
