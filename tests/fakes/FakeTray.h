#pragma once
// A notification area that records what reached it, and timers ticked by hand.

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "lib/SimpleTimer.h"
#include "platform/Tray.h"

namespace kw::fake {

class FakeTray : public ITrayShell, public ITimerHost {
 public:
  bool NotifyIcon(std::uint32_t message, const TNotifyIconData& data) override {
    Calls.push_back({message, data});
    // What the UI thread handles while the call waits for the shell.
    if (WhileNotifying) WhileNotifying(message);
    switch (message) {
      case kNimAdd:
        return Icons.insert(data.Id).second;
      case kNimDelete:
        return Icons.erase(data.Id) > 0;
      case kNimModify:
        return Icons.count(data.Id) > 0;
      default:
        return true;
    }
  }
  bool CursorPos(TPoint& point) override {
    point = Cursor;
    return true;
  }
  bool KeyDown(int virtualKey) override { return KeysDown.count(virtualKey) > 0; }
  std::uint32_t DoubleClickTime() override { return 500; }
  void ForegroundMessageWindow() override { Log.push_back("foreground"); }
  void ProcessMessages() override { Log.push_back("process messages"); }
  int TrackMenu(const std::vector<TMenuEntry>& entries, int x, int y) override {
    Log.push_back("menu at " + std::to_string(x) + "," + std::to_string(y) + " with " +
                  std::to_string(entries.size()));
    return Choose;
  }
  void PostMessage(WindowHandle, std::uint32_t message, std::uintptr_t, std::intptr_t) override {
    Log.push_back("post " + std::to_string(message));
  }
  std::uintptr_t ProgramIcon() override { return 0x1C0; }
  std::uintptr_t WarningIcon() override { return 0x1C1; }

  // The tooltip and the icon the shell was given last.
  std::string Tip() const {
    for (auto it = Calls.rbegin(); it != Calls.rend(); ++it) {
      if (it->Data.Flags & kNifTip) return it->Data.Tip;
    }
    return {};
  }
  std::uintptr_t Icon() const {
    for (auto it = Calls.rbegin(); it != Calls.rend(); ++it) {
      if (it->Data.Flags & kNifIcon) return it->Data.Icon;
    }
    return 0;
  }
  std::uint32_t TaskbarCreatedMessage() override { return 0xC123; }
  bool AllowTaskbarCreated(WindowHandle window) override {
    Allowed.push_back(window);
    return false;  // as on a system without the filter
  }

  bool SetTimer(std::uintptr_t id, std::uint32_t periodMs) override {
    Timers[id] = periodMs;
    return true;
  }
  bool KillTimer(std::uintptr_t id) override { return Timers.erase(id) > 0; }
  // Ticks every running timer once.
  void TickAll() {
    const auto running = Timers;
    for (const auto& [id, period] : running) TSimpleTimerHandler::Instance()->Tick(id);
  }

  struct TCall {
    std::uint32_t Message;
    TNotifyIconData Data;
  };
  std::vector<TCall> Calls;
  std::set<std::uint32_t> Icons;  // what the notification area shows
  std::map<std::uintptr_t, std::uint32_t> Timers;
  std::set<int> KeysDown;
  std::vector<WindowHandle> Allowed;  // windows "TaskbarCreated" was let through to
  TPoint Cursor{1014, 758};
  int Choose = -1;
  std::function<void(std::uint32_t message)> WhileNotifying;
  std::vector<std::string> Log;
};

}  // namespace kw::fake
