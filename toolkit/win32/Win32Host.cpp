#include "toolkit/win32/Win32Host.h"

#include <commctrl.h>

#include <algorithm>
#include <set>

#include "toolkit/win32/Pictures.h"
#include "toolkit/win32/Text.h"

namespace kw::win32 {

using vcl::TControl;
using vcl::TForm;

namespace {

constexpr wchar_t kControlProperty[] = L"KeywardenControl";
constexpr int kFirstControlId = 100;  // clear of IDOK and IDCANCEL
TWin32Host* GHost = nullptr;

// The control of any window: null for a window the toolkit did not make.
TControl* ControlOf(HWND window) {
  return static_cast<TControl*>(::GetPropW(window, kControlProperty));
}

// The control of a window of the toolkit's own classes, which keep it in
// their user data as well: a property is a trip to the window server under
// Wine, and the window procedures ask for it on every message.
TControl* OwnControlOf(HWND window) {
  return reinterpret_cast<TControl*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

bool IsGraphic(const TControl& c) {
  return vcl::IsGraphicControl(c);
}

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

LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

class TWindowPeer : public vcl::IControlPeer {
 public:
  TWindowPeer(TControl& control, HWND window) : Control(control), Window(window) {
    ::SetPropW(Window, kControlProperty, &Control);
    ::SetWindowLongPtrW(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&Control));
  }
  ~TWindowPeer() override {
    ::SetWindowLongPtrW(Window, GWLP_USERDATA, 0);
    ::RemovePropW(Window, kControlProperty);
    ::DestroyWindow(Window);
  }
  void SetText(const std::string& ansiText) override {
    // Unchanged text is left alone: every change costs a repaint.
    const std::wstring text = ToWide(ansiText);
    if (text == WindowTextOf(Window)) return;
    ::SetWindowTextW(Window, text.c_str());
    if (Control.InheritsFrom("TTabSheet")) UpdateTabCaption(ansiText);
    if (IsGraphic(Control)) Refresh();
  }
  std::string Text() const override { return ToAnsi(WindowTextOf(Window)); }
  void SetVisible(bool visible) override;
  void BringToFront() override {
    if (AlreadyInFront()) return;
    ::SetWindowPos(Window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    GHost->KeepBoxesInFront();
  }
  void Refresh() override;
  void SetBounds(int left, int top, int width, int height) override {
    ::SetWindowPos(Window, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  void MakeTopmost() override {
    ::SetWindowPos(Window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
  }

  HWND Handle() const { return Window; }
  std::uintptr_t NativeHandle() const override { return reinterpret_cast<std::uintptr_t>(Window); }

 private:
  void UpdateTabCaption(const std::string& text) {
    HWND pages = ::GetParent(Window);
    std::wstring wide = ToWide(text);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = wide.data();
    ::SendMessageW(pages, TCM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
  void Centre();
  // Nothing visible above but the window's own popups (a message box it owns).
  bool AlreadyInFront() const {
    for (HWND above = ::GetWindow(Window, GW_HWNDPREV); above;
         above = ::GetWindow(above, GW_HWNDPREV)) {
      if (::IsWindowVisible(above) && !IsOwnedBy(above)) return false;
    }
    return true;
  }
  bool IsOwnedBy(HWND window) const {
    for (HWND owner = ::GetWindow(window, GW_OWNER); owner; owner = ::GetWindow(owner, GW_OWNER)) {
      if (owner == Window) return true;
    }
    return false;
  }

  TControl& Control;
  HWND Window;
  bool Centred = false;
};

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
    ::ShowWindow(Window, visible ? SW_SHOW : SW_HIDE);
    return;
  }
  if (visible && !Centred && static_cast<TForm&>(Control).CentreOnFirstShow) {
    Centre();
    Centred = true;
  }
  ::ShowWindow(Window, visible ? SW_SHOWNORMAL : SW_HIDE);
  if (visible) GHost->KeepBoxesInFront();
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
    HGDIOBJ old = ::SelectObject(dc, GHost->FontFor(Control.Font));
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
  // Moving a window to where it is costs a round of position messages for nothing.
  if (!::EqualRect(&area, &bounds)) {
    ::SetWindowPos(Window, nullptr, bounds.left, bounds.top, bounds.right - bounds.left,
                   bounds.bottom - bounds.top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ::UnionRect(&area, &area, &bounds);
  ::RedrawWindow(parent, &area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
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
      HGDIOBJ old = ::SelectObject(dc, GHost->FontFor(other->Font));
      ::SetBkMode(dc, TRANSPARENT);
      ::SetTextColor(dc, RGB(0, 0, 0));
      const std::wstring text = ToWide(other->Text());
      ::TextOutW(dc, x, y, text.c_str(), static_cast<int>(text.size()));
      ::SelectObject(dc, old);
    }
  }
  ::EndPaint(window, &ps);
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

LRESULT CALLBACK OwnProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    bool handled = false;
    const LRESULT result = HandleOwn(window, message, wParam, lParam, handled);
    if (handled) return result;
  } catch (...) {
    GHost->Report(std::current_exception());
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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
    GHost->Report(std::current_exception());
    return 0;
  }
  return ::CallWindowProcW(base, window, message, wParam, lParam);
}

std::wstring ClassNameOf(const TControl& c) {
  return ToWide(c.ClassName());
}

bool IsMessageBoxClass(HWND window) {
  wchar_t name[16];
  return ::GetClassNameW(window, name, 16) && std::wstring(name) == L"#32770";
}

// Every enabled top-level window of this thread, but the box's owner (the
// box disables that one itself), disabled while a message box is open, as a
// task-modal box does.
class TThreadWindowsDisabled {
 public:
  explicit TThreadWindowsDisabled(HWND owner) : Owner(owner) {
    ::EnumThreadWindows(::GetCurrentThreadId(), &Collect, reinterpret_cast<LPARAM>(this));
    for (HWND window : Disabled) ::EnableWindow(window, FALSE);
  }
  ~TThreadWindowsDisabled() {
    for (HWND window : Disabled) {
      if (::IsWindow(window)) ::EnableWindow(window, TRUE);
    }
  }
  TThreadWindowsDisabled(const TThreadWindowsDisabled&) = delete;
  TThreadWindowsDisabled& operator=(const TThreadWindowsDisabled&) = delete;

 private:
  static BOOL CALLBACK Collect(HWND window, LPARAM self) {
    auto& disabler = *reinterpret_cast<TThreadWindowsDisabled*>(self);
    if (window != disabler.Owner && ::IsWindowEnabled(window)) disabler.Disabled.push_back(window);
    return TRUE;
  }
  HWND Owner;
  std::vector<HWND> Disabled;
};

// A message box's button reads "确定" on every display language, as all the
// program's other texts do: the system would label it in its own language.
void LabelMessageBoxButton(HWND box) {
  // A message box: a dialog with its text in the static of id 0xFFFF.
  if (IsMessageBoxClass(box) && ::GetDlgItem(box, 0xFFFF)) {
    if (HWND ok = ::GetDlgItem(box, IDOK)) ::SetWindowTextW(ok, L"确定");
  }
}

// The box is known by its creation, not its activation: a box of a program
// in the background may never be activated. Its buttons exist only once it
// is about to be activated.
LRESULT CALLBACK WatchBox(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && GHost) GHost->WindowCreated(reinterpret_cast<HWND>(wParam));
  if (code == HCBT_ACTIVATE) LabelMessageBoxButton(reinterpret_cast<HWND>(wParam));
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// While installed: learns which window is the message box being opened, and labels its button.
class TBoxWatch {
 public:
  explicit TBoxWatch(std::vector<HWND>& openBoxes) : OpenBoxes(openBoxes) {
    OpenBoxes.push_back(nullptr);
    Hook = ::SetWindowsHookExW(WH_CBT, &WatchBox, nullptr, ::GetCurrentThreadId());
  }
  ~TBoxWatch() {
    if (Hook) ::UnhookWindowsHookEx(Hook);
    OpenBoxes.pop_back();
  }
  TBoxWatch(const TBoxWatch&) = delete;
  TBoxWatch& operator=(const TBoxWatch&) = delete;

 private:
  std::vector<HWND>& OpenBoxes;
  HHOOK Hook = nullptr;
};

}  // namespace

TWin32Host::TWin32Host(HINSTANCE instance) : Instance(instance) {
  GHost = this;
  INITCOMMONCONTROLSEX init{sizeof init,
                            ICC_TAB_CLASSES | ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&init);
  RegisterClasses();
  AppWindow = ::CreateWindowExW(0, L"TApplication", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                Instance, nullptr);
  FormOwner = AppWindow;
}

TWin32Host::~TWin32Host() {
  if (AppWindow) ::DestroyWindow(AppWindow);
  for (auto& [key, font] : Fonts) ::DeleteObject(font);
  GHost = nullptr;
}

TWin32Host& TWin32Host::Current() {
  return *GHost;
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

HFONT TWin32Host::FontFor(const vcl::TFont& font) {
  const auto key = std::make_tuple(font.Name, font.Height, font.Bold, font.Underline, font.Charset);
  auto it = Fonts.find(key);
  if (it != Fonts.end()) return it->second;
  HFONT handle =
      ::CreateFontW(-font.Height, 0, 0, 0, font.Bold ? FW_BOLD : FW_NORMAL, FALSE, font.Underline,
                    FALSE, static_cast<BYTE>(font.Charset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                    DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, ToWide(font.Name).c_str());
  Fonts.emplace(key, handle);
  return handle;
}

std::unique_ptr<vcl::IControlPeer> TWin32Host::CreatePeer(TControl& control) {
  const std::wstring text = ToWide(control.Text());
  if (control.InheritsFrom("TForm")) {
    auto& form = static_cast<TForm&>(control);
    const std::wstring className = ClassNameOf(form);
    WNDCLASSW known{};
    if (!::GetClassInfoW(Instance, className.c_str(), &known)) {
      RegisterOwnClass(className.c_str(), ::LoadIconW(Instance, L"MAINICON"));
    }
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    RECT frame{0, 0, form.ClientWidth, form.ClientHeight};
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    HWND window = ::CreateWindowExW(exStyle, className.c_str(), text.c_str(), style, form.Left,
                                    form.Top, frame.right - frame.left, frame.bottom - frame.top,
                                    FormOwner, nullptr, Instance, nullptr);
    ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(form.Font)), FALSE);
    return std::make_unique<TWindowPeer>(control, window);
  }

  HWND parent = HandleOf(control.Parent());
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (control.Visible() ? WS_VISIBLE : 0);
  DWORD exStyle = 0;
  int left = control.Left, top = control.Top, width = control.Width, height = control.Height;
  if (control.TabOrder >= 0) style |= WS_TABSTOP;
  if (control.InheritsFrom("TEdit")) {
    style |= ES_AUTOHSCROLL;
    exStyle |= WS_EX_CLIENTEDGE;
  } else if (control.InheritsFrom("TButton")) {
    style |= BS_PUSHBUTTON;
  } else if (control.InheritsFrom("TCheckBox")) {
    style |= BS_CHECKBOX;
  } else if (control.InheritsFrom("TRadioButton")) {
    style |= BS_RADIOBUTTON;
  } else if (control.InheritsFrom("TGroupBox")) {
    style |= BS_GROUPBOX;
    exStyle |= WS_EX_CONTROLPARENT;
  } else if (control.InheritsFrom("TComboBox")) {
    style |= CBS_DROPDOWNLIST | WS_VSCROLL;
  } else if (control.InheritsFrom("TListBox")) {
    style |= WS_VSCROLL | LBS_NOTIFY;
    exStyle |= WS_EX_CLIENTEDGE;
  } else if (control.InheritsFrom("TPageControl")) {
    style |= WS_CLIPCHILDREN;
  } else if (control.InheritsFrom("TTabSheet")) {
    style |= WS_CLIPCHILDREN;
    exStyle |= WS_EX_CONTROLPARENT;
    std::wstring caption = text;
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = caption.data();
    ::SendMessageW(parent, TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    RECT display;
    ::GetClientRect(parent, &display);
    ::SendMessageW(parent, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    left = display.left;
    top = display.top;
    width = display.right - display.left;
    height = display.bottom - display.top;
    control.Left = left, control.Top = top, control.Width = width, control.Height = height;
  }
  std::wstring windowText = text;
  if (control.InheritsFrom("TImage")) windowText = ToWide(control.Hint);
  const int id =
      kFirstControlId + static_cast<int>(std::find(control.Owner()->Components().begin(),
                                                   control.Owner()->Components().end(), &control) -
                                         control.Owner()->Components().begin());
  HWND window =
      ::CreateWindowExW(exStyle, ClassNameOf(control).c_str(), windowText.c_str(), style, left, top,
                        std::max(width, 1), height, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance, nullptr);
  ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(control.Font)), FALSE);
  auto peer = std::make_unique<TWindowPeer>(control, window);
  if (control.InheritsFrom("TsLabelFX") || control.InheritsFrom("TCheckBox") ||
      control.InheritsFrom("TRadioButton")) {
    peer->Refresh();
  }
  return peer;
}

void TWin32Host::ControlsCreated(TControl& formControl) {
  auto& form = static_cast<TForm&>(formControl);
  HWND formWindow = HandleOf(&form);
  // Tab order is window order: stops first, in TabOrder, per parent.
  std::set<const vcl::TWinControl*> parents;
  for (vcl::TComponent* c : form.Components()) {
    if (auto* control = dynamic_cast<TControl*>(c)) parents.insert(control->Parent());
  }
  for (const vcl::TWinControl* parent : parents) {
    std::vector<TControl*> stops;
    for (TControl* child : parent->Controls()) {
      if (child->TabOrder >= 0) stops.push_back(child);
    }
    std::stable_sort(stops.begin(), stops.end(),
                     [](TControl* a, TControl* b) { return a->TabOrder < b->TabOrder; });
    HWND after = HWND_TOP;
    for (TControl* stop : stops) {
      ::SetWindowPos(HandleOf(stop), after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      after = HandleOf(stop);
    }
  }
  // Graphic controls' windows stacked as they are drawn, the last on top, so
  // that the cursor and the hint over a spot are those of the picture seen there.
  for (const vcl::TWinControl* parent : parents) {
    for (TControl* child : parent->Controls()) {
      if (IsGraphic(*child)) {
        ::SetWindowPos(HandleOf(child), HWND_TOP, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      }
    }
  }
  // Hints as tooltips.
  HWND tips = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                formWindow, nullptr, Instance, nullptr);
  for (vcl::TComponent* c : form.Components()) {
    auto* control = dynamic_cast<TControl*>(c);
    if (!control || control->Hint.empty() || !control->Peer()) continue;
    std::wstring hint = ToWide(control->Hint);
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = formWindow;
    tool.uId = reinterpret_cast<UINT_PTR>(HandleOf(control));
    tool.lpszText = hint.data();
    ::SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

std::unique_ptr<vcl::IPicture> TWin32Host::LoadPicture(const std::string& resourceName) {
  return LoadBitmapPicture(resourceName);
}

void TWin32Host::Run(const std::function<void(std::exception_ptr)>& onError) {
  OnError = onError;
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    HWND active = ::GetActiveWindow();
    if (active && ::IsDialogMessageW(active, &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

void TWin32Host::Terminate() {
  ::PostQuitMessage(0);
}

void TWin32Host::ShowMessage(std::uintptr_t ownerWindow, const std::string& text) {
  HWND owner = ownerWindow ? reinterpret_cast<HWND>(ownerWindow) : ::GetActiveWindow();
  ProgramMessageBox(owner, ToWide(text), ToWide(vcl::Application().Title()), MB_OK);
}

void TWin32Host::ShowErrorBox(const std::string& title, const std::string& text) {
  ProgramMessageBox(::GetActiveWindow(), ToWide(text), ToWide(title), MB_OK | MB_ICONERROR);
}

// The program's window in front: of the visible forms and open message
// boxes of this thread, the first in the z-order, a topmost one (the alert)
// whenever one is shown. Null when none is visible.
HWND TWin32Host::FrontWindow() const {
  const DWORD thread = ::GetCurrentThreadId();
  for (HWND window = ::GetTopWindow(nullptr); window; window = ::GetWindow(window, GW_HWNDNEXT)) {
    if (!::IsWindowVisible(window) || ::GetWindowThreadProcessId(window, nullptr) != thread) {
      continue;
    }
    const TControl* control = ControlOf(window);
    const bool isForm = control && control->InheritsFrom("TForm");
    if (isForm || std::find(OpenBoxes.begin(), OpenBoxes.end(), window) != OpenBoxes.end()) {
      return window;
    }
  }
  return nullptr;
}

// Owned by the program's front window, a box is above it, and topmost when
// that window is. A window of the program that comes up while the box is
// open is put beneath it again (KeepBoxesInFront).
int TWin32Host::ProgramMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption,
                                  UINT flags) {
  if (HWND front = FrontWindow()) owner = front;
  if (!owner || ::GetWindowThreadProcessId(owner, nullptr) != ::GetCurrentThreadId()) {
    owner = AppWindow;
  }
  TThreadWindowsDisabled disabled(owner);
  TBoxWatch watch(OpenBoxes);
  return ::MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
}

void TWin32Host::WindowCreated(HWND window) {
  if (OpenBoxes.empty() || OpenBoxes.back() || !IsMessageBoxClass(window)) return;
  if (std::find(OpenBoxes.begin(), OpenBoxes.end(), window) != OpenBoxes.end()) return;
  OpenBoxes.back() = window;
}

void TWin32Host::KeepBoxesInFront() {
  for (HWND box : OpenBoxes) {  // the innermost last, so on top
    if (box && ::IsWindow(box)) {
      ::SetWindowPos(box, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
  }
}

std::string TWin32Host::ProgramPath() {
  return ProgramFilePath();
}

int TWin32Host::AddApplicationHook(THook hook) {
  Hooks[NextHook] = std::move(hook);
  return NextHook++;
}

void TWin32Host::RemoveApplicationHook(int id) {
  Hooks.erase(id);
}

void TWin32Host::Report(std::exception_ptr error) {
  if (OnError) {
    OnError(error);
  } else {
    vcl::Application().HandleException(error);
  }
}

LRESULT CALLBACK TWin32Host::AppWindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  try {
    if (GHost) {
      const auto hooks = GHost->Hooks;  // a hook may remove itself
      for (const auto& [id, hook] : hooks) hook(message, wParam, lParam);
    }
    switch (message) {
      case WM_CLOSE:
        if (TForm* main = vcl::Application().MainForm()) main->Close();
        return 0;
      case WM_QUERYENDSESSION:
        return 1;
      case WM_ENDSESSION:
        if (wParam && GHost && GHost->OnEndSession) GHost->OnEndSession();
        return 0;
    }
  } catch (...) {
    if (GHost) GHost->Report(std::current_exception());
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace kw::win32
