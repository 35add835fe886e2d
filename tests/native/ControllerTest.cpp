// The monitor controller: fourteen monitors, and a stop that reaches those still running.

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "lib/Hives.h"
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

// Writers race the monitors of every watched key of both hives, with random
// gaps, while the window is sometimes slow: set, change, delete, case-only
// renames, other types, subkey values. At each quiet moment the notices,
// replayed from the keys' first contents, must give each key's string values:
// no change that lasted went unreported, and every monitor's old snapshot is
// its key as it is. Then a stop from outside: one notice per monitor, and each ends.
class TReplayedKeys {
 public:
  using TValues = std::map<std::string, std::string>;  // folded name to data

  static std::string Fold(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  }
  // Data written here names its value: "C:\name\serial.exe", the same as its path line.
  static std::string NameIn(const std::string& data) {
    return data.substr(3, data.find('\\', 3) - 3);
  }
  // The string values of a key as the registry has them now.
  static TValues Read(fake::FakeRegistry& registry, HiveHandle hive, const std::string& path) {
    TValues values;
    auto key = registry.OpenKey(hive, path, kKeyRead);
    char name[256];
    unsigned char data[256];
    for (std::uint32_t i = 0;; ++i) {
      std::uint32_t nameLen = sizeof name, dataLen = sizeof data, type = 0;
      if (key->EnumValue(i, name, nameLen, type, data, dataLen) != kErrorSuccess) break;
      if (type == kRegSz)
        values[Fold(name)].assign(reinterpret_cast<char*>(data), dataLen ? dataLen - 1 : 0);
    }
    return values;
  }

  TValues& Of(HiveHandle hive, const std::string& keyPath) { return Keys[{hive, keyPath}]; }

  // Applies each line as the deletion, change or addition it reports.
  void Replay(const TNotice& notice) {
    TValues& values = Of(notice.RootKey, notice.Key);
    for (const std::string& line : notice.NewLines) {
      if (line.rfind(texts::kChangedBegin, 0) == 0) {
        const std::size_t from = line.find(texts::kChangedFrom) + std::strlen(texts::kChangedFrom);
        const std::size_t to = line.rfind(texts::kChangedTo);
        const std::string before = line.substr(from, to - from);
        const std::size_t after = to + std::strlen(texts::kChangedTo);
        const std::string now =
            line.substr(after, line.size() - after - std::strlen(texts::kChangedEnd));
        EXPECT_EQ(values[NameIn(before)], before) << line;
        values[NameIn(now)] = now;
      } else if (auto at = values.find(NameIn(line)); at != values.end() && at->second == line) {
        values.erase(at);
      } else {
        EXPECT_EQ(at, values.end()) << "added over a value never reported gone: " << line;
        values[NameIn(line)] = line;
      }
    }
  }

 private:
  std::map<std::pair<HiveHandle, std::string>, TValues> Keys;
};

TEST_F(ControllerTest, SoakEveryLastingChangeIsReportedThenAStopFromOutsideEndsEachMonitor) {
  CreateAllKeys(kHkeyLocalMachine);
  CreateAllKeys(kHkeyCurrentUser);
  struct TWatched {
    HiveHandle Hive;
    std::string KeyPath, Path;
  };
  std::vector<TWatched> watched;
  for (HiveHandle hive : {kHkeyLocalMachine, kHkeyCurrentUser}) {
    for (const std::string& key : WatchedKeyTable()) {
      watched.push_back({hive, key, std::string(SubKeyOf(key))});
      Fake.Registry.SetString(hive, watched.back().Path, "first", "C:\\first\\0.exe");
    }
  }
  TReplayedKeys replayed;
  for (const TWatched& w : watched)
    replayed.Of(w.Hive, w.KeyPath) = TReplayedKeys::Read(Fake.Registry, w.Hive, w.Path);
  std::mt19937 slowness(7);
  Window.WhileHandling = [&](const TChangeData&) {
    if (slowness() % 16 == 0)
      std::this_thread::sleep_for(std::chrono::microseconds(slowness() % 2000));
  };
  Controller.StartMonitors(kHkeyLocalMachine);
  Controller.StartMonitors(kHkeyCurrentUser);
  WaitUntilArmed(14);

  constexpr int kRounds = 10, kWriters = 3, kOperations = 400;  // 12,000 in all
  std::atomic<int> serial{0};
  std::size_t replayedNotices = 0;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
      writers.emplace_back([&, w] {
        std::mt19937 random(round * kWriters + w);
        for (int n = 0; n < kOperations; ++n) {
          const TWatched& at = watched[random() % (random() % 2 ? 3 : watched.size())];
          std::string name = "v" + std::to_string(random() % 6);
          if (random() % 2) name[0] = 'V';
          const std::string data =
              "C:\\" + TReplayedKeys::Fold(name) + "\\" + std::to_string(++serial) + ".exe";
          switch (random() % 10) {
            case 0:
            case 1:
            case 2:
            case 3:
              Fake.Registry.SetString(at.Hive, at.Path, name, data);
              break;
            case 4:
            case 5:
              Fake.Registry.DeleteValue(at.Hive, at.Path, name);
              break;
            case 6: {  // the same value again under a name differing in case only
              const std::string bytes = Fake.Registry.ValueBytes(at.Hive, at.Path, name);
              Fake.Registry.DeleteValue(at.Hive, at.Path, name);
              name[0] = name[0] == 'v' ? 'V' : 'v';
              if (!bytes.empty()) Fake.Registry.SetValue(at.Hive, at.Path, name, kRegSz, bytes);
              break;
            }
            case 7:
              Fake.Registry.SetValue(at.Hive, at.Path, name, random() % 2 ? 2 : 4, data);
              break;
            default:
              Fake.Registry.SetString(at.Hive, at.Path + "\\Sub", name, data);
          }
          if (random() % 4 == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
        }
      });
    }
    for (auto& t : writers) t.join();

    std::string unsettled;  // the first key whose notices do not give its values
    auto settled = [&] {
      const auto notices = Window.Received();
      for (; replayedNotices < notices.size(); ++replayedNotices)
        replayed.Replay(notices[replayedNotices]);
      for (const TWatched& w : watched) {
        if (replayed.Of(w.Hive, w.KeyPath) != TReplayedKeys::Read(Fake.Registry, w.Hive, w.Path)) {
          unsettled = HiveToName(w.Hive) + w.KeyPath;
          return false;
        }
      }
      return true;
    };
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!settled()) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline)
          << "round " << round << ", " << unsettled;
      std::this_thread::sleep_for(1ms);
    }
    ASSERT_FALSE(HasFailure()) << "round " << round;
  }

  const std::size_t before = Window.Received().size();
  Fake.Sync.SetNamed(kStopEventName);
  ASSERT_TRUE(AllEnded());
  const auto notices = Window.Received();
  ASSERT_EQ(notices.size(), before + 14);
  std::set<std::pair<HiveHandle, std::string>> stopped;
  for (std::size_t i = before; i < notices.size(); ++i) {
    EXPECT_EQ(notices[i].NewLines, std::vector<std::string>{texts::kMonitoringStopped});
    stopped.insert({notices[i].RootKey, notices[i].Key});
  }
  EXPECT_EQ(stopped.size(), 14u);
  EXPECT_TRUE(Controller.Started());
}

}  // namespace
}  // namespace kw::test
