// The framework thread's priority levels on Windows.
#include "platform/Thread.h"

#include "platform/win32/Windows.h"

namespace platform {

// The framework's levels are the system's thread priorities, one for one.
void TThread::ApplyLevel() {
  static constexpr int kPriority[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                      THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                      THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                      THREAD_PRIORITY_TIME_CRITICAL};
  SetThreadPriority(GetCurrentThread(), kPriority[static_cast<int>(level_)]);
}

}  // namespace platform
