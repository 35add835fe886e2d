#include "monitor/RegMonitor.h"

#include "lib/Exception.h"
#include "monitor/ChangeTexts.h"
#include "monitor/RegistryAccess.h"

namespace kw {

TRegMonitor::TRegMonitor(const TMonitorPlatform& platform, std::shared_ptr<TChangeQueue> queue)
    : TWatcher(platform, std::move(queue)) {}

std::uint32_t TRegMonitor::NotifyFilter() {
  if (FNotifyFilter == 0) FNotifyFilter = 15;
  return FNotifyFilter;
}

// What the key held when the guard last ran: what it holds now is compared
// with that, so a change made meanwhile is reported at the first read.
void TRegMonitor::Starting() {
  if (!States) return;
  // With the last run's state unknown, everything found is reported.
  HasOldSnapshot = States->StateOf(StateKeyOf(Location.Hive, Location.Path), OldSnapshot) ||
                   States->FoundIsNewAtStart();
  // A saved state names values as stored; they are folded as the registry here folds them.
  for (TRegEntry& entry : OldSnapshot.Entries) {
    entry.Identity = IdentityOf(Platform.Text.UpcaseTable(), entry.SubKey, entry.Name);
  }
}

// Not the hive itself: opening its root hands back the predefined handle,
// which is no handle of the monitor's own to arm or close.
std::vector<std::string> TRegMonitor::AncestorPaths() const {
  std::vector<std::string> paths;
  const std::string path(SubKeyOf(Location.Path));
  for (std::size_t cut = path.find('\\'); cut != std::string::npos;
       cut = path.find('\\', cut + 1)) {
    paths.push_back(path.substr(0, cut));
  }
  return paths;
}

// Where the key is, watches it. Where it is not, watches its nearest
// existing parent for its making.
TRegMonitor::TOutcome TRegMonitor::Watch() {
  if (!HaveEvents()) return TOutcome::Failed;
  Parent.reset();
  long error = kErrorSuccess;
  OpenKey = OpenLocation(error);
  if (OpenKey) return WatchPresentKey();
  if (error != kErrorFileNotFound) throw Exception(texts::kCannotOpenKey + Location.Path);

  // Absent: whatever was reported of it is gone, and all it will hold is new.
  NewSnapshot.Entries.clear();
  ReportNewSnapshot();

  // The nearest existing parent signals when a subkey is made below it. A
  // key renamed into place (another one, or the watched key renamed back)
  // signals only those watching a parent's whole subtree for names.
  Parent = OpenNearestParent();
  ChangeEvent->Reset();
  if (Parent->NotifyChange(true, kNotifyChangeName, *ChangeEvent) != kErrorSuccess) {
    throw Exception(texts::kCannotOpenKey + Location.Path);
  }
  // Made between the first try and the arming?
  OpenKey = OpenLocation(error);
  if (OpenKey) {
    Parent.reset();
    return WatchPresentKey();
  }
  SetWatched(true);
  return TOutcome::Waiting;
}

// Armed before the first read: a change made while the key is read wakes
// the first wait. The ancestors were armed before any key monitor of their
// waiting thread began, and are again before it is told of their change.
TRegMonitor::TOutcome TRegMonitor::WatchPresentKey() {
  if (!ReopenByPath()) return TOutcome::Gone;
  ChangeEvent->Reset();
  Arm();
  SetWatched(true);
  if (ReadAndReport() == TSnapshotResult::KeyGone) return TOutcome::Gone;
  return TOutcome::Waiting;
}

void TRegMonitor::AncestorChanged() {
  Signalled(0);
}

// The key's own signal, or an ancestor's change.
TRegMonitor::TOutcome TRegMonitor::Woken(std::size_t) {
  // Absent: the parent's subkeys changed, and the key may be there now.
  if (Parent) return Watch();
  // The key at the path may not be the one the handle holds any more
  // (renamed or moved away, it keeps its values and its handle): the path
  // is opened afresh, and the signal, one-shot, asked for again before
  // the key is read. A change made while this one is read, compared or
  // shown then wakes the next wait at once.
  if (!ReopenByPath()) return TOutcome::Gone;
  ChangeEvent->Reset();
  Arm();
  // A key found empty may have been deleted, and perhaps made again: the
  // handle of a deleted key never sees the new one, so it is opened afresh.
  if (ReadAndReport() == TSnapshotResult::KeyGone || OldSnapshot.Entries.empty()) {
    return TOutcome::Gone;
  }
  return TOutcome::Waiting;
}

// False when nothing is at the path now.
bool TRegMonitor::ReopenByPath() {
  OpenKey.reset();  // first: closing it drops whatever it still had armed
  long error = kErrorSuccess;
  OpenKey = OpenLocation(error);
  return OpenKey != nullptr;
}

std::unique_ptr<IRegKey> TRegMonitor::OpenLocation(long& error) {
  return Platform.Registry.OpenKey(Location.Hive, std::string(SubKeyOf(Location.Path)),
                                   kKeyRead | kKeyWow64_64Key, &error);
}

std::unique_ptr<IRegKey> TRegMonitor::OpenNearestParent() {
  std::string path(SubKeyOf(Location.Path));
  for (;;) {
    const std::size_t cut = path.rfind('\\');
    path.resize(cut == std::string::npos ? 0 : cut);
    if (auto parent = Platform.Registry.OpenKey(Location.Hive, path, kKeyRead | kKeyWow64_64Key)) {
      return parent;
    }
    if (path.empty()) throw Exception(texts::kCannotOpenKey + Location.Path);
  }
}

TSnapshotResult TRegMonitor::ReadAndReport() {
  const TSnapshotResult result =
      TakeSnapshot(*OpenKey, Location, Platform.Text.UpcaseTable(), NewSnapshot);
  if (result == TSnapshotResult::KeyGone) NewSnapshot.Entries.clear();
  ReportNewSnapshot();
  return result;
}

// Reports how NewSnapshot differs from what was last reported, and makes it
// the last reported.
void TRegMonitor::ReportNewSnapshot() {
  std::vector<TChangeRecord> records;
  if (HasOldSnapshot) {
    CompareSnapshots(OldSnapshot, NewSnapshot, CompareContext(), records);
    if (OpenKey &&
        FindPassedOver(*OpenKey, Location, Platform.Text.UpcaseTable(), records, NewSnapshot)) {
      records.clear();
      CompareSnapshots(OldSnapshot, NewSnapshot, CompareContext(), records);
    }
  }
  const bool reported = !records.empty();
  Report(records);
  std::swap(OldSnapshot, NewSnapshot);
  HasOldSnapshot = true;
  // Nothing new reported: the store has this state already.
  if (reported || !Published) PublishState(!reported);
}

// After the records: a state saved never runs ahead of what was queued.
// The first state of a run, reported with no record, still wakes the main
// window, which then saves it.
void TRegMonitor::PublishState(bool wake) {
  if (!States) return;
  States->Publish(StateKeyOf(Location.Hive, Location.Path), OldSnapshot);
  Published = true;
  if (wake) Wake();
}

TCompareContext TRegMonitor::CompareContext() const {
  return {Location.Hive,   Location.Path,     Platform.Text,          Location.Settings,
          Location.Switch, Location.Switches, !Location.Inner.empty()};
}

void TRegMonitor::Arm() {
  const bool subKeysCount = Location.SubKeys;
  const std::uint32_t filter = NotifyFilter() | (subKeysCount ? kNotifyChangeName : 0);
  const long result = OpenKey->NotifyChange(WatchSubTree, filter, *ChangeEvent);
  // A deleted key refuses the arming; the read that follows finds it gone.
  if (result != kErrorSuccess && result != kErrorKeyDeleted) {
    throw Exception(texts::kCannotOpenKey + Location.Path);
  }
}

void TRegMonitor::CloseWatches() {
  Parent.reset();
  OpenKey.reset();
}

TChangeRecord TRegMonitor::NoticeOf(TChangeKind kind, const char* line) const {
  TChangeRecord record;
  record.Kind = kind;
  record.RootKey = Location.Hive;
  record.View = kKeyWow64_64Key;
  record.Location = Location.Path;
  record.Key = std::u16string(Location.Path.begin(), Location.Path.end());
  record.Line = line;
  return record;
}

}  // namespace kw
