// The framework thread's priority levels on Linux.
#include "platform/Thread.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

// An unprivileged process may lower a thread's priority but not raise it: the levels below normal
// become nice values 5, 10 and the idle policy; the levels above normal ask for negative nice
// values and, refused without CAP_SYS_NICE, the thread stays at normal.
void TThread::ApplyLevel() {
  static constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -15};
  const pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
  sched_param param{};
  if (level_ == TThreadLevel::Idle) {
    sched_setscheduler(tid, SCHED_IDLE, &param);
    return;
  }
  sched_setscheduler(tid, SCHED_OTHER, &param);
  setpriority(PRIO_PROCESS, static_cast<id_t>(tid), kNice[static_cast<int>(level_)]);
}

}  // namespace platform
