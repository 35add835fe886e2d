// The alert's actions, clicked as a user would on the real program.

#include <gtest/gtest.h>

#include <fstream>

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

class ActionsTest : public ::testing::Test {
 protected:
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

  HWND Edit(int row) {
    auto edits = ChildrenOfClass(Dialog, L"TEdit");
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

TEST_F(ActionsTest, ScanStartsTheToolWithThePathAsOneArgument) {
  const std::wstring log = BesideProgram(L"scan.log");
  ::DeleteFileW(log.c_str());
  ClickButton(L"扫描文件");
  ASSERT_TRUE(
      WaitFor([&] { return ::GetFileAttributesW(log.c_str()) != INVALID_FILE_ATTRIBUTES; }));
  std::wstring line;
  ASSERT_TRUE(WaitFor([&] {
    std::ifstream in(log.c_str(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    line.assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    return !line.empty();
  }));
  EXPECT_NE(line.find(L"VirusTotalUpload.exe"), std::wstring::npos) << line.size();
  const std::wstring argument = L"\"C:\\Program Files\\Demo App\\demo.exe \"";
  EXPECT_EQ(line.substr(line.size() - argument.size()), argument);
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
  SetTextOf(Edit(3), L"C:\\windows\\notepad.exe");  // a folder that exists opens a window
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

}  // namespace
}  // namespace kw::e2e
