#include "platform/Thread.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/MessageLoop.h"

namespace platform {

TThread::TThread() = default;

TThread::~TThread() {
  // The overriding class has waited already; this only reclaims the thread itself.
  if (thread_.joinable()) {
    if (IsCurrentThread()) {
      thread_.detach();
    } else {
      thread_.join();
    }
  }
}

void TThread::Start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] { Run(); });
}

void TThread::Run() {
  id_ = std::this_thread::get_id();
  ApplyLevel();
  try {
    Execute();
  } catch (...) {
    fatal_ = std::current_exception();
  }
  finished_ = true;
  done_.Set();
}

void TThread::SetLevel(TThreadLevel level) {
  level_ = level;
  if (IsCurrentThread()) ApplyLevel();
}

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

void TThread::WaitFor() {
  if (!thread_.joinable() || IsCurrentThread()) return;
  if (IsMainThread()) {
    WaitServingMessages(done_);
  } else {
    WaitForSingleObject(done_, kInfinite);
  }
  thread_.join();
}

}  // namespace platform
