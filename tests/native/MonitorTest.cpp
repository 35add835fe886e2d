// A key monitor against the fake registry, events and window.

#include <gtest/gtest.h>

#include <new>
#include <thread>

#include "monitor/ChangeTexts.h"
#include "monitor/RegistryAccess.h"
#include "tests/native/MonitorHarness.h"

namespace kw::test {
namespace {

using namespace std::chrono_literals;

constexpr char kKey[] = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kSubKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

class MonitorTest : public ::testing::Test {
 protected:
  // Even after a failed assertion no monitor may outlive the fakes.
  ~MonitorTest() override {
    Stop();
    Fake.Messenger.DestroyWindow(Window.Handle);
    TThread::WaitForAll(std::chrono::seconds(20));
  }

  std::shared_ptr<TRegMonitor> Start(const char* key = kKey, WindowHandle window = 0) {
    auto monitor = std::make_shared<TRegMonitor>(Fake.Platform, Fake.Queue);
    monitor->NotifyWindow = window ? window : Window.Handle;
    monitor->Location = {kHkeyCurrentUser, key, {}, false, false};
    monitor->SetNotifyFilter(kNotifyChangeLastSet);
    monitor->WatchSubTree = true;
    monitor->Retry = {5, 40};
    monitor->States = States;
    Started = monitor;
    Fake.Run(monitor);
    return monitor;
  }
  // Waits until the monitor is armed and asleep, so that a change wakes it.
  void WaitUntilArmed(int watches = 1) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (Fake.Registry.ArmedWatches() < watches || Fake.Sync.Waits() < Waits + 1) {
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
  void Set(const std::string& name, const std::string& data, std::uint32_t type = kRegSz) {
    Fake.Registry.SetString(kHkeyCurrentUser, kSubKey, name, data, type);
  }

  TFakePlatform Fake;
  TRecordingWindow Window{Fake.Messenger, Fake.Queue};
  std::weak_ptr<TRegMonitor> Started;
  std::shared_ptr<TStateStore> States;
  int Waits = 0;
};

TEST_F(MonitorTest, ReportsAddedChangedAndDeletedValuesThenTheStop) {
  Set("Old", "C:\\old.exe");
  Start();
  WaitUntilArmed();

  Set("Tool", "\"C:\\Tool\\t.exe\" /min");
  ASSERT_TRUE(Window.WaitForNotices(1));
  WaitUntilArmed();
  Set("Tool", "C:\\Tool\\u.exe");
  ASSERT_TRUE(Window.WaitForNotices(2));
  WaitUntilArmed();
  Fake.Registry.DeleteValue(kHkeyCurrentUser, kSubKey, "Old");
  ASSERT_TRUE(Window.WaitForNotices(3));
  WaitUntilArmed();
  Stop();
  ASSERT_TRUE(Window.WaitForNotices(4));
  ASSERT_TRUE(Ended());

  const auto notices = Window.Received();
  ASSERT_EQ(notices.size(), 4u);
  for (const TNotice& n : notices) {
    EXPECT_EQ(n.Key, kKey);
    EXPECT_EQ(n.RootKey, kHkeyCurrentUser);
  }
  EXPECT_EQ(notices[0].NewLines, std::vector<std::string>{"C:\\Tool\\t.exe "});
  EXPECT_EQ(notices[0].Title, texts::kTitleAdded);
  EXPECT_EQ(notices[0].ValueName, "Tool");
  EXPECT_EQ(notices[1].NewLines, std::vector<std::string>{ChangedLine(
                                     "Tool", "\"C:\\Tool\\t.exe\" /min", "C:\\Tool\\u.exe")});
  EXPECT_EQ(notices[1].Title, "");
  EXPECT_EQ(notices[2].NewLines, std::vector<std::string>{"C:\\old.exe"});
  EXPECT_EQ(notices[2].Title, texts::kTitleDeleted);
  EXPECT_EQ(notices[3].NewLines, std::vector<std::string>{texts::kMonitoringStopped});
  EXPECT_EQ(notices[3].Kinds, std::vector<TChangeKind>{TChangeKind::Stopped});
}

// A program that deletes a value while the key is read moves the values
// after it up, and the read passes over one of them: that one, which never
// went, is not reported gone, nor added again at the next read.
TEST_F(MonitorTest, AValueAReadPassedOverIsNeitherGoneNorAddedAgain) {
  for (const char* name : {"A", "B", "C", "D"}) Set(name, std::string("C:\\") + name + ".exe");
  Start();
  WaitUntilArmed();
  std::atomic<bool> deleting{true};
  Fake.Registry.OnEnumValue([&](std::uint32_t index) -> long {
    // A and B read: C moves to where B was, and D is read next.
    if (index == 2 && deleting.exchange(false)) {
      Fake.Registry.DeleteValue(kHkeyCurrentUser, kSubKey, "A");
    }
    return 0;
  });
  Set("E", "C:\\E.exe");
  ASSERT_TRUE(Window.WaitForNotices(2));
  WaitUntilArmed();
  Stop();
  ASSERT_TRUE(Window.WaitForNotices(3));
  const auto notices = Window.Received();
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[0].Kinds, std::vector<TChangeKind>{TChangeKind::Added});
  EXPECT_EQ(notices[0].NewLines, std::vector<std::string>{"C:\\E.exe"});
  EXPECT_EQ(notices[1].Kinds, std::vector<TChangeKind>{TChangeKind::Deleted});
  EXPECT_EQ(notices[1].NewLines, std::vector<std::string>{"C:\\A.exe"});
  EXPECT_EQ(notices[2].Kinds, std::vector<TChangeKind>{TChangeKind::Stopped});
}

// What changed while the guard was not running is reported at the first
// read, before any live change, and each state reported goes to the store.
TEST_F(MonitorTest, AStartFromASavedStateReportsWhatChangedMeanwhile) {
  const std::string key = StateKeyOf(kHkeyCurrentUser, kKey);
  TRegSnapshot saved;
  saved.Entries = {{u"", u"Kept", kRegSz, u"C:\\kept.exe"},
                   {u"", u"Gone", kRegSz, u"C:\\gone.exe"},
                   {u"", u"Moved", kRegSz, u"C:\\a.exe"}};
  States = std::make_shared<TStateStore>(TStateContents{{{key, saved}}, {}});
  Set("Kept", "C:\\kept.exe");
  Set("moved", "C:\\b.exe");  // one name, as the registry compares names
  Set("New", "C:\\new.exe");
  Start();
  ASSERT_TRUE(Window.WaitForNotices(3));
  WaitUntilArmed();
  Set("Live", "C:\\live.exe");
  ASSERT_TRUE(Window.WaitForNotices(4));

  const auto notices = Window.Received();
  ASSERT_EQ(notices.size(), 4u);
  EXPECT_EQ(notices[0].Kinds, std::vector<TChangeKind>{TChangeKind::Deleted});
  EXPECT_EQ(notices[0].ValueName, "Gone");
  EXPECT_EQ(notices[1].Kinds, std::vector<TChangeKind>{TChangeKind::Changed});
  EXPECT_EQ(notices[2].Kinds, std::vector<TChangeKind>{TChangeKind::Added});
  EXPECT_EQ(notices[2].ValueName, "New");
  EXPECT_EQ(notices[3].ValueName, "Live");
  // Published once the notice is handled: a state never runs ahead of its records.
  TRegSnapshot published;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!States->StateOf(key, published) || published.Entries.size() != 4u) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << published.Entries.size();
    std::this_thread::sleep_for(1ms);
  }
}

// No saved state for a location: its first read is the starting point, as
// at the first start, and is handed to the store at once.
TEST_F(MonitorTest, WithoutASavedStateTheFirstReadIsSilentAndStored) {
  States = std::make_shared<TStateStore>();
  Set("Kept", "C:\\kept.exe");
  Start();
  WaitUntilArmed();
  EXPECT_TRUE(Window.Received().empty());
  TRegSnapshot published;
  ASSERT_TRUE(States->StateOf(StateKeyOf(kHkeyCurrentUser, kKey), published));
  EXPECT_EQ(published.Entries.size(), 1u);
  EXPECT_TRUE(States->Changed());
}

// The last run's state unknown (unreadable, or gone after a run): what the
// first read finds is reported, never silently taken as the starting point.
TEST_F(MonitorTest, WithTheLastStateUnknownTheFirstReadReportsWhatIsFound) {
  States = std::make_shared<TStateStore>(TStateContents{}, true);
  Set("Found", "C:\\found.exe");
  Start();
  ASSERT_TRUE(Window.WaitForNotices(1));
  EXPECT_EQ(Window.Received()[0].Kinds, std::vector<TChangeKind>{TChangeKind::Added});
  EXPECT_EQ(Window.Received()[0].ValueName, "Found");
}

// A key deleted while the guard was not running: every saved entry is gone.
TEST_F(MonitorTest, AKeyDeletedMeanwhileReportsEverySavedEntry) {
  TRegSnapshot saved;
  saved.Entries = {{u"", u"Gone", kRegSz, u"C:\\gone.exe"}};
  States = std::make_shared<TStateStore>(
      TStateContents{{{StateKeyOf(kHkeyCurrentUser, "\\Software\\Absent"), saved}}, {}});
  Start("\\Software\\Absent");
  ASSERT_TRUE(Window.WaitForNotices(1));
  EXPECT_EQ(Window.Received()[0].Kinds, std::vector<TChangeKind>{TChangeKind::Deleted});
}

// Windows starts REG_EXPAND_SZ entries as it starts REG_SZ ones; other types
// and the values of subkeys start nothing, and a wake that finds nothing new
// sends nothing.
TEST_F(MonitorTest, ExpandableStringsAreReportedAndWhatStartsNothingIsNot) {
  Fake.Registry.CreateKey(kHkeyCurrentUser, kSubKey);
  Start();
  WaitUntilArmed();
  Set("Expand", "%ProgramFiles%\\x.exe", kRegExpandSz);
  ASSERT_TRUE(Window.WaitForNotices(1));
  WaitUntilArmed();
  Set("Expand", "%ProgramFiles%\\x.exe", kRegSz);  // the same text: no change
  WaitUntilArmed();
  Fake.Registry.SetDword(kHkeyCurrentUser, kSubKey, "Dword");
  WaitUntilArmed();
  Fake.Registry.SetString(kHkeyCurrentUser, std::string(kSubKey) + "\\Sub", "V", "C:\\v.exe");
  WaitUntilArmed();
  Set("Last", "C:\\last.exe");
  ASSERT_TRUE(Window.WaitForNotices(2));
  Stop();
  ASSERT_TRUE(Ended());

  const auto notices = Window.Received();
  EXPECT_EQ(notices[0].NewLines, std::vector<std::string>{"%ProgramFiles%\\x.exe"});
  EXPECT_EQ(notices[0].ValueName, "Expand");
  EXPECT_EQ(notices[1].NewLines, std::vector<std::string>{"C:\\last.exe"});
}

// A key that does not exist is waited for, never created; a key that appears
// reports what it holds, a deleted one what it held, and then it is waited
// for again.
TEST_F(MonitorTest, AbsentDeletedAndRecreatedKeysReportEveryValue) {
  Fake.Registry.CreateKey(kHkeyCurrentUser, "Software\\Microsoft");
  Start();
  WaitUntilArmed();
  EXPECT_FALSE(Fake.Registry.HasValue(kHkeyCurrentUser, kSubKey, "X"));
  Set("First", "C:\\first.exe");  // makes the key, two levels below the parent watched
  ASSERT_TRUE(Window.WaitForNotices(1));
  WaitUntilArmed();
  Fake.Registry.DeleteKey(kHkeyCurrentUser, kSubKey);
  ASSERT_TRUE(Window.WaitForNotices(2));
  WaitUntilArmed();
  Set("Again", "C:\\again.exe");
  ASSERT_TRUE(Window.WaitForNotices(3));
  Stop();
  ASSERT_TRUE(Ended());

  const auto notices = Window.Received();
  EXPECT_EQ(notices[0].NewLines, std::vector<std::string>{"C:\\first.exe"});
  EXPECT_EQ(notices[0].Title, texts::kTitleAdded);
  EXPECT_EQ(notices[1].NewLines, std::vector<std::string>{"C:\\first.exe"});
  EXPECT_EQ(notices[1].Title, texts::kTitleDeleted);
  EXPECT_EQ(notices[2].NewLines, std::vector<std::string>{"C:\\again.exe"});
  EXPECT_EQ(notices[2].Title, texts::kTitleAdded);
}

// A monitor that cannot watch says so once, keeps trying, says when it
// watches again, and then reports what changed in between.
TEST_F(MonitorTest, AMonitorThatCannotWatchSaysSoAndTriesAgain) {
  struct TRow {
    const char* What;
    std::function<void()> Break, Mend;
  };
  std::atomic<bool> exhausted{false};
  const TRow rows[] = {
      {"access refused", [&] { Fake.Registry.RefuseAccess(kKeyRead | kKeyWow64_64Key); },
       [&] { Fake.Registry.AllowAccess(); }},
      {"arming refused", [&] { Fake.Registry.FailNotify(kErrorAccessDenied); },
       [&] { Fake.Registry.FailNotify(0); }},
      {"memory exhausted by a huge value",
       [&] {
         exhausted = true;
         Fake.Registry.OnEnumValue([&](std::uint32_t) -> long {
           if (exhausted) throw std::bad_alloc();
           return 0;
         });
       },
       [&] { exhausted = false; }},
  };
  for (const TRow& row : rows) {
    Set("Before", "C:\\before.exe");
    row.Break();
    Start();
    ASSERT_TRUE(Window.WaitForNotices(1)) << row.What;
    Set("During", "C:\\during.exe");
    row.Mend();
    ASSERT_TRUE(Window.WaitForNotices(2)) << row.What;
    Stop();
    ASSERT_TRUE(Ended());
    const auto notices = Window.Received();
    EXPECT_EQ(notices[0].Kinds, std::vector<TChangeKind>{TChangeKind::NotWatched}) << row.What;
    EXPECT_EQ(notices[0].NewLines, std::vector<std::string>{texts::kNotWatched});
    EXPECT_EQ(notices[0].Key, kKey);
    EXPECT_EQ(notices[1].Kinds.front(), TChangeKind::WatchedAgain) << row.What;
    Window.Reset();
    Fake.Registry.DeleteKey(kHkeyCurrentUser, kSubKey);
    Fake.StopEvent->Reset();
  }
}

// Each notice's handling rewrites a large value, as a program that rewrites
// its entry every second would, for 100,000 notices: every rewrite made
// while a notice is handled is seen, and no notice ever carries more than
// the one record still to be shown.
TEST_F(MonitorTest, ChangesMadeWhileANoticeIsHandledAreSeenOneRecordAtATime) {
#ifdef __SANITIZE_THREAD__
  constexpr int kNotices = 20000;  // enough to race; the long run is the other builds' part
#else
  constexpr int kNotices = 100000;
#endif
  const std::string padding(1000, 'p');
  auto data = [&](int n) { return "C:\\busy\\" + std::to_string(n) + ".exe " + padding; };
  Set("Busy", data(0));
  int handled = 0;
  std::size_t mostRecords = 0;
  Window.KeepNotices = false;
  Window.WhileHandling = [&](const std::vector<TChangeRecord>& records) {
    mostRecords = std::max(mostRecords, records.size());
    if (++handled < kNotices) Set("Busy", data(handled));
  };
  Start();
  WaitUntilArmed();
  Set("Busy", data(-1));
  for (int notices = kNotices / 10; notices <= kNotices; notices += kNotices / 10) {
    // A deadline for each tenth, with room for a sanitizer on a busy machine.
    ASSERT_TRUE(Window.WaitForNotices(notices, 30s)) << notices;
  }
  EXPECT_EQ(mostRecords, 1u);
}

// A program that keeps making and deleting a subkey beside one monitor's key
// keeps that ancestor answering at every wait: another ancestor's answer
// on the same thread, a key moved away and another made at its path, is
// still heard, and the new key reported.
TEST_F(MonitorTest, AFloodedAncestorHidesNoOtherAncestorsChange) {
  static constexpr char kBeside[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Junk";
  constexpr char kOther[] = "\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
  // Shared with the hook, which may run until the thread has ended.
  const auto flooding = std::make_shared<std::atomic<bool>>(false);
  // Each read of the flooded monitor's key makes the ancestor answer again.
  Fake.Registry.OnEnumValue([this, flooding](std::uint32_t) -> long {
    if (*flooding) {
      Fake.Registry.CreateKey(kHkeyCurrentUser, kBeside);
      Fake.Registry.DeleteKey(kHkeyCurrentUser, kBeside);
    }
    return 0;
  });
  Fake.Registry.CreateKey(kHkeyCurrentUser, kSubKey);
  Fake.Registry.CreateKey(kHkeyCurrentUser, std::string(SubKeyOf(kOther)));
  std::vector<std::shared_ptr<TRegMonitor>> monitors;
  for (const char* key : {kKey, kOther}) {
    monitors.push_back(std::make_shared<TRegMonitor>(Fake.Platform, Fake.Queue));
    monitors.back()->NotifyWindow = Window.Handle;
    monitors.back()->Location = {kHkeyCurrentUser, key, {}, false, false};
    monitors.back()->WatchSubTree = true;
  }
  for (auto& thread : KeyMonitorThreads(Fake.Platform, Fake.StopEvent, monitors)) {
    Fake.Start(thread);
  }
  WaitUntilArmed(8);  // six ancestors and both keys
  *flooding = true;
  Fake.Registry.CreateKey(kHkeyCurrentUser, kBeside);
  Fake.Registry.DeleteKey(kHkeyCurrentUser, "Software\\Microsoft\\Windows NT\\CurrentVersion");
  Fake.Registry.SetString(kHkeyCurrentUser, std::string(SubKeyOf(kOther)), "Load", "C:\\x.exe");
  const bool heard = Window.WaitForNotices(1, 5s);
  *flooding = false;
  ASSERT_TRUE(heard) << "the new key at the other monitor's path was never read";
  EXPECT_EQ(Window.Received()[0].Key, kOther);
  EXPECT_EQ(Window.Received()[0].NewLines, std::vector<std::string>{"C:\\x.exe"});
}

// An ancestor its owner denies for a moment, while something beside the
// watched key wakes the watch on the key above: the key is moved away and
// another made at its path once the ancestor is open again. The monitor still
// looks at its path again, and reports the new key.
TEST_F(MonitorTest, AnAncestorThatRefusedItsWatchForAMomentHidesNoRename) {
  constexpr char kAncestor[] = "Software\\Microsoft\\Windows\\CurrentVersion";
  Set("Old", "C:\\old.exe");
  Start();
  WaitUntilArmed(5);  // four ancestors and the key
  Fake.Registry.RefuseOpening(kHkeyCurrentUser, kAncestor);
  Fake.Registry.CreateKey(kHkeyCurrentUser, std::string(kAncestor) + "\\Beside");
  WaitUntilArmed(1);  // the wake handled, the ancestor refused
  EXPECT_EQ(Fake.Registry.ArmedWatches(), 4) << "the key and the other ancestors stay armed";
  Fake.Registry.AllowAccess();
  Fake.Registry.DeleteKey(kHkeyCurrentUser, kSubKey);
  Set("New", "C:\\new.exe");
  ASSERT_TRUE(Window.WaitForNotices(2, 5s)) << "the key made at the path was never read";
  const auto notices = Window.Received();
  EXPECT_EQ(notices[0].NewLines, std::vector<std::string>{"C:\\old.exe"});
  EXPECT_EQ(notices[1].NewLines, std::vector<std::string>{"C:\\new.exe"});
}

TEST_F(MonitorTest, AChangeWinsOverTheStop) {
  Fake.Registry.CreateKey(kHkeyCurrentUser, kSubKey);
  Start();
  WaitUntilArmed();
  // Both events set while the UI thread is busy: the change is handled first.
  Fake.Messenger.OnUiThread([&] {
    Set("A", "a");
    Fake.StopThreads();
  });
  ASSERT_TRUE(Ended());
  const auto notices = Window.Received();
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0].ValueName, "A");
  EXPECT_EQ(notices[1].Kinds, std::vector<TChangeKind>{TChangeKind::Stopped});
}

TEST_F(MonitorTest, ASendToAWindowThatIsGoneIsIgnored) {
  Fake.Registry.CreateKey(kHkeyCurrentUser, kSubKey);
  Start(kKey, 0xDEAD);
  WaitUntilArmed();
  Set("A", "a");
  WaitUntilArmed();  // re-armed after the failed send
  Stop();
  ASSERT_TRUE(Ended());
  EXPECT_EQ(Fake.Queue->TakeAll().size(), 2u);  // kept for a window that comes later
}

TEST(RegMonitorThread, NotifyFilterReadsFifteenWhenUnset) {
  TFakePlatform fake;
  TRegMonitor monitor(fake.Platform, fake.Queue);
  EXPECT_EQ(monitor.NotifyFilter(), 15u);
  monitor.SetNotifyFilter(4);
  EXPECT_EQ(monitor.NotifyFilter(), 4u);
}

TEST(Thread, ABodyThatThrowsIsKeptSilentlyAndAStopBeforeStartSkipsIt) {
  struct TThrowing : TThread {
    std::atomic<int> Runs{0};
    void Execute() override {
      ++Runs;
      throw std::runtime_error("inside");
    }
  };
  auto thread = std::make_shared<TThrowing>();
  thread->Resume();
  ASSERT_TRUE(TThread::WaitForAll(std::chrono::seconds(10)));
  EXPECT_TRUE(thread->FatalException() != nullptr);

  auto skipped = std::make_shared<TThrowing>();
  skipped->RequestStop();
  skipped->Resume();
  ASSERT_TRUE(TThread::WaitForAll(std::chrono::seconds(10)));
  EXPECT_EQ(skipped->Runs, 0);
}

}  // namespace
}  // namespace kw::test
