// The icon in explorer's notification area and its menu, used as a user would.

#include <gtest/gtest.h>

#include "tests/e2e/Program.h"
#include "tests/win32/StoredTask.h"

#include <shellapi.h>
#include <cstdlib>

namespace kw::e2e {
namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr UINT kIconId = 1;  // the program's one tray icon

class TrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::DeleteFileW(BesideProgram(L"Keywarden.ini").c_str());
    ASSERT_TRUE(Program.Running());
    ASSERT_TRUE(WaitFor([&] { return Icon() != nullptr; }));
  }
  void TearDown() override {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"Keywarden");
    test::DeleteStoredTask(test::OwnLogonTaskPath().c_str());  // registered beside the value
  }

  HWND MessageWindow() { return Program.Window(L"TTrayIconHandler"); }
  std::unique_ptr<TTrayTool> Icon() { return ProgramTrayIcon(); }
  // Asks the shell whether it still has the icon, changing nothing.
  bool ShellHasIcon() {
    NOTIFYICONDATAW probe{};
    probe.cbSize = sizeof probe;
    probe.hWnd = MessageWindow();
    probe.uID = kIconId;
    return ::Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
  }
  HWND OpenMenu() { return OpenTrayMenu(&LastCursor); }
  void Choose(HWND menu, int downs) { ChooseMenuItem(menu, downs); }
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
  Choose(menu, kMenuOptions);
  ASSERT_TRUE(WaitFor([&] { return Options() && ::IsWindowVisible(Options()); }));
  HWND first = Options();

  menu = OpenMenu();
  ASSERT_NE(menu, nullptr);
  Choose(menu, kMenuOptions);
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
  ASSERT_TRUE(ChooseFromTrayMenu(kMenuOptions));
  ASSERT_TRUE(WaitFor([&] { return Options() && ::IsWindowVisible(Options()); }));
  HWND startBox = nullptr;
  for (HWND box : ChildrenOfClass(Options(), L"TCheckBox")) {
    if (TextOf(box) == L"开机启动") startBox = box;
  }
  ::PostMessageW(startBox, BM_CLICK, 0, 0);  // the alert comes up for the autostart value
  ASSERT_TRUE(WaitFor([&] { return ::IsWindowVisible(Program.AlertWindow()); }));

  HWND menu = OpenMenu();
  ASSERT_NE(menu, nullptr);
  Choose(menu, kMenuExit);
  ASSERT_TRUE(Program.WaitForExit());
  EXPECT_TRUE(WaitFor([&] { return !Icon(); }));
  EXPECT_EQ(::GetFileAttributesW(BesideProgram(L"Keywarden.ini").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(TrayTest, NeitherACloseRequestToTheMessageWindowNorAForgedNoticeStopsTheGuard) {
  ::PostMessageW(MessageWindow(), WM_CLOSE, 0, 0);
  DWORD_PTR ignored;
  ASSERT_TRUE(
      ::SendMessageTimeoutW(MessageWindow(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 3000, &ignored));
  EXPECT_TRUE(Program.Running());
  EXPECT_TRUE(ShellHasIcon());

  // No event of the guard has a name another program could set, squat or
  // reset, and a notice forged with a made-up parameter carries nothing the
  // guard reads: it changes no field, and the guard goes on reporting.
  EXPECT_EQ(::OpenEventW(EVENT_MODIFY_STATE, FALSE, L"EventStopAll"), nullptr);
  EXPECT_EQ(::OpenEventW(EVENT_MODIFY_STATE, FALSE, L"RegMonitorChange8"), nullptr);
  HWND alert = Program.AlertWindow();
  ::PostMessageW(Program.MainWindow(), 2997, 0x41414149, 0x41414141);
  ASSERT_TRUE(::SendMessageTimeoutW(Program.MainWindow(), 2997, 0x41414149, 0, SMTO_ABORTIFHUNG,
                                    3000, &ignored));
  EXPECT_FALSE(::IsWindowVisible(alert));
  const wchar_t* run = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  const std::wstring data = L"C:\\after\\forged.exe";
  ::RegSetKeyValueW(HKEY_CURRENT_USER, run, L"KeywardenForged", REG_SZ, data.c_str(),
                    static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  EXPECT_TRUE(WaitFor([&] {
    const auto edits = ChildrenOfClass(alert, L"TEdit");  // Edit3 is the fourth from the top
    return ::IsWindowVisible(alert) && edits.size() >= 4 && TextOf(edits[3]) == data;
  }));
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, run, L"KeywardenForged");
  const std::string unixProcess = UnixProcessOf("Keywarden.exe");
  ASSERT_FALSE(unixProcess.empty());
  // Idle: half a second in which the kernel counted under 10 ms of CPU.
  EXPECT_TRUE(WaitFor([&] {
    const unsigned long long before = KernelCpuNs(unixProcess);
    ::Sleep(500);
    return KernelCpuNs(unixProcess) - before < 10000000ull;
  }));
  EXPECT_TRUE(ChooseFromTrayMenu(kMenuOptions));  // its menu still answers
  EXPECT_TRUE(WaitFor([&] { return Options() && ::IsWindowVisible(Options()); }));
  EXPECT_TRUE(ShellHasIcon());
  EXPECT_TRUE(Program.Running());
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
