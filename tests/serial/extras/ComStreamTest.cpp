// The stream over a port: on a pseudo-terminal pair for the line's own behaviour (the port opens
// the slave by its path, the test plays the generator on the master), on the recording fake for
// exactly what reaches the device and for injected failures.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <exception>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/Application.h"
#include "serial/extras/ComStream.h"
#include "tests/platform/PtyPair.h"
#include "tests/serial/FakePort.h"

namespace serial::test {
namespace {

using namespace std::chrono_literals;

std::string Text(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// The error a stream kept, or 0 when it kept none.
int32_t KeptCode(const TComStream& stream) {
  if (!stream.LastError()) return 0;
  try {
    std::rethrow_exception(stream.LastError());
  } catch (const EComPort& e) {
    return e.ErrorCode();
  }
}

class PtyStream : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pty_.Ok()) GTEST_SKIP() << "no pseudo-terminal available";
    port_.SetPort(pty_.Path());
    port_.Events = {};  // the stream reads itself; no event thread
    WaitUpTo(5000);
    port_.Open();
  }
  void TearDown() override {
    try {
      port_.Close();
    } catch (const EComPort&) {
      // A line that hung up may fail its purge; the port is closed all the same.
    }
  }
  // A read waits up to `ms` for its first byte.
  void WaitUpTo(int32_t ms) {
    port_.Timeouts().SetReadInterval(0);
    port_.Timeouts().SetReadTotalC(ms);
  }

  platform::ptytest::PtyPair pty_;
  TComPort port_;
};

TEST_F(PtyStream, ARequestAndItsRepliesMakeARoundTrip) {
  TComStream stream(port_);
  stream << "%01f\r" << std::flush;
  EXPECT_EQ(Text(pty_.Receive(5)), "%01f\r");
  pty_.Send("#02f30.000\r#02s00.030\r");
  std::string reply;
  ASSERT_TRUE(std::getline(stream, reply, '\r'));
  EXPECT_EQ(reply, "#02f30.000");
  ASSERT_TRUE(std::getline(stream, reply, '\r'));
  EXPECT_EQ(reply, "#02s00.030");

  // Without a flush the request goes out when the read has to wait for the line.
  pty_.Send("#02SR106\r");
  stream << "@01SR\r";
  ASSERT_TRUE(std::getline(stream, reply, '\r'));
  EXPECT_EQ(reply, "#02SR106");
  EXPECT_EQ(Text(pty_.Receive(6)), "@01SR\r");
  EXPECT_FALSE(stream.TimedOut());
}

TEST_F(PtyStream, ATimeOutEndsTheReadWithTheFailureState) {
  WaitUpTo(100);
  TComStream stream(port_);
  std::string reply;
  const auto begun = std::chrono::steady_clock::now();
  EXPECT_FALSE(std::getline(stream, reply, '\r'));
  const auto took = std::chrono::steady_clock::now() - begun;
  EXPECT_TRUE(stream.fail());
  EXPECT_TRUE(stream.eof());
  EXPECT_FALSE(stream.bad());
  EXPECT_TRUE(stream.TimedOut());
  EXPECT_EQ(stream.LastError(), nullptr) << "a time-out is no error";
  EXPECT_GE(took, 90ms) << "the port's time-out was waited for";
  EXPECT_LT(took, 5s);

  // A line cut short: its bytes, and eofbit to tell it from a whole one.
  stream.clear();
  pty_.Send("#02f3");
  ASSERT_TRUE(std::getline(stream, reply, '\r'));
  EXPECT_EQ(reply, "#02f3");
  EXPECT_TRUE(stream.eof());
  EXPECT_TRUE(stream.TimedOut());

  stream.clear();
  pty_.Send("0.000\r");
  ASSERT_TRUE(std::getline(stream, reply, '\r'));
  EXPECT_EQ(reply, "0.000");
  EXPECT_FALSE(stream.TimedOut());

  // The default time-outs never wait.
  port_.Timeouts().SetReadInterval(-1);
  port_.Timeouts().SetReadTotalC(0);
  EXPECT_FALSE(std::getline(stream, reply, '\r'));
  EXPECT_TRUE(stream.TimedOut());
}

TEST_F(PtyStream, DestructionFlushesWhatIsBuffered) {
  {
    TComStream stream(port_);
    stream << "@01start\r@03start\r";
  }
  EXPECT_EQ(Text(pty_.Receive(18)), "@01start\r@03start\r");
}

TEST_F(PtyStream, AHangUpIsAFailureTheStreamKeeps) {
  TComStream stream(port_);
  pty_.CloseMaster();
  std::string reply;
  EXPECT_FALSE(std::getline(stream, reply, '\r'));
  EXPECT_TRUE(stream.bad());
  // The read asks for the waiting count before it reads: which of the two meets the hang-up
  // depends on how far the kernel has got with it.
  const int32_t code = KeptCode(stream);
  EXPECT_TRUE(code == ecode::kClearCommError || code == ecode::kReadFile) << code;

  stream.clear();
  stream << "@01SR\r" << std::flush;
  EXPECT_TRUE(stream.bad());
  EXPECT_EQ(KeptCode(stream), ecode::kWriteFile);

  // Asked to, the stream raises the port's own failure.
  stream.clear();
  stream.exceptions(std::ios::badbit);
  EXPECT_THROW(std::getline(stream, reply, '\r'), EComPort);
  stream.exceptions(std::ios::goodbit);
  stream.clear();
}

TEST(ComStream, WritesWaitInTheBufferUntilFlushedOrFull) {
  FakePort f;
  f.OpenQuietly();
  TComStream stream(f.port, 4);
  stream << "ab";
  EXPECT_EQ(f.line->Written(), "");
  stream << "cdef";
  EXPECT_EQ(f.line->Written(), "abcd") << "a full buffer goes out";
  stream.flush();
  EXPECT_EQ(f.line->Written(), "abcdef");
  EXPECT_EQ(f.line->CountCalls("WriteFile"), 2u);
  stream.flush();
  EXPECT_EQ(f.line->CountCalls("WriteFile"), 2u) << "nothing to send: no write";
}

struct FailureCase {
  const char* name;
  std::function<void(platform::FakeLine&)> arrange;
  std::function<void(TComStream&)> act;
  int32_t code;  // kept; 0: none
  bool timedOut;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.name;
}

class StreamFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(StreamFailures, SetBadbitAndKeepThePortsError) {
  const FailureCase& c = GetParam();
  FakePort f;
  f.OpenQuietly();
  c.arrange(*f.line);
  TComStream stream(f.port);
  c.act(stream);
  EXPECT_TRUE(stream.bad());
  EXPECT_EQ(KeptCode(stream), c.code);
  EXPECT_EQ(stream.TimedOut(), c.timedOut);
}

INSTANTIATE_TEST_SUITE_P(
    All, StreamFailures,
    ::testing::Values(FailureCase{"Read",
                                  [](auto& line) {
                                    line.PutInput("x");
                                    line.SetFailure("ReadFile", EIO);
                                  },
                                  [](auto& s) {
                                    std::string r;
                                    std::getline(s, r);
                                  },
                                  ecode::kReadFile, false},
                      FailureCase{"Write", [](auto& line) { line.SetFailure("WriteFile", EIO); },
                                  [](auto& s) { s << "@01SR\r" << std::flush; }, ecode::kWriteFile,
                                  false},
                      // A write time-out is no platform failure, but the flush did not happen.
                      FailureCase{"WriteTimeOut", [](auto& line) { line.SetWriteLimit(2); },
                                  [](auto& s) { s << "@01SR\r" << std::flush; }, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ComStream, AFailedFlushOnDestructionGoesToTheApplication) {
  std::vector<int32_t> codes;
  platform::SetExceptionHandler([&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const EComPort& error) {
      codes.push_back(error.ErrorCode());
    }
  });
  {
    FakePort f;
    f.OpenQuietly();
    f.line->SetFailure("WriteFile", EIO);
    TComStream stream(f.port);
    stream << "@01stop\r";
  }
  platform::SetExceptionHandler({});
  EXPECT_EQ(codes, std::vector<int32_t>{ecode::kWriteFile});
}

}  // namespace
}  // namespace serial::test
