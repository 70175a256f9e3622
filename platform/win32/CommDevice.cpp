// The comm driver behind the seam. Records and flags are the driver's own, so most operations
// pass straight through; what is added here keeps the seam's promises where a driver does not
// (Wine's among them): a read that must return at once does, a read ended by its time-out is
// a finished read, a comm-event wait ended by a new mask has ended without events, and RTS is
// raised around each transmission where the driver has no toggle of its own.
#include "platform/win32/CommDevice.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace platform::win32 {
namespace {

int LastError() {
  return static_cast<int>(GetLastError());
}

int Result(BOOL ok) {
  return ok ? 0 : LastError();
}

// After the time the bytes need on the wire, RTS stays up a little longer: the clock and the
// wake-up of the watcher are not exact, and a byte cut short is a byte lost on the bus.
constexpr int64_t kRtsMarginUs = 1000;

// A driver that fails every comm-event wait at once would keep the event thread going round
// without end; after this many failures in a row the waits are refused.
constexpr unsigned kMaxFailedWaits = 16;

// What a driver answers once its device has gone (an adapter pulled out, a handle whose device
// was removed under it).
bool IsLoss(int error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_BAD_UNIT:
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
      return true;
    default:
      return false;
  }
}

// One character on the wire, start and stop bits included, rounded up.
int64_t CharacterUs(const DCB& dcb) {
  const int64_t halfBits = 2 * (1 + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1 : 0)) +
                           (dcb.StopBits == ONESTOPBIT     ? 2
                            : dcb.StopBits == ONE5STOPBITS ? 3
                                                           : 4);
  const int64_t rate = dcb.BaudRate > 0 ? dcb.BaudRate : 1;
  return (halfBits * 1000000 + 2 * rate - 1) / (2 * rate);
}

DWORD MsFor(int64_t us) {
  return static_cast<DWORD>(std::clamp<int64_t>((us + 999) / 1000, 1, 60000));
}

}  // namespace

TCommApi& CommApi() {
  static TCommApi api;
  return api;
}

TCommDevice::TCommDevice(HANDLE handle) : api_(CommApi()), handle_(handle) {}

TCommDevice::~TCommDevice() {
  if (watcher_.joinable()) {
    {
      std::lock_guard lock(rtsMutex_);
      stopWatching_ = true;
    }
    SetEvent(watchWake_);
    watcher_.join();
  }
  if (watchWake_) CloseHandle(watchWake_);
  // A caller that still had operations running gets them back ended, never hanging: a new mask
  // ends a comm-event wait (cancelling one is not reliable everywhere), a cancel the transfers.
  std::vector<std::pair<TOverlapped*, std::shared_ptr<TOperation>>> running;
  {
    std::lock_guard lock(mutex_);
    for (auto& [ov, op] : operations_) {
      op->maskChanged = op->kind == TKind::kEventWait;
      running.emplace_back(const_cast<TOverlapped*>(ov), op);
    }
  }
  if (!running.empty()) {
    api_.SetCommMask(handle_, 0);
    api_.CancelIoEx(handle_, nullptr);
    for (auto& [ov, op] : running) Finish(ov, op, true);
  }
  api_.CloseHandle(handle_);
}

int TCommDevice::SetupComm(uint32_t inQueue, uint32_t outQueue) {
  const int error = Result(api_.SetupComm(handle_, inQueue, outQueue));
  // The queue sizes are a recommendation, which a driver may refuse: the port works with the
  // driver's own. Only a bad handle is a failure.
  return error == ERROR_INVALID_HANDLE ? error : 0;
}

int TCommDevice::SetCommState(const TDCB& dcb) {
  static_assert(sizeof(DCB) == sizeof(TDCB), "the line record is the driver's");
  DCB record;
  std::memcpy(&record, &dcb, sizeof record);
  int error = Result(api_.SetCommState(handle_, &record));
  bool toggle = false;
  // A driver without the toggle refuses it as not supported (Wine's) or as a bad parameter
  // (many adapters'); it gets the toggle from here: RTS held low, raised for each
  // transmission and dropped once it is out.
  if ((error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_PARAMETER) &&
      record.fRtsControl == RTS_CONTROL_TOGGLE) {
    record.fRtsControl = RTS_CONTROL_DISABLE;
    error = Result(api_.SetCommState(handle_, &record));
    toggle = error == 0;
  }
  if (error != 0) return error;
  std::lock_guard lock(rtsMutex_);
  if (toggle && !watchWake_) {
    watchWake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!watchWake_) return LastError();
  }
  // The driver has set RTS as the record says: low for the toggle done here.
  toggleRts_ = toggle;
  rtsUp_ = false;
  charUs_ = CharacterUs(record);
  if (toggle && !watcher_.joinable()) watcher_ = std::thread([this] { WatchRts(); });
  return 0;
}

int64_t TCommDevice::NowUs() {
  LARGE_INTEGER count = {}, frequency = {};
  api_.QueryPerformanceFrequency(&frequency);
  api_.QueryPerformanceCounter(&count);
  const int64_t perSecond = frequency.QuadPart > 0 ? frequency.QuadPart : 1;
  return count.QuadPart / perSecond * 1000000 + count.QuadPart % perSecond * 1000000 / perSecond;
}

// Called with rtsMutex_ held and the toggle on: the bytes cannot have left before the line,
// idle or still busy with earlier ones, has carried them at its rate.
void TCommDevice::RaiseRtsFor(uint32_t bytes) {
  wireEndUs_ = std::max(wireEndUs_, NowUs()) + int64_t{bytes} * charUs_;
  if (!rtsUp_) {
    api_.EscapeCommFunction(handle_, SETRTS);
    rtsUp_ = true;
  }
}

void TCommDevice::DropRtsAfterWrite() {
  {
    std::lock_guard lock(rtsMutex_);
    if (!toggleRts_ || writesInFlight_ == 0) return;
    --writesInFlight_;
  }
  SetEvent(watchWake_);
}

// A completed write may still have bytes in the driver's queue, in the port's FIFO and shift
// register or in the adapter: RTS is dropped only once the driver holds none and the time the
// bytes need on the wire has passed, and is looked at again until then.
void TCommDevice::WatchRts() {
  std::unique_lock lock(rtsMutex_);
  while (!stopWatching_) {
    DWORD waitMs = INFINITE;
    if (toggleRts_ && rtsUp_ && writesInFlight_ == 0) {
      const int64_t now = NowUs();
      const int64_t dropAt = wireEndUs_ + charUs_ + kRtsMarginUs;
      if (now < dropAt) {
        waitMs = MsFor(dropAt - now);
      } else {
        DWORD errors = 0;
        COMSTAT status = {};
        // A driver that no longer tells its queue has lost the line: nothing more goes out.
        if (!api_.ClearCommError(handle_, &errors, &status)) status.cbOutQue = 0;
        // Reading the count cleared the driver's error flags: they are the caller's.
        heldErrors_ |= errors;
        if (status.cbOutQue == 0) {
          api_.EscapeCommFunction(handle_, CLRRTS);
          rtsUp_ = false;
        } else {
          // What the driver still holds goes out from now on at the earliest.
          wireEndUs_ = std::max(wireEndUs_, now + int64_t{status.cbOutQue} * charUs_);
          waitMs = MsFor(wireEndUs_ + charUs_ + kRtsMarginUs - now);
        }
      }
    }
    lock.unlock();
    api_.WaitForSingleObject(watchWake_, waitMs);
    lock.lock();
  }
}

int TCommDevice::SetCommTimeouts(const TCommTimeouts& timeouts) {
  COMMTIMEOUTS record;
  record.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
  record.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
  record.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
  record.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
  record.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
  const int error = Result(api_.SetCommTimeouts(handle_, &record));
  if (error == 0) {
    std::lock_guard lock(mutex_);
    timeouts_ = timeouts;
  }
  return error;
}

bool TCommDevice::ReturnsAtOnce() {
  std::lock_guard lock(mutex_);
  return timeouts_.ReadIntervalTimeout == kMaxDword && timeouts_.ReadTotalTimeoutMultiplier == 0 &&
         timeouts_.ReadTotalTimeoutConstant == 0;
}

std::shared_ptr<TCommDevice::TOperation> TCommDevice::Begin(TOverlapped* ov, TKind kind,
                                                            int& error) {
  std::lock_guard lock(mutex_);
  if (const auto it = operations_.find(ov); it != operations_.end()) {
    // A record holds one operation at a time; one whose end nobody asked for yet is taken in.
    const std::shared_ptr<TOperation> earlier = it->second;
    DWORD unused = 0;
    if (!api_.GetOverlappedResult(handle_, &earlier->system, &unused, FALSE) &&
        GetLastError() == ERROR_IO_INCOMPLETE) {
      error = ERROR_INVALID_PARAMETER;
      return nullptr;
    }
  }
  auto op = std::make_shared<TOperation>();
  op->kind = kind;
  HANDLE event = ov->hEvent ? EventHandle(ov->hEvent->Handle()) : nullptr;
  if (!event) {
    op->ownEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!op->ownEvent) {
      error = LastError();
      return nullptr;
    }
    event = op->ownEvent;
  }
  ResetEvent(event);
  op->system.hEvent = event;
  ov->InternalHigh.store(0);
  ov->Internal.store(kIoPending);
  operations_[ov] = op;
  error = 0;
  return op;
}

bool TCommDevice::Finish(TOverlapped* ov, const std::shared_ptr<TOperation>& op, bool wait) {
  DWORD count = 0;
  const BOOL ok = api_.GetOverlappedResult(handle_, &op->system, &count, wait ? TRUE : FALSE);
  int result = ok ? 0 : LastError();
  if (!ok && result == ERROR_IO_INCOMPLETE) return false;
  switch (op->kind) {
    case TKind::kRead:
      // A read that its time-outs end has finished with what it read; so has one that had to
      // return at once and was ended here.
      if (result == ERROR_TIMEOUT || (op->endedAtOnce && result == ERROR_OPERATION_ABORTED)) {
        result = 0;
      }
      break;
    case TKind::kEventWait:
      if (op->maskChanged && result == ERROR_OPERATION_ABORTED) {
        result = 0;
        op->eventMask = 0;
      }
      if (op->maskOut) *op->maskOut = result == 0 ? op->eventMask : 0;
      if (result != 0) {
        NoteFailedWait(result);
      } else {
        std::lock_guard lock(mutex_);
        failedWaits_ = 0;
      }
      break;
    case TKind::kWrite:
      break;
  }
  {
    std::lock_guard lock(mutex_);
    const auto it = operations_.find(ov);
    // Another thread may have taken the outcome in first; the record holds it then.
    if (it == operations_.end() || it->second != op) return true;
    operations_.erase(it);
    ov->InternalHigh.store(count);
    // Last: from here the caller may free the record and its event.
    ov->Internal.store(result);
  }
  if (op->kind == TKind::kWrite) DropRtsAfterWrite();
  return true;
}

int TCommDevice::Started(TOverlapped* ov, const std::shared_ptr<TOperation>& op, BOOL started,
                         uint32_t* done) {
  const int error = started ? 0 : LastError();
  if (started || error == ERROR_IO_PENDING) {
    if (!started && op->kind == TKind::kRead && ReturnsAtOnce()) {
      // The read must come back at once with what is queued; a driver that left it pending
      // has nothing queued (or only what arrives before the cancel, which the read keeps).
      op->endedAtOnce = true;
      Cancel(*op);
      Finish(ov, op, true);
      if (done) *done = ov->InternalHigh.load();
      return ov->Internal.load();
    }
    // One that completed at once has its outcome there already; waiting for it takes nothing.
    if (Finish(ov, op, started != FALSE)) {
      if (done) *done = ov->InternalHigh.load();
      return ov->Internal.load();
    }
    return kIoPending;
  }
  {
    std::lock_guard lock(mutex_);
    operations_.erase(ov);
  }
  if (op->kind == TKind::kWrite) DropRtsAfterWrite();
  ov->InternalHigh.store(0);
  ov->Internal.store(error);
  return error;
}

int TCommDevice::ReadFile(void* buffer, uint32_t count, uint32_t* done, TOverlapped* ov) {
  if (done) *done = 0;
  if (!ov) {
    TOverlapped local;
    const int result = ReadFile(buffer, count, done, &local);
    return result == kIoPending ? GetOverlappedResult(&local, done, true) : result;
  }
  int error = 0;
  const auto op = Begin(ov, TKind::kRead, error);
  if (!op) return error;
  return Started(ov, op, api_.ReadFile(handle_, buffer, count, nullptr, &op->system), done);
}

int TCommDevice::WriteFile(const void* buffer, uint32_t count, uint32_t* done, TOverlapped* ov) {
  if (done) *done = 0;
  if (!ov) {
    TOverlapped local;
    const int result = WriteFile(buffer, count, done, &local);
    return result == kIoPending ? GetOverlappedResult(&local, done, true) : result;
  }
  int error = 0;
  const auto op = Begin(ov, TKind::kWrite, error);
  if (!op) return error;
  {
    std::lock_guard lock(rtsMutex_);
    if (toggleRts_) {
      ++writesInFlight_;
      RaiseRtsFor(count);
    }
  }
  return Started(ov, op, api_.WriteFile(handle_, buffer, count, nullptr, &op->system), done);
}

int TCommDevice::WaitCommEvent(uint32_t* mask, TOverlapped* ov) {
  if (!ov) {
    TOverlapped local;
    const int result = WaitCommEvent(mask, &local);
    return result == kIoPending ? GetOverlappedResult(&local, nullptr, true) : result;
  }
  if (mask) *mask = 0;
  {
    std::lock_guard lock(mutex_);
    if (waitsRefused_ != 0) return waitsRefused_;
  }
  int error = 0;
  const auto op = Begin(ov, TKind::kEventWait, error);
  if (!op) return error;
  op->maskOut = mask;
  return Started(ov, op, api_.WaitCommEvent(handle_, &op->eventMask, &op->system), nullptr);
}

void TCommDevice::NoteFailedWait(int error) {
  bool lost = IsLoss(error);
  if (!lost) {
    // A wait ended as aborted, or with an error of no clear meaning: the device is asked for
    // its line state, which a device that has gone no longer has.
    DCB probe = {};
    probe.DCBlength = sizeof probe;
    if (!api_.GetCommState(handle_, &probe)) {
      lost = true;
      if (const int probeError = LastError(); probeError != 0) error = probeError;
    }
  }
  std::lock_guard lock(mutex_);
  if (waitsRefused_ == 0 && (lost || ++failedWaits_ >= kMaxFailedWaits)) waitsRefused_ = error;
}

int TCommDevice::GetOverlappedResult(TOverlapped* ov, uint32_t* done, bool wait) {
  if (done) *done = 0;
  if (!ov) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<TOperation> op;
  {
    std::lock_guard lock(mutex_);
    if (const auto it = operations_.find(ov); it != operations_.end()) op = it->second;
  }
  // A record no operation used, or one whose outcome is in, answers by itself.
  if (op && !Finish(ov, op, wait)) return kIoIncomplete;
  if (done) *done = ov->InternalHigh.load();
  return ov->Internal.load();
}

int TCommDevice::CancelIo(TOverlapped* ov) {
  if (!ov) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<TOperation> op;
  {
    std::lock_guard lock(mutex_);
    const auto it = operations_.find(ov);
    if (it == operations_.end()) return 0;
    op = it->second;
    if (op->kind == TKind::kEventWait) op->maskChanged = true;
  }
  // A comm-event wait ends when the mask is set again (a cancel of one may never complete);
  // the same mask keeps what the port asked for.
  if (op->kind == TKind::kEventWait) {
    uint32_t mask = 0;
    {
      std::lock_guard lock(mutex_);
      mask = commMask_;
    }
    api_.SetCommMask(handle_, mask);
  } else {
    Cancel(*op);
  }
  Finish(ov, op, true);
  return 0;
}

// A cancel that reaches the driver as it is finishing the transfer can be lost (seen under
// Wine: the read then stays pending for good), so it is asked again until the transfer ended.
void TCommDevice::Cancel(TOperation& op) {
  api_.CancelIoEx(handle_, &op.system);
  for (int turn = 0; turn < 200 && !HasOverlappedIoCompleted(&op.system); ++turn) {
    if (::WaitForSingleObject(op.system.hEvent, 50) != WAIT_OBJECT_0) {
      api_.CancelIoEx(handle_, &op.system);
    }
  }
}

int TCommDevice::ClearCommError(uint32_t* errors, TComStat* stat) {
  DWORD flags = 0;
  COMSTAT status = {};
  {
    std::lock_guard lock(rtsMutex_);
    if (!api_.ClearCommError(handle_, &flags, &status)) return LastError();
    // Flags the RTS watcher cleared when it read the output count.
    flags |= heldErrors_;
    heldErrors_ = 0;
  }
  if (errors) *errors = flags;
  if (stat) {
    stat->Flags = (status.fCtsHold ? 0x01u : 0u) | (status.fDsrHold ? 0x02u : 0u) |
                  (status.fRlsdHold ? 0x04u : 0u) | (status.fXoffHold ? 0x08u : 0u) |
                  (status.fXoffSent ? 0x10u : 0u) | (status.fEof ? 0x20u : 0u) |
                  (status.fTxim ? 0x40u : 0u);
    stat->cbInQue = status.cbInQue;
    stat->cbOutQue = status.cbOutQue;
  }
  return 0;
}

int TCommDevice::PurgeComm(uint32_t flags) {
  return Result(api_.PurgeComm(handle_, flags));
}

int TCommDevice::EscapeCommFunction(uint32_t function) {
  return Result(api_.EscapeCommFunction(handle_, function));
}

int TCommDevice::GetCommModemStatus(uint32_t* status) {
  DWORD lines = 0;
  if (!api_.GetCommModemStatus(handle_, &lines)) return LastError();
  if (status) *status = lines;
  return 0;
}

int TCommDevice::TransmitCommChar(char c) {
  std::lock_guard lock(rtsMutex_);
  if (!toggleRts_) return Result(api_.TransmitCommChar(handle_, c));
  // The character goes ahead of the queue, on the bus like any other byte.
  RaiseRtsFor(1);
  const int error = Result(api_.TransmitCommChar(handle_, c));
  SetEvent(watchWake_);
  return error;
}

int TCommDevice::SetCommMask(uint32_t mask) {
  {
    std::lock_guard lock(mutex_);
    commMask_ = mask;
    for (auto& [ov, op] : operations_) {
      if (op->kind == TKind::kEventWait) op->maskChanged = true;
    }
  }
  return Result(api_.SetCommMask(handle_, mask));
}

namespace {

// The device namespace takes every port name, COM10 and above included. A name written as the
// command line writes it (COM3:) or already in the namespace (\\.\COM3) is the same port.
std::string DevicePath(const std::string& name) {
  const std::string prefix = "\\\\.\\";
  std::string port =
      name.compare(0, prefix.size(), prefix) == 0 ? name.substr(prefix.size()) : name;
  const bool com = port.size() > 4 && (port[0] == 'C' || port[0] == 'c') &&
                   (port[1] == 'O' || port[1] == 'o') && (port[2] == 'M' || port[2] == 'm');
  if (com && port.back() == ':' &&
      std::all_of(port.begin() + 3, port.end() - 1, [](char c) { return c >= '0' && c <= '9'; })) {
    port.pop_back();
  }
  return prefix + port;
}

}  // namespace

}  // namespace platform::win32

namespace platform {

std::unique_ptr<ComDevice> OpenComDevice(const std::string& name, int& error) {
  // The system takes a path only up to its first NUL: a name holding one would open another
  // device than the one named.
  if (name.empty() || name.find('\0') != std::string::npos) {
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  const std::string path = win32::DevicePath(name);
  win32::TCommApi& api = win32::CommApi();
  const HANDLE handle = api.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = static_cast<int>(GetLastError());
    return nullptr;
  }
  // A device that has no line state is no serial port.
  DCB probe = {};
  probe.DCBlength = sizeof probe;
  if (!api.GetCommState(handle, &probe)) {
    error = static_cast<int>(GetLastError());
    api.CloseHandle(handle);
    return nullptr;
  }
  error = 0;
  return std::make_unique<win32::TCommDevice>(handle);
}

}  // namespace platform
