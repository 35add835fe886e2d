#pragma once
// A key monitor: watches one registry location, on the waiting thread it
// shares with other watchers. It follows the location's path, never a
// handle: a key renamed or moved away, or one of its ancestors, is no longer
// the key Windows reads, and what is at the path now is what it reports. It
// waits for the key to exist (watching its nearest existing parent, never
// creating anything), reports what the key holds against what it last
// reported, goes back to waiting when the key is deleted, and says so when it
// cannot watch, trying again at growing intervals. Each record goes to the
// change queue, followed by a wake-up of the main window. With a state
// store, the state saved at the last run is its starting point, and each
// state it reports is handed to the store.

#include <cstdint>
#include <memory>
#include <string>

#include "monitor/RegSnapshot.h"
#include "monitor/StateStore.h"
#include "monitor/WatchedKeys.h"
#include "monitor/Watcher.h"

namespace kw {

class TRegMonitor final : public TWatcher {
 public:
  // `queue` takes the records.
  TRegMonitor(const TMonitorPlatform& platform, std::shared_ptr<TChangeQueue> queue);

  // Configuration, written by the controller before its waiting thread starts.
  TLocation Location;
  bool WatchSubTree = false;
  std::int32_t Index = 0;
  // Where the state last reported is kept between runs; none: every start
  // reads the key silently.
  std::shared_ptr<TStateStore> States;
  // Reading while none was set selects every kind of change (15).
  std::uint32_t NotifyFilter();
  void SetNotifyFilter(std::uint32_t value) { FNotifyFilter = value; }

  // The keys on the way from the hive to the watched key, below the hive
  // itself, from the top: "Software", "Software\\Microsoft", ... Their
  // renames, moves and deletions are watched for it (TAncestorWatch).
  std::vector<std::string> AncestorPaths() const;
  // One of them had its subkeys renamed, made or deleted: the key at the
  // path may be another one now, or none. On its waiting thread alone.
  void AncestorChanged();

 protected:
  void Starting() override;
  TOutcome Watch() override;
  TOutcome Woken(std::size_t which) override;
  void CloseWatches() override;
  TChangeRecord NoticeOf(TChangeKind kind, const char* line) const override;

 private:
  TOutcome WatchPresentKey();
  std::unique_ptr<IRegKey> OpenLocation(long& error);
  std::unique_ptr<IRegKey> OpenNearestParent();
  TSnapshotResult ReadAndReport();
  void ReportNewSnapshot();
  void PublishState(bool wake);
  TCompareContext CompareContext() const;
  bool ReopenByPath();
  void Arm();

  std::unique_ptr<IRegKey> OpenKey;  // declared after the change event: closed first
  // While the key is absent: its nearest existing parent, armed for the
  // key's making. Null while the key is there.
  std::unique_ptr<IRegKey> Parent;
  // What was last reported of the key; empty while it is absent.
  TRegSnapshot OldSnapshot;
  TRegSnapshot NewSnapshot;
  // False until the key was first read: what it held then is the starting point, not a change.
  bool HasOldSnapshot = false;
  bool Published = false;  // whether the store has this run's state yet
  std::uint32_t FNotifyFilter = 0;
};

}  // namespace kw
