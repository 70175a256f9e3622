#pragma once
// One open comm device behind the ComDevice seam: the seam's operations are the driver's own, so
// this is mostly a mapping of records and error values. The caller's overlapped record is not the
// system's: each operation in flight has a system record of its own here, found by the caller's,
// and the caller's record takes the outcome once the operation is asked about (or cancelled).

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/ComDevice.h"
#include "platform/win32/CommApi.h"
#include "platform/win32/Windows.h"

namespace platform::win32 {

class TCommDevice final : public ComDevice {
 public:
  explicit TCommDevice(HANDLE handle);
  ~TCommDevice() override;
  TCommDevice(const TCommDevice&) = delete;
  TCommDevice& operator=(const TCommDevice&) = delete;

  int SetupComm(uint32_t inQueue, uint32_t outQueue) override;
  int SetCommState(const TDCB& dcb) override;
  int SetCommTimeouts(const TCommTimeouts& timeouts) override;
  int ReadFile(void* buffer, uint32_t count, uint32_t* done, TOverlapped* ov) override;
  int WriteFile(const void* buffer, uint32_t count, uint32_t* done, TOverlapped* ov) override;
  int GetOverlappedResult(TOverlapped* ov, uint32_t* done, bool wait) override;
  int CancelIo(TOverlapped* ov) override;
  int ClearCommError(uint32_t* errors, TComStat* stat) override;
  int PurgeComm(uint32_t flags) override;
  int EscapeCommFunction(uint32_t function) override;
  int GetCommModemStatus(uint32_t* status) override;
  int TransmitCommChar(char c) override;
  int SetCommMask(uint32_t mask) override;
  int WaitCommEvent(uint32_t* mask, TOverlapped* ov) override;

 private:
  enum class TKind { kRead, kWrite, kEventWait };
  // The system's side of one operation in flight.
  struct TOperation {
    OVERLAPPED system{};
    HANDLE ownEvent = nullptr;  // for a caller's record without an event
    TKind kind = TKind::kRead;
    DWORD eventMask = 0;  // what a comm-event wait saw
    uint32_t* maskOut = nullptr;
    bool maskChanged = false;  // a SetCommMask came while the wait was pending
    bool endedAtOnce = false;  // a read that had to return at once, ended here
    ~TOperation() {
      if (ownEvent) CloseHandle(ownEvent);
    }
  };

  std::shared_ptr<TOperation> Begin(TOverlapped* ov, TKind kind, int& error);
  // Takes the outcome of a started operation into the caller's record, or leaves it running
  // (false) when `wait` is false and it has not ended.
  bool Finish(TOverlapped* ov, const std::shared_ptr<TOperation>& op, bool wait);
  // Cancels a read or write and returns once the driver has ended it.
  void Cancel(TOperation& op);
  // What the start of an operation gives the caller.
  int Started(TOverlapped* ov, const std::shared_ptr<TOperation>& op, BOOL started, uint32_t* done);
  bool ReturnsAtOnce();
  // A comm-event wait that ended with `error`: a lost device, or one failure too many in a
  // row, refuses the waits from then on.
  void NoteFailedWait(int error);

  // RTS where the driver has no toggle of its own: raised before bytes are handed over, and
  // dropped by the watcher once no write runs, the driver's queue is empty and the time the
  // bytes need on the wire has passed.
  void RaiseRtsFor(uint32_t bytes);
  void DropRtsAfterWrite();
  void WatchRts();
  int64_t NowUs();

  TCommApi& api_;
  const HANDLE handle_;
  std::mutex mutex_;  // guards operations_ and the stored settings
  std::map<const TOverlapped*, std::shared_ptr<TOperation>> operations_;
  TCommTimeouts timeouts_;
  uint32_t commMask_ = 0;
  unsigned failedWaits_ = 0;  // comm-event waits failed in a row
  int waitsRefused_ = 0;      // the error every later wait gets at once

  std::mutex rtsMutex_;     // guards what follows, and orders the RTS changes
  bool toggleRts_ = false;  // the driver has no RTS toggle: the device does it
  bool rtsUp_ = false;
  unsigned writesInFlight_ = 0;
  int64_t charUs_ = 0;       // one character's time on the wire at the line's rate
  int64_t wireEndUs_ = 0;    // when the bytes handed over so far can have left at the earliest
  uint32_t heldErrors_ = 0;  // error flags read for the output count, kept for the caller
  bool stopWatching_ = false;
  HANDLE watchWake_ = nullptr;
  std::thread watcher_;
};

}  // namespace platform::win32
