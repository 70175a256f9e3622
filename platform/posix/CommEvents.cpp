// Comm events: the mask, the wait, and the watcher of the modem input lines.
#include <linux/serial.h>
#include <pthread.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <mutex>

#include "platform/posix/TermiosDevice.h"

namespace platform::posix {
namespace {

// Interrupts the watcher's wait in the driver. Installed without SA_RESTART, so the wait
// returns EINTR instead of going on.
int WakeSignal() {
  return SIGRTMIN + 2;
}

void OnWakeSignal(int) {}

constexpr uintptr_t kWatched = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG;
// How often the lines are read where the driver cannot wait on them: often enough for a
// handshake or a lamp, seldom enough for an adapter that asks its chip each time.
constexpr auto kModemPollInterval = std::chrono::milliseconds(50);

// The driver has no wait on its lines (many USB adapters): ENOIOCTLCMD reaches the caller as
// ENOTTY, some drivers refuse with EINVAL.
bool NoModemWait(int error) {
  return error == ENOTTY || error == EINVAL;
}

}  // namespace

void TTermiosDevice::InstallWakeSignal() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action = {};
    action.sa_handler = OnWakeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(WakeSignal(), &action, nullptr);
  });
}

namespace {  // False when the lines cannot be read (the device went away).
bool ReadModemState(const TKernel& k, int fd, bool withCounters, TModemState& state) {
  state = {};
  if (k.ioctl(fd, TIOCMGET, &state.lines) != 0) return false;
  serial_icounter_struct c{};
  if (withCounters && k.ioctl(fd, TIOCGICOUNT, &c) == 0) {
    state.counted = true;
    state.counters.cts = static_cast<uint32_t>(c.cts);
    state.counters.dsr = static_cast<uint32_t>(c.dsr);
    state.counters.dcd = static_cast<uint32_t>(c.dcd);
    state.counters.rng = static_cast<uint32_t>(c.rng);
  }
  return true;
}

// The counters catch a line that went and came back between two looks; the levels alone
// cannot.
uint32_t ModemEvents(const TModemState& before, const TModemState& now) {
  const int changed = before.lines ^ now.lines;
  uint32_t events = 0;
  if (changed & TIOCM_CTS) events |= kEvCts;
  if (changed & TIOCM_DSR) events |= kEvDsr;
  if (changed & TIOCM_CD) events |= kEvRlsd;
  if ((changed & TIOCM_RNG) && (now.lines & TIOCM_RNG)) events |= kEvRing;
  if (before.counted && now.counted) {
    if (now.counters.cts != before.counters.cts) events |= kEvCts;
    if (now.counters.dsr != before.counters.dsr) events |= kEvDsr;
    if (now.counters.dcd != before.counters.dcd) events |= kEvRlsd;
    if (now.counters.rng != before.counters.rng) events |= kEvRing;
  }
  return events;
}

}  // namespace

void TTermiosDevice::RaiseEvents(uint32_t events) {
  // Events seen while no wait is pending are kept for the next wait, which then returns at
  // once; a changed mask forgets them.
  history_ |= events & commMask_;
  if (!wait_ || history_ == 0) return;
  *wait_->mask = history_;
  history_ = 0;
  TOverlapped* ov = wait_->ov;
  wait_.reset();
  Complete(ov, 0, 0);
}

void TTermiosDevice::CheckQueueLevel() {
  const bool above = uint64_t{queue_.size()} * 5 >= uint64_t{capacity_} * 4;
  if (above && !above80_) RaiseEvents(kEvRx80Full);
  above80_ = above;
}

int TTermiosDevice::SetCommMask(uint32_t mask) {
  std::lock_guard lock(mutex_);
  // Clearing the mask is how a wait is ended when closing; on a device that went away there is
  // no wait left, and nothing to fail.
  if (gone_ && mask != 0) return gone_;
  // What the driver holds arrived before the change; the new mask starts after it. Cleared
  // with no wait pending, the old mask has nobody to tell: the bytes can wait for the next
  // call that looks, which spares the thread that has just been told of them a read.
  if (mask != 0 || wait_) ProgressReceive(Clock::now());
  if (gone_ && mask != 0) return gone_;
  commMask_ = mask;
  history_ = 0;
  if (wait_) {
    *wait_->mask = 0;
    TOverlapped* ov = wait_->ov;
    wait_.reset();
    Complete(ov, 0, 0);
  }
  return 0;
}

int TTermiosDevice::WaitCommEvent(uint32_t* mask, TOverlapped* ov) {
  if (!mask) return EINVAL;
  if (!ov) {
    TOverlapped local;
    const int result = WaitCommEvent(mask, &local);
    return result == kIoPending ? Await(local, nullptr) : result;
  }
  std::lock_guard lock(mutex_);
  if (gone_) return gone_;
  // One wait at a time, and only for something.
  if (commMask_ == 0 || wait_ || InUse(ov)) return EINVAL;
  // Bytes the driver holds already have arrived: their events count for this wait.
  ProgressReceive(Clock::now());
  if (gone_) return gone_;
  Begin(ov);
  if (history_ != 0) {
    *mask = history_;
    history_ = 0;
    Complete(ov, 0, 0);
    return 0;
  }
  *mask = 0;
  wait_ = TEventWait{ov, mask};
  return kIoPending;
}

// The modem input lines change without any byte arriving, and the driver tells of a change
// only to a thread blocked in TIOCMIWAIT; this thread waits there and hands what changed to
// the device. Where the driver has no such wait, the thread reads the lines at intervals. A device
// without modem ioctls (a pseudo-terminal) gets no such thread and no modem events at all: nothing
// can change there, so nothing stands in its place.
void TTermiosDevice::StartModemWatcher() {
  InstallWakeSignal();
  // The lines as they are before the device is handed out: a change right after the open is
  // a change, however late the thread gets going.
  TModemState last;
  ReadModemState(k_, fd_, hasCounters_, last);
  watcher_ = std::thread([this, last] { WatchModemLines(last); });
}

void TTermiosDevice::WatchModemLines(TModemState last) {
  sigset_t wake;
  sigemptyset(&wake);
  sigaddset(&wake, WakeSignal());
  pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
  std::unique_lock lock(mutex_);
  // What changed since the last look, handed to the device; false once the lines are gone.
  const auto look = [&] {
    TModemState now;
    if (!ReadModemState(k_, fd_, hasCounters_, now)) return false;
    const uint32_t events = ModemEvents(last, now);
    last = now;
    // Output held for DSR, or input dropped without it, may go on now.
    if (events & kEvDsr) Wake();
    RaiseEvents(events);
    return true;
  };
  bool driverWaits = true;
  while (!stopping_ && !gone_) {
    if (!driverWaits) {
      watcherWake_.wait_for(lock, kModemPollInterval);
      if (stopping_ || gone_ || !look()) break;
      continue;
    }
    // A line change came while the driver's wait was on, and may have switched its modem
    // interrupt off: what changed meanwhile is read, and the wait that follows turns it on.
    if (rewatch_) {
      rewatch_ = false;
      if (!look()) break;
    }
    lock.unlock();
    const int r = k_.ioctl(fd_, TIOCMIWAIT, reinterpret_cast<void*>(kWatched));
    const int error = errno;
    lock.lock();
    if (r != 0 && error == EINTR) continue;
    if (r != 0 && NoModemWait(error)) {
      driverWaits = false;
      continue;
    }
    // A device that went away is reported by the service thread.
    if (r != 0 || !look()) break;
  }
  watcherDone_ = true;
  watcherEnded_.notify_all();
}

void TTermiosDevice::RewatchModemLines() {
  if (!watcher_.joinable() || watcherDone_) return;
  rewatch_ = true;
  // Lost when the watcher is not inside the driver's wait yet: it then enters it after the
  // change, which turns the modem interrupt on again.
  pthread_kill(watcher_.native_handle(), WakeSignal());
  watcherWake_.notify_all();
}

void TTermiosDevice::StopModemWatcher() {
  if (!watcher_.joinable()) return;
  {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    // The signal ends the driver's wait only if it arrives while the thread is inside it; one
    // sent a moment before is lost, so it goes again until the thread has ended.
    while (!watcherDone_) {
      pthread_kill(watcher_.native_handle(), WakeSignal());
      watcherWake_.notify_all();
      watcherEnded_.wait_for(lock, std::chrono::milliseconds(20));
    }
  }
  watcher_.join();
}

}  // namespace platform::posix
