// TCustomComPort: synchronous and overlapped reads and writes, their completion, and purging.
#include "serial/ComPort.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace serial {
namespace {

// A record that a transfer of nothing leaves behind reads as finished with 0 bytes.
void MarkUnused(TAsync& async) {
  async.Overlapped.InternalHigh.store(0);
  async.Overlapped.Internal.store(0);
}

// The record of a synchronous transfer. Making one costs an event, so each thread keeps the last
// one it used for the next; a transfer started while another is finishing (a link handler that
// writes) makes its own. The record goes back however the transfer ends, its operation ended.
class SyncAsync {
 public:
  explicit SyncAsync(TCustomComPort& port)
      : port_(port), async_(spare_ ? std::move(spare_) : std::make_unique<TAsync>()) {
    // A kept record still tells of its last transfer; a transfer of nothing must read as 0.
    async_->Kind = okWrite;
    MarkUnused(*async_);
    // Nobody waits on this record's event, so it has none: the device then spends no system
    // calls setting and clearing it, two for every transfer.
    async_->Overlapped.hEvent = nullptr;
  }
  ~SyncAsync() {
    port_.EndAsync(*async_);
    if (!spare_) spare_ = std::move(async_);
  }
  SyncAsync(const SyncAsync&) = delete;
  SyncAsync& operator=(const SyncAsync&) = delete;
  TAsync* get() const { return async_.get(); }

 private:
  static thread_local std::unique_ptr<TAsync> spare_;
  TCustomComPort& port_;
  std::unique_ptr<TAsync> async_;
};
thread_local std::unique_ptr<TAsync> SyncAsync::spare_;

}  // namespace

// --- Transfer

void TCustomComPort::InitAsync(std::unique_ptr<TAsync>& async) {
  DoneAsync(async);
  async = std::make_unique<TAsync>();
}

void TCustomComPort::DoneAsync(std::unique_ptr<TAsync>& async) {
  if (!async) return;
  EndAsync(*async);
  async.reset();
}

void TCustomComPort::EndAsync(TAsync& async) {
  // The device writes into a record (and its buffer) until the operation ends: end it first.
  // A record left by a device that is gone has nobody writing into it any more.
  if (async.Running() && handle_) {
    handle_->CancelIo(&async.Overlapped);
    // Until the status is in, its last touch of the record: the event is set a moment before
    // it, and a synchronous transfer's record has none. The device's own wait covers both.
    while (async.Running()) handle_->GetOverlappedResult(&async.Overlapped, nullptr, true);
  }
  async.DataCopy.reset();
  async.DataSize = 0;
}

int32_t TCustomComPort::WriteAsync(const void* buffer, int32_t count, TAsync* async) {
  if (!async || async->Running()) RaiseComError(ecode::kInvalidAsync);
  async->Kind = okWrite;
  async->DataCopy.reset();
  async->DataSize = 0;
  if (count <= 0) {
    MarkUnused(*async);
    return 0;
  }
  async->DataCopy = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(count));
  std::memcpy(async->DataCopy.get(), buffer, static_cast<size_t>(count));
  async->DataSize = count;
  uint32_t done = 0;
  const int error = Handle().WriteFile(async->DataCopy.get(), static_cast<uint32_t>(count), &done,
                                       &async->Overlapped);
  if (error != 0 && error != platform::kIoPending) RaiseComError(ecode::kWriteFile, error);
  SendSignalToLink(leTx, true);
  return error == 0 ? static_cast<int32_t>(done) : 0;
}

int32_t TCustomComPort::ReadAsync(void* buffer, int32_t count, TAsync* async) {
  if (!async || async->Running()) RaiseComError(ecode::kInvalidAsync);
  async->Kind = okRead;
  async->DataCopy.reset();
  async->DataSize = 0;
  if (count <= 0) {
    MarkUnused(*async);
    return 0;
  }
  uint32_t done = 0;
  const int error =
      Handle().ReadFile(buffer, static_cast<uint32_t>(count), &done, &async->Overlapped);
  if (error != 0 && error != platform::kIoPending) RaiseComError(ecode::kReadFile, error);
  return error == 0 ? static_cast<int32_t>(done) : 0;
}

int32_t TCustomComPort::WaitForAsync(TAsync* async) {
  if (!async) RaiseComError(ecode::kInvalidAsync);
  const int32_t code = async->Kind == okRead ? ecode::kReadFile : ecode::kWriteFile;
  // The device does the waiting: a read's waiter can then take the bytes from the driver itself.
  uint32_t done = 0;
  const int error = Handle().GetOverlappedResult(&async->Overlapped, &done, true);
  if (error != 0) RaiseComError(code, error);
  const auto transferred = static_cast<int32_t>(done);
  if (async->Kind == okRead) {
    // Only the links care whether the read emptied the queue; the count costs two driver calls.
    if (!links_.empty() && InputCount() == 0) SendSignalToLink(leRx, false);
  } else if (async->DataCopy) {
    // A timed-out write sent only part of the copy; the links hear of what went out.
    TxNotifyLink(async->DataCopy.get(), std::min(transferred, async->DataSize));
  }
  return transferred;
}

bool TCustomComPort::IsAsyncCompleted(TAsync* async) {
  if (!async) RaiseComError(ecode::kInvalidAsync);
  uint32_t done = 0;
  const int error = Handle().GetOverlappedResult(&async->Overlapped, &done, false);
  if (error == 0) return true;
  if (error == platform::kIoPending || error == platform::kIoIncomplete) return false;
  RaiseComError(ecode::kAsyncStatus, error);
}

int32_t TCustomComPort::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  SyncAsync async(*this);
  WriteAsync(buffer, count, async.get());
  return WaitForAsync(async.get());
}

int32_t TCustomComPort::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  SyncAsync async(*this);
  ReadAsync(buffer, count, async.get());
  return WaitForAsync(async.get());
}

int32_t TCustomComPort::WriteStrAsync(const std::string& text, TAsync* async) {
  // An empty text still goes through WriteAsync: the record must forget the transfer it served
  // before, or its next wait reports that one again.
  return WriteAsync(text.data(), static_cast<int32_t>(text.size()), async);
}

int32_t TCustomComPort::WriteStr(const std::string& text) {
  if (text.empty()) return 0;
  SyncAsync async(*this);
  WriteStrAsync(text, async.get());
  return WaitForAsync(async.get());
}

int32_t TCustomComPort::ReadStrAsync(std::string& text, int32_t count, TAsync* async) {
  text.assign(static_cast<size_t>(std::max(count, 0)), '\0');
  // A count of nothing still goes through ReadAsync, which marks the record unused.
  return ReadAsync(text.data(), count, async);
}

int32_t TCustomComPort::ReadStr(std::string& text, int32_t count) {
  if (count <= 0) {
    text.clear();
    return 0;
  }
  SyncAsync async(*this);
  ReadStrAsync(text, count, async.get());
  const int32_t received = WaitForAsync(async.get());
  text.resize(static_cast<size_t>(std::clamp(received, 0, count)));
  return received;
}

void TCustomComPort::AbortAllAsync() {
  const int error = Handle().PurgeComm(platform::kPurgeTxAbort | platform::kPurgeRxAbort);
  if (error != 0) RaiseComError(ecode::kPurgeComm, error);
}

void TCustomComPort::ClearBuffer(bool input, bool output) {
  uint32_t flags = 0;
  if (input) flags |= platform::kPurgeRxClear;
  if (output) flags |= platform::kPurgeTxClear;
  const int error = Handle().PurgeComm(flags);
  if (error != 0) RaiseComError(ecode::kPurgeComm, error);
}

}  // namespace serial
