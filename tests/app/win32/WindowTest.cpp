// The native window's port box: its drop-down reads the machine's ports as it opens and puts
// them after the layout's names, and the typed text stays what the operator typed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/win32/MainWindow.h"
#include "platform/fake/FakeComDevice.h"

#include <windows.h>

namespace app::win32 {
namespace {

std::vector<std::string> Entries(HWND combo) {
  std::vector<std::string> entries;
  const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::string text(static_cast<size_t>(SendMessageA(combo, CB_GETLBTEXTLEN, i, 0)) + 1, '\0');
    text.resize(static_cast<size_t>(
        SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()))));
    entries.push_back(text);
  }
  return entries;
}

std::string Text(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

TEST(Win32Window, TheDropDownListsTheLayoutsNamesThenThePortsFoundAsItOpens) {
  SetUpPanelApplication();
  {
    auto line = std::make_shared<platform::FakeLine>(std::vector<std::string>{"COM99"});
    TMainWindow window(platform::FakeOpener(line));
    window.Show();
    const HWND combo = static_cast<HWND>(window.Widget("CB"));
    ASSERT_NE(combo, nullptr);
    const std::vector<std::string> layout{"COM1", "COM2", "COM3", "COM4", "COM5",
                                          "COM6", "COM7", "COM8", "COM9", "COM10"};
    EXPECT_EQ(Entries(combo), layout);

    SetWindowTextA(combo, "typed");
    SendMessageA(static_cast<HWND>(window.Handle()), WM_COMMAND,
                 MAKEWPARAM(GetDlgCtrlID(combo), CBN_DROPDOWN), reinterpret_cast<LPARAM>(combo));
    const std::vector<std::string> shown = Entries(combo);
    ASSERT_GE(shown.size(), layout.size());
    EXPECT_EQ(std::vector<std::string>(shown.begin(), shown.begin() + 10), layout);
    // The Wine stage maps its ports above COM10; each of them is in the list.
    if (const char* ports = std::getenv("VALTREX_TEST_PORTS")) {
      std::stringstream names(ports);
      for (std::string name; std::getline(names, name, ',');) {
        EXPECT_NE(std::find(shown.begin() + 10, shown.end(), name), shown.end()) << name;
      }
    }
    EXPECT_EQ(Text(combo), "typed");
    RECT box{};
    GetWindowRect(combo, &box);
    EXPECT_GE(SendMessageA(combo, CB_GETDROPPEDWIDTH, 0, 0), box.right - box.left);

    // A refresh of the box from the form keeps the ports found.
    window.Form().CB.SetText("COM3");
    window.ProcessPending();
    EXPECT_EQ(Entries(combo), shown);
    EXPECT_EQ(Text(combo), "COM3");
  }
  TearDownPanelApplication();
}

}  // namespace
}  // namespace app::win32
