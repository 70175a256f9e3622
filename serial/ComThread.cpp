#include "serial/ComThread.h"

#include <iterator>

#include "platform/MessageLoop.h"
#include "serial/ComPort.h"

namespace serial {

platform::TThreadLevel ThreadLevel(TThreadPriority priority) {
  using L = platform::TThreadLevel;
  constexpr L kLevels[] = {L::Idle,   L::Lowest,  L::Lower,       L::Normal,
                           L::Higher, L::Highest, L::TimeCritical};
  static_assert(std::size(kLevels) == tpTimeCritical + 1);
  return priority <= tpTimeCritical ? kLevels[priority] : L::Normal;
}

TComThread::TComThread(TCustomComPort& port)
    : comPort_(port), device_(port.Handle()), syncMethod_(port.SyncMethod()) {
  SetLevel(ThreadLevel(port.EventThreadPriority()));
  // A mask the device refuses shows as a wait that cannot start: the worker then ends quietly.
  device_.SetCommMask(EventsToInts(port.Events));
  // Bytes that came before the mask was armed raise no event, on Windows as on the termios
  // device: only bytes arriving after it do. Left alone they would wait unseen until the next
  // byte came, and a query among them unanswered. So the queue is looked at once the mask is
  // armed, here on the opening thread before the worker runs, and the worker's first turn
  // delivers a receive event of its own, in the port's delivery mode, never beside another.
  // A byte that comes in between is told twice; the second delivery finds nothing and is quiet.
  if (port.Events.Contains(evRxChar)) {
    try {
      rxQueued_ = port.InputCount() > 0;
    } catch (const EComPort&) {
      // A device that cannot tell its queue fails its wait too, and the worker ends there.
    }
  }
  Start();
}

TComThread::~TComThread() {
  Stop();
  WaitFor();
}

void TComThread::Stop() {
  stopEvent_.Set();
}

bool TComThread::Stopping() {
  return platform::WaitForSingleObject(stopEvent_, 0) == platform::kWaitObject0;
}

void TComThread::ReleaseDevice() {
  Disarm(true);
  deviceReleased_.store(true);
}

void TComThread::Disarm(bool purge) {
  if (deviceReleased_.load()) return;
  device_.SetCommMask(0);
  if (purge) device_.PurgeComm(platform::kPurgeTxClear | platform::kPurgeRxClear);
}

void TComThread::Execute() {
  // Initially signalled: the first turn starts a wait, which resets it.
  platform::TEvent completion(true, true);
  platform::TOverlapped ov;
  ov.hEvent = &completion;
  // The device writes the detected events here until the wait has ended, so it lives as long as
  // the loop, and a wait still pending is cancelled before it goes.
  uint32_t mask = 0;
  struct EndWait {
    platform::ComDevice& device;
    platform::TOverlapped& ov;
    const std::atomic<bool>& released;
    ~EndWait() {
      if (!released.load()) device.CancelIo(&ov);
    }
  } endWait{device_, ov, deviceReleased_};

  try {
    if (rxQueued_ && !Stopping()) {
      detectedEvents_ = TComEvents{evRxChar};
      DispatchComMsg();
    }
    // A stop that came while delivering takes effect before the device is waited on again: the
    // delivery may have closed the port, and with it the device.
    while (!Stopping()) {
      mask = 0;
      const int start = device_.WaitCommEvent(&mask, &ov);
      // A wait that cannot start (the device has gone) leaves the completion event signalled:
      // going round again would spin without end.
      if (start != 0 && start != platform::kIoPending) break;
      if (device_.WaitStopOrCompletion(stopEvent_, ov) != platform::kWaitObject0 + 1) break;
      uint32_t unused = 0;
      if (device_.GetOverlappedResult(&ov, &unused, false) != 0) continue;
      detectedEvents_ = IntToEvents(mask);
      DispatchComMsg();
    }
  } catch (...) {
    // A raising handler ends the worker; the port stays open and what it has received is still
    // the application's, so the queues are left alone.
    Disarm(false);
    throw;
  }
  Disarm(true);
}

void TComThread::DispatchComMsg() {
  switch (syncMethod_) {
    case smThreadSync:
      platform::Synchronize([this] { DoEvents(); });
      break;
    case smWindowSync:
      SendEvents();
      break;
    case smNone:
      DoEvents();
      break;
  }
}

void TComThread::SendEvents() {
  platform::THiddenWindow* window = comPort_.NotifyWindow();
  if (!window) return;
  for (TComEvent event : kComEventDeliveryOrder) {
    if (detectedEvents_.Contains(event)) {
      platform::SendMessage(*window, PortEventMessage, EventToInt(event), 0);
    }
  }
}

void TComThread::DoEvents() {
  struct Mark {
    std::atomic<std::thread::id>& deliverer;
    std::thread::id outer;
    ~Mark() { deliverer.store(outer); }
  } mark{deliverer_, deliverer_.exchange(std::this_thread::get_id())};
  comPort_.CallEvents(detectedEvents_);
}

}  // namespace serial
