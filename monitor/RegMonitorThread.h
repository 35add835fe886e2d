#pragma once
// A key monitor: watches one registry location on a thread of its own. It
// waits for the key to exist (watching its nearest existing parent, never
// creating anything), reports what the key holds against what it last
// reported, goes back to waiting when the key is deleted, and says so when
// it cannot watch, trying again at growing intervals. Each record goes to
// the change queue, followed by a wake-up of the main window. With a state
// store, the state saved at the last run is its starting point, and each
// state it reports is handed to the store.

#include <cstdint>
#include <memory>
#include <string>

#include "monitor/ChangeQueue.h"
#include "monitor/RegSnapshot.h"
#include "monitor/StateStore.h"
#include "monitor/Thread.h"
#include "monitor/WatchedKeys.h"
#include "platform/Folders.h"
#include "platform/Messenger.h"
#include "platform/Registry.h"
#include "platform/RegistryText.h"
#include "platform/Sync.h"

namespace kw {

// What a monitor needs of the platform. Everything here outlives the monitors.
struct TMonitorPlatform {
  IRegistry& Registry;
  ISync& Sync;
  IMessenger& Messenger;
  const IRegistryText& Text;
  IFolders& Folders;
};

// How long a monitor that cannot watch waits before it tries again: the
// first pause, doubled after each failure up to the longest.
struct TRetryIntervals {
  std::uint32_t FirstMs = 1000;
  std::uint32_t LongestMs = 60000;
};

class TRegMonitorThread final : public TThread {
 public:
  // `queue` takes the records; `stopEvent`, set once at exit, ends the monitor.
  TRegMonitorThread(const TMonitorPlatform& platform, std::shared_ptr<TChangeQueue> queue,
                    std::shared_ptr<IEvent> stopEvent);

  // Configuration, written by the controller before Resume.
  WindowHandle NotifyWindow = 0;
  TLocation Location;
  bool WatchSubTree = false;
  std::int32_t Index = 0;
  TRetryIntervals Retry;
  // Where the state last reported is kept between runs; none: every start
  // reads the key silently.
  std::shared_ptr<TStateStore> States;
  // Reading while none was set selects every kind of change (15).
  std::uint32_t NotifyFilter();
  void SetNotifyFilter(std::uint32_t value) { FNotifyFilter = value; }

 protected:
  void Execute() override;

 private:
  enum class TOutcome { Stop, KeyGone, Failed };

  TOutcome WatchWhilePresent();
  bool WaitUntilPresent();
  std::unique_ptr<IRegKey> OpenLocation(long& error);
  std::unique_ptr<IRegKey> OpenNearestParent();
  TOutcome WatchChanges();
  TSnapshotResult ReadAndReport();
  void ReportNewSnapshot();
  void PublishState(bool wake);
  TCompareContext CompareContext() const;
  void Arm();
  void ArmParent();
  bool PauseBeforeRetry();
  void SetWatched(bool watched);
  void ReportNotice(TChangeKind kind, const char* line);
  void Report(std::vector<TChangeRecord>& records);
  void Wake();

  TMonitorPlatform Platform;
  std::shared_ptr<TChangeQueue> Queue;
  std::shared_ptr<IEvent> StopEvent;
  std::unique_ptr<IEvent> ChangeEvent;
  std::unique_ptr<IEvent> ParentEvent;
  std::unique_ptr<IRegKey> OpenKey;  // declared after the events: closed first
  // The watched key's parent, armed for subkey names on ParentEvent.
  std::unique_ptr<IRegKey> ParentKey;
  // What was last reported of the key; empty while it is absent.
  TRegSnapshot OldSnapshot;
  TRegSnapshot NewSnapshot;
  // False until the key was first read: what it held then is the starting point, not a change.
  bool HasOldSnapshot = false;
  bool Published = false;  // whether the store has this run's state yet
  bool Watching = true;    // false from a failure until watching works again
  std::uint32_t NextPauseMs = 0;
  std::uint32_t FNotifyFilter = 0;
};

}  // namespace kw
