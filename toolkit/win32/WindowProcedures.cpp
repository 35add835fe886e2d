#include "toolkit/win32/WindowProcedures.h"

#include <commctrl.h>

#include <map>

#include "toolkit/win32/HandlerDepth.h"
#include "toolkit/win32/Pictures.h"
#include "toolkit/win32/Text.h"
#include "toolkit/win32/Win32Host.h"
#include "toolkit/win32/WindowPeer.h"

namespace kw::win32 {

using vcl::TControl;
using vcl::TForm;

namespace {

// Where a mouse message to `window` happened, in its parent's client area.
POINT InParent(HWND window, LPARAM lParam) {
  POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  ::MapWindowPoints(window, ::GetParent(window), &at, 1);
  return at;
}

// A system control class made ours under the toolkit's class name.
struct TSuperclass {
  const wchar_t* Base;
  WNDPROC BaseProc = nullptr;
};
std::map<std::wstring, TSuperclass>& Superclasses() {
  static std::map<std::wstring, TSuperclass> classes;
  return classes;
}

// Paints the graphic controls of `parent` that meet `self`, in their order,
// as seen through `self`'s window: later ones on top.
void PaintScene(HWND window, TControl& self) {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(window, &ps);
  ::FillRect(dc, &ps.rcPaint, ::GetSysColorBrush(COLOR_BTNFACE));
  for (TControl* other : self.Parent()->Controls()) {
    if (!IsGraphic(*other) || !other->Visible()) continue;
    const int x = other->Left - self.Left, y = other->Top - self.Top;
    if (other->InheritsFrom("TImage")) {
      if (auto* picture =
              static_cast<const TWin32Picture*>(static_cast<vcl::TImage*>(other)->Picture())) {
        picture->Draw(dc, x, y);
      }
    } else {
      HGDIOBJ old = ::SelectObject(dc, TWin32Host::Current().FontFor(other->Font));
      ::SetBkMode(dc, TRANSPARENT);
      ::SetTextColor(dc, RGB(0, 0, 0));
      const std::wstring text = ToWide(other->Text());
      ::TextOutW(dc, x, y, text.c_str(), static_cast<int>(text.size()));
      ::SelectObject(dc, old);
    }
  }
  ::EndPaint(window, &ps);
}

// A tooltip asks for the hint of the control it is about to show over: the
// hint as it is now. An empty hint shows nothing.
void ShowHint(NMTTDISPINFOW& info) {
  static std::wstring hint;  // read by the tooltip before the next request
  const TControl* control = ControlOf(reinterpret_cast<HWND>(info.hdr.idFrom));
  hint = control ? ToWide(control->Hint) : std::wstring();
  info.lpszText = hint.data();
}

LRESULT HandleOwn(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  handled = true;
  TControl* control = OwnControlOf(window);
  if (!control) {
    handled = false;
    return 0;
  }
  if (control->InheritsFrom("TForm")) {
    auto& form = static_cast<TForm&>(*control);
    if (form.HandleMessage(message, wParam, static_cast<std::intptr_t>(lParam))) return 0;
    switch (message) {
      case WM_CLOSE:
        form.Close();
        return 0;
      case WM_QUERYENDSESSION:
        return TRUE;
    }
  }
  switch (message) {
    case WM_NOTIFY:
      if (reinterpret_cast<const NMHDR*>(lParam)->code == TTN_GETDISPINFOW) {
        ShowHint(*reinterpret_cast<NMTTDISPINFOW*>(lParam));
        return 0;
      }
      break;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && lParam) {
        if (TControl* child = ControlOf(reinterpret_cast<HWND>(lParam))) child->Click();
        return 0;
      }
      break;
    case WM_PAINT:
      if (IsGraphic(*control)) {
        PaintScene(window, *control);
        return 0;
      }
      break;
    case WM_ERASEBKGND:
      if (IsGraphic(*control)) return 1;
      break;
    // Graphic controls overlap: their parent tells which one drawn on top
    // was pressed and released. The capture brings the release back here
    // wherever it happens.
    case WM_LBUTTONDOWN:
      if (IsGraphic(*control)) {
        const POINT at = InParent(window, lParam);
        control->Parent()->GraphicMouseDown(at.x, at.y);
        ::SetCapture(window);
        return 0;
      }
      break;
    case WM_LBUTTONUP:
      if (IsGraphic(*control)) {
        const POINT at = InParent(window, lParam);
        if (::GetCapture() == window) ::ReleaseCapture();
        control->Parent()->GraphicMouseUp(at.x, at.y);
        return 0;
      }
      break;
    case WM_SETCURSOR:
      if (control->Cursor == vcl::TCursor::HandPoint) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
  }
  handled = false;
  return 0;
}

// An edit's mouse messages, handed to its form's tooltip so that it shows
// the edit's hint over it.
void RelayToTooltip(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message < WM_MOUSEFIRST || message > WM_MOUSELAST) return;
  HWND tips = static_cast<HWND>(::GetPropW(::GetAncestor(window, GA_ROOT), kTooltipProperty));
  if (!tips) return;
  MSG relayed{window, message, wParam, lParam, 0, {}};
  ::SendMessageW(tips, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
}

}  // namespace

LRESULT CALLBACK OwnProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const THandlerScope scope;
  try {
    bool handled = false;
    const LRESULT result = HandleOwn(window, message, wParam, lParam, handled);
    if (handled) return result;
  } catch (...) {
    TWin32Host::Current().Report(std::current_exception());
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const THandlerScope scope;  // the system control's own procedure included
  RelayToTooltip(window, message, wParam, lParam);
  wchar_t name[64];
  ::GetClassNameW(window, name, 64);
  const WNDPROC base = Superclasses()[name].BaseProc;
  try {
    TControl* control = OwnControlOf(window);
    if (control && message == WM_ERASEBKGND && control->InheritsFrom("TGroupBox")) {
      // A group box paints only its frame and caption: its inside is the dialog's face.
      RECT inside;
      ::GetClientRect(window, &inside);
      ::FillRect(reinterpret_cast<HDC>(wParam), &inside, ::GetSysColorBrush(COLOR_BTNFACE));
      return 1;
    }
    // The cursor, and the clicks of children (a group box's check boxes).
    if (control && (message == WM_SETCURSOR || message == WM_COMMAND)) {
      bool handled = false;
      const LRESULT result = HandleOwn(window, message, wParam, lParam, handled);
      if (handled) return result;
    }
  } catch (...) {
    TWin32Host::Current().Report(std::current_exception());
    return 0;
  }
  return ::CallWindowProcW(base, window, message, wParam, lParam);
}

std::wstring ClassNameOf(const TControl& c) {
  return ToWide(c.ClassName());
}

void TWin32Host::RegisterClasses() {
  WNDCLASSW app{};
  app.lpfnWndProc = &TWin32Host::AppWindowProc;
  app.hInstance = Instance;
  app.lpszClassName = L"TApplication";
  app.hIcon = ::LoadIconW(Instance, L"MAINICON");
  ::RegisterClassW(&app);

  for (const wchar_t* own : {L"TTabSheet", L"TImage", L"TsLabelFX"}) RegisterOwnClass(own, nullptr);
  const std::pair<const wchar_t*, const wchar_t*> supers[] = {
      {L"TEdit", L"EDIT"},          {L"TButton", L"BUTTON"},          {L"TCheckBox", L"BUTTON"},
      {L"TRadioButton", L"BUTTON"}, {L"TGroupBox", L"BUTTON"},        {L"TComboBox", L"COMBOBOX"},
      {L"TListBox", L"LISTBOX"},    {L"TPageControl", WC_TABCONTROLW}};
  for (auto [name, base] : supers) {
    WNDCLASSW wc{};
    if (!::GetClassInfoW(nullptr, base, &wc)) continue;
    Superclasses()[name] = {base, wc.lpfnWndProc};
    wc.lpfnWndProc = ControlProc;
    wc.hInstance = Instance;
    wc.lpszClassName = name;
    ::RegisterClassW(&wc);
  }
}

// A window class of the toolkit's own, on the button face.
void TWin32Host::RegisterOwnClass(const wchar_t* name, HICON icon) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = OwnProc;
  wc.hInstance = Instance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
  wc.hIcon = icon;
  wc.lpszClassName = name;
  ::RegisterClassW(&wc);
}

}  // namespace kw::win32
