#include "ui/Unit1.h"

#include "lib/Hives.h"
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
  FController = std::make_unique<TMonitorController>(Services.Monitor, Handle(), ListBox1->Items);
  FController->StartMonitors(kHkeyLocalMachine);
  FController->StartMonitors(kHkeyCurrentUser);
}

void TForm1::FormDestroy() {
  if (FController) FController->StopMonitors();
}

bool TForm1::HandleMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t) {
  if (message != WM_REGCHANGE) return false;
  WMRegChange(*reinterpret_cast<TChangeData*>(wParam));
  return true;
}

std::string TForm1::TimeLine() {
  const TLocalTime now = Services.Clock.Now();
  std::string line = texts::kRegistryChange + Services.Clock.ShortDate(now);
  if (now.Hour != 0 || now.Minute != 0 || now.Second != 0)
    line += ' ' + Services.Clock.LongTime(now);
  return line;
}

void TForm1::WMRegChange(TChangeData& change) {
  // A notice can come in a nested message loop (an error box) before the
  // alert exists or after it is gone. Its lines stay unshown: the monitor's
  // next notice shows them.
  if (!Form2) return;
  Form2->Show();
  Form2->Edit1->SetText(TimeLine());
  Form2->Edit2->SetText(change.Key);
  // Each new line would replace the one before it before anyone could see
  // it: only the last is put into the fields. A flood of thousands of lines
  // then costs one icon lookup, and the monitors waiting to send are not held.
  const auto lines = static_cast<std::int32_t>(change.Changes.size());
  if (change.Shown < lines) {
    Form2->Edit3->SetText(change.Changes.back());
    Form2->Edit4->SetText(HiveToName(change.RootKey));
    ShowProgramIcon(Form2->Edit3->Text());
    change.Shown = lines;
  }
  if (!change.Title.empty()) Form2->SetText(change.Title);
  if (!change.ValueName.empty()) Form2->sLabelFX1->SetText(change.ValueName);
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
