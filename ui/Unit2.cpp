#include "ui/Unit2.h"

#include <vector>

#include "lib/Hives.h"
#include "lib/uUtils.h"
#include "monitor/RegSnapshot.h"
#include "monitor/RegistryAccess.h"
#include "toolkit/AnsiPaths.h"
#include "ui/ActionPaths.h"
#include "ui/UiTexts.h"
#include "ui/Unit3.h"

namespace kw {

using namespace vcl;

TForm2* Form2 = nullptr;

namespace {

template <typename T>
T* Place(TForm& form, const char* name, TWinControl* parent, int left, int top, int width,
         int height, int tabOrder = -1) {
  T* control = new T(&form, name, parent);
  control->SetBounds(left, top, width, height);
  control->TabOrder = tabOrder;
  return control;
}

TImage* ClickablePicture(TForm& form, const char* name, TWinControl* parent, int left, int top,
                         int width, int height, const char* hint) {
  TImage* image = Place<TImage>(form, name, parent, left, top, width, height);
  image->Hint = hint;
  image->Cursor = TCursor::HandPoint;
  return image;
}

// Tells the user, in a box above the alert, why an action does nothing;
// true when it did.
bool TellRefusal(std::uintptr_t alert, const TActionTarget& target) {
  if (target.Refusal.empty()) return false;
  Application().Host().ShowMessage(alert, target.Refusal);
  return true;
}

}  // namespace

TForm2::TForm2(TComponent* owner, TServices& services) : TForm(owner, "Form2"), Services(services) {
  SetText(texts::kAlertCaption);
  ClientWidth = 355;
  ClientHeight = 364;
  CentreOnFirstShow = true;

  PageControl1 = Place<TPageControl>(*this, "PageControl1", this, 6, 16, 345, 298, 0);
  TabSheet1 = new TTabSheet(this, "TabSheet1", PageControl1);
  TabSheet1->SetText(texts::kAlertPage);
  // Drawn in this order where they overlap: the label, then Image5, then Image1.
  sLabelFX1 = Place<TsLabelFX>(*this, "sLabelFX1", TabSheet1, 71, 15, 0, 22);
  sLabelFX1->Font.Height = 12;
  sLabelFX1->Font.Bold = true;
  sLabelFX1->Font.Underline = true;
  Image5 = Place<TImage>(*this, "Image5", TabSheet1, 40, 3, 46, 42);
  Image1 = Place<TImage>(*this, "Image1", TabSheet1, 40, 4, 46, 41);
  Edit4 = Place<TEdit>(*this, "Edit4", TabSheet1, 40, 72, 249, 21, 3);
  Edit1 = Place<TEdit>(*this, "Edit1", TabSheet1, 40, 119, 249, 21, 0);
  Edit2 = Place<TEdit>(*this, "Edit2", TabSheet1, 40, 168, 249, 21, 1);
  Image3 =
      ClickablePicture(*this, "Image3", TabSheet1, 293, 171, 26, 21, texts::kOpenRegistryLocation);
  Edit3 = Place<TEdit>(*this, "Edit3", TabSheet1, 40, 216, 249, 21, 2);
  Image2 =
      ClickablePicture(*this, "Image2", TabSheet1, 293, 219, 26, 25, texts::kOpenProgramFolder);
  Image4 = ClickablePicture(*this, "Image4", TabSheet1, 315, 219, 19, 18, texts::kFileProperties);
  Button2 = Place<TButton>(*this, "Button2", this, 41, 327, 87, 29, 2);
  Button2->SetText(texts::kOk);
  Button1 = Place<TButton>(*this, "Button1", this, 134, 327, 87, 29, 1);
  Button1->SetText(texts::kDelete);
  Button3 = Place<TButton>(*this, "Button3", this, 227, 327, 88, 29, 3);
  Button3->SetText(texts::kScanFile);

  Button1->OnClick = [this] { Button1Click(); };
  Button2->OnClick = [this] { Button2Click(); };
  Button3->OnClick = [this] { Button3Click(); };
  Image2->OnClick = [this] { Image2Click(); };
  Image3->OnClick = [this] { Image3Click(); };
  Image4->OnClick = [this] { Image4Click(); };
}

void TForm2::FormCreate() {
  for (auto [image, resource] : {std::pair{Image1, "IMAGE1"},
                                 {Image2, "IMAGE2"},
                                 {Image3, "IMAGE3"},
                                 {Image4, "IMAGE4"},
                                 {Image5, "IMAGE5"}}) {
    image->SetPicture(Factory()->LoadPicture(resource));
  }
  if (IControlPeer* peer = Peer()) peer->MakeTopmost();
}

// Coming up from hidden with the alarm option on: Tada.wav, looping, until
// the user acts on the dialog.
void TForm2::FormShow() {
  if (!Form3 || !Form3->CheckBox3->Checked()) return;
  Services.Sound.Play(GetWindowsDir(Services.System) + "\\Media\\" + "Tada.wav",
                      kSndAsync | kSndNoDefault | kSndLoop);
}

std::string GetWindowsDir(ISystem& system) {
  return system.WindowsDirectory();
}

void TForm2::FormClose() {
  Services.Sound.Stop();
}

// The buttons silence the alarm first; the pictures leave it playing.

void TForm2::Button1Click() {
  Services.Sound.Stop();
  DeleteReportedValue(sLabelFX1->Text());
}

void TForm2::Button2Click() {
  Services.Sound.Stop();
  for (TEdit* edit : {Edit1, Edit2, Edit3, Edit4}) edit->SetText("");
  sLabelFX1->SetText("");
  Close();
}

// The scan tool and the file manager are started by their full paths, not
// through the shell: the shell would look a program up through the search
// path and App Paths, and find the command that opens a folder among the
// user's own classes, all of which any program of the user can write; the
// guard would then run what they name with its rights.

void TForm2::Button3Click() {
  Services.Sound.Stop();
  const TActionTarget tool = ScanTool(Services.System, Services.CodePage);
  if (TellRefusal(Handle(), tool)) return;
  const TActionTarget file = ExistingFile(Services.System, Services.CodePage, Edit3->Text());
  if (TellRefusal(Handle(), file)) return;
  std::vector<char> commandLine = CommandLine(tool.Path, file.Path);
  if (!Services.Launcher.Start(commandLine)) {
    TellRefusal(Handle(), {std::string(), texts::kScanToolNotFoundPrefix + tool.Path});
  }
}

void TForm2::Image2Click() {
  const TActionTarget folder = ExistingFolderOf(Services.System, Services.CodePage, Edit3->Text());
  if (TellRefusal(Handle(), folder)) return;
  const TActionTarget explorer = FileManager(Services.System);
  if (TellRefusal(Handle(), explorer)) return;
  std::vector<char> commandLine = CommandLine(explorer.Path, folder.Path);
  if (!Services.Launcher.Start(commandLine)) {
    TellRefusal(Handle(), {std::string(), texts::kFileNotFoundPrefix + explorer.Path});
  }
}

void TForm2::Image3Click() {
  JumpToRegKey(Services.Windows, Services.Launcher, Services.CodePage,
               Edit4->Text() + Edit2->Text());
}

void TForm2::Image4Click() {
  const TActionTarget file = ExistingFile(Services.System, Services.CodePage, Edit3->Text());
  if (TellRefusal(Handle(), file)) return;
  Services.Shell.ShowProperties(Application().Host().ApplicationWindow(), file.Path);
}

void TForm2::DeleteReportedValue(const std::string& valueName) {
  IApplicationHost& host = Application().Host();
  // No reported value (the label is empty after "确定"): the key's default
  // value, which an empty name would name, was never reported, so it stays.
  const HiveHandle hive = NameToHive(Edit4->Text());
  std::unique_ptr<IRegKey> key;
  if (hive != 0) {
    key = Services.Monitor.Registry.OpenKey(hive, std::string(SubKeyOf(Edit2->Text())),
                                            kKeyAllAccess | kKeyWow64_64Key);
  }
  if (!key) {
    host.ShowMessage(Handle(), texts::kKeyNotFound);
  } else if (!valueName.empty() && key->DeleteValue(valueName) == kErrorSuccess) {
    host.ShowMessage(Handle(), texts::kDeletedPrefix + valueName);
  } else {
    host.ShowMessage(Handle(), texts::kNotFoundPrefix + valueName);
  }
}

}  // namespace kw
