// The program's message boxes: above every window of the program, which
// they keep disabled while open, their button labelled in Chinese.

#include <algorithm>

#include "toolkit/win32/Text.h"
#include "toolkit/win32/Win32Host.h"
#include "toolkit/win32/WindowPeer.h"

namespace kw::win32 {

using vcl::TControl;

namespace {

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

// A message box's buttons read "确定", "是" and "否" on every display language, as all the
// program's other texts do: the system would label it in its own language.
void LabelMessageBoxButton(HWND box) {
  // A message box: a dialog with its text in the static of id 0xFFFF.
  if (IsMessageBoxClass(box) && ::GetDlgItem(box, 0xFFFF)) {
    if (HWND ok = ::GetDlgItem(box, IDOK)) ::SetWindowTextW(ok, L"确定");
    if (HWND yes = ::GetDlgItem(box, IDYES)) ::SetWindowTextW(yes, L"是");
    if (HWND no = ::GetDlgItem(box, IDNO)) ::SetWindowTextW(no, L"否");
  }
}

// The box is known by its creation, not its activation: a box of a program
// in the background may never be activated. Its buttons exist only once it
// is about to be activated.
LRESULT CALLBACK WatchBox(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && TWin32Host::CurrentOrNull()) {
    TWin32Host::Current().WindowCreated(reinterpret_cast<HWND>(wParam));
  }
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

void TWin32Host::ShowMessage(std::uintptr_t ownerWindow, const std::string& text) {
  HWND owner = ownerWindow ? reinterpret_cast<HWND>(ownerWindow) : ::GetActiveWindow();
  ProgramMessageBox(owner, ToWide(text), ToWide(vcl::Application().Title()), MB_OK);
}

bool TWin32Host::Confirm(std::uintptr_t ownerWindow, const std::string& text) {
  HWND owner = ownerWindow ? reinterpret_cast<HWND>(ownerWindow) : ::GetActiveWindow();
  return ProgramMessageBox(owner, ToWide(text), ToWide(vcl::Application().Title()),
                           MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
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
  if (SessionEnding) return IDOK;  // nothing would answer it; the loops beneath must end
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

}  // namespace kw::win32
