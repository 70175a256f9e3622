#pragma once
// The event thread of an open port: it waits on the device for the line events the port asked
// for and has each detected set delivered to the port, on the main thread by synchronisation,
// through the port's hidden window, or directly in the worker.

#include <atomic>
#include <thread>

#include "platform/ComDevice.h"
#include "platform/Sync.h"
#include "platform/Thread.h"
#include "serial/ComSettings.h"

namespace serial {

class TCustomComPort;

// The scheduling level a port's EventThreadPriority stands for.
platform::TThreadLevel ThreadLevel(TThreadPriority priority);

class TComThread : public platform::TThread {
 public:
  // Arms the device's event mask with the port's Events and starts the worker.
  explicit TComThread(TCustomComPort& port);
  // Stops the worker and waits for it, serving deliveries on the main thread meanwhile.
  ~TComThread() override;

  void Stop();

  // True while the calling thread is inside this thread's DoEvents: a Close from there must not
  // wait for the worker, which waits for that delivery to return.
  bool DeliveringHere() const { return deliverer_.load() == std::this_thread::get_id(); }

  // The port is closing the device itself (a Close inside a delivery): its events and queues
  // are ended here, on the delivering thread, and the worker does not touch it again.
  void ReleaseDevice();

 protected:
  void Execute() override;

 private:
  void DispatchComMsg();
  void SendEvents();
  void DoEvents();
  bool Stopping();
  void Disarm(bool purge);

  TCustomComPort& comPort_;
  // The device this thread was started on: after a reopen the port holds another one.
  platform::ComDevice& device_;
  const TSyncMethod syncMethod_;
  // Owned by the object, not by Execute, so a Stop after the worker has ended on its own still
  // finds it.
  platform::TEvent stopEvent_{true, false};
  TComEvents detectedEvents_;
  // Bytes were queued when the mask was armed: the worker's first turn delivers them.
  bool rxQueued_ = false;
  std::atomic<std::thread::id> deliverer_{};
  std::atomic<bool> deviceReleased_{false};
};

}  // namespace serial
