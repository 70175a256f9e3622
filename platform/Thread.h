#pragma once
// The framework thread: created suspended, started with Start, ended by returning from Execute.
// A thread object must not be destroyed while Execute runs: the destructor of the class that
// overrides Execute stops it and calls WaitFor first.

#include <atomic>
#include <exception>
#include <memory>
#include <thread>

#include "platform/Export.h"
#include "platform/Sync.h"

namespace platform {

// Scheduling levels, lowest first, as the framework names them.
enum class TThreadLevel { Idle, Lowest, Lower, Normal, Higher, Highest, TimeCritical };

class VALTREX_INTERNAL TThread {
 public:
  TThread();
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();
  // Applies at once when running, else when started.
  void SetLevel(TThreadLevel level);
  TThreadLevel Level() const { return level_; }

  bool Finished() const { return finished_.load(); }
  // Waits until Execute has returned. On the main thread the message queue is served meanwhile,
  // so a delivery the thread has started completes. Called on the thread itself it returns at
  // once: a thread cannot wait for its own end.
  void WaitFor();
  bool IsCurrentThread() const { return std::this_thread::get_id() == id_.load(); }

  // What Execute raised, if anything; the thread ends with it.
  std::exception_ptr FatalException() const { return fatal_; }

 protected:
  virtual void Execute() = 0;

 private:
  void Run();
  void ApplyLevel();

  std::thread thread_;
  std::atomic<std::thread::id> id_{};
  TEvent done_{true, false};
  std::atomic<bool> finished_{false};
  TThreadLevel level_ = TThreadLevel::Normal;
  std::exception_ptr fatal_;
};

}  // namespace platform
