#pragma once
// A port whose devices come from a recording fake line.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/fake/FakeComDevice.h"
#include "serial/ComPort.h"

namespace serial::test {

struct FakePort {
  FakePort() { port.SetDeviceOpener(platform::FakeOpener(line)); }

  // Opens the port and forgets the calls the open made.
  void OpenQuietly() {
    port.Open();
    line->ClearCalls();
  }

  std::shared_ptr<platform::FakeLine> line = std::make_shared<platform::FakeLine>();
  TComPort port;
};

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
