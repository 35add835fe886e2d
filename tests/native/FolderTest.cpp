// The startup folders: comparing a folder's files, and a folder monitor
// against the fake file system, registry, events and window.

#include <gtest/gtest.h>

#include <cctype>
#include <thread>

#include "monitor/ChangeTexts.h"
#include "monitor/Digest.h"
#include "monitor/FolderMonitor.h"
#include "monitor/FolderPath.h"
#include "monitor/TaskSnapshot.h"
#include "tests/native/MonitorHarness.h"

namespace kw::test {
namespace {

using namespace std::chrono_literals;
using fake::FakeRegistryText;

const std::u16string kFolder = u"C:\\Users\\u\\Start Menu\\Programs\\Startup";
constexpr char kFolderShown[] = "C:\\Users\\u\\Start Menu\\Programs\\Startup";
constexpr char kFolderNames[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
// "启动.lnk"
constexpr char kChineseName[] = "\xC6\xF4\xB6\xAF.lnk";

// One comparison row: the folder before and after, and what is reported.
struct TFolderRow {
  const char* Name;
  std::function<void(fake::FakeFolders&)> Before;
  std::function<void(fake::FakeFolders&)> After;
  // Kind, name and Edit3 line of each record, in order.
  std::vector<std::tuple<TChangeKind, std::string, std::string>> Expected;
};

void PutTool(fake::FakeFolders& f) {
  f.PutShortcut(kFolder, u"Tool.lnk", u"C:\\Tools\\tool.exe", u"/tray");
}

TEST(FolderSnapshot, ReportsAddedRemovedReplacedAndRenamedFiles) {
  const std::u16string chinese = FakeRegistryText::Widen(kChineseName);
  const std::vector<TFolderRow> rows = {
      {"add a shortcut: its target",
       [](auto&) {},
       PutTool,
       {{TChangeKind::Added, "Tool.lnk", "C:\\Tools\\tool.exe"}}},
      {"add a program: itself",
       [](auto&) {},
       [](auto& f) { f.PutFile(kFolder, u"run.bat", 10, 1); },
       {{TChangeKind::Added, "run.bat", std::string(kFolderShown) + "\\run.bat"}}},
      {"remove",
       PutTool,
       [](auto& f) { f.RemoveFile(kFolder, u"Tool.lnk"); },
       {{TChangeKind::Deleted, "Tool.lnk", "C:\\Tools\\tool.exe"}}},
      {"replace: another target",
       PutTool,
       [](auto& f) { f.PutShortcut(kFolder, u"Tool.lnk", u"C:\\evil.exe", u""); },
       {{TChangeKind::Changed, "Tool.lnk", "C:\\evil.exe"}}},
      {"replace: same size, other time",
       [](auto& f) { f.PutFile(kFolder, u"a.cmd", 5, 1); },
       [](auto& f) { f.PutFile(kFolder, u"a.cmd", 5, 2); },
       {{TChangeKind::Changed, "a.cmd", std::string(kFolderShown) + "\\a.cmd"}}},
      {"replace: same size and time, other content",
       [](auto& f) { f.PutFile(kFolder, u"a.cmd", 5, 1, "@echo"); },
       [](auto& f) { f.PutFile(kFolder, u"a.cmd", 5, 1, "evil!"); },
       {{TChangeKind::Changed, "a.cmd", std::string(kFolderShown) + "\\a.cmd"}}},
      {"same content, size and time: no change",
       [](auto& f) { f.PutFile(kFolder, u"a.cmd", 5, 1, "@echo"); },
       [](auto& f) { f.PutFile(kFolder, u"a.cmd", 5, 1, "@echo"); },
       {}},
      {"content that cannot be read is never taken for the same",
       [](auto& f) { f.PutFile(kFolder, u"a.cmd", 5, 1, "@echo"); },
       [](auto& f) { f.FailReading(true); },
       {{TChangeKind::Changed, "a.cmd", std::string(kFolderShown) + "\\a.cmd"}}},
      {"rename: one gone, one new",
       PutTool,
       [](auto& f) { f.RenameFile(kFolder, u"Tool.lnk", u"Other.lnk"); },
       {{TChangeKind::Deleted, "Tool.lnk", "C:\\Tools\\tool.exe"},
        {TChangeKind::Added, "Other.lnk", "C:\\Tools\\tool.exe"}}},
      {"rename in case only: the same file",
       PutTool,
       [](auto& f) { f.RenameFile(kFolder, u"Tool.lnk", u"TOOL.LNK"); },
       {}},
      {"a Chinese name",
       [](auto&) {},
       [&](auto& f) { f.PutShortcut(kFolder, chinese, u"C:\\a.exe", u""); },
       {{TChangeKind::Added, kChineseName, "C:\\a.exe"}}},
  };
  for (const TFolderRow& row : rows) {
    SCOPED_TRACE(row.Name);
    fake::FakeSync sync;
    fake::FakeFolders folders(sync);
    FakeRegistryText text;
    folders.MakeFolder(kFolder);
    row.Before(folders);
    TFolderSnapshot before;
    TFolderSnapshot after;
    ASSERT_EQ(TakeFolderSnapshot(folders, kFolder, before), TListResult::Read);
    row.After(folders);
    ASSERT_EQ(TakeFolderSnapshot(folders, kFolder, after), TListResult::Read);
    std::vector<TChangeRecord> records;
    CompareFolderSnapshots(before, after, {kFolder, text}, records);
    ASSERT_EQ(records.size(), row.Expected.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
      const auto& [kind, name, line] = row.Expected[i];
      EXPECT_EQ(records[i].Kind, kind);
      EXPECT_EQ(records[i].ValueName, name);
      EXPECT_EQ(records[i].Line, line);
      EXPECT_EQ(records[i].Where, TLocationKind::StartupFolder);
      EXPECT_EQ(records[i].RootKey, 0u);
      EXPECT_EQ(records[i].Location, kFolderShown);
      EXPECT_EQ(records[i].IdentitySubKey, kFolder);
      EXPECT_EQ(records[i].Title,
                kind == TChangeKind::Deleted ? texts::kTitleDeleted : texts::kTitleAdded);
    }
  }
}

TEST(FolderSnapshot, AShortcutsArgumentsAreItsDataAndAnAbsentFolderReadsAsAbsent) {
  fake::FakeSync sync;
  fake::FakeFolders folders(sync);
  FakeRegistryText text;
  TFolderSnapshot before;
  TFolderSnapshot after;
  EXPECT_EQ(TakeFolderSnapshot(folders, kFolder, before), TListResult::Absent);
  folders.MakeFolder(kFolder);
  PutTool(folders);
  ASSERT_EQ(TakeFolderSnapshot(folders, kFolder, after), TListResult::Read);
  std::vector<TChangeRecord> records;
  CompareFolderSnapshots(before, after, {kFolder, text}, records);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].NewData, "/tray");
  EXPECT_EQ(records[0].Identity, u"Tool.lnk");
}

// A task starts what its first Exec action names, read from the scheduler's
// XML in whichever form it is kept, its references resolved.
TEST(TaskSnapshot, ATaskStartsItsFirstExecAction) {
  const auto utf16 = [](std::u16string_view text, bool mark) {
    std::string bytes = mark ? "\xFF\xFE" : "";
    for (char16_t unit : text)
      bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return bytes;
  };
  const std::u16string exec =
      u"<Settings><ExecutionTimeLimit>PT0S</ExecutionTimeLimit></Settings><Actions>"
      u"<!-- <Exec><Command>C:\\decoy.exe</Command></Exec> -->"
      u"<Exec><Command>C:\\\x6728\x9A6C &amp; co\\t.exe</Command><Arguments>/a "
      u"&quot;&#x4E2D;&#20013;&quot;</Arguments></Exec>"
      u"<Exec><Command>C:\\second.exe</Command></Exec></Actions>";
  struct TRow {
    const char* Case;
    std::string Definition;
    const char16_t* Command;
    const char16_t* Arguments;
  };
  const TRow rows[] = {
      {"UTF-16 with its mark", utf16(exec, true), u"C:\\\x6728\x9A6C & co\\t.exe",
       u"/a \"\x4E2D\x4E2D\""},
      {"UTF-16 without", utf16(exec, false), u"C:\\\x6728\x9A6C & co\\t.exe",
       u"/a \"\x4E2D\x4E2D\""},
      {"UTF-8", "\xEF\xBB\xBF<Exec><Command>C:\\\xE6\x9C\xA8.exe</Command></Exec>",
       u"C:\\\x6728.exe", u""},
      {"a handler, no program",
       "<Actions><ComHandler><ClassId>{X}</ClassId></ComHandler></Actions>", u"", u""},
  };
  for (const TRow& row : rows) {
    const TTaskAction action = FirstExecAction(row.Definition);
    EXPECT_TRUE(action.Command == row.Command) << row.Case;
    EXPECT_TRUE(action.Arguments == row.Arguments) << row.Case;
  }
  // Reported by folder and name, as the scheduler names them.
  fake::FakeSync sync;
  fake::FakeFolders folders(sync);
  FakeRegistryText text;
  const std::u16string tasks = u"C:\\windows\\system32\\Tasks";
  TFolderSnapshot before, after;
  EXPECT_EQ(TakeTaskSnapshot(folders, tasks, before), TListResult::Absent);
  folders.PutFile(tasks, u"Top", 10, 1, "<Exec><Command>C:\\top.exe</Command></Exec>");
  folders.PutFile(tasks + u"\\Sub\\Deeper", u"Low", 10, 1,
                  "<Exec><Command>C:\\low.exe</Command></Exec>");
  ASSERT_EQ(TakeTaskSnapshot(folders, tasks, after), TListResult::Read);
  std::vector<TChangeRecord> records;
  CompareFolderSnapshots(before, after, {tasks, text}, records);
  ShowAsTasks(records, text);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].Where, TLocationKind::ScheduledTask);
  EXPECT_EQ(records[0].Location, "\\");
  EXPECT_EQ(records[0].ValueName, "Top");
  EXPECT_EQ(records[0].Line, "C:\\top.exe");
  EXPECT_EQ(records[1].Location, "\\Sub\\Deeper");
  EXPECT_TRUE(records[1].Identity == u"Low");
}

TEST(FolderPath, TheChainRunsFromTheRootAsWindowsResolvesThePath) {
  const std::vector<std::pair<std::u16string, std::vector<std::u16string>>> rows = {
      {u"C:\\Users\\u\\Startup",
       {u"C:\\", u"C:\\Users", u"C:\\Users\\u", u"C:\\Users\\u\\Startup"}},
      {u"C:\\", {u"C:\\"}},
      {u"c:/a//b/", {u"c:\\", u"c:\\a", u"c:\\a\\b"}},
      // A missing folder passed through on the way up is no part of the chain.
      {u"C:\\x\\..\\Users\\.\\u", {u"C:\\", u"C:\\Users", u"C:\\Users\\u"}},
      {u"C:\\..\\..\\a", {u"C:\\", u"C:\\a"}},
      {u"C:\\a\\...\\b", {u"C:\\", u"C:\\a", u"C:\\a\\...", u"C:\\a\\...\\b"}},
      {u"\\\\server\\share\\u\\Startup",
       {u"\\\\server\\share\\", u"\\\\server\\share\\u", u"\\\\server\\share\\u\\Startup"}},
      {u"\\\\server\\share", {u"\\\\server\\share\\"}},
      {u"\\\\?\\C:\\a\\..\\b",
       {u"\\\\?\\C:\\", u"\\\\?\\C:\\a", u"\\\\?\\C:\\a\\..", u"\\\\?\\C:\\a\\..\\b"}},
      {u"\\\\?\\UNC\\server\\share\\a",
       {u"\\\\?\\UNC\\server\\share\\", u"\\\\?\\UNC\\server\\share\\a"}},
      {u"\\\\.\\C:\\a\\.\\b", {u"\\\\.\\C:\\", u"\\\\.\\C:\\a", u"\\\\.\\C:\\a\\b"}},
      {u"\\\\server", {}},
      {u"Startup", {}},
      {u"C:Startup", {}},
      {u"C:", {}},
      {u"", {}},
  };
  const FakeRegistryText text;
  for (const auto& [path, chain] : rows) {
    SCOPED_TRACE(text.ToAnsi(path));
    EXPECT_EQ(FolderChain(path), chain);
  }
}

class FolderMonitorTest : public ::testing::Test {
 protected:
  ~FolderMonitorTest() override {
    Stop();
    Fake.Messenger.DestroyWindow(Window.Handle);
    TThread::WaitForAll(std::chrono::seconds(20));
  }

  void Start() {
    auto monitor = std::make_shared<TFolderMonitor>(Fake.Platform, Fake.Queue);
    monitor->NotifyWindow = Window.Handle;
    monitor->Folder = TStartupFolder::User;
    monitor->States = States;
    monitor->Retry = {5, 40};
    Started = monitor;
    Fake.Run(monitor);
  }
  // Waits until the monitor is back in its wait with its signals armed.
  void WaitUntilArmed() {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (Fake.Folders.ArmedWatches() < 1 || Fake.Sync.Waits() < Waits + 1 ||
           Fake.Sync.Sleeping() < 1) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      std::this_thread::sleep_for(1ms);
    }
    Waits = Fake.Sync.Waits();
  }
  void Stop() {
    Fake.Messenger.OnUiThread([&] { Fake.StopThreads(); });
  }
  bool Ended() {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!Started.expired()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }

  TFakePlatform Fake;
  TRecordingWindow Window{Fake.Messenger, Fake.Queue};
  std::weak_ptr<TFolderMonitor> Started;
  std::shared_ptr<TStateStore> States;
  int Waits = 0;
};

// What changed in the folder while the guard was not running is reported at
// its first read, and the state read is handed to the store; with the last
// state unknown, everything found is reported.
TEST_F(FolderMonitorTest, AStartFromASavedStateReportsWhatChangedMeanwhile) {
  Fake.Folders.NameStartupFolder(TStartupFolder::User, kFolder);
  Fake.Folders.MakeFolder(kFolder);
  Fake.Folders.PutFile(kFolder, u"kept.cmd", 5, 1, "@echo");
  Fake.Folders.PutFile(kFolder, u"same.cmd", 5, 1, "evil!");
  PutTool(Fake.Folders);
  TFolderSnapshot saved;
  ASSERT_EQ(TakeFolderSnapshot(Fake.Folders, kFolder, saved), TListResult::Read);
  saved.Entries.erase(saved.Entries.begin() + 2);  // the shortcut came meanwhile
  saved.Entries[1].Content = Sha256Hex("@echo");   // replaced at the same size and time
  saved.Entries.push_back({u"gone.cmd", 1, 1, kFolder + u"\\gone.cmd", u"", Sha256Hex("x")});
  States = std::make_shared<TStateStore>(
      TStateContents{{}, {{FolderStateKeyOf(TStartupFolder::User), {kFolder, saved}}}});
  Start();
  ASSERT_TRUE(Window.WaitForNotices(1));
  WaitUntilArmed();
  std::vector<TChangeKind> kinds;
  for (const TNotice& notice : Window.Received()) {
    kinds.insert(kinds.end(), notice.Kinds.begin(), notice.Kinds.end());
  }
  EXPECT_EQ(kinds, (std::vector<TChangeKind>{TChangeKind::Changed, TChangeKind::Deleted,
                                             TChangeKind::Added}));
  TSavedFolder published;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!States->FolderStateOf(FolderStateKeyOf(TStartupFolder::User), published) ||
         published.Snapshot.Entries.size() != 3u) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline);
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_TRUE(published.Path == kFolder);
}

TEST_F(FolderMonitorTest, WithTheLastStateUnknownEveryFileFoundIsReported) {
  Fake.Folders.NameStartupFolder(TStartupFolder::User, kFolder);
  Fake.Folders.MakeFolder(kFolder);
  PutTool(Fake.Folders);
  States = std::make_shared<TStateStore>(TStateContents{}, true);
  Start();
  ASSERT_TRUE(Window.WaitForNotices(1));
  EXPECT_EQ(Window.Received()[0].Kinds, std::vector<TChangeKind>{TChangeKind::Added});
  EXPECT_EQ(Window.Received()[0].ValueName, "Tool.lnk");
}

TEST_F(FolderMonitorTest, ReportsAShortcutDroppedAndRemovedThenTheStop) {
  Fake.Folders.NameStartupFolder(TStartupFolder::User, kFolder);
  Fake.Folders.MakeFolder(kFolder);
  Fake.Folders.PutFile(kFolder, u"desktop.ini", 100, 1);
  Start();
  WaitUntilArmed();

  PutTool(Fake.Folders);
  ASSERT_TRUE(Window.WaitForNotices(1));
  WaitUntilArmed();
  Fake.Folders.RemoveFile(kFolder, u"Tool.lnk");
  ASSERT_TRUE(Window.WaitForNotices(2));
  WaitUntilArmed();
  Stop();
  ASSERT_TRUE(Window.WaitForNotices(3));
  ASSERT_TRUE(Ended());

  const auto notices = Window.Received();
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[0].Key, kFolderShown);
  EXPECT_EQ(notices[0].RootKey, 0u);
  EXPECT_EQ(notices[0].ValueName, "Tool.lnk");
  EXPECT_EQ(notices[0].NewLines, std::vector<std::string>{"C:\\Tools\\tool.exe"});
  EXPECT_EQ(notices[0].Title, texts::kTitleAdded);
  EXPECT_EQ(notices[1].Kinds, std::vector<TChangeKind>{TChangeKind::Deleted});
  EXPECT_EQ(notices[2].Kinds, std::vector<TChangeKind>{TChangeKind::Stopped});
  // COM or its like was set up on the monitor's thread and undone there,
  // and every watch along the path was cancelled.
  EXPECT_EQ(Fake.Folders.ThreadSetups(), 0);
  EXPECT_EQ(Fake.Folders.ArmedWatches(), 0);
}

// A startup folder that does not exist yet is waited for through its
// parent; whatever it holds once made is new.
TEST_F(FolderMonitorTest, AnAbsentFolderIsWaitedForAndItsFilesReportedOnceMade) {
  Fake.Folders.NameStartupFolder(TStartupFolder::User, kFolder);
  Fake.Folders.MakeFolder(u"C:\\Users\\u\\Start Menu\\Programs");
  Start();
  WaitUntilArmed();
  Fake.Folders.MakeFolder(kFolder);
  WaitUntilArmed();
  PutTool(Fake.Folders);
  ASSERT_TRUE(Window.WaitForNotices(1));
  const auto notices = Window.Received();
  EXPECT_EQ(notices[0].ValueName, "Tool.lnk");
  EXPECT_EQ(notices[0].Kinds, std::vector<TChangeKind>{TChangeKind::Added});
}

// The shell's folder name changed in the registry: the monitor follows it.
// What the old folder holds starts no more; what the new one holds does.
TEST_F(FolderMonitorTest, ARedirectedFolderIsFollowed) {
  const std::u16string elsewhere = u"D:\\Elsewhere";
  Fake.Registry.SetString(kHkeyCurrentUser, kFolderNames, "Startup", "C:\\x");
  Fake.Folders.NameStartupFolder(TStartupFolder::User, kFolder);
  Fake.Folders.MakeFolder(kFolder);
  PutTool(Fake.Folders);
  Fake.Folders.MakeFolder(elsewhere);
  Fake.Folders.PutShortcut(elsewhere, u"Evil.lnk", u"D:\\evil.exe", u"");
  Start();
  WaitUntilArmed();

  Fake.Folders.NameStartupFolder(TStartupFolder::User, elsewhere);
  Fake.Registry.SetString(kHkeyCurrentUser, kFolderNames, "Startup", "D:\\Elsewhere");
  ASSERT_TRUE(Window.WaitForNotices(2));
  const auto notices = Window.Received();
  EXPECT_EQ(notices[0].Kinds, std::vector<TChangeKind>{TChangeKind::Deleted});
  EXPECT_EQ(notices[0].Key, kFolderShown);
  EXPECT_EQ(notices[1].Kinds, std::vector<TChangeKind>{TChangeKind::Added});
  EXPECT_EQ(notices[1].Key, "D:\\Elsewhere");
  EXPECT_EQ(notices[1].NewLines, std::vector<std::string>{"D:\\evil.exe"});

  // The new folder is the one watched now.
  WaitUntilArmed();
  Fake.Folders.RemoveFile(elsewhere, u"Evil.lnk");
  ASSERT_TRUE(Window.WaitForNotices(3));
}

TEST_F(FolderMonitorTest, AFolderThatCannotBeListedIsReportedAndTriedAgain) {
  Fake.Folders.NameStartupFolder(TStartupFolder::User, kFolder);
  Fake.Folders.MakeFolder(kFolder);
  Fake.Folders.FailListing(true);
  Start();
  ASSERT_TRUE(Window.WaitForNotices(1));
  Fake.Folders.FailListing(false);
  ASSERT_TRUE(Window.WaitForNotices(2));
  WaitUntilArmed();
  PutTool(Fake.Folders);
  ASSERT_TRUE(Window.WaitForNotices(3));
  const auto notices = Window.Received();
  EXPECT_EQ(notices[0].Kinds, std::vector<TChangeKind>{TChangeKind::NotWatched});
  EXPECT_EQ(notices[0].NewLines, std::vector<std::string>{texts::kNotWatched});
  EXPECT_EQ(notices[1].Kinds, std::vector<TChangeKind>{TChangeKind::WatchedAgain});
  EXPECT_EQ(notices[2].Kinds, std::vector<TChangeKind>{TChangeKind::Added});
}

// One way the folder leaves its path while watched, holding Tool.lnk.
struct TLeavingRow {
  const char* Name;
  std::function<void(fake::FakeFolders&)> Leave;
  // Where the old folder is now; empty when it is gone.
  std::u16string OldFolder;
};

void PrintTo(const TLeavingRow& row, std::ostream* out) {
  *out << row.Name;
}

const std::u16string kPrograms = u"C:\\Users\\u\\Start Menu\\Programs";

const TLeavingRow kLeavingRows[] = {
    {"the folder renamed", [](auto& f) { f.RenameFolder(kFolder, kFolder + u".old"); },
     kFolder + u".old"},
    {"its parent renamed", [](auto& f) { f.RenameFolder(kPrograms, kPrograms + u".old"); },
     kPrograms + u".old\\Startup"},
    {"a folder far above renamed",
     [](auto& f) { f.RenameFolder(u"C:\\Users\\u", u"C:\\Users\\v"); },
     u"C:\\Users\\v\\Start Menu\\Programs\\Startup"},
    {"a folder above moved into another",
     [](auto& f) {
       f.MakeFolder(u"C:\\Users\\u\\Documents");
       f.RenameFolder(u"C:\\Users\\u\\Start Menu", u"C:\\Users\\u\\Documents\\Start Menu");
     },
     u"C:\\Users\\u\\Documents\\Start Menu\\Programs\\Startup"},
    {"a folder above removed", [](auto& f) { f.RemoveFolder(u"C:\\Users\\u\\Start Menu"); }, u""},
    {"the folder removed", [](auto& f) { f.RemoveFolder(kFolder); }, u""},
};

class FolderPathTest : public FolderMonitorTest,
                       public ::testing::WithParamInterface<TLeavingRow> {};

// The monitor follows the path, never a folder: the old folder's files no
// longer start and are reported gone; a new folder made at the path is
// watched, and all it holds is new; the old folder, wherever it is now,
// matters no more.
TEST_P(FolderPathTest, TheFolderAtThePathIsWatchedWhateverHappensAlongIt) {
  Fake.Folders.NameStartupFolder(TStartupFolder::User, kFolder);
  PutTool(Fake.Folders);
  Start();
  WaitUntilArmed();

  GetParam().Leave(Fake.Folders);
  ASSERT_TRUE(Window.WaitForNotices(1)) << "Tool.lnk left the path: no notice";
  WaitUntilArmed();
  // Made anew, with a shortcut in it.
  Fake.Folders.PutShortcut(kFolder, u"Evil.lnk", u"C:\\evil.exe", u"");
  ASSERT_TRUE(Window.WaitForNotices(2)) << "Evil.lnk at the path: no notice";
  WaitUntilArmed();
  if (!GetParam().OldFolder.empty()) {
    Fake.Folders.PutShortcut(GetParam().OldFolder, u"Unseen.lnk", u"C:\\unseen.exe", u"");
  }
  Fake.Folders.RemoveFile(kFolder, u"Evil.lnk");
  ASSERT_TRUE(Window.WaitForNotices(3)) << "Evil.lnk removed from the path: no notice";

  const auto notices = Window.Received();
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[0].Kinds, std::vector<TChangeKind>{TChangeKind::Deleted});
  EXPECT_EQ(notices[0].ValueName, "Tool.lnk");
  EXPECT_EQ(notices[0].Key, kFolderShown);
  EXPECT_EQ(notices[1].Kinds, std::vector<TChangeKind>{TChangeKind::Added});
  EXPECT_EQ(notices[1].ValueName, "Evil.lnk");
  EXPECT_EQ(notices[1].Key, kFolderShown);
  // The first alert after a change in the old folder belongs to the new one.
  EXPECT_EQ(notices[2].Kinds, std::vector<TChangeKind>{TChangeKind::Deleted});
  EXPECT_EQ(notices[2].ValueName, "Evil.lnk");
}

INSTANTIATE_TEST_SUITE_P(Leaving, FolderPathTest, ::testing::ValuesIn(kLeavingRows),
                         [](const ::testing::TestParamInfo<TLeavingRow>& info) {
                           std::string name;
                           for (const char* c = info.param.Name; *c; ++c) {
                             if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                           }
                           return name;
                         });

// A junction on the path leads elsewhere: renamed away and made again
// there, the folder it leads to is as much the path's as one without it.
// While the junction leads nowhere, nothing could tell when it leads
// somewhere again: the user is told, and it is looked at until it does.
TEST_F(FolderMonitorTest, AJunctionOnThePathIsFollowedToWhereItLeads) {
  const std::u16string away = u"C:\\Users\\u\\Documents\\deep";
  const std::u16string target = away + u"\\SM";
  Fake.Folders.NameStartupFolder(TStartupFolder::User, kFolder);
  Fake.Folders.PutShortcut(target + u"\\Programs\\Startup", u"Tool.lnk", u"C:\\Tools\\tool.exe",
                           u"/tray");
  Fake.Folders.MakeLink(u"C:\\Users\\u\\Start Menu", target);
  Start();
  WaitUntilArmed();

  Fake.Folders.RenameFolder(away, away + u"2");
  ASSERT_TRUE(Window.WaitForNotices(1)) << "the junction's target renamed away: no notice";
  Fake.Folders.PutShortcut(target + u"\\Programs\\Startup", u"Evil.lnk", u"C:\\evil.exe", u"");
  ASSERT_TRUE(Window.WaitForNotices(4))
      << "Evil.lnk where the junction leads: " << Window.Received().size() << " notices";

  const auto notices = Window.Received();
  ASSERT_EQ(notices.size(), 4u);
  EXPECT_EQ(notices[0].Kinds, std::vector<TChangeKind>{TChangeKind::NotWatched});
  EXPECT_EQ(notices[1].Kinds, std::vector<TChangeKind>{TChangeKind::WatchedAgain});
  EXPECT_EQ(notices[2].Kinds, std::vector<TChangeKind>{TChangeKind::Deleted});
  EXPECT_EQ(notices[2].ValueName, "Tool.lnk");
  EXPECT_EQ(notices[3].Kinds, std::vector<TChangeKind>{TChangeKind::Added});
  EXPECT_EQ(notices[3].ValueName, "Evil.lnk");
  EXPECT_EQ(notices[3].Key, kFolderShown);
}

}  // namespace
}  // namespace kw::test
