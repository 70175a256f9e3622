// The pure parts of the terminal device: the line record as termios flags, port names, the
// time-out rules and the decoder of the driver's byte marks. No device is opened here.
#include <termios.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/posix/DeviceName.h"
#include "platform/posix/LineConfig.h"
#include "platform/posix/ReceiveDecoder.h"
#include "platform/posix/Timeouts.h"

namespace platform::posix {
namespace {

TDCB Base() {
  TDCB dcb;
  dcb.DCBlength = sizeof(TDCB);
  dcb.BaudRate = 19200;
  dcb.Flags = dcb::fBinary;
  dcb.ByteSize = 8;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

struct Mapped {
  int error;
  TTermiosFlags flags;
  TLineOptions options;
};

Mapped Map(const TDCB& dcb) {
  Mapped m{};
  m.error = DcbToTermios(dcb, m.flags, m.options);
  return m;
}

TEST(LineConfig, RawModeWhateverTheRecord) {
  const Mapped m = Map(Base());
  ASSERT_EQ(m.error, 0);
  EXPECT_EQ(m.flags.lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
  EXPECT_EQ(m.flags.oflag & OPOST, 0u);
  EXPECT_EQ(m.flags.iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | BRKINT), 0u);
  EXPECT_EQ(m.flags.cflag & (CREAD | CLOCAL), static_cast<uint32_t>(CREAD | CLOCAL));
  EXPECT_EQ(m.flags.vmin, 1);
  EXPECT_EQ(m.flags.vtime, 0);
  EXPECT_EQ(m.options.speedCode, std::optional<uint32_t>(B19200));
  EXPECT_EQ(m.options.dtr, TPinControl::pcOff);
  EXPECT_EQ(m.options.rts, TPinControl::pcOff);
}

TEST(LineConfig, CharacterFormat) {
  constexpr uint32_t kParityBits = PARENB | PARODD | CMSPAR;
  struct Row {
    uint8_t byteSize, parity, stopBits;
    int error;
    uint32_t size, parityBits, stop;
  };
  const Row rows[] = {
      {8, 0, 0, 0, CS8, 0, 0},
      {8, 1, 0, 0, CS8, PARENB | PARODD, 0},
      {8, 2, 0, 0, CS8, PARENB, 0},
      {8, 3, 0, 0, CS8, PARENB | PARODD | CMSPAR, 0},
      {8, 4, 0, 0, CS8, PARENB | CMSPAR, 0},
      {7, 2, 2, 0, CS7, PARENB, CSTOPB},
      {6, 0, 0, 0, CS6, 0, 0},
      {5, 0, 1, 0, CS5, 0, CSTOPB},  // 1.5 stop bits: the two-stop setting at 5 data bits
      {5, 0, 0, 0, CS5, 0, 0},
      {8, 0, 1, EINVAL, 0, 0, 0},  // 1.5 only exists with 5 data bits
      {6, 0, 1, EINVAL, 0, 0, 0},
      {5, 0, 2, EINVAL, 0, 0, 0},  // would come out as 1.5
      {4, 0, 0, EINVAL, 0, 0, 0},
      {9, 0, 0, EINVAL, 0, 0, 0},
      {8, 5, 0, EINVAL, 0, 0, 0},
      {8, 0, 3, EINVAL, 0, 0, 0},
  };
  for (const Row& row : rows) {
    TDCB dcb = Base();
    dcb.ByteSize = row.byteSize;
    dcb.Parity = row.parity;
    dcb.StopBits = row.stopBits;
    SCOPED_TRACE(testing::Message() << int{row.byteSize} << " data, parity " << int{row.parity}
                                    << ", stop code " << int{row.stopBits});
    const Mapped m = Map(dcb);
    ASSERT_EQ(m.error, row.error);
    if (row.error != 0) continue;
    EXPECT_EQ(m.flags.cflag & CSIZE, row.size);
    EXPECT_EQ(m.flags.cflag & kParityBits, row.parityBits);
    EXPECT_EQ(m.flags.cflag & CSTOPB, row.stop);
  }
}

TEST(LineConfig, Rates) {
  struct Row {
    uint32_t rate;
    std::optional<uint32_t> code;
  };
  const Row rows[] = {{110, B110},
                      {300, B300},
                      {9600, B9600},
                      {19200, B19200},
                      {57600, B57600},
                      {115200, B115200},
                      {14400, std::nullopt},
                      {56000, std::nullopt},
                      {128000, std::nullopt},
                      {256000, std::nullopt},
                      {31250, std::nullopt}};
  for (const Row& row : rows) {
    TDCB dcb = Base();
    dcb.BaudRate = row.rate;
    const Mapped m = Map(dcb);
    ASSERT_EQ(m.error, 0) << row.rate;
    EXPECT_EQ(m.options.baudRate, row.rate);
    EXPECT_EQ(m.options.speedCode, row.code) << row.rate;
  }
  TDCB none = Base();
  none.BaudRate = 0;
  EXPECT_EQ(Map(none).error, EINVAL);
}

TEST(LineConfig, CharacterTimeCountsEveryBit) {
  TDCB dcb = Base();
  dcb.BaudRate = 10000;
  EXPECT_EQ(Map(dcb).options.charTimeUs, 1000u);  // 1 + 8 + 1 bits
  dcb.Parity = 2;
  dcb.StopBits = 2;
  EXPECT_EQ(Map(dcb).options.charTimeUs, 1200u);
  dcb.ByteSize = 5;
  dcb.Parity = 0;
  dcb.StopBits = 1;
  EXPECT_EQ(Map(dcb).options.charTimeUs, 750u);  // 1 + 5 + 1.5
}

TEST(LineConfig, FlowControl) {
  struct Row {
    uint32_t flags;
    uint32_t iflag, cflag;
    TPinControl dtr, rts;
  };
  const Row rows[] = {
      {dcb::fOutxCtsFlow, 0, CRTSCTS, TPinControl::pcOff, TPinControl::pcFlow},
      {dcb::fRtsControlHandshake, 0, CRTSCTS, TPinControl::pcOff, TPinControl::pcFlow},
      {dcb::fRtsControlEnable, 0, 0, TPinControl::pcOff, TPinControl::pcOn},
      {dcb::fRtsControlToggle, 0, 0, TPinControl::pcOff, TPinControl::pcToggle},
      {dcb::fDtrControlEnable, 0, 0, TPinControl::pcOn, TPinControl::pcOff},
      {dcb::fOutX, IXON, 0, TPinControl::pcOff, TPinControl::pcOff},
      {dcb::fInX, IXOFF, 0, TPinControl::pcOff, TPinControl::pcOff},
      {dcb::fOutX | dcb::fInX, IXON | IXOFF, 0, TPinControl::pcOff, TPinControl::pcOff},
      {dcb::fParity, 0, 0, TPinControl::pcOff, TPinControl::pcOff},
  };
  for (const Row& row : rows) {
    TDCB dcb = Base();
    dcb.Flags |= row.flags;
    SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << row.flags);
    const Mapped m = Map(dcb);
    ASSERT_EQ(m.error, 0);
    EXPECT_EQ(m.flags.iflag & (IXON | IXOFF), row.iflag);
    EXPECT_EQ(m.flags.cflag & CRTSCTS, row.cflag);
    EXPECT_EQ(m.options.dtr, row.dtr);
    EXPECT_EQ(m.options.rts, row.rts);
  }
  TDCB x = Base();
  x.Flags |= dcb::fOutX;
  x.XonChar = 'q';
  x.XoffChar = 's';
  const Mapped m = Map(x);
  EXPECT_EQ(m.flags.vstart, 'q');
  EXPECT_EQ(m.flags.vstop, 's');
  x.XoffChar = 'q';
  EXPECT_EQ(Map(x).error, EINVAL);  // XON and XOFF would be the same byte
}

TEST(LineConfig, ReceivePathOptions) {
  TDCB dcb = Base();
  dcb.Flags |= dcb::fErrorChar | dcb::fNull | dcb::fOutxDsrFlow | dcb::fDsrSensitivity;
  dcb.ErrorChar = '?';
  dcb.EvtChar = '\r';
  Mapped m = Map(dcb);
  // A replacement asked for without parity checking has no effect.
  EXPECT_FALSE(m.options.replaceErrors);
  EXPECT_EQ(m.options.errorChar, 0);
  EXPECT_TRUE(m.options.discardNull);
  EXPECT_TRUE(m.options.outDsrFlow);
  EXPECT_TRUE(m.options.dsrSensitivity);
  EXPECT_EQ(m.options.evtChar, '\r');
  dcb.Flags |= dcb::fParity;
  m = Map(dcb);
  EXPECT_TRUE(m.options.parityCheck);
  EXPECT_TRUE(m.options.replaceErrors);
  EXPECT_EQ(m.options.errorChar, '?');
  EXPECT_NE(m.flags.iflag & PARMRK, 0u);
  // The driver marks framing errors only with INPCK: it is on whether parity is checked or not.
  EXPECT_NE(m.flags.iflag & INPCK, 0u);
  EXPECT_NE(Map(Base()).flags.iflag & INPCK, 0u);
}

// What the terminal driver has no counterpart for is accepted and changes nothing but what
// is stated: DTR handshake drives DTR high, the XON/XOFF limits and fTXContinueOnXoff are
// without effect.
TEST(LineConfig, WhatTheDriverCannotDo) {
  const Mapped base = Map(Base());
  struct Row {
    const char* what;
    void (*change)(TDCB&);
    TPinControl dtr;
  };
  const Row rows[] = {
      {"dtrHandshake", [](TDCB& d) { d.Flags |= dcb::fDtrControlHandshake; }, TPinControl::pcOn},
      {"fTXContinueOnXoff", [](TDCB& d) { d.Flags |= dcb::fTXContinueOnXoff; }, TPinControl::pcOff},
      {"XonLim/XoffLim",
       [](TDCB& d) {
         d.XonLim = 3;
         d.XoffLim = 60000;
       },
       TPinControl::pcOff},
  };
  for (const Row& row : rows) {
    TDCB dcb = Base();
    row.change(dcb);
    const Mapped m = Map(dcb);
    ASSERT_EQ(m.error, 0) << row.what;
    EXPECT_EQ(m.flags.iflag, base.flags.iflag) << row.what;
    EXPECT_EQ(m.flags.cflag, base.flags.cflag) << row.what;
    EXPECT_EQ(m.options.dtr, row.dtr) << row.what;
  }
}

TEST(DeviceName, Paths) {
  struct Row {
    const char* name;
    std::string path;
  };
  const Row rows[] = {
      {"COM1", "/dev/" + std::string("ttyS0")},
      {"COM3", "/dev/" + std::string("ttyS2")},
      {"COM10", "/dev/" + std::string("ttyS9")},
      {"COM0", "/dev/COM0"},
      {"COM01", "/dev/COM01"},
      {"COM", "/dev/COM"},
      {"COM2x", "/dev/COM2x"},
      {"com2", "/dev/com2"},
      {"ttyUSB0", "/dev/" + std::string("ttyUSB0")},
      {"/dev/pts/7", "/dev/pts/7"},
      {"pts/7", "pts/7"},
  };
  for (const Row& row : rows) EXPECT_EQ(DevicePath(row.name), row.path) << row.name;
}

TEST(Timeouts, ReadRules) {
  struct Row {
    TCommTimeouts t;
    uint32_t count;
    bool atOnce, firstBytes;
    std::optional<uint64_t> total, interval;
  };
  const Row rows[] = {
      {{kMaxDword, 0, 0, 0, 0}, 20, true, false, std::nullopt, std::nullopt},
      {{kMaxDword, kMaxDword, 500, 0, 0}, 20, false, true, 500, std::nullopt},
      // Not the first-bytes rule: the constant must lie strictly between 0 and kMaxDword.
      {{kMaxDword, kMaxDword, 0, 0, 0}, 2, false, false, uint64_t{kMaxDword} * 2, kMaxDword},
      {{0, 10, 100, 0, 0}, 5, false, false, 150, std::nullopt},
      {{30, 0, 0, 0, 0}, 5, false, false, std::nullopt, 30},
      {{0, 0, 0, 0, 0}, 5, false, false, std::nullopt, std::nullopt},
      {{kMaxDword, 0, 40, 0, 0}, 5, false, false, 40, kMaxDword},
  };
  for (const Row& row : rows) {
    const TReadPlan plan = PlanRead(row.t, row.count);
    SCOPED_TRACE(testing::Message()
                 << row.t.ReadIntervalTimeout << "/" << row.t.ReadTotalTimeoutMultiplier << "/"
                 << row.t.ReadTotalTimeoutConstant);
    EXPECT_EQ(plan.returnAtOnce, row.atOnce);
    EXPECT_EQ(plan.returnOnFirstBytes, row.firstBytes);
    EXPECT_EQ(plan.totalMs, row.total);
    EXPECT_EQ(plan.intervalMs, row.interval);
  }
  EXPECT_EQ(WriteTotalMs({0, 0, 0, 100, 1000}, 10), std::optional<uint64_t>(2000));
  EXPECT_EQ(WriteTotalMs({0, 0, 0, 0, 0}, 10), std::nullopt);
}

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> v;
  for (int b : values) v.push_back(static_cast<uint8_t>(b));
  return v;
}

TEST(ReceiveDecoder, Marks) {
  struct Row {
    const char* what;
    TReceiveDecoder::TOptions options;
    std::vector<uint8_t> raw, data;
    uint32_t errors, breaks;
  };
  const TReceiveDecoder::TOptions plain{}, check{true, false, 0, false},
      replace{true, true, '?', false}, noNull{false, false, 0, true};
  const Row rows[] = {
      {"data passes", plain, Bytes({'a', 0, 'b'}), Bytes({'a', 0, 'b'}), 0, 0},
      {"doubled 0xFF", plain, Bytes({0xFF, 0xFF, 'x'}), Bytes({0xFF, 'x'}), 0, 0},
      {"bad byte kept", check, Bytes({'a', 0xFF, 0, 'q'}), Bytes({'a', 'q'}), 1, 0},
      {"bad byte replaced", replace, Bytes({0xFF, 0, 'q', 'b'}), Bytes({'?', 'b'}), 1, 0},
      {"break dropped", plain, Bytes({'a', 0xFF, 0, 0, 'b'}), Bytes({'a', 'b'}), 0, 1},
      {"bad NUL with checking", check, Bytes({0xFF, 0, 0}), Bytes({0}), 1, 0},
      {"NUL discarded", noNull, Bytes({0, 'a', 0}), Bytes({'a'}), 0, 0},
      {"replaced NUL kept", {true, true, 0, true}, Bytes({0xFF, 0, 'z', 0}), Bytes({0}), 1, 0},
      {"unmarked: all data",
       {true, true, '?', false, false},
       Bytes({0xFF, 0, 0, 0xFF, 0xFF}),
       Bytes({0xFF, 0, 0, 0xFF, 0xFF}),
       0,
       0},
      {"unmarked: NULs discarded",
       {false, false, 0, true, false},
       Bytes({0xFF, 0, 'a'}),
       Bytes({0xFF, 'a'}),
       0,
       0},
  };
  for (const Row& row : rows) {
    TReceiveDecoder decoder;
    decoder.SetOptions(row.options);
    std::vector<uint8_t> out;
    const TReceiveMarks marks = decoder.Decode(row.raw.data(), row.raw.size(), out);
    EXPECT_EQ(out, row.data) << row.what;
    EXPECT_EQ(marks.errors, row.errors) << row.what;
    EXPECT_EQ(marks.breaks, row.breaks) << row.what;
    TReceiveDecoder inPlace;
    inPlace.SetOptions(row.options);
    std::vector<uint8_t> buffer = row.raw;
    size_t kept = 0;
    const TReceiveMarks same = inPlace.DecodeInPlace(buffer.data(), buffer.size(), kept);
    buffer.resize(kept);
    EXPECT_EQ(buffer, row.data) << row.what << ", in place";
    EXPECT_EQ(same.errors + same.breaks, row.errors + row.breaks) << row.what << ", in place";
  }
}

TEST(ReceiveDecoder, TheDriversCountIsTheDataCountOnlyWhenEveryByteIsData) {
  // Doubled 0xFF, a bad byte, a break and NULs: whatever can change between driver and data.
  const std::vector<uint8_t> raw = Bytes({'a', 0xFF, 0xFF, 0, 0xFF, 0, 'q', 0xFF, 0, 0, 'z'});
  const struct {
    const char* what;
    TReceiveDecoder::TOptions options;
  } rows[] = {
      {"marked", {}},
      {"marked, checked and replaced", {true, true, '?', false}},
      {"marked, NULs discarded", {false, false, 0, true}},
      {"unmarked", {false, false, 0, false, false}},
      {"unmarked, checked and replaced", {true, true, '?', false, false}},
      {"unmarked, NULs discarded", {false, false, 0, true, false}},
  };
  for (const auto& row : rows) {
    TReceiveDecoder decoder;
    decoder.SetOptions(row.options);
    std::vector<uint8_t> out;
    decoder.Decode(raw.data(), raw.size(), out);
    EXPECT_EQ(decoder.OneForOne(), out == raw) << row.what;
  }
}

TEST(ReceiveDecoder, MarkSplitOverReads) {
  TReceiveDecoder decoder;
  decoder.SetOptions({true, true, '#', false});
  const std::vector<uint8_t> raw = Bytes({'a', 0xFF, 0xFF, 0xFF, 0, 'e', 'z'});
  // Every way of cutting the bytes in two gives the same data.
  for (size_t cut = 0; cut <= raw.size(); ++cut) {
    decoder.Reset();
    std::vector<uint8_t> out;
    uint32_t errors = decoder.Decode(raw.data(), cut, out).errors;
    errors += decoder.Decode(raw.data() + cut, raw.size() - cut, out).errors;
    EXPECT_EQ(out, Bytes({'a', 0xFF, '#', 'z'})) << "cut at " << cut;
    EXPECT_EQ(errors, 1u);
  }
}

}  // namespace
}  // namespace platform::posix
