#pragma once
// The time-out rules of a read and a write, as pure functions of the time-out record and the
// byte count.

#include <cstdint>
#include <optional>

#include "platform/ComDevice.h"

namespace platform::posix {

struct TReadPlan {
  bool returnAtOnce = false;        // completes at once with what is queued, possibly nothing
  bool returnOnFirstBytes = false;  // completes as soon as anything has arrived
  std::optional<uint64_t> totalMs;  // the whole read ends after this long (none: no limit)
  // The read ends when no byte follows the last one for this long; it starts counting at the
  // first byte (none: no limit).
  std::optional<uint64_t> intervalMs;
};

TReadPlan PlanRead(const TCommTimeouts& timeouts, uint32_t count);

// The limit of a write of `count` bytes; none when both write totals are 0.
std::optional<uint64_t> WriteTotalMs(const TCommTimeouts& timeouts, uint32_t count);

}  // namespace platform::posix
