#include "monitor/RegMonitorThread.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "lib/Exception.h"
#include "monitor/ChangeTexts.h"
#include "monitor/RegistryAccess.h"

namespace kw {

TRegMonitorThread::TRegMonitorThread(const TMonitorPlatform& platform,
                                     std::shared_ptr<TChangeQueue> queue,
                                     std::shared_ptr<IEvent> stopEvent)
    : Platform(platform), Queue(std::move(queue)), StopEvent(std::move(stopEvent)) {}

std::uint32_t TRegMonitorThread::NotifyFilter() {
  if (FNotifyFilter == 0) FNotifyFilter = 15;
  return FNotifyFilter;
}

void TRegMonitorThread::Execute() {
  NextPauseMs = Retry.FirstMs;
  for (;;) {
    TOutcome outcome = TOutcome::Failed;
    try {
      outcome = WatchWhilePresent();
    } catch (const std::exception&) {
      // Refused access, a failed wait, memory exhausted by a huge value: the
      // location is not watched now, which the user must know.
    }
    if (outcome == TOutcome::Stop) break;
    if (outcome == TOutcome::Failed) {
      SetWatched(false);
      if (!PauseBeforeRetry()) break;
    }
  }
  ReportNotice(TChangeKind::Stopped, texts::kMonitoringStopped);
}

TRegMonitorThread::TOutcome TRegMonitorThread::WatchWhilePresent() {
  if (!ChangeEvent) ChangeEvent = Platform.Sync.CreateNamedEvent("", true, false);
  if (!ChangeEvent || !StopEvent) return TOutcome::Failed;
  if (!WaitUntilPresent()) return TOutcome::Stop;
  // Armed before the first read: a change made while the key is read wakes
  // the first wait.
  ChangeEvent->Reset();
  Arm();
  SetWatched(true);
  NextPauseMs = Retry.FirstMs;
  if (ReadAndReport() == TSnapshotResult::KeyGone) return TOutcome::KeyGone;
  return WatchChanges();
}

bool TRegMonitorThread::WaitUntilPresent() {
  for (;;) {
    if (StopRequested()) return false;
    long error = kErrorSuccess;
    OpenKey = OpenLocation(error);
    if (OpenKey) return true;
    if (error != kErrorFileNotFound) throw Exception(texts::kCannotOpenKey + Location.Path);

    // Absent: whatever was reported of it is gone, and all it will hold is new.
    NewSnapshot.Entries.clear();
    if (HasOldSnapshot) {
      std::vector<TChangeRecord> records;
      CompareSnapshots(OldSnapshot, NewSnapshot, {Location.Hive, Location.Path, Platform.Text},
                       records);
      Report(records);
    }
    OldSnapshot.Entries.clear();
    HasOldSnapshot = true;

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
    switch (Wait()) {
      case kWaitFirst:
        continue;
      case kWaitSecond:
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
    switch (Wait()) {
      case kWaitFirst:
        // The signal is one-shot: ask for the next one before reading the
        // key. A change made while this one is read, compared or shown then
        // wakes the next wait at once.
        ChangeEvent->Reset();
        Arm();
        // A key found empty may have been deleted, and perhaps made again:
        // the handle of a deleted key never sees the new one, so it is
        // opened afresh.
        if (ReadAndReport() == TSnapshotResult::KeyGone || OldSnapshot.Entries.empty()) {
          return TOutcome::KeyGone;
        }
        break;
      case kWaitSecond:
        return TOutcome::Stop;
      default:
        return TOutcome::Failed;
    }
  }
}

TSnapshotResult TRegMonitorThread::ReadAndReport() {
  const TSnapshotResult result =
      TakeSnapshot(*OpenKey, Location, Platform.Text.UpcaseTable(), NewSnapshot);
  if (result == TSnapshotResult::KeyGone) NewSnapshot.Entries.clear();
  if (HasOldSnapshot) {
    std::vector<TChangeRecord> records;
    CompareSnapshots(OldSnapshot, NewSnapshot, {Location.Hive, Location.Path, Platform.Text},
                     records);
    Report(records);
  }
  std::swap(OldSnapshot, NewSnapshot);
  HasOldSnapshot = true;
  return result;
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

std::uint32_t TRegMonitorThread::Wait(std::uint32_t timeoutMs) {
  return Platform.Sync.WaitForEither(ChangeEvent.get(), StopEvent.get(), timeoutMs);
}

bool TRegMonitorThread::PauseBeforeRetry() {
  OpenKey.reset();
  if (ChangeEvent) ChangeEvent->Reset();
  const std::uint32_t pause = NextPauseMs;
  NextPauseMs = std::min(NextPauseMs * 2, std::max(Retry.LongestMs, Retry.FirstMs));
  const std::uint32_t result = Wait(pause);
  // Without events there is nothing to wait on; sleeping keeps the retries apart.
  if (result == kWaitFailed) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
  return result != kWaitSecond && !StopRequested();
}

void TRegMonitorThread::SetWatched(bool watched) {
  if (watched == Watching) return;
  Watching = watched;
  ReportNotice(watched ? TChangeKind::WatchedAgain : TChangeKind::NotWatched,
               watched ? texts::kWatchedAgain : texts::kNotWatched);
}

void TRegMonitorThread::ReportNotice(TChangeKind kind, const char* line) {
  std::vector<TChangeRecord> records(1);
  TChangeRecord& record = records.front();
  record.Kind = kind;
  record.RootKey = Location.Hive;
  record.View = kKeyWow64_64Key;
  record.Location = Location.Path;
  record.Line = line;
  Report(records);
}

void TRegMonitorThread::Report(std::vector<TChangeRecord>& records) {
  if (records.empty()) return;
  Queue->Append(records);
  // A window that is gone makes the send fail at once; its records wait in
  // the queue, which drops the oldest when nobody takes them.
  Platform.Messenger.Send(NotifyWindow, WM_REGCHANGE, 0, 0);
}

}  // namespace kw
