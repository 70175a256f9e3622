// The terminal device on a scripted kernel that plays on-board UARTs and USB adapters: what
// only a real line shows, without one.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "platform/ComDevice.h"
#include "platform/Sync.h"
#include "tests/platform/PtyPair.h"
#include "tests/platform/ScriptedKernel.h"

namespace platform::kerneltest {
namespace {

using ptytest::PanelDcb;
using ptytest::Timeouts;

struct TRig {
  explicit TRig(TDriverModel model) : kernel(std::move(model)) {
    int error = -1;
    device = kernel.Open(error);
    EXPECT_TRUE(device) << "open failed with " << error;
  }
  void SetUp(const TDCB& dcb = PanelDcb()) {
    ASSERT_EQ(device->SetCommState(dcb), 0);
    ASSERT_EQ(device->SetCommTimeouts(Timeouts(0, 0, 0, 0, 0)), 0);
  }
  // Starts a comm-event wait on `mask`, to be ended by WaitEvent.
  void StartEvent(uint32_t mask) {
    ov.hEvent = &event;
    ASSERT_EQ(device->SetCommMask(mask), 0);
    ASSERT_EQ(device->WaitCommEvent(&seen, &ov), kIoPending);
  }
  bool WaitEvent(uint32_t ms = 5000) {
    if (WaitForSingleObject(event, ms) != kWaitObject0) return false;
    uint32_t done = 0;
    return device->GetOverlappedResult(&ov, &done, false) == 0;
  }
  void Write(const std::string& bytes) {
    uint32_t done = 0;
    ASSERT_EQ(device->WriteFile(bytes.data(), static_cast<uint32_t>(bytes.size()), &done, nullptr),
              0);
    ASSERT_EQ(done, bytes.size());
  }

  TScriptedKernel kernel;
  std::unique_ptr<ComDevice> device;
  TEvent event{true, false};
  TOverlapped ov;
  uint32_t seen = 0;
};

TEST(KernelDevice, UnpluggedAdapterEndsTransfersWithEio) {
  TRig rig(UsbSerial());
  rig.SetUp();
  rig.Write("frame");
  char buffer[8];
  TOverlapped ov;
  ASSERT_EQ(rig.device->ReadFile(buffer, sizeof buffer, nullptr, &ov), kIoPending);
  rig.kernel.Unplug();
  uint32_t done = 0;
  EXPECT_EQ(rig.device->GetOverlappedResult(&ov, &done, true), EIO);
  EXPECT_EQ(rig.device->WriteFile("x", 1, &done, nullptr), EIO);
}

// Opening raises DTR and RTS; a generator that takes DTR for "start" must see them fall before
// the device does anything else with the line.
TEST(KernelDevice, OpenLowersDtrAndRtsFirst) {
  TRig rig(Uart16550());
  for (const TScriptedKernel::TCall& call : rig.kernel.Calls()) {
    if (call.outputLines & (TIOCM_DTR | TIOCM_RTS)) {
      EXPECT_TRUE(call.name == "TIOCEXCL" || call.name == "TIOCMBIC") << call.name;
    }
  }
  EXPECT_EQ(rig.kernel.OutputLines() & (TIOCM_DTR | TIOCM_RTS), 0);
}

// The kernel's RS-485 mode may rewire a board's transceiver and mutes the receiver while
// sending: RTS toggle uses it only on a port already set up for it, then with the receiver on,
// and the port gets its own mode back when closed.
TEST(KernelDevice, RtsToggleUsesTheKernelsRs485ModeOnlyWhereThePortIsInIt) {
  struct TCase {
    uint32_t opened, whileOpen;
  };
  const uint32_t kOn = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  for (const TCase c : {TCase{0, 0}, TCase{kOn, kOn | SER_RS485_RX_DURING_TX}}) {
    TDriverModel model = Uart16550();
    model.rs485 = true;
    model.rs485Flags = c.opened;
    auto rig = std::make_unique<TRig>(model);
    rig->SetUp();
    EXPECT_EQ(rig->kernel.Rs485().flags, c.whileOpen) << c.opened;
    EXPECT_EQ(rig->kernel.Rs485().delay_rts_after_send, 2u) << "the port's own delays stay";
    rig->device.reset();
    EXPECT_EQ(rig->kernel.Rs485().flags, c.opened);
  }
}

// What a bad byte gives: the error flags and the data, by the line's parity and the record's
// check, on a UART that counts its errors and on an adapter that does not.
TEST(KernelDevice, LineErrorsByParityAndCheck) {
  using TRx = TScriptedKernel::TRx;
  struct TRow {
    const char* what;
    TDriverModel model;
    uint8_t parity;  // of the line
    bool check;
    TRx kind;
    uint32_t errors;
    std::string data;
  };
  const TRow rows[] = {
      {"framing error, no parity, uncounted", UsbSerial(), 0, false, TRx::kFrame, kCeFrame, "A"},
      {"framing error, checked, no parity", UsbSerial(), 0, true, TRx::kFrame, kCeFrame, "A"},
      {"parity error, checked", UsbSerial(), 2, true, TRx::kParity, kCeRxParity, "A"},
      {"parity error, unchecked", UsbSerial(), 2, false, TRx::kParity, 0, "A"},
      // The UART received the break as a NUL, which stays.
      {"counted break, checked", Uart16550(), 2, true, TRx::kBreak, kCeBreak, std::string(1, '\0')},
  };
  for (const TRow& row : rows) {
    TRig rig(row.model);
    TDCB dcb = PanelDcb();
    dcb.Parity = row.parity;
    if (row.check) dcb.Flags |= dcb::fParity;
    rig.SetUp(dcb);
    rig.kernel.Arrive({{'A', row.kind}, {'z'}});
    // Until the byte after it is in: whatever the bad one gives has come by then.
    uint32_t errors = 0;
    TComStat stat{};
    std::string data;
    ptytest::Eventually([&] {
      uint32_t e = 0;
      rig.device->ClearCommError(&e, &stat);
      errors |= e;
      std::string got(stat.cbInQue, '\0');
      uint32_t done = 0;
      if (stat.cbInQue > 0) rig.device->ReadFile(got.data(), stat.cbInQue, &done, nullptr);
      data += got.substr(0, done);
      return !data.empty() && data.back() == 'z';
    });
    EXPECT_EQ(errors, row.errors) << row.what;
    EXPECT_EQ(data.substr(0, data.size() - 1), row.data) << row.what;
  }
}

// A UART runs at its clock over a whole divisor, whatever rate its driver echoes; a rate the
// divisor misses is refused, and the line keeps the rate it had, one set as a number too.
TEST(KernelDevice, RatesTheUartsDivisorMakes) {
  struct TRow {
    int baudBase;
    uint32_t rate;
    int result;
  };
  const TRow rows[] = {
      {115200, 31250, EINVAL},  // 1.8432 MHz: divisor 4 makes 28800
      {115200, 19200, 0},       // divisor 6, exact
      {1000000, 31250, 0},      // 16 MHz: divisor 32, exact
      {0, 31250, 0},            // the driver does not tell its clock: its echo stands
  };
  for (const TRow& row : rows) {
    TDriverModel model = Uart16550();
    model.baudBase = row.baudBase;
    TRig rig(model);
    TDCB dcb = PanelDcb();
    dcb.BaudRate = 28800;  // a rate set as a number, which a refusal must not lose
    rig.SetUp(dcb);
    dcb.BaudRate = row.rate;
    EXPECT_EQ(rig.device->SetCommState(dcb), row.result) << row.baudBase << " " << row.rate;
    EXPECT_EQ(rig.kernel.Rate(), row.result == 0 ? row.rate : 28800u) << row.baudBase;
  }
}

// A COMn name whose UART is not fitted, or a port that fails its first call, is no port: the
// open fails, rather than the line set-up after it.
TEST(KernelDevice, OpenFailsWhereNoUartAnswers) {
  int error = 0;
  {
    TDriverModel absent = Uart16550();
    absent.uartType = 0;
    TScriptedKernel kernel(absent);
    EXPECT_FALSE(kernel.Open(error));
    EXPECT_EQ(error, ENODEV);
  }
  {
    TScriptedKernel kernel(Uart16550());
    kernel.Unplug();
    EXPECT_FALSE(kernel.Open(error));
    EXPECT_EQ(error, EIO);
  }
}

// Closing with output the far end holds back (CTS low, or an XOFF) would wait in the driver for
// its closing time; what cannot be sent is dropped first.
TEST(KernelDevice, CloseDropsOutputHeldBackByTheFarEnd) {
  TRig rig(Uart16550());
  TDCB dcb = PanelDcb();
  dcb.Flags |= dcb::fOutxCtsFlow;
  rig.SetUp(dcb);
  TOverlapped ov;
  ASSERT_EQ(rig.device->WriteFile("held back", 9, nullptr, &ov), kIoPending);
  rig.device.reset();
  EXPECT_EQ(rig.kernel.HeldAtClose(), 0);
}

std::string ModelName(const ::testing::TestParamInfo<TDriverModel>& info) {
  return info.param.name;
}

// An 11-byte frame takes 5.7 ms at 19200 bit/s; the driver's count reads 0 long before on
// either port, whose FIFO still sends it.
class FrameOnTheWire : public ::testing::TestWithParam<TDriverModel> {};

TEST_P(FrameOnTheWire, TxEmptyAndRtsWaitForTheLastStopBit) {
  TRig rig(GetParam());
  rig.SetUp();
  rig.StartEvent(kEvTxEmpty);
  rig.Write(std::string(11, 'F'));
  ASSERT_TRUE(rig.WaitEvent());
  EXPECT_GE(Clock::now(), rig.kernel.WireEnd()) << "transmitter empty while the frame is sent";
  ASSERT_TRUE(rig.kernel.WaitFor([&] { return !(rig.kernel.OutputLines() & TIOCM_RTS); }));
  EXPECT_EQ(rig.kernel.RtsDropsMidFrame(), 0);
}

INSTANTIATE_TEST_SUITE_P(, FrameOnTheWire, ::testing::Values(Uart16550(), UsbSerial()), ModelName);

// A change of the modem inputs reaches the event wait on an idle line, also when a line set-up
// came while the watcher waited (a UART's modem interrupt goes off with CLOCAL and no CRTSCTS),
// and where the driver cannot wait on its lines at all.
struct TModemCase {
  TDriverModel model;
  int lines;
  uint32_t event;
};

void PrintTo(const TModemCase& c, std::ostream* out) {
  *out << c.model.name;
}

class ModemEvents : public ::testing::TestWithParam<TModemCase> {};

TEST_P(ModemEvents, ComeAfterALineChangeOnAnIdleLine) {
  const TModemCase& c = GetParam();
  TRig rig(c.model);
  rig.SetUp();
  const auto waitsPast = [&](int n) {
    return [&, n] { return rig.kernel.ModemWaitsEntered() > n; };
  };
  ASSERT_TRUE(rig.kernel.WaitFor(waitsPast(0)));
  const int waits = rig.kernel.ModemWaitsEntered();
  rig.SetUp();
  // A mended watcher waits anew after the change; otherwise this waits out its time.
  if (c.model.modemWait) {
    rig.kernel.WaitFor(waitsPast(waits), std::chrono::milliseconds(500));
  }
  rig.StartEvent(kEvCts | kEvDsr | kEvRlsd | kEvRing);
  rig.kernel.SetInputLines(c.lines);
  ASSERT_TRUE(rig.WaitEvent(3000));
  EXPECT_EQ(rig.seen, c.event);
}

INSTANTIATE_TEST_SUITE_P(, ModemEvents,
                         ::testing::Values(TModemCase{Uart16550(), TIOCM_CTS, kEvCts},
                                           TModemCase{UsbSerial(), TIOCM_CD, kEvRlsd},
                                           TModemCase{UsbNoWait(), TIOCM_DSR, kEvDsr}),
                         [](const auto& info) { return info.param.model.name; });

}  // namespace
}  // namespace platform::kerneltest
