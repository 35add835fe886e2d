// The icon in explorer's notification area and its menu, used as a user would.

#include <gtest/gtest.h>

#include "tests/e2e/Program.h"

#include <commctrl.h>
#include <shellapi.h>
#include <cstdlib>

namespace kw::e2e {
namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr UINT kIconId = 1;  // the program's one tray icon

// A tool of explorer's tooltips: what the notification area shows for an icon.
struct TTrayTool {
  std::wstring Text;
  RECT Screen{};
};

// Reads every tool of explorer's tooltip windows, through memory in explorer's process.
std::vector<TTrayTool> TrayTools() {
  std::vector<TTrayTool> tools;
  HWND shellTray = ::FindWindowW(L"Shell_TrayWnd", nullptr);
  DWORD explorer = 0;
  ::GetWindowThreadProcessId(shellTray, &explorer);
  HANDLE process =
      ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, explorer);
  if (!process) return tools;
  const SIZE_T textBytes = 1024;
  auto* remote = static_cast<char*>(::VirtualAllocEx(
      process, nullptr, sizeof(TOOLINFOW) + textBytes, MEM_COMMIT, PAGE_READWRITE));
  for (HWND tips : TopLevelWindows(explorer, L"tooltips_class32")) {
    const int count = static_cast<int>(::SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      TOOLINFOW info{};
      info.cbSize = sizeof info;
      info.lpszText = reinterpret_cast<wchar_t*>(remote + sizeof(TOOLINFOW));
      ::WriteProcessMemory(process, remote, &info, sizeof info, nullptr);
      std::vector<wchar_t> zero(textBytes / sizeof(wchar_t), 0);
      ::WriteProcessMemory(process, remote + sizeof(TOOLINFOW), zero.data(), textBytes, nullptr);
      if (!::SendMessageW(tips, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(remote))) continue;
      std::vector<wchar_t> text(textBytes / sizeof(wchar_t), 0);
      ::ReadProcessMemory(process, remote, &info, sizeof info, nullptr);
      ::ReadProcessMemory(process, remote + sizeof(TOOLINFOW), text.data(), textBytes - 2, nullptr);
      TTrayTool tool{text.data(), info.rect};
      ::MapWindowPoints(info.hwnd, nullptr, reinterpret_cast<POINT*>(&tool.Screen), 2);
      if (!::IsRectEmpty(&info.rect)) tools.push_back(tool);
    }
  }
  ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  ::CloseHandle(process);
  return tools;
}

class TrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::DeleteFileW(BesideProgram(L"Keywarden.ini").c_str());
    ASSERT_TRUE(Program.Running());
    ASSERT_TRUE(WaitFor([&] { return Icon() != nullptr; }));
  }
  void TearDown() override { ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"Keywarden"); }

  HWND MessageWindow() { return Program.Window(L"TTrayIconHandler"); }
  // The notification area's record of the program's icon, or null.
  std::unique_ptr<TTrayTool> Icon() {
    for (const TTrayTool& tool : TrayTools()) {
      if (tool.Text == L"Keywarden Registry Monitor") return std::make_unique<TTrayTool>(tool);
    }
    return nullptr;
  }
  // Asks the shell whether it still has the icon, changing nothing.
  bool ShellHasIcon() {
    NOTIFYICONDATAW probe{};
    probe.cbSize = sizeof probe;
    probe.hWnd = MessageWindow();
    probe.uID = kIconId;
    return ::Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
  }
  HWND OpenMenu() {
    auto icon = Icon();
    if (!icon) return nullptr;
    const POINT at{(icon->Screen.left + icon->Screen.right) / 2,
                   (icon->Screen.top + icon->Screen.bottom) / 2};
    LastCursor = at;
    // A tooltip that came up over the icon would take the press: each try
    // first moves the cursor away, then presses at once on arriving.
    for (int attempt = 0; attempt < 3; ++attempt) {
      ::SetCursorPos(at.x - 300, at.y - 300);
      ::SetCursorPos(at.x, at.y);
      INPUT press[2] = {};
      press[0].type = press[1].type = INPUT_MOUSE;
      press[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
      press[1].mi.dwFlags = MOUSEEVENTF_RIGHTUP;
      ::SendInput(2, press, sizeof(INPUT));
      HWND menu = nullptr;
      if (WaitFor(
              [&] {
                for (HWND candidate = ::FindWindowExW(nullptr, nullptr, L"#32768", nullptr);
                     candidate;
                     candidate = ::FindWindowExW(nullptr, candidate, L"#32768", nullptr)) {
                  if (::IsWindowVisible(candidate)) menu = candidate;
                }
                return menu != nullptr;
              },
              3000)) {
        return menu;
      }
    }
    return nullptr;
  }
  // Items are chosen with the arrow keys: separators are passed over.
  void Choose(HWND menu, int downs) {
    for (int i = 0; i < downs; ++i) ::PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
    ::PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
    WaitFor([&] { return !::IsWindowVisible(menu); });
  }
  HWND Options() { return Program.Window(L"TForm3"); }

  TProgram Program;
  POINT LastCursor{};
};

TEST_F(TrayTest, TheIconAndItsTooltipAreThereBeforeAnyReport) {
  EXPECT_TRUE(ShellHasIcon());
  EXPECT_FALSE(::IsWindowVisible(Program.AlertWindow()));
}

TEST_F(TrayTest, ARightPressOpensTheMenuAtTheCursorAndOptionsShowsOneDialog) {
  HWND menu = OpenMenu();
  ASSERT_NE(menu, nullptr);
  RECT frame;
  ::GetWindowRect(menu, &frame);
  // At the screen's corner the menu is moved onto the work area, but stays at the cursor.
  const bool atCursor =
      frame.left <= LastCursor.x && LastCursor.x <= frame.right &&
      (std::abs(frame.top - LastCursor.y) <= 20 || std::abs(frame.bottom - LastCursor.y) <= 20);
  EXPECT_TRUE(atCursor) << frame.left << "," << frame.top << " " << frame.right << ","
                        << frame.bottom << " cursor " << LastCursor.x << "," << LastCursor.y;
  SaveScreenshot(ArtifactPath(L"tray-menu.bmp"));
  Choose(menu, 1);
  ASSERT_TRUE(WaitFor([&] { return Options() && ::IsWindowVisible(Options()); }));
  HWND first = Options();

  menu = OpenMenu();
  ASSERT_NE(menu, nullptr);
  Choose(menu, 1);
  // In front: nothing but topmost windows (the taskbar) above it.
  EXPECT_TRUE(WaitFor(
      [&] {
        for (HWND above = ::GetWindow(first, GW_HWNDPREV); above;
             above = ::GetWindow(above, GW_HWNDPREV)) {
          if (::IsWindowVisible(above) && !(::GetWindowLongW(above, GWL_EXSTYLE) & WS_EX_TOPMOST))
            return false;
        }
        return true;
      },
      3000));
  EXPECT_EQ(TopLevelWindows(Program.Pid(), L"TForm3").size(), 1u);
}

TEST_F(TrayTest, ExitEndsWhileDialogsAreOpenLeavesNoIconAndSavesNothing) {
  ::PostMessageW(Program.MainWindow(), WM_COMMAND, 101, 0);
  ASSERT_TRUE(WaitFor([&] { return Options() && ::IsWindowVisible(Options()); }));
  HWND startBox = nullptr;
  for (HWND box : ChildrenOfClass(Options(), L"TCheckBox")) {
    if (TextOf(box) == L"开机启动") startBox = box;
  }
  ::PostMessageW(startBox, BM_CLICK, 0, 0);  // the alert comes up for the autostart value
  ASSERT_TRUE(WaitFor([&] { return ::IsWindowVisible(Program.AlertWindow()); }));

  HWND menu = OpenMenu();
  ASSERT_NE(menu, nullptr);
  Choose(menu, 3);
  ASSERT_TRUE(Program.WaitForExit());
  EXPECT_TRUE(WaitFor([&] { return !Icon(); }));
  EXPECT_EQ(::GetFileAttributesW(BesideProgram(L"Keywarden.ini").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(TrayTest, ACloseRequestToTheMessageWindowLeavesTheProgramRunning) {
  ::PostMessageW(MessageWindow(), WM_CLOSE, 0, 0);
  DWORD_PTR ignored;
  ASSERT_TRUE(
      ::SendMessageTimeoutW(MessageWindow(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 3000, &ignored));
  EXPECT_TRUE(Program.Running());
  EXPECT_TRUE(ShellHasIcon());
}

TEST_F(TrayTest, TaskbarCreatedBringsALostIconBack) {
  NOTIFYICONDATAW remove{};
  remove.cbSize = sizeof remove;
  remove.hWnd = MessageWindow();
  remove.uID = kIconId;
  ASSERT_TRUE(::Shell_NotifyIconW(NIM_DELETE, &remove));
  ASSERT_TRUE(WaitFor([&] { return !ShellHasIcon(); }));
  ::PostMessageW(HWND_BROADCAST, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(WaitFor([&] { return ShellHasIcon() && Icon() != nullptr; }));
}

}  // namespace
}  // namespace kw::e2e
