#include "platform/win32/Win32Tray.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cstring>
#include <iterator>

#include "lib/CoolTrayIcon.h"
#include "lib/SimpleTimer.h"
#include "toolkit/win32/HandlerDepth.h"
#include "toolkit/win32/Text.h"

namespace kw::win32 {

namespace {

std::function<void(std::exception_ptr)> GOnError;

// "TaskbarCreated" exists from the common controls of version 4.71 on.
UINT RegisterTaskbarCreated() {
  HMODULE comctl = ::GetModuleHandleW(L"comctl32.dll");
  if (!comctl) comctl = ::LoadLibraryW(L"comctl32.dll");
  auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
      reinterpret_cast<void*>(::GetProcAddress(comctl, "DllGetVersion")));
  if (!getVersion) return 0;
  DLLVERSIONINFO info{};
  info.cbSize = sizeof info;
  if (FAILED(getVersion(&info))) return 0;
  if (((info.dwMajorVersion << 16) | info.dwMinorVersion) <= 0x40046) return 0;
  return ::RegisterWindowMessageW(L"TaskbarCreated");
}

HWND MakeHiddenWindow(HINSTANCE instance, const wchar_t* className, WNDPROC proc) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.lpszClassName = className;
  ::RegisterClassW(&wc);
  return ::CreateWindowExW(0, className, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance,
                           nullptr);
}

}  // namespace

TWin32TrayShell::TWin32TrayShell(HINSTANCE instance,
                                 std::function<void(std::exception_ptr)> onError) {
  GOnError = std::move(onError);
  TaskbarCreated = RegisterTaskbarCreated();
  Window = MakeHiddenWindow(instance, L"TTrayIconHandler", MessageWindowProc);
  TimerWindow = MakeHiddenWindow(instance, L"TSimpleTimerHandler", TimerWindowProc);
  Icon = static_cast<HICON>(::LoadImageW(instance, L"MAINICON", IMAGE_ICON,
                                         ::GetSystemMetrics(SM_CXSMICON),
                                         ::GetSystemMetrics(SM_CYSMICON), 0));
}

TWin32TrayShell::~TWin32TrayShell() {
  if (Icon) ::DestroyIcon(Icon);
  if (TimerWindow) ::DestroyWindow(TimerWindow);
  if (Window) ::DestroyWindow(Window);
  GOnError = nullptr;
}

#ifndef _WIN64
static_assert(NOTIFYICONDATAW_V2_SIZE == 936, "the 32-bit layout with the balloon fields");
#endif

bool TWin32TrayShell::NotifyIcon(std::uint32_t message, const TNotifyIconData& data) {
  NOTIFYICONDATAW nid{};
  nid.cbSize = NOTIFYICONDATAW_V2_SIZE;  // this architecture's layout with the balloon fields
  nid.hWnd = Window;
  nid.uID = data.Id;
  nid.uFlags = data.Flags;
  nid.uCallbackMessage = data.CallbackMessage;
  nid.hIcon = reinterpret_cast<HICON>(data.Icon);
  // The tip's bytes up to their NUL, made wide; at most 127 characters and the NUL.
  const std::wstring tip = ToWide(std::string_view(data.Tip, strnlen(data.Tip, sizeof data.Tip)));
  static_assert(std::size(nid.szTip) == sizeof data.Tip, "the tip is 128 characters");
  tip.copy(nid.szTip, std::size(nid.szTip) - 1);
  nid.uVersion = data.Version;
  return ::Shell_NotifyIconW(message, &nid) != FALSE;
}

bool TWin32TrayShell::AllowTaskbarCreated(WindowHandle window) {
  // Looked up at run time: Windows 7 filters per window, Vista per process,
  // and older systems have no filter and must still start.
  constexpr DWORD kMsgfltAllow = 1, kMsgfltAdd = 1;
  using TPerWindow = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  using TPerProcess = BOOL(WINAPI*)(UINT, DWORD);
  HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  if (!user32 || TaskbarCreated == 0) return false;
  if (auto perWindow = reinterpret_cast<TPerWindow>(
          reinterpret_cast<void*>(::GetProcAddress(user32, "ChangeWindowMessageFilterEx")))) {
    return perWindow(reinterpret_cast<HWND>(window), TaskbarCreated, kMsgfltAllow, nullptr) !=
           FALSE;
  }
  if (auto perProcess = reinterpret_cast<TPerProcess>(
          reinterpret_cast<void*>(::GetProcAddress(user32, "ChangeWindowMessageFilter")))) {
    return perProcess(TaskbarCreated, kMsgfltAdd) != FALSE;
  }
  return false;
}

bool TWin32TrayShell::CursorPos(TPoint& point) {
  POINT at;
  if (!::GetCursorPos(&at)) return false;
  point = {at.x, at.y};
  return true;
}

bool TWin32TrayShell::KeyDown(int virtualKey) {
  return ::GetAsyncKeyState(virtualKey) < 0;
}

std::uint32_t TWin32TrayShell::DoubleClickTime() {
  return ::GetDoubleClickTime();
}

void TWin32TrayShell::ForegroundMessageWindow() {
  ::SetForegroundWindow(Window);
}

void TWin32TrayShell::ProcessMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));  // leave it for the main loop
      return;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

int TWin32TrayShell::TrackMenu(const std::vector<TMenuEntry>& entries, int x, int y) {
  HMENU menu = ::CreatePopupMenu();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].Caption == "-") {
      ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    } else {
      ::AppendMenuW(menu, MF_STRING, i + 1, ToWide(entries[i].Caption).c_str());
      if (entries[i].Default) ::SetMenuDefaultItem(menu, static_cast<UINT>(i + 1), FALSE);
    }
  }
  const int command = static_cast<int>(
      ::TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, x, y,
                       0, Window, nullptr));
  ::DestroyMenu(menu);
  return command - 1;
}

void TWin32TrayShell::PostMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                  std::intptr_t lParam) {
  ::PostMessageW(reinterpret_cast<HWND>(window), message, wParam, lParam);
}

bool TWin32TrayShell::SetTimer(std::uintptr_t id, std::uint32_t periodMs) {
  return ::SetTimer(TimerWindow, id, periodMs, nullptr) != 0;
}

bool TWin32TrayShell::KillTimer(std::uintptr_t id) {
  return ::KillTimer(TimerWindow, id) != FALSE;
}

LRESULT CALLBACK TWin32TrayShell::MessageWindowProc(HWND window, UINT message, WPARAM wParam,
                                                    LPARAM lParam) {
  const THandlerScope scope;  // the tray menu's loop runs beneath it
  switch (message) {
    case WM_TRAYCALLBACK:
      try {
        if (auto* handler = TTrayIconHandler::Instance()) {
          handler->HandleCallback(static_cast<std::uint32_t>(wParam),
                                  static_cast<std::uint32_t>(lParam));
        }
      } catch (...) {
        if (GOnError) GOnError(std::current_exception());
      }
      return 0;
    // A close request leaves the window and the icon in place; the session may always end.
    case WM_DESTROY:
    case WM_CLOSE:
    case WM_QUERYENDSESSION:
    case WM_QUIT:
    case WM_ENDSESSION:
    case WM_NCDESTROY:
      return 1;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK TWin32TrayShell::TimerWindowProc(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
  const THandlerScope scope;
  if (message != WM_TIMER) return ::DefWindowProcW(window, message, wParam, lParam);
  try {
    if (auto* handler = TSimpleTimerHandler::Instance()) handler->Tick(wParam);
  } catch (...) {
    if (GOnError) GOnError(std::current_exception());
  }
  return 0;
}

}  // namespace kw::win32
