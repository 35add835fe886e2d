// The options dialog, the autostart value, the INI file and the alarm, on the real program.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "tests/e2e/Program.h"
#include "tests/win32/StoredTask.h"

namespace kw::e2e {
namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string ReadFileBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::wstring AutostartValue() {
  wchar_t data[1024];
  DWORD size = sizeof data;
  if (::RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"Keywarden", RRF_RT_REG_SZ, nullptr, data,
                     &size) != ERROR_SUCCESS) {
    return L"<none>";
  }
  return data;
}

std::wstring Quoted(const std::wstring& path) {
  return L"\"" + path + L"\"";
}

// The logon task as the scheduler holds it. Wine's scheduler keeps neither
// trigger, run level nor action (see StoredTask.h): those are checked where
// the task is made, not here.
test::TStoredTask LogonTask() {
  return test::ReadStoredTask(test::OwnLogonTaskPath().c_str());
}

// The task's file in the scheduler's store, looked at without opening it.
// Wine's scheduler opens the file without sharing it for deletion while it
// reads a task: a reading at the moment the program replaces or removes the
// task makes the program's call fail. So the scheduler is asked only once
// the file has come or gone, when the program's call has returned.
bool TaskFileExists() {
  wchar_t system[MAX_PATH];
  const UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring file = std::wstring(system, n) + L"\\Tasks" + test::OwnLogonTaskPath();
  return ::GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool LogonTaskRemoved() {
  return WaitFor([] { return !TaskFileExists(); }) && !LogonTask().Exists;
}

// What the options dialog says when it registers no logon task: Wine keeps
// no access lists of its own, and every folder is the user's to change.
const std::wstring kTaskRefused =
    L"Keywarden "
    L"所在的位置不是只有管理员能修改，因此只写入了启动项，没有登记以管理员权限开机启动它的任务"
    L"（Windows 不会从启动项以管理员权限启动它）。请把 Keywarden 放到只有管理员能修改的文件夹中，"
    L"例如 Program Files。\r\n";

// Whether `text` is that refusal with a reason naming who can change what.
bool IsTaskRefusal(const std::wstring& text) {
  return text.rfind(kTaskRefused, 0) == 0 &&
         text.find(L" 可以修改：", kTaskRefused.size()) != std::wstring::npos;
}

// Run before the program starts: the INI file as the test wants it, and the
// program file under the name the test gives it.
struct TStartState {
  TStartState(const char* ini, const std::wstring& exe) : Exe(exe) {
    if (Exe != L"Keywarden.exe") {
      ::CopyFileW(ProgramPath().c_str(), BesideProgram(Exe).c_str(), FALSE);
    }
    ::RemoveDirectoryW(IniFile().c_str());
    ::DeleteFileW(IniFile().c_str());
    ::DeleteFileW(SoundLog().c_str());
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"Keywarden");
    test::DeleteStoredTask(test::OwnLogonTaskPath().c_str());
    // The stand-in winmm.dll in the system folder is loaded in place of
    // Wine's. A copy of it planted beside the program must never be.
    ::RegSetKeyValueW(HKEY_CURRENT_USER,
                      L"Software\\Wine\\AppDefaults\\Keywarden.exe\\DllOverrides", L"winmm", REG_SZ,
                      L"native,builtin", sizeof L"native,builtin");
    PlantWinmm(true);
    if (ini && *ini == '/') {
      ::CreateDirectoryW(IniFile().c_str(), nullptr);  // a folder where the file should be
    } else if (ini) {
      std::ofstream(IniFile().c_str(), std::ios::binary) << ini;
    }
  }
  // A winmm.dll beside the program, as any program of the user could put
  // there: the one of the system folder, of the program's bitness, which
  // names its folder in each line it writes.
  static void PlantWinmm(bool plant) {
    const std::wstring planted = BesideProgram(L"winmm.dll");
    if (!plant) {
      ::DeleteFileW(planted.c_str());
      return;
    }
    DWORD kind = 0;
    wchar_t system[MAX_PATH];
    const UINT n = ::GetBinaryTypeW(ProgramPath().c_str(), &kind) && kind == SCS_64BIT_BINARY
                       ? ::GetSystemDirectoryW(system, MAX_PATH)
                       : ::GetSystemWow64DirectoryW(system, MAX_PATH);
    ::CopyFileW((std::wstring(system, n) + L"\\winmm.dll").c_str(), planted.c_str(), FALSE);
  }
  ~TStartState() {
    PlantWinmm(false);
    // Later passes, the installed program's among them, load Wine's own.
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\Keywarden.exe");
    ::RemoveDirectoryW(IniFile().c_str());
    ::DeleteFileW(IniFile().c_str());
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"Keywarden");
    test::DeleteStoredTask(test::OwnLogonTaskPath().c_str());
    if (Exe != L"Keywarden.exe") ::DeleteFileW(BesideProgram(Exe).c_str());
  }
  static std::wstring IniFile() { return BesideProgram(L"Keywarden.ini"); }
  static std::wstring SoundLog() { return BesideProgram(L"sound.log"); }
  std::wstring Exe;
};

class SettingsTest : public ::testing::Test {
 protected:
  explicit SettingsTest(const char* ini = nullptr, const std::wstring& exe = L"Keywarden.exe")
      : State(ini, exe), Program(BesideProgram(exe)) {}
  void SetUp() override { ASSERT_TRUE(Program.Running()); }

  HWND Options() { return Program.Window(L"TForm3"); }
  HWND Find(HWND window, const wchar_t* className, const std::wstring& text) {
    for (HWND child : ChildrenOfClass(window, className)) {
      if (TextOf(child) == text) return child;
    }
    return nullptr;
  }
  void OpenOptions() {
    ASSERT_TRUE(ChooseFromTrayMenu(kMenuOptions));
    ASSERT_TRUE(WaitFor([&] { return Options() && ::IsWindowVisible(Options()); }));
  }
  void ClickStartWithWindows() {
    ::PostMessageW(Find(Options(), L"TCheckBox", L"开机启动"), BM_CLICK, 0, 0);
  }
  bool StartWithWindowsChecked() {
    return ::SendMessageW(Find(Options(), L"TCheckBox", L"开机启动"), BM_GETCHECK, 0, 0) ==
           BST_CHECKED;
  }
  HWND VisibleBox() {
    for (HWND box : TopLevelWindows(Program.Pid(), L"#32770")) {
      if (::IsWindowVisible(box)) return box;
    }
    return nullptr;
  }
  // The caption and text of the next message box, which `inspect` may look
  // at before it is dismissed.
  std::pair<std::wstring, std::wstring> AnswerBox(
      const wchar_t* screenshot = nullptr, const std::function<void(HWND box)>& inspect = {}) {
    HWND box = nullptr;
    if (!WaitFor([&] { return (box = VisibleBox()) != nullptr; })) return {L"<none>", L""};
    std::pair<std::wstring, std::wstring> seen{TextOf(box), TextOf(::GetDlgItem(box, 0xFFFF))};
    if (inspect) inspect(box);
    if (screenshot) SaveScreenshot(ArtifactPath(screenshot));
    ::PostMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    WaitFor([&] { return !::IsWindow(box) || !::IsWindowVisible(box); });
    return seen;
  }

  TStartState State;
  TProgram Program;
};

TEST_F(SettingsTest, FirstStartTouchesNothing) {
  EXPECT_EQ(::GetFileAttributesW(TStartState::IniFile().c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(AutostartValue(), L"<none>");
  EXPECT_FALSE(TaskFileExists());
  EXPECT_FALSE(LogonTask().Exists);
}

TEST_F(SettingsTest, CheckingRegistersAtOnceAndClosingSavesBothBoxes) {
  OpenOptions();
  SaveScreenshot(ArtifactPath(L"options.bmp"));
  ClickStartWithWindows();
  const std::wstring refusal = AnswerBox(L"message-logon-task-refused.bmp").second;
  EXPECT_TRUE(IsTaskRefusal(refusal)) << refusal.size();
  ASSERT_TRUE(WaitFor([&] { return AutostartValue() == Quoted(ProgramPath()); }))
      << AutostartValue().size();
  EXPECT_FALSE(TaskFileExists());
  HWND alert = Program.AlertWindow();
  ASSERT_TRUE(WaitFor([&] {
    auto edits = ChildrenOfClass(alert, L"TEdit");
    return edits.size() >= 4 && TextOf(edits[3]) == ProgramPath();
  }));
  EXPECT_EQ(::GetFileAttributesW(TStartState::IniFile().c_str()), INVALID_FILE_ATTRIBUTES);

  ::PostMessageW(Find(Options(), L"TButton", L"确定"), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !::IsWindowVisible(Options()); }));
  const std::string ini = ReadFileBytes(TStartState::IniFile());
  const auto section = ini.find("[Form3]"), first = ini.find("CheckBox1=1"),
             second = ini.find("CheckBox3=0");
  ASSERT_NE(section, std::string::npos) << ini;
  ASSERT_NE(first, std::string::npos) << ini;
  ASSERT_NE(second, std::string::npos) << ini;
  EXPECT_LT(section, first);
  EXPECT_LT(first, second);
}

class SavedOnTest : public SettingsTest {
 protected:
  SavedOnTest() : SettingsTest("[Form3]\r\nCheckBox1=1\r\nCheckBox3=0\r\n") {}
};

TEST_F(SavedOnTest, AStartWithTheOptionOnWritesTheValueAgainAndUncheckingDeletes) {
  ASSERT_TRUE(WaitFor([&] { return AutostartValue() == Quoted(ProgramPath()); }));
  EXPECT_FALSE(TaskFileExists());  // refused at start, silently
  EXPECT_EQ(VisibleBox(), nullptr);
  HWND alert = Program.AlertWindow();  // the value written at start was shown and dismissed
  ASSERT_TRUE(WaitFor([&] { return !::IsWindowVisible(alert); }));
  OpenOptions();
  EXPECT_TRUE(StartWithWindowsChecked());
  ClickStartWithWindows();
  // The alert for the deletion comes up while the box is open, beneath it.
  bool boxAbove = false;
  EXPECT_EQ(AnswerBox(nullptr,
                      [&](HWND box) {
                        boxAbove = WaitFor(
                            [&] { return ::IsWindowVisible(alert) && IsAbove(box, alert); });
                      })
                .second,
            L"删除：Keywarden");
  EXPECT_TRUE(boxAbove);
  EXPECT_EQ(AutostartValue(), L"<none>");
  EXPECT_TRUE(LogonTaskRemoved());
  EXPECT_EQ(VisibleBox(), nullptr);  // no error
}

class UnwritableTest : public SettingsTest {
 protected:
  UnwritableTest() : SettingsTest("/") {}
};

TEST_F(UnwritableTest, AFailedSaveShowsTheErrorAboveTheAlertAndKeepsTheDialogOpen) {
  OpenOptions();
  const std::wstring data = L"C:\\box\\above.exe";
  ::RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, L"KeywardenBox", REG_SZ, data.c_str(),
                    static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  HWND alert = Program.AlertWindow();
  ASSERT_TRUE(WaitFor([&] { return ::IsWindowVisible(alert); }));
  ::PostMessageW(Find(Options(), L"TButton", L"确定"), BM_CLICK, 0, 0);
  // Owned by the topmost alert, the box is above it; every window waits for it.
  const auto [caption, text] = AnswerBox(L"error-unwritable-ini.bmp", [&](HWND box) {
    EXPECT_EQ(::GetWindow(box, GW_OWNER), alert);
    // Placed above its owner once shown, which may come a moment after it is visible.
    EXPECT_TRUE(WaitFor([&] { return IsAbove(box, alert); }));
    EXPECT_FALSE(::IsWindowEnabled(alert));
    EXPECT_FALSE(::IsWindowEnabled(Options()));
    EXPECT_TRUE(IsAbove(alert, Options()));
  });
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"KeywardenBox");
  EXPECT_EQ(caption, L"Keywarden");
  EXPECT_EQ(text.rfind(L"Unable to write to ", 0), 0u) << text.size();
  EXPECT_EQ(text.substr(text.size() - 15), L"/Keywarden.ini.");
  EXPECT_TRUE(::IsWindowVisible(Options()));
}

// 淺 (9C 5C) ends in the byte of a backslash, 監 (B1 4F) in that of an "O".
class ChineseNameTest : public SettingsTest {
 protected:
  ChineseNameTest() : SettingsTest(nullptr, L"監淺.exe") {}
  ~ChineseNameTest() override {
    ::RemoveDirectoryW(Ini.c_str());
    ::DeleteFileW(Ini.c_str());
  }
  const std::wstring Ini = BesideProgram(L"監淺.ini");
};

TEST_F(ChineseNameTest, TheTitleAndTheIniFileFollowTheProgramsName) {
  ::CreateDirectoryW(Ini.c_str(), nullptr);  // where the file should be: the save fails
  OpenOptions();
  ::PostMessageW(Find(Options(), L"TButton", L"确定"), BM_CLICK, 0, 0);
  const auto [caption, text] = AnswerBox();
  EXPECT_EQ(caption, L"監淺");
  EXPECT_EQ(text.substr(text.size() - 9), L"\\/監淺.ini.");
  ::RemoveDirectoryW(Ini.c_str());
  ::PostMessageW(Find(Options(), L"TButton", L"确定"), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !::IsWindowVisible(Options()); }));
  EXPECT_NE(ReadFileBytes(Ini).find("[Form3]"), std::string::npos);
}

// The program in a folder with a Chinese name: its own path, the INI file
// beside it and the autostart value all carry the name, on any system.
struct TChineseFolder {
  TChineseFolder() {
    ::CreateDirectoryW(Folder.c_str(), nullptr);
    ::CopyFileW(BesideProgram(L"Keywarden.exe").c_str(), Exe().c_str(), FALSE);
    ::DeleteFileW(Ini().c_str());
  }
  ~TChineseFolder() {
    for (const wchar_t* file : {L"Keywarden.exe", L"Keywarden.ini"}) {
      ::DeleteFileW((Folder + L"\\" + file).c_str());
    }
    ::RemoveDirectoryW(Folder.c_str());
  }
  std::wstring Exe() const { return Folder + L"\\Keywarden.exe"; }
  std::wstring Ini() const { return Folder + L"\\Keywarden.ini"; }
  const std::wstring Folder = BesideProgram(L"注册表卫士");
};

class ChineseFolderTest : public ::testing::Test {
 protected:
  TStartState State{nullptr, L"Keywarden.exe"};
  TChineseFolder Copy;
  TProgram Program{Copy.Exe()};
};

TEST_F(ChineseFolderTest, RegistersItsPathAndSavesTheIniFileBesideItself) {
  ASSERT_TRUE(Program.Running());
  // The same program file at another path gives way to this running copy.
  EXPECT_EQ(TKeywarden::RunAnotherCopy(), 0u);
  ASSERT_TRUE(ChooseFromTrayMenu(kMenuOptions));
  HWND options = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    options = Program.Window(L"TForm3");
    return options && ::IsWindowVisible(options);
  }));
  auto find = [&](const wchar_t* className, const std::wstring& text) -> HWND {
    for (HWND child : ChildrenOfClass(options, className)) {
      if (TextOf(child) == text) return child;
    }
    return nullptr;
  };
  ::PostMessageW(find(L"TCheckBox", L"开机启动"), BM_CLICK, 0, 0);
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    for (HWND candidate : TopLevelWindows(Program.Pid(), L"#32770")) {
      if (::IsWindowVisible(candidate)) box = candidate;
    }
    return box != nullptr;
  }));
  const std::wstring refusal = TextOf(::GetDlgItem(box, 0xFFFF));
  EXPECT_TRUE(IsTaskRefusal(refusal)) << refusal.size();
  EXPECT_NE(refusal.find(L"注册表卫士"), std::wstring::npos) << refusal.size();
  ::PostMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !::IsWindow(box) || !::IsWindowVisible(box); }));
  ASSERT_TRUE(WaitFor([&] { return AutostartValue() == Quoted(Copy.Exe()); }))
      << AutostartValue().size();
  EXPECT_FALSE(TaskFileExists());
  ASSERT_TRUE(WaitFor([&] {
    auto edits = ChildrenOfClass(Program.AlertWindow(), L"TEdit");
    return edits.size() >= 4 && TextOf(edits[3]) == Copy.Exe();
  }));
  ::PostMessageW(find(L"TButton", L"确定"), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !::IsWindowVisible(options); }));
  const std::string ini = ReadFileBytes(Copy.Ini());
  EXPECT_NE(ini.find("[Form3]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("CheckBox1=1"), std::string::npos) << ini;
}

class AlarmTest : public SettingsTest {
 protected:
  // The start's own check that the program watches sounded the alarm: the
  // log begins after it.
  AlarmTest() : SettingsTest("[Form3]\r\nCheckBox3=1\r\n") {
    ::DeleteFileW(TStartState::SoundLog().c_str());
  }
  std::string Log() { return ReadFileBytes(TStartState::SoundLog()); }
  bool LogIs(const std::string& expected) {
    return WaitFor([&] { return Log() == expected; }, 5000);
  }
  void Change(const std::wstring& data) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, L"KeywardenAlarm", REG_SZ, data.c_str(),
                      static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  }
  bool AlertShows(const std::wstring& path) {
    return WaitFor([&] {
      auto edits = ChildrenOfClass(Program.AlertWindow(), L"TEdit");
      return ::IsWindowVisible(Program.AlertWindow()) && edits.size() >= 4 &&
             TextOf(edits[3]) == path;
    });
  }
  void Click(const wchar_t* caption) {
    ::PostMessageW(Find(Program.AlertWindow(), L"TButton", caption), BM_CLICK, 0, 0);
  }
  void TearDown() override { ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"KeywardenAlarm"); }
};

TEST_F(AlarmTest, StartsFromHiddenAndStopsOnTheButtonsAndTheCloseBoxOnly) {
  const std::string play = "play C:\\windows\\Media\\Tada.wav 11\r\n";
  Change(L"C:\\alarm\\one.exe");
  ASSERT_TRUE(AlertShows(L"C:\\alarm\\one.exe"));
  ASSERT_TRUE(LogIs(play));
  Change(L"C:\\alarm\\two.exe");  // a second alert while it plays: no restart
  ASSERT_TRUE(AlertShows(
      L" 程序 (KeywardenAlarm) 路径更改从 \"C:\\alarm\\one.exe\" 到 \"C:\\alarm\\two.exe\"; "));
  HWND properties = Find(Program.AlertWindow(), L"TImage", L"文件属性");
  ::PostMessageW(properties, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
  ::PostMessageW(properties, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));  // a picture: still playing
  // Both actions act on the program the changed entry now starts, which is not there.
  const std::wstring refused = L"未找到文件：C:\\alarm\\two.exe";
  EXPECT_EQ(AnswerBox().second, refused);
  EXPECT_TRUE(LogIs(play));
  Click(L"扫描文件");
  EXPECT_EQ(AnswerBox().second, refused);
  ASSERT_TRUE(LogIs(play + "stop\r\n"));
  Click(L"删除");
  EXPECT_EQ(AnswerBox().second, L"删除：KeywardenAlarm");
  ASSERT_TRUE(LogIs(play + "stop\r\nstop\r\n"));
  Click(L"确定");  // the button, then the close
  ASSERT_TRUE(LogIs(play + "stop\r\nstop\r\nstop\r\nstop\r\n"));

  Change(L"C:\\alarm\\three.exe");
  ASSERT_TRUE(AlertShows(L"C:\\alarm\\three.exe"));
  ::PostMessageW(Program.AlertWindow(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(LogIs(play + "stop\r\nstop\r\nstop\r\nstop\r\n" + play + "stop\r\n"));
}

}  // namespace
}  // namespace kw::e2e
