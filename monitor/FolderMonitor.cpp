#include "monitor/FolderMonitor.h"

#include <algorithm>

#include "lib/Exception.h"
#include "monitor/ChangeTexts.h"
#include "monitor/FolderPath.h"

namespace kw {

namespace {

// Where the shell keeps the folder names a user or an administrator may
// change: the user's under HKCU, the common ones under HKLM.
constexpr char kFolderNamesParent[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
constexpr char kFolderNames[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

}  // namespace

TFolderMonitor::TFolderMonitor(const TMonitorPlatform& platform,
                               std::shared_ptr<TChangeQueue> queue)
    : TWatcher(platform, std::move(queue)) {}

// What the folder held when the guard last ran, and where it was then.
void TFolderMonitor::Starting() {
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
}

// Every wake re-arms every signal and reads everything afresh: wakes are
// rare, and no signal then stays armed twice or is left unarmed.
TFolderMonitor::TOutcome TFolderMonitor::Watch() {
  if (!HaveEvents()) return TOutcome::Failed;
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
  return TOutcome::Waiting;
}

// The hive that names the folder, and holds its files' switches.
HiveHandle TFolderMonitor::Hive() const {
  return Folder == TStartupFolder::User ? kHkeyCurrentUser : kHkeyLocalMachine;
}

// A change of the folder's name in the registry wakes the monitor, which
// then asks the shell where the folder is. Where the key is missing, its
// making does.
void TFolderMonitor::ArmFolderNames() {
  const HiveHandle hive = Hive();
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
void TFolderMonitor::FollowFolder(const std::u16string& path) {
  if (HasOldSnapshot && !Path.empty()) {
    std::vector<TChangeRecord> records;
    CompareFolderSnapshots(OldSnapshot, TFolderSnapshot{}, {Path, Platform.Text, Hive()}, records);
    Report(records);
    OldSnapshot.Entries.clear();
  }
  Path = path;
}

// Every folder on the path is watched for the folders in it, from the root
// down, then the folder itself for its files. A handle goes with its folder
// when that or one above it is renamed, so no watch is trusted beyond one
// wake: each folder's rename, removal or making shows in the watch on the
// one above it, armed before that folder was looked at, and the next wake
// opens everything again by path. Where a folder on the path is a link, the
// folders above where it leads are watched as well.
void TFolderMonitor::ArmFolder() {
  const std::vector<std::u16string> chain = FolderChain(Path);
  // A path without a root, or a drive that is not there: tried again later.
  if (chain.empty() || !Platform.Folders.FolderExists(chain.front())) {
    throw Exception(texts::kCannotWatchFolder);
  }
  std::vector<std::u16string> armed;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    const bool folder = i + 1 == chain.size();
    const std::u16string resolved = ResolvedLevel(chain[i]);
    // Missing: its making wakes the watch above it.
    if (resolved.empty()) return;
    if (Folded(resolved) != Folded(chain[i]) && !ArmLinkTarget(chain[i], resolved, armed)) return;
    if (!Arm(chain[i], !folder)) return;
    armed.push_back(Folded(chain[i]));
    armed.push_back(Folded(resolved));
  }
}

// A link on the path (a junction, a mount point) leads elsewhere: the
// folders above where it leads are watched too, from their root down, or
// the path could be broken and mended there unseen. False when the link
// changed meanwhile; the monitor is woken to look again.
bool TFolderMonitor::ArmLinkTarget(const std::u16string& link, const std::u16string& target,
                                   std::vector<std::u16string>& armed) {
  const std::vector<std::u16string> chain = FolderChain(target);
  for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
    std::u16string folded = Folded(chain[i]);
    if (std::find(armed.begin(), armed.end(), folded) != armed.end()) continue;
    if (!Arm(chain[i], true)) break;
    armed.push_back(std::move(folded));
  }
  // Armed before this second look: a change after it wakes the monitor.
  if (Folded(Platform.Folders.ResolvedPath(link)) == Folded(target)) return true;
  ChangeEvent->Set();
  return false;
}

// Where a folder on the path leads; empty when nothing is there. A link
// that leads nowhere (to a folder not there) cannot be watched for where it
// will lead: the user is told, and it is looked at again later.
std::u16string TFolderMonitor::ResolvedLevel(const std::u16string& folder) {
  IFolders& folders = Platform.Folders;
  std::u16string resolved = folders.ResolvedPath(folder);
  if (!resolved.empty() || !folders.FolderExists(folder)) return resolved;
  // Made just now?
  resolved = folders.ResolvedPath(folder);
  if (resolved.empty()) throw Exception(texts::kCannotWatchFolder);
  return resolved;
}

std::u16string TFolderMonitor::Folded(const std::u16string& path) const {
  const char16_t* upcase = Platform.Text.UpcaseTable();
  std::u16string folded = path;
  for (char16_t& unit : folded) unit = upcase[unit];
  return folded;
}

// Arms one watch; false when the folder is not there (any more).
bool TFolderMonitor::Arm(const std::u16string& folder, bool subfolderNamesOnly) {
  IFolders& folders = Platform.Folders;
  if (!folders.FolderExists(folder)) return false;
  auto watch = subfolderNamesOnly ? folders.WatchSubfolderNames(folder, *ChangeEvent)
                                  : folders.WatchFolder(folder, *ChangeEvent);
  if (watch) {
    FolderWatches.push_back(std::move(watch));
    return true;
  }
  // Gone meanwhile: the watch above has seen it go.
  if (!folders.FolderExists(folder)) return false;
  if (!subfolderNamesOnly) throw Exception(texts::kCannotWatchFolder);
  // A folder above that refuses a watch (one the user may pass through but
  // not list): a rename in it goes unseen, but the folders below it are
  // still watched rather than none.
  return true;
}

void TFolderMonitor::ReadAndReport() {
  const TListResult result = TakeFolderSnapshot(Platform.Folders, Path, NewSnapshot);
  if (result == TListResult::Failed) throw Exception(texts::kCannotWatchFolder);
  std::vector<TChangeRecord> records;
  if (HasOldSnapshot) {
    CompareFolderSnapshots(OldSnapshot, NewSnapshot, {Path, Platform.Text, Hive()}, records);
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

void TFolderMonitor::CloseWatches() {
  FolderWatches.clear();
  FolderNamesKey.reset();
}

TChangeRecord TFolderMonitor::NoticeOf(TChangeKind kind, const char* line) const {
  TChangeRecord record;
  record.Kind = kind;
  record.Where = TLocationKind::StartupFolder;
  record.Location = Platform.Text.ToAnsi(Path);
  record.Key = Path;
  record.Line = line;
  return record;
}

}  // namespace kw
