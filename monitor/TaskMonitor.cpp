#include "monitor/TaskMonitor.h"

#include "lib/Exception.h"
#include "monitor/ChangeTexts.h"
#include "monitor/TaskSnapshot.h"

namespace kw {

namespace {

std::u16string ParentOf(const std::u16string& path) {
  const std::size_t cut = path.rfind(u'\\');
  return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut);
}

}  // namespace

TTaskMonitor::TTaskMonitor(const TMonitorPlatform& platform, std::shared_ptr<TChangeQueue> queue)
    : TWatcher(platform, std::move(queue)) {}

void TTaskMonitor::Starting() {
  if (States) {
    TSavedFolder saved;
    if (States->FolderStateOf(kTasksStateKey, saved)) {
      OldSnapshot = std::move(saved.Snapshot);
      HasOldSnapshot = true;
    } else {
      HasOldSnapshot = States->FoundIsNewAtStart();
    }
  }
}

// Every wake re-arms and reads the whole tree afresh: tasks change rarely.
TTaskMonitor::TOutcome TTaskMonitor::Watch() {
  if (!HaveEvents()) return TOutcome::Failed;
  CloseWatches();
  // Armed before the read: a change made while it runs wakes the next wait.
  ChangeEvent->Reset();
  ArmTasks();
  SetWatched(true);
  ReadAndReport();
  return TOutcome::Waiting;
}

// The folder above for the folder's own making, removal or renaming, then
// the folder's whole tree. Only administrators may change the folder above.
void TTaskMonitor::ArmTasks() {
  IFolders& folders = Platform.Folders;
  auto above = folders.WatchSubfolderNames(ParentOf(Path), *ChangeEvent);
  if (!above) throw Exception(texts::kCannotWatchFolder);
  Watches.push_back(std::move(above));
  if (!folders.FolderExists(Path)) return;  // its making wakes the watch above
  auto tree = folders.WatchTree(Path, *ChangeEvent);
  if (!tree) {
    if (folders.FolderExists(Path)) throw Exception(texts::kCannotWatchFolder);
    return;  // gone meanwhile: the watch above has seen it go
  }
  Watches.push_back(std::move(tree));
}

void TTaskMonitor::ReadAndReport() {
  const TListResult result = TakeTaskSnapshot(Platform.Folders, Path, NewSnapshot);
  if (result == TListResult::Failed) throw Exception(texts::kCannotWatchFolder);
  std::vector<TChangeRecord> records;
  if (HasOldSnapshot) {
    CompareFolderSnapshots(OldSnapshot, NewSnapshot, {Path, Platform.Text}, records);
    ShowAsTasks(records, Platform.Text);
  }
  const bool reported = !records.empty();
  Report(records);
  std::swap(OldSnapshot, NewSnapshot);
  HasOldSnapshot = true;
  if (States && (reported || !Published)) {
    States->PublishFolder(kTasksStateKey, {Path, OldSnapshot});
    if (!reported) Wake();
    Published = true;
  }
}

void TTaskMonitor::CloseWatches() {
  Watches.clear();
}

TChangeRecord TTaskMonitor::NoticeOf(TChangeKind kind, const char* line) const {
  TChangeRecord record;
  record.Kind = kind;
  record.Where = TLocationKind::ScheduledTask;
  record.Location = Platform.Text.ToAnsi(Path);
  record.Key = Path;
  record.Line = line;
  return record;
}

}  // namespace kw
