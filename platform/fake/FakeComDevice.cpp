#include "platform/fake/FakeComDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace platform {

class FakeComDevice final : public ComDevice {
 public:
  explicit FakeComDevice(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {}

  // Closing the handle ends what still runs on it, as the driver does.
  ~FakeComDevice() override {
    std::lock_guard lock(line_->mutex_);
    line_->Record("CloseHandle()");
    while (!line_->pending_.empty()) {
      const FakeLine::Pending op = line_->pending_.front();
      line_->pending_.pop_front();
      line_->Finish(op, ECANCELED, 0);
    }
    line_->open_ = false;
    line_->openName_.clear();
  }

  int SetupComm(uint32_t inQueue, uint32_t outQueue) override {
    std::lock_guard lock(line_->mutex_);
    line_->Record("SetupComm(" + std::to_string(inQueue) + "," + std::to_string(outQueue) + ")");
    return line_->FailureOf("SetupComm");
  }

  int SetCommState(const TDCB& dcb) override {
    std::lock_guard lock(line_->mutex_);
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%x", static_cast<unsigned>(dcb.Flags));
    line_->Record("SetCommState(" + std::to_string(dcb.BaudRate) + "," + flags + "," +
                  std::to_string(dcb.ByteSize) + "," + std::to_string(dcb.Parity) + "," +
                  std::to_string(dcb.StopBits) + ")");
    if (int error = line_->FailureOf("SetCommState")) return error;
    line_->lastDcb_ = dcb;
    return 0;
  }

  int SetCommTimeouts(const TCommTimeouts& t) override {
    std::lock_guard lock(line_->mutex_);
    line_->Record("SetCommTimeouts(" + std::to_string(t.ReadIntervalTimeout) + "," +
                  std::to_string(t.ReadTotalTimeoutMultiplier) + "," +
                  std::to_string(t.ReadTotalTimeoutConstant) + "," +
                  std::to_string(t.WriteTotalTimeoutMultiplier) + "," +
                  std::to_string(t.WriteTotalTimeoutConstant) + ")");
    if (int error = line_->FailureOf("SetCommTimeouts")) return error;
    line_->lastTimeouts_ = t;
    return 0;
  }

  int ReadFile(void* buffer, uint32_t count, uint32_t* done, TOverlapped* ov) override {
    std::lock_guard lock(line_->mutex_);
    line_->Record("ReadFile(" + std::to_string(count) + ")");
    if (done) *done = 0;
    if (int error = line_->FailureOf("ReadFile")) return error;
    FakeLine::Begin(ov);
    FakeLine::Pending op{FakeLine::Kind::Read, ov, buffer, nullptr, count, nullptr};
    if (line_->holdReads_) {
      line_->pending_.push_back(op);
      return kIoPending;
    }
    const uint32_t n = line_->TakeInput(buffer, count);
    line_->Finish(op, 0, n);
    if (done) *done = n;
    return 0;
  }

  int WriteFile(const void* buffer, uint32_t count, uint32_t* done, TOverlapped* ov) override {
    std::lock_guard lock(line_->mutex_);
    line_->Record("WriteFile(" + std::to_string(count) + ")");
    if (done) *done = 0;
    if (int error = line_->FailureOf("WriteFile")) return error;
    FakeLine::Begin(ov);
    FakeLine::Pending op{FakeLine::Kind::Write, ov, nullptr, buffer, count, nullptr};
    if (line_->holdWrites_) {
      line_->pending_.push_back(op);
      return kIoPending;
    }
    const uint32_t n = line_->TakeWrite(buffer, count);
    line_->Finish(op, 0, n);
    if (done) *done = n;
    return 0;
  }

  int GetOverlappedResult(TOverlapped* ov, uint32_t* done, bool wait) override {
    std::unique_lock lock(line_->mutex_);
    line_->Record("GetOverlappedResult()");
    if (done) *done = 0;
    if (int error = line_->FailureOf("GetOverlappedResult")) return error;
    if (ov->Internal.load() == kIoPending) {
      if (!wait) return kIoIncomplete;
      line_->changed_.wait(lock, [ov] { return ov->Internal.load() != kIoPending; });
    }
    if (done) *done = ov->InternalHigh.load();
    return ov->Internal.load();
  }

  int CancelIo(TOverlapped* ov) override {
    std::lock_guard lock(line_->mutex_);
    line_->Record("CancelIo()");
    if (int error = line_->FailureOf("CancelIo")) return error;
    auto& pending = line_->pending_;
    for (auto it = pending.begin(); it != pending.end();) {
      if (it->ov != ov) {
        ++it;
        continue;
      }
      const FakeLine::Pending op = *it;
      it = pending.erase(it);
      line_->Finish(op, ECANCELED, 0);
    }
    return 0;
  }

  int ClearCommError(uint32_t* errors, TComStat* stat) override {
    std::lock_guard lock(line_->mutex_);
    line_->Record("ClearCommError()");
    if (int error = line_->FailureOf("ClearCommError")) return error;
    if (errors) *errors = line_->errors_;
    line_->errors_ = 0;
    if (stat) {
      stat->Flags = line_->statFlags_;
      stat->cbInQue = static_cast<uint32_t>(line_->input_.size());
      stat->cbOutQue = line_->outputQueue_;
    }
    return 0;
  }

  int PurgeComm(uint32_t flags) override {
    std::lock_guard lock(line_->mutex_);
    line_->Record("PurgeComm(" + std::to_string(flags) + ")");
    if (int error = line_->FailureOf("PurgeComm")) return error;
    if (flags & kPurgeTxAbort) line_->FinishAll(FakeLine::Kind::Write, ECANCELED);
    if (flags & kPurgeRxAbort) line_->FinishAll(FakeLine::Kind::Read, ECANCELED);
    if (flags & kPurgeRxClear) line_->input_.clear();
    if (flags & kPurgeTxClear) line_->outputQueue_ = 0;
    return 0;
  }

  int EscapeCommFunction(uint32_t function) override {
    std::lock_guard lock(line_->mutex_);
    line_->Record("EscapeCommFunction(" + std::to_string(function) + ")");
    return line_->FailureOf("EscapeCommFunction");
  }

  int GetCommModemStatus(uint32_t* status) override {
    std::lock_guard lock(line_->mutex_);
    line_->Record("GetCommModemStatus()");
    if (int error = line_->FailureOf("GetCommModemStatus")) return error;
    if (status) *status = line_->modemStatus_;
    return 0;
  }

  int TransmitCommChar(char c) override {
    std::lock_guard lock(line_->mutex_);
    line_->Record("TransmitCommChar(" + std::to_string(static_cast<unsigned char>(c)) + ")");
    if (int error = line_->FailureOf("TransmitCommChar")) return error;
    line_->written_.push_back(c);
    return 0;
  }

  int SetCommMask(uint32_t mask) override {
    std::function<void(uint32_t)> hook;
    {
      std::lock_guard lock(line_->mutex_);
      hook = line_->maskHook_;
    }
    // Outside the lock: the hook raises events on the line.
    if (hook) hook(mask);
    std::lock_guard lock(line_->mutex_);
    line_->Record("SetCommMask(" + std::to_string(mask) + ")");
    if (int error = line_->FailureOf("SetCommMask")) return error;
    line_->mask_ = mask;
    line_->raisedEvents_ = 0;
    // A new mask ends a wait in progress with no events and forgets the kept ones.
    line_->FinishAll(FakeLine::Kind::Wait, 0);
    return 0;
  }

  int WaitCommEvent(uint32_t* mask, TOverlapped* ov) override {
    std::lock_guard lock(line_->mutex_);
    line_->Record("WaitCommEvent()");
    if (int error = line_->FailureOf("WaitCommEvent")) return error;
    FakeLine::Begin(ov);
    FakeLine::Pending op{FakeLine::Kind::Wait, ov, nullptr, nullptr, 0, mask};
    const uint32_t seen = line_->raisedEvents_ & line_->mask_;
    if (seen == 0) {
      line_->pending_.push_back(op);
      line_->changed_.notify_all();
      return kIoPending;
    }
    line_->raisedEvents_ = 0;
    if (mask) *mask = seen;
    line_->Finish(op, 0, 0);
    return 0;
  }

 private:
  std::shared_ptr<FakeLine> line_;
};

FakeLine::FakeLine(std::vector<std::string> names) : names_(names.begin(), names.end()) {}

void FakeLine::Record(std::string call) {
  calls_.push_back(std::move(call));
}

int FakeLine::FailureOf(const char* operation) const {
  const auto it = failures_.find(operation);
  return it == failures_.end() ? 0 : it->second;
}

void FakeLine::Begin(TOverlapped* ov) {
  // The driver resets the caller's event when an operation starts.
  ov->InternalHigh.store(0);
  ov->Internal.store(kIoPending);
  if (ov->hEvent) ov->hEvent->Reset();
}

void FakeLine::Finish(const Pending& op, int error, uint32_t bytes) {
  op.ov->InternalHigh.store(bytes);
  op.ov->Internal.store(error);
  if (op.ov->hEvent) op.ov->hEvent->Set();
  changed_.notify_all();
}

void FakeLine::FinishAll(Kind kind, int error) {
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (it->kind != kind) {
      ++it;
      continue;
    }
    const Pending op = *it;
    it = pending_.erase(it);
    if (op.kind == Kind::Wait && op.mask) *op.mask = 0;
    Finish(op, error, 0);
  }
}

uint32_t FakeLine::TakeInput(void* buffer, uint32_t count) {
  if (readLimit_) count = std::min(count, *readLimit_);
  const auto n = static_cast<uint32_t>(std::min<size_t>(count, input_.size()));
  std::memcpy(buffer, input_.data(), n);
  input_.erase(0, n);
  return n;
}

uint32_t FakeLine::TakeWrite(const void* buffer, uint32_t count) {
  const uint32_t n = writeLimit_ ? std::min(count, *writeLimit_) : count;
  written_.append(static_cast<const char*>(buffer), n);
  return n;
}

void FakeLine::AddName(const std::string& name) {
  std::lock_guard lock(mutex_);
  names_.insert(name);
}

bool FakeLine::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

std::string FakeLine::OpenName() const {
  std::lock_guard lock(mutex_);
  return openName_;
}

std::vector<std::string> FakeLine::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<std::string> FakeLine::CallNames() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  names.reserve(calls_.size());
  for (const auto& call : calls_) names.push_back(call.substr(0, call.find('(')));
  return names;
}

size_t FakeLine::CountCalls(std::string_view name) const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::count_if(calls_.begin(), calls_.end(), [name](const auto& c) {
    return std::string_view(c).substr(0, c.find('(')) == name;
  }));
}

void FakeLine::ClearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

std::optional<TDCB> FakeLine::LastDCB() const {
  std::lock_guard lock(mutex_);
  return lastDcb_;
}

std::optional<TCommTimeouts> FakeLine::LastTimeouts() const {
  std::lock_guard lock(mutex_);
  return lastTimeouts_;
}

void FakeLine::SetFailure(const std::string& operation, int error) {
  std::lock_guard lock(mutex_);
  if (error == 0) {
    failures_.erase(operation);
  } else {
    failures_[operation] = error;
  }
}

void FakeLine::PutInput(std::string_view bytes) {
  std::lock_guard lock(mutex_);
  input_.append(bytes);
}

size_t FakeLine::InputSize() const {
  std::lock_guard lock(mutex_);
  return input_.size();
}

std::string FakeLine::Written() const {
  std::lock_guard lock(mutex_);
  return written_;
}

void FakeLine::SetWriteLimit(std::optional<uint32_t> limit) {
  std::lock_guard lock(mutex_);
  writeLimit_ = limit;
}

void FakeLine::SetReadLimit(std::optional<uint32_t> limit) {
  std::lock_guard lock(mutex_);
  readLimit_ = limit;
}

void FakeLine::SetModemStatus(uint32_t status) {
  std::lock_guard lock(mutex_);
  modemStatus_ = status;
}

void FakeLine::RaiseErrors(uint32_t flags) {
  std::lock_guard lock(mutex_);
  errors_ |= flags;
}

void FakeLine::SetStatFlags(uint32_t flags) {
  std::lock_guard lock(mutex_);
  statFlags_ = flags;
}

void FakeLine::SetOutputQueue(uint32_t count) {
  std::lock_guard lock(mutex_);
  outputQueue_ = count;
}

uint32_t FakeLine::Mask() const {
  std::lock_guard lock(mutex_);
  return mask_;
}

void FakeLine::HoldWrites(bool hold) {
  std::lock_guard lock(mutex_);
  holdWrites_ = hold;
}

void FakeLine::HoldReads(bool hold) {
  std::lock_guard lock(mutex_);
  holdReads_ = hold;
}

size_t FakeLine::PendingWrites() const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::count_if(pending_.begin(), pending_.end(),
                                           [](const Pending& p) { return p.kind == Kind::Write; }));
}

size_t FakeLine::PendingReads() const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::count_if(pending_.begin(), pending_.end(),
                                           [](const Pending& p) { return p.kind == Kind::Read; }));
}

bool FakeLine::CompleteWrite() {
  std::lock_guard lock(mutex_);
  const auto it = std::find_if(pending_.begin(), pending_.end(),
                               [](const Pending& p) { return p.kind == Kind::Write; });
  if (it == pending_.end()) return false;
  const Pending op = *it;
  pending_.erase(it);
  Finish(op, 0, TakeWrite(op.writeBuffer, op.count));
  return true;
}

bool FakeLine::CompleteRead() {
  std::lock_guard lock(mutex_);
  const auto it = std::find_if(pending_.begin(), pending_.end(),
                               [](const Pending& p) { return p.kind == Kind::Read; });
  if (it == pending_.end()) return false;
  const Pending op = *it;
  pending_.erase(it);
  Finish(op, 0, TakeInput(op.readBuffer, op.count));
  return true;
}

bool FakeLine::CommWaitPending() const {
  std::lock_guard lock(mutex_);
  return std::any_of(pending_.begin(), pending_.end(),
                     [](const Pending& p) { return p.kind == Kind::Wait; });
}

bool FakeLine::WaitForCommWait(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] {
    return std::any_of(pending_.begin(), pending_.end(),
                       [](const Pending& p) { return p.kind == Kind::Wait; });
  });
}

void FakeLine::RaiseCommEvent(uint32_t events) {
  std::lock_guard lock(mutex_);
  const auto it = std::find_if(pending_.begin(), pending_.end(),
                               [](const Pending& p) { return p.kind == Kind::Wait; });
  // Events outside the mask are not watched, so they are not kept either.
  const uint32_t seen = events & mask_;
  if (seen == 0) return;
  if (it == pending_.end()) {
    raisedEvents_ |= seen;
    return;
  }
  const Pending op = *it;
  pending_.erase(it);
  if (op.mask) *op.mask = seen;
  Finish(op, 0, 0);
}

void FakeLine::SetMaskHook(std::function<void(uint32_t mask)> hook) {
  std::lock_guard lock(mutex_);
  maskHook_ = std::move(hook);
}

ComDeviceOpener FakeOpener(std::shared_ptr<FakeLine> line) {
  return [line](const std::string& name, int& error) -> std::unique_ptr<ComDevice> {
    {
      std::lock_guard lock(line->mutex_);
      line->Record("Open(" + name + ")");
      error = line->FailureOf("Open");
      if (error == 0 && !line->names_.count(name)) error = ENOENT;
      if (error == 0 && line->open_) error = EBUSY;
      if (error != 0) return nullptr;
      line->open_ = true;
      line->openName_ = name;
    }
    return std::make_unique<FakeComDevice>(line);
  };
}

}  // namespace platform
