#include "monitor/RegMonitorThread.h"

#include "lib/Exception.h"
#include "monitor/ChangeTexts.h"
#include "monitor/RegistryAccess.h"

namespace kw {

TRegMonitorThread::TRegMonitorThread(const TMonitorPlatform& platform,
                                     std::shared_ptr<TChangeQueue> queue,
                                     std::shared_ptr<IEvent> stopEvent)
    : TWatcherThread(platform, std::move(queue), std::move(stopEvent)) {}

std::uint32_t TRegMonitorThread::NotifyFilter() {
  if (FNotifyFilter == 0) FNotifyFilter = 15;
  return FNotifyFilter;
}

void TRegMonitorThread::Execute() {
  // What the key held when the guard last ran: what it holds now is compared
  // with that, so a change made meanwhile is reported at the first read.
  if (States) {
    // With the last run's state unknown, everything found is reported.
    HasOldSnapshot = States->StateOf(StateKeyOf(Location.Hive, Location.Path), OldSnapshot) ||
                     States->FoundIsNewAtStart();
    // A saved state names values as stored; they are folded as the registry here folds them.
    for (TRegEntry& entry : OldSnapshot.Entries) {
      entry.Identity = IdentityOf(Platform.Text.UpcaseTable(), entry.SubKey, entry.Name);
    }
  }
  TWatcherThread::Execute();
}

// Watches while the key is there: Gone when it is deleted.
TRegMonitorThread::TOutcome TRegMonitorThread::Watch() {
  if (!ParentEvent) ParentEvent = Platform.Sync.CreateNamedEvent("", true, false);
  if (!HaveEvents() || !ParentEvent) return TOutcome::Failed;
  if (!WaitUntilPresent()) return TOutcome::Stop;
  // Armed before the first read: a change made while the key is read wakes
  // the first wait.
  ChangeEvent->Reset();
  Arm();
  ArmParent();
  SetWatched(true);
  if (ReadAndReport() == TSnapshotResult::KeyGone) return TOutcome::Gone;
  return WatchChanges();
}

bool TRegMonitorThread::WaitUntilPresent() {
  ParentKey.reset();  // asked anew once the key is there
  for (;;) {
    if (StopRequested()) return false;
    long error = kErrorSuccess;
    OpenKey = OpenLocation(error);
    if (OpenKey) return true;
    if (error != kErrorFileNotFound) throw Exception(texts::kCannotOpenKey + Location.Path);

    // Absent: whatever was reported of it is gone, and all it will hold is new.
    NewSnapshot.Entries.clear();
    ReportNewSnapshot();

    // The nearest existing parent signals when a subkey is made below it.
    std::unique_ptr<IRegKey> parent = OpenNearestParent();
    ChangeEvent->Reset();
    if (parent->NotifyChange(false, kNotifyChangeName, *ChangeEvent) != kErrorSuccess) {
      throw Exception(texts::kCannotOpenKey + Location.Path);
    }
    // Made between the first try and the arming?
    OpenKey = OpenLocation(error);
    if (OpenKey) return true;
    SetWatched(true);
    switch (Platform.Sync.WaitForAny({ChangeEvent.get(), StopEvent.get()})) {
      case kWaitFirst:
        continue;
      case kWaitFirst + 1:
        return false;
      default:
        throw Exception(texts::kCannotOpenKey + Location.Path);
    }
  }
}

std::unique_ptr<IRegKey> TRegMonitorThread::OpenLocation(long& error) {
  return Platform.Registry.OpenKey(Location.Hive, std::string(SubKeyOf(Location.Path)),
                                   kKeyRead | kKeyWow64_64Key, &error);
}

std::unique_ptr<IRegKey> TRegMonitorThread::OpenNearestParent() {
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

TRegMonitorThread::TOutcome TRegMonitorThread::WatchChanges() {
  for (;;) {
    switch (Platform.Sync.WaitForAny({ChangeEvent.get(), ParentEvent.get(), StopEvent.get()})) {
      case kWaitFirst:
        // The signal is one-shot: ask for the next one before reading the
        // key. A change made while this one is read, compared or shown then
        // wakes the next wait at once.
        ChangeEvent->Reset();
        Arm();
        break;
      case kWaitFirst + 1:
        // A subkey of the parent came or went: perhaps the watched key itself.
        ArmParent();
        break;
      case kWaitFirst + 2:
        return TOutcome::Stop;
      default:
        return TOutcome::Failed;
    }
    // A key found empty may have been deleted, and perhaps made again: the
    // handle of a deleted key never sees the new one, so it is opened afresh.
    if (ReadAndReport() == TSnapshotResult::KeyGone || OldSnapshot.Entries.empty()) {
      return TOutcome::Gone;
    }
  }
}

TSnapshotResult TRegMonitorThread::ReadAndReport() {
  const TSnapshotResult result =
      TakeSnapshot(*OpenKey, Location, Platform.Text.UpcaseTable(), NewSnapshot);
  if (result == TSnapshotResult::KeyGone) NewSnapshot.Entries.clear();
  ReportNewSnapshot();
  return result;
}

// Reports how NewSnapshot differs from what was last reported, and makes it
// the last reported.
void TRegMonitorThread::ReportNewSnapshot() {
  std::vector<TChangeRecord> records;
  if (HasOldSnapshot) {
    CompareSnapshots(OldSnapshot, NewSnapshot, CompareContext(), records);
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
void TRegMonitorThread::PublishState(bool wake) {
  if (!States) return;
  States->Publish(StateKeyOf(Location.Hive, Location.Path), OldSnapshot);
  Published = true;
  if (wake) Wake();
}

// Where only named values count, they are settings of Windows, not entries.
TCompareContext TRegMonitorThread::CompareContext() const {
  return {Location.Hive, Location.Path, Platform.Text, !Location.Values.empty()};
}

void TRegMonitorThread::Arm() {
  const bool subKeysCount = Location.SubKeys;
  const std::uint32_t filter = NotifyFilter() | (subKeysCount ? kNotifyChangeName : 0);
  const long result = OpenKey->NotifyChange(WatchSubTree, filter, *ChangeEvent);
  // A deleted key refuses the arming; the read that follows finds it gone.
  if (result != kErrorSuccess && result != kErrorKeyDeleted) {
    throw Exception(texts::kCannotOpenKey + Location.Path);
  }
}

// The registry signals nobody watching a key that is deleted, only those
// watching its parent for subkey names. The parent has an event of its own,
// so that it is asked again only when it has answered: a request made anew
// on every change of the key would pile up, and closing a handle to drop one
// signals it.
void TRegMonitorThread::ArmParent() {
  ParentEvent->Reset();
  if (!ParentKey) {
    std::string parent(SubKeyOf(Location.Path));
    const std::size_t cut = parent.rfind('\\');
    parent.resize(cut == std::string::npos ? 0 : cut);
    ParentKey = Platform.Registry.OpenKey(Location.Hive, parent, kKeyRead | kKeyWow64_64Key);
  }
  // Without it a deletion of the whole key is seen at the key's next change
  // of its parent's or its own; the key itself is still watched.
  if (ParentKey) ParentKey->NotifyChange(false, kNotifyChangeName, *ParentEvent);
}

void TRegMonitorThread::CloseWatches() {
  OpenKey.reset();
  ParentKey.reset();
}

TChangeRecord TRegMonitorThread::NoticeOf(TChangeKind kind, const char* line) const {
  TChangeRecord record;
  record.Kind = kind;
  record.RootKey = Location.Hive;
  record.View = kKeyWow64_64Key;
  record.Location = Location.Path;
  record.Line = line;
  return record;
}

}  // namespace kw
