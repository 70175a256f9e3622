// The framework thread: all of it but the priority levels, which each system sets its own way.
#include "platform/Thread.h"

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
