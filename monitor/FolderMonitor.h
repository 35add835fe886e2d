#pragma once
// A startup-folder monitor: watches one startup folder as the shell names
// the folder now, on the waiting thread it shares with other watchers. It
// follows the folder's path, not the folder: whatever is renamed, moved,
// removed or made along that path, it reports what the folder at the path
// holds against what it last reported. It waits for the folder to exist (never creating anything),
// and follows the folder when the shell's folder names in the registry point it elsewhere. When it
// cannot watch it says so and tries again at growing intervals. Each record goes to the change
// queue, followed by a wake-up of the main window.

#include <memory>
#include <string>
#include <vector>

#include "monitor/FolderSnapshot.h"
#include "monitor/StateStore.h"
#include "monitor/Watcher.h"

namespace kw {

class TFolderMonitor final : public TWatcher {
 public:
  // `queue` takes the records.
  TFolderMonitor(const TMonitorPlatform& platform, std::shared_ptr<TChangeQueue> queue);

  // Configuration, written by the controller before its waiting thread starts.
  TStartupFolder Folder = TStartupFolder::User;
  // The state the folder starts from and reports to; null keeps none.
  std::shared_ptr<TStateStore> States;

 protected:
  void Starting() override;
  TOutcome Watch() override;
  void CloseWatches() override;
  TChangeRecord NoticeOf(TChangeKind kind, const char* line) const override;

 private:
  void ArmFolderNames();
  void FollowFolder(const std::u16string& path);
  HiveHandle Hive() const;
  void ArmFolder();
  std::u16string ResolvedLevel(const std::u16string& folder);
  bool ArmLinkTarget(const std::u16string& link, const std::u16string& target,
                     std::vector<std::u16string>& armed);
  bool Arm(const std::u16string& folder, bool subfolderNamesOnly);
  // For telling paths apart as the file system does: case-insensitive, ordinal.
  std::u16string Folded(const std::u16string& path) const;
  void ReadAndReport();

  // Declared after the change event: cancelled first.
  std::unique_ptr<IRegKey> FolderNamesKey;
  std::vector<std::unique_ptr<IFolderWatch>> FolderWatches;
  // The folder last reported; empty until the shell first named one.
  std::u16string Path;
  // What was last reported of the folder; empty while it is absent.
  TFolderSnapshot OldSnapshot;
  TFolderSnapshot NewSnapshot;
  // False until the folder was first read: what it held then is the starting point.
  bool HasOldSnapshot = false;
  bool Published = false;
};

}  // namespace kw
