#pragma once
// What the Win32 window's files share: the names of the panel's window classes, the binding of a
// control to its native window, and the helpers both the building and the handling of the controls
// use. Internal to the window; the system's headers come after the project's (see MainWindow.cpp).

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/PortList.h"
#include "app/win32/MainWindow.h"

#include <windows.h>

namespace app::win32 {

constexpr const char* kSheetClass = "TTabSheet";
constexpr const char* kGraphicClass = "TGraphicControl";

inline HWND H(THandle h) {
  return static_cast<HWND>(h);
}

inline std::string WindowText(HWND window) {
  std::string text(static_cast<size_t>(GetWindowTextLengthA(window)) + 1, '\0');
  text.resize(
      static_cast<size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

inline void SetText(HWND window, const std::string& text) {
  if (WindowText(window) != text) SetWindowTextA(window, text.c_str());
}

// The drop-down's entries, the text left as it was (the operator's typing is not an entry). The
// list may be wider than the box so that a long name reads whole. A standard combo box has no
// tool tip per entry, so the descriptions are not shown here.
inline void ShowPortList(HWND combo, const std::vector<TPortListEntry>& entries) {
  const std::string text = WindowText(combo);
  SendMessageA(combo, CB_RESETCONTENT, 0, 0);
  RECT box{};
  GetWindowRect(combo, &box);
  LONG widest = box.right - box.left;
  const HDC dc = GetDC(combo);
  const HGDIOBJ old =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(combo, WM_GETFONT, 0, 0)));
  for (const TPortListEntry& entry : entries) {
    SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.Name.c_str()));
    SIZE size{};
    GetTextExtentPoint32A(dc, entry.Name.c_str(), static_cast<int>(entry.Name.size()), &size);
    widest = std::max(widest, size.cx + 2 * GetSystemMetrics(SM_CXVSCROLL));
  }
  SelectObject(dc, old);
  ReleaseDC(combo, dc);
  SendMessageA(combo, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(widest), 0);
  SetText(combo, text);
}

inline COLORREF ToColorRef(TColor colour) {
  return static_cast<COLORREF>(colour & 0xFFFFFF);  // both are 0x00BBGGRR
}

// One control and its native window: how the window shows the control, and what the operator's
// actions on it mean.
struct TMainWindow::TBinding {
  const TLayoutItem& item;
  TControl& control;
  HWND window = nullptr;
  std::function<void()> refresh;
};

}  // namespace app::win32
