#include "serial/extras/ComStream.h"

#include <algorithm>
#include <cstdint>

#include "platform/Application.h"
#include "serial/ComPort.h"

namespace serial {
namespace {

int32_t ClampCount(size_t n) {
  return static_cast<int32_t>(std::min<size_t>(n, INT32_MAX));
}

}  // namespace

TComStreamBuf::TComStreamBuf(TCustomComPort& port, size_t bufferSize)
    : port_(port), in_(std::max<size_t>(bufferSize, 1)), out_(std::max<size_t>(bufferSize, 1)) {
  setg(in_.data(), in_.data(), in_.data());
  setp(out_.data(), out_.data() + out_.size());
}

TComStreamBuf::~TComStreamBuf() {
  try {
    SendAll();
  } catch (...) {
    platform::HandleException(std::current_exception());
  }
}

template <typename F>
auto TComStreamBuf::Guarded(F transfer) {
  lastError_ = nullptr;
  try {
    return transfer();
  } catch (const EComPort&) {
    // The stream turns this into badbit, and rethrows it only when asked to: keep it.
    lastError_ = std::current_exception();
    throw;
  }
}

bool TComStreamBuf::SendAll() {
  const size_t count = static_cast<size_t>(pptr() - pbase());
  if (count == 0) return true;
  // Whatever happens to this write, its bytes are not offered again.
  setp(out_.data(), out_.data() + out_.size());
  const int32_t sent = port_.Write(out_.data(), ClampCount(count));
  timedOut_ = sent < ClampCount(count);
  return !timedOut_;
}

TComStreamBuf::int_type TComStreamBuf::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  return Guarded([&]() -> int_type {
    // A request still in the buffer goes out before its reply is waited for.
    if (!SendAll()) return traits_type::eof();
    // What is already there, or one byte: a read of more than has come would wait out the
    // port's total time-out even when the line's reply is complete.
    const int32_t waiting = port_.InputCount();
    const int32_t want = std::clamp(waiting, 1, ClampCount(in_.size()));
    const int32_t got = port_.Read(in_.data(), want);
    timedOut_ = got <= 0;
    if (timedOut_) return traits_type::eof();
    setg(in_.data(), in_.data(), in_.data() + got);
    return traits_type::to_int_type(*gptr());
  });
}

TComStreamBuf::int_type TComStreamBuf::overflow(int_type ch) {
  return Guarded([&]() -> int_type {
    if (!SendAll()) return traits_type::eof();
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(ch);
      pbump(1);
    }
    return traits_type::not_eof(ch);
  });
}

int TComStreamBuf::sync() {
  return Guarded([&] { return SendAll() ? 0 : -1; });
}

TComStream::TComStream(TCustomComPort& port, size_t bufferSize)
    : std::iostream(nullptr), buffer_(port, bufferSize) {
  // The base is built before the buffer it streams through: hand it over now.
  rdbuf(&buffer_);
}

}  // namespace serial
