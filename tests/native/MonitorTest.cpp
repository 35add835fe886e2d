// A key monitor against the fake registry, events and window.

#include <gtest/gtest.h>

#include <thread>

#include "lib/Exception.h"
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

  std::shared_ptr<TRegMonitorThread> Start(const char* key = kKey) {
    auto monitor = std::make_shared<TRegMonitorThread>(Fake.Platform);
    monitor->SetFreeOnTerminate(true);
    monitor->NotifyWindow = Window.Handle;
    monitor->Key = key;
    monitor->RootKey = kHkeyCurrentUser;
    monitor->SetNotifyFilter(kNotifyChangeLastSet);
    monitor->WatchSubTree = true;
    Started = monitor;
    monitor->Resume();
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
    Fake.Messenger.OnUiThread([&] {
      Fake.Sync.SetNamed(kStopEventName);
      if (auto m = Started.lock()) m->RequestStop();
    });
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
  TRecordingWindow Window{Fake.Messenger};
  std::unique_ptr<IEvent> StopEvent = Fake.Sync.CreateNamedEvent(kStopEventName, true, false);
  std::weak_ptr<TRegMonitorThread> Started;
  int Waits = 0;
};

TEST_F(MonitorTest, ReportsAddedChangedAndDeletedValuesThenTheStop) {
  Fake.Registry.SetString(kHkeyCurrentUser, kSubKey, "Old", "C:\\old.exe");
  Start();
  WaitUntilArmed();

  Fake.Registry.SetString(kHkeyCurrentUser, kSubKey, "Tool", "\"C:\\Tool\\t.exe\" /min");
  ASSERT_TRUE(Window.WaitForNotices(1));
  WaitUntilArmed();
  Fake.Registry.SetString(kHkeyCurrentUser, kSubKey, "Tool", "C:\\Tool\\u.exe");
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
  EXPECT_EQ(notices[3].Title, "");
  EXPECT_EQ(notices[3].ValueName, "");
}

TEST_F(MonitorTest, OtherTypesAndSubkeyValuesWakeWithoutADifference) {
  Fake.Registry.CreateKey(kHkeyCurrentUser, kSubKey);
  Start();
  WaitUntilArmed();
  Fake.Registry.SetValue(kHkeyCurrentUser, kSubKey, "Expand", 2, std::string("x\0", 2));
  ASSERT_TRUE(Window.WaitForNotices(1));
  WaitUntilArmed();
  Fake.Registry.SetString(kHkeyCurrentUser, std::string(kSubKey) + "\\Sub", "V", "C:\\v.exe");
  ASSERT_TRUE(Window.WaitForNotices(2));
  WaitUntilArmed();
  Fake.Registry.CreateKey(kHkeyCurrentUser, std::string(kSubKey) + "\\Other");  // not in the filter
  Fake.Registry.SetString(kHkeyCurrentUser, kSubKey, "Last", "C:\\last.exe");
  ASSERT_TRUE(Window.WaitForNotices(3));
  Stop();
  ASSERT_TRUE(Ended());

  const auto notices = Window.Received();
  for (int i : {0, 1}) {
    EXPECT_TRUE(notices[i].NewLines.empty());
    EXPECT_EQ(notices[i].Title, "");
    EXPECT_EQ(notices[i].ValueName, "");
  }
  EXPECT_EQ(notices[2].ValueName, "Last");  // the first notice after the subkey was made
}

// Each notice's handling rewrites a large value, as a program that rewrites
// its entry every second would, for 100,000 notices: every rewrite made while
// a notice is handled is seen, and the record keeps only the line still to be
// shown, never the lines of the notices before.
TEST_F(MonitorTest, ChangesMadeWhileANoticeIsHandledAreSeenAndShownLinesAreReleased) {
#ifdef __SANITIZE_THREAD__
  constexpr int kNotices = 20000;  // enough to race; the long run is the other builds' part
#else
  constexpr int kNotices = 100000;
#endif
  const std::string padding(1000, 'p');
  auto data = [&](int n) { return "C:\\busy\\" + std::to_string(n) + ".exe " + padding; };
  Fake.Registry.SetString(kHkeyCurrentUser, kSubKey, "Busy", data(0));
  int handled = 0;
  std::size_t mostLines = 0, mostBytes = 0, mostShown = 0;
  Window.KeepNotices = false;
  Window.WhileHandling = [&](const TChangeData& change) {
    std::size_t bytes = 0;
    for (const std::string& line : change.Changes) bytes += line.size();
    mostLines = std::max(mostLines, change.Changes.size());
    mostBytes = std::max(mostBytes, bytes);
    mostShown = std::max(mostShown, static_cast<std::size_t>(change.Shown));
    if (++handled < kNotices)
      Fake.Registry.SetString(kHkeyCurrentUser, kSubKey, "Busy", data(handled));
  };
  Start();
  WaitUntilArmed();
  Fake.Registry.SetString(kHkeyCurrentUser, kSubKey, "Busy", data(-1));
  for (int notices = kNotices / 10; notices <= kNotices; notices += kNotices / 10) {
    ASSERT_TRUE(Window.WaitForNotices(notices)) << notices;
  }
  EXPECT_EQ(mostLines, 1u);
  EXPECT_EQ(mostShown, 0u);
  EXPECT_LE(mostBytes, 2 * data(kNotices).size() + 64);
}

TEST_F(MonitorTest, AMissingKeyEndsTheMonitorSilently) {
  auto monitor = Start("\\Software\\Missing");
  std::weak_ptr<TRegMonitorThread> weak = monitor;
  monitor.reset();
  ASSERT_TRUE(Ended());
  EXPECT_TRUE(Window.Received().empty());
  EXPECT_EQ(Fake.Sync.Waits(), 0);
  EXPECT_EQ(Fake.Registry.OpenedAccessRights(),
            (std::vector<std::uint32_t>{0x20119, 0x20109, 0x101}));
}

TEST_F(MonitorTest, TheOpenFailureCarriesTheKey) {
  try {
    OpenKeyReadOnly(Fake.Registry, kHkeyCurrentUser, "\\Software\\Missing");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), std::string(texts::kCannotOpenKey) + "\\Software\\Missing");
  }
}

TEST_F(MonitorTest, AKeyOpenedWithoutNotifyRightsWakesOnlyForTheStop) {
  Fake.Registry.CreateKey(kHkeyCurrentUser, kSubKey);
  Fake.Registry.RefuseAccess(kKeyRead | kKeyWow64_64Key);
  Start();
  WaitUntilArmed(0);
  Stop();
  ASSERT_TRUE(Window.WaitForNotices(1));
  ASSERT_TRUE(Ended());
  EXPECT_EQ(Window.Received()[0].NewLines, std::vector<std::string>{texts::kMonitoringStopped});
}

TEST_F(MonitorTest, AFailedWaitNeitherSendsNorSpins) {
  Fake.Registry.CreateKey(kHkeyCurrentUser, kSubKey);
  Fake.Sync.FailCreating(kStopEventName);
  StopEvent.reset();
  Start();
  ASSERT_TRUE(Ended());
  EXPECT_EQ(Fake.Sync.Waits(), 1);
  EXPECT_TRUE(Window.Received().empty());
}

TEST_F(MonitorTest, AChangeWinsOverTheStopAndAStoppedMonitorSendsNoNotice) {
  Fake.Registry.CreateKey(kHkeyCurrentUser, kSubKey);
  Start();
  WaitUntilArmed();
  // Both events set while the UI thread is busy: the change is handled, then
  // the monitor finds the stop requested and ends without a stop notice.
  Fake.Messenger.OnUiThread([&] {
    Fake.Registry.SetString(kHkeyCurrentUser, kSubKey, "A", "a");
    Fake.Sync.SetNamed(kStopEventName);
    if (auto m = Started.lock()) m->RequestStop();
  });
  ASSERT_TRUE(Ended());
  const auto notices = Window.Received();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].ValueName, "A");
}

TEST_F(MonitorTest, ASendToAWindowThatIsGoneIsIgnored) {
  Fake.Registry.CreateKey(kHkeyCurrentUser, kSubKey);
  auto monitor = std::make_shared<TRegMonitorThread>(Fake.Platform);
  monitor->SetFreeOnTerminate(true);
  monitor->NotifyWindow = 0xDEAD;
  monitor->Key = kKey;
  monitor->SetNotifyFilter(kNotifyChangeLastSet);
  Started = monitor;
  monitor->Resume();
  monitor.reset();
  WaitUntilArmed();
  Fake.Registry.SetString(kHkeyCurrentUser, kSubKey, "A", "a");
  WaitUntilArmed();  // re-armed after the failed send
  Stop();
  ASSERT_TRUE(Ended());
}

TEST(RegMonitorThread, NotifyFilterReadsFifteenWhenUnset) {
  TFakePlatform fake;
  TRegMonitorThread monitor(fake.Platform);
  EXPECT_EQ(monitor.NotifyFilter(), 15u);
  monitor.SetNotifyFilter(4);
  EXPECT_EQ(monitor.NotifyFilter(), 4u);
  TRegMonitorThread other(fake.Platform);
  EXPECT_NE(monitor.EventName(), other.EventName());
  EXPECT_EQ(monitor.EventName().rfind("RegMonitorChange", 0), 0u);
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
