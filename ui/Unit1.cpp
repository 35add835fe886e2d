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
  ShowInTaskbar = false;
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
  if (message == kWmCommand && (wParam & 0xFFFF) == kCommandOptions) {
    Options1Click();
    return true;
  }
  if (message != WM_REGCHANGE) return false;
  WMRegChange(*reinterpret_cast<TChangeData*>(wParam));
  return true;
}

std::string TForm1::TimeLine() {
  const TLocalTime now = Services.Clock.Now();
  std::string line = texts::kRegistryChange + Services.Clock.ShortDate(now);
  if (now.Hour != 0 || now.Minute != 0 || now.Second != 0) line += ' ' + Services.Clock.LongTime(now);
  return line;
}

void TForm1::WMRegChange(TChangeData& change) {
  Form2->Show();
  Form2->Edit1->SetText(TimeLine());
  Form2->Edit2->SetText(change.Key);
  while (change.Shown < static_cast<std::int32_t>(change.Changes.size())) {
    Form2->Edit3->SetText(change.Changes[static_cast<std::size_t>(change.Shown)]);
    Form2->Edit4->SetText(HiveToName(change.RootKey));
    ShowProgramIcon(Form2->Edit3->Text());
    ++change.Shown;
  }
  if (!change.Title.empty()) Form2->SetText(change.Title);
  if (!change.ValueName.empty()) Form2->sLabelFX1->SetText(change.ValueName);
}

void TForm1::Options1Click() {
  if (Form3) Form3->Show();
}

void TForm1::ShowProgramIcon(const std::string& path) {
  Form2->Image1->SetPicture(Services.Shell.ExtractProgramIcon(path));
}

}  // namespace kw
