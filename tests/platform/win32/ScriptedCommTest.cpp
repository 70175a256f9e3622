// The Windows comm device on a scripted driver: what a real driver does and Wine's does not show
// (a refused toggle, bytes still on their way after a write, error flags, a lost adapter).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "tests/platform/win32/ScriptedComm.h"

namespace platform::win32::test {
namespace {

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

}  // namespace
}  // namespace platform::win32::test
