#pragma once
// A port whose devices come from a recording fake line.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/fake/FakeComDevice.h"
#include "serial/ComPort.h"

namespace serial::test {

struct FakePort {
  FakePort() { port.SetDeviceOpener(platform::FakeOpener(line)); }

  // Opens the port and forgets the calls the open made, the event thread's first wait among them.
  void OpenQuietly() {
    port.Open();
    if (port.ThreadCreated()) {
      EXPECT_TRUE(line->WaitForCommWait(std::chrono::seconds(10)));
    }
    line->ClearCalls();
  }

  std::shared_ptr<platform::FakeLine> line = std::make_shared<platform::FakeLine>();
  TComPort port;
};

// A message's text with the system's error as the system names it (the fake line fails with
// errno's values on every system).
inline std::string WithSystemError(const std::string& text, int error) {
  return text + " (" + platform::SystemErrorText(error) + ")";
}

// Names the delivery modes in parameterised tests' names.
inline std::string ModeName(const ::testing::TestParamInfo<TSyncMethod>& info) {
  return info.param == smThreadSync   ? "ThreadSync"
         : info.param == smWindowSync ? "WindowSync"
                                      : "None";
}

// Runs `action`, which must raise EComPort, and gives the exception.
template <typename F>
EComPort Raised(F&& action) {
  try {
    action();
  } catch (const EComPort& e) {
    return e;
  }
  ADD_FAILURE() << "no EComPort raised";
  return EComPort(0);
}

}  // namespace serial::test
