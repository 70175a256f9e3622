#pragma once
// A standard stream over an open port, for line-by-line exchanges:
//   TComStream stream(port);
//   stream << "%01f\r";
//   std::getline(stream, reply, '\r');
//
// Reading honours the port's time-outs. A read that brings nothing before they run out ends the
// stream's data for now: eofbit, and failbit when the operation got nothing (a getline then
// fails); a line the time-out cut short comes back with eofbit alone, so check eof() or
// TimedOut() before trusting it. clear() and read on. With the port's default time-outs a read
// never waits: it ends at once when nothing has come.
//
// Writing is buffered: the bytes go to the port on flush(), when the buffer is full, before a
// read has to ask the port (so a request is out before its reply is waited for) and on
// destruction. A write the port's write time-out cut short fails (badbit, TimedOut()); the bytes
// it did not send are dropped, not retried.
//
// Failures: an EComPort raised by the port sets badbit, as any exception from a stream buffer
// does, and is kept: LastError() gives it. With exceptions(std::ios::badbit) the stream raises
// the EComPort itself instead. A failure of the flush on destruction goes to the application's
// exception handler; flush first to see it here.
//
// The stream reads the port synchronously: a link that makes the port's event thread read
// (TComDataPacket, OnRxBuf) would take bytes meant for it.

#include <cstddef>
#include <exception>
#include <istream>
#include <streambuf>
#include <vector>
#include "../../platform/Export.h"

namespace serial {

class TCustomComPort;

class VALTREX_API TComStreamBuf : public std::streambuf {
 public:
  explicit TComStreamBuf(TCustomComPort& port, size_t bufferSize = 256);
  ~TComStreamBuf() override;
  TComStreamBuf(const TComStreamBuf&) = delete;
  TComStreamBuf& operator=(const TComStreamBuf&) = delete;

  TCustomComPort& ComPort() const { return port_; }
  // The EComPort of the last transfer this buffer started; null when that one raised none.
  std::exception_ptr LastError() const { return lastError_; }
  // The last transfer ended because the port's time-out ran out.
  bool TimedOut() const { return timedOut_; }

 protected:
  int_type underflow() override;
  int_type overflow(int_type ch) override;
  int sync() override;

 private:
  template <typename F>
  auto Guarded(F transfer);
  bool SendAll();

  TCustomComPort& port_;
  std::vector<char> in_;
  std::vector<char> out_;
  std::exception_ptr lastError_;
  bool timedOut_ = false;
};

class VALTREX_API TComStream : public std::iostream {
 public:
  explicit TComStream(TCustomComPort& port, size_t bufferSize = 256);
  TComStream(const TComStream&) = delete;
  TComStream& operator=(const TComStream&) = delete;

  TComStreamBuf& Buffer() { return buffer_; }
  std::exception_ptr LastError() const { return buffer_.LastError(); }
  bool TimedOut() const { return buffer_.TimedOut(); }

 private:
  TComStreamBuf buffer_;
};

}  // namespace serial
