#pragma once
// The notification area, the mouse and keyboard state its callbacks read,
// the menu, and timers, as the tray icon component needs them.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Types.h"

namespace kw {

constexpr std::uint32_t kNimAdd = 0, kNimModify = 1, kNimDelete = 2, kNimSetVersion = 4;
constexpr std::uint32_t kNifMessage = 1, kNifIcon = 2, kNifTip = 4;
constexpr std::uint32_t WM_TRAYCALLBACK = 0x800;

// What the component hands to Shell_NotifyIconA; the platform adds the
// window that receives the callbacks and the structure's size.
struct TNotifyIconData {
  std::uint32_t Id = 0;
  std::uint32_t Flags = 0;
  std::uint32_t CallbackMessage = 0;
  std::uintptr_t Icon = 0;
  char Tip[128] = {};
  std::uint32_t Version = 0;
};

struct TPoint {
  int X = 0, Y = 0;
  bool operator==(const TPoint& o) const { return X == o.X && Y == o.Y; }
};

// A menu item as the platform shows it: a separator when Caption is "-".
struct TMenuEntry {
  std::string Caption;
  bool Default = false;
};

constexpr int kVkShift = 0x10, kVkControl = 0x11, kVkMenu = 0x12;

class ITrayShell {
 public:
  virtual ~ITrayShell() = default;
  virtual bool NotifyIcon(std::uint32_t message, const TNotifyIconData& data) = 0;
  virtual bool CursorPos(TPoint& point) = 0;
  virtual bool KeyDown(int virtualKey) = 0;  // GetAsyncKeyState < 0
  virtual std::uint32_t DoubleClickTime() = 0;
  // Makes the window that receives the callbacks the foreground window.
  virtual void ForegroundMessageWindow() = 0;
  // Handles every message waiting for the UI thread.
  virtual void ProcessMessages() = 0;
  // Opens a menu at (x, y) and tracks it: the chosen entry's index, or -1.
  virtual int TrackMenu(const std::vector<TMenuEntry>& entries, int x, int y) = 0;
  virtual void PostMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                           std::intptr_t lParam) = 0;
  // The program icon for the notification area; owned by the shell object.
  virtual std::uintptr_t ProgramIcon() = 0;
  // The icon shown while some location is not watched; owned by the shell object.
  virtual std::uintptr_t WarningIcon() = 0;
  // The "TaskbarCreated" message, registered once per process; 0 when the
  // common controls are too old for it (version 4.70 or below).
  virtual std::uint32_t TaskbarCreatedMessage() = 0;
  // Lets "TaskbarCreated" through the message filter to `window`: the shell
  // that sends it is not elevated and this program is. False where the
  // system has no such filter or refused; nothing depends on the answer.
  virtual bool AllowTaskbarCreated(WindowHandle window) = 0;
};

// Timers that tick on the UI thread; `id` comes back with the tick.
class ITimerHost {
 public:
  virtual ~ITimerHost() = default;
  virtual bool SetTimer(std::uintptr_t id, std::uint32_t periodMs) = 0;
  virtual bool KillTimer(std::uintptr_t id) = 0;
};

}  // namespace kw
