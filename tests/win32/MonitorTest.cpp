// Key and folder monitors and the controller on the real registry, file system, events and
// windows.

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <utility>

#include "monitor/ChangeTexts.h"
#include "monitor/FolderMonitor.h"
#include "monitor/MonitorController.h"
#include "monitor/RegSnapshot.h"
#include "monitor/RegistryAccess.h"
#include "monitor/WaitingThread.h"
#include "monitor/WatchedKeys.h"
#include "platform/win32/Win32Desktop.h"
#include "tests/common/RemoveTree.h"
#include "tests/win32/Win32Harness.h"

namespace kw::test {
namespace {

std::u16string U16(const std::wstring& text) {
  return std::u16string(text.begin(), text.end());
}

std::string ToLower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The records so far, for a failure's message.
std::string Describe(const std::vector<TChangeRecord>& records) {
  std::string text = std::to_string(records.size()) + " records:";
  for (const TChangeRecord& record : records) {
    text += " [" + std::to_string(static_cast<int>(record.Kind)) + " " + record.ValueName + "]";
  }
  return text;
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

class Win32MonitorTest : public ::testing::Test {
 protected:
  // Even after a failed assertion nothing may outlive the platform: stop the
  // monitor, and let any later records fail at once against a window that is gone.
  ~Win32MonitorTest() override {
    Stop();
    // Pumped meanwhile: a monitor may be sending its last records already.
    PumpUntil([] { return TThread::WaitForAll(std::chrono::milliseconds(0)); }, 20000);
    ::DestroyWindow(Window.Handle);
    Window.Handle = nullptr;
    TThread::WaitForAll(std::chrono::seconds(20));
  }

  // Watches HKCU\`path` as the controller watches a row without named values.
  void StartMonitor(const std::string& path, bool subKeys = false) {
    auto monitor = std::make_shared<TRegMonitor>(Win.Platform, Win.Queue);
    monitor->NotifyWindow = Window.Id();
    monitor->Location = {kHkeyCurrentUser, "\\" + path, {}, subKeys, false};
    monitor->SetNotifyFilter(kNotifyChangeLastSet);
    monitor->WatchSubTree = true;
    Monitor = monitor;
    Start(KeyMonitorThreads(Win.Platform, Win.StopEvent, {monitor}).front());
  }
  // Begins `watcher` on a waiting thread of its own, which owns it from here on.
  void Run(const TMonitorPlatform& platform, std::shared_ptr<TWatcher> watcher) {
    auto thread = std::make_shared<TWaitingThread>(platform, Win.StopEvent);
    thread->Take(std::move(watcher));
    Start(thread);
  }
  void Start(const std::shared_ptr<TWaitingThread>& thread) {
    thread->SetFreeOnTerminate(true);
    Thread = thread;
    thread->Resume();
  }
  // The monitor has asked for a further signal and gone back to its wait
  // since the last call: a write now is seen, and a stop now is answered.
  void WaitUntilArmed() {
    ASSERT_TRUE(PumpUntil([&] { return Win.Registry.Armed > Arms && Win.Sync.Waits > Waits; }));
    Arms = Win.Registry.Armed;
    Waits = Win.Sync.Waits;
  }
  void Stop() {
    Win.StopEvent->Set();
    if (auto thread = Thread.lock()) thread->RequestStop();
  }
  void AbsentDeletedAndRecreated(bool subKeys);

  TWin32Platform Win;
  TNoticeWindow Window{Win.Queue.get()};
  std::weak_ptr<TRegMonitor> Monitor;
  std::weak_ptr<TWaitingThread> Thread;
  int Arms = 0, Waits = 0;
};

// 木马 and a Hangul syllable: two names code page 936 shows alike.
const std::wstring kHangul0 = L"\x6728\x9A6C\xAC00";
const std::wstring kHangul1 = L"\x6728\x9A6C\xAC01";
constexpr char kHangulShown[] = "\xC4\xBE\xC2\xED?";

TEST_F(Win32MonitorTest, ReportsWhatStartsProgramsWakesOnEveryChangeAndStops) {
  TScratchKey scratch("Monitor");
  scratch.SetString("Before", "C:\\before.exe");
  StartMonitor(scratch.Path);
  WaitUntilArmed();

  scratch.SetString("Added", "\"C:\\Program Files\\Added\\a.exe\" /tray");
  ASSERT_TRUE(Window.WaitForRecords(1));
  WaitUntilArmed();
  scratch.Delete("Before");
  ASSERT_TRUE(Window.WaitForRecords(2));
  WaitUntilArmed();
  // A subkey's value and a value of another type wake the monitor and start
  // nothing: the wake sends nothing.
  scratch.SetString("Inner", "C:\\inner.exe", "Sub");
  WaitUntilArmed();
  scratch.SetDword("Number", 7);
  WaitUntilArmed();
  scratch.SetText(L"Expand", L"%SystemRoot%\\x.exe", REG_EXPAND_SZ);
  ASSERT_TRUE(Window.WaitForRecords(3));
  WaitUntilArmed();
  scratch.SetText(kHangul0, L"C:\\k0.exe");
  scratch.SetText(kHangul1, L"C:\\k1.exe");
  ASSERT_TRUE(Window.WaitForRecords(5));
  WaitUntilArmed();
  // The reported identity deletes exactly that value, not its look-alike.
  auto key = Win.Registry.OpenKey(kHkeyCurrentUser, scratch.Path, kKeyAllAccess);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->DeleteValue(Window.Records[3].Identity), ERROR_SUCCESS);
  ASSERT_TRUE(Window.WaitForRecords(6));
  WaitUntilArmed();
  Stop();
  ASSERT_TRUE(Window.WaitForRecords(7));
  ASSERT_TRUE(PumpUntil([&] { return Monitor.expired(); }));

  const auto& r = Window.Records;
  ASSERT_EQ(r.size(), 7u);
  EXPECT_TRUE(Window.Notices.size() <= r.size());
  for (const TChangeRecord& record : r) {
    EXPECT_EQ(record.Location, "\\" + scratch.Path);
    EXPECT_EQ(record.RootKey, kHkeyCurrentUser);
  }
  EXPECT_EQ(r[0].Kind, TChangeKind::Added);
  EXPECT_EQ(r[0].Line, "C:\\Program Files\\Added\\a.exe ");
  EXPECT_EQ(r[0].Title, texts::kTitleAdded);
  EXPECT_EQ(r[0].ValueName, "Added");
  EXPECT_EQ(r[1].Kind, TChangeKind::Deleted);
  EXPECT_EQ(r[1].Line, "C:\\before.exe");
  EXPECT_EQ(r[1].Title, texts::kTitleDeleted);
  EXPECT_EQ(r[1].ValueName, "Before");
  EXPECT_EQ(r[2].Kind, TChangeKind::Added);
  EXPECT_EQ(r[2].ValueName, "Expand");
  EXPECT_EQ(r[2].Type, kRegExpandSz);
  EXPECT_EQ(r[2].Line, "%SystemRoot%\\x.exe");
  const std::set<std::u16string> both = {r[3].Identity, r[4].Identity};
  EXPECT_EQ(both, (std::set<std::u16string>{U16(kHangul0), U16(kHangul1)}));
  for (int i : {3, 4}) {
    EXPECT_EQ(r[i].Kind, TChangeKind::Added);
    EXPECT_EQ(r[i].ValueName, kHangulShown);
  }
  EXPECT_EQ(r[5].Kind, TChangeKind::Deleted);
  EXPECT_EQ(r[5].Identity, r[3].Identity);
  EXPECT_EQ(scratch.Has(kHangul0), r[5].Identity != U16(kHangul0));
  EXPECT_EQ(scratch.Has(kHangul1), r[5].Identity != U16(kHangul1));
  EXPECT_EQ(r[6].Kind, TChangeKind::Stopped);
  EXPECT_EQ(r[6].Line, texts::kMonitoringStopped);
}

// A key that does not exist is waited for, never made. When it appears it
// reports everything it holds, a subkey's values under the subkey where
// subkeys count (as in RunOnceEx); deleted as a whole, which the key's own
// change signal does not tell, it reports what it held and is waited for again.
void Win32MonitorTest::AbsentDeletedAndRecreated(bool subKeys) {
  TScratchKey scratch("Absent", false);
  StartMonitor(scratch.Path, subKeys);
  WaitUntilArmed();  // on the nearest parent that exists
  EXPECT_FALSE(KeyExists(kHkeyCurrentUser, "\\" + scratch.Path));

  std::vector<std::pair<TChangeKind, std::string>> expected = {{TChangeKind::Added, "First"}};
  scratch.SetString("First", "C:\\first.exe");  // makes the key
  ASSERT_TRUE(Window.WaitForRecords(expected.size())) << Describe(Window.Records);
  WaitUntilArmed();
  if (subKeys) {
    scratch.SetString("Step", "C:\\step.exe", "0001");
    expected.emplace_back(TChangeKind::Added, "Step");
    ASSERT_TRUE(Window.WaitForRecords(expected.size())) << Describe(Window.Records);
    WaitUntilArmed();
  }
  scratch.Remove();
  expected.emplace_back(TChangeKind::Deleted, "First");
  if (subKeys) expected.emplace_back(TChangeKind::Deleted, "Step");
  ASSERT_TRUE(Window.WaitForRecords(expected.size())) << Describe(Window.Records);
  WaitUntilArmed();
  EXPECT_FALSE(KeyExists(kHkeyCurrentUser, "\\" + scratch.Path));
  scratch.SetString("Again", "C:\\again.exe");
  expected.emplace_back(TChangeKind::Added, "Again");
  ASSERT_TRUE(Window.WaitForRecords(expected.size())) << Describe(Window.Records);
  WaitUntilArmed();
  Stop();
  expected.emplace_back(TChangeKind::Stopped, "");
  ASSERT_TRUE(Window.WaitForRecords(expected.size())) << Describe(Window.Records);
  ASSERT_TRUE(PumpUntil([&] { return Monitor.expired(); }));

  const std::string key = "\\" + scratch.Path;
  std::vector<std::pair<TChangeKind, std::string>> seen;
  for (const TChangeRecord& record : Window.Records) {
    seen.emplace_back(record.Kind, record.ValueName);
    const bool inSubKey = record.ValueName == "Step";
    EXPECT_EQ(record.Location, inSubKey ? key + "\\0001" : key) << record.ValueName;
    EXPECT_EQ(record.IdentitySubKey, inSubKey ? u"0001" : u"") << record.ValueName;
    EXPECT_EQ(record.Line, record.Kind == TChangeKind::Stopped
                               ? texts::kMonitoringStopped
                               : "C:\\" + ToLower(record.ValueName) + ".exe");
  }
  // The deletions come in the registry's order, or one wake each.
  if (subKeys && seen.size() == expected.size()) std::sort(seen.begin() + 2, seen.begin() + 4);
  EXPECT_EQ(seen, expected);
}

TEST_F(Win32MonitorTest, AbsentDeletedAndRecreatedKeysReportEveryValue) {
  AbsentDeletedAndRecreated(false);
}

TEST_F(Win32MonitorTest, AbsentDeletedAndRecreatedKeysReportEveryValueOfTheirSubkeys) {
  AbsentDeletedAndRecreated(true);
}

// Names and data are read wide and whole: every name the registry allows is
// kept as the registry holds it, and shown in code page 936 whatever the
// system's code page.
TEST(Win32Registry, SnapshotsReadEveryNameWholeAndShowItInCodePage936) {
  TScratchKey scratch("Text");
  struct TRow {
    std::wstring Name, Data;
    DWORD Type;
    std::string Shown, ShownData;  // empty name shown: the value starts nothing
  };
  std::string wood128;
  for (int i = 0; i < 128; ++i) wood128 += "\xC4\xBE";
  const std::vector<TRow> rows = {
      // 木马程序 = C:\临时\木马.exe
      {L"\x6728\x9A6C\x7A0B\x5E8F", L"C:\\\x4E34\x65F6\\\x6728\x9A6C.exe", REG_SZ,
       "\xC4\xBE\xC2\xED\xB3\xCC\xD0\xF2", "C:\\\xC1\xD9\xCA\xB1\\\xC4\xBE\xC2\xED.exe"},
      {std::wstring(128, L'\x6728'), L"256 bytes in 936", REG_SZ, wood128, "256 bytes in 936"},
      {std::wstring(300, L'n'), L"C:\\300.exe", REG_SZ, std::string(300, 'n'), "C:\\300.exe"},
      {std::wstring(16383, L'n'), L"C:\\longest.exe", REG_SZ, std::string(16383, 'n'),
       "C:\\longest.exe"},
      {kHangul0, L"C:\\k0.exe", REG_SZ, kHangulShown, "C:\\k0.exe"},
      {kHangul1, L"C:\\k1.exe", REG_SZ, kHangulShown, "C:\\k1.exe"},
      {L"Expand", L"%SystemRoot%\\x.exe", REG_EXPAND_SZ, "Expand", "%SystemRoot%\\x.exe"},
      {L"List", std::wstring(L"a.exe\0b.exe", 11), REG_MULTI_SZ, "", ""},
  };
  for (const TRow& row : rows) scratch.SetText(row.Name, row.Data, row.Type);
  scratch.SetDword("Number", 1);

  win32::TWin32Registry registry;
  win32::TWin32RegistryText text;
  auto key = registry.OpenKey(kHkeyCurrentUser, scratch.Path, kKeyAllAccess, nullptr);
  ASSERT_TRUE(key);
  const TLocation location{kHkeyCurrentUser, "\\" + scratch.Path, {}, false, false};
  TRegSnapshot snapshot;
  ASSERT_EQ(TakeSnapshot(*key, location, text.UpcaseTable(), snapshot), TSnapshotResult::Read);
  std::vector<TChangeRecord> records;
  CompareSnapshots(TRegSnapshot{}, snapshot, {location.Hive, location.Path, text}, records);

  std::size_t counted = 0;
  for (const TRow& row : rows) {
    const auto found = std::find_if(records.begin(), records.end(), [&](const TChangeRecord& r) {
      return r.Identity == U16(row.Name);
    });
    if (row.Shown.empty()) {
      EXPECT_EQ(found, records.end()) << row.Shown;
      continue;
    }
    ++counted;
    ASSERT_NE(found, records.end()) << row.Shown.substr(0, 40);
    EXPECT_EQ(found->Kind, TChangeKind::Added);
    EXPECT_EQ(found->ValueName, row.Shown);
    EXPECT_EQ(found->NewData, row.ShownData);
    EXPECT_EQ(found->Type, row.Type);
  }
  EXPECT_EQ(records.size(), counted);

  // Writes go the same way; a deletion takes the name exactly as the
  // registry holds it: the shown "?" name is no value's name.
  EXPECT_EQ(key->SetStringValue("\xD0\xC2", "\xD0\xC2.exe"), 0);  // 新 = 新.exe
  wchar_t data[16] = {};
  DWORD size = sizeof data;
  EXPECT_EQ(::RegGetValueW(scratch.Key, nullptr, L"\x65B0", RRF_RT_REG_SZ, nullptr, data, &size),
            0);
  EXPECT_EQ(std::wstring(data), L"\x65B0.exe");
  EXPECT_EQ(key->DeleteValue(u"\x6728\x9A6C?"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key->DeleteValue(U16(kHangul0)), 0);
  EXPECT_FALSE(scratch.Has(kHangul0));
  EXPECT_TRUE(scratch.Has(kHangul1));
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
  EXPECT_TRUE(windows.TypeCharacter(handle, u"R"));
  EXPECT_TRUE(windows.TypeCharacter(handle, u"\u6728"));  // 木
  EXPECT_TRUE(windows.TypeCharacter(handle, u"\u661E"));  // 昞
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
  EXPECT_FALSE(windows.TypeCharacter(handle, u"R"));
  windows.ShowWindow(handle, SW_SHOW);  // asked for, not waited on
  EXPECT_LT(::GetTickCount() - start, 5000u);
  EXPECT_FALSE(windows.IsRegistryEditor(handle));  // this test's own process
  ::SetEvent(silent.Release);
  ::WaitForSingleObject(thread, 5000);
  for (HANDLE h : {thread, silent.Made, silent.Release}) ::CloseHandle(h);
}

TEST_F(Win32MonitorTest, ASendToADestroyedWindowFailsAtOnce) {
  TNoticeWindow doomed;
  const WindowHandle id = doomed.Id();
  EXPECT_TRUE(Win.Messenger.Send(id, WM_REGCHANGE, 0, 0));
  ::DestroyWindow(doomed.Handle);
  doomed.Handle = nullptr;
  EXPECT_FALSE(Win.Messenger.Send(id, WM_REGCHANGE, 0, 0));
}

// An empty name makes a new event each time, one no other handle shares:
// the monitors' events are out of reach of any program that knows a name.
TEST(Win32Sync, AnEmptyNameMakesANewEventThatNoOtherHandleShares) {
  win32::TWin32Sync sync;
  std::unique_ptr<IEvent> first = sync.CreateNamedEvent("", true, false);
  std::unique_ptr<IEvent> second = sync.CreateNamedEvent("", true, false);
  ASSERT_TRUE(first && second);
  first->Set();
  EXPECT_EQ(sync.WaitForAny({second.get(), first.get()}, kInfinite), kWaitFirst + 1);
  second->Set();
  first->Reset();
  EXPECT_EQ(sync.WaitForAny({first.get(), second.get()}, kInfinite), kWaitFirst + 1);
  EXPECT_EQ(sync.WaitForAny({first.get()}, 0), kWaitTimeout);
}

TEST_F(Win32MonitorTest, TheControllerWatchesEveryLocationOfBothHivesAndStopsThemAll) {
  // And 70 keys more below one scratch key: the monitors of HKCU then fill
  // more waiting threads than one wait takes signals.
  TScratchKey wide("Wide");
  std::vector<TLocation> locations = WatchedLocations(WatchedKeyTable());
  for (int i = 0; i < 70; ++i) {
    wide.SetString("", "", ("K" + std::to_string(i)).c_str());
    locations.push_back(
        {kHkeyCurrentUser, "\\" + wide.Path + "\\K" + std::to_string(i), {}, false, false});
  }
  TMonitorController controller(Win.Platform, Window.Id(), locations);
  Window.Queue = &controller.Queue();
  struct TStopAtEnd {
    TMonitorController& Controller;
    ~TStopAtEnd() { Controller.StopMonitors(); }
  } stopAtEnd{controller};
  controller.StartMonitors(kHkeyLocalMachine);
  controller.StartMonitors(kHkeyCurrentUser);

  const std::size_t rows = controller.RowCount();
  auto running = [&] {
    std::size_t count = 0;
    for (std::size_t row = 0; row < rows; ++row) count += controller.RunningMonitors(row).size();
    return count;
  };
  // Every row is watched, present or not: its key, or the nearest parent
  // that exists.
  ASSERT_TRUE(PumpUntil([&] {
    return running() == rows && Win.Registry.Armed >= int(rows) &&
           Win.Sync.Waits >= int(controller.RunningThreads());
  }));
  std::size_t present = 0;
  for (std::size_t row = 0; row < rows; ++row) {
    const TLocation& location = controller.WatchedLocations()[row];
    const auto monitors = controller.RunningMonitors(row);
    ASSERT_EQ(monitors.size(), 1u) << location.Path;
    EXPECT_EQ(monitors[0]->Location.Hive, location.Hive);
    EXPECT_EQ(monitors[0]->Location.Path, location.Path);
    present += KeyExists(location.Hive, location.Path);
  }
  ASSERT_GE(present, 6u);               // Run, RunOnce, Winlogon... exist in any prefix
  EXPECT_TRUE(Window.Records.empty());  // starting reports nothing
  EXPECT_GE(controller.RunningThreads(), 4u);
  // The last key of the last thread is watched like the first.
  wide.SetString("Last", "C:\\last.exe", "K69");
  ASSERT_TRUE(Window.WaitForRecords(1));
  EXPECT_EQ(Window.Records[0].Location, "\\" + wide.Path + "\\K69");
  EXPECT_EQ(Window.Records[0].Line, "C:\\last.exe");
  Window.Records.clear();

  controller.StopMonitors();
  ASSERT_TRUE(PumpUntil([&] { return running() == 0 && Window.Records.size() >= rows; }));
  ASSERT_EQ(Window.Records.size(), rows);
  std::multiset<std::pair<HiveHandle, std::string>> stopped, watched;
  for (const TChangeRecord& record : Window.Records) {
    EXPECT_EQ(record.Kind, TChangeKind::Stopped);
    EXPECT_EQ(record.Line, texts::kMonitoringStopped);
    stopped.emplace(record.RootKey, record.Location);
  }
  for (const TLocation& location : controller.WatchedLocations()) {
    watched.emplace(location.Hive, location.Path);
  }
  EXPECT_EQ(stopped, watched);
}

// The real file system, with a folder of the test's own named as the
// user's Startup folder.
class TScratchFolders : public win32::TWin32Folders {
 public:
  explicit TScratchFolders(const std::wstring& folder) : Folder(U16(folder)) {}
  std::u16string StartupFolderPath(TStartupFolder) override { return Folder; }

 private:
  const std::u16string Folder;
};

std::wstring ScratchFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH + 1, temp);
  return temp + std::wstring(L"kw-folders-") + std::to_wstring(::GetCurrentProcessId());
}

bool PutFile(const std::wstring& path) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = ::WriteFile(file, "@echo off\r\n", 11, &written, nullptr) && written == 11;
  ::CloseHandle(file);
  return ok;
}

class Win32FolderMonitorTest : public Win32MonitorTest {
 protected:
  // The monitor uses the folders: it ends before they go.
  ~Win32FolderMonitorTest() override {
    Stop();
    PumpUntil([] { return TThread::WaitForAll(std::chrono::milliseconds(0)); }, 20000);
    RemoveTree(Base);
  }
  void StartFolderMonitor() {
    auto monitor = std::make_shared<TFolderMonitor>(Platform, Win.Queue);
    monitor->NotifyWindow = Window.Id();
    monitor->Folder = TStartupFolder::User;
    Run(Platform, monitor);
  }

  const std::wstring Base = ScratchFolder();
  const std::wstring Programs = Base + L"\\Start Menu\\Programs";
  const std::wstring Folder = Programs + L"\\StartUp";
  TScratchFolders Folders{Folder};
  TMonitorPlatform Platform{Win.Registry, Win.Sync, Win.Messenger, Win.Text, Folders};
};

// A handle to a folder goes with it when a folder above is renamed; the
// monitor follows the path instead, as the shell does at logon.
TEST_F(Win32FolderMonitorTest, FollowsThePathWhenAFolderAboveIsRenamedAway) {
  ASSERT_EQ(::SHCreateDirectoryExW(nullptr, Folder.c_str(), nullptr), ERROR_SUCCESS);
  ASSERT_TRUE(PutFile(Folder + L"\\old.cmd"));
  StartFolderMonitor();
  WaitUntilArmed();

  ASSERT_TRUE(::MoveFileW(Programs.c_str(), (Programs + L".old").c_str())) << ::GetLastError();
  ASSERT_TRUE(Window.WaitForRecords(1)) << Describe(Window.Records);
  WaitUntilArmed();
  ASSERT_EQ(::SHCreateDirectoryExW(nullptr, Folder.c_str(), nullptr), ERROR_SUCCESS);
  ASSERT_TRUE(PutFile(Folder + L"\\new.cmd"));
  ASSERT_TRUE(Window.WaitForRecords(2)) << Describe(Window.Records);
  WaitUntilArmed();
  // The old folder, wherever it is now, starts nothing: the next record is
  // of the folder at the path.
  ASSERT_TRUE(PutFile(Programs + L".old\\StartUp\\unseen.cmd"));
  ASSERT_TRUE(::DeleteFileW((Folder + L"\\new.cmd").c_str()));
  ASSERT_TRUE(Window.WaitForRecords(3)) << Describe(Window.Records);

  const std::vector<std::pair<TChangeKind, std::string>> expected = {
      {TChangeKind::Deleted, "old.cmd"},
      {TChangeKind::Added, "new.cmd"},
      {TChangeKind::Deleted, "new.cmd"}};
  std::vector<std::pair<TChangeKind, std::string>> seen;
  for (const TChangeRecord& record : Window.Records) {
    seen.emplace_back(record.Kind, record.ValueName);
    EXPECT_EQ(record.Location, Win.Text.ToAnsi(U16(Folder)));
  }
  EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace kw::test
