#pragma once
/// \file
/// A standard stream over an open port, for line-by-line exchanges:
/// \code
///   TComStream stream(port);
///   stream << "%01f\r";
///   std::getline(stream, reply, '\r');
/// \endcode
///
/// Reading honours the port's time-outs. A read that brings nothing before they run out ends the
/// stream's data for now: eofbit, and failbit when the operation got nothing (a getline then
/// fails); a line the time-out cut short comes back with eofbit alone, so check eof() or
/// TimedOut() before trusting it. clear() and read on. With the port's default time-outs a read
/// never waits: it ends at once when nothing has come.
///
/// Writing is buffered: the bytes go to the port on flush(), when the buffer is full, before a
/// read has to ask the port (so a request is out before its reply is waited for) and on
/// destruction. A write the port's write time-out cut short fails (badbit, TimedOut()); the bytes
/// it did not send are dropped, not retried.
///
/// Failures: an EComPort raised by the port sets badbit, as any exception from a stream buffer
/// does, and is kept: LastError() gives it. With exceptions(std::ios::badbit) the stream raises
/// the EComPort itself instead. A failure of the flush on destruction goes to the application's
/// exception handler; flush first to see it here.
///
/// The stream reads the port synchronously: a link that makes the port's event thread read
/// (TComDataPacket, OnRxBuf) would take bytes meant for it.

#include <cstddef>
#include <exception>
#include <istream>
#include <streambuf>
#include <vector>
#include "../../platform/Export.h"

namespace serial {

class TCustomComPort;

/// The stream buffer behind TComStream: reads and writes the port in pieces of up to
/// `bufferSize` bytes each way.
class VALTREX_API TComStreamBuf : public std::streambuf {
 public:
  /// A buffer over `port`, which must outlive it; holds up to `bufferSize` bytes each way.
  explicit TComStreamBuf(TCustomComPort& port, size_t bufferSize = 256);
  /// Sends what is still buffered; a failure goes to the application's exception handler.
  ~TComStreamBuf() override;
  TComStreamBuf(const TComStreamBuf&) = delete;
  TComStreamBuf& operator=(const TComStreamBuf&) = delete;

  /// The port the buffer reads and writes.
  TCustomComPort& ComPort() const { return port_; }
  /// The EComPort of the last transfer this buffer started; null when that one raised none.
  std::exception_ptr LastError() const { return lastError_; }
  /// The last transfer ended because the port's time-out ran out.
  bool TimedOut() const { return timedOut_; }

 protected:
  /// Sends what is buffered, then reads what has come (at least one byte, within the port's
  /// time-outs); eof when nothing came in time or the port failed.
  int_type underflow() override;
  /// Sends the buffer to the port to make room for `ch`; eof when the port failed.
  int_type overflow(int_type ch) override;
  /// Sends the buffer to the port; -1 when the port failed or its write time-out ran out.
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

/// The stream over a port; see the file's description for reading, writing and failures.
class VALTREX_API TComStream : public std::iostream {
 public:
  /// A stream over `port`, which must be open to transfer and must outlive the stream.
  explicit TComStream(TCustomComPort& port, size_t bufferSize = 256);
  TComStream(const TComStream&) = delete;
  TComStream& operator=(const TComStream&) = delete;

  /// The stream's buffer.
  TComStreamBuf& Buffer() { return buffer_; }
  /// The EComPort of the last transfer; null when that one raised none.
  std::exception_ptr LastError() const { return buffer_.LastError(); }
  /// Whether the last transfer ended because the port's time-out ran out.
  bool TimedOut() const { return buffer_.TimedOut(); }

 private:
  TComStreamBuf buffer_;
};

}  // namespace serial
