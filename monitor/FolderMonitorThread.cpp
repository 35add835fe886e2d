#include "monitor/FolderMonitorThread.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "lib/Exception.h"
#include "monitor/ChangeTexts.h"

namespace kw {

namespace {

// Where the shell keeps the folder names a user or an administrator may
// change: the user's under HKCU, the common ones under HKLM.
constexpr char kFolderNamesParent[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
constexpr char kFolderNames[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

}  // namespace

TFolderMonitorThread::TFolderMonitorThread(const TMonitorPlatform& platform,
                                           std::shared_ptr<TChangeQueue> queue,
                                           std::shared_ptr<IEvent> stopEvent)
    : Platform(platform), Queue(std::move(queue)), StopEvent(std::move(stopEvent)) {}

void TFolderMonitorThread::Execute() {
  const std::unique_ptr<IThreadSetup> setup = Platform.Folders.SetUpThread();
  NextPauseMs = Retry.FirstMs;
  for (;;) {
    TOutcome outcome = TOutcome::Failed;
    try {
      outcome = WatchFolder();
    } catch (const std::exception&) {
      // Refused access, a folder name the shell cannot give, a failed wait:
      // the folder is not watched now, which the user must know.
    }
    if (outcome == TOutcome::Stop) break;
    SetWatched(false);
    if (!PauseBeforeRetry()) break;
  }
  // Cancelled on the thread that armed them, while its setup still holds.
  Watch.reset();
  FolderNamesKey.reset();
  ReportNotice(TChangeKind::Stopped, texts::kMonitoringStopped);
}

// Every wake re-arms every signal and reads everything afresh: wakes are
// rare, and no signal then stays armed twice or is left unarmed.
TFolderMonitorThread::TOutcome TFolderMonitorThread::WatchFolder() {
  if (!ChangeEvent) ChangeEvent = Platform.Sync.CreateNamedEvent("", true, false);
  if (!ChangeEvent || !StopEvent) return TOutcome::Failed;
  for (;;) {
    if (StopRequested()) return TOutcome::Stop;
    Watch.reset();
    FolderNamesKey.reset();
    // Armed before the reads: a change made while they run wakes the next wait.
    ChangeEvent->Reset();
    ArmFolderNames();
    const std::u16string path = Platform.Folders.StartupFolderPath(Folder);
    if (path.empty()) throw Exception(texts::kCannotWatchFolder);
    if (path != Path) FollowFolder(path);
    ArmFolder();
    SetWatched(true);
    NextPauseMs = Retry.FirstMs;
    ReadAndReport();
    switch (Wait()) {
      case kWaitFirst:
        continue;
      case kWaitSecond:
        return TOutcome::Stop;
      default:
        return TOutcome::Failed;
    }
  }
}

// A change of the folder's name in the registry wakes the monitor, which
// then asks the shell where the folder is. Where the key is missing, its
// making does.
void TFolderMonitorThread::ArmFolderNames() {
  const HiveHandle hive = Folder == TStartupFolder::User ? kHkeyCurrentUser : kHkeyLocalMachine;
  FolderNamesKey = Platform.Registry.OpenKey(hive, kFolderNames, kKeyRead | kKeyWow64_64Key);
  if (!FolderNamesKey) {
    FolderNamesKey =
        Platform.Registry.OpenKey(hive, kFolderNamesParent, kKeyRead | kKeyWow64_64Key);
  }
  // With neither key the shell uses its own default names, which nothing changes.
  if (!FolderNamesKey) return;
  const long result =
      FolderNamesKey->NotifyChange(false, kNotifyChangeLastSet | kNotifyChangeName, *ChangeEvent);
  if (result != kErrorSuccess) throw Exception(texts::kCannotWatchFolder);
}

// The shell names another folder: what the old one holds starts no more,
// and all the new one holds starts from now on.
void TFolderMonitorThread::FollowFolder(const std::u16string& path) {
  if (HasOldSnapshot && !Path.empty()) {
    std::vector<TChangeRecord> records;
    CompareFolderSnapshots(OldSnapshot, TFolderSnapshot{}, {Path, Platform.Text}, records);
    Report(records);
    OldSnapshot.Entries.clear();
  }
  Path = path;
}

void TFolderMonitorThread::ArmFolder() {
  IFolders& folders = Platform.Folders;
  if (!folders.FolderExists(Path)) {
    // The nearest existing parent signals when a folder is made below it.
    Watch = folders.WatchFolder(NearestExistingParent(), *ChangeEvent);
    if (!Watch) throw Exception(texts::kCannotWatchFolder);
    // Made between the look and the arming? Then it is watched itself.
    if (!folders.FolderExists(Path)) return;
  }
  Watch = folders.WatchFolder(Path, *ChangeEvent);
  if (!Watch) throw Exception(texts::kCannotWatchFolder);
}

std::u16string TFolderMonitorThread::NearestExistingParent() const {
  std::u16string path = Path;
  for (;;) {
    const std::size_t cut = path.find_last_of(u'\\');
    if (cut == std::u16string::npos) throw Exception(texts::kCannotWatchFolder);
    // "C:" names the current folder of the drive; "C:\" is its root.
    path.resize(cut > 0 && path[cut - 1] == u':' ? cut + 1 : cut);
    if (Platform.Folders.FolderExists(path)) return path;
    if (path.empty() || path.back() == u'\\') throw Exception(texts::kCannotWatchFolder);
  }
}

void TFolderMonitorThread::ReadAndReport() {
  const TListResult result = TakeFolderSnapshot(Platform.Folders, Path, NewSnapshot);
  if (result == TListResult::Failed) throw Exception(texts::kCannotWatchFolder);
  if (HasOldSnapshot) {
    std::vector<TChangeRecord> records;
    CompareFolderSnapshots(OldSnapshot, NewSnapshot, {Path, Platform.Text}, records);
    Report(records);
  }
  std::swap(OldSnapshot, NewSnapshot);
  HasOldSnapshot = true;
}

std::uint32_t TFolderMonitorThread::Wait(std::uint32_t timeoutMs) {
  return Platform.Sync.WaitForAny({ChangeEvent.get(), StopEvent.get()}, timeoutMs);
}

bool TFolderMonitorThread::PauseBeforeRetry() {
  Watch.reset();
  FolderNamesKey.reset();
  if (ChangeEvent) ChangeEvent->Reset();
  const std::uint32_t pause = NextPauseMs;
  NextPauseMs = std::min(NextPauseMs * 2, std::max(Retry.LongestMs, Retry.FirstMs));
  const std::uint32_t result = Wait(pause);
  // Without events there is nothing to wait on; sleeping keeps the retries apart.
  if (result == kWaitFailed) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
  return result != kWaitSecond && !StopRequested();
}

void TFolderMonitorThread::SetWatched(bool watched) {
  if (watched == Watching) return;
  Watching = watched;
  ReportNotice(watched ? TChangeKind::WatchedAgain : TChangeKind::NotWatched,
               watched ? texts::kWatchedAgain : texts::kNotWatched);
}

void TFolderMonitorThread::ReportNotice(TChangeKind kind, const char* line) {
  std::vector<TChangeRecord> records(1);
  TChangeRecord& record = records.front();
  record.Kind = kind;
  record.Where = TLocationKind::StartupFolder;
  record.Location = Platform.Text.ToAnsi(Path);
  record.Line = line;
  Report(records);
}

void TFolderMonitorThread::Report(std::vector<TChangeRecord>& records) {
  if (records.empty()) return;
  Queue->Append(records);
  // A window that is gone makes the send fail at once; its records wait in
  // the queue, which drops the oldest when nobody takes them.
  Platform.Messenger.Send(NotifyWindow, WM_REGCHANGE, 0, 0);
}

}  // namespace kw
