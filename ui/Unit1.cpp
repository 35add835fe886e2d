#include "ui/Unit1.h"

#include "lib/Hives.h"
#include "monitor/ChangeTexts.h"
#include "monitor/WatchedKeys.h"
#include "ui/UiTexts.h"
#include "ui/Unit2.h"
#include "ui/Unit3.h"

namespace kw {

using namespace vcl;

TForm1* Form1 = nullptr;

TForm1::TForm1(TServices& services) : TForm(nullptr, "Form1"), Services(services) {
  SetText(texts::kMainCaption);
  ClientWidth = 138;
  ClientHeight = 26;
  Button1 = new TButton(this, "Button1", this);
  Button1->SetText(texts::kStartMonitoring);
  Button1->SetVisible(false);
  Button2 = new TButton(this, "Button2", this);
  Button2->SetText(texts::kStopMonitoring);
  Button2->SetVisible(false);
  ListBox1 = new TListBox(this, "ListBox1", this);
  ListBox1->Items = WatchedKeyTable();
  ListBox1->SetVisible(false);
  Button3 = new TButton(this, "Button3", this);
  Button3->SetText("Button3");
  Button3->SetVisible(false);

  // The icon is in the notification area before any monitor starts.
  CoolTrayIcon1 = new TCoolTrayIcon(this, "CoolTrayIcon1", services.Tray, services.Timers);
  CoolTrayIcon1->SetHint(kTrayHint);
  CoolTrayIcon1->SetIcon(services.Tray.ProgramIcon());
  CoolTrayIcon1->SetIconVisible(true);
  PopupMenu1 = new TPopupMenu(this, "PopupMenu1");
  Exit1 = new TMenuItem(this, "Exit1", texts::kExit);
  Options1 = new TMenuItem(this, "Options1", texts::kOptionsCaption);
  N1 = new TMenuItem(this, "N1", "-");
  Home1 = new TMenuItem(this, "Home1", texts::kHome);
  N2 = new TMenuItem(this, "N2", "-");
  PopupMenu1->Items = {Options1, N1, Home1, N2, Exit1};
  Options1->OnClick = [this] { Options1Click(); };
  Home1->OnClick = [this] { Home1Click(); };
  Exit1->OnClick = [this] { Exit1Click(); };
  CoolTrayIcon1->SetPopupMenu(PopupMenu1);
  CoolTrayIcon1->Loaded();
}

void TForm1::FormCreate() {
  FController = std::make_unique<TMonitorController>(
      Services.Monitor, Handle(), WatchedLocations(ListBox1->Items), FQueue);
  FController->StartMonitors(kHkeyLocalMachine);
  FController->StartMonitors(kHkeyCurrentUser);
}

void TForm1::FormDestroy() {
  if (FController) FController->StopMonitors();
}

// The message carries nothing the handler reads: another program can post
// it too, and then only makes the guard look at its own queue.
bool TForm1::HandleMessage(std::uint32_t message, std::uintptr_t, std::intptr_t) {
  if (message != WM_REGCHANGE) return false;
  WMRegChange();
  return true;
}

void TForm1::WMRegChange() {
  // A wake-up can come in a nested message loop (an error box) before the
  // alert exists or after it is gone. The records then stay queued for the
  // next one.
  if (!Form2) return;
  std::vector<TChangeRecord> records = FQueue->TakeAll();
  // Nothing new: no field changes, and the alert neither comes up nor sounds.
  if (records.empty()) return;
  const TLocalTime now = Services.Clock.Now();
  for (TChangeRecord& record : records) {
    record.Time = now;
    FollowWatchState(record);
  }
  // Only the newest is put into the fields: a flood of thousands of records
  // costs one icon lookup, and the monitors waiting to send are not held.
  Form2->ShowChanges(records);
}

void TForm1::FollowWatchState(const TChangeRecord& record) {
  const std::string location = HiveToName(record.RootKey) + record.Location;
  if (record.Kind == TChangeKind::NotWatched) {
    NotWatched.insert(location);
  } else if (record.Kind == TChangeKind::WatchedAgain) {
    NotWatched.erase(location);
  } else {
    return;
  }
  ShowWatchState();
}

// The tray tells at a glance that some location is not watched: a warning
// icon, and how many in the tooltip.
void TForm1::ShowWatchState() {
  if (NotWatched.empty()) {
    CoolTrayIcon1->SetHint(kTrayHint);
    CoolTrayIcon1->SetIcon(Services.Tray.ProgramIcon());
    return;
  }
  CoolTrayIcon1->SetHint(std::string(kTrayHint) + " - " + std::to_string(NotWatched.size()) +
                         texts::kLocationsNotWatched);
  CoolTrayIcon1->SetIcon(Services.Tray.WarningIcon());
}

void TForm1::Options1Click() {
  if (Form3) Form3->Show();
}

void TForm1::Home1Click() {
  Services.Shell.Execute(Handle(), "open", kHomePage, nullptr);
}

void TForm1::Exit1Click() {
  Close();
}

void TForm1::ShowProgramIcon(const std::string& path) {
  Form2->Image1->SetPicture(Services.Shell.ExtractProgramIcon(path));
}

}  // namespace kw
