// The INI file, the form state store, the options dialog and the alarm.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>

#include "lib/IniProfile.h"
#include "lib/xinifile.h"
#include "platform/LogonTask.h"
#include "tests/common/ProfileCases.h"
#include "tests/native/UiHarness.h"
#include "ui/UiTexts.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"
#include "ui/Unit3.h"

namespace kw::test {
namespace {

std::string TempFolder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/keywarden-ini.XXXXXX";
    return std::string(mkdtemp(pattern)) + "/";
  }();
  return folder;
}

TEST(IniProfile, TheSharedCases) {
  TIniProfile profile;
  RunProfileCases(profile, TempFolder());
}

TEST(IniProfile, RandomAndBinaryTextNeitherCrashesNorHangs) {
  std::mt19937 random(3);
  const std::string alphabet = "[]=;\r\n \t\"'abcAB\x00\xFF\xD6\xD0";
  const auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int length = std::uniform_int_distribution<int>(0, 300)(random);
    for (int i = 0; i < length; ++i) {
      text += random() % 4 ? alphabet[random() % alphabet.size()] : static_cast<char>(random());
    }
    ReadProfileText(text, "a", "b", "d");
    const std::string written = WriteProfileText(text, "a", "b", "v");
    EXPECT_EQ(ReadProfileText(written, "A", "B", "d"), "v");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

// Files in memory whose every step can fail, as a full disk, a quota, a
// crash or another program holding the file make them fail.
class FailingFileStore : public IFileStore {
 public:
  enum TStep { None, Read, ReadPart, Create, WriteShort, Flush, Rename };
  TRead ReadAll(const std::string& path, std::string& bytes) override {
    auto it = Files.find(path);
    if (it == Files.end()) return TRead::Missing;
    if (Failing == Read) return TRead::Failed;
    bytes = it->second;
    if (Failing == ReadPart) bytes.resize(bytes.size() / 2);
    return Failing == ReadPart ? TRead::Failed : TRead::Whole;
  }
  bool WriteFlushed(const std::string& path, const std::string& bytes) override {
    if (Failing == Create) return false;
    Files[path] = bytes;
    if (Failing == WriteShort) Files[path].resize(bytes.size() / 2);
    return Failing != WriteShort && Failing != Flush;
  }
  bool Replace(const std::string& from, const std::string& to) override {
    if (Failing == Rename || !Files.count(from)) return false;
    Files[to] = Files[from];
    Files.erase(from);
    return true;
  }
  void Remove(const std::string& path) override { Files.erase(path); }

  std::map<std::string, std::string> Files;
  TStep Failing = None;
};

TEST(IniProfile, AFailedStepLeavesTheOldFileAndNoTemporaryOne) {
  const std::string file = "C:\\Tools\\/Keywarden.ini";
  const std::string old = "[Form3]\r\nCheckBox1=1\r\nCheckBox3=1\r\n";
  for (auto step :
       {FailingFileStore::Read, FailingFileStore::ReadPart, FailingFileStore::Create,
        FailingFileStore::WriteShort, FailingFileStore::Flush, FailingFileStore::Rename}) {
    FailingFileStore files;
    files.Files[file] = old;
    files.Failing = step;
    TIniProfile profile(files);
    EXPECT_FALSE(profile.WriteString(file, "Form3", "CheckBox1", "0")) << step;
    EXPECT_EQ(files.Files, (std::map<std::string, std::string>{{file, old}})) << step;
    // What cannot be read whole is not taken for the file's text.
    EXPECT_EQ(profile.ReadString(file, "Form3", "CheckBox3", "d"),
              step == FailingFileStore::Read || step == FailingFileStore::ReadPart ? "d" : "1");
  }
  FailingFileStore files;
  files.Files[file] = old;
  TIniProfile profile(files);
  ASSERT_TRUE(profile.WriteString(file, "Form3", "CheckBox1", "0"));
  EXPECT_EQ(
      files.Files,
      (std::map<std::string, std::string>{{file, "[Form3]\r\nCheckBox1=0\r\nCheckBox3=1\r\n"}}));
  ASSERT_TRUE(profile.WriteString("C:\\new.ini", "S", "K", "V"));  // a missing file is made
  EXPECT_EQ(files.Files["C:\\new.ini"], "[S]\r\nK=V\r\n");
}

TEST(IniFile, IntegerAndBooleanConversions) {
  TIniProfile profile;
  const std::string file = TempFolder() + "conv.ini";
  WriteBytes(file,
             "[S]\nTwo=2\nMinus=-1\nHex=0x10\nDollar=$1F\nYes=yes\nEmpty=\nZero=0\n"
             "Blank=  12\nBareX=0x\nHuge=99999999999\n");
  TIniFile ini(profile, file);
  for (const char* key : {"Two", "Minus", "Hex"}) EXPECT_TRUE(ini.ReadBool("S", key, false)) << key;
  for (const char* key : {"Yes", "Empty", "BareX", "Missing"}) {
    EXPECT_FALSE(ini.ReadBool("S", key, false)) << key;
    EXPECT_TRUE(ini.ReadBool("S", key, true)) << key;
  }
  EXPECT_FALSE(ini.ReadBool("S", "Zero", true));
  EXPECT_EQ(ini.ReadInteger("S", "Hex", 0), 16);
  EXPECT_EQ(ini.ReadInteger("S", "Dollar", 0), 31);
  EXPECT_EQ(ini.ReadInteger("S", "Blank", 0), 12);
  EXPECT_EQ(ini.ReadInteger("S", "Huge", 7), 7);
  ini.WriteBool("S", "B", true);
  ini.WriteInteger("S", "I", -1);
  EXPECT_EQ(ini.ReadString("S", "B", ""), "1");
  EXPECT_EQ(ini.ReadString("S", "I", ""), "-1");
}

TEST(IniFile, AFailedWriteNamesTheFile) {
  TIniProfile profile;
  TIniFile ini(profile, TempFolder() + "no/such/folder/x.ini");
  try {
    ini.WriteString("S", "K", "V");
    FAIL();
  } catch (const EIniFileException& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + TempFolder() + "no/such/folder/x.ini");
  }
}

TEST(xinifile, FileNameBesideTheProgram) {
  fake::FakeCodePage gbk;
  const std::pair<const char*, const char*> rows[] = {
      {"C:\\Tools\\x.exe", "C:\\Tools\\/x.ini"},
      {"C:\\Tools\\my.tool.exe", "C:\\Tools\\/my.ini"},
      {"C:\\Tools\\plain", "C:\\Tools\\/plain.ini"},
      // 監淺.exe: 淺 ends in the byte of a backslash, 監 in that of an "O".
      {"C:\\Tools\\\xB1\x4F\x9C\x5C.exe", "C:\\Tools\\/\xB1\x4F\x9C\x5C.ini"},
      {"C:\\\xB1\x4F\x9C\x5C\\x.exe", "C:\\\xB1\x4F\x9C\x5C\\/x.ini"},
      {"D:\xB1\x4F\x9C\x5C.exe", "D:/\xB1\x4F\x9C\x5C.ini"},
  };
  for (const auto& [program, ini] : rows) EXPECT_EQ(IniFileNameFor(program, gbk), ini) << program;
}

// The text between the first <tag ...> and its </tag>.
std::string Inner(const std::string& xml, const std::string& tag) {
  const std::size_t open = xml.find("<" + tag);
  const std::size_t close = xml.find("</" + tag + ">");
  if (open == std::string::npos || close == std::string::npos) return "<missing>";
  const std::size_t begin = xml.find('>', open) + 1;
  return xml.substr(begin, close - begin);
}

TEST(LogonTaskXml, ALogonTriggerAndTheHighestLevelForTheUser) {
  const std::string xml = LogonTaskXml("S-1-5-21-7-8-9-1001", "C:\\k.exe");
  EXPECT_EQ(Inner(xml, "Triggers"),
            "<LogonTrigger><Enabled>true</Enabled><UserId>S-1-5-21-7-8-9-1001</UserId>"
            "</LogonTrigger>");
  EXPECT_EQ(Inner(xml, "Principals"),
            "<Principal id=\"Author\"><UserId>S-1-5-21-7-8-9-1001</UserId>"
            "<LogonType>InteractiveToken</LogonType><RunLevel>HighestAvailable</RunLevel>"
            "</Principal>");
  const std::pair<const char*, const char*> settings[] = {
      {"ExecutionTimeLimit", "PT0S"},
      {"MultipleInstancesPolicy", "IgnoreNew"},
      {"DisallowStartIfOnBatteries", "false"},
      {"StopIfGoingOnBatteries", "false"},
      {"AllowStartOnDemand", "true"},
      {"Enabled", "true"},
      {"Priority", "5"},
  };
  const std::string inSettings = Inner(xml, "Settings");
  for (const auto& [name, value] : settings) EXPECT_EQ(Inner(inSettings, name), value) << name;
  EXPECT_EQ(Inner(xml, "Actions"), "<Exec><Command>\"C:\\k.exe\"</Command></Exec>");
  EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-16\"?>", 0), 0u);
}

TEST(LogonTaskXml, TheProgramPathIsQuotedAndEscaped) {
  const std::pair<const char*, const char*> rows[] = {
      {"C:\\Program Files\\Keywarden\\Keywarden.exe",
       "\"C:\\Program Files\\Keywarden\\Keywarden.exe\""},
      {"C:\\R&D <new>\\k.exe", "\"C:\\R&amp;D &lt;new&gt;\\k.exe\""},
      // 監淺 (B1 4F 9C 5C): bytes of an "O" and a backslash inside characters.
      {"C:\\\xB1\x4F\x9C\x5C\\k.exe", "\"C:\\\xB1\x4F\x9C\x5C\\k.exe\""},
  };
  for (const auto& [path, command] : rows) {
    EXPECT_EQ(Inner(LogonTaskXml("S-1-5-18", path), "Command"), command) << path;
  }
  EXPECT_EQ(Inner(LogonTaskXml("R&D\\<me>", "C:\\k.exe"), "UserId"), "R&amp;D\\&lt;me&gt;");
}

// A form with one control of each kind the store knows, and some it skips.
class TStoreForm : public vcl::TForm {
 public:
  TStoreForm() : TForm(nullptr, "Stored") {
    Masked = new vcl::TEdit(this, "Masked", this);
    Masked->PasswordChar = '*';
    Plain = new vcl::TEdit(this, "Plain", this);
    Box = new vcl::TCheckBox(this, "Box", this);
    Box->OnClick = [this] { ++BoxClicks; };
    Radio1 = new vcl::TRadioButton(this, "Radio1", this);
    Radio2 = new vcl::TRadioButton(this, "Radio2", this);
    Combo = new vcl::TComboBox(this, "Combo", this);
    Button = new vcl::TButton(this, "Button", this);
    Button->SetText("never stored");
    Group = new vcl::TGroupBox(this, "Group", this);
  }
  vcl::TEdit *Masked, *Plain;
  vcl::TCheckBox* Box;
  vcl::TRadioButton *Radio1, *Radio2;
  vcl::TComboBox* Combo;
  vcl::TButton* Button;
  vcl::TGroupBox* Group;
  int BoxClicks = 0;
};

class StoreTest : public ::testing::Test {
 protected:
  std::string Text() { return Profile.Files.count(File) ? Profile.Files[File] : ""; }
  fake::FakeProfile Profile;
  fake::FakeCodePage CodePage;
  const std::string Program = "C:\\Tools\\store.exe";
  const std::string File = "C:\\Tools\\/store.ini";
  TStoreForm Form;
};

TEST_F(StoreTest, UnboundOrWithoutAFileNothingHappens) {
  TxIniFile store(Profile, CodePage, Program);
  store.SaveLoad(true);
  EXPECT_EQ(Text(), "");
  store.SetForm(&Form);
  store.SaveLoad(false);
  EXPECT_EQ(Form.BoxClicks, 0);
  EXPECT_FALSE(Form.Box->Checked());
}

TEST_F(StoreTest, SavesEachKindByItsRuleInComponentOrder) {
  Form.Masked->SetText("secret");
  Form.Plain->SetText("hello");
  Form.Box->SetChecked(true);
  Form.Radio2->SetChecked(true);
  TxIniFile store(Profile, CodePage, Program);
  store.SetForm(&Form);
  store.SaveLoad(true);
  EXPECT_EQ(Text(),
            "[Stored]\r\nMasked=\r\nPlain=hello\r\nBox=1\r\nRadio1=0\r\nRadio2=1\r\nCombo=-1\r\n");
}

TEST_F(StoreTest, LoadsThroughTheControlsOwnProperties) {
  Profile.Files[File] = std::string(
      "[Stored]\r\nMasked=kept?\r\nPlain=from file\r\nBox=0x10\r\nRadio1=1\r\nCombo=2\r\n");
  Form.Masked->SetText("typed");
  Form.Radio2->SetChecked(true);
  TxIniFile store(Profile, CodePage, Program);
  store.SetForm(&Form);
  store.SaveLoad(false);
  EXPECT_EQ(Form.Masked->Text(), "");
  EXPECT_EQ(Form.Plain->Text(), "from file");
  EXPECT_TRUE(Form.Box->Checked());
  EXPECT_EQ(Form.BoxClicks, 1);
  EXPECT_TRUE(Form.Radio1->Checked());
  EXPECT_FALSE(Form.Radio2->Checked());  // same parent: unchecked
  EXPECT_EQ(Form.Combo->ItemIndex, 2);
  store.SaveLoad(false);  // the state it has already: no click
  EXPECT_EQ(Form.BoxClicks, 1);
}

// The options dialog and the alarm, on windowless forms.
class OptionsTest : public ::testing::Test, protected TFakeServices {
 protected:
  OptionsTest() {
    Form1 = &Main;
    Form2 = &Alert;
    Form3 = Options.get();
  }
  ~OptionsTest() override { Form1 = nullptr, Form2 = nullptr, Form3 = nullptr; }
  void Create() {
    Options->CreateWindowAndRun(Host);
    Alert.CreateWindowAndRun(Host);
  }
  std::string Autostart() {
    return Fake.Registry.ValueBytes(kHkeyCurrentUser, kAutostartKey, kAutostartName);
  }
  std::string IniText() { return Profile.Files.count(IniFile) ? Profile.Files[IniFile] : ""; }

  const std::string IniFile = "C:\\Program Files\\Keywarden\\/Keywarden.ini";
  const std::string Quoted = '"' + System.Path + '"';
  TForm1 Main{Services};
  TForm2 Alert{&Main, Services};
  std::unique_ptr<TForm3> Options = std::make_unique<TForm3>(&Main, Services);
};

TEST_F(OptionsTest, FirstStartTouchesNothingAndCheckingRegistersAtOnce) {
  Create();
  EXPECT_EQ(IniText(), "");
  EXPECT_TRUE(Fake.Registry.OpenedAccessRights().empty());
  EXPECT_TRUE(LogonTask.Calls.empty());
  Options->CheckBox1->Click();
  EXPECT_EQ(Autostart(), Quoted + '\0');
  EXPECT_EQ(LogonTask.Calls, std::vector<std::string>{"register " + System.Path});
  EXPECT_EQ(IniText(), "");  // saved only when the dialog is closed
  Options->Button1->Click();
  EXPECT_EQ(IniText(), "[Form3]\r\nCheckBox1=1\r\nCheckBox3=0\r\n");
  Options->CheckBox1->Click();  // off: deleted
  Options->CheckBox1->Click();  // on: written again
  Fake.Registry.DeleteValue(kHkeyCurrentUser, kAutostartKey, kAutostartName);
  Options->CheckBox1->Click();  // off: gone already
  EXPECT_EQ(Host.Messages,
            (std::vector<std::string>{std::string(texts::kDeletedPrefix) + "Keywarden",
                                      std::string(texts::kNotFoundPrefix) + "Keywarden"}));
  EXPECT_EQ(LogonTask.Calls, (std::vector<std::string>{"register " + System.Path, "remove",
                                                       "register " + System.Path, "remove"}));
  EXPECT_TRUE(Host.Errors.empty());
}

TEST_F(OptionsTest, ASavedOnOptionRegistersAgainAtStartAndOffLeavesTheValue) {
  Profile.Files[IniFile] = "[Form3]\r\nCheckBox1=1\r\nCheckBox3=1\r\n";
  Create();
  EXPECT_EQ(Autostart(), Quoted + '\0');
  EXPECT_TRUE(Options->CheckBox3->Checked());
  EXPECT_EQ(LogonTask.Calls, std::vector<std::string>{"register " + System.Path});

  Fake.Registry.SetString(kHkeyCurrentUser, kAutostartKey, kAutostartName, "C:\\old\\place.exe");
  Profile.Files[IniFile] = "[Form3]\r\nCheckBox1=0\r\n";
  auto again = std::make_unique<TForm3>(&Main, Services);
  again->CreateWindowAndRun(Host);
  EXPECT_EQ(Autostart(), std::string("C:\\old\\place.exe") + '\0');
  EXPECT_EQ(LogonTask.Calls.size(), 1u);
}

// A program that other programs of the user could change gets the value
// alone: no elevated task, an earlier one removed, and the user told why
// when the box is checked by hand.
TEST_F(OptionsTest, AProgramOthersCanChangeGetsTheValueButNoTask) {
  const std::string folder = "C:\\Program Files\\Keywarden";
  TFileSecurity open = FakeSystem::AdminsOnly();
  open.Allowed.push_back({"S-1-5-32-545", "", access::kWriteData, false});
  struct TRow {
    const char* Case;
    std::string Program;
    std::string Open;  // the path whose descriptor lets Users write, if any
    std::string Reason;
  };
  const TRow rows[] = {
      {"its folder writable by Users", System.Path, folder,
       "Users" + std::string(texts::kCanChangeInfix) + folder},
      {"in the user's own folder", "C:\\Users\\me\\Downloads\\Keywarden.exe",
       "C:\\Users\\me\\Downloads\\Keywarden.exe",
       "Users" + std::string(texts::kCanChangeInfix) + "C:\\Users\\me\\Downloads\\Keywarden.exe"},
      {"on a network drive", "N:\\Keywarden.exe", "",
       texts::kNotOnThisMachinePrefix + std::string("N:\\Keywarden.exe")},
  };
  System.NetworkDrives = {"N:\\"};
  for (const TRow& row : rows) {
    System.Path = row.Program;
    System.Descriptors.clear();
    if (!row.Open.empty()) System.Descriptors[row.Open] = open;
    LogonTask.Calls.clear();
    Host.Messages.clear();
    // At start, with the option saved on: nothing is shown.
    Profile.Files["C:\\Users\\me\\Downloads\\/Keywarden.ini"] = "[Form3]\r\nCheckBox1=1\r\n";
    Profile.Files["N:\\/Keywarden.ini"] = "[Form3]\r\nCheckBox1=1\r\n";
    Profile.Files[IniFile] = "[Form3]\r\nCheckBox1=1\r\n";
    auto options = std::make_unique<TForm3>(&Main, Services);
    options->CreateWindowAndRun(Host);
    EXPECT_EQ(Autostart(), '"' + row.Program + '"' + '\0') << row.Case;
    EXPECT_EQ(LogonTask.Calls, std::vector<std::string>{"remove"}) << row.Case;
    EXPECT_TRUE(Host.Messages.empty()) << row.Case;
    // Checked by hand: the value is written, the box says why there is no task.
    options->CheckBox1->Click();
    Host.Messages.clear();
    LogonTask.Calls.clear();
    options->CheckBox1->Click();
    EXPECT_EQ(Autostart(), '"' + row.Program + '"' + '\0') << row.Case;
    EXPECT_EQ(LogonTask.Calls, std::vector<std::string>{"remove"}) << row.Case;
    EXPECT_EQ(Host.Messages, std::vector<std::string>{texts::kLogonTaskRefused +
                                                      std::string(texts::kNewLine) + row.Reason})
        << row.Case;
    EXPECT_TRUE(Host.Errors.empty()) << row.Case;
  }
}

TEST_F(OptionsTest, ATaskFailureIsShownWhileTheValueAndTheOtherOptionStay) {
  Profile.Files[IniFile] = "[Form3]\r\nCheckBox1=1\r\nCheckBox3=1\r\n";
  LogonTask.FailRegister = true;
  Create();
  EXPECT_EQ(Host.Errors, std::vector<std::string>{"Keywarden: Failed to register the logon task."});
  EXPECT_EQ(Autostart(), Quoted + '\0');
  EXPECT_TRUE(Options->CheckBox1->Checked());
  EXPECT_TRUE(Options->CheckBox3->Checked());  // the load went on

  LogonTask.FailRemove = true;
  Options->CheckBox1->Click();
  EXPECT_EQ(Host.Messages,
            std::vector<std::string>{std::string(texts::kDeletedPrefix) + "Keywarden"});
  EXPECT_EQ(Host.Errors.back(), "Keywarden: Failed to remove the logon task.");
  EXPECT_FALSE(Options->CheckBox1->Checked());
}

TEST_F(OptionsTest, RegistryFailuresReachTheErrorHandler) {
  Create();
  Fake.Registry.FailCreateKey(true);
  EXPECT_THROW(Options->CheckBox1->Click(), ERegistryException);
  EXPECT_TRUE(Options->CheckBox1->Checked());
  EXPECT_TRUE(LogonTask.Calls.empty());  // raised before, as the value's failure always was
  Fake.Registry.FailCreateKey(false);
  Fake.Registry.FailSetValue(true);
  Options->CheckBox1->SetChecked(false);
  try {
    Options->CheckBox1->Click();
    FAIL();
  } catch (const ERegistryException& e) {
    EXPECT_EQ(std::string(e.what()), "Failed to set data for 'Keywarden'");
  }
}

TEST_F(OptionsTest, AFailedSaveKeepsTheDialogOpen) {
  Profile.Unwritable.insert(IniFile);
  Create();
  Options->Show();
  EXPECT_THROW(Options->Button1->Click(), EIniFileException);
  EXPECT_TRUE(Options->Visible());
}

TEST_F(OptionsTest, TheAlarmStartsFromHiddenAndStopsOnButtonsButNotPictures) {
  Create();
  Options->CheckBox3->SetChecked(true);
  auto notify = [&] {
    std::vector<TChangeRecord> records(1);
    records[0].Line = "C:\\a.exe";
    Main.Queue().Append(records);
    Main.WMRegChange();
  };
  notify();
  notify();  // visible already: not restarted
  Alert.Image2->Click();
  Alert.Image3->Click();
  Alert.Image4->Click();
  const std::string play = "play C:\\windows\\Media\\Tada.wav 11";
  EXPECT_EQ(Sound.Calls, std::vector<std::string>{play});
  Alert.Button3->Click();
  notify();  // silenced, still visible: stays silent
  EXPECT_EQ(Sound.Calls, (std::vector<std::string>{play, "stop"}));
  Alert.Close();
  Options->CheckBox3->SetChecked(false);
  notify();
  EXPECT_EQ(Sound.Calls, (std::vector<std::string>{play, "stop", "stop"}));
}

}  // namespace
}  // namespace kw::test
