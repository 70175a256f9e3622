#pragma once
// The clock arithmetic that the transfers share: deadlines from time-outs and the poll() time-out
// that waits until one.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <optional>

#include "platform/posix/TermiosDevice.h"

namespace platform::posix {

// Time-outs can add up to more than a clock can hold; thirty years is as good as never.
inline Clock::time_point After(Clock::time_point now, uint64_t ms) {
  constexpr uint64_t kFar = 1'000'000'000'000ull;
  return now + std::chrono::milliseconds(std::min(ms, kFar));
}

inline int PollTimeout(std::optional<Clock::time_point> deadline) {
  if (!deadline) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
  return left <= 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

}  // namespace platform::posix
