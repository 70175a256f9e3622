#include "platform/posix/Timeouts.h"

namespace platform::posix {

TReadPlan PlanRead(const TCommTimeouts& t, uint32_t count) {
  TReadPlan plan;
  if (t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
      t.ReadTotalTimeoutConstant == 0) {
    plan.returnAtOnce = true;
    return plan;
  }
  if (t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == kMaxDword &&
      t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < kMaxDword) {
    plan.returnOnFirstBytes = true;
    plan.totalMs = t.ReadTotalTimeoutConstant;
    return plan;
  }
  if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0) {
    plan.totalMs = uint64_t{t.ReadTotalTimeoutMultiplier} * count + t.ReadTotalTimeoutConstant;
  }
  if (t.ReadIntervalTimeout != 0) plan.intervalMs = t.ReadIntervalTimeout;
  return plan;
}

std::optional<uint64_t> WriteTotalMs(const TCommTimeouts& t, uint32_t count) {
  if (t.WriteTotalTimeoutMultiplier == 0 && t.WriteTotalTimeoutConstant == 0) return std::nullopt;
  return uint64_t{t.WriteTotalTimeoutMultiplier} * count + t.WriteTotalTimeoutConstant;
}

}  // namespace platform::posix
