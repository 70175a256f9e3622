// The Windows comm device on a scripted driver: what a real driver does and Wine's does not show
// (a refused toggle, bytes still on their way after a write, error flags, a lost adapter).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "serial/ComPort.h"
#include "serial/ComThread.h"
#include "tests/platform/win32/ScriptedComm.h"

namespace platform::win32::test {
namespace {

// One character at 9600 8N1, as the device reckons it.
constexpr int64_t kCharUs = 1042;

// Waits for what another thread of the device does; false when it never came.
template <typename Condition>
bool Eventually(Condition condition) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::yield();
  }
  return true;
}

int Write(ComDevice& device, uint32_t count) {
  TEvent done(true, false);
  TOverlapped ov;
  ov.hEvent = &done;
  const std::string bytes(count, 'x');
  uint32_t n = 0;
  const int start = device.WriteFile(bytes.data(), count, &n, &ov);
  return start == kIoPending ? device.GetOverlappedResult(&ov, &n, true) : start;
}

TEST(ScriptedComm, TheDeviceTogglesRtsWhereTheDriverRefusesTheToggle) {
  const struct {
    DWORD refusal;
    int result;
    bool toggledHere;
  } rows[] = {
      {ERROR_NOT_SUPPORTED, 0, true},      // Wine's answer
      {ERROR_INVALID_PARAMETER, 0, true},  // many adapters'
      {ERROR_GEN_FAILURE, ERROR_GEN_FAILURE, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.refusal);
    TScriptedComm rig;
    rig.toggleError = row.refusal;
    int error = 0;
    const auto device = OpenComDevice("COM700", error);
    ASSERT_TRUE(device);
    TDCB dcb;
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 9600;
    dcb.Flags = dcb::fBinary | dcb::fRtsControlToggle;
    dcb.ByteSize = 8;
    EXPECT_EQ(device->SetCommState(dcb), row.result);
    if (row.result != 0) continue;
    ASSERT_EQ(Write(*device, 1), 0);
    EXPECT_EQ(Eventually([&] { return rig.Rts().size() == 2; }), row.toggledHere);
  }
}

TEST(ScriptedComm, RtsStaysUpUntilTheBytesAreOnTheWire) {
  const struct {
    const char* what;
    bool oneChar;  // TransmitCommChar instead of a write
    uint32_t bytes;
    uint32_t leftInQueue;
    uint32_t drainPerSecond;
    int64_t earliestDropUs;
  } rows[] = {
      // The write completes with the driver's queue empty, the bytes in the FIFO or adapter.
      {"written, in the FIFO", false, 100, 0, 960, 100 * kCharUs},
      // The driver still holds bytes at completion, held back by flow control for a while.
      {"written, held in the queue", false, 100, 50, 100, 500000},
      {"one character ahead", true, 1, 0, 960, kCharUs},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    TScriptedComm rig;
    rig.toggleError = ERROR_NOT_SUPPORTED;
    rig.leftInQueue = row.leftInQueue;
    rig.drainPerSecond = row.drainPerSecond;
    const auto device = rig.Open(dcb::fRtsControlToggle);
    ASSERT_TRUE(device);
    if (row.oneChar) {
      ASSERT_EQ(device->TransmitCommChar('x'), 0);
    } else {
      ASSERT_EQ(Write(*device, row.bytes), 0);
    }
    ASSERT_TRUE(Eventually([&] { return rig.Rts().size() >= 2; }));
    const auto rts = rig.Rts();
    ASSERT_EQ(rts.size(), 2u);
    EXPECT_TRUE(rts[0].up);
    EXPECT_FALSE(rts[1].up);
    EXPECT_GE(rts[1].atUs, row.earliestDropUs);
    EXPECT_EQ(rts[1].outQueue, 0u);
    const auto calls = rig.Calls();
    const std::string sent = row.oneChar ? "char" : "write " + std::to_string(row.bytes);
    const auto up = std::find(calls.begin(), calls.end(), "rts+");
    EXPECT_LT(up - calls.begin(), std::find(calls.begin(), calls.end(), sent) - calls.begin());
  }
}

TEST(ScriptedComm, ErrorFlagsReadForTheOutputCountReachTheCaller) {
  TScriptedComm rig;
  rig.toggleError = ERROR_NOT_SUPPORTED;
  const auto device = rig.Open(dcb::fRtsControlToggle);
  ASSERT_TRUE(device);
  rig.SetErrorFlags(CE_FRAME);
  ASSERT_EQ(Write(*device, 10), 0);
  // RTS is dropped after the device read the count, and with it the flags.
  ASSERT_TRUE(Eventually([&] { return rig.Rts().size() == 2; }));
  uint32_t errors = 0;
  ASSERT_EQ(device->ClearCommError(&errors, nullptr), 0);
  EXPECT_EQ(errors, uint32_t{CE_FRAME});
  ASSERT_EQ(device->ClearCommError(&errors, nullptr), 0);
  EXPECT_EQ(errors, 0u) << "handed over once";
}

TEST(ScriptedComm, RefusedQueueSizesAreNoFailure) {
  const struct {
    DWORD refusal;
    int result;
  } rows[] = {
      {ERROR_INVALID_PARAMETER, 0},
      {ERROR_NOT_SUPPORTED, 0},
      {ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE},
  };
  for (const auto& row : rows) {
    TScriptedComm rig;
    rig.setupError = row.refusal;
    const auto device = rig.Open();
    ASSERT_TRUE(device);
    EXPECT_EQ(device->SetupComm(4096, 2048), row.result) << row.refusal;
  }
}

TEST(ScriptedComm, WaitsEndOnALostDeviceAndAfterFailuresWithoutEnd) {
  const struct {
    DWORD waitError;
    DWORD stateError;  // the line state asked for after the failed wait
    unsigned waits;    // what the driver is asked before the device refuses the waits
    int refusal;
  } rows[] = {
      {ERROR_BAD_COMMAND, 0, 1, ERROR_BAD_COMMAND},
      {ERROR_DEVICE_NOT_CONNECTED, 0, 1, ERROR_DEVICE_NOT_CONNECTED},
      {ERROR_GEN_FAILURE, 0, 1, ERROR_GEN_FAILURE},
      {ERROR_ACCESS_DENIED, 0, 1, ERROR_ACCESS_DENIED},
      {ERROR_OPERATION_ABORTED, ERROR_BAD_COMMAND, 1, ERROR_BAD_COMMAND},
      {ERROR_OPERATION_ABORTED, 0, 16, ERROR_OPERATION_ABORTED},
      {ERROR_INVALID_PARAMETER, 0, 16, ERROR_INVALID_PARAMETER},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.waitError);
    TScriptedComm rig;
    const auto device = rig.Open();
    ASSERT_TRUE(device);
    rig.waitError = row.waitError;
    rig.stateError = row.stateError;
    TEvent done(true, false);
    TOverlapped ov;
    ov.hEvent = &done;
    int start = kIoPending;
    for (int turn = 0; turn < 100 && start == kIoPending; ++turn) {
      uint32_t mask = 0, n = 0;
      start = device->WaitCommEvent(&mask, &ov);
      if (start == kIoPending) {
        EXPECT_NE(device->GetOverlappedResult(&ov, &n, true), 0);
      }
    }
    EXPECT_EQ(rig.Waits(), row.waits);
    EXPECT_EQ(start, row.refusal);
  }
}

// The whole way up: the port's event thread on an adapter that has been pulled out ends after
// the one wait that failed, instead of keeping a processor busy.
TEST(ScriptedComm, AnUnpluggedAdapterEndsThePortsEventThread) {
  TScriptedComm rig;
  rig.waitError = ERROR_DEVICE_NOT_CONNECTED;
  serial::TComPort port;
  port.SetPort("COM705");
  port.SetSyncMethod(serial::smNone);
  port.Open();
  const serial::TComThread* thread = port.EventThread();
  ASSERT_TRUE(thread);
  EXPECT_TRUE(Eventually([&] { return thread->Finished(); }));
  EXPECT_EQ(rig.Waits(), 1u);
  port.Close();
}

TEST(ScriptedComm, PortNamesInEitherFormOpenThePort) {
  const struct {
    const char* name;
    const char* path;
  } rows[] = {
      {"COM700", "\\\\.\\COM700"},         {"COM701:", "\\\\.\\COM701"},
      {"com702:", "\\\\.\\com702"},        {"\\\\.\\COM703", "\\\\.\\COM703"},
      {"\\\\.\\COM704:", "\\\\.\\COM704"}, {"VALTREX:", "\\\\.\\VALTREX:"},
  };
  for (const auto& row : rows) {
    TScriptedComm rig;
    int error = 0;
    EXPECT_TRUE(OpenComDevice(row.name, error)) << row.name;
    ASSERT_EQ(rig.paths.size(), 1u);
    EXPECT_EQ(rig.paths[0], row.path);
  }
}

}  // namespace
}  // namespace platform::win32::test
