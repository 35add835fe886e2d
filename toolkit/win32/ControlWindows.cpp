// The windows of the forms and their controls, made for the controls' state.

#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include <algorithm>
#include <set>

#include "toolkit/win32/Text.h"
#include "toolkit/win32/Win32Host.h"
#include "toolkit/win32/WindowPeer.h"
#include "toolkit/win32/WindowProcedures.h"

namespace kw::win32 {

namespace {
// A long hint wraps at this width instead of running off the screen.
constexpr LPARAM kLongestTipWidth = 600;
}  // namespace

using vcl::TControl;
using vcl::TForm;

namespace {
constexpr int kFirstControlId = 100;  // clear of IDOK and IDCANCEL
}  // namespace

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
  // Hints as tooltips. Pictures have theirs from the start; an edit's hint
  // may change with what it shows (a path longer than the field), so every
  // tool's text is asked for when it is about to show.
  HWND tips = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                formWindow, nullptr, Instance, nullptr);
  ::SendMessageW(tips, TTM_SETMAXTIPWIDTH, 0, kLongestTipWidth);
  ::SetPropW(formWindow, kTooltipProperty, tips);
  for (vcl::TComponent* c : form.Components()) {
    auto* control = dynamic_cast<TControl*>(c);
    if (!control || !control->Peer()) continue;
    const bool edit = control->InheritsFrom("TCustomEdit");
    if (control->Hint.empty() && !edit) continue;
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    // The tooltip's own subclass would see every message of an edit (each
    // text set, each text read) at the price of window-server trips: an
    // edit hands it only its mouse messages (RelayToTooltip).
    tool.uFlags = TTF_IDISHWND | (edit ? 0 : TTF_SUBCLASS);
    tool.hwnd = formWindow;
    tool.uId = reinterpret_cast<UINT_PTR>(HandleOf(control));
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    ::SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

}  // namespace kw::win32
