#pragma once
// Kernel-style event objects: the one primitive the serial component uses to wait for
// overlapped completions, comm events and its stop signal. A wait on several events
// returns the index of the first one signalled, as the Windows waits do, so the callers
// keep the shape of the calls they stand in for.

#include <cstdint>
#include <mutex>
#include <span>

namespace platform {

inline constexpr uint32_t INFINITE = 0xFFFFFFFFu;
inline constexpr uint32_t WAIT_OBJECT_0 = 0;
inline constexpr uint32_t WAIT_TIMEOUT = 258;
inline constexpr uint32_t WAIT_FAILED = 0xFFFFFFFFu;

// A manual-reset event stays signalled until Reset; an auto-reset event is consumed by
// the one wait that it releases.
class TEvent {
 public:
  TEvent(bool manualReset, bool initialState);
  ~TEvent();
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void Set();
  void Reset();
  bool ManualReset() const { return manualReset_; }
  // The descriptor that becomes readable while the event is signalled (for poll-based waits
  // in the platform realisations; callers outside platform/ never need it).
  int Descriptor() const { return fd_; }

 private:
  friend uint32_t WaitForMultipleObjects(std::span<TEvent* const>, uint32_t);
  bool TryConsume();  // auto-reset: take the signal if it is still there
  void Acquire() const { std::lock_guard lock(setting_); }
  bool manualReset_;
  int fd_;
  // Set writes the descriptor under this lock, and a released waiter takes it once before it
  // returns. So everything the setter did, the descriptor write included, is over before the
  // waiter goes on, and the waiter may destroy the event at once (a plain poll() wake-up would
  // leave the setter still inside Set, and orders nothing in the language's memory model).
  mutable std::mutex setting_;
};

// Waits until the event is signalled or `timeoutMs` passes (INFINITE: no limit).
// Returns WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
uint32_t WaitForSingleObject(TEvent& event, uint32_t timeoutMs);

// Waits until any one of the events is signalled; returns WAIT_OBJECT_0 + its index
// (the lowest index when several are), WAIT_TIMEOUT, or WAIT_FAILED (also for an empty list
// or a missing event). An auto-reset event is consumed only when its index is returned.
uint32_t WaitForMultipleObjects(std::span<TEvent* const> events, uint32_t timeoutMs);

}  // namespace platform
