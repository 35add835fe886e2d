#pragma once
// The notification area on Win32: the hidden window that receives the shell's
// callbacks, the menu, and the hidden window the light timers tick on.

#include <windows.h>

#include <exception>
#include <functional>

#include "platform/Tray.h"

namespace kw::win32 {

class TWin32TrayShell : public ITrayShell, public ITimerHost {
 public:
  // `onError` takes what a callback's handling threw: nothing crosses the window procedure.
  TWin32TrayShell(HINSTANCE instance, std::function<void(std::exception_ptr)> onError);
  ~TWin32TrayShell() override;

  bool NotifyIcon(std::uint32_t message, const TNotifyIconData& data) override;
  bool CursorPos(TPoint& point) override;
  bool KeyDown(int virtualKey) override;
  std::uint32_t DoubleClickTime() override;
  void ForegroundMessageWindow() override;
  void ProcessMessages() override;
  int TrackMenu(const std::vector<TMenuEntry>& entries, int x, int y) override;
  void PostMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                   std::intptr_t lParam) override;
  std::uintptr_t ProgramIcon() override { return reinterpret_cast<std::uintptr_t>(Icon); }
  // The system's shared warning icon: never destroyed.
  std::uintptr_t WarningIcon() override {
    return reinterpret_cast<std::uintptr_t>(::LoadIconW(nullptr, IDI_WARNING));
  }
  std::uint32_t TaskbarCreatedMessage() override { return TaskbarCreated; }
  bool AllowTaskbarCreated(WindowHandle window) override;

  bool SetTimer(std::uintptr_t id, std::uint32_t periodMs) override;
  bool KillTimer(std::uintptr_t id) override;

  HWND MessageWindow() const { return Window; }

 private:
  static LRESULT CALLBACK MessageWindowProc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK TimerWindowProc(HWND, UINT, WPARAM, LPARAM);

  HWND Window = nullptr;
  HWND TimerWindow = nullptr;
  HICON Icon = nullptr;
  UINT TaskbarCreated = 0;
};

}  // namespace kw::win32
