#include "monitor/FolderMonitorThread.h"

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
    : TWatcherThread(platform, std::move(queue), std::move(stopEvent)) {}

// The thread's setup (COM, for shortcuts) holds until the watches are
// cancelled, on the thread that armed them.
void TFolderMonitorThread::Execute() {
  const std::unique_ptr<IThreadSetup> setup = Platform.Folders.SetUpThread();
  // What the folder held when the guard last ran, and where it was then.
  if (States) {
    TSavedFolder saved;
    if (States->FolderStateOf(FolderStateKeyOf(Folder), saved)) {
      Path = std::move(saved.Path);
      OldSnapshot = std::move(saved.Snapshot);
      HasOldSnapshot = true;
    } else {
      HasOldSnapshot = States->FoundIsNewAtStart();
    }
  }
  TWatcherThread::Execute();
}

// Every wake re-arms every signal and reads everything afresh: wakes are
// rare, and no signal then stays armed twice or is left unarmed.
TFolderMonitorThread::TOutcome TFolderMonitorThread::Watch() {
  if (!HaveEvents()) return TOutcome::Failed;
  for (;;) {
    if (StopRequested()) return TOutcome::Stop;
    CloseWatches();
    // Armed before the reads: a change made while they run wakes the next wait.
    ChangeEvent->Reset();
    ArmFolderNames();
    const std::u16string path = Platform.Folders.StartupFolderPath(Folder);
    if (path.empty()) throw Exception(texts::kCannotWatchFolder);
    if (path != Path) FollowFolder(path);
    ArmFolder();
    SetWatched(true);
    ReadAndReport();
    switch (Platform.Sync.WaitForAny({ChangeEvent.get(), StopEvent.get()})) {
      case kWaitFirst:
        continue;
      case kWaitFirst + 1:
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
    FolderWatch = folders.WatchFolder(NearestExistingParent(), *ChangeEvent);
    if (!FolderWatch) throw Exception(texts::kCannotWatchFolder);
    // Made between the look and the arming? Then it is watched itself.
    if (!folders.FolderExists(Path)) return;
  }
  FolderWatch = folders.WatchFolder(Path, *ChangeEvent);
  if (!FolderWatch) throw Exception(texts::kCannotWatchFolder);
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
  std::vector<TChangeRecord> records;
  if (HasOldSnapshot) {
    CompareFolderSnapshots(OldSnapshot, NewSnapshot, {Path, Platform.Text}, records);
  }
  const bool reported = !records.empty();
  Report(records);
  std::swap(OldSnapshot, NewSnapshot);
  HasOldSnapshot = true;
  // After the records, as a key's state; the first one wakes the main window to save it.
  if (States && (reported || !Published)) {
    States->PublishFolder(FolderStateKeyOf(Folder), {Path, OldSnapshot});
    if (!reported) Wake();
    Published = true;
  }
}

void TFolderMonitorThread::CloseWatches() {
  FolderWatch.reset();
  FolderNamesKey.reset();
}

TChangeRecord TFolderMonitorThread::NoticeOf(TChangeKind kind, const char* line) const {
  TChangeRecord record;
  record.Kind = kind;
  record.Where = TLocationKind::StartupFolder;
  record.Location = Platform.Text.ToAnsi(Path);
  record.Line = line;
  return record;
}

}  // namespace kw
