#pragma once
// Two COM ports joined like a null-modem cable, named by VALTREX_TEST_PORTS ("COM40,COM41").
// Under Wine the test stage maps them to two linked pseudo-terminals and emulates their modem
// lines from files (VALTREX_MODEM_DIR, with the pty of each port in VALTREX_TEST_PORT_LINES,
// "COM40=5,COM41=6"). Without the variables the tests skip, saying so: they never open a name
// nobody gave them.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "platform/ComDevice.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef SendMessage
#undef DefWindowProc

namespace platform::win32::test {

// Wine's ntdll exports its version; Windows' does not.
inline const char* WineVersion() {
  using Fn = const char* (*)();
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  const auto fn = ntdll ? reinterpret_cast<Fn>(
                              reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")))
                        : nullptr;
  return fn ? fn() : nullptr;
}

// Skips a test of what Windows does and Wine does not, telling why.
#define SKIP_UNDER_WINE(reason)                                                        \
  do {                                                                                 \
    if (const char* wine = ::platform::win32::test::WineVersion()) {                   \
      if (!std::getenv("VALTREX_MEASURE_WINE")) {                                      \
        std::printf("SKIPPED under Wine %s: %s\n", wine, reason);                      \
        GTEST_SKIP() << "Wine " << wine << ": " << reason;                             \
      }                                                                                \
    }                                                                                  \
  } while (false)

inline std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Waits for a condition with a generous deadline; false if it never came.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::yield();
  }
  return true;
}

// The modem inputs of a line as the driver reports them (the MS_*_ON bits).
struct TInputs {
  bool cts = false, dsr = false, ring = false, rlsd = false;
};

class LinkedPorts : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string ports = Env("VALTREX_TEST_PORTS");
    const size_t comma = ports.find(',');
    if (comma == std::string::npos) {
      std::printf("SKIPPED: no linked COM ports (set VALTREX_TEST_PORTS=COMa,COMb)\n");
      GTEST_SKIP() << "no linked COM ports (VALTREX_TEST_PORTS)";
    }
    nameA_ = ports.substr(0, comma);
    nameB_ = ports.substr(comma + 1);
    a_ = Open(nameA_);
    b_ = Open(nameB_);
    ASSERT_TRUE(a_ && b_);
  }

  std::unique_ptr<ComDevice> Open(const std::string& name) {
    int error = 0;
    auto device = OpenComDevice(name, error);
    EXPECT_TRUE(device) << name << ": error " << error;
    if (!device) return nullptr;
    TDCB dcb;
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 19200;
    dcb.Flags = dcb::fBinary;
    dcb.ByteSize = 8;
    dcb.XonChar = 17;
    dcb.XoffChar = 19;
    EXPECT_EQ(device->SetCommState(dcb), 0);
    EXPECT_EQ(device->SetCommTimeouts(Timeouts(kMaxDword, 0, 0)), 0);
    EXPECT_EQ(device->PurgeComm(kPurgeRxClear | kPurgeTxClear), 0);
    return device;
  }

  static TCommTimeouts Timeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
    TCommTimeouts t;
    t.ReadIntervalTimeout = interval;
    t.ReadTotalTimeoutMultiplier = multiplier;
    t.ReadTotalTimeoutConstant = constant;
    t.WriteTotalTimeoutConstant = 5000;
    return t;
  }

  static uint32_t InputCount(ComDevice& device) {
    TComStat stat;
    return device.ClearCommError(nullptr, &stat) == 0 ? stat.cbInQue : 0;
  }

  // Writes all of `bytes` and waits for the write to end.
  static void Send(ComDevice& device, const std::string& bytes) {
    TEvent done(true, false);
    TOverlapped ov;
    ov.hEvent = &done;
    uint32_t n = 0;
    const int start = device.WriteFile(bytes.data(), static_cast<uint32_t>(bytes.size()), &n, &ov);
    ASSERT_TRUE(start == 0 || start == kIoPending) << start;
    ASSERT_EQ(device.GetOverlappedResult(&ov, &n, true), 0);
    ASSERT_EQ(n, bytes.size());
  }

  // Waits until `count` bytes have arrived at `device`.
  static bool Arrived(ComDevice& device, uint32_t count) {
    return WaitUntil([&] { return InputCount(device) >= count; });
  }

  // Under Wine: whether the test can drive a port's modem inputs (the stage's line files).
  bool CanDriveInputs() const { return !Env("VALTREX_MODEM_DIR").empty(); }

  void SetInputs(const std::string& port, TInputs in) {
    // The line files hold the Linux TIOCM_* bits.
    const int bits = (in.cts ? 0x020 : 0) | (in.ring ? 0x080 : 0) | (in.rlsd ? 0x040 : 0) |
                     (in.dsr ? 0x100 : 0);
    std::ofstream(LineFile(port) + ".tmp") << bits << "\n";
    ASSERT_TRUE(MoveFileExA((LineFile(port) + ".tmp").c_str(), LineFile(port).c_str(),
                            MOVEFILE_REPLACE_EXISTING));
  }

  // DTR (0x002) and RTS (0x004) as the line emulation last saw them set.
  int Outputs(const std::string& port) {
    std::ifstream in(LineFile(port) + ".out");
    int bits = 0;
    in >> bits;
    return bits;
  }

  std::string LineFile(const std::string& port) const {
    std::string dir = Env("VALTREX_MODEM_DIR");
    for (char& c : dir) {
      if (c == '/') c = '\\';
    }
    const std::string lines = "," + Env("VALTREX_TEST_PORT_LINES") + ",";
    const size_t at = lines.find("," + port + "=");
    const size_t start = at + port.size() + 2;
    const std::string number = at == std::string::npos
                                   ? ""
                                   : lines.substr(start, lines.find(',', start) - start);
    return "Z:" + dir + "\\pts" + number;
  }

  std::string nameA_, nameB_;
  std::unique_ptr<ComDevice> a_, b_;
};

}  // namespace platform::win32::test
