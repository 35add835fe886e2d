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
    while (Fake.Registry.ArmedWatches() < watches || !AllAsleep()) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      std::this_thread::sleep_for(1ms);
    }
  }
  // Every waiting thread is in its wait with nothing signalled.
  bool AllAsleep() { return Fake.Sync.Sleeping() >= static_cast<int>(Controller.RunningThreads()); }
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

  static std::vector<TLocation> Locations(const std::vector<std::string>& keys) {
    std::vector<TLocation> rows = WatchedLocations(keys);
    rows.resize(2 * keys.size());  // the keys under both hives, without the further rows
    return rows;
  }

  TFakePlatform Fake;
  TRecordingWindow Window{Fake.Messenger, Fake.Queue};
  TMonitorController Controller{Fake.Platform, Window.Handle, Locations(WatchedKeyTable()),
                                Fake.Queue};
};

TEST_F(ControllerTest, StartsFourteenMonitorsMachineFirstWithNoEventOthersCanName) {
  CreateAllKeys(kHkeyLocalMachine);
  CreateAllKeys(kHkeyCurrentUser);
  Controller.StartMonitors(kHkeyLocalMachine);
  Controller.StartMonitors(kHkeyCurrentUser);
  EXPECT_TRUE(Controller.Started());
  WaitUntilArmed(14);

  for (std::size_t row = 0; row < 14; ++row) {
    const auto monitors = Controller.RunningMonitors(row);
    ASSERT_EQ(monitors.size(), 1u);
    const auto& m = monitors[0];
    EXPECT_EQ(m->Location.Hive, row < 7 ? kHkeyLocalMachine : kHkeyCurrentUser);
    EXPECT_EQ(m->Location.Path, WatchedKeyTable()[row % 7]);
    EXPECT_EQ(m->Location.SubKeys, row % 7 == 2);  // RunOnceEx
    EXPECT_EQ(m->Index, static_cast<int>(row));
    EXPECT_EQ(m->NotifyFilter(), kNotifyChangeLastSet);
    EXPECT_TRUE(m->WatchSubTree);
  }
  for (const char* name : {"EventStopAll", "RegMonitorChange1", "RegMonitorChange14"}) {
    EXPECT_FALSE(Fake.Sync.Exists(name));
  }

  StopOnUiThread();
  ASSERT_TRUE(Window.WaitForNotices(14));
  ASSERT_TRUE(AllEnded());
  for (const TNotice& n : Window.Received()) {
    EXPECT_EQ(n.NewLines, std::vector<std::string>{texts::kMonitoringStopped});
  }
  EXPECT_FALSE(Controller.Started());
}

// Keys missing under a hive are waited for, not made; the one that appears
// is reported; a stop before any start, or a second one, does nothing.
TEST_F(ControllerTest, MissingKeysAreWaitedForAndAStopEndsEveryMonitorOnce) {
  Controller.StopMonitors();
  EXPECT_FALSE(Controller.Started());
  Fake.Registry.CreateKey(kHkeyLocalMachine, std::string(SubKeyOf(WatchedKeyTable()[0])));
  Controller.StartMonitors(kHkeyLocalMachine);
  Controller.StartMonitors(kHkeyCurrentUser);
  WaitUntilArmed(14);
  EXPECT_EQ(Running(), 14u);
  EXPECT_TRUE(Window.Received().empty());
  const std::string runOnce(SubKeyOf(WatchedKeyTable()[1]));
  Fake.Registry.SetString(kHkeyCurrentUser, runOnce, "Once", "C:\\once.exe");
  ASSERT_TRUE(Window.WaitForNotices(1));
  EXPECT_EQ(Window.Received()[0].NewLines, std::vector<std::string>{"C:\\once.exe"});

  StopOnUiThread();
  ASSERT_TRUE(Window.WaitForNotices(15));
  ASSERT_TRUE(AllEnded());
  Controller.StopMonitors();
  EXPECT_EQ(Window.Received().size(), 15u);
}

// One monitor per startup folder, the user's first; the stop ends them too.
TEST_F(ControllerTest, StartsAMonitorPerStartupFolderAndStopsThem) {
  const std::u16string common = u"C:\\ProgramData\\Startup";
  Fake.Folders.NameStartupFolder(TStartupFolder::User, u"C:\\Users\\u\\Startup");
  Fake.Folders.NameStartupFolder(TStartupFolder::Common, common);
  Fake.Folders.MakeFolder(u"C:\\Users\\u\\Startup");
  Fake.Folders.MakeFolder(common);
  Controller.StartFolderMonitors();
  {
    const auto monitors = Controller.RunningFolderMonitors();
    ASSERT_EQ(monitors.size(), 2u);
    EXPECT_EQ(monitors[0]->Folder, TStartupFolder::User);
    EXPECT_EQ(monitors[1]->Folder, TStartupFolder::Common);
  }
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (Fake.Folders.ArmedWatches() < 2 || !AllAsleep()) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline);
    std::this_thread::sleep_for(1ms);
  }
  Fake.Folders.PutShortcut(common, u"All.lnk", u"C:\\all.exe", u"");
  ASSERT_TRUE(Window.WaitForNotices(1));
  EXPECT_EQ(Window.Received()[0].Key, "C:\\ProgramData\\Startup");

  StopOnUiThread();
  ASSERT_TRUE(Window.WaitForNotices(3));
  const auto ended = std::chrono::steady_clock::now() + 10s;
  while (!Controller.RunningFolderMonitors().empty()) {
    ASSERT_LT(std::chrono::steady_clock::now(), ended);
    std::this_thread::sleep_for(1ms);
  }
}

// Many monitors, a stream of changes from several writers, and a stop racing
// them: every monitor ends, none is touched after it ended (ASan, TSan).
TEST_F(ControllerTest, StressStopRacingChanges) {
  std::vector<std::string> table;
  for (int i = 0; i < 12; ++i) table.push_back("\\Software\\Stress\\Key" + std::to_string(i));
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
    TMonitorController racing(Fake.Platform, Window.Handle, Locations(table), Fake.Queue);
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

// The string values of a key as the registry has them now: folded name to data.
std::map<std::string, std::string> StringValues(fake::FakeRegistry& registry, HiveHandle hive,
                                                const std::string& path) {
  std::map<std::string, std::string> values;
  auto key = registry.OpenKey(hive, path, kKeyRead);
  fake::FakeRegistryText text;
  TRegValue value;
  for (std::uint32_t i = 0; key->EnumValue(i, value) == kErrorSuccess; ++i) {
    std::string folded = text.ToAnsi(value.Name);
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string data = text.ToAnsi(value.Text);
    if (value.Type == kRegSz || value.Type == kRegExpandSz) values[folded] = data.c_str();
  }
  return values;
}

// What a line reports as a value's data now: an added entry's path line, or
// the new data of a changed entry.
std::string ReportedData(const std::string& line) {
  if (line.rfind(texts::kChangedBegin, 0) != 0) return line;
  const std::size_t from = line.rfind(texts::kChangedTo) + std::strlen(texts::kChangedTo);
  return line.substr(from, line.size() - from - std::strlen(texts::kChangedEnd));
}

// Writers race the monitors of every watched key of both hives, with random
// gaps, while the window is sometimes slow: set, change, delete, case-only
// renames, other types, subkey values. At each quiet moment (every monitor
// asleep, nothing signalled) each key's last data was reported, and a probe
// value written into every key comes back as the one line of its notice: the
// monitor's old snapshot is its key as it is. Then the stop: one notice per
// monitor, and each ends.
TEST_F(ControllerTest, SoakEveryLastingChangeIsReportedThenTheStopEndsEachMonitor) {
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
      Fake.Registry.SetString(hive, watched.back().Path, "first", "C:\\first.exe");
    }
  }
  std::mt19937 slowness(7);
  Window.WhileHandling = [&](const std::vector<TChangeRecord>&) {
    if (slowness() % 16 == 0)
      std::this_thread::sleep_for(std::chrono::microseconds(slowness() % 2000));
  };
  Controller.StartMonitors(kHkeyLocalMachine);
  Controller.StartMonitors(kHkeyCurrentUser);
  WaitUntilArmed(14);
  auto quiet = [&] {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!AllAsleep()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  };

  constexpr int kRounds = 10, kWriters = 3, kOperations = 400;  // 12,000 in all
  std::atomic<int> serial{0};
  std::set<std::string> reported{"C:\\first.exe"};
  std::size_t seen = 0;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
      writers.emplace_back([&, w] {
        std::mt19937 random(round * kWriters + w);
        for (int n = 0; n < kOperations; ++n) {
          const TWatched& at = watched[random() % (random() % 2 ? 3 : watched.size())];
          std::string name = "v" + std::to_string(random() % 6);
          if (random() % 2) name[0] = 'V';
          const std::string data = "C:\\" + std::to_string(++serial) + ".exe";
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
              if (!bytes.empty()) Fake.Registry.SetString(at.Hive, at.Path, name, bytes.c_str());
              break;
            }
            case 7:
              if (random() % 2) {
                Fake.Registry.SetString(at.Hive, at.Path, name, data, kRegExpandSz);
              } else {
                Fake.Registry.SetDword(at.Hive, at.Path, name);
              }
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

    ASSERT_TRUE(quiet()) << "round " << round;
    auto notices = Window.Received();
    for (; seen < notices.size(); ++seen) {
      for (const std::string& line : notices[seen].NewLines) reported.insert(ReportedData(line));
    }
    for (const TWatched& w : watched) {
      for (const auto& [name, data] : StringValues(Fake.Registry, w.Hive, w.Path)) {
        ASSERT_TRUE(reported.count(data)) << "round " << round << ": " << HiveToName(w.Hive)
                                          << w.KeyPath << " " << name << " = " << data;
      }
    }
    std::map<std::pair<HiveHandle, std::string>, std::string> probes;
    for (const TWatched& w : watched) {
      const std::string probe = "C:\\probe\\" + std::to_string(++serial) + ".exe";
      Fake.Registry.SetString(w.Hive, w.Path, "probe" + std::to_string(round), probe);
      probes[{w.Hive, w.KeyPath}] = probe;
    }
    ASSERT_TRUE(Window.WaitForNotices(seen + 14));
    ASSERT_TRUE(quiet());
    notices = Window.Received();
    ASSERT_EQ(notices.size(), seen + 14) << "round " << round;
    for (; seen < notices.size(); ++seen) {
      const TNotice& n = notices[seen];
      reported.insert(probes[{n.RootKey, n.Key}]);
      const std::vector<std::string> probeLine{probes[{n.RootKey, n.Key}]};
      EXPECT_EQ(n.NewLines, probeLine)
          << "round " << round << ": " << HiveToName(n.RootKey) << n.Key;
    }
    ASSERT_FALSE(HasFailure());
  }

  const std::size_t before = Window.Received().size();
  StopOnUiThread();
  ASSERT_TRUE(Window.WaitForNotices(before + 14));
  ASSERT_TRUE(AllEnded());
  const auto notices = Window.Received();
  ASSERT_EQ(notices.size(), before + 14);
  std::set<std::pair<HiveHandle, std::string>> stopped;
  for (std::size_t i = before; i < notices.size(); ++i) {
    EXPECT_EQ(notices[i].NewLines, std::vector<std::string>{texts::kMonitoringStopped});
    stopped.insert({notices[i].RootKey, notices[i].Key});
  }
  EXPECT_EQ(stopped.size(), 14u);
}

}  // namespace
}  // namespace kw::test
