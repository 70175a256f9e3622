// The native window from the keyboard, keys posted to the focused control and served by the
// window's own loop: Tab follows the layout's focus order with the page control in it, the arrow
// keys turn the pages from the page control, Ctrl+Tab turns them from anywhere, and Enter
// presses the focused button.
#include <algorithm>

#include "app/protocol/ExchangeSteps.h"
#include "tests/app/win32/WindowFixture.h"

namespace app::win32::test {
namespace {

class Win32Keyboard : public TWindowFixture {
 protected:
  // One press and release of `key` at the focused control, with Ctrl and Shift as given (in the
  // thread's key state, where the window reads them).
  void Press(UINT key, bool ctrl = false, bool shift = false) {
    BYTE state[256] = {};
    GetKeyboardState(state);
    state[VK_CONTROL] = state[VK_LCONTROL] = ctrl ? 0x80 : 0;
    state[VK_SHIFT] = state[VK_LSHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(state);
    const HWND target = GetFocus() ? GetFocus() : static_cast<HWND>(window->Handle());
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC)) << 16;
    PostMessageA(target, WM_KEYDOWN, key, scan | 1);
    PostMessageA(target, WM_KEYUP, key, scan | 1 | (LPARAM{3} << 30));
    window->ProcessPending();
    state[VK_CONTROL] = state[VK_LCONTROL] = state[VK_SHIFT] = state[VK_LSHIFT] = 0;
    SetKeyboardState(state);
  }
  std::string Focus() const { return NameOf(GetFocus()); }
  // The page the tabs show, the sheet shown and the form's page must agree.
  int Page() const {
    const auto shown = static_cast<int>(SendMessageA(W("PC"), TCM_GETCURSEL, 0, 0));
    const auto& pages = Form().PC.Pages();
    for (size_t i = 0; i < pages.size(); ++i) {
      EXPECT_EQ(IsWindowVisible(W(pages[i].name)) != FALSE, static_cast<int>(i) == shown)
          << pages[i].name;
    }
    EXPECT_EQ(Form().PC.ActivePageIndex(), shown);
    return shown;
  }
};

// The layout's order of the window's controls that take the focus, the page control's place
// followed by the controls of the page shown.
std::vector<std::string> ExpectedOrder(const std::string& page) {
  const auto itemsOf = [](const std::string& parent) {
    std::vector<const TLayoutItem*> items;
    for (const TLayoutItem& item : MainFormLayout()) {
      if (item.parent == parent && item.focus >= 0 && item.kind != TControlKind::ProgressBar) {
        items.push_back(&item);
      }
    }
    std::stable_sort(items.begin(), items.end(),
                     [](auto* a, auto* b) { return a->focus < b->focus; });
    return items;
  };
  std::vector<std::string> order;
  for (const TLayoutItem* item : itemsOf(kFormName)) {
    order.push_back(item->name);
    if (item->kind == TControlKind::PageControl) {
      for (const TLayoutItem* inner : itemsOf(page)) order.push_back(inner->name);
    }
  }
  return order;
}

TEST_F(Win32Keyboard, TabFollowsTheLayoutsOrderAndStopsOnThePageControl) {
  const std::vector<std::string> expected = ExpectedOrder("DDS");
  ASSERT_EQ(expected[5], "PC");
  EXPECT_EQ(Focus(), expected.front());
  std::vector<std::string> seen{Focus()};
  for (size_t i = 0; i < expected.size(); ++i) {
    Press(VK_TAB);
    seen.push_back(Focus());
  }
  std::vector<std::string> round = expected;
  round.push_back(expected.front());  // and round again
  EXPECT_EQ(seen, round);
  Press(VK_TAB, false, true);
  EXPECT_EQ(Focus(), expected.back());
  Press(VK_TAB, false, true);
  EXPECT_EQ(Focus(), expected[expected.size() - 2]);
}

TEST_F(Win32Keyboard, ArrowsOnThePageControlAndCtrlTabAnywhereTurnThePages) {
  const int pages = static_cast<int>(Form().PC.Pages().size());
  // The page control takes the focus after the five buttons.
  for (int i = 0; i < 5; ++i) Press(VK_TAB);
  ASSERT_EQ(Focus(), "PC");
  EXPECT_EQ(Page(), 0);
  Press(VK_RIGHT);
  EXPECT_EQ(Page(), 1);
  EXPECT_EQ(Focus(), "PC");
  // Tab goes on into the page now shown.
  Press(VK_TAB);
  EXPECT_EQ(Focus(), ExpectedOrder("Power")[6]);
  Press(VK_TAB, false, true);
  Press(VK_LEFT);
  EXPECT_EQ(Page(), 0);

  // From a button outside the pages the focus stays where it is.
  SetFocus(W("Button3"));
  Press(VK_TAB, true);
  EXPECT_EQ(Page(), 1);
  Press(VK_TAB, true, true);
  Press(VK_TAB, true, true);
  EXPECT_EQ(Page(), pages - 1);
  Press(VK_TAB, true);
  EXPECT_EQ(Page(), 0);
  EXPECT_EQ(Focus(), "Button3");
  // From a control on the page that goes, the focus goes to the tabs.
  SetFocus(W("TBfreq"));
  Press(VK_TAB, true);
  EXPECT_EQ(Page(), 1);
  EXPECT_EQ(Focus(), "PC");
}

TEST_F(Win32Keyboard, EnterPressesTheFocusedButton) {
  SetFocus(W("Button2"));  // Read: asks for every value again
  Form().ExchangeStep = 7;
  Press(VK_RETURN);
  EXPECT_EQ(Form().ExchangeStep, protocol::kFirstStep);
  EXPECT_EQ(Form().Control<TEdit>("Efreq").Text(), protocol::kWaitingText);
  EXPECT_EQ(Focus(), "Button2");
}

}  // namespace
}  // namespace app::win32::test
