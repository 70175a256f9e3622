#pragma once
// A scripted comm driver in place of the system's calls (platform/win32/CommApi.h): one port and
// no device behind it, so nothing here reaches a line. Time is the script's own: it passes only
// while the device waits for it, by the amount the device asked to wait. Writes complete at once
// and leave what the script says in the driver's output queue, which drains at a rate of its own;
// comm-event waits pend until the mask changes, or fail right after they started as the script
// says.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ComDevice.h"
#include "platform/win32/CommApi.h"

namespace platform::win32::test {

class TScriptedComm {
 public:
  // RTS as the driver saw it set, when, and what its output queue held then.
  struct TRts {
    bool up;
    int64_t atUs;
    uint32_t outQueue;
  };

  TScriptedComm() : saved_(CommApi()) {
    current_ = this;
    TCommApi& api = CommApi();
    api.CreateFileA = [](LPCSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                         HANDLE) -> HANDLE {
      TScriptedComm& s = *current_;
      std::lock_guard lock(s.mutex_);
      s.paths.push_back(path);
      return s.createError ? Fail(s.createError), INVALID_HANDLE_VALUE : Port();
    };
    api.CloseHandle = [](HANDLE h) -> BOOL { return Mine(h) && (++current_->closed, TRUE); };
    api.GetCommState = [](HANDLE h, LPDCB dcb) -> BOOL {
      if (!Mine(h)) return FALSE;
      *dcb = {};
      dcb->DCBlength = sizeof *dcb;
      return current_->stateError ? Fail(current_->stateError) : TRUE;
    };
    api.SetCommState = [](HANDLE h, LPDCB dcb) -> BOOL {
      TScriptedComm& s = *current_;
      if (!Mine(h)) return FALSE;
      std::lock_guard lock(s.mutex_);
      s.Log(dcb->fRtsControl == RTS_CONTROL_TOGGLE ? "state toggle" : "state");
      return s.toggleError && dcb->fRtsControl == RTS_CONTROL_TOGGLE ? Fail(s.toggleError) : TRUE;
    };
    api.SetupComm = [](HANDLE h, DWORD, DWORD) -> BOOL {
      return Mine(h) && (current_->setupError ? Fail(current_->setupError) : TRUE);
    };
    api.SetCommTimeouts = [](HANDLE h, LPCOMMTIMEOUTS) -> BOOL { return Mine(h); };
    api.ReadFile = [](HANDLE h, LPVOID, DWORD, LPDWORD, LPOVERLAPPED ov) -> BOOL {
      return Mine(h) && Complete(ov, 0, 0);
    };
    api.WriteFile = [](HANDLE h, LPCVOID, DWORD count, LPDWORD, LPOVERLAPPED ov) -> BOOL {
      TScriptedComm& s = *current_;
      if (!Mine(h)) return FALSE;
      std::lock_guard lock(s.mutex_);
      s.Log("write " + std::to_string(count));
      s.queued_ = s.leftInQueue;
      s.queuedAtUs_ = s.nowUs.load();
      return Complete(ov, 0, count);
    };
    api.GetOverlappedResult = [](HANDLE h, LPOVERLAPPED ov, LPDWORD done, BOOL wait) -> BOOL {
      TScriptedComm& s = *current_;
      if (!Mine(h)) return FALSE;
      {
        std::lock_guard lock(s.mutex_);
        if (ov == s.failingWait_) {
          // The first look finds it running; it has failed by the next.
          if (!wait && !std::exchange(s.answeredRunning_, true)) return Fail(ERROR_IO_INCOMPLETE);
          Complete(std::exchange(s.failingWait_, nullptr), s.waitError, 0);
          s.answeredRunning_ = false;
        }
      }
      if (ov->Internal == STATUS_PENDING) {
        if (!wait) return Fail(ERROR_IO_INCOMPLETE);
        ::WaitForSingleObject(ov->hEvent, INFINITE);
      }
      *done = static_cast<DWORD>(ov->InternalHigh);
      return ov->Internal == 0 ? TRUE : Fail(static_cast<DWORD>(ov->Internal));
    };
    api.CancelIoEx = [](HANDLE h, LPOVERLAPPED ov) -> BOOL {
      TScriptedComm& s = *current_;
      if (!Mine(h)) return FALSE;
      std::lock_guard lock(s.mutex_);
      if (s.pendingWait_ && (!ov || ov == s.pendingWait_)) {
        Complete(std::exchange(s.pendingWait_, nullptr), ERROR_OPERATION_ABORTED, 0);
      }
      return TRUE;
    };
    api.ClearCommError = [](HANDLE h, LPDWORD errors, LPCOMSTAT stat) -> BOOL {
      TScriptedComm& s = *current_;
      if (!Mine(h)) return FALSE;
      std::lock_guard lock(s.mutex_);
      if (errors) *errors = std::exchange(s.errorFlags, 0);
      if (stat) {
        *stat = {};
        stat->cbOutQue = s.OutQueue();
      }
      return TRUE;
    };
    api.PurgeComm = [](HANDLE h, DWORD) -> BOOL { return Mine(h); };
    api.EscapeCommFunction = [](HANDLE h, DWORD function) -> BOOL {
      TScriptedComm& s = *current_;
      if (!Mine(h)) return FALSE;
      std::lock_guard lock(s.mutex_);
      if (function == SETRTS || function == CLRRTS) {
        s.rts_.push_back({function == SETRTS, s.nowUs.load(), s.OutQueue()});
        s.Log(function == SETRTS ? "rts+" : "rts-");
      }
      return TRUE;
    };
    api.GetCommModemStatus = [](HANDLE h, LPDWORD status) -> BOOL {
      return Mine(h) && (*status = 0, TRUE);
    };
    api.TransmitCommChar = [](HANDLE h, char) -> BOOL {
      TScriptedComm& s = *current_;
      if (!Mine(h)) return FALSE;
      std::lock_guard lock(s.mutex_);
      s.Log("char");
      return TRUE;
    };
    api.SetCommMask = [](HANDLE h, DWORD) -> BOOL {
      TScriptedComm& s = *current_;
      if (!Mine(h)) return FALSE;
      std::lock_guard lock(s.mutex_);
      // As Windows ends a pending wait: completed, with no events.
      if (s.pendingWait_) Complete(std::exchange(s.pendingWait_, nullptr), 0, 0);
      return TRUE;
    };
    api.WaitCommEvent = [](HANDLE h, LPDWORD mask, LPOVERLAPPED ov) -> BOOL {
      TScriptedComm& s = *current_;
      if (!Mine(h)) return FALSE;
      std::lock_guard lock(s.mutex_);
      ++s.waits_;
      *mask = 0;
      ov->Internal = STATUS_PENDING;
      if (s.waitError) {
        // Started, and ended with the error right after, as a driver of a lost device does.
        s.failingWait_ = ov;
        SetEvent(ov->hEvent);
      } else {
        s.pendingWait_ = ov;
      }
      return Fail(ERROR_IO_PENDING);
    };
    api.QueryPerformanceFrequency = [](LARGE_INTEGER* f) -> BOOL {
      f->QuadPart = 1000000;
      return TRUE;
    };
    api.QueryPerformanceCounter = [](LARGE_INTEGER* c) -> BOOL {
      c->QuadPart = current_->nowUs.load();
      return TRUE;
    };
    api.WaitForSingleObject = [](HANDLE h, DWORD ms) -> DWORD {
      if (ms == INFINITE) return ::WaitForSingleObject(h, INFINITE);
      if (::WaitForSingleObject(h, 0) == WAIT_OBJECT_0) return WAIT_OBJECT_0;
      // The script's time passes by what was asked.
      current_->nowUs += int64_t{ms} * 1000;
      std::this_thread::yield();
      return WAIT_TIMEOUT;
    };
  }
  ~TScriptedComm() {
    CommApi() = saved_;
    current_ = nullptr;
  }
  TScriptedComm(const TScriptedComm&) = delete;
  TScriptedComm& operator=(const TScriptedComm&) = delete;

  // A device on the scripted port, with the port's line settings.
  std::unique_ptr<ComDevice> Open(uint32_t rtsControl = 0, const std::string& name = "COM700") {
    int error = 0;
    auto device = OpenComDevice(name, error);
    if (!device) return nullptr;
    TDCB dcb;
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 9600;
    dcb.Flags = dcb::fBinary | rtsControl;
    dcb.ByteSize = 8;
    if (device->SetCommState(dcb) != 0) return nullptr;
    return device;
  }

  std::vector<TRts> Rts() {
    std::lock_guard lock(mutex_);
    return rts_;
  }
  std::vector<std::string> Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  unsigned Waits() {
    std::lock_guard lock(mutex_);
    return waits_;
  }
  void SetErrorFlags(DWORD flags) {
    std::lock_guard lock(mutex_);
    errorFlags = flags;
  }

  // Set before the device is opened, or through the setters above.
  DWORD createError = 0;
  DWORD stateError = 0;   // GetCommState: a device that has gone
  DWORD toggleError = 0;  // SetCommState refuses the RTS toggle with it
  DWORD setupError = 0;
  DWORD waitError = 0;       // each comm-event wait ends at once with it
  uint32_t leftInQueue = 0;  // what a completed write leaves in the driver's queue
  uint32_t drainPerSecond = 960;
  DWORD errorFlags = 0;
  std::atomic<int64_t> nowUs{0};
  std::atomic<int> closed{0};
  std::vector<std::string> paths;

 private:
  static HANDLE Port() { return reinterpret_cast<HANDLE>(intptr_t{0x7A11}); }
  static bool Mine(HANDLE h) { return h == Port() || Fail(ERROR_INVALID_HANDLE); }
  static BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
  }
  static BOOL Complete(LPOVERLAPPED ov, DWORD error, DWORD count) {
    ov->InternalHigh = count;
    ov->Internal = error;
    SetEvent(ov->hEvent);
    return error == 0 ? TRUE : Fail(error);
  }
  DWORD OutQueue() const {
    const int64_t drained = (nowUs.load() - queuedAtUs_) * drainPerSecond / 1000000;
    return drained >= queued_ ? 0 : static_cast<DWORD>(queued_ - drained);
  }
  void Log(std::string call) { calls_.push_back(std::move(call)); }

  static inline TScriptedComm* current_ = nullptr;
  const TCommApi saved_;
  std::mutex mutex_;
  std::vector<TRts> rts_;
  std::vector<std::string> calls_;
  unsigned waits_ = 0;
  LPOVERLAPPED pendingWait_ = nullptr;
  LPOVERLAPPED failingWait_ = nullptr;
  bool answeredRunning_ = false;
  int64_t queued_ = 0;
  int64_t queuedAtUs_ = 0;
};

}  // namespace platform::win32::test
