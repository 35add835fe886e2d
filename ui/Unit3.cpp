#include "ui/Unit3.h"

#include "ui/AdminOnly.h"
#include "ui/UiTexts.h"

namespace kw {

using namespace vcl;

TForm3* Form3 = nullptr;

namespace {
constexpr std::uint32_t kAutostartAccess = kKeyAllAccess | kKeyWow64_64Key;
}

TForm3::TForm3(TComponent* owner, TServices& services) : TForm(owner, "Form3"), Services(services) {
  SetText(texts::kOptionsCaption);
  ClientWidth = 303;
  ClientHeight = 191;
  CentreOnFirstShow = true;

  PageControl1 = new TPageControl(this, "PageControl1", this);
  PageControl1->SetBounds(0, 0, ClientWidth, ClientHeight);
  PageControl1->TabOrder = 0;
  TabSheet1 = new TTabSheet(this, "TabSheet1", PageControl1);
  TabSheet1->SetText(texts::kOptionsCaption);
  GroupBox1 = new TGroupBox(this, "GroupBox1", TabSheet1);
  GroupBox1->SetBounds(3, 3, 286, 118);
  GroupBox1->SetText(texts::kGeneral);
  GroupBox1->TabOrder = 0;
  CheckBox1 = new TCheckBox(this, "CheckBox1", GroupBox1);
  CheckBox1->SetBounds(24, 32, 169, 17);
  CheckBox1->SetText(texts::kStartWithWindows);
  CheckBox1->TabOrder = 0;
  CheckBox1->OnClick = [this] { CheckBox1Click(); };
  CheckBox3 = new TCheckBox(this, "CheckBox3", GroupBox1);
  CheckBox3->SetBounds(24, 72, 217, 17);
  CheckBox3->SetText(texts::kAlarmOption);
  CheckBox3->TabOrder = 1;
  Button1 = new TButton(this, "Button1", TabSheet1);
  Button1->SetBounds(104, 127, 79, 29);
  Button1->SetText(texts::kOk);
  Button1->TabOrder = 1;
  Button1->OnClick = [this] { Button1Click(); };
}

void TForm3::FormCreate() {
  Store = std::make_unique<TxIniFile>(Services.Profile, Services.CodePage,
                                      Services.System.ProgramPath());
  Store->SetForm(this);
  Loading = true;
  Store->SaveLoad(false);  // a stored "1" for CheckBox1 registers the program again
  Loading = false;
}

void TForm3::FormClose() {
  // A failed save throws before the dialog is hidden: it stays open.
  if (Store) Store->SaveLoad(true);
}

void TForm3::Button1Click() {
  Close();
}

void TForm3::CheckBox1Click() {
  if (CheckBox1->Checked()) {
    const std::string program = Services.System.ProgramPath();
    // Quoted: a path with blanks is otherwise read up to its first blank.
    WriteAutostartValue(kAutostartName, QuotedPath(program));
    // Windows blocks the value at logon, as the program asks for elevation:
    // the task starts it. A failure is shown at once, as every error is, but
    // not raised: at start-up the rest of the options still loads.
    const TChangeCheck check = WhoCanChange(Services.System, Services.CodePage, program);
    if (check.Result == TChangeableBy::AdminsOnly) {
      Application().Guard([&] { Services.LogonTask.Register(program); });
      return;
    }
    // Started with the highest rights at every logon, a program that any
    // program of the user can change or put a DLL beside would give that
    // program administrator rights without a prompt. A task an earlier run
    // registered for this place goes too.
    Application().Guard([&] { Services.LogonTask.Remove(); });
    if (!Loading) {
      Application().Host().ShowMessage(Handle(), texts::kLogonTaskRefused +
                                                     std::string(texts::kNewLine) +
                                                     ChangeCheckText(Services.System, check));
    }
  } else {
    DeleteAutostartValue(kAutostartName);
    Application().Guard([&] { Services.LogonTask.Remove(); });
  }
}

void TForm3::WriteAutostartValue(const std::string& name, const std::string& data) {
  IRegistry& registry = Services.Monitor.Registry;
  if (registry.CreateKey(kHkeyCurrentUser, kAutostartKey, kAutostartAccess) != kErrorSuccess) {
    throw ERegistryException(std::string("Failed to create key ") + kAutostartKey);
  }
  std::unique_ptr<IRegKey> key =
      registry.OpenKey(kHkeyCurrentUser, kAutostartKey, kAutostartAccess);
  if (!key) return;
  if (key->SetStringValue(name, data) != kErrorSuccess) {
    throw ERegistryException("Failed to set data for '" + name + "'");
  }
}

void TForm3::DeleteAutostartValue(const std::string& name) {
  IApplicationHost& host = Application().Host();
  std::unique_ptr<IRegKey> key =
      Services.Monitor.Registry.OpenKey(kHkeyCurrentUser, kAutostartKey, kAutostartAccess);
  if (!key) {
    host.ShowMessage(Handle(), texts::kKeyNotFound);
  } else if (key->DeleteValue(Services.Monitor.Text.FromAnsi(name)) == kErrorSuccess) {
    host.ShowMessage(Handle(), texts::kDeletedPrefix + name);
  } else {
    host.ShowMessage(Handle(), texts::kNotFoundPrefix + name);
  }
}

}  // namespace kw
