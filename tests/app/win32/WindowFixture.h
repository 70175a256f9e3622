#pragma once
// The native window with a fake port, shown, for the tests that drive it through its own loop.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/Layout.h"
#include "app/win32/MainWindow.h"
#include "platform/fake/FakeComDevice.h"

#include <windows.h>
//
#include <commctrl.h>

namespace app::win32::test {

class TWindowFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUpPanelApplication();
    window = std::make_unique<TMainWindow>(platform::FakeOpener(line));
    window->Show();
    window->ProcessPending();
  }
  void TearDown() override {
    window.reset();
    TearDownPanelApplication();
  }

  HWND W(const std::string& name) const { return static_cast<HWND>(window->Widget(name)); }
  TMainForm& Form() const { return window->Form(); }

  // The layout name of a native control, or of the control whose part it is (a combo box's
  // edit box).
  std::string NameOf(HWND native) const {
    for (; native; native = GetParent(native)) {
      for (const TLayoutItem& item : MainFormLayout()) {
        if (W(item.name) == native) return item.name;
      }
    }
    return "(none)";
  }

  std::shared_ptr<platform::FakeLine> line =
      std::make_shared<platform::FakeLine>(std::vector<std::string>{});
  std::unique_ptr<TMainWindow> window;
};

}  // namespace app::win32::test
