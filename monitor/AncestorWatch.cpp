#include "monitor/AncestorWatch.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "monitor/RegistryAccess.h"

namespace kw {

namespace {

// The table's paths are ASCII; the registry tells their names apart without case.
std::string Folded(std::string_view path) {
  std::string folded(path);
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

// `path` is `at` or lies below it; an empty `at` is the hive, above them all.
bool AtOrBelow(const std::string& path, const std::string& at) {
  if (at.empty()) return true;
  const std::string folded = Folded(path), top = Folded(at);
  return folded == top || folded.rfind(top + '\\', 0) == 0;
}

}  // namespace

TAncestorWatch::TAncestorWatch(const TMonitorPlatform& platform, HiveHandle hive)
    : Platform(platform), Hive(hive) {}

bool TAncestorWatch::Has(const std::string& path) const {
  const std::string folded = Folded(path);
  return std::any_of(Keys.begin(), Keys.end(),
                     [&](const TKey& key) { return Folded(key.Path) == folded; });
}

std::size_t TAncestorWatch::EventsFor(const TRegMonitor& monitor) const {
  const std::vector<std::string> paths = monitor.AncestorPaths();
  return static_cast<std::size_t>(
      std::count_if(paths.begin(), paths.end(), [&](const std::string& p) { return !Has(p); }));
}

void TAncestorWatch::Add(std::shared_ptr<TRegMonitor> monitor) {
  for (const std::string& path : monitor->AncestorPaths()) {
    if (!Has(path)) Keys.push_back({path, Platform.Sync.CreateNamedEvent("", true, false), {}});
  }
  Monitors.push_back(std::move(monitor));
}

// Before any key monitor of the thread begins: a rename between a monitor's
// first open and this arming would go unseen.
void TAncestorWatch::Begin() {
  ArmFrom("");
}

void TAncestorWatch::AddEvents(std::vector<IEvent*>& events) const {
  if (WaitFailing) return;
  for (std::size_t n = 0; n < Keys.size(); ++n) {
    const TKey& key = Keys[(FirstInLine + n) % Keys.size()];
    if (key.Event) events.push_back(key.Event.get());
  }
}

// A key's subkeys came, went or were renamed: its own watch is used up, and
// those below it may be other keys now, or none. They are armed again before
// any monitor opens its key, so that a rename in between wakes the next wait.
void TAncestorWatch::Signalled(std::size_t which) {
  if (WaitFailing) return;
  for (std::size_t n = 0; n < Keys.size(); ++n) {
    const std::size_t at = (FirstInLine + n) % Keys.size();
    if (!Keys[at].Event || which-- != 0) continue;
    FirstInLine = (at + 1) % Keys.size();
    const std::string path = Keys[at].Path;  // ArmFrom leaves the list as it is
    ArmFrom(path);
    TellMonitorsBelow(path);
    return;
  }
}

// All are opened afresh by their paths, as any of them may have been
// renamed; every old handle is closed before any event is reset, as closing
// one signals it. A key that is not there cannot be armed: its making shows
// in the watch on the key above it.
void TAncestorWatch::ArmFrom(const std::string& path) {
  for (TKey& key : Keys) {
    if (AtOrBelow(key.Path, path)) key.Key.reset();
  }
  bool armed = true;
  for (TKey& key : Keys) {
    if (!key.Event || !AtOrBelow(key.Path, path)) continue;
    key.Event->Reset();
    key.Refused = !Arm(key);
    armed = armed && !key.Refused;
  }
  // A key there that refuses its watch (its owner may deny it for a while)
  // would hide every rename in it, which nothing else reveals: it is tried
  // again, and the monitors below it look at their keys, after a pause,
  // longer each time it refuses. The other keys stay armed meanwhile.
  if (!armed) {
    RetryLater();
  } else if (std::none_of(Keys.begin(), Keys.end(), [](const TKey& key) { return key.Refused; })) {
    Pause.Reset({});
  }
}

// False when the key is there and cannot be watched.
bool TAncestorWatch::Arm(TKey& key) {
  try {
    long error = kErrorSuccess;
    key.Key = Platform.Registry.OpenKey(Hive, key.Path, kKeyRead | kKeyWow64_64Key, &error);
    if (!key.Key) return error == kErrorFileNotFound || error == kErrorKeyDeleted;
    const long result = key.Key->NotifyChange(false, kNotifyChangeName, *key.Event);
    return result == kErrorSuccess || result == kErrorKeyDeleted;
  } catch (const std::exception&) {
    // Memory exhausted: a throw would end the thread, and every watcher on
    // it, without a word to the user.
    return false;
  }
}

void TAncestorWatch::TellMonitorsBelow(const std::string& path) {
  for (const auto& monitor : Monitors) {
    if (AtOrBelow(std::string(SubKeyOf(monitor->Location.Path)), path)) {
      monitor->AncestorChanged();
    }
  }
}

// The wait failed: nothing is armed for a while, then everything is armed
// again and every monitor looks at its key, as a rename meanwhile went unseen.
void TAncestorWatch::WaitFailed() {
  if (WaitFailing) return;
  for (TKey& key : Keys) key.Key.reset();
  WaitFailing = true;
  RetryLater();
}

void TAncestorWatch::RetryLater() {
  if (!Pause.Active) Pause.Start({});  // one retry due already takes them all
}

void TAncestorWatch::PauseOver() {
  Pause.Active = false;
  if (std::exchange(WaitFailing, false)) {
    ArmFrom("");
    TellMonitorsBelow("");
    return;
  }
  std::vector<std::string> refused;
  for (const TKey& key : Keys) {
    if (key.Refused) refused.push_back(key.Path);
  }
  for (const std::string& path : refused) {
    ArmFrom(path);
    TellMonitorsBelow(path);
  }
}

void TAncestorWatch::End() {
  for (TKey& key : Keys) key.Key.reset();
}

}  // namespace kw
