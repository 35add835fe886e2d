#include "toolkit/win32/WindowPeer.h"

#include <commctrl.h>

#include <algorithm>

#include "toolkit/win32/Text.h"
#include "toolkit/win32/Win32Host.h"

namespace kw::win32 {

using vcl::TControl;
using vcl::TForm;

namespace {
constexpr wchar_t kControlProperty[] = L"KeywardenControl";
}  // namespace

TControl* ControlOf(HWND window) {
  return static_cast<TControl*>(::GetPropW(window, kControlProperty));
}

TControl* OwnControlOf(HWND window) {
  return reinterpret_cast<TControl*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

TWindowPeer::TWindowPeer(TControl& control, HWND window) : Control(control), Window(window) {
  ::SetPropW(Window, kControlProperty, &Control);
  ::SetWindowLongPtrW(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&Control));
}

TWindowPeer::~TWindowPeer() {
  ::SetWindowLongPtrW(Window, GWLP_USERDATA, 0);
  ::RemovePropW(Window, kControlProperty);
  ::RemovePropW(Window, kTooltipProperty);  // a form's; none elsewhere
  ::DestroyWindow(Window);
}

void TWindowPeer::SetText(const std::string& ansiText) {
  // Unchanged text is left alone: every change costs a repaint.
  const std::wstring text = ToWide(ansiText);
  if (text == WindowTextOf(Window)) return;
  ::SetWindowTextW(Window, text.c_str());
  if (Control.InheritsFrom("TTabSheet")) UpdateTabCaption(ansiText);
  if (IsGraphic(Control)) Refresh();
}

std::string TWindowPeer::Text() const {
  return ToAnsi(WindowTextOf(Window));
}

void TWindowPeer::BringToFront() {
  if (AlreadyInFront()) return;
  ::SetWindowPos(Window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  TWin32Host::Current().KeepBoxesInFront();
}

void TWindowPeer::SetBounds(int left, int top, int width, int height) {
  ::SetWindowPos(Window, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWindowPeer::MakeTopmost() {
  ::SetWindowPos(Window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
}

void TWindowPeer::UpdateTabCaption(const std::string& text) {
  HWND pages = ::GetParent(Window);
  std::wstring wide = ToWide(text);
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = wide.data();
  ::SendMessageW(pages, TCM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

// Nothing visible above but the window's own popups (a message box it owns).
bool TWindowPeer::AlreadyInFront() const {
  for (HWND above = ::GetWindow(Window, GW_HWNDPREV); above;
       above = ::GetWindow(above, GW_HWNDPREV)) {
    if (::IsWindowVisible(above) && !IsOwnedBy(above)) return false;
  }
  return true;
}

bool TWindowPeer::IsOwnedBy(HWND window) const {
  for (HWND owner = ::GetWindow(window, GW_OWNER); owner; owner = ::GetWindow(owner, GW_OWNER)) {
    if (owner == Window) return true;
  }
  return false;
}

HWND HandleOf(const TControl* control) {
  return control && control->Peer() ? static_cast<TWindowPeer*>(control->Peer())->Handle()
                                    : nullptr;
}

void TWindowPeer::Centre() {
  RECT frame;
  ::GetWindowRect(Window, &frame);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  const int deskLeft = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int deskTop = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
  const int deskWidth = ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int deskHeight = ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
  const int left = std::max(deskLeft, deskLeft + deskWidth / 2 - width / 2);
  const int top = std::max(deskTop, deskTop + deskHeight / 2 - height / 2);
  ::SetWindowPos(Window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWindowPeer::SetVisible(bool visible) {
  if (!Control.InheritsFrom("TForm")) {
    // A control already so is left alone: showing it again is a trip to the
    // window server for nothing.
    if ((::IsWindowVisible(Window) != FALSE) == visible) return;
    ::ShowWindow(Window, visible ? SW_SHOW : SW_HIDE);
    return;
  }
  if (visible && !Centred && static_cast<TForm&>(Control).CentreOnFirstShow) {
    Centre();
    Centred = true;
  }
  ::ShowWindow(Window, visible ? SW_SHOWNORMAL : SW_HIDE);
  if (visible) TWin32Host::Current().KeepBoxesInFront();
}

void TWindowPeer::Refresh() {
  if (Control.InheritsFrom("TCheckBox") || Control.InheritsFrom("TRadioButton")) {
    const bool checked = Control.InheritsFrom("TCheckBox")
                             ? static_cast<vcl::TCheckBox&>(Control).Checked()
                             : static_cast<vcl::TRadioButton&>(Control).Checked();
    ::SendMessageW(Window, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    return;
  }
  if (Control.InheritsFrom("TsLabelFX")) {  // follows its text
    HDC dc = ::GetDC(Window);
    HGDIOBJ old = ::SelectObject(dc, TWin32Host::Current().FontFor(Control.Font));
    const std::wstring text = WindowTextOf(Window);
    SIZE extent{0, 0};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    ::SelectObject(dc, old);
    ::ReleaseDC(Window, dc);
    Control.Width = extent.cx;
  }
  // Graphic controls share one scene: repaint everything under the old and new areas.
  HWND parent = ::GetParent(Window);
  RECT area;
  ::GetWindowRect(Window, &area);
  ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&area), 2);
  const RECT bounds{Control.Left, Control.Top, Control.Left + std::max(Control.Width, 1),
                    Control.Top + Control.Height};
  // Moving a window to where it is costs a round of position messages for
  // nothing. A move neither redraws nor asks first: the redraw below covers
  // both areas, and nothing here vetoes a move.
  if (!::EqualRect(&area, &bounds)) {
    ::SetWindowPos(Window, nullptr, bounds.left, bounds.top, bounds.right - bounds.left,
                   bounds.bottom - bounds.top,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW | SWP_NOCOPYBITS |
                       SWP_NOSENDCHANGING | SWP_DEFERERASE);
  }
  ::UnionRect(&area, &area, &bounds);
  ::RedrawWindow(parent, &area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

}  // namespace kw::win32
