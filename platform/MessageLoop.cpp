// The message-loop queue: one process-wide list of calls and messages for the main thread, in
// arrival order. Workers block on an event of their own until the main thread has served them.
#include "platform/MessageLoop.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <utility>
#include <variant>

#include "platform/MainThread.h"

namespace platform {

struct THiddenWindow::TState {
  TWndProc proc;
  std::atomic<bool> alive{true};
};

namespace {

// The sender's side of one sent message.
struct TReply {
  TEvent done{true, false};
  intptr_t result = 0;
  bool replied = false;  // main thread only
};

struct TSentMessage {
  std::shared_ptr<THiddenWindow::TState> window;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
  std::shared_ptr<TReply> reply;
};

using TItem = std::variant<loop::TSyncCall, TSentMessage>;

struct TQueue {
  std::mutex mutex;
  std::deque<TItem> items;
  TEvent pending{true, false};  // signalled while items wait

  void Push(TItem item) {
    {
      std::lock_guard lock(mutex);
      items.push_back(std::move(item));
      pending.Set();
    }
    loop::WakeUp();
  }

  bool Pop(TItem& item) {
    std::lock_guard lock(mutex);
    if (items.empty()) {
      pending.Reset();
      return false;
    }
    item = std::move(items.front());
    items.pop_front();
    if (items.empty()) pending.Reset();
    return true;
  }
};

TQueue& Queue() {
  static TQueue queue;
  return queue;
}

// The message being handled on this thread, if its sender waits on another thread.
thread_local TReply* tCurrentReply = nullptr;

void Release(TReply& reply, intptr_t result) {
  if (reply.replied) return;
  reply.replied = true;
  reply.result = result;
  reply.done.Set();
}

void Dispatch(TSentMessage& m) {
  if (!m.window->alive) {
    Release(*m.reply, 0);
    return;
  }
  TReply* outer = std::exchange(tCurrentReply, m.reply.get());
  struct Restore {
    TReply* outer;
    TReply& reply;
    ~Restore() {
      // A procedure that never replied releases its sender when it returns, or raises.
      Release(reply, 0);
      tCurrentReply = outer;
    }
  } restore{outer, *m.reply};
  const intptr_t result = m.window->proc(m.message, m.wParam, m.lParam);
  Release(*m.reply, result);
}

}  // namespace

void loop::QueueSyncCall(const TSyncCall& call) {
  Queue().Push(call);
}

void SetMainThread() {
  loop::MarkMainThread();
}

size_t ProcessMessages() {
  size_t served = 0;
  for (TItem item; Queue().Pop(item); ++served) {
    if (auto* sync = std::get_if<loop::TSyncCall>(&item)) {
      loop::RunSyncCall(*sync);
    } else {
      // An exception from a window procedure is the procedure's own to handle; one that still
      // escapes goes to the caller of ProcessMessages, the toolkit's edge.
      Dispatch(std::get<TSentMessage>(item));
    }
  }
  return served;
}

bool MessagesPending() {
  std::lock_guard lock(Queue().mutex);
  return !Queue().items.empty();
}

bool WaitServingMessages(TEvent& done, uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  TEvent* events[] = {&done, &Queue().pending};
  for (;;) {
    uint32_t wait = kInfinite;
    if (timeoutMs != kInfinite) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      wait = left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0;
    }
    const uint32_t r = WaitForMultipleObjects(events, wait);
    if (r == kWaitObject0) return true;
    if (r == kWaitObject0 + 1) {
      ProcessMessages();
      continue;
    }
    return false;
  }
}

THiddenWindow::THiddenWindow(TWndProc proc) : state_(std::make_shared<TState>()) {
  state_->proc = std::move(proc);
}

THiddenWindow::~THiddenWindow() {
  state_->alive = false;
  // Release the senders of what is still queued for this window.
  std::deque<TItem> dropped;
  {
    TQueue& q = Queue();
    std::lock_guard lock(q.mutex);
    for (auto it = q.items.begin(); it != q.items.end();) {
      auto* m = std::get_if<TSentMessage>(&*it);
      if (m && m->window == state_) {
        dropped.push_back(std::move(*it));
        it = q.items.erase(it);
      } else {
        ++it;
      }
    }
    if (q.items.empty()) q.pending.Reset();
  }
  for (TItem& item : dropped) Release(*std::get<TSentMessage>(item).reply, 0);
}

intptr_t SendMessage(THiddenWindow& window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (IsMainThread()) {
    TReply* outer = std::exchange(tCurrentReply, nullptr);
    struct Restore {
      TReply* outer;
      ~Restore() { tCurrentReply = outer; }
    } restore{outer};
    return window.state_->alive ? window.state_->proc(message, wParam, lParam) : 0;
  }
  auto reply = std::make_shared<TReply>();
  Queue().Push(TSentMessage{window.state_, message, wParam, lParam, reply});
  WaitForSingleObject(reply->done, kInfinite);
  return reply->result;
}

bool InSendMessage() {
  return tCurrentReply != nullptr && !tCurrentReply->replied;
}

void ReplyMessage(intptr_t result) {
  if (tCurrentReply) Release(*tCurrentReply, result);
}

intptr_t DefWindowProc(uint32_t, uintptr_t, intptr_t) {
  return 0;
}

}  // namespace platform
