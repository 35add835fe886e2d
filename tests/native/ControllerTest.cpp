// The monitor controller: fourteen monitors, and a stop that reaches those still running.

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <thread>

#include "monitor/ChangeTexts.h"
#include "monitor/MonitorController.h"
#include "monitor/RegistryAccess.h"
#include "monitor/WatchedKeys.h"
#include "tests/native/MonitorHarness.h"

namespace kw::test {
namespace {

using namespace std::chrono_literals;

class ControllerTest : public ::testing::Test {
 protected:
  ~ControllerTest() override {
    Controller.StopMonitors();
    Fake.Messenger.DestroyWindow(Window.Handle);
    TThread::WaitForAll(std::chrono::seconds(20));
  }

  void CreateAllKeys(HiveHandle hive) {
    for (const std::string& key : WatchedKeyTable()) {
      Fake.Registry.CreateKey(hive, std::string(SubKeyOf(key)));
    }
  }
  // Every running monitor is armed and waiting.
  void WaitUntilArmed(int watches) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (Fake.Registry.ArmedWatches() < watches || Fake.Sync.Waits() < watches) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      std::this_thread::sleep_for(1ms);
    }
  }
  std::size_t Running() {
    std::size_t count = 0;
    for (std::size_t row = 0; row < Controller.RowCount(); ++row) {
      count += Controller.RunningMonitors(row).size();
    }
    return count;
  }
  bool AllEnded() {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (Running() > 0) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }
  void StopOnUiThread() {
    Fake.Messenger.OnUiThread([&] { Controller.StopMonitors(); });
  }

  TFakePlatform Fake;
  TRecordingWindow Window{Fake.Messenger};
  TMonitorController Controller{Fake.Platform, Window.Handle, WatchedKeyTable()};
};

TEST_F(ControllerTest, StartsFourteenMonitorsMachineFirstEachWithItsOwnEvent) {
  CreateAllKeys(kHkeyLocalMachine);
  CreateAllKeys(kHkeyCurrentUser);
  Controller.StartMonitors(kHkeyLocalMachine);
  Controller.StartMonitors(kHkeyCurrentUser);
  EXPECT_TRUE(Controller.Started());
  WaitUntilArmed(14);

  std::set<std::string> events;
  for (std::size_t row = 0; row < 7; ++row) {
    const auto monitors = Controller.RunningMonitors(row);
    ASSERT_EQ(monitors.size(), 2u);
    EXPECT_EQ(monitors[0]->RootKey, kHkeyLocalMachine);
    EXPECT_EQ(monitors[1]->RootKey, kHkeyCurrentUser);
    for (const auto& m : monitors) {
      EXPECT_EQ(m->Key, WatchedKeyTable()[row]);
      EXPECT_EQ(m->Index, static_cast<int>(row));
      EXPECT_EQ(m->NotifyFilter(), kNotifyChangeLastSet);
      EXPECT_TRUE(m->WatchSubTree);
      EXPECT_TRUE(Fake.Sync.Exists(m->EventName()));
      events.insert(m->EventName());
    }
  }
  EXPECT_EQ(events.size(), 14u);

  StopOnUiThread();
  ASSERT_TRUE(Window.WaitForNotices(14));
  ASSERT_TRUE(AllEnded());
  for (const TNotice& n : Window.Received()) {
    EXPECT_EQ(n.NewLines, std::vector<std::string>{texts::kMonitoringStopped});
  }
  EXPECT_FALSE(Controller.Started());
}

TEST_F(ControllerTest, RowsMissingUnderAHiveLeaveOnlyTheOthersRunning) {
  Fake.Registry.CreateKey(kHkeyLocalMachine, std::string(SubKeyOf(WatchedKeyTable()[0])));
  Fake.Registry.CreateKey(kHkeyCurrentUser, std::string(SubKeyOf(WatchedKeyTable()[3])));
  Controller.StartMonitors(kHkeyLocalMachine);
  Controller.StartMonitors(kHkeyCurrentUser);
  WaitUntilArmed(2);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (Running() > 2) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline);
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(Controller.RunningMonitors(0).size(), 1u);
  EXPECT_EQ(Controller.RunningMonitors(3).size(), 1u);

  StopOnUiThread();
  ASSERT_TRUE(Window.WaitForNotices(2));
  ASSERT_TRUE(AllEnded());
  EXPECT_EQ(Window.Received().size(), 2u);
}

TEST_F(ControllerTest, StopWithEveryMonitorEndedOnlySignalsAndASecondStopDoesNothing) {
  Controller.StopMonitors();  // before any start: nothing
  EXPECT_FALSE(Fake.Sync.Exists(kStopEventName));
  Controller.StartMonitors(kHkeyCurrentUser);  // no key exists: all end at once
  ASSERT_TRUE(AllEnded());
  Controller.StopMonitors();
  EXPECT_TRUE(Fake.Sync.IsSet(kStopEventName));
  Controller.StopMonitors();
  EXPECT_TRUE(Window.Received().empty());
}

// Many monitors, a stream of changes from several writers, and a stop racing
// them: every monitor ends, none is touched after it ended (ASan, TSan).
TEST_F(ControllerTest, StressStopRacingChanges) {
  std::vector<std::string> table;
  for (int i = 0; i < 24; ++i) table.push_back("\\Software\\Stress\\Key" + std::to_string(i));
  for (const std::string& key : table) {
    Fake.Registry.CreateKey(kHkeyLocalMachine, std::string(SubKeyOf(key)));
    if (key.back() % 2) Fake.Registry.CreateKey(kHkeyCurrentUser, std::string(SubKeyOf(key)));
  }
  for (int round = 0; round < 5; ++round) {
    std::atomic<bool> writing{true};
    std::vector<std::thread> writers;
    for (int w = 0; w < 3; ++w) {
      writers.emplace_back([&, w] {
        std::mt19937 random(round * 10 + w);
        for (int n = 0; writing; ++n) {
          const std::string& key = table[random() % table.size()];
          const HiveHandle hive = random() % 2 ? kHkeyLocalMachine : kHkeyCurrentUser;
          const std::string name = "V" + std::to_string(random() % 5);
          if (random() % 3) {
            Fake.Registry.SetString(hive, std::string(SubKeyOf(key)), name, std::to_string(n));
          } else {
            Fake.Registry.DeleteValue(hive, std::string(SubKeyOf(key)), name);
          }
        }
      });
    }
    // The stop event is never reset in a run; each round plays a new run.
    TMonitorController racing(Fake.Platform, Window.Handle, table);
    std::unique_ptr<IEvent> stopEvent = Fake.Sync.CreateNamedEvent(kStopEventName, true, false);
    stopEvent->Reset();
    racing.StartMonitors(kHkeyLocalMachine);
    racing.StartMonitors(kHkeyCurrentUser);
    std::this_thread::sleep_for(std::chrono::milliseconds(5 * round));
    Fake.Messenger.OnUiThread([&] { racing.StopMonitors(); });
    writing = false;
    for (auto& t : writers) t.join();
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    for (std::size_t row = 0; row < table.size(); ++row) {
      while (!racing.RunningMonitors(row).empty()) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        std::this_thread::sleep_for(1ms);
      }
    }
  }
}

}  // namespace
}  // namespace kw::test
