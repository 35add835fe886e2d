// The alert's actions, clicked as a user would on the real program.

#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <fstream>

#include "tests/common/RemoveTree.h"
#include "tests/e2e/Program.h"

namespace kw::e2e {
namespace {

const std::wstring kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

bool RunValueExists(const std::wstring& name) {
  return ::RegGetValueW(HKEY_CURRENT_USER, kRunKey.c_str(), name.c_str(), RRF_RT_ANY, nullptr,
                        nullptr, nullptr) == ERROR_SUCCESS;
}

void SetRunValue(const std::wstring& name, const std::wstring& data) {
  ::RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey.c_str(), name.c_str(), REG_SZ, data.c_str(),
                    static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

// A window of the registry editor's class, with a tree, made by a program
// other than the editor on a thread that never answers a message: what a
// hostile program could put in the walk's way.
class TDecoyEditor {
 public:
  TDecoyEditor() {
    Thread = ::CreateThread(nullptr, 0, &Run, this, 0, nullptr);
    ::WaitForSingleObject(Made, 5000);
  }
  ~TDecoyEditor() {
    ::SetEvent(Release);
    ::WaitForSingleObject(Thread, 5000);
    for (HANDLE h : {Thread, Made, Release}) ::CloseHandle(h);
  }
  TDecoyEditor(const TDecoyEditor&) = delete;
  TDecoyEditor& operator=(const TDecoyEditor&) = delete;
  HWND Window = nullptr;

 private:
  static DWORD WINAPI Run(void* self) {
    auto& decoy = *static_cast<TDecoyEditor*>(self);
    WNDCLASSW wc{};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"RegEdit_RegEdit";
    ::RegisterClassW(&wc);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    decoy.Window = ::CreateWindowExW(0, L"RegEdit_RegEdit", L"", WS_OVERLAPPEDWINDOW, 0, 0, 300,
                                     200, nullptr, nullptr, wc.hInstance, nullptr);
    ::CreateWindowExW(0, WC_TREEVIEWW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 300, 200, decoy.Window,
                      nullptr, wc.hInstance, nullptr);
    ::SetEvent(decoy.Made);
    ::WaitForSingleObject(decoy.Release, INFINITE);  // not a message is handled meanwhile
    ::DestroyWindow(decoy.Window);
    return 0;
  }
  HANDLE Made = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE Release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE Thread = nullptr;
};

// The registry editor's window: of another process than this one, whose decoys it passes over.
HWND EditorWindow() {
  for (HWND window = nullptr;
       (window = ::FindWindowExW(nullptr, window, L"RegEdit_RegEdit", nullptr));) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid != ::GetCurrentProcessId()) return window;
  }
  return nullptr;
}

// The user's Startup folder as the shell names it.
std::wstring UserStartupFolder() {
  PWSTR path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Startup, KF_FLAG_DONT_VERIFY, nullptr, &path))) {
    folder = path;
  }
  ::CoTaskMemFree(path);
  return folder;
}

// Saves a shell link at `file` that starts `target`, as an installer would.
bool MakeShortcut(const std::wstring& file, const std::wstring& target) {
  const bool com = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  IShellLinkW* link = nullptr;
  IPersistFile* persist = nullptr;
  bool saved = false;
  if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link))) &&
      SUCCEEDED(link->SetPath(target.c_str())) &&
      SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
    saved = SUCCEEDED(persist->Save(file.c_str(), TRUE));
  }
  if (persist) persist->Release();
  if (link) link->Release();
  if (com) ::CoUninitialize();
  return saved;
}

// The whole of a file the stand-in upload tool wrote: its UTF-16 command line.
std::wstring ReadCommandLineLog(const std::wstring& log) {
  std::ifstream in(log.c_str(), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()),
                      bytes.size() / sizeof(wchar_t));
}

bool FileExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class ActionsTest : public ::testing::Test {
 protected:
  explicit ActionsTest(const std::wstring& exe = ProgramPath()) : Program(exe) {}
  void SetUp() override {
    ASSERT_TRUE(Program.Running());
    Dialog = Program.AlertWindow();
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey.c_str(), Name.c_str());
    SetRunValue(Name, L"\"C:\\Program Files\\Demo App\\demo.exe\" /tray");
    ASSERT_TRUE(WaitFor([&] { return Field(3) == L"C:\\Program Files\\Demo App\\demo.exe "; }));
  }
  void TearDown() override {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey.c_str(), Name.c_str());
  }

  // The four fields from the top: hive, time, key, path; any others lie below them.
  HWND Edit(int row) {
    auto edits = ChildrenOfClass(Dialog, L"TEdit");
    // The four fields top to bottom; the whole data's field, when shown, is below them.
    return edits.size() >= 4 ? edits[static_cast<std::size_t>(row)] : nullptr;
  }
  std::wstring Field(int row) { return TextOf(Edit(row)); }
  std::wstring Label() {
    auto labels = ChildrenOfClass(Dialog, L"TsLabelFX");
    return labels.empty() ? L"" : TextOf(labels[0]);
  }
  HWND Control(const wchar_t* className, const std::wstring& text) {
    for (HWND child : ChildrenOfClass(Dialog, className)) {
      if (TextOf(child) == text) return child;
    }
    return nullptr;
  }
  void ClickButton(const std::wstring& caption) {
    ::PostMessageW(Control(L"TButton", caption), BM_CLICK, 0, 0);
  }
  void ClickPicture(const std::wstring& hint) {
    HWND picture = Control(L"TImage", hint);
    ::PostMessageW(picture, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    ::PostMessageW(picture, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
  }
  HWND MessageBox() {
    auto boxes = TopLevelWindows(Program.Pid(), L"#32770");
    for (HWND box : boxes) {
      if (::IsWindowVisible(box)) return box;
    }
    return nullptr;
  }
  // Waits for a message box, gives its text and dismisses it with its button.
  std::wstring AnswerMessageBox(const wchar_t* screenshot = nullptr) {
    HWND box = nullptr;
    if (!WaitFor([&] { return (box = MessageBox()) != nullptr; })) return L"<no message box>";
    const std::wstring text = TextOf(::GetDlgItem(box, 0xFFFF));
    if (screenshot) SaveScreenshot(ArtifactPath(screenshot));
    EXPECT_EQ(TextOf(::GetDlgItem(box, IDOK)), L"确定");
    ::PostMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    WaitFor([&] { return !::IsWindow(box) || !::IsWindowVisible(box); });
    return text;
  }
  bool Responsive() {
    DWORD_PTR ignored;
    return ::SendMessageTimeoutW(Dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 3000, &ignored) != 0;
  }

  const std::wstring Name = L"KeywardenDemo";
  TProgram Program;
  HWND Dialog = nullptr;
};

TEST_F(ActionsTest, DeleteRemovesTheValueAndTheAlertReportsItThenFindsItGone) {
  ClickButton(L"删除");
  EXPECT_EQ(AnswerMessageBox(L"message-deleted.bmp"), L"删除：" + Name);
  EXPECT_FALSE(RunValueExists(Name));
  ASSERT_TRUE(WaitFor([&] { return TextOf(Dialog) == L"警告！注册表更改 - 删除启动项"; }));
  EXPECT_EQ(Field(3), L"C:\\Program Files\\Demo App\\demo.exe ");
  EXPECT_EQ(Label(), Name);

  ClickButton(L"删除");
  EXPECT_EQ(AnswerMessageBox(), L"未找到：" + Name);
}

// "恢复" undoes what a program did: a changed value gets its old data back,
// a deleted one is made again with its old type; the guard reports both as
// changes of their own. It is offered only where there is an old side.
TEST_F(ActionsTest, PutBackUndoesAChangeAndADeletionWithTheOldType) {
  EXPECT_FALSE(::IsWindowVisible(Control(L"TButton", L"恢复"))) << "an added value";
  SetRunValue(Name, L"C:\\evil\\swapped.exe");
  ASSERT_TRUE(WaitFor([&] { return Field(3).find(L"swapped.exe\"; ") != std::wstring::npos; }));
  ASSERT_TRUE(::IsWindowVisible(Control(L"TButton", L"恢复")));
  ClickButton(L"恢复");
  EXPECT_EQ(AnswerMessageBox(L"message-put-back.bmp"), L"已恢复：" + Name);
  wchar_t data[MAX_PATH] = {};
  DWORD type = 0, size = sizeof data;
  EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, kRunKey.c_str(), Name.c_str(), RRF_RT_ANY, &type,
                           data, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(data), L"\"C:\\Program Files\\Demo App\\demo.exe\" /tray");
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  ASSERT_TRUE(WaitFor([&] { return Field(3).find(L"/tray\"; ") != std::wstring::npos; }))
      << "the put back reported as a change";

  const std::wstring expandable = L"KeywardenExpand", text = L"%SystemRoot%\\kw-expand.exe";
  ::RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey.c_str(), expandable.c_str(), REG_EXPAND_SZ,
                    text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  ASSERT_TRUE(WaitFor([&] { return Label() == expandable; }));
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey.c_str(), expandable.c_str());
  ASSERT_TRUE(WaitFor([&] { return TextOf(Dialog) == L"警告！注册表更改 - 删除启动项"; }));
  ClickButton(L"恢复");
  EXPECT_EQ(AnswerMessageBox(), L"已恢复：" + expandable);
  size = sizeof data;
  EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, kRunKey.c_str(), expandable.c_str(),
                           RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(data), text);
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_TRUE(WaitFor([&] { return TextOf(Dialog) == L"警告！注册表更改 - 添加启动项"; }));
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey.c_str(), expandable.c_str());
}

// "禁用" switches a Run entry off as Task Manager does: the entry stays, and
// its switch says off. A program that switches it on again is reported, and
// the entry can be switched off again from that report.
TEST_F(ActionsTest, SwitchOffWritesTaskManagersSwitchAndSwitchingOnIsReported) {
  const std::wstring switches =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
  const auto firstByte = [&]() -> int {
    BYTE data[64] = {};
    DWORD type = 0, size = sizeof data;
    if (::RegGetValueW(HKEY_CURRENT_USER, switches.c_str(), Name.c_str(), RRF_RT_ANY, &type, data,
                       &size) != ERROR_SUCCESS) {
      return -1;
    }
    return type == REG_BINARY && size == 12 ? data[0] : -2;
  };
  ClickButton(L"禁用");
  EXPECT_EQ(AnswerMessageBox(L"message-switched-off.bmp"), L"已禁用：" + Name);
  EXPECT_EQ(firstByte(), 3) << "expected Task Manager's 12 bytes, switched off";
  EXPECT_TRUE(RunValueExists(Name));
  ASSERT_TRUE(WaitFor([&] { return TextOf(Dialog) == L"警告！注册表更改 - 禁用启动项"; }));
  EXPECT_EQ(Field(3), L"启动开关：已禁用");
  EXPECT_EQ(Field(2), L"\\" + switches);
  EXPECT_EQ(Label(), Name);

  const BYTE on[12] = {2};
  ::RegSetKeyValueW(HKEY_CURRENT_USER, switches.c_str(), Name.c_str(), REG_BINARY, on, sizeof on);
  ASSERT_TRUE(WaitFor([&] { return TextOf(Dialog) == L"警告！注册表更改 - 启用启动项"; }));
  EXPECT_EQ(Field(3), L"启动开关：已重新启用");
  ClickButton(L"禁用");
  EXPECT_EQ(AnswerMessageBox(), L"已禁用：" + Name);
  EXPECT_EQ(firstByte(), 3);
  ASSERT_TRUE(WaitFor([&] { return TextOf(Dialog) == L"警告！注册表更改 - 禁用启动项"; }));

  // Deleting the switch switches the entry on too.
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, switches.c_str(), Name.c_str());
  EXPECT_TRUE(WaitFor([&] { return Field(3) == L"启动开关：已重新启用"; }));
}

TEST_F(ActionsTest, DeleteNamesAChineseValueInItsMessages) {
  const std::wstring name = L"木马程序";
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey.c_str(), name.c_str());
  SetRunValue(name, L"C:\\临时\\木马.exe");
  ASSERT_TRUE(WaitFor([&] {
    return Label() == name && Field(3) == L"C:\\临时\\木马.exe" &&
           TextOf(Dialog) == L"警告！注册表更改 - 添加启动项";
  })) << Label().size()
      << " " << Field(3).size();
  ClickButton(L"删除");
  EXPECT_EQ(AnswerMessageBox(L"message-deleted-chinese.bmp"), L"删除：" + name);
  EXPECT_FALSE(RunValueExists(name));
  ClickButton(L"删除");
  EXPECT_EQ(AnswerMessageBox(), L"未找到：" + name);
}

// A character code page 936 cannot hold shows as "?", as the ANSI functions
// of a Chinese system give it; two names that show alike are still two
// values, and "删除" deletes exactly the one reported.
TEST_F(ActionsTest, NamesBeyondCodePage936ShowWithAQuestionMarkAndDeleteExactly) {
  const std::wstring first = L"木马\xD55C", second = L"木马\xD55D";  // Hangul syllables
  for (const std::wstring& name : {first, second}) {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey.c_str(), name.c_str());
  }
  SetRunValue(first, L"C:\\temp\\k1.exe");
  ASSERT_TRUE(WaitFor([&] { return Field(3) == L"C:\\temp\\k1.exe"; }));
  SetRunValue(second, L"C:\\temp\\k2.exe");
  ASSERT_TRUE(WaitFor([&] { return Field(3) == L"C:\\temp\\k2.exe"; }));
  EXPECT_EQ(Label(), L"木马?");
  ClickButton(L"删除");
  EXPECT_EQ(AnswerMessageBox(), L"删除：木马?");
  EXPECT_FALSE(RunValueExists(second));
  EXPECT_TRUE(RunValueExists(first));
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey.c_str(), first.c_str());
}

TEST_F(ActionsTest, DeleteWithAnEmptyOrEditedHiveFindsNoKey) {
  SetTextOf(Edit(0), L"");
  ClickButton(L"删除");
  EXPECT_EQ(AnswerMessageBox(L"message-key-not-found.bmp"), L"Key not found");
  SetTextOf(Edit(0), L"HKEY_NOWHERE");
  ClickButton(L"删除");
  EXPECT_EQ(AnswerMessageBox(), L"Key not found");
  EXPECT_TRUE(RunValueExists(Name));
}

// "确定" empties the fields and dismisses every change; a wake that brings
// nothing new (a number written) neither shows nor fills anything, and the
// next entry comes alone.
TEST_F(ActionsTest, OkEmptiesAndHidesAndOnlyTheNextEntryBringsTheAlertBack) {
  ClickButton(L"确定");
  ASSERT_TRUE(WaitFor([&] { return !::IsWindowVisible(Dialog); }));
  for (int row = 0; row < 4; ++row) EXPECT_EQ(Field(row), L"");
  EXPECT_EQ(Label(), L"");

  ::RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey.c_str(), L"KeywardenNumber", REG_DWORD,
                    std::wstring(L"\x2").data(), 4);
  SetRunValue(L"KeywardenNext", L"C:\\next.exe");
  ASSERT_TRUE(WaitFor([&] { return ::IsWindowVisible(Dialog) && Field(3) == L"C:\\next.exe"; }));
  EXPECT_EQ(Label(), L"KeywardenNext");
  EXPECT_FALSE(::IsWindowVisible(Control(L"TButton", L"<")));  // the one change since "确定"
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey.c_str(), L"KeywardenNumber");
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey.c_str(), L"KeywardenNext");
}

// The tool beside the program would run with the guard's rights. Wine
// keeps no access lists of its own: every folder here is the user's, so the
// tool is refused, with the reason, and never started. (Started from an
// administrators' folder, it gets the expanded path as one argument: the
// native rows show that.)
TEST_F(ActionsTest, ScanRefusesAToolOtherProgramsCanChange) {
  const std::wstring folder = L"C:\\临时 目录", file = folder + L"\\木马.exe";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  ::CloseHandle(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  const std::wstring log = BesideProgram(L"scan.log");
  ::DeleteFileW(log.c_str());
  SetTextOf(Edit(3), L" \"%SystemDrive%\\临时 目录\\木马.exe\" ");
  ClickButton(L"扫描文件");
  const std::wstring text = AnswerMessageBox(L"message-scan-tool-refused.bmp");
  std::wstring line;
  const bool logged = WaitFor([&] { return !(line = ReadCommandLineLog(log)).empty(); }, 500);
  ::DeleteFileW(file.c_str());
  ::RemoveDirectoryW(folder.c_str());
  EXPECT_FALSE(logged) << line;
  const std::wstring refusal = L"未启动扫描工具：它所在的位置不是只有管理员能修改。\r\n";
  EXPECT_EQ(text.substr(0, refusal.size()), refusal) << text;
  EXPECT_NE(text.find(L" 可以修改："), std::wstring::npos) << text;

  // A Run value naming a look-alike of a harmless program beside it: the
  // alert shows the look-alike with "?", and the tool gets the file Windows
  // starts, never the one it resembles.
  const std::wstring harmless = L"C:\\users\\Public\\update.exe";
  const std::wstring payload = L"C:\\users\\Public\\upd\u00E2te.exe";
  for (const std::wstring& path : {harmless, payload}) {
    ::CloseHandle(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  }
  SetRunValue(L"KeywardenLookAlike", payload);
  const bool shown = WaitFor([&] { return Field(3) == L"C:\\users\\Public\\upd?te.exe"; });
  // The file is checked before the tool: the tool's refusal says the file
  // the record names, exactly, was found; its view names none.
  std::wstring answer;
  if (shown) {
    ClickButton(L"扫描文件");
    answer = AnswerMessageBox();
  }
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey.c_str(), L"KeywardenLookAlike");
  for (const std::wstring& path : {harmless, payload}) ::DeleteFileW(path.c_str());
  ASSERT_TRUE(shown) << "Edit3 holds " << Field(3).size() << " characters";
  EXPECT_EQ(answer.substr(0, refusal.size()), refusal) << "the box said " << answer.size() << " characters";
}

// Data that names a protocol opens whatever handler the user's classes
// name for it, with the guard's rights: refused with a box, and the handler
// never runs. So is a folder or a file that is not there.
TEST_F(ActionsTest, AProtocolPathIsRefusedAndAMissingFileNamedInABox) {
  const std::wstring classes = L"Software\\Classes\\kwtestproto";
  const std::wstring handler = L"\"" + BesideProgram(L"VirusTotalUpload.exe") + L"\" \"%1\"";
  ::RegSetKeyValueW(HKEY_CURRENT_USER, classes.c_str(), L"URL Protocol", REG_SZ, L"", 2);
  ::RegSetKeyValueW(HKEY_CURRENT_USER, (classes + L"\\shell\\open\\command").c_str(), nullptr,
                    REG_SZ, handler.c_str(),
                    static_cast<DWORD>((handler.size() + 1) * sizeof(wchar_t)));
  const std::wstring log = BesideProgram(L"scan.log");
  ::DeleteFileW(log.c_str());

  SetTextOf(Edit(3), L"kwtestproto:payload");
  ClickPicture(L"打开程序文件夹");
  EXPECT_EQ(AnswerMessageBox(L"message-not-a-file-path.bmp"), L"不是文件路径：kwtestproto:payload");
  ClickPicture(L"文件属性");
  EXPECT_EQ(AnswerMessageBox(), L"不是文件路径：kwtestproto:payload");
  ClickButton(L"扫描文件");
  EXPECT_EQ(AnswerMessageBox(), L"不是文件路径：kwtestproto:payload");
  SetTextOf(Edit(3), L"http://example.invalid/x.exe");
  ClickPicture(L"打开程序文件夹");
  EXPECT_EQ(AnswerMessageBox(), L"不是文件路径：http://example.invalid/x.exe");

  SetTextOf(Edit(3), L"C:\\无此目录\\x.exe");
  ClickPicture(L"打开程序文件夹");
  EXPECT_EQ(AnswerMessageBox(), L"未找到文件夹：C:\\无此目录\\");
  ClickPicture(L"文件属性");
  EXPECT_EQ(AnswerMessageBox(), L"未找到文件：C:\\无此目录\\x.exe");
  EXPECT_TRUE(Responsive());
  EXPECT_FALSE(FileExists(log));
  EXPECT_EQ(CountWindows(L"ExplorerWClass"), 0);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, classes.c_str());
}

TEST_F(ActionsTest, TheRegistryLocationOpensTheEditorAtTheKey) {
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER,
                       L"Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Regedit",
                       L"LastKey");
  // Found first by its class, the decoy is passed over: the real editor is
  // started and walked, and the program keeps answering.
  TDecoyEditor decoy;
  ASSERT_NE(decoy.Window, nullptr);
  ASSERT_EQ(EditorWindow(), nullptr);
  ClickPicture(L"打开注册表位置");
  HWND editor = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (editor = EditorWindow()) != nullptr; }));
  const std::wstring expected = L"HKEY_CURRENT_USER\\" + kRunKey;
  std::wstring status;
  const bool arrived = WaitFor(
      [&] {
        status = TextOf(::GetDlgItem(editor, 2001));
        const auto at = status.find(L"HKEY_");
        return at != std::wstring::npos && status.substr(at) == expected;
      },
      30000);
  SaveScreenshot(ArtifactPath(L"regedit-at-key.bmp"));
  EXPECT_TRUE(arrived) << "status bar: " << std::string(status.begin(), status.end());
  EXPECT_TRUE(WaitFor([&] { return Responsive(); }));

  // Again, the editor running with that key selected: back to the root, then to another key.
  SetTextOf(Edit(2), L"\\Software\\Wine");
  ClickPicture(L"打开注册表位置");
  const bool arrivedAgain = WaitFor(
      [&] {
        status = TextOf(::GetDlgItem(editor, 2001));
        const auto at = status.find(L"HKEY_");
        return at != std::wstring::npos &&
               status.substr(at) == L"HKEY_CURRENT_USER\\Software\\Wine";
      },
      30000);
  EXPECT_TRUE(arrivedAgain) << "status bar: " << std::string(status.begin(), status.end());
  EXPECT_TRUE(WaitFor([&] { return Responsive(); }));
  ::PostMessageW(editor, WM_CLOSE, 0, 0);
  WaitFor([&] { return !::IsWindow(editor); });
}

TEST_F(ActionsTest, FolderAndPropertiesNeitherHangNorComplain) {
  // A folder that exists opens a window, environment strings expanded.
  SetTextOf(Edit(3), L"%SystemRoot%\\system32\\notepad.exe");
  RECT folder;
  ::GetWindowRect(Control(L"TImage", L"打开程序文件夹"), &folder);
  // With the mouse: the properties picture is drawn over the folder
  // picture's right edge, and takes the click there (nothing to see under
  // Wine); a press begun elsewhere and released over a picture is no click;
  // then the folder picture's own part opens one folder window.
  LeftDrag({folder.left + 24, folder.top + 3}, {folder.left + 24, folder.top + 3});
  LeftDrag({folder.left - 60, folder.top + 3}, {folder.left + 3, folder.top + 3});
  ASSERT_EQ(CountWindows(L"ExplorerWClass"), 0);
  LeftDrag({folder.left + 3, folder.top + 3}, {folder.left + 3, folder.top + 3});
  ASSERT_TRUE(WaitFor([&] { return CountWindows(L"ExplorerWClass") > 0; }));
  // The file manager shows the expanded folder by its name.
  HWND window = ::FindWindowW(L"ExplorerWClass", nullptr);
  EXPECT_TRUE(WaitFor([&] {
    auto places = ChildrenOfClass(window, L"ComboBoxEx32");
    return !places.empty() && TextOf(places[0]) == L"system32";
  }));
  ClickPicture(L"文件属性");
  ASSERT_TRUE(WaitFor([&] { return Responsive(); }));
  // Let the shell requests come back; any error box would be ours.
  WaitFor([&] { return MessageBox() != nullptr; }, 1500);
  EXPECT_EQ(MessageBox(), nullptr);
  EXPECT_EQ(CountWindows(L"ExplorerWClass"), 1);
  EXPECT_TRUE(Program.Running());
  for (HWND folder = ::FindWindowW(L"ExplorerWClass", nullptr); folder;
       folder = ::FindWindowW(L"ExplorerWClass", nullptr)) {
    ::SendMessageTimeoutW(folder, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 2000, nullptr);
    if (!WaitFor([&] { return !::IsWindow(folder); }, 3000)) break;
  }
}

// A folder renamed away for a while, and what is made at its path
// meanwhile removed again when it goes: the tests after find all as it was.
// What was made is moved off the path before it is removed: a folder the
// program watches is only removed once the program lets it go (Wine removes
// it at the last handle's closing), which a rename makes it do.
struct TRenamedAway {
  explicit TRenamedAway(const std::wstring& folder)
      : Folder(folder), Moved(::MoveFileW(folder.c_str(), Away().c_str()) != FALSE) {}
  ~TRenamedAway() {
    if (!Moved) return;
    // A name of its own each time: Wine may keep an earlier pass's until the
    // program that watched it lets go.
    const std::wstring made = Folder + L".made" + std::to_wstring(::GetTickCount());
    const bool madeMoved = ::MoveFileW(Folder.c_str(), made.c_str()) != FALSE;
    EXPECT_TRUE(madeMoved || ::GetLastError() == ERROR_FILE_NOT_FOUND)
        << "moving what was made off the path failed: " << ::GetLastError();
    EXPECT_TRUE(::MoveFileW(Away().c_str(), Folder.c_str()))
        << "moving back failed: " << ::GetLastError();
    if (madeMoved) test::RemoveTree(made);
  }
  std::wstring Away() const { return Folder + L".away"; }
  const std::wstring Folder;
  const bool Moved;
};

// A shortcut dropped into the user's Startup folder is reported like an
// autostart value: its target in Edit3, the folder in the key field, and
// "删除" removes the file. A fresh prefix may lack the folder: made now, it
// is first waited for through its parent. The folder is watched by its path:
// with Programs renamed away and a new Programs\StartUp made, a shortcut in
// that is reported too.
TEST_F(ActionsTest, AShortcutInTheStartupFolderIsShownAndDeletedFromTheAlert) {
  const std::wstring folder = UserStartupFolder();
  ASSERT_FALSE(folder.empty());
  ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  const std::wstring name = L"启动木马.lnk";
  const std::wstring file = folder + L"\\" + name;
  ::DeleteFileW(file.c_str());
  ASSERT_TRUE(MakeShortcut(file, L"C:\\windows\\notepad.exe"));
  ASSERT_TRUE(WaitFor([&] {
    return Label() == name && Field(3) == L"C:\\windows\\notepad.exe" && Field(0) == L"启动文件夹";
  })) << "label "
      << Label().size() << ", Edit3 " << Field(3).size() << ", hive " << Field(0).size();
  EXPECT_EQ(Field(2), folder);
  EXPECT_EQ(TextOf(Dialog), L"警告！注册表更改 - 添加启动项");
  ClickButton(L"删除");
  EXPECT_EQ(AnswerMessageBox(L"message-deleted-shortcut.bmp"), L"删除：" + name);
  EXPECT_EQ(::GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(WaitFor([&] { return TextOf(Dialog) == L"警告！注册表更改 - 删除启动项"; }));
  EXPECT_EQ(Label(), name);
  ClickButton(L"删除");
  EXPECT_EQ(AnswerMessageBox(), L"未找到：" + name);
  // "恢复" makes it again as it was, which is reported as added.
  ClickButton(L"恢复");
  EXPECT_EQ(AnswerMessageBox(L"message-put-back-shortcut.bmp"), L"已恢复：" + name);
  ASSERT_TRUE(WaitFor([&] {
    return Label() == name && Field(3) == L"C:\\windows\\notepad.exe" &&
           TextOf(Dialog) == L"警告！注册表更改 - 添加启动项";
  }));
  ::DeleteFileW(file.c_str());

  const TRenamedAway programs(folder.substr(0, folder.find_last_of(L'\\')));
  ASSERT_TRUE(programs.Moved) << "renaming away failed: " << ::GetLastError();
  ASSERT_EQ(::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr), ERROR_SUCCESS);
  const std::wstring other = L"新启动木马.lnk";
  ASSERT_TRUE(MakeShortcut(folder + L"\\" + other, L"C:\\windows\\regedit.exe"));
  ASSERT_TRUE(WaitFor([&] {
    return Label() == other && Field(3) == L"C:\\windows\\regedit.exe" &&
           TextOf(Dialog) == L"警告！注册表更改 - 添加启动项";
  })) << "label "
      << Label().size() << ", Edit3 " << Field(3).size();
  EXPECT_EQ(Field(2), folder);
}

// A copy of the program in a folder without the upload tool, while another
// VirusTotalUpload.exe waits on the search path and in the user's App Paths,
// both of which any program of the user can write.
struct TCopyWithoutTool {
  TCopyWithoutTool() {
    ::CreateDirectoryW(Folder.c_str(), nullptr);
    ::CopyFileW(ProgramPath().c_str(), Exe().c_str(), FALSE);
    ::CreateDirectoryW(Decoys.c_str(), nullptr);
    ::CopyFileW(BesideProgram(L"VirusTotalUpload.exe").c_str(), Decoy().c_str(), FALSE);
    ::DeleteFileW(DecoyLog().c_str());
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kAppPaths, nullptr, REG_SZ, Decoy().c_str(),
                      static_cast<DWORD>((Decoy().size() + 1) * sizeof(wchar_t)));
    wchar_t path[32767];
    const DWORD n = ::GetEnvironmentVariableW(L"PATH", path, 32767);
    SearchPath.assign(path, n < 32767 ? n : 0);
    // The copy inherits it.
    ::SetEnvironmentVariableW(L"PATH", (Decoys + L";" + SearchPath).c_str());
  }
  ~TCopyWithoutTool() {
    ::SetEnvironmentVariableW(L"PATH", SearchPath.c_str());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kAppPaths);
    for (const std::wstring& file : {Exe(), Folder + L"\\Keywarden.ini", Decoy(), DecoyLog()}) {
      ::DeleteFileW(file.c_str());
    }
    ::RemoveDirectoryW(Folder.c_str());
    ::RemoveDirectoryW(Decoys.c_str());
  }
  std::wstring Exe() const { return Folder + L"\\Keywarden.exe"; }
  std::wstring Decoy() const { return Decoys + L"\\VirusTotalUpload.exe"; }
  std::wstring DecoyLog() const { return Decoys + L"\\scan.log"; }
  // 昞's second byte is that of a backslash: the folder part must not end there.
  const std::wstring Folder = BesideProgram(L"无扫描工具昞");
  const std::wstring Decoys = BesideProgram(L"decoys");
  static constexpr const wchar_t* kAppPaths =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\VirusTotalUpload.exe";
  std::wstring SearchPath;
};

class ScanToolMissingTest : protected TCopyWithoutTool, public ActionsTest {
 protected:
  ScanToolMissingTest() : ActionsTest(TCopyWithoutTool::Exe()) {}
};

TEST_F(ScanToolMissingTest, ScanSaysTheToolIsMissingAndStartsNoOther) {
  SetTextOf(Edit(3), L"C:\\windows\\notepad.exe");
  ClickButton(L"扫描文件");
  EXPECT_EQ(AnswerMessageBox(L"message-scan-tool-missing.bmp"),
            L"未找到扫描工具：" + Folder + L"\\VirusTotalUpload.exe");
  EXPECT_TRUE(Responsive());
  EXPECT_FALSE(FileExists(DecoyLog()));
}

}  // namespace
}  // namespace kw::e2e
