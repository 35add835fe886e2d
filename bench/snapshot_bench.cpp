// How long reading and comparing a snapshot take as a key fills up with values.
// Prints figures; it asserts nothing.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "monitor/MonitorController.h"
#include "monitor/RegSnapshot.h"
#include "monitor/WatchedKeys.h"
#include "tests/fakes/FakeFolders.h"
#include "tests/fakes/FakeMessenger.h"
#include "tests/fakes/FakeRegistry.h"
#include "tests/fakes/FakeRegistryText.h"

using namespace kw;

namespace {

constexpr char kPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

template <typename F>
double MedianMs(int repeats, F&& work) {
  std::vector<double> times;
  for (int i = 0; i < repeats; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// What the program watches, and on how many waiting threads: the key
// monitors of each hive as the controller packs them, and the two threads of
// the startup folders and the scheduled tasks.
int PrintLocations() {
  fake::FakeSync sync;
  fake::FakeRegistry registry(sync);
  fake::FakeMessenger messenger;
  fake::FakeRegistryText text;
  fake::FakeFolders folders(sync);
  const TMonitorPlatform platform{registry, sync, messenger, text, folders};
  const std::shared_ptr<IEvent> stop = sync.CreateNamedEvent("", true, false);
  const std::vector<TLocation> rows = WatchedLocations(WatchedKeyTable());
  std::size_t threads = 2;
  for (HiveHandle hive : {kHkeyLocalMachine, kHkeyCurrentUser}) {
    std::vector<std::shared_ptr<TRegMonitor>> monitors;
    for (const TLocation& row : rows) {
      if (row.Hive != hive) continue;
      monitors.push_back(std::make_shared<TRegMonitor>(platform, std::make_shared<TChangeQueue>()));
      monitors.back()->Location = row;
    }
    threads += KeyMonitorThreads(platform, stop, monitors).size();
  }
  std::printf(
      "%zu registry locations, 2 startup folders and the scheduled tasks: %zu waiting threads\n",
      rows.size(), threads);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--locations") return PrintLocations();
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  double ratio = 0;
  for (int count : {10, 1000, 100000}) {
    fake::FakeSync sync;
    fake::FakeRegistry registry(sync);
    fake::FakeRegistryText text;
    for (int i = 0; i < count; ++i) {
      registry.SetString(
          kHkeyCurrentUser, kPath, "Program" + std::to_string(i),
          "\"C:\\Program Files\\Vendor " + std::to_string(i) + "\\app.exe\" /background");
    }
    auto key = registry.OpenKey(kHkeyCurrentUser, kPath, kKeyRead);
    const TLocation location{kHkeyCurrentUser, std::string("\\") + kPath, {}, false, false};
    const TCompareContext context{location.Hive, location.Path, text};
    TRegSnapshot oldSnapshot, newSnapshot;
    TakeSnapshot(*key, location, text.UpcaseTable(), oldSnapshot);
    std::vector<TChangeRecord> records;
    const int repeats = count >= 100000 ? 5 : 50;

    int generation = 0;
    double snapshotMs = 0, compareMs = 0;
    std::vector<double> snaps, compares;
    for (int r = 0; r < repeats; ++r) {
      registry.SetString(kHkeyCurrentUser, kPath, "Program" + std::to_string(count / 2),
                         "C:\\changed\\" + std::to_string(++generation) + ".exe");
      snaps.push_back(
          MedianMs(1, [&] { TakeSnapshot(*key, location, text.UpcaseTable(), newSnapshot); }));
      compares.push_back(MedianMs(1, [&] {
        records.clear();
        CompareSnapshots(oldSnapshot, newSnapshot, context, records);
      }));
      std::swap(oldSnapshot, newSnapshot);
    }
    std::sort(snaps.begin(), snaps.end());
    std::sort(compares.begin(), compares.end());
    snapshotMs = snaps[snaps.size() / 2];
    compareMs = compares[compares.size() / 2];
    std::printf("%7d values, one changed: TakeSnapshot %10.3f ms, CompareSnapshots %10.3f ms\n",
                count, snapshotMs, compareMs);
    ratio = compareMs / snapshotMs;
  }
  std::printf("compare/snapshot ratio at 100000 values: %.3f\n", ratio);
  return 0;
}
