#pragma once
// A startup-folder monitor: watches one startup folder on a thread of its
// own, as the shell names the folder now. It waits for the folder to exist
// (watching its nearest existing parent, never creating anything), reports
// the files added, removed or replaced against what it last reported, and
// follows the folder when the shell's folder names in the registry point it
// elsewhere. When it cannot watch it says so and tries again at growing
// intervals. Each record goes to the change queue, followed by a wake-up of
// the main window.

#include <memory>
#include <string>

#include "monitor/ChangeQueue.h"
#include "monitor/FolderSnapshot.h"
#include "monitor/RegMonitorThread.h"
#include "monitor/Thread.h"
#include "platform/Folders.h"

namespace kw {

class TFolderMonitorThread final : public TThread {
 public:
  // `queue` takes the records; `stopEvent`, set once at exit, ends the monitor.
  TFolderMonitorThread(const TMonitorPlatform& platform, std::shared_ptr<TChangeQueue> queue,
                       std::shared_ptr<IEvent> stopEvent);

  // Configuration, written by the controller before Resume.
  WindowHandle NotifyWindow = 0;
  TStartupFolder Folder = TStartupFolder::User;
  TRetryIntervals Retry;

 protected:
  void Execute() override;

 private:
  enum class TOutcome { Stop, Failed };

  TOutcome WatchFolder();
  void ArmFolderNames();
  void FollowFolder(const std::u16string& path);
  void ArmFolder();
  std::u16string NearestExistingParent() const;
  void ReadAndReport();
  std::uint32_t Wait(std::uint32_t timeoutMs = kInfinite);
  bool PauseBeforeRetry();
  void SetWatched(bool watched);
  void ReportNotice(TChangeKind kind, const char* line);
  void Report(std::vector<TChangeRecord>& records);

  TMonitorPlatform Platform;
  std::shared_ptr<TChangeQueue> Queue;
  std::shared_ptr<IEvent> StopEvent;
  std::unique_ptr<IEvent> ChangeEvent;
  // Declared after the event: cancelled first.
  std::unique_ptr<IRegKey> FolderNamesKey;
  std::unique_ptr<IFolderWatch> Watch;
  // The folder last reported; empty until the shell first named one.
  std::u16string Path;
  // What was last reported of the folder; empty while it is absent.
  TFolderSnapshot OldSnapshot;
  TFolderSnapshot NewSnapshot;
  // False until the folder was first read: what it held then is the starting point.
  bool HasOldSnapshot = false;
  bool Watching = true;  // false from a failure until watching works again
  std::uint32_t NextPauseMs = 0;
};

}  // namespace kw
