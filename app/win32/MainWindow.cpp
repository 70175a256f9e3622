// The Win32 window: the application's set-up, the window and its DPI, the loop and the messages.
#include "app/win32/MainWindow.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <stdexcept>
#include <utility>

#include "app/Edge.h"
#include "app/Layout.h"
#include "platform/Application.h"
#include "platform/MessageLoop.h"

// The system's headers come after the project's: their macros (SendMessage, DefWindowProc) would
// rename the message loop's functions in the project's headers.
#include <windows.h>
//
#include <commctrl.h>
#include <uxtheme.h>

#include "app/win32/MainWindowInternal.h"

namespace app::win32 {
namespace {

constexpr const char* kFormClass = "TMainForm";
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kWakeUpMessage = WM_APP + 1;
constexpr UINT kWmDpiChanged = 0x02E0;  // WM_DPICHANGED, from Windows 8.1
// The layout's lengths are pixels at this many per inch.
constexpr int kLayoutDpi = 96;
// Between a label and the next one on its row, when the first one's text pushes it along.
constexpr int kLabelGap = 4;
constexpr const char* kApplicationTitle = "Valtrex panel";

// Set while a wake-up is posted and not yet served, so that a busy worker posts one, not many.
std::atomic<bool> gWakeUpPosted{false};
std::atomic<HWND> gWakeUpWindow{nullptr};

TMainWindow* Owner(HWND window) {
  return reinterpret_cast<TMainWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

// Every window of the panel's own classes passes its messages to the window object; the sheets
// and the drawn controls thus report to the same place as the main window.
LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  if (TMainWindow* owner = Owner(window)) {
    return owner->Handle(window, message, wParam, static_cast<intptr_t>(lParam));
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void RegisterClasses() {
  static const bool registered = [] {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = PanelProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    wc.lpszClassName = kFormClass;
    RegisterClassExA(&wc);
    wc.hIcon = nullptr;
    wc.lpszClassName = kSheetClass;
    RegisterClassExA(&wc);
    wc.lpszClassName = kGraphicClass;
    RegisterClassExA(&wc);
    return true;
  }();
  (void)registered;
}

// The pixels per inch of the monitor the window is on. GetDpiForWindow (Windows 10 1607) is
// looked up at run time, so the program still starts on older systems; there the device
// context's, which is the system's, is the window's too.
unsigned WindowDpi(HWND window) {
  using TGetDpiForWindow = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow =
      reinterpret_cast<TGetDpiForWindow>(reinterpret_cast<void (*)()>(
          GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow) {
    if (const UINT dpi = getDpiForWindow(window)) return dpi;
  }
  const HDC dc = GetDC(window);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(window, dc);
  return dpi > 0 ? static_cast<unsigned>(dpi) : kLayoutDpi;
}

// 8 points, the face the layout was drawn for, at `dpi`.
HFONT MakeFont(unsigned dpi) {
  return CreateFontA(-MulDiv(11, static_cast<int>(dpi), kLayoutDpi), 0, 0, 0, FW_NORMAL, FALSE,
                     FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
}

void ShowErrorBox(std::exception_ptr error) {
  std::string text = "Unknown exception";
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
  }
  MessageBoxA(GetActiveWindow(), text.c_str(), kApplicationTitle, MB_OK | MB_ICONERROR);
}

// Any thread: a worker has queued a call for the main thread; have the loop serve the queue.
void WakeUpMainThread() {
  const HWND window = gWakeUpWindow.load();
  if (!window || gWakeUpPosted.exchange(true)) return;
  if (!PostMessageA(window, kWakeUpMessage, 0, 0)) gWakeUpPosted = false;
}

}  // namespace

void SetUpPanelApplication() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_TAB_CLASSES |
                                                     ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES |
                                                     ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  RegisterClasses();
  platform::SetExceptionHandler(ShowErrorBox);
  platform::SetMainThread();
  platform::SetWakeUpHook(WakeUpMainThread);
}

void TearDownPanelApplication() {
  platform::SetWakeUpHook({});
  platform::SetExceptionHandler({});
}

TMainWindow::TMainWindow(platform::ComDeviceOpener opener)
    : form_(std::make_unique<TMainForm>(std::move(opener))) {
  RegisterClasses();
  constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, kStyle, FALSE, WS_EX_CONTROLPARENT);
  window_ = CreateWindowExA(WS_EX_CONTROLPARENT, kFormClass, kFormCaption, kStyle, kFormLeft,
                            kFormTop, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                            nullptr, GetModuleHandleA(nullptr), this);
  if (!window_) throw std::runtime_error("the main window could not be created");
  gWakeUpWindow = H(window_);
  // The window was made for the layout's DPI; it takes the monitor's before its controls come.
  ApplyDpi(WindowDpi(H(window_)), nullptr);
  picture_ =
      LoadImageA(GetModuleHandleA(nullptr), "IMAGE1", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
  BuildWidgets();
  BuildFocusOrder();
  form_->OnCloseRequest = [this] { PostMessageA(H(window_), WM_CLOSE, 0, 0); };
  if (form_->Timer1.Enabled()) SetTimer(H(window_), kTimerId, form_->Timer1.Interval(), nullptr);
}

TMainWindow::~TMainWindow() {
  for (const auto& binding : bindings_) binding->control.OnViewChange = nullptr;
  form_->OnCloseRequest = nullptr;
  if (gWakeUpWindow.load() == H(window_)) gWakeUpWindow = nullptr;
  if (window_ && IsWindow(H(window_))) DestroyWindow(H(window_));
  // The controls are gone; then the form, whose CP closes the port.
  form_.reset();
  if (font_) DeleteObject(static_cast<HGDIOBJ>(font_));
  if (picture_) DeleteObject(static_cast<HGDIOBJ>(picture_));
}

int TMainWindow::Scale(int length) const {
  return MulDiv(length, static_cast<int>(dpi_), kLayoutDpi);
}

void TMainWindow::ApplyDpi(unsigned dpi, const void* suggestedRect) {
  dpi_ = dpi;
  const HGDIOBJ oldFont = static_cast<HGDIOBJ>(font_);
  font_ = MakeFont(dpi);
  const HWND window = H(window_);
  if (const auto* suggested = static_cast<const RECT*>(suggestedRect)) {
    SetWindowPos(window, nullptr, suggested->left, suggested->top,
                 suggested->right - suggested->left, suggested->bottom - suggested->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    // The frame around the client area as the system draws it at this DPI.
    RECT frame{}, client{};
    GetWindowRect(window, &frame);
    GetClientRect(window, &client);
    SetWindowPos(window, nullptr, Scale(kFormLeft), Scale(kFormTop),
                 Scale(kClientWidth) + (frame.right - frame.left) - client.right,
                 Scale(kClientHeight) + (frame.bottom - frame.top) - client.bottom,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // The controls (none yet when the window is being made) in the new font at their new places;
  // the page control first, whose tabs' height gives the sheets theirs.
  for (const TLayoutItem& item : MainFormLayout()) {
    const auto it = widgets_.find(item.name);
    if (it == widgets_.end()) continue;
    SendMessageA(H(it->second), WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    PlaceItem(item, it->second);
  }
  for (const TLayoutItem& item : MainFormLayout()) {
    if (item.kind == TControlKind::Label && widgets_.count(item.name)) PlaceLabelRow(item);
  }
  InvalidateRect(window, nullptr, TRUE);
  if (oldFont) DeleteObject(oldFont);
}

void TMainWindow::PlaceItem(const TLayoutItem& item, THandle native) const {
  int left = Scale(item.left), top = Scale(item.top);
  int width = Scale(item.width), height = Scale(item.height);
  switch (item.kind) {
    case TControlKind::Page: {
      // A sheet fills the page control's display area.
      const HWND pages = GetParent(H(native));
      RECT area{};
      GetClientRect(pages, &area);
      SendMessageA(pages, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
      left = area.left, top = area.top;
      width = area.right - area.left, height = area.bottom - area.top;
      break;
    }
    case TControlKind::ComboBox:
      // The list drops below the box; its height is the box's and the list's together.
      height = Scale(200);
      break;
    case TControlKind::Label:
      return;  // placed with its row, by its caption
    default:
      break;
  }
  SetWindowPos(H(native), nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TMainWindow::PlaceLabelRow(const TLayoutItem& label) const {
  std::vector<const TBinding*> row;
  for (const auto& binding : bindings_) {
    const TLayoutItem& item = binding->item;
    if (item.kind == TControlKind::Label && item.parent == label.parent && item.top == label.top) {
      row.push_back(binding.get());
    }
  }
  std::sort(row.begin(), row.end(),
            [](const TBinding* a, const TBinding* b) { return a->item.left < b->item.left; });
  // Measured in the font the label draws with, which need not be the face the layout was drawn
  // for: the system may give another of other widths.
  int next = 0;
  for (const TBinding* b : row) {
    const std::string& caption = dynamic_cast<const TLabel&>(b->control).Caption();
    const HDC dc = GetDC(b->window);
    const HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(b->window, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(b->window, dc);
    const int left = std::max(Scale(b->item.left), next);
    SetWindowPos(b->window, nullptr, left, Scale(b->item.top), size.cx,
                 std::max<int>(size.cy, Scale(13)), SWP_NOZORDER | SWP_NOACTIVATE);
    next = left + size.cx + Scale(kLabelGap);
  }
}

THandle TMainWindow::Widget(const std::string& name) const {
  const auto it = widgets_.find(name);
  return it == widgets_.end() ? nullptr : it->second;
}

void TMainWindow::Show() {
  ShowWindow(H(window_), SW_SHOWNORMAL);
  UpdateWindow(H(window_));
  // The window opens with the focus on the first control of its tab order.
  if (!focusOrder_.empty()) SetFocus(H(focusOrder_.front()));
}

bool TMainWindow::Dispatch(void* raw) {
  MSG& message = *static_cast<MSG*>(raw);
  const HWND focus = GetFocus();
  const bool ours =
      window_ && message.hwnd && (message.hwnd == H(window_) || IsChild(H(window_), message.hwnd));
  // Tab and Shift+Tab follow the window's focus order, which stops on the page control too (the
  // dialog manager would pass over it into its pages); Ctrl+Tab and Ctrl+Shift+Tab turn the
  // pages from wherever the focus is.
  if (ours && message.message == WM_KEYDOWN && message.wParam == VK_TAB) {
    const int step = GetKeyState(VK_SHIFT) < 0 ? -1 : 1;
    if (GetKeyState(VK_CONTROL) < 0) {
      StepPage(step);
    } else {
      StepFocus(step);
    }
    return true;
  }
  // Enter presses the focused push button, as Space does; a held key presses it once.
  if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN && focus) {
    char cls[16] = {};
    GetClassNameA(focus, cls, sizeof cls);
    if (lstrcmpiA(cls, "BUTTON") == 0) {
      if ((message.lParam & (1 << 30)) == 0) SendMessageA(focus, BM_CLICK, 0, 0);
      return true;
    }
  }
  if (window_ && IsDialogMessageA(H(window_), &message)) return true;
  TranslateMessage(&message);
  DispatchMessageA(&message);
  return true;
}

void TMainWindow::Run() {
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) Dispatch(&message);
}

bool TMainWindow::ProcessPending() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) return false;
    Dispatch(&message);
  }
  return window_ && IsWindow(H(window_));
}

intptr_t TMainWindow::Handle(THandle target, unsigned message, uintptr_t wParam, intptr_t lParam) {
  const HWND window = H(target);
  const auto bindingOf = [this](HWND native) -> TBinding* {
    const auto it = byHandle_.find(native);
    return it == byHandle_.end() ? nullptr : it->second;
  };
  switch (message) {
    case WM_HSCROLL:
      // Every notification of a move, the end of a drag or a key at an end included, runs the
      // slider's handler; the control decides what it means.
      if (TBinding* b = bindingOf(reinterpret_cast<HWND>(lParam))) {
        const auto position = static_cast<int32_t>(SendMessageA(b->window, TBM_GETPOS, 0, 0));
        AtEdge([&] { dynamic_cast<TTrackBar&>(b->control).OperatorNotify(position); });
      }
      return 0;
    case WM_COMMAND:
      if (TBinding* b = bindingOf(reinterpret_cast<HWND>(lParam))) {
        const unsigned code = HIWORD(wParam);
        if (b->item.kind == TControlKind::Button && code == BN_CLICKED) {
          AtEdge([&] { dynamic_cast<TButton&>(b->control).Click(); });
        } else if (b->item.kind == TControlKind::ComboBox && code == CBN_EDITCHANGE) {
          AtEdge([&] { dynamic_cast<TComboBox&>(b->control).OperatorText(WindowText(b->window)); });
        } else if (b->item.kind == TControlKind::ComboBox && code == CBN_DROPDOWN) {
          // Read as the list opens, never on a timer: an adapter plugged in since is there.
          AtEdge([&] {
            ShowPortList(b->window, ReadPortList(dynamic_cast<TComboBox&>(b->control).Items()));
          });
        } else if (b->item.kind == TControlKind::ComboBox && code == CBN_SELCHANGE) {
          const auto index = SendMessageA(b->window, CB_GETCURSEL, 0, 0);
          if (index != CB_ERR) {
            std::string text(
                static_cast<size_t>(SendMessageA(b->window, CB_GETLBTEXTLEN, index, 0)) + 1, '\0');
            text.resize(static_cast<size_t>(SendMessageA(b->window, CB_GETLBTEXT, index,
                                                         reinterpret_cast<LPARAM>(text.data()))));
            AtEdge([&] { dynamic_cast<TComboBox&>(b->control).OperatorText(text); });
          }
        }
      }
      return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->code == static_cast<UINT>(TCN_SELCHANGE)) {
        if (TBinding* b = bindingOf(header->hwndFrom)) {
          SelectPage(static_cast<int>(SendMessageA(b->window, TCM_GETCURSEL, 0, 0)));
        }
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      // Labels and trackbars take the face of the window or sheet they stand on.
      const HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      return reinterpret_cast<intptr_t>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_PAINT: {
      TBinding* b = bindingOf(window);
      if (!b) break;
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(window, &paint);
      RECT box;
      GetClientRect(window, &box);
      if (b->item.kind == TControlKind::Shape) {
        const auto& shape = dynamic_cast<const TShape&>(b->control);
        const HPEN pen =
            CreatePen(PS_INSIDEFRAME, Scale(shape.PenWidth()), ToColorRef(shape.PenColor()));
        const HBRUSH brush = CreateSolidBrush(ToColorRef(shape.BrushColor()));
        const HGDIOBJ oldPen = SelectObject(dc, pen);
        const HGDIOBJ oldBrush = SelectObject(dc, brush);
        const int corner = std::min(box.right, box.bottom) / 4;
        RoundRect(dc, 0, 0, box.right, box.bottom, corner, corner);
        SelectObject(dc, oldPen);
        SelectObject(dc, oldBrush);
        DeleteObject(pen);
        DeleteObject(brush);
      } else if (picture_) {
        // At the top left, at the window's DPI; the rest of the control stays background.
        const HDC source = CreateCompatibleDC(dc);
        const HGDIOBJ old = SelectObject(source, static_cast<HGDIOBJ>(picture_));
        BITMAP bitmap{};
        GetObjectA(static_cast<HGDIOBJ>(picture_), sizeof bitmap, &bitmap);
        if (dpi_ == kLayoutDpi) {
          BitBlt(dc, 0, 0, bitmap.bmWidth, bitmap.bmHeight, source, 0, 0, SRCCOPY);
        } else {
          SetStretchBltMode(dc, HALFTONE);
          StretchBlt(dc, 0, 0, Scale(bitmap.bmWidth), Scale(bitmap.bmHeight), source, 0, 0,
                     bitmap.bmWidth, bitmap.bmHeight, SRCCOPY);
        }
        SelectObject(source, old);
        DeleteDC(source);
      }
      EndPaint(window, &paint);
      return 0;
    }
    case kWmDpiChanged:
      // Moved to a monitor of another DPI (a window aware of each monitor's is not scaled by
      // the system): drawn again at the new one, in the rectangle the system suggests.
      if (window == H(window_)) {
        ApplyDpi(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
      }
      break;
    case WM_TIMER:
      if (window == H(window_) && wParam == kTimerId) AtEdge([&] { form_->Timer1.Tick(); });
      return 0;
    case kWakeUpMessage:
      gWakeUpPosted = false;
      AtEdge([] { platform::ProcessMessages(); });
      return 0;
    case WM_CLOSE:
      if (window == H(window_)) {
        KillTimer(window, kTimerId);
        DestroyWindow(window);
        return 0;
      }
      break;
    case WM_DESTROY:
      if (window == H(window_)) {
        // The controls' windows go with this one: nothing may draw into them any more.
        for (const auto& binding : bindings_) binding->control.OnViewChange = nullptr;
        if (gWakeUpWindow.load() == window) gWakeUpWindow = nullptr;
        window_ = nullptr;
        PostQuitMessage(0);
      }
      byHandle_.erase(window);
      return 0;
    default:
      break;
  }
  return static_cast<intptr_t>(
      DefWindowProcA(window, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)));
}

}  // namespace app::win32
