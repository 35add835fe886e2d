#include "lib/CoolTrayIcon.h"

#include <algorithm>
#include <cstring>

namespace kw {

TTrayIconHandler* TTrayIconHandler::GInstance = nullptr;

namespace {
constexpr std::uint32_t kWmMouseMove = 0x200, kWmLButtonDown = 0x201, kWmLButtonUp = 0x202,
                        kWmLButtonDblClk = 0x203, kWmRButtonDown = 0x204, kWmRButtonUp = 0x205,
                        kWmMButtonDown = 0x207, kWmMButtonUp = 0x208, kWmContextMenu = 0x7B,
                        kNinSelect = 0x400, kNinKeySelect = 0x401, kNinBalloonShow = 0x402,
                        kNinBalloonHide = 0x403, kNinBalloonTimeout = 0x404,
                        kNinBalloonUserClick = 0x405, kWmNull = 0;
constexpr std::size_t kTipBytes = 127;
}  // namespace

void TTrayIconHandler::HandleCallback(std::uint32_t id, std::uint32_t message) {
  auto it = Icons.find(id);
  if (it != Icons.end()) it->second->HandleCallback(message);
}

TCoolTrayIcon::TCoolTrayIcon(vcl::TComponent* owner, std::string name, ITrayShell& shell,
                             ITimerHost& timers)
    : TComponent(owner, std::move(name)), Shell(shell) {
  if (!TTrayIconHandler::GInstance) TTrayIconHandler::GInstance = new TTrayIconHandler;
  TTrayIconHandler& handler = *TTrayIconHandler::GInstance;
  // A 32-bit identifier of our own: on 64-bit an address would not fit uID.
  FId = handler.NextId++;
  handler.Icons[FId] = this;

  Data.Id = FId;
  Data.Flags = kNifMessage | kNifIcon | kNifTip;
  Data.CallbackMessage = WM_TRAYCALLBACK;
  IconCycleTimer =
      std::make_unique<TSimpleTimer>(timers, 1000, [this](TSimpleTimer&) { CycleTick(); });
  ClickDelayTimer =
      std::make_unique<TSimpleTimer>(timers, 1000, [this](TSimpleTimer&) { ClickDelayTick(); });
  LeaveTimer = std::make_unique<TSimpleTimer>(timers, 20, [this](TSimpleTimer&) { LeaveCheck(); });
  vcl::IApplicationHost& host = vcl::Application().Host();
  HookId = host.AddApplicationHook(
      [this](std::uint32_t m, std::uintptr_t w, std::intptr_t l) { AppWindowHook(m, w, l); });
  if (Shell.TaskbarCreatedMessage() != 0) Shell.AllowTaskbarCreated(host.ApplicationWindow());
}

TCoolTrayIcon::~TCoolTrayIcon() {
  // Out of reach first: the UI thread handles sent messages while the shell
  // call below waits, and a callback or "TaskbarCreated" arriving then must
  // find no half-destroyed component (nor add the icon back).
  TTrayIconHandler& handler = *TTrayIconHandler::GInstance;
  handler.Icons.erase(FId);
  if (HookId >= 0) vcl::Application().Host().RemoveApplicationHook(HookId);
  DeleteTrayIcon();
  IconCycleTimer.reset();
  ClickDelayTimer.reset();
  LeaveTimer.reset();
  if (handler.Icons.empty()) {  // the last one out
    delete TTrayIconHandler::GInstance;
    TTrayIconHandler::GInstance = nullptr;
  }
}

void TCoolTrayIcon::SetPopupMenu(vcl::TPopupMenu* menu) {
  if (FPopupMenu) FPopupMenu->RemoveFreeNotification(this);
  FPopupMenu = menu;
  if (FPopupMenu) FPopupMenu->FreeNotification(this);
}

void TCoolTrayIcon::Notification(vcl::TComponent* component, vcl::TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == vcl::TOperation::opRemove && component == FPopupMenu) FPopupMenu = nullptr;
}

void TCoolTrayIcon::SetHint(const std::string& hint) {
  Hint = hint;
  ModifyTrayIcon();
}

void TCoolTrayIcon::SetShowHint(bool show) {
  ShowHint = show;
  ModifyTrayIcon();
}

void TCoolTrayIcon::SetIcon(std::uintptr_t icon) {
  Icon = icon;
  ModifyTrayIcon();
}

void TCoolTrayIcon::SetIconVisible(bool visible) {
  if (visible) {
    AddTrayIcon();
  } else {
    DeleteTrayIcon();
  }
}

void TCoolTrayIcon::SetWantEnterExitEvents(bool want) {
  WantEnterExit = want;
  if (want) {
    LeaveTimer->Start();
  } else {
    LeaveTimer->Stop();
  }
}

void TCoolTrayIcon::SetIconList(std::vector<std::uintptr_t> icons) {
  IconList = std::move(icons);
  SetIconIndex(0);
}

void TCoolTrayIcon::SetIconIndex(int index) {
  if (IconList.empty()) {
    FIconIndex = 0;
  } else {
    FIconIndex = std::min(std::max(index, 0), static_cast<int>(IconList.size()) - 1);
    Icon = IconList[static_cast<std::size_t>(FIconIndex)];
  }
  ModifyTrayIcon();
}

void TCoolTrayIcon::SetCycleIcons(bool cycle) {
  CycleIcons = cycle;
  if (cycle) SetIconIndex(0);
  StartOrStopCycling();
}

void TCoolTrayIcon::SetCycleInterval(std::uint32_t milliseconds) {
  CycleInterval = milliseconds;
  StartOrStopCycling();
}

void TCoolTrayIcon::StartOrStopCycling() {
  if (CycleIcons && !IconList.empty()) {
    IconCycleTimer->SetPeriod(CycleInterval);
    IconCycleTimer->Start();
  } else {
    IconCycleTimer->Stop();
  }
}

void TCoolTrayIcon::CycleTick() {
  if (IconList.empty()) return;
  const int next = (FIconIndex + 1) % static_cast<int>(IconList.size());
  if (OnCycle) OnCycle(*this, next);
  SetIconIndex(next);
}

void TCoolTrayIcon::Loaded() {
  bool showMainForm = true;
  if (OnStartup) OnStartup(*this, showMainForm);
  if (!showMainForm) {
    if (auto* form = dynamic_cast<vcl::TForm*>(Owner())) form->Hide();
  }
  ModifyTrayIcon();
  if (FIconVisible) AddTrayIcon();
  StartOrStopCycling();
  SetWantEnterExitEvents(WantEnterExit);
  Data.Version = CallbackVersion == 1 ? 3 : 0;
  Shell.NotifyIcon(kNimSetVersion, Data);
}

void TCoolTrayIcon::FillNotifyData() {
  Data.Icon = Icon;
  std::memset(Data.Tip, 0, sizeof Data.Tip);
  if (!Hint.empty() && ShowHint)
    std::memcpy(Data.Tip, Hint.data(), std::min(Hint.size(), kTipBytes));
}

bool TCoolTrayIcon::AddTrayIcon() {
  FillNotifyData();
  FIconVisible = true;
  return Shell.NotifyIcon(kNimAdd, Data);
}

bool TCoolTrayIcon::DeleteTrayIcon() {
  FillNotifyData();
  FIconVisible = false;
  return Shell.NotifyIcon(kNimDelete, Data);
}

bool TCoolTrayIcon::ModifyTrayIcon() {
  FillNotifyData();
  return Shell.NotifyIcon(kNimModify, Data);
}

unsigned TCoolTrayIcon::ShiftState(unsigned button) const {
  unsigned shift = button;
  if (Shell.KeyDown(kVkShift)) shift |= ssShift;
  if (Shell.KeyDown(kVkMenu)) shift |= ssAlt;
  if (Shell.KeyDown(kVkControl)) shift |= ssCtrl;
  return shift;
}

void TCoolTrayIcon::MouseDown(TMouseButton button, unsigned flag) {
  TPoint at;
  Shell.CursorPos(at);
  if (OnMouseDown) OnMouseDown(*this, button, ShiftState(flag), at.X, at.Y);
}

void TCoolTrayIcon::MouseUp(TMouseButton button, unsigned flag) {
  TPoint at;
  Shell.CursorPos(at);
  if (OnMouseUp) OnMouseUp(*this, button, ShiftState(flag), at.X, at.Y);
}

void TCoolTrayIcon::HandleCallback(std::uint32_t message) {
  const bool autoMenu = FPopupMenu && FPopupMenu->AutoPopup;
  switch (message) {
    case kWmMouseMove: {
      if (!Enabled) return;
      TPoint at;
      Shell.CursorPos(at);
      if (WantEnterExit && LeaveReported) {
        if (OnMouseEnter) OnMouseEnter(*this);
        LeaveReported = false;
      }
      if (OnMouseMove) OnMouseMove(*this, ShiftState(0), at.X, at.Y);
      LastCursor = at;
      return;
    }
    case kWmLButtonDown:
      if (!Enabled) return;
      if (OnDblClick) {
        ClickDelayTimer->SetPeriod(Shell.DoubleClickTime());
        ClickDelayTimer->Start();
      }
      MouseDown(TMouseButton::mbLeft, ssLeft);
      LeftDown = true;
      if (LeftPopup && autoMenu) {
        Shell.ForegroundMessageWindow();
        ShowMenuAtCursor();
      }
      return;
    case kWmLButtonUp:
      if (!Enabled) return;
      if (LeftDown) ClickPending = true;
      if (LeftDown && !ClickDelayTimer->Running()) {
        LeftDown = false;
        ClickPending = false;
        if (OnClick) OnClick(*this);
      }
      LeftDown = false;
      MouseUp(TMouseButton::mbLeft, ssLeft);
      return;
    case kWmLButtonDblClk:
      if (!Enabled) return;
      ClickPending = false;
      DoubleClicked = true;
      if (OnDblClick) OnDblClick(*this);
      RunDefaultItem();
      return;
    case kWmRButtonDown:
      if (!Enabled) return;
      MouseDown(TMouseButton::mbRight, ssRight);
      if (autoMenu) {
        Shell.ForegroundMessageWindow();
        ShowMenuAtCursor();
      }
      return;
    case kWmRButtonUp:
      if (Enabled && CallbackVersion == 0) MouseUp(TMouseButton::mbRight, ssRight);
      return;
    case kWmMButtonDown:
      if (Enabled) MouseDown(TMouseButton::mbMiddle, ssMiddle);
      return;
    case kWmMButtonUp:
      if (Enabled) MouseUp(TMouseButton::mbMiddle, ssMiddle);
      return;
    case kWmContextMenu:
    case kNinSelect:
    case kNinKeySelect:
      if (Enabled && CallbackVersion == 1) MouseUp(TMouseButton::mbRight, ssRight);
      return;
    case kNinBalloonShow:
      if (OnBalloonHintShow) OnBalloonHintShow(*this);
      return;
    case kNinBalloonHide:
      if (OnBalloonHintHide) OnBalloonHintHide(*this);
      return;
    case kNinBalloonTimeout:
      if (OnBalloonHintTimeout) OnBalloonHintTimeout(*this);
      return;
    case kNinBalloonUserClick:
      if (OnBalloonHintClick) OnBalloonHintClick(*this);
      return;
  }
}

void TCoolTrayIcon::ClickDelayTick() {
  ClickDelayTimer->Stop();
  if (!DoubleClicked && ClickPending) {
    ClickPending = false;
    if (OnClick) OnClick(*this);
  }
  DoubleClicked = false;
}

void TCoolTrayIcon::RunDefaultItem() {
  if (!FPopupMenu || !FPopupMenu->AutoPopup || LeftPopup) return;
  for (vcl::TMenuItem* item : FPopupMenu->Items) {
    if (item->Default) {
      if (item->OnClick) item->OnClick();
      return;
    }
  }
}

void TCoolTrayIcon::LeaveCheck() {
  TPoint at;
  if (!LeaveReported && Shell.CursorPos(at) && !(at == LastCursor)) {
    LeaveReported = true;
    if (OnMouseExit) OnMouseExit(*this);
  }
}

void TCoolTrayIcon::ShowMenuAtCursor() {
  TPoint at;
  if (Shell.CursorPos(at)) ShowMenuAt(at.X, at.Y);
}

void TCoolTrayIcon::ShowMenuAt(int x, int y) {
  if (!FPopupMenu) return;
  Shell.ForegroundMessageWindow();
  Shell.ProcessMessages();
  // The messages just handled may have ended the menu.
  if (!FPopupMenu) return;
  if (FPopupMenu->OnPopup) FPopupMenu->OnPopup();
  std::vector<TMenuEntry> entries;
  for (vcl::TMenuItem* item : FPopupMenu->Items) entries.push_back({item->Caption, item->Default});
  const int chosen = Shell.TrackMenu(entries, x, y);
  if (FPopupMenu && chosen >= 0 && chosen < static_cast<int>(FPopupMenu->Items.size())) {
    if (auto& click = FPopupMenu->Items[static_cast<std::size_t>(chosen)]->OnClick) click();
  }
  if (auto* form = dynamic_cast<vcl::TForm*>(Owner())) {
    if (form->Handle()) Shell.PostMessage(form->Handle(), kWmNull, 0, 0);
  }
}

void TCoolTrayIcon::AppWindowHook(std::uint32_t message, std::uintptr_t wParam, std::intptr_t) {
  constexpr std::uint32_t kWmSize = 5;
  constexpr std::uintptr_t kSizeMinimized = 1;
  const std::uint32_t taskbarCreated = Shell.TaskbarCreatedMessage();
  if (taskbarCreated != 0 && message == taskbarCreated && FIconVisible) AddTrayIcon();
  if (message == kWmSize && wParam == kSizeMinimized && MinimizeToTray) {
    // The program goes to the notification area: its window hides, the icon shows.
    if (OnMinimizeToTray) OnMinimizeToTray(*this);
    if (auto* form = dynamic_cast<vcl::TForm*>(Owner())) form->Hide();
    AddTrayIcon();
  }
}

}  // namespace kw
