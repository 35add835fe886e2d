#pragma once
// The scheduled-task monitor: watches the Task Scheduler's folder of task
// definitions, the whole tree of it, and reports a task registered, changed
// or deleted as the folder's files show it. It
// waits for the folder to exist, never creating it. When it cannot watch
// (without administrator rights the folder is closed to it) it says so and
// tries again at growing intervals.

#include <memory>
#include <string>
#include <vector>

#include "monitor/FolderSnapshot.h"
#include "monitor/StateStore.h"
#include "monitor/Watcher.h"

namespace kw {

// The name the tasks' state is kept under beside the startup folders'.
inline constexpr char kTasksStateKey[] = "Scheduled tasks";

class TTaskMonitor final : public TWatcher {
 public:
  // `queue` takes the records.
  TTaskMonitor(const TMonitorPlatform& platform, std::shared_ptr<TChangeQueue> queue);

  // Configuration, written by the controller before its waiting thread starts.
  std::u16string Path;  // the folder of task definitions
  // The state the tasks start from and report to; null keeps none.
  std::shared_ptr<TStateStore> States;

 protected:
  void Starting() override;
  TOutcome Watch() override;
  void CloseWatches() override;
  TChangeRecord NoticeOf(TChangeKind kind, const char* line) const override;

 private:
  void ArmTasks();
  void ReadAndReport();

  std::vector<std::unique_ptr<IFolderWatch>> Watches;
  TFolderSnapshot OldSnapshot;
  TFolderSnapshot NewSnapshot;
  // False until the folder was first read: what it held then is the starting point.
  bool HasOldSnapshot = false;
  bool Published = false;
};

}  // namespace kw
