// The alert's six actions, the folder part, and the walk of the registry editor.

#include <gtest/gtest.h>

#include "lib/uUtils.h"
#include "monitor/ChangeTexts.h"
#include "tests/native/UiHarness.h"
#include "toolkit/AnsiPaths.h"
#include "ui/AdminOnly.h"
#include "ui/UiTexts.h"
#include "ui/Unit2.h"

namespace kw::test {
namespace {

constexpr char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// How the folder action starts the file manager, before the folder's path.
const std::string kExplorer = "\"C:\\windows\\explorer.exe\" ";

class ActionsTest : public ::testing::Test, protected TFakeServices {
 protected:
  ActionsTest() {
    Form2 = &Alert;
    Alert.CreateWindowAndRun(Host);
    Fake.Registry.SetString(kHkeyCurrentUser, kRun, "Tool", "C:\\Tool\\t.exe");
    Alert.Edit4->SetText("HKEY_CURRENT_USER");
    Alert.Edit2->SetText(std::string("\\") + kRun);
    Alert.Edit3->SetText("C:\\Program Files\\Tool\\t.exe");
    Alert.sLabelFX1->SetText("Tool");
    Alert.Show();
  }
  ~ActionsTest() override { Form2 = nullptr; }

  // What the actions asked of the shell, then the programs they started.
  std::vector<std::string> Requests() const {
    std::vector<std::string> requests = Shell.Requests;
    requests.insert(requests.end(), Editor.Started.begin(), Editor.Started.end());
    return requests;
  }
  void ClearRequests() {
    Shell.Requests.clear();
    Editor.Started.clear();
  }

  TForm2 Alert{nullptr, Services};
};

TEST_F(ActionsTest, DeleteRemovesTheValueOnceThenFindsItGone) {
  Alert.Button1->Click();
  EXPECT_FALSE(Fake.Registry.HasValue(kHkeyCurrentUser, kRun, "Tool"));
  Alert.sLabelFX1->SetText("TOOL");  // the registry ignores case
  Fake.Registry.SetString(kHkeyCurrentUser, kRun, "Tool", "x");
  Alert.Button1->Click();
  Alert.Button1->Click();
  EXPECT_EQ(Host.Messages,
            (std::vector<std::string>{std::string(texts::kDeletedPrefix) + "Tool",
                                      std::string(texts::kDeletedPrefix) + "TOOL",
                                      std::string(texts::kNotFoundPrefix) + "TOOL"}));
  EXPECT_TRUE(Alert.Visible());
  EXPECT_EQ(Alert.Edit3->Text(), "C:\\Program Files\\Tool\\t.exe");
  EXPECT_EQ(Sound.Calls, (std::vector<std::string>{"stop", "stop", "stop"}));
}

TEST_F(ActionsTest, DeleteReportsAKeyItCannotOpen) {
  for (const char* hive : {"", "HKEY_BOGUS", "HKEY_LOCAL_MACHINE"}) {
    Alert.Edit4->SetText(hive);
    Alert.Button1->Click();
  }
  Alert.Edit4->SetText("hkey_current_user");
  Alert.Edit2->SetText("\\Software\\Missing");
  Alert.Button1->Click();
  EXPECT_EQ(Host.Messages, std::vector<std::string>(4, texts::kKeyNotFound));
  EXPECT_TRUE(Fake.Registry.HasValue(kHkeyCurrentUser, kRun, "Tool"));
  EXPECT_EQ(Fake.Registry.OpenedAccessRights().back(), kKeyAllAccess | kKeyWow64_64Key);
}

TEST_F(ActionsTest, DeleteWithNoReportedNameLeavesTheDefaultValue) {
  Fake.Registry.SetString(kHkeyCurrentUser, kRun, "", "C:\\default.exe");
  Alert.sLabelFX1->SetText("");
  Alert.Button1->Click();
  EXPECT_TRUE(Fake.Registry.HasValue(kHkeyCurrentUser, kRun, ""));
  EXPECT_EQ(Host.Messages, std::vector<std::string>{texts::kNotFoundPrefix});
}

TEST_F(ActionsTest, OkEmptiesTheFieldsAndHidesButKeepsCaptionAndPicture) {
  Alert.SetText(texts::kTitleAdded);
  Alert.Button2->Click();
  for (auto* field : {Alert.Edit1, Alert.Edit2, Alert.Edit3, Alert.Edit4}) {
    EXPECT_EQ(field->Text(), "");
  }
  EXPECT_EQ(Alert.sLabelFX1->Text(), "");
  EXPECT_FALSE(Alert.Visible());
  EXPECT_EQ(Alert.Text(), texts::kTitleAdded);
  EXPECT_NE(Alert.Image1->Picture(), nullptr);
  EXPECT_EQ(Sound.Calls, (std::vector<std::string>{"stop", "stop"}));  // the button, then the close
}

TEST_F(ActionsTest, ScanStartsTheToolBesideTheProgramWithThePathAsOneQuotedArgument) {
  Alert.Edit3->SetText("\"C:\\Program Files\\Tool\\t.exe\" ");
  Alert.Button3->Click();
  EXPECT_EQ(Editor.Started,
            std::vector<std::string>{"\"C:\\Program Files\\Keywarden\\VirusTotalUpload.exe\" "
                                     "\"C:\\Program Files\\Tool\\t.exe\""});
  EXPECT_TRUE(Shell.Requests.empty());  // the shell's program search is never asked
  EXPECT_TRUE(Host.Messages.empty());
  EXPECT_EQ(Sound.Calls, std::vector<std::string>{"stop"});
}

// A look-alike of another program's path is acted on as itself: the tool
// gets the file Windows starts, never the one its view resembles. A field
// the user typed into acts on what was typed.
TEST_F(ActionsTest, ActionsUseTheRecordsExactProgramUnlessTheUserTypedAnother) {
  const std::u16string payload = u"C:\\Program Files\\Tool\\upd\u00E2te.exe";
  System.ExactFiles[payload] = TFileKind::File;
  System.Files["C:\\Program Files\\Tool\\update.exe"] = TFileKind::File;
  TChangeRecord record;
  record.RootKey = kHkeyCurrentUser;
  record.Location = std::string("\\") + kRun;
  record.ValueName = "Tool";
  record.Identity = u"Tool";
  record.Program = payload;
  record.Line = "C:\\Program Files\\Tool\\upd?te.exe";
  std::vector<TChangeRecord> records{record};
  Alert.ShowChanges(records);
  Alert.Button3->Click();
  Alert.Image4->Click();
  Alert.Edit3->SetText("C:\\Program Files\\Tool\\t.exe");
  Alert.Button3->Click();
  const std::string tool = "\"C:\\Program Files\\Keywarden\\VirusTotalUpload.exe\" ";
  EXPECT_EQ(Requests(),
            (std::vector<std::string>{"2713 properties [C:\\Program Files\\Tool\\upd?te.exe]",
                                      tool + "\"C:\\Program Files\\Tool\\upd?te.exe\"",
                                      tool + "\"C:\\Program Files\\Tool\\t.exe\""}));
  EXPECT_TRUE(Host.Messages.empty()) << Host.Messages.front();
}

TEST_F(ActionsTest, ScanSaysSoWhenTheToolIsNotBesideTheProgram) {
  struct TRow {
    std::string ProgramPath;
    bool ToolThere, StartFails;
    std::string Expected;  // the box's text, or the command line of the start
  };
  const std::string tool = "C:\\\x95\x5C\\VirusTotalUpload.exe";  // 昞: its second byte is 0x5C
  const TRow rows[] = {
      {"C:\\\x95\x5C\\Keywarden.exe", true, false,
       "\"" + tool + "\" \"C:\\Program Files\\Tool\\t.exe\""},
      {"C:\\\x95\x5C\\Keywarden.exe", false, false, texts::kScanToolNotFoundPrefix + tool},
      {"C:\\\x95\x5C\\Keywarden.exe", true, true, texts::kScanToolNotFoundPrefix + tool},
      {"C:\\Program Files\\Keywarden\\Keywarden.exe", false, false,
       std::string(texts::kScanToolNotFoundPrefix) +
           "C:\\Program Files\\Keywarden\\VirusTotalUpload.exe"},
      // Beside a program in a folder of the user's: any program of the user
      // could have put it there, and it would run with the guard's rights.
      {"C:\\Users\\me\\Keywarden.exe", true, false,
       texts::kScanToolRefused + std::string(texts::kNewLine) + "S-1-5-21-1-2-3-1001" +
           texts::kCanChangeInfix + "C:\\Users\\me"},
      {"C:\\Users\\me\\Keywarden.exe", true, true,
       texts::kScanToolRefused + std::string(texts::kNewLine) + "S-1-5-21-1-2-3-1001" +
           texts::kCanChangeInfix + "C:\\Users\\me"},
  };
  TFileSecurity mine = FakeSystem::AdminsOnly();
  mine.Owner = "S-1-5-21-1-2-3-1001";
  System.Descriptors["C:\\Users\\me"] = mine;
  for (const TRow& row : rows) {
    System.Path = row.ProgramPath;
    System.Files.erase("C:\\Program Files\\Keywarden\\VirusTotalUpload.exe");
    const std::string there = vcl::ExtractFilePath(row.ProgramPath, CodePage) + texts::kScanTool;
    System.Files.erase(tool);
    if (row.ToolThere) System.Files[there] = TFileKind::File;
    Editor.StartFails = row.StartFails;
    Editor.Started.clear();
    Host.Messages.clear();
    Alert.Button3->Click();
    const bool refused = row.Expected.rfind(texts::kScanToolRefused, 0) == 0;
    const auto& log = row.ToolThere && !row.StartFails && !refused ? Editor.Started : Host.Messages;
    EXPECT_EQ(log, std::vector<std::string>{row.Expected}) << row.ProgramPath;
    EXPECT_EQ(Host.Messages.size() + Editor.Started.size(), row.StartFails && !refused ? 2u : 1u);
    System.Files.erase(there);
  }
  EXPECT_TRUE(Shell.Requests.empty());
}

TEST_F(ActionsTest, OpenFolderSaysSoWhenTheFileManagerCannotBeStarted) {
  Editor.StartFails = true;
  Alert.Image2->Click();
  System.Files.erase("C:\\windows\\explorer.exe");
  Alert.Image2->Click();
  const std::string missing = std::string(texts::kFileNotFoundPrefix) + "C:\\windows\\explorer.exe";
  EXPECT_EQ(Host.Messages, (std::vector<std::string>{missing, missing}));
  EXPECT_EQ(Editor.Started.size(), 1u);  // the first click tried
  EXPECT_TRUE(Shell.Requests.empty());
}

// What the open-folder, properties and scan actions make of the text in
// Edit3: the shell or the tool gets only an existing file-system path.
TEST_F(ActionsTest, OnlyExistingFileSystemPathsReachTheShellOrTheTool) {
  const std::string tool = "\"C:\\Program Files\\Keywarden\\VirusTotalUpload.exe\" ";
  const auto Folder = [](const std::string& f) { return kExplorer + "\"" + f + "\""; };
  const auto Properties = [](const std::string& f) { return "2713 properties [" + f + "]"; };
  const auto Scan = [&](const std::string& f) { return tool + "\"" + f + "\""; };
  const auto NotAPath = [](const std::string& t) { return texts::kNotAFilePathPrefix + t; };
  const auto NoFolder = [](const std::string& f) { return texts::kFolderNotFoundPrefix + f; };
  const auto NoFile = [](const std::string& f) { return texts::kFileNotFoundPrefix + f; };
  const auto Refused = [&](const std::string& t) {
    return std::vector<std::string>{NotAPath(t), NotAPath(t), NotAPath(t)};
  };
  const auto Opened = [&](const std::string& folder, const std::string& file) {
    return std::vector<std::string>{Folder(folder), Properties(file), Scan(file)};
  };
  const std::string tool936 = "C:\\Program Files\\Tool\\";
  const std::string trojan = "C:\\\xC1\xD9\xCA\xB1\\\xC4\xBE\xC2\xED.exe";  // C:\临时\木马.exe
  const std::string pipeByte = "C:\\\x81\x7C.exe";  // 亅's second byte is that of '|'
  System.Files["C:\\"] = TFileKind::Folder;
  System.Files["C:\\\xC1\xD9\xCA\xB1\\"] = TFileKind::Folder;
  System.Files[trojan] = TFileKind::File;
  System.Files[pipeByte] = TFileKind::File;
  System.Files["\\\\server\\share\\"] = TFileKind::Folder;
  System.Files["\\\\server\\share\\app.exe"] = TFileKind::File;
  System.Environment["DIR"] = "C:\\\xC1\xD9\xCA\xB1";
  struct TRow {
    std::string Text;
    std::vector<std::string> Expected;  // open folder, properties, scan
  };
  const TRow rows[] = {
      {"C:\\Program Files\\Tool\\t.exe", Opened(tool936, tool936 + "t.exe")},
      {"%ProgramFiles%\\Tool\\t.exe", Opened(tool936, tool936 + "t.exe")},
      {" \"C:\\Program Files\\Tool\\t.exe\" ", Opened(tool936, tool936 + "t.exe")},
      {"C:/Program Files/Tool/t.exe", Opened(tool936, tool936 + "t.exe")},
      {trojan, Opened("C:\\\xC1\xD9\xCA\xB1\\", trojan)},
      {"%DIR%\\\xC4\xBE\xC2\xED.exe", Opened("C:\\\xC1\xD9\xCA\xB1\\", trojan)},
      {pipeByte, Opened("C:\\", pipeByte)},
      // UNC: a network share is read through the file system like a drive.
      {"\\\\server\\share\\app.exe", Opened("\\\\server\\share\\", "\\\\server\\share\\app.exe")},
      {"C:\\Program Files\\Tool\\", {Folder(tool936), NoFile(tool936), NoFile(tool936)}},
      {"C:\\Missing\\m.exe",
       {NoFolder("C:\\Missing\\"), NoFile("C:\\Missing\\m.exe"), NoFile("C:\\Missing\\m.exe")}},
      // 昞's second byte is no backslash: the folder is C:\, the file is missing.
      {"C:\\\x95\x5Cx.exe",
       {Folder("C:\\"), NoFile("C:\\\x95\x5Cx.exe"), NoFile("C:\\\x95\x5Cx.exe")}},
      {"someproto:x", Refused("someproto:x")},
      {"http://host/x.exe", Refused("http://host/x.exe")},
      {"file:///C:/Program Files/Tool/t.exe", Refused("file:///C:/Program Files/Tool/t.exe")},
      {"shell:startup", Refused("shell:startup")},
      {"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}",
       Refused("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}")},
      {"C:\\Program Files\\Tool\\::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\x",
       Refused("C:\\Program Files\\Tool\\::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\x")},
      {"C:\\Program Files\\Tool\\t.exe:hidden.exe",
       Refused("C:\\Program Files\\Tool\\t.exe:hidden.exe")},  // a stream
      {"t.exe", Refused("t.exe")},
      {"Tool\\t.exe", Refused("Tool\\t.exe")},
      {"\\Program Files\\Tool\\t.exe", Refused("\\Program Files\\Tool\\t.exe")},
      {"C:t.exe", Refused("C:t.exe")},
      {"\\\\.\\pipe\\x", Refused("\\\\.\\pipe\\x")},
      {"\\\\?\\C:\\Program Files\\Tool\\t.exe", Refused("\\\\?\\C:\\Program Files\\Tool\\t.exe")},
      // A server alone holds no folder; named as a file, its share is no file.
      {"\\\\server\\app.exe",
       {NotAPath("\\\\server\\app.exe"), NoFile("\\\\server\\app.exe"),
        NoFile("\\\\server\\app.exe")}},
      {"%UNDEFINED%\\t.exe", Refused("%UNDEFINED%\\t.exe")},
      {"C:\\Program Files\\Tool\\t.exe\x01",
       {Folder(tool936), NotAPath("C:\\Program Files\\Tool\\t.exe\x01"),
        NotAPath("C:\\Program Files\\Tool\\t.exe\x01")}},
      {"", Refused("")},
      {texts::kMonitoringStopped, Refused(texts::kMonitoringStopped)},
  };
  for (const TRow& row : rows) {
    Alert.Edit3->SetText(row.Text);
    std::vector<std::string> outcomes;
    for (vcl::TControl* action :
         std::initializer_list<vcl::TControl*>{Alert.Image2, Alert.Image4, Alert.Button3}) {
      Shell.Requests.clear();
      Host.Messages.clear();
      Editor.Started.clear();
      action->Click();
      for (const auto* log : {&Shell.Requests, &Host.Messages, &Editor.Started}) {
        outcomes.insert(outcomes.end(), log->begin(), log->end());
      }
    }
    EXPECT_EQ(outcomes, row.Expected) << row.Text;
  }
}

TEST_F(ActionsTest, ThePicturesOpenFolderPropertiesAndRegistryWithoutSilencing) {
  Alert.Image2->Click();
  Alert.Image4->Click();
  Editor.Running = false;
  Editor.StartFails = true;
  Alert.Image3->Click();
  EXPECT_EQ(Shell.Requests,
            (std::vector<std::string>{"2713 properties [C:\\Program Files\\Tool\\t.exe]"}));
  EXPECT_EQ(Editor.Started, (std::vector<std::string>{kExplorer + "\"C:\\Program Files\\Tool\\\"",
                                                      "\"C:\\windows\\regedit.exe\""}));
  EXPECT_TRUE(Editor.Log.empty());
  EXPECT_TRUE(Sound.Calls.empty());
}

// Image2 (293,219 26x25) lies beneath Image4 (315,219 19x18), drawn later.
TEST_F(ActionsTest, AClickLandsOnThePictureDrawnOnTopAndNeedsPressAndReleaseOnIt) {
  const std::string folder = kExplorer + "\"C:\\Program Files\\Tool\\\"";
  const std::string properties = "2713 properties [C:\\Program Files\\Tool\\t.exe]";
  struct TRow {
    int DownX, DownY, UpX, UpY;
    std::string Expected;  // the request made, or none
  };
  const TRow rows[] = {
      {300, 225, 300, 225, folder},      // Image2 alone
      {317, 222, 317, 222, properties},  // where both lie: Image4, on top
      {333, 236, 333, 236, properties},  // Image4 alone
      {317, 240, 318, 243, folder},      // below Image4: Image2; moved within it
      {200, 100, 300, 225, ""},          // pressed elsewhere, released over Image2
      {300, 225, 317, 222, ""},          // pressed on Image2, released over Image4
      {300, 225, 200, 100, ""},          // pressed on Image2, released elsewhere
      {319, 219, 319, 219, properties},  // Image4's corner
      {334, 219, 334, 219, ""},          // just past Image4's right edge
  };
  for (const TRow& row : rows) {
    ClearRequests();
    Alert.TabSheet1->GraphicMouseDown(row.DownX, row.DownY);
    Alert.TabSheet1->GraphicMouseUp(row.UpX, row.UpY);
    EXPECT_EQ(Requests(),
              row.Expected.empty() ? std::vector<std::string>{} : std::vector{row.Expected})
        << row.DownX << "," << row.DownY << " to " << row.UpX << "," << row.UpY;
  }
}

// Who besides administrators can change a program the guard would start
// with its rights: its file, its folder, and the folders above it.
TEST(WhoCanChange, OnlyAdministratorsMayChangeTheFileItsFolderOrMoveAFolderAbove) {
  const std::string file = "C:\\Program Files\\Keywarden\\Keywarden.exe";
  const std::string folder = "C:\\Program Files\\Keywarden", above = "C:\\Program Files";
  const std::string users = "S-1-5-32-545", authenticated = "S-1-5-11";
  const std::string me = "S-1-5-21-1-2-3-1001";  // the user, whose programs are the danger
  const auto With = [](std::vector<TAllowEntry> extra,
                       const std::string& owner = sids::kAdministrators) {
    TFileSecurity security = FakeSystem::AdminsOnly();
    security.Owner = owner;
    security.Allowed.insert(security.Allowed.end(), extra.begin(), extra.end());
    return security;
  };
  TFileSecurity noDacl = FakeSystem::AdminsOnly();
  noDacl.HasDacl = false;
  noDacl.Allowed.clear();
  const TFileSecurity unreadable;
  struct TRow {
    const char* Case;
    std::string Path;
    std::map<std::string, TFileSecurity> Descriptors;
    TChangeableBy Result;
    std::string At, Sid;
    std::map<std::string, std::string> Links = {};
  };
  const TRow rows[] = {
      {"installed under Program Files", file, {}, TChangeableBy::AdminsOnly, "", ""},
      {"installed by TrustedInstaller",
       file,
       {{file, With({}, sids::kTrustedInstaller)}},
       TChangeableBy::AdminsOnly,
       "",
       ""},
      {"the file writable by Users",
       file,
       {{file, With({{users, "", access::kWriteData, false}})}},
       TChangeableBy::Others,
       file,
       users},
      {"the file deletable by the user",
       file,
       {{file, With({{me, "", access::kDelete, false}})}},
       TChangeableBy::Others,
       file,
       me},
      {"the file's access list open to Users",
       file,
       {{file, With({{users, "", access::kWriteDac, false}})}},
       TChangeableBy::Others,
       file,
       users},
      {"the file owned by the user, who may rewrite its access list",
       file,
       {{file, With({}, me)}},
       TChangeableBy::Others,
       file,
       me},
      {"owned by the user, OWNER RIGHTS granting reading alone",
       file,
       {{file, With({{sids::kOwnerRights, "", 0x1200A9, false}}, me)}},
       TChangeableBy::AdminsOnly,
       "",
       ""},
      {"owned by the user, OWNER RIGHTS granting writing",
       file,
       {{file, With({{sids::kOwnerRights, "", access::kWriteData, false}}, me)}},
       TChangeableBy::Others,
       file,
       me},
      {"no access list", file, {{file, noDacl}}, TChangeableBy::Others, file, "S-1-1-0"},
      {"an object entry naming no plain SID",
       file,
       {{file, With({{"", "", access::kGenericWrite, false}})}},
       TChangeableBy::Others,
       file,
       ""},
      {"a file's descriptor unreadable",
       file,
       {{file, unreadable}},
       TChangeableBy::Unreadable,
       file,
       ""},
      {"a DLL can be added to the folder",
       file,
       {{folder, With({{authenticated, "", 0x1301BF, false}})}},  // Modify
       TChangeableBy::Others,
       folder,
       authenticated},
      {"a subfolder can be added to the folder",
       file,
       {{folder, With({{users, "", access::kAppendData, false}})}},
       TChangeableBy::Others,
       folder,
       users},
      {"what the folder holds can be deleted",
       file,
       {{folder, With({{users, "", access::kDeleteChild, false}})}},
       TChangeableBy::Others,
       folder,
       users},
      {"Modify only for what is made in the folder later",
       file,
       {{folder, With({{authenticated, "", 0x1301BF, true}})}},
       TChangeableBy::AdminsOnly,
       "",
       ""},
      {"CREATOR OWNER on the object itself grants no one",
       file,
       {{folder, With({{sids::kCreatorOwner, "", access::kGenericAll, false}})}},
       TChangeableBy::AdminsOnly,
       "",
       ""},
      {"folders may be added above, which displaces nothing",
       file,
       {{above, With({{users, "", access::kAppendData | access::kWriteData, false}})},
        {"C:\\", With({{authenticated, "", access::kAppendData, false}})}},
       TChangeableBy::AdminsOnly,
       "",
       ""},
      {"the folder can be renamed away from the one above",
       file,
       {{above, With({{users, "", access::kDeleteChild, false}})}},
       TChangeableBy::Others,
       above,
       users},
      {"a folder above owned by the user",
       "C:\\Users\\me\\Downloads\\Keywarden\\Keywarden.exe",
       {{"C:\\Users\\me", With({}, me)}},
       TChangeableBy::Others,
       "C:\\Users\\me",
       me},
      {"the drive's root lets a folder be deleted",
       file,
       {{"C:\\", With({{users, "", access::kDelete, false}})}},
       TChangeableBy::Others,
       "C:\\",
       users},
      {"the folder a junction to one the user owns",
       file,
       {{"C:\\Users\\me\\kw", With({}, me)}},
       TChangeableBy::Others,
       "C:\\Users\\me\\kw",
       me,
       {{folder, "C:\\Users\\me\\kw"}}},
      {"a junction to a folder only administrators may change",
       file,
       {},
       TChangeableBy::AdminsOnly,
       "",
       "",
       {{above, "D:\\Apps"}}},
      {"a network drive",
       "N:\\Keywarden\\Keywarden.exe",
       {},
       TChangeableBy::NotLocal,
       "N:\\Keywarden\\Keywarden.exe",
       ""},
      {"a share",
       "\\\\server\\share\\Keywarden.exe",
       {},
       TChangeableBy::NotLocal,
       "\\\\server\\share\\Keywarden.exe",
       ""},
      {"a relative name", "Keywarden.exe", {}, TChangeableBy::NotLocal, "Keywarden.exe", ""},
      {"a folder folded away",
       "C:\\Program Files\\x\\..\\Keywarden.exe",
       {},
       TChangeableBy::NotLocal,
       "C:\\Program Files\\x\\..\\Keywarden.exe",
       ""},
      {"slashes",
       "C:/Program Files/Keywarden.exe",
       {},
       TChangeableBy::NotLocal,
       "C:/Program Files/Keywarden.exe",
       ""},
      {"a doubled backslash",
       "C:\\Program Files\\\\Keywarden.exe",
       {},
       TChangeableBy::NotLocal,
       "C:\\Program Files\\\\Keywarden.exe",
       ""},
      // 昞 is 0x95 0x5C: its second byte is no backslash, the folder is "C:\昞".
      {"a folder whose name ends in the byte of a backslash",
       "C:\\\x95\x5C\\Keywarden.exe",
       {{"C:\\\x95\x5C", With({{users, "", access::kWriteData, false}})},
        {"C:\\\x95", With({}, me)}},
       TChangeableBy::Others,
       "C:\\\x95\x5C",
       users},
  };
  fake::FakeCodePage codePage;
  for (const TRow& row : rows) {
    FakeSystem system;
    system.Descriptors = row.Descriptors;
    system.NetworkDrives = {"N:\\"};
    system.Links = row.Links;
    const TChangeCheck check = WhoCanChange(system, codePage, row.Path);
    EXPECT_EQ(static_cast<int>(check.Result), static_cast<int>(row.Result)) << row.Case;
    EXPECT_EQ(check.Path, row.At) << row.Case;
    EXPECT_EQ(check.Sid, row.Sid) << row.Case;
  }
  FakeSystem system;
  WhoCanChange(system, codePage, file);
  EXPECT_EQ(system.SecurityRequests, (std::vector<std::string>{file, folder, above, "C:\\"}));
  EXPECT_EQ(ChangeCheckText(system, {TChangeableBy::Others, folder, users}),
            "Users" + std::string(texts::kCanChangeInfix) + folder);
  EXPECT_EQ(ChangeCheckText(system, {TChangeableBy::Others, file, me}),
            me + texts::kCanChangeInfix + file);  // no name known: the SID
  EXPECT_EQ(ChangeCheckText(system, {TChangeableBy::Unreadable, file, ""}),
            texts::kRightsUnreadablePrefix + file);
  EXPECT_EQ(ChangeCheckText(system, {TChangeableBy::NotLocal, "k.exe", ""}),
            std::string(texts::kNotOnThisMachinePrefix) + "k.exe");
  EXPECT_EQ(ChangeCheckText(system, {}), "");
}

TEST(AnsiPaths, TheFolderPartRespectsDoubleByteCharacters) {
  fake::FakeCodePage gbk;
  const auto FolderPart = [&](const std::string& path) { return vcl::ExtractFilePath(path, gbk); };
  EXPECT_EQ(FolderPart("C:\\a\\b.exe"), "C:\\a\\");
  EXPECT_EQ(FolderPart("C:b.exe"), "C:");
  EXPECT_EQ(FolderPart(texts::kMonitoringStopped), "");
  EXPECT_EQ(FolderPart(""), "");
  // 昞 is 0x95 0x5C: its second byte is no backslash.
  EXPECT_EQ(FolderPart("C:\\d\\\x95\x5C.exe"), "C:\\d\\");
  EXPECT_EQ(FolderPart("C:\\\x95\x5C\\x.exe"), "C:\\\x95\x5C\\");
  EXPECT_EQ(FolderPart(ChangedLine("n", "C:\\old\\a.exe", "D:\\new\\b.exe")),
            " \xB3\xCC\xD0\xF2 (n) \xC2\xB7\xBE\xB6\xB8\xFC\xB8\xC4\xB4\xD3 \"C:\\old\\a.exe\" "
            "\xB5\xBD \"D:\\new\\");
}

class WalkTest : public ::testing::TestWithParam<bool> {
 protected:
  fake::FakeRegEdit Editor{GetParam()};
};

TEST_P(WalkTest, SelectsTheKeyFromAnyEarlierSelection) {
  Editor.Select("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx");
  JumpToRegKey(Editor, Editor, u"C:\\windows",
               fake::FakeRegistryText::Widen(
                   "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
  EXPECT_EQ(Editor.SelectedPath(),
            "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
  EXPECT_FALSE(Editor.SelectedIsExpanded());
  EXPECT_EQ(std::count(Editor.Log.begin(), Editor.Log.end(), "sleep 750"), 6);
  EXPECT_EQ(std::count(Editor.Log.begin(), Editor.Log.end(), "key 37"), 31);
  EXPECT_EQ(std::count_if(Editor.Log.begin(), Editor.Log.end(),
                          [](const std::string& s) { return s.rfind("raw char", 0) == 0; }),
            0);  // every character typed as a character, none sent as a raw byte
  EXPECT_TRUE(Editor.Started.empty());

  // At once again, the last walk's characters still fresh in the tree's search.
  JumpToRegKey(Editor, Editor, u"C:\\windows", u"HKEY_CURRENT_USER\\Control Panel");
  EXPECT_EQ(Editor.SelectedPath(), "HKEY_CURRENT_USER\\Control Panel");
}

INSTANTIATE_TEST_SUITE_P(TreeDirectOrNested, WalkTest, ::testing::Bool());

TEST(Walk, StartsTheEditorWhenItIsNotRunning) {
  fake::FakeRegEdit editor(true);
  editor.Running = false;
  JumpToRegKey(editor, editor, u"C:\\windows",
               fake::FakeRegistryText::Widen("HKEY_CURRENT_USER\\Control Panel\\"));
  EXPECT_EQ(editor.Started, std::vector<std::string>{"\"C:\\windows\\regedit.exe\""});
  EXPECT_EQ(editor.SelectedPath(), "HKEY_CURRENT_USER\\Control Panel");
  EXPECT_TRUE(editor.SelectedIsExpanded());  // a trailing backslash opens the last key
}

// Another program's window of the editor's class, on a thread that never
// answers, is neither driven nor waited on.
TEST(Walk, DrivesOnlyTheEditorsOwnWindowNeverAnotherOfItsClass) {
  for (bool running : {true, false}) {
    fake::FakeRegEdit editor(true);
    editor.Running = running;
    editor.Decoys = {0x900, 0x901};
    JumpToRegKey(editor, editor, u"C:\\windows",
                 fake::FakeRegistryText::Widen("HKEY_CURRENT_USER\\Control Panel"));
    EXPECT_EQ(editor.SelectedPath(), "HKEY_CURRENT_USER\\Control Panel") << running;
    EXPECT_EQ(editor.Started.size(), running ? 0u : 1u);
    for (const std::string& entry : editor.Log) {
      EXPECT_EQ(entry.find("decoy"), std::string::npos) << entry;
      EXPECT_EQ(entry.find(std::to_string(0x900)), std::string::npos) << entry;
    }
  }
}

TEST(Walk, GivesUpOnAnEditorThatStopsAnswering) {
  for (int answers : {0, 5, 40}) {
    fake::FakeRegEdit editor(true);
    editor.AnswersLeft = answers;
    JumpToRegKey(editor, editor, u"C:\\windows",
                 fake::FakeRegistryText::Widen(
                     "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
    // The messages it answered, then the one it did not: nothing after.
    const auto sent = std::count_if(editor.Log.begin(), editor.Log.end(), [](const std::string& s) {
      return s.rfind("key", 0) == 0 || s.rfind("char", 0) == 0;
    });
    EXPECT_EQ(sent, answers + 1) << answers;
    EXPECT_TRUE(editor.Log.back().rfind("key", 0) == 0 || editor.Log.back().rfind("char", 0) == 0)
        << answers;
  }
}

TEST(Walk, WaitsForAStartedEditorsTreeHoweverLateItComes) {
  fake::FakeRegEdit editor(true);
  editor.Running = false;
  editor.WindowComesUpAfter = 2500;  // after the process said it was ready
  JumpToRegKey(editor, editor, u"C:\\windows",
               fake::FakeRegistryText::Widen("HKEY_CURRENT_USER\\Control Panel"));
  EXPECT_EQ(editor.SelectedPath(), "HKEY_CURRENT_USER\\Control Panel");
}

TEST(Walk, GivesUpSilentlyWhenAStartedEditorNeverComesUp) {
  fake::FakeRegEdit editor(true);
  editor.Running = false;
  editor.WindowComesUpAfter = -1;
  JumpToRegKey(editor, editor, u"C:\\windows",
               fake::FakeRegistryText::Widen("HKEY_CURRENT_USER\\Control Panel"));
  EXPECT_EQ(editor.Started.size(), 1u);
  // Only the waits: nothing was shown, focused or sent.
  EXPECT_EQ(std::count(editor.Log.begin(), editor.Log.end(), "sleep 50"),
            static_cast<std::ptrdiff_t>(editor.Log.size()));
  EXPECT_LE(editor.Log.size(), 200u);  // ten seconds of 50 ms polls
}

TEST(Walk, KeystrokesForHivelessAndDoubleBytePaths) {
  fake::FakeRegEdit editor(false);
  JumpToRegKey(editor, editor, u"C:\\windows", fake::FakeRegistryText::Widen("\\S"));
  const std::vector<std::string> tail(editor.Log.end() - 5, editor.Log.end());
  EXPECT_EQ(tail,
            (std::vector<std::string>{"key 39", "sleep 750", "key 39", "sleep 750", "char 83"}));

  fake::FakeRegEdit fresh(false);
  JumpToRegKey(fresh, fresh, u"C:\\windows",
               fake::FakeRegistryText::Widen("HKEY_CURRENT_USER\\Software\\\x95\x5CVendor"));
  // Character by character, in UTF-16: the unit of 昞 that its second byte
  // 0x5C came from opens no level.
  const auto sleeps = std::count(fresh.Log.begin(), fresh.Log.end(), "sleep 750");
  EXPECT_EQ(sleeps, 3);
  EXPECT_EQ(fresh.SelectedPath(), "HKEY_CURRENT_USER\\Software\\\x95\x5CVendor");

  // A character beyond the first 65,536 is typed whole, its surrogate pair in one keystroke.
  fake::FakeRegEdit pair(false);
  JumpToRegKey(pair, pair, u"C:\\windows", u"HKEY_CURRENT_USER\\Software\\\xD83D\xDE00V");
  EXPECT_EQ(std::count(pair.Log.begin(), pair.Log.end(), "char 63"), 1);
  EXPECT_EQ(std::count(pair.Log.begin(), pair.Log.end(), "sleep 750"), 3);
}

TEST(RunProcess, ResultsAndTheCommandLineLimit) {
  fake::FakeRegEdit launcher(false);
  EXPECT_EQ(RunProcess(launcher, u"tool.exe /x", true, false), 0);
  EXPECT_EQ(RunProcess(launcher, std::u16string(512, u'a'), false, true), 0);
  EXPECT_EQ(RunProcess(launcher, std::u16string(513, u'a'), false, false), -1);
  EXPECT_EQ(launcher.Started.size(), 2u);
  EXPECT_EQ(launcher.Started[1].size(), 512u);
  launcher.StartFails = true;
  EXPECT_EQ(RunProcess(launcher, u"missing.exe", true, false), -1);
}

}  // namespace
}  // namespace kw::test
