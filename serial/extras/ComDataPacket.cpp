#include "serial/extras/ComDataPacket.h"

#include <exception>
#include <string_view>

#include "platform/Application.h"
#include "serial/ComPort.h"

namespace serial {

TComDataPacket::TComDataPacket() {
  link_.OnRxBuf = [this](TCustomComPort&, const void* buffer, int32_t count) {
    AddData(buffer, count);
  };
  // Bytes held across a close would be glued to the first ones after the next open.
  link_.OnConn = [this](TCustomComPort&, bool on) {
    if (!on) ResetBuffer();
  };
}

TComDataPacket::~TComDataPacket() {
  if (!comPort_) return;
  try {
    comPort_->UnRegisterLink(&link_);
  } catch (...) {
    platform::HandleException(std::current_exception());
  }
}

void TComDataPacket::SetComPort(TCustomComPort* port) {
  if (port == comPort_) return;
  // Joining the new port first leaves everything as it was if that fails.
  if (port) port->RegisterLink(&link_);
  TCustomComPort* old = comPort_;
  comPort_ = port;
  if (old) old->UnRegisterLink(&link_);
  ResetBuffer();
}

template <typename F>
void TComDataPacket::Change(F edit) {
  TPacketAssembler::TPieces pieces;
  {
    std::lock_guard lock(mutex_);
    TPacketSettings settings = assembler_.Settings();
    edit(settings);
    pieces = assembler_.SetSettings(settings);
  }
  Fire(pieces);
}

std::string TComDataPacket::StartString() const {
  return Settings().StartString;
}
void TComDataPacket::SetStartString(const std::string& value) {
  Change([&](TPacketSettings& s) { s.StartString = value; });
}
std::string TComDataPacket::StopString() const {
  return Settings().StopString;
}
void TComDataPacket::SetStopString(const std::string& value) {
  Change([&](TPacketSettings& s) { s.StopString = value; });
}
int32_t TComDataPacket::Size() const {
  return Settings().Size;
}
void TComDataPacket::SetSize(int32_t value) {
  Change([&](TPacketSettings& s) { s.Size = value; });
}
bool TComDataPacket::IncludeStrings() const {
  return Settings().IncludeStrings;
}
void TComDataPacket::SetIncludeStrings(bool value) {
  Change([&](TPacketSettings& s) { s.IncludeStrings = value; });
}
bool TComDataPacket::CaseInsensitive() const {
  return Settings().CaseInsensitive;
}
void TComDataPacket::SetCaseInsensitive(bool value) {
  Change([&](TPacketSettings& s) { s.CaseInsensitive = value; });
}
int32_t TComDataPacket::MaxBufferSize() const {
  return Settings().MaxBufferSize;
}
void TComDataPacket::SetMaxBufferSize(int32_t value) {
  Change([&](TPacketSettings& s) { s.MaxBufferSize = value; });
}
int32_t TComDataPacket::Timeout() const {
  return Settings().Timeout;
}
void TComDataPacket::SetTimeout(int32_t value) {
  Change([&](TPacketSettings& s) { s.Timeout = value; });
}
TPacketSettings TComDataPacket::Settings() const {
  std::lock_guard lock(mutex_);
  return assembler_.Settings();
}
void TComDataPacket::SetSettings(const TPacketSettings& value) {
  Change([&](TPacketSettings& s) { s = value; });
}

void TComDataPacket::SetClock(TClock clock) {
  std::lock_guard lock(mutex_);
  clock_ = std::move(clock);
}

TComDataPacket::TTime TComDataPacket::Now() const {
  return clock_ ? clock_() : std::chrono::steady_clock::now();
}

void TComDataPacket::AddData(const void* buffer, int32_t count) {
  if (count <= 0) return;
  TPacketAssembler::TPieces pieces;
  {
    std::lock_guard lock(mutex_);
    pieces = assembler_.Feed(
        std::string_view(static_cast<const char*>(buffer), static_cast<size_t>(count)), Now());
  }
  Fire(pieces);
}

void TComDataPacket::CheckTimeout() {
  TPacketAssembler::TPieces pieces;
  {
    std::lock_guard lock(mutex_);
    pieces = assembler_.CheckTimeout(Now());
  }
  Fire(pieces);
}

std::optional<TComDataPacket::TTime> TComDataPacket::Deadline() const {
  std::lock_guard lock(mutex_);
  return assembler_.Deadline();
}

int32_t TComDataPacket::Pending() const {
  std::lock_guard lock(mutex_);
  return static_cast<int32_t>(assembler_.Pending());
}

void TComDataPacket::ResetBuffer() {
  TPacketAssembler::TPieces pieces;
  {
    std::lock_guard lock(mutex_);
    pieces = assembler_.Clear();
  }
  Fire(pieces);
}

void TComDataPacket::Fire(const TPacketAssembler::TPieces& pieces) {
  std::exception_ptr failure;
  for (const TPacketPiece& piece : pieces) {
    try {
      if (piece.Packet) {
        if (TPacketEvent handler = OnPacket) handler(*this, piece.Bytes);
      } else {
        if (TDiscardEvent handler = OnDiscard) handler(*this, piece.Bytes, piece.Reason);
      }
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace serial
