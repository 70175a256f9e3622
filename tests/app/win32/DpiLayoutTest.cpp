// The native window at the monitor's DPI (the Wine stage runs this at 96 and at 144 pixels per
// inch, the wanted one in VALTREX_TEST_DPI): the layout scaled to it, the labels of a row side by
// side in the font the window really uses, and the bars of their own colour drawn in it.
#include <cstdlib>
#include <utility>

#include "tests/app/win32/WindowFixture.h"

#include <uxtheme.h>

namespace app::win32::test {
namespace {

RECT ClientRectOf(HWND control) {
  RECT box{};
  GetWindowRect(control, &box);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&box), 2);
  return box;
}

std::string Describe(const RECT& r) {
  return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" +
         std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
}

// The width of a control's text in the font the control draws with.
LONG TextWidth(HWND control) {
  char text[256] = {};
  const int length = GetWindowTextA(control, text, sizeof text);
  const HDC dc = GetDC(control);
  const HGDIOBJ old =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32A(dc, text, length, &size);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return size.cx;
}

class Win32Layout : public TWindowFixture {
 protected:
  // The window's size, a control of its own and one on a page, and the font, at `dpi`.
  void ExpectLaidOutAt(int dpi) const {
    const auto scaled = [dpi](int length) { return MulDiv(length, dpi, 96); };
    RECT client{};
    GetClientRect(static_cast<HWND>(window->Handle()), &client);
    EXPECT_EQ(client.right, scaled(kClientWidth));
    EXPECT_EQ(client.bottom, scaled(kClientHeight));
    const RECT exit = ClientRectOf(W("Button1"));  // at 480,472, 75 x 25
    EXPECT_EQ(Describe(exit), Describe({scaled(480), scaled(472), scaled(480) + scaled(75),
                                        scaled(472) + scaled(25)}));
    const RECT slider = ClientRectOf(W("TBfreq"));  // at 16,40, 150 x 33, on its sheet
    EXPECT_EQ(slider.left, scaled(16));
    EXPECT_EQ(slider.right - slider.left, scaled(150));
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HGDIOBJ>(SendMessageA(W("Label41"), WM_GETFONT, 0, 0)), sizeof font,
               &font);
    EXPECT_EQ(font.lfHeight, -scaled(11));
  }

  // Every label shows its whole text, and none covers another on its parent.
  void ExpectLabelsApart() const {
    std::vector<std::pair<std::string, RECT>> labels;
    for (const TLayoutItem& item : MainFormLayout()) {
      if (item.kind != TControlKind::Label) continue;
      const RECT box = ClientRectOf(W(item.name));
      EXPECT_GE(box.right - box.left, TextWidth(W(item.name))) << item.name;
      for (const auto& [name, other] : labels) {
        RECT both{};
        if (GetParent(W(name)) == GetParent(W(item.name))) {
          EXPECT_FALSE(IntersectRect(&both, &box, &other))
              << item.name << " " << Describe(box) << " covers " << name << " " << Describe(other);
        }
      }
      labels.emplace_back(item.name, box);
    }
    const RECT release = ClientRectOf(W("Label41")), number = ClientRectOf(W("Lsr"));
    EXPECT_LE(release.right, number.left) << Describe(release) << " " << Describe(number);
    // Pushed along, the row still ends before the lamp.
    EXPECT_LE(ClientRectOf(W("Lcpb")).right, ClientRectOf(W("Sh")).left);
  }
};

TEST_F(Win32Layout, TheLayoutIsScaledToTheWindowsDpi) {
  using TGetDpiForWindow = UINT(WINAPI*)(HWND);
  const auto getDpiForWindow = reinterpret_cast<TGetDpiForWindow>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
  ASSERT_NE(getDpiForWindow, nullptr);
  const HWND form = static_cast<HWND>(window->Handle());
  const auto dpi = static_cast<int>(getDpiForWindow(form));
  if (const char* wanted = std::getenv("VALTREX_TEST_DPI")) {
    EXPECT_EQ(dpi, std::atoi(wanted));
  }
  EXPECT_EQ(static_cast<int>(window->Dpi()), dpi);
  // Aware of each monitor's DPI, as the manifest asks: the system does not stretch the window.
  // (Wine 8 makes every process so, whatever its manifest says; the Wine stage reads the
  // manifest itself.)
  using TContextOfWindow = void*(WINAPI*)(HWND);
  using TAwarenessOfContext = int(WINAPI*)(void*);
  const auto contextOf = reinterpret_cast<TContextOfWindow>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("user32.dll"), "GetWindowDpiAwarenessContext")));
  const auto awarenessOf = reinterpret_cast<TAwarenessOfContext>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("user32.dll"), "GetAwarenessFromDpiAwarenessContext")));
  ASSERT_TRUE(contextOf && awarenessOf);
  EXPECT_EQ(awarenessOf(contextOf(form)), 2);  // DPI_AWARENESS_PER_MONITOR_AWARE
  ExpectLaidOutAt(dpi);
}

// Moved to a monitor of another DPI, the window is laid out again at that one, in the rectangle
// the system suggests (one the screen here has room for).
TEST_F(Win32Layout, OnAMonitorOfAnotherDpiTheWindowIsLaidOutAgain) {
  const int dpi = window->Dpi() == 96 ? 120 : 96;
  const HWND form = static_cast<HWND>(window->Handle());
  RECT frame{}, client{};
  GetWindowRect(form, &frame);
  GetClientRect(form, &client);
  const RECT suggested{frame.left, frame.top,
                       frame.right - client.right + MulDiv(kClientWidth, dpi, 96),
                       frame.bottom - client.bottom + MulDiv(kClientHeight, dpi, 96)};
  SendMessageA(form, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(dpi, dpi),
               reinterpret_cast<LPARAM>(&suggested));
  Form().Control<TLabel>("Lsr").SetCaption("104");
  Form().Control<TLabel>("Lcpb").SetVisible(true);
  window->ProcessPending();
  EXPECT_EQ(static_cast<int>(window->Dpi()), dpi);
  ExpectLaidOutAt(dpi);
  ExpectLabelsApart();
}

TEST_F(Win32Layout, TheLabelsOfARowShowTheirWholeTextsSideBySide) {
  // The release the generator tells, after "Software release -", and the busy port's notice.
  Form().Control<TLabel>("Lsr").SetCaption("104");
  Form().Control<TLabel>("Lcpb").SetVisible(true);
  window->ProcessPending();
  ExpectLabelsApart();
}

// Visual styles draw a bar in the theme's colour whatever it is told: the bars of a colour of
// their own are drawn without the theme, in that colour.
TEST_F(Win32Layout, TheColouredBarsAreDrawnInTheirOwnColours) {
  const std::pair<const char*, COLORREF> bars[] = {
      {"PBreg", RGB(0, 128, 128)}, {"PBdc_power", RGB(255, 128, 0)}, {"PBfcor", RGB(0, 0, 128)}};
  for (const auto& [name, colour] : bars) {
    SCOPED_TRACE(name);
    auto& bar = Form().Control<TProgressBar>(name);
    bar.SetPosition(bar.Max());
    window->ProcessPending();
    const HWND native = W(name);
    EXPECT_EQ(GetWindowTheme(native), nullptr);
    RECT box{}, frame{};
    GetClientRect(native, &box);
    GetWindowRect(native, &frame);
    EXPECT_LT(box.right, frame.right - frame.left);  // the classic edge around it
    const HDC screen = GetDC(native);
    const HDC dc = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, box.right, box.bottom);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageA(native, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    EXPECT_EQ(GetPixel(dc, box.right / 2, box.bottom / 2), colour);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(native, screen);
  }
  // The others keep the theme, where one is in use.
  if (IsThemeActive()) {
    EXPECT_NE(GetWindowTheme(W("PBac_current")), nullptr);
  }
}

}  // namespace
}  // namespace app::win32::test
