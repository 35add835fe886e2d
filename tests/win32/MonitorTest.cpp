// Key monitors and the controller on the real registry, events and windows.

#include <gtest/gtest.h>

#include <algorithm>

#include "monitor/ChangeTexts.h"
#include "monitor/MonitorController.h"
#include "monitor/RegSnapshot.h"
#include "monitor/RegistryAccess.h"
#include "monitor/WatchedKeys.h"
#include "platform/win32/Win32Desktop.h"
#include "tests/win32/Win32Harness.h"

namespace kw::test {
namespace {

class Win32MonitorTest : public ::testing::Test {
 protected:
  // Even after a failed assertion nothing may outlive the platform: stop the
  // monitor, and let its last notices fail at once against a window that is gone.
  ~Win32MonitorTest() override {
    Stop();
    ::DestroyWindow(Window.Handle);
    Window.Handle = nullptr;
    TThread::WaitForAll(std::chrono::seconds(20));
  }

  void StartMonitor(const std::string& key) {
    auto monitor = std::make_shared<TRegMonitorThread>(Win.Platform);
    monitor->SetFreeOnTerminate(true);
    monitor->NotifyWindow = Window.Id();
    monitor->Key = key;
    monitor->RootKey = kHkeyCurrentUser;
    monitor->SetNotifyFilter(kNotifyChangeLastSet);
    monitor->WatchSubTree = true;
    Monitor = monitor;
    monitor->Resume();
  }
  // The monitor has asked for its next signal and is back in its wait: a
  // write now is seen, and a stop now is answered with a stop notice.
  void WaitUntilArmed(int times) {
    ASSERT_TRUE(PumpUntil([&] { return Win.Registry.Armed >= times && Win.Sync.Waits >= times; }));
  }
  void Stop() {
    std::unique_ptr<IEvent> stop = Win.Sync.CreateNamedEvent(kStopEventName, true, false);
    stop->Set();
    if (auto m = Monitor.lock()) m->RequestStop();
  }

  TWin32Platform Win;
  TNoticeWindow Window;
  std::weak_ptr<TRegMonitorThread> Monitor;
};

TEST_F(Win32MonitorTest, WakesOnSetDeleteAndSubkeyChangesReArmsAndStops) {
  TScratchKey scratch("Monitor");
  scratch.SetString("Before", "C:\\before.exe");
  StartMonitor("\\" + scratch.Path);
  WaitUntilArmed(1);

  scratch.SetString("Added", "\"C:\\Program Files\\Added\\a.exe\" /tray");
  ASSERT_TRUE(Window.WaitForNotices(1));
  WaitUntilArmed(2);
  scratch.Delete("Before");
  ASSERT_TRUE(Window.WaitForNotices(2));
  WaitUntilArmed(3);
  scratch.SetString("Inner", "C:\\inner.exe", "Sub");
  ASSERT_TRUE(Window.WaitForNotices(3));
  WaitUntilArmed(4);
  scratch.SetDword("Number", 7);
  ASSERT_TRUE(Window.WaitForNotices(4));
  WaitUntilArmed(5);
  Stop();
  ASSERT_TRUE(Window.WaitForNotices(5));
  ASSERT_TRUE(PumpUntil([&] { return Monitor.expired(); }));

  const auto& n = Window.Notices;
  ASSERT_EQ(n.size(), 5u);
  for (const TNotice& notice : n) {
    EXPECT_EQ(notice.Key, "\\" + scratch.Path);
    EXPECT_EQ(notice.RootKey, kHkeyCurrentUser);
  }
  EXPECT_EQ(n[0].NewLines, std::vector<std::string>{"C:\\Program Files\\Added\\a.exe "});
  EXPECT_EQ(n[0].Title, texts::kTitleAdded);
  EXPECT_EQ(n[0].ValueName, "Added");
  EXPECT_EQ(n[1].NewLines, std::vector<std::string>{"C:\\before.exe"});
  EXPECT_EQ(n[1].Title, texts::kTitleDeleted);
  EXPECT_EQ(n[1].ValueName, "Before");
  for (int i : {2, 3}) {  // a subkey's value, a value of another type: no difference
    EXPECT_TRUE(n[i].NewLines.empty());
    EXPECT_EQ(n[i].Title, "");
    EXPECT_EQ(n[i].ValueName, "");
  }
  EXPECT_EQ(n[4].NewLines, std::vector<std::string>{texts::kMonitoringStopped});
}

// Names and data are read wide and held in code page 936 whatever the
// system's code page; the name limit counts 936 bytes, not characters.
TEST(Win32Registry, SnapshotsHoldCodePage936WithTheNameLimitInItsBytes) {
  TScratchKey scratch("Text");
  const std::wstring wood127 = std::wstring(127, L'木');
  struct TRow {
    std::wstring Name, Data;
  };
  const std::string wood254 = [] {
    std::string bytes;
    for (int i = 0; i < 127; ++i) bytes += "\xC4\xBE";
    return bytes;
  }();
  const std::vector<TRow> rows = {
      {L"木马程序", L"C:\\临时\\木马.exe"},
      {wood127 + L"a", L"255 bytes in 936: kept"},
      {wood127 + L"木", L"128 characters, 256 bytes: left out"},
      {std::wstring(255, L'n'), L"kept"},
      {std::wstring(256, L'n'), L"left out"},
      {L"木马\xD55C", L"C:\\k.exe"},  // a Hangul syllable: no character of 936
  };
  for (const TRow& row : rows) {
    ::RegSetValueExW(scratch.Key, row.Name.c_str(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(row.Data.c_str()),
                     static_cast<DWORD>((row.Data.size() + 1) * sizeof(wchar_t)));
  }
  win32::TWin32Registry registry;
  win32::TWin32Collation collation;
  auto key = registry.OpenKey(kHkeyCurrentUser, scratch.Path, kKeyAllAccess);
  ASSERT_TRUE(key);
  TRegSnapshot snapshot(collation);
  std::vector<unsigned char> buffer;
  TakeSnapshot(*key, snapshot, buffer);
  ASSERT_EQ(snapshot.Names.Count(), 4u);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < snapshot.Names.Count(); ++i) names.push_back(snapshot.Names[i]);
  auto has = [&](const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  EXPECT_TRUE(has("\xC4\xBE\xC2\xED\xB3\xCC\xD0\xF2"));
  EXPECT_TRUE(has(wood254 + "a"));
  EXPECT_FALSE(has(wood254 + "\xC4\xBE"));
  EXPECT_TRUE(has(std::string(255, 'n')));
  EXPECT_TRUE(has("\xC4\xBE\xC2\xED?"));
  const int chinese = snapshot.Names.IndexOf("\xC4\xBE\xC2\xED\xB3\xCC\xD0\xF2");
  ASSERT_GE(chinese, 0);
  EXPECT_EQ(snapshot.Data[static_cast<std::size_t>(chinese)],
            "C:\\\xC1\xD9\xCA\xB1\\\xC4\xBE\xC2\xED.exe");  // C:\临时\木马.exe

  // Writes and deletes go the same way: the "?" name is not the value's name.
  EXPECT_EQ(key->SetStringValue("\xD0\xC2", "\xD0\xC2.exe"), 0);  // 新 = 新.exe
  wchar_t data[16] = {};
  DWORD size = sizeof data;
  EXPECT_EQ(::RegGetValueW(scratch.Key, nullptr, L"新", RRF_RT_REG_SZ, nullptr, data, &size), 0);
  EXPECT_EQ(std::wstring(data), L"新.exe");
  EXPECT_EQ(key->DeleteValue("\xC4\xBE\xC2\xED\xB3\xCC\xD0\xF2"), 0);
  EXPECT_EQ(key->DeleteValue("\xC4\xBE\xC2\xED?"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(::RegQueryValueExW(scratch.Key, L"木马\xD55C", nullptr, nullptr, nullptr, nullptr), 0);
}

// The editor walk's keystrokes: a character of 936 reaches a window as its
// UTF-16 code unit, with a repeat count of one, whatever the system's code page.
std::vector<std::pair<WPARAM, LPARAM>> GTyped;
LRESULT CALLBACK RecordCharacters(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CHAR) GTyped.emplace_back(wParam, lParam);
  return ::DefWindowProcW(window, message, wParam, lParam);
}

TEST(Win32WindowFunctions, TypesCharactersOfCodePage936AsTheirUtf16Units) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = RecordCharacters;
  wc.lpszClassName = L"KeywardenTypedTo";
  ::RegisterClassW(&wc);
  HWND window = ::CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  nullptr, nullptr);
  win32::TWin32WindowFunctions windows;
  GTyped.clear();
  const WindowHandle handle = reinterpret_cast<WindowHandle>(window);
  EXPECT_TRUE(windows.TypeCharacter(handle, "R"));
  EXPECT_TRUE(windows.TypeCharacter(handle, "\xC4\xBE"));  // 木
  EXPECT_TRUE(windows.TypeCharacter(handle, "\x95\x5C"));  // 昞, its second byte a backslash's
  EXPECT_TRUE(windows.Send(handle, WM_KEYDOWN, VK_LEFT, 0));
  ::DestroyWindow(window);
  const std::vector<std::pair<WPARAM, LPARAM>> expected = {{L'R', 1}, {0x6728, 1}, {0x661E, 1}};
  EXPECT_EQ(GTyped, expected);
  EXPECT_FALSE(windows.Send(handle, WM_KEYDOWN, VK_LEFT, 0));  // gone
}

// A window whose thread never answers costs the sender a moment, not its thread.
struct TSilentWindow {
  HWND Window = nullptr;
  HANDLE Made = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE Release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

DWORD WINAPI MakeSilentWindow(void* param) {
  auto& silent = *static_cast<TSilentWindow*>(param);
  silent.Window = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                    nullptr, nullptr);
  ::SetEvent(silent.Made);
  ::WaitForSingleObject(silent.Release, INFINITE);  // not a message is handled meanwhile
  ::DestroyWindow(silent.Window);
  return 0;
}

TEST(Win32WindowFunctions, GivesUpOnAWindowWhoseThreadDoesNotAnswer) {
  TSilentWindow silent;
  HANDLE thread = ::CreateThread(nullptr, 0, &MakeSilentWindow, &silent, 0, nullptr);
  ASSERT_EQ(::WaitForSingleObject(silent.Made, 5000), WAIT_OBJECT_0);
  win32::TWin32WindowFunctions windows;
  const WindowHandle handle = reinterpret_cast<WindowHandle>(silent.Window);
  const DWORD start = ::GetTickCount();
  EXPECT_FALSE(windows.Send(handle, WM_KEYDOWN, VK_LEFT, 0));
  EXPECT_FALSE(windows.TypeCharacter(handle, "R"));
  windows.ShowWindow(handle, SW_SHOW);  // asked for, not waited on
  EXPECT_LT(::GetTickCount() - start, 5000u);
  EXPECT_FALSE(windows.IsRegistryEditor(handle));  // this test's own process
  ::SetEvent(silent.Release);
  ::WaitForSingleObject(thread, 5000);
  for (HANDLE h : {thread, silent.Made, silent.Release}) ::CloseHandle(h);
}

TEST_F(Win32MonitorTest, AKeyThatDoesNotExistEndsTheMonitorSilently) {
  StartMonitor("\\Software\\KeywardenTest\\DoesNotExist");
  ASSERT_TRUE(PumpUntil([&] { return Monitor.expired(); }));
  EXPECT_TRUE(TThread::WaitForAll(std::chrono::seconds(10)));
  EXPECT_TRUE(Window.Notices.empty());
  EXPECT_EQ(Win.Registry.Armed, 0);
}

TEST_F(Win32MonitorTest, ASendToADestroyedWindowFailsAtOnce) {
  TNoticeWindow doomed;
  const WindowHandle id = doomed.Id();
  TChangeData data;
  EXPECT_TRUE(Win.Messenger.Send(id, WM_REGCHANGE, reinterpret_cast<std::uintptr_t>(&data), 0));
  ::DestroyWindow(doomed.Handle);
  doomed.Handle = nullptr;
  EXPECT_FALSE(Win.Messenger.Send(id, WM_REGCHANGE, reinterpret_cast<std::uintptr_t>(&data), 0));
}

bool KeyExists(HiveHandle hive, const std::string& keyPath) {
  HKEY key;
  if (::RegOpenKeyExA(win32::HiveKey(hive), std::string(SubKeyOf(keyPath)).c_str(), 0,
                      KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
    return false;
  }
  ::RegCloseKey(key);
  return true;
}

TEST_F(Win32MonitorTest, TheControllerWatchesEveryExistingKeyOfBothHivesAndStopsThemAll) {
  TMonitorController controller(Win.Platform, Window.Id(), WatchedKeyTable());
  struct TStopAtEnd {
    TMonitorController& Controller;
    ~TStopAtEnd() { Controller.StopMonitors(); }
  } stopAtEnd{controller};
  controller.StartMonitors(kHkeyLocalMachine);
  controller.StartMonitors(kHkeyCurrentUser);

  std::size_t expected = 0;
  for (const std::string& key : WatchedKeyTable()) {
    expected += KeyExists(kHkeyLocalMachine, key) + KeyExists(kHkeyCurrentUser, key);
  }
  ASSERT_GE(expected, 6u);  // Run, RunOnce, RunServices... exist in any prefix
  auto running = [&] {
    std::size_t count = 0;
    for (std::size_t row = 0; row < controller.RowCount(); ++row) {
      count += controller.RunningMonitors(row).size();
    }
    return count;
  };
  ASSERT_TRUE(
      PumpUntil([&] { return running() == expected && Win.Registry.Armed >= int(expected); }));

  std::vector<std::string> names;
  for (std::size_t row = 0; row < controller.RowCount(); ++row) {
    const auto monitors = controller.RunningMonitors(row);
    for (std::size_t k = 0; k < monitors.size(); ++k) {
      EXPECT_TRUE(KeyExists(monitors[k]->RootKey, monitors[k]->Key));
      if (k == 1) {  // machine first, then user
        EXPECT_EQ(monitors[0]->RootKey, kHkeyLocalMachine);
        EXPECT_EQ(monitors[1]->RootKey, kHkeyCurrentUser);
      }
      HANDLE event = ::OpenEventA(SYNCHRONIZE, FALSE, monitors[k]->EventName().c_str());
      EXPECT_NE(event, nullptr) << monitors[k]->EventName();
      if (event) ::CloseHandle(event);
      names.push_back(monitors[k]->EventName());
    }
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());

  // Armed is not yet asleep: a monitor still taking its first snapshot finds
  // the stop requested before it waits and ends without a notice.
  controller.StopMonitors();
  ASSERT_TRUE(PumpUntil([&] { return running() == 0; }));
  EXPECT_LE(Window.Notices.size(), expected);
  EXPECT_GE(Window.Notices.size(), 1u);
  for (const TNotice& notice : Window.Notices) {
    EXPECT_EQ(notice.NewLines, std::vector<std::string>{texts::kMonitoringStopped});
  }
}

}  // namespace
}  // namespace kw::test
