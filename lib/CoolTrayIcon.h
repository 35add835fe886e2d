#pragma once
// The tray icon component: one icon with a hint in the notification area, the
// shell's mouse callbacks turned into events, the context menu, and the icon
// put back when the taskbar is re-created.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "lib/SimpleTimer.h"
#include "platform/Tray.h"
#include "toolkit/Forms.h"

namespace kw {

enum class TMouseButton { mbLeft, mbRight, mbMiddle };
enum TShift : unsigned {
  ssShift = 1,
  ssAlt = 2,
  ssCtrl = 4,
  ssLeft = 8,
  ssRight = 16,
  ssMiddle = 32
};

class TCoolTrayIcon;

// Process-wide: the live components by the identifier the shell brings back.
// Exists while a component does.
class TTrayIconHandler {
 public:
  static TTrayIconHandler* Instance() { return GInstance; }
  int IconCount() const { return static_cast<int>(Icons.size()); }
  // WM_TRAYCALLBACK: `id` from WParam, `message` from LParam. An identifier
  // no live component has is ignored.
  void HandleCallback(std::uint32_t id, std::uint32_t message);

 private:
  friend class TCoolTrayIcon;
  static TTrayIconHandler* GInstance;
  std::map<std::uint32_t, TCoolTrayIcon*> Icons;
  std::uint32_t NextId = 1;
};

class TCoolTrayIcon : public vcl::TComponent {
  KW_COMPONENT_CLASS(TCoolTrayIcon, vcl::TComponent)
 public:
  TCoolTrayIcon(vcl::TComponent* owner, std::string name, ITrayShell& shell, ITimerHost& timers);
  ~TCoolTrayIcon() override;

  using TNotifyEvent = std::function<void(TCoolTrayIcon&)>;
  using TMouseEvent = std::function<void(TCoolTrayIcon&, TMouseButton, unsigned, int, int)>;
  using TMouseMoveEvent = std::function<void(TCoolTrayIcon&, unsigned, int, int)>;
  TNotifyEvent OnClick, OnDblClick, OnMouseEnter, OnMouseExit;
  TNotifyEvent OnBalloonHintShow, OnBalloonHintHide, OnBalloonHintTimeout, OnBalloonHintClick;
  TMouseEvent OnMouseDown, OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  std::function<void(TCoolTrayIcon&, bool&)> OnStartup;
  std::function<void(TCoolTrayIcon&, int nextIndex)> OnCycle;
  TNotifyEvent OnMinimizeToTray;

  // Properties with their setters' effects.
  void SetHint(const std::string& hint);
  void SetShowHint(bool show);
  void SetIcon(std::uintptr_t icon);
  void SetIconVisible(bool visible);
  void SetWantEnterExitEvents(bool want);
  // Icons to show by index; empty: none.
  void SetIconList(std::vector<std::uintptr_t> icons);
  void SetIconIndex(int index);
  void SetCycleIcons(bool cycle);
  void SetCycleInterval(std::uint32_t milliseconds);
  int IconIndex() const { return FIconIndex; }
  bool Enabled = true;
  bool MinimizeToTray = false;
  bool LeftPopup = false;
  vcl::TPopupMenu* PopupMenu() const { return FPopupMenu; }
  // Asks to be told when the menu is destroyed, which clears the reference.
  void SetPopupMenu(vcl::TPopupMenu* menu);
  int CallbackVersion = 0;

  bool IconVisible() const { return FIconVisible; }
  std::uint32_t Id() const { return FId; }
  const TNotifyIconData& NotifyData() const { return Data; }

  // The design has been applied.
  void Loaded();
  bool AddTrayIcon();
  bool DeleteTrayIcon();
  bool ModifyTrayIcon();
  void ShowMenuAtCursor();
  void ShowMenuAt(int x, int y);

  // A callback from the shell, LParam being the mouse or notification message.
  void HandleCallback(std::uint32_t message);
  // A message reaching the application window.
  void AppWindowHook(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
  // The click delay's tick (also reachable for tests through the timer).
  void ClickDelayTick();

 protected:
  void Notification(vcl::TComponent* component, vcl::TOperation operation) override;

 private:
  void FillNotifyData();
  unsigned ShiftState(unsigned button) const;
  void MouseDown(TMouseButton button, unsigned flag);
  void MouseUp(TMouseButton button, unsigned flag);
  void RunDefaultItem();
  void LeaveCheck();
  void CycleTick();
  void StartOrStopCycling();

  ITrayShell& Shell;
  vcl::TPopupMenu* FPopupMenu = nullptr;
  TNotifyIconData Data;
  std::uint32_t FId;
  std::string Hint;
  bool ShowHint = true;
  std::uintptr_t Icon = 0;
  bool FIconVisible = false;
  bool WantEnterExit = false;
  std::vector<std::uintptr_t> IconList;
  int FIconIndex = 0;
  bool CycleIcons = false;
  std::uint32_t CycleInterval = 0;
  bool LeftDown = false, ClickPending = false, DoubleClicked = false;
  bool LeaveReported = true;
  TPoint LastCursor;
  std::unique_ptr<TSimpleTimer> IconCycleTimer, ClickDelayTimer, LeaveTimer;
  int HookId = -1;
};

}  // namespace kw
