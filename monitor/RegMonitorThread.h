#pragma once
// A key monitor: watches one registry location on a thread of its own. It
// follows the location's path, never a handle: a key renamed or moved away,
// or one of its ancestors, is no longer the key Windows reads, and what is
// at the path now is what it reports. It waits for the key to exist (watching its nearest existing
// parent, never creating anything), reports what the key holds against what it last reported, goes
// back to waiting when the key is deleted, and says so when it cannot watch, trying again at
// growing intervals. Each record goes to the change queue, followed by a wake-up of the main
// window. With a state store, the state saved at the last run is its starting point, and each state
// it reports is handed to the store.

#include <cstdint>
#include <memory>
#include <string>

#include "monitor/RegSnapshot.h"
#include "monitor/StateStore.h"
#include "monitor/WatchedKeys.h"
#include "monitor/WatcherThread.h"

namespace kw {

class TRegMonitorThread final : public TWatcherThread {
 public:
  // `queue` takes the records; `stopEvent`, set once at exit, ends the monitor.
  TRegMonitorThread(const TMonitorPlatform& platform, std::shared_ptr<TChangeQueue> queue,
                    std::shared_ptr<IEvent> stopEvent);

  // Configuration, written by the controller before Resume.
  TLocation Location;
  bool WatchSubTree = false;
  std::int32_t Index = 0;
  // Where the state last reported is kept between runs; none: every start
  // reads the key silently.
  std::shared_ptr<TStateStore> States;
  // Reading while none was set selects every kind of change (15).
  std::uint32_t NotifyFilter();
  void SetNotifyFilter(std::uint32_t value) { FNotifyFilter = value; }

 protected:
  void Execute() override;
  TOutcome Watch() override;
  void CloseWatches() override;
  TChangeRecord NoticeOf(TChangeKind kind, const char* line) const override;

 private:
  bool WaitUntilPresent();
  std::unique_ptr<IRegKey> OpenLocation(long& error);
  std::unique_ptr<IRegKey> OpenNearestParent();
  TOutcome WatchChanges();
  TSnapshotResult ReadAndReport();
  void ReportNewSnapshot();
  void PublishState(bool wake);
  TCompareContext CompareContext() const;
  bool ReopenByPath();
  void Arm();
  void ArmAncestors();

  // Each key on the way from the hive to the watched key, armed for subkey
  // names on an event of its own: a rename, move or deletion of any of them
  // wakes the monitor, which then finds its key again by its path.
  struct TAncestor {
    std::string Path;
    std::unique_ptr<IEvent> Event;
    std::unique_ptr<IRegKey> Key;  // declared after the event: closed first
  };
  std::vector<TAncestor> Ancestors;
  std::unique_ptr<IRegKey> OpenKey;  // declared after the events: closed first
  // What was last reported of the key; empty while it is absent.
  TRegSnapshot OldSnapshot;
  TRegSnapshot NewSnapshot;
  // False until the key was first read: what it held then is the starting point, not a change.
  bool HasOldSnapshot = false;
  bool Published = false;  // whether the store has this run's state yet
  std::uint32_t FNotifyFilter = 0;
};

}  // namespace kw
