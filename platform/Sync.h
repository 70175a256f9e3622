#pragma once
/// \file
/// Kernel-style event objects: the one primitive the serial component uses to wait for
/// overlapped completions, comm events and its stop signal. A wait on several events
/// returns the index of the first one signalled, as the Windows waits do, so the callers
/// keep the shape of the calls they stand in for.

#include <cstdint>
#include <mutex>
#include <span>
#include "Export.h"

/// The layer under the serial component that stands for the operating system: event objects,
/// the main thread's message loop, the application's exception handler and the serial device
/// seam, each with the shape of its Windows counterpart and realised for the system built for.
namespace platform {

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;  ///< a time-out that never runs out
inline constexpr uint32_t kWaitObject0 = 0;  ///< a wait's result for the first event; add the index
inline constexpr uint32_t kWaitTimeout = 258;  ///< a wait's result when its time-out ran out
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;  ///< a wait's result when it could not wait

/// A manual-reset event stays signalled until Reset; an auto-reset event is consumed by
/// the one wait that it releases.
class VALTREX_API TEvent {
 public:
  /// An event of the given kind, signalled from the start when `initialState` is true.
  TEvent(bool manualReset, bool initialState);
  ~TEvent();
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  /// Signals the event: releases every waiter of a manual-reset event, one of an auto-reset one.
  void Set();
  /// Takes the signal back; waits block again.
  void Reset();
  /// Whether the signal stays until Reset rather than going to the one wait it releases.
  bool ManualReset() const { return manualReset_; }
  /// The system object behind the event, for waits in the platform realisations (a descriptor
  /// that polls readable while the event is signalled, or a kernel event handle); callers outside
  /// platform/ never need it. Pointer-sized, since a handle is a pointer where it is one.
  intptr_t Handle() const { return handle_; }

 private:
  friend uint32_t WaitForMultipleObjects(std::span<TEvent* const>, uint32_t);
  bool TryConsume();  // auto-reset: take the signal if it is still there
  void Acquire() const { std::lock_guard lock(setting_); }
  bool manualReset_;
  intptr_t handle_;
  // Set writes the descriptor under this lock, and a released waiter takes it once before it
  // returns. So everything the setter did, the descriptor write included, is over before the
  // waiter goes on, and the waiter may destroy the event at once (a plain poll() wake-up would
  // leave the setter still inside Set, and orders nothing in the language's memory model).
  mutable std::mutex setting_;
};

/// Waits until the event is signalled or `timeoutMs` passes (kInfinite: no limit).
/// Returns kWaitObject0, kWaitTimeout or kWaitFailed.
VALTREX_API uint32_t WaitForSingleObject(TEvent& event, uint32_t timeoutMs);

/// Waits until any one of the events is signalled; returns kWaitObject0 + its index
/// (the lowest index when several are), kWaitTimeout, or kWaitFailed (also for an empty list
/// or a missing event). An auto-reset event is consumed only when its index is returned.
VALTREX_API uint32_t WaitForMultipleObjects(std::span<TEvent* const> events, uint32_t timeoutMs);

}  // namespace platform
