#pragma once
// A scripted, recording serial device for tests. A FakeLine is the state a test shares with the
// device its port opens: it records every call with its arguments in order, can be told to fail
// any call, holds the input queue, the written bytes, the modem lines and the error flags, and
// can keep overlapped transfers and comm-event waits pending until the test completes them.
//
// Calls are recorded as "Name(arguments)", numbers in decimal:
//   Open(COM1)  CloseHandle()  SetupComm(in,out)  SetCommState(baud,0xflags,bytesize,parity,stop)
//   SetCommTimeouts(ri,rm,rc,wm,wc)  ReadFile(count)  WriteFile(count)  GetOverlappedResult()
//   CancelIo()  ClearCommError()  PurgeComm(flags)  EscapeCommFunction(code)
//   GetCommModemStatus()  TransmitCommChar(code)  SetCommMask(mask)  WaitCommEvent()

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ComDevice.h"

namespace platform {

class FakeLine {
 public:
  // The names an opener accepts.
  explicit FakeLine(std::vector<std::string> names = {"COM1"});
  FakeLine(const FakeLine&) = delete;
  FakeLine& operator=(const FakeLine&) = delete;

  // --- Opening. The line takes one device at a time: a second open fails with EBUSY.
  void AddName(const std::string& name);
  bool IsOpen() const;
  std::string OpenName() const;

  // --- The record of calls
  std::vector<std::string> Calls() const;
  // The names only ("SetupComm"), for checking an order.
  std::vector<std::string> CallNames() const;
  size_t CountCalls(std::string_view name) const;
  void ClearCalls();
  std::optional<TDCB> LastDCB() const;
  std::optional<TCommTimeouts> LastTimeouts() const;

  // --- Failures: the named operation ("ReadFile", "PurgeComm", "Open"...) returns `error`
  // until it is set to 0 again.
  void SetFailure(const std::string& operation, int error);

  // --- Data
  void PutInput(std::string_view bytes);
  size_t InputSize() const;
  std::string Written() const;
  // A write takes at most this many bytes, as a write whose time-out ran out (none: all).
  void SetWriteLimit(std::optional<uint32_t> limit);
  // A read delivers at most this many bytes, though the queue reports more (none: no limit).
  void SetReadLimit(std::optional<uint32_t> limit);

  // --- Line state
  void SetModemStatus(uint32_t status);  // kMsCtsOn ... kMsRlsdOn
  void RaiseErrors(uint32_t flags);      // CE_... flags, returned and cleared by ClearCommError
  void SetStatFlags(uint32_t flags);
  void SetOutputQueue(uint32_t count);
  uint32_t Mask() const;

  // --- Overlapped transfers. By default they complete at once; held ones stay pending, the
  // device's event reset, until completed here (oldest first).
  void HoldWrites(bool hold);
  void HoldReads(bool hold);
  size_t PendingWrites() const;
  size_t PendingReads() const;
  // Takes the bytes of the oldest pending write from the buffer the write was given, now.
  bool CompleteWrite();
  // Fills the oldest pending read from the input queue.
  bool CompleteRead();

  // --- Comm events. A wait stays pending until an event of the mask is raised; an event of the
  // mask raised while no wait is pending is kept for the next one, others are dropped.
  bool CommWaitPending() const;
  // Waits (bounded) until the device has a pending comm-event wait, for tests of a worker.
  bool WaitForCommWait(std::chrono::milliseconds timeout) const;
  void RaiseCommEvent(uint32_t events);
  // Runs at the start of every SetCommMask, with the new mask, before the device takes it: an
  // event raised from here comes at exactly the moment the mask changes. Null for none.
  void SetMaskHook(std::function<void(uint32_t mask)> hook);

 private:
  friend class FakeComDevice;
  friend ComDeviceOpener FakeOpener(std::shared_ptr<FakeLine> line);

  enum class Kind { Read, Write, Wait };
  struct Pending {
    Kind kind;
    TOverlapped* ov;
    void* readBuffer = nullptr;
    const void* writeBuffer = nullptr;
    uint32_t count = 0;
    uint32_t* mask = nullptr;
  };

  void Record(std::string call);
  int FailureOf(const char* operation) const;
  static void Begin(TOverlapped* ov);
  void Finish(const Pending& op, int error, uint32_t bytes);
  void FinishAll(Kind kind, int error);
  uint32_t TakeInput(void* buffer, uint32_t count);
  uint32_t TakeWrite(const void* buffer, uint32_t count);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::set<std::string> names_;
  bool open_ = false;
  std::string openName_;
  std::vector<std::string> calls_;
  std::optional<TDCB> lastDcb_;
  std::optional<TCommTimeouts> lastTimeouts_;
  std::map<std::string, int> failures_;
  std::string input_;
  std::string written_;
  std::optional<uint32_t> writeLimit_;
  std::optional<uint32_t> readLimit_;
  uint32_t modemStatus_ = 0;
  uint32_t errors_ = 0;
  uint32_t statFlags_ = 0;
  uint32_t outputQueue_ = 0;
  uint32_t mask_ = 0;
  uint32_t raisedEvents_ = 0;
  std::function<void(uint32_t)> maskHook_;
  bool holdWrites_ = false;
  bool holdReads_ = false;
  std::deque<Pending> pending_;
};

// Opens devices on the line by name; an unknown name fails with ENOENT.
ComDeviceOpener FakeOpener(std::shared_ptr<FakeLine> line);

}  // namespace platform
