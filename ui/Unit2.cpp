#include "ui/Unit2.h"

#include <vector>

#include "lib/Hives.h"
#include "lib/uUtils.h"
#include "monitor/ChangeTexts.h"
#include "monitor/RegSnapshot.h"
#include "monitor/RegistryAccess.h"
#include "toolkit/AnsiPaths.h"
#include "ui/ActionPaths.h"
#include "ui/PutBack.h"
#include "ui/SwitchOff.h"
#include "ui/UiTexts.h"
#include "ui/Unit1.h"
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
  Edit5 = Place<TEdit>(*this, "Edit5", TabSheet1, 40, 244, 249, 21, 4);
  Edit5->SetVisible(false);
  Button4 = Place<TButton>(*this, "Button4", this, 6, 327, 30, 29, 4);
  Button4->SetText("<");
  Button4->SetVisible(false);
  Button5 = Place<TButton>(*this, "Button5", this, 320, 327, 30, 29, 5);
  Button5->SetText(">");
  Button5->SetVisible(false);
  // In the margin beside the time line, which nothing else uses.
  Button6 = Place<TButton>(*this, "Button6", TabSheet1, 293, 117, 42, 25, 5);
  Button6->SetText(texts::kPutBack);
  Button6->SetVisible(false);
  // In the margin beside the hive.
  Button7 = Place<TButton>(*this, "Button7", TabSheet1, 293, 70, 42, 25, 6);
  Button7->SetText(texts::kSwitchOff);
  Button7->SetVisible(false);
  // In the gap above the program path, which it is about.
  sLabelFX2 = Place<TsLabelFX>(*this, "sLabelFX2", TabSheet1, 40, 196, 0, 16);

  Button1->OnClick = [this] { Button1Click(); };
  Button2->OnClick = [this] { Button2Click(); };
  Button3->OnClick = [this] { Button3Click(); };
  Image2->OnClick = [this] { Image2Click(); };
  Image3->OnClick = [this] { Image3Click(); };
  Image4->OnClick = [this] { Image4Click(); };
  Button4->OnClick = [this] { Button4Click(); };
  Button5->OnClick = [this] { Button5Click(); };
  Button6->OnClick = [this] { Button6Click(); };
  Button7->OnClick = [this] { Button7Click(); };
}

void TForm2::ShowChanges(std::vector<TChangeRecord>& records, std::size_t dropped) {
  FChanges.AddDropped(dropped);
  if (records.empty()) return;
  FChanges.Add(records);
  Show();
  ShowPickedChange();
}

void TForm2::ShowPickedChange() {
  const TChangeRecord* change = FChanges.PickedRecord();
  if (!change) return;
  ShowWhereAndWhat(*change);
  ShowWholeTexts(*change);
  ShowChangeCount();
  ForgetDetails();
}

void TForm2::ShowPickedDetails() {
  const TChangeRecord* change = FChanges.PickedRecord();
  if (!change) return;
  if (Form1) Form1->ShowProgramIcon(change->Program);
  AskForSigner(*change);
}

// Until the picked change's own details come, none of another program's
// stand beside it.
void TForm2::ForgetDetails() {
  Image1->SetPicture(Services.Shell.EmptyIcon());
  ForgetSigner();
}

void TForm2::ForgetSigner() {
  sLabelFX2->SetText("");
  SignerAsked = 0;
  SignerFile.clear();
}

// The line stays empty until the check answers: a verdict from before the
// change was picked may be of another file than the one there now.
// A program on a share, or one named by a bare name, is told of at once:
// nothing is read for it. The check itself refuses a network drive.
void TForm2::AskForSigner(const TChangeRecord& change) {
  ForgetSigner();
  if (!Services.Signers || change.Program.empty()) return;
  SignerFile = SignedFileOf(Services.System, change.Program);
  if (SignerFile.empty()) {
    sLabelFX2->SetText(texts::kSignatureNotChecked);
    return;
  }
  SignerAsked = Services.Signers->AskFirst(SignerFile);
}

void TForm2::ShowKnownSigner() {
  TSignature signature;
  if (SignerAsked == 0 || !Services.Signers ||
      !Services.Signers->Known(SignerFile, SignerAsked, signature)) {
    return;
  }
  sLabelFX2->SetText(SignerLine(Services.Monitor.Text, signature));
}

std::uint64_t TForm2::SignerAskFor(const std::u16string& file) const {
  return SignerAsked != 0 && SignerFile == file ? SignerAsked : 0;
}

std::string SignerLine(const IRegistryText& view, const TSignature& signature) {
  switch (signature.Kind) {
    case TSignatureKind::Signed:
      return texts::kSignedByPrefix + view.ToAnsi(signature.Signer);
    case TSignatureKind::Unsigned:
      return texts::kNotSigned;
    case TSignatureKind::Invalid:
      return texts::kSignatureInvalid;
    case TSignatureKind::NotChecked:
      break;
  }
  return texts::kSignatureNotChecked;
}

void TForm2::ShowWhereAndWhat(const TChangeRecord& change) {
  Edit1->SetText(TimeLine(Services.Clock, change.Time));
  Edit2->SetText(change.Location);
  Edit3->SetText(change.Line);
  Edit4->SetText(change.Where == TLocationKind::StartupFolder   ? texts::kStartupFolder
                 : change.Where == TLocationKind::ScheduledTask ? texts::kScheduledTask
                                                                : HiveToName(change.RootKey));
  if (!change.Title.empty()) SetText(change.Title);
  // Always the picked change's own name (a default value's is "(默认)"), and
  // none for a notice: "删除" never acts on a value of another change.
  sLabelFX1->SetText(change.ValueName);
  Button6->SetVisible(CanPutBack(change));
  TSwitchTarget target;
  Button7->SetVisible(SwitchOf(change, target));
}

// What the fields cut off: the whole command line beneath the program path
// (shown only where the path leaves some out), and the whole key and line as
// the hints of their fields.
void TForm2::ShowWholeTexts(const TChangeRecord& change) {
  const std::string& data = change.Kind == TChangeKind::Deleted ? change.OldData : change.NewData;
  const bool dataCut = change.Kind != TChangeKind::Changed && data != change.Line;
  Edit5->SetText(dataCut ? data : std::string());
  Edit5->SetVisible(dataCut && !data.empty());
  Edit5->Hint = Edit5->Text();
  Edit2->Hint = change.Where == TLocationKind::StartupFolder
                    ? change.Location
                    : HiveToName(change.RootKey) + change.Location;
  Edit3->Hint = change.Line;
}

void TForm2::ShowChangeCount() {
  const std::size_t count = FChanges.Count();
  std::string page = texts::kAlertPage;
  if (count > 1) {
    page += ' ' + std::to_string(FChanges.PickedIndex() + 1) + '/' + std::to_string(count);
  }
  if (const std::size_t dropped = FChanges.DroppedCount()) {
    page += texts::kDroppedPrefix + std::to_string(dropped) + ')';
  }
  if (TabSheet1->Text() != page) TabSheet1->SetText(page);
  Button4->SetVisible(count > 1);
  Button5->SetVisible(count > 1);
}

// The user picks another change: its program's details at once, as nothing
// waits to be painted first.
void TForm2::Button4Click() {
  if (FChanges.PickOlder()) ShowPickedChangeWhole();
}

void TForm2::Button5Click() {
  if (FChanges.PickNewer()) ShowPickedChangeWhole();
}

void TForm2::ShowPickedChangeWhole() {
  ShowPickedChange();
  ShowPickedDetails();
}

std::string TimeLine(IClock& clock, const TLocalTime& time) {
  std::string line = texts::kRegistryChange + clock.ShortDate(time);
  if (time.Hour != 0 || time.Minute != 0 || time.Second != 0) line += ' ' + clock.LongTime(time);
  return line;
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
  if (PickedIsFile()) {
    DeleteReportedFile(sLabelFX1->Text());
  } else if (PickedIsTask()) {
    DeleteReportedTask();
  } else if (PickedIsSetting()) {
    Application().Host().ShowMessage(Handle(), texts::kSettingNotDeletedPrefix + sLabelFX1->Text());
  } else {
    DeleteReportedValue(sLabelFX1->Text());
  }
}

void TForm2::Button6Click() {
  Services.Sound.Stop();
  PutBackReportedValue();
}

void TForm2::Button7Click() {
  Services.Sound.Stop();
  SwitchOffReportedEntry();
}

void TForm2::Button2Click() {
  Services.Sound.Stop();
  for (TEdit* edit : {Edit1, Edit2, Edit3, Edit4, Edit5}) edit->SetText("");
  sLabelFX1->SetText("");
  ForgetDetails();
  Edit5->SetVisible(false);
  Button6->SetVisible(false);
  Button7->SetVisible(false);
  for (TEdit* edit : {Edit2, Edit3, Edit5}) edit->Hint.clear();
  FChanges.Clear();
  ShowChangeCount();
  if (Form1) Form1->ChangesConfirmed();
  Close();
}

// The scan tool and the file manager are started by their full paths, not
// through the shell: the shell would look a program up through the search
// path and App Paths, and find the command that opens a folder among the
// user's own classes, all of which any program of the user can write; the
// guard would then run what they name with its rights.

void TForm2::Button3Click() {
  Services.Sound.Stop();
  const IRegistryText& view = Services.Monitor.Text;
  // The file first: what the text names is told of before where the tool lies.
  const TActionTarget file = ExistingFile(Services.System, view, ProgramFact());
  if (TellRefusal(Handle(), file)) return;
  const TActionTarget tool = ScanTool(Services.System, view, Services.CodePage);
  if (TellRefusal(Handle(), tool)) return;
  if (!Services.Launcher.Start(CommandLine(tool.Path, file.Path))) {
    TellRefusal(Handle(),
                {std::u16string(), texts::kScanToolNotFoundPrefix + view.ToAnsi(tool.Path)});
  }
}

void TForm2::Image2Click() {
  const IRegistryText& view = Services.Monitor.Text;
  const TChangeRecord* change = FChanges.PickedRecord();
  // A startup folder's record names the folder itself; any other, a file in it.
  const std::u16string file =
      PickedIsFile() ? FactOf(*Edit2, change->Location, change->Key) + u"\\" : ProgramFact();
  const TActionTarget folder = ExistingFolderOf(Services.System, view, file);
  if (TellRefusal(Handle(), folder)) return;
  const TActionTarget explorer = FileManager(Services.System, view);
  if (TellRefusal(Handle(), explorer)) return;
  if (!Services.Launcher.Start(CommandLine(explorer.Path, folder.Path))) {
    TellRefusal(Handle(),
                {std::u16string(), texts::kFileNotFoundPrefix + view.ToAnsi(explorer.Path)});
  }
}

void TForm2::Image3Click() {
  // A file's location is its folder, not a registry key; a task's, its program's.
  if (PickedIsFile() || PickedIsTask()) {
    Image2Click();  // no registry location: the folder instead
    return;
  }
  const IRegistryText& view = Services.Monitor.Text;
  const TChangeRecord* change = FChanges.PickedRecord();
  const std::string hive = change ? HiveToName(change->RootKey) : std::string();
  const std::u16string key =
      FactOf(*Edit4, hive, std::u16string(hive.begin(), hive.end())) +
      FactOf(*Edit2, change ? change->Location : std::string(), change ? change->Key : u"");
  JumpToRegKey(Services.Windows, Services.Launcher, view.FromAnsi(GetWindowsDir(Services.System)),
               key);
}

void TForm2::Image4Click() {
  const TActionTarget file = ExistingFile(Services.System, Services.Monitor.Text, ProgramFact());
  if (TellRefusal(Handle(), file)) return;
  Services.Shell.ShowProperties(Application().Host().ApplicationWindow(), file.Path);
}

std::u16string TForm2::FactOf(const TEdit& edit, const std::string& shown,
                              const std::u16string& exact) const {
  const std::string typed = edit.Text();
  if (FChanges.PickedRecord() && typed == shown) return exact;
  return Services.Monitor.Text.FromAnsi(typed);
}

// Edit3 shows the program path, or a changed entry's whole line: either way
// the program is the one the record names.
std::u16string TForm2::ProgramFact() const {
  const TChangeRecord* change = FChanges.PickedRecord();
  return FactOf(*Edit3, change ? change->Line : std::string(),
                change ? change->Program : std::u16string());
}

// The reported value's own name when `shownName` is how the picked change
// shows it: a name with characters code page 936 lacks then still deletes
// exactly that value, never another whose name shows alike, and "(默认)"
// the key's default value, never a value of that name.
std::u16string TForm2::IdentityOf(const std::string& shownName) const {
  const TChangeRecord* change = FChanges.PickedRecord();
  if (change && change->ValueName == shownName) return change->Identity;
  return Services.Monitor.Text.FromAnsi(shownName);
}

// The key the fields name: the picked change's own key, exactly, while
// neither field was typed into; else the key typed.
std::unique_ptr<IRegKey> TForm2::OpenReportedKey() {
  constexpr std::uint32_t access = kKeyAllAccess | kKeyWow64_64Key;
  IRegistry& registry = Services.Monitor.Registry;
  const TChangeRecord* change = FChanges.PickedRecord();
  if (change && change->Where == TLocationKind::RegistryKey &&
      Edit4->Text() == HiveToName(change->RootKey) && Edit2->Text() == change->Location) {
    // The watched location's path comes from the program's own table (ASCII);
    // the subkey that holds the value is opened by its exact name.
    const std::u16string& subKey = change->IdentitySubKey;
    const std::u16string tail = subKey.empty() ? std::u16string() : u'\\' + subKey;
    if (change->Key.size() < tail.size() ||
        change->Key.compare(change->Key.size() - tail.size(), tail.size(), tail) != 0) {
      return nullptr;  // a record whose facts do not agree names no key
    }
    const std::size_t cut = change->Key.size() - tail.size();
    const std::string location(change->Key.begin(), change->Key.begin() + cut);
    std::unique_ptr<IRegKey> key =
        registry.OpenKey(change->RootKey, std::string(SubKeyOf(location)), access);
    if (!key || subKey.empty()) return key;
    return key->OpenSubKey(subKey, access);
  }
  const HiveHandle hive = NameToHive(Edit4->Text());
  if (hive == 0) return nullptr;
  return registry.OpenKey(hive, std::string(SubKeyOf(Edit2->Text())), access);
}

void TForm2::DeleteReportedValue(const std::string& valueName) {
  IApplicationHost& host = Application().Host();
  std::unique_ptr<IRegKey> key = OpenReportedKey();
  // A notice names no value, and an empty label after "确定" none either:
  // the key's default value is deleted only where a change reported it.
  const TChangeRecord* change = FChanges.PickedRecord();
  const bool namesValue = change ? change->Kind == TChangeKind::Added ||
                                       change->Kind == TChangeKind::Deleted ||
                                       change->Kind == TChangeKind::Changed
                                 : !valueName.empty();
  if (!key) {
    host.ShowMessage(Handle(), texts::kKeyNotFound);
  } else if (namesValue && key->DeleteValue(IdentityOf(valueName)) == kErrorSuccess) {
    host.ShowMessage(Handle(), texts::kDeletedPrefix + valueName);
  } else {
    host.ShowMessage(Handle(), texts::kNotFoundPrefix + valueName);
  }
}

// Acts on the key the fields name, as "删除" does, and on the picked
// change's own value; putting it back is a change the guard then reports.
void TForm2::PutBackReportedValue() {
  IApplicationHost& host = Application().Host();
  const TChangeRecord* change = FChanges.PickedRecord();
  if (!change || !CanPutBack(*change)) return;
  const std::string name = change->ValueName;
  TPutBackResult result = TPutBackResult::Failed;
  if (IsFilePutBack(*change)) {
    result = PutBack(Services.Monitor.Folders, *change);
  } else if (std::unique_ptr<IRegKey> key = OpenReportedKey()) {
    result = PutBack(*key, *change);
  } else {
    host.ShowMessage(Handle(), texts::kKeyNotFound);
    return;
  }
  switch (result) {
    case TPutBackResult::PutBack:
      host.ShowMessage(Handle(), texts::kPutBackPrefix + name);
      break;
    case TPutBackResult::ChangedSince:
      host.ShowMessage(Handle(), texts::kChangedSincePrefix + name);
      break;
    case TPutBackResult::Failed:
      host.ShowMessage(Handle(), texts::kNotPutBackPrefix + name);
      break;
  }
}

// Writes the picked entry's switch under its exact name; the guard then
// reports the switch as a change of its own.
void TForm2::SwitchOffReportedEntry() {
  const TChangeRecord* change = FChanges.PickedRecord();
  TSwitchTarget target;
  if (!change || !SwitchOf(*change, target)) return;
  const bool done = SwitchOff(Services.Monitor.Registry, target, Services.Clock.FileTimeNow());
  Application().Host().ShowMessage(
      Handle(),
      (done ? texts::kSwitchedOffPrefix : texts::kNotSwitchedOffPrefix) + change->ValueName);
}

// The label still names the picked setting (the user cannot type into it).
bool TForm2::PickedIsSetting() const {
  const TChangeRecord* change = FChanges.PickedRecord();
  return change && change->Setting && change->ValueName == sLabelFX1->Text();
}

bool TForm2::PickedIsFile() const {
  const TChangeRecord* change = FChanges.PickedRecord();
  return change && change->Where == TLocationKind::StartupFolder;
}

bool TForm2::PickedIsTask() const {
  const TChangeRecord* change = FChanges.PickedRecord();
  return change && change->Where == TLocationKind::ScheduledTask;
}

// The scheduler deletes the task by the record's own folder and name, once
// the user has seen which task and which program; a task already gone is no
// task of another's.
void TForm2::DeleteReportedTask() {
  IApplicationHost& host = Application().Host();
  const TChangeRecord* change = FChanges.PickedRecord();
  if (!change || change->Identity.empty()) return;
  const std::string name = change->ValueName;
  if (change->Kind == TChangeKind::Deleted) {
    host.ShowMessage(Handle(), texts::kNotFoundPrefix + name);
    return;
  }
  if (!host.Confirm(Handle(), texts::kConfirmDeleteTask + name + texts::kConfirmDeleteTaskProgram +
                                  change->ProgramPath)) {
    return;
  }
  const bool deleted = Services.Tasks.DeleteTask(change->IdentitySubKey, change->Identity);
  host.ShowMessage(Handle(), (deleted ? texts::kDeletedPrefix : texts::kNotDeletedPrefix) + name);
}

// The file is named as the folder holds it (the record's own names), so
// that a name with characters code page 936 lacks deletes exactly that file.
void TForm2::DeleteReportedFile(const std::string& fileName) {
  IApplicationHost& host = Application().Host();
  const TChangeRecord* change = FChanges.PickedRecord();
  std::u16string folder = change ? change->IdentitySubKey : std::u16string();
  if (folder.empty()) folder = Services.Monitor.Text.FromAnsi(Edit2->Text());
  if (!folder.empty() && folder.back() != u'\\') folder += u'\\';
  if (!fileName.empty() && Services.Monitor.Folders.DeleteFileAt(folder + IdentityOf(fileName))) {
    host.ShowMessage(Handle(), texts::kDeletedPrefix + fileName);
  } else {
    host.ShowMessage(Handle(), texts::kNotFoundPrefix + fileName);
  }
}

}  // namespace kw
