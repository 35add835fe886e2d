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
  if (Ancestors.empty()) {
    // "Software", "Software\\Microsoft", ... up to the watched key's parent. Not
    // the hive itself: opening its root hands back the predefined handle,
    // which is no handle of the monitor's own to arm or close.
    const std::string path(SubKeyOf(Location.Path));
    for (std::size_t cut = path.find('\\'); cut != std::string::npos;
         cut = path.find('\\', cut + 1)) {
      Ancestors.push_back(
          {path.substr(0, cut), Platform.Sync.CreateNamedEvent("", true, false), {}});
      if (!Ancestors.back().Event) {
        Ancestors.clear();  // made whole at the next try
        return TOutcome::Failed;
      }
    }
  }
  if (!HaveEvents()) return TOutcome::Failed;
  if (!WaitUntilPresent()) return TOutcome::Stop;
  // The ancestors first, then the key again by its path: a rename between the
  // first open and their arming is then seen. Armed before the first read: a
  // change made while the key is read wakes the first wait.
  ArmAncestors();
  if (!ReopenByPath()) return TOutcome::Gone;
  ChangeEvent->Reset();
  Arm();
  SetWatched(true);
  if (ReadAndReport() == TSnapshotResult::KeyGone) return TOutcome::Gone;
  return WatchChanges();
}

bool TRegMonitorThread::WaitUntilPresent() {
  for (TAncestor& ancestor : Ancestors) ancestor.Key.reset();  // asked anew once the key is there
  for (;;) {
    if (StopRequested()) return false;
    long error = kErrorSuccess;
    OpenKey = OpenLocation(error);
    if (OpenKey) return true;
    if (error != kErrorFileNotFound) throw Exception(texts::kCannotOpenKey + Location.Path);

    // Absent: whatever was reported of it is gone, and all it will hold is new.
    NewSnapshot.Entries.clear();
    ReportNewSnapshot();

    // The nearest existing parent signals when a subkey is made below it. A
    // key renamed into place (another one, or the watched key renamed back)
    // signals only those watching a parent's whole subtree for names.
    std::unique_ptr<IRegKey> parent = OpenNearestParent();
    ChangeEvent->Reset();
    if (parent->NotifyChange(true, kNotifyChangeName, *ChangeEvent) != kErrorSuccess) {
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

// False when nothing is at the path now.
bool TRegMonitorThread::ReopenByPath() {
  OpenKey.reset();  // first: closing it drops whatever it still had armed
  long error = kErrorSuccess;
  OpenKey = OpenLocation(error);
  return OpenKey != nullptr;
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
  std::vector<IEvent*> events{ChangeEvent.get()};
  for (const TAncestor& ancestor : Ancestors) events.push_back(ancestor.Event.get());
  events.push_back(StopEvent.get());
  const std::uint32_t stop = kWaitFirst + static_cast<std::uint32_t>(events.size()) - 1;
  for (;;) {
    const std::uint32_t woken = Platform.Sync.WaitForAny(events);
    if (woken == stop) return TOutcome::Stop;
    if (woken > stop) return TOutcome::Failed;
    // An ancestor's subkeys came, went or were renamed: its own watch is used
    // up, and it may be another key now too. Armed again before the key is
    // opened, so that a rename in between wakes the next wait.
    if (woken != kWaitFirst) ArmAncestors();
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

TCompareContext TRegMonitorThread::CompareContext() const {
  return {Location.Hive,   Location.Path,     Platform.Text,          Location.Settings,
          Location.Switch, Location.Switches, !Location.Inner.empty()};
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

// The registry signals nobody watching a key that is deleted or renamed,
// only those watching its parent for subkey names (Wine signals the renamed
// key itself). Every ancestor is watched so, each on an event of its own, so
// that they are asked again only when one has answered: a request made anew
// on every change of the key would pile up, and closing a handle to drop one
// signals it. All are opened afresh by their paths, as any of them may have
// been renamed; every old handle is closed before any event is reset.
void TRegMonitorThread::ArmAncestors() {
  for (TAncestor& ancestor : Ancestors) ancestor.Key.reset();
  for (TAncestor& ancestor : Ancestors) {
    ancestor.Event->Reset();
    ancestor.Key =
        Platform.Registry.OpenKey(Location.Hive, ancestor.Path, kKeyRead | kKeyWow64_64Key);
    // Without one, its rename is seen at the key's next change; the key
    // itself is still watched.
    if (ancestor.Key) ancestor.Key->NotifyChange(false, kNotifyChangeName, *ancestor.Event);
  }
}

void TRegMonitorThread::CloseWatches() {
  OpenKey.reset();
  for (TAncestor& ancestor : Ancestors) ancestor.Key.reset();
}

TChangeRecord TRegMonitorThread::NoticeOf(TChangeKind kind, const char* line) const {
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
