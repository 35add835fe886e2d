#pragma once
// Starts a key monitor for every watched location under a hive, a monitor
// for each startup folder and one for the scheduled tasks, and stops them
// all. The monitors share a few waiting threads, each waiting for as many as
// one wait can take. Owned by the main window, which gives the table and
// takes the records from the queue.
//
// Waiting threads free themselves, and their monitors, when they end, so the
// controller keeps weak references: a monitor that has ended is passed over
// without being touched. The queue and the stop event are shared with the
// monitors, which may outlive the controller.

#include <memory>
#include <string>
#include <vector>

#include "monitor/ChangeQueue.h"
#include "monitor/FolderMonitor.h"
#include "monitor/RegMonitor.h"
#include "monitor/TaskMonitor.h"
#include "monitor/WaitingThread.h"

namespace kw {

// Waiting threads for key monitors of one hive, each with the watch of its
// monitors' ancestors: as many monitors on a thread as one wait takes, in
// order. Not started.
std::vector<std::shared_ptr<TWaitingThread>> KeyMonitorThreads(
    const TMonitorPlatform& platform, const std::shared_ptr<IEvent>& stopEvent,
    const std::vector<std::shared_ptr<TRegMonitor>>& monitors);

class TMonitorController {
 public:
  TMonitorController(const TMonitorPlatform& platform, WindowHandle notifyWindow,
                     std::vector<TLocation> locations,
                     std::shared_ptr<TChangeQueue> queue = std::make_shared<TChangeQueue>());

  // One monitor per row of the table under `rootKey`, begun in row order.
  void StartMonitors(HiveHandle rootKey);
  // One monitor for the user's startup folder, one for the common one, and
  // one for the scheduled tasks where the system names their folder.
  void StartFolderMonitors();
  // Signals the stop event, then asks every waiting thread still running to
  // end. Does not wait for any of them.
  void StopMonitors();

  bool Started() const { return FStarted; }
  // The monitors of a row that are still running, in the order they were started.
  std::vector<std::shared_ptr<TRegMonitor>> RunningMonitors(std::size_t row) const;
  // The waiting threads still running, which every monitor runs on.
  std::size_t RunningThreads() const;
  // The folder monitors still running, in the order they were started.
  std::vector<std::shared_ptr<TFolderMonitor>> RunningFolderMonitors() const;
  std::size_t RowCount() const { return Locations.size(); }
  const std::vector<TLocation>& WatchedLocations() const { return Locations; }
  // Where the monitors put their records for the main window.
  TChangeQueue& Queue() { return *FQueue; }
  // Before StartMonitors: how long a monitor that cannot watch waits to try again.
  TRetryIntervals Retry;
  // Before StartMonitors: the state each location starts from and reports to.
  std::shared_ptr<TStateStore> States;

 private:
  TMonitorPlatform Platform;
  WindowHandle NotifyWindow;
  std::vector<TLocation> Locations;
  std::vector<std::vector<std::weak_ptr<TRegMonitor>>> Monitors;  // per row
  std::vector<std::weak_ptr<TFolderMonitor>> FolderMonitors;
  std::vector<std::weak_ptr<TWaitingThread>> Threads;
  std::shared_ptr<TChangeQueue> FQueue;
  std::shared_ptr<TTaskMonitor> MakeTaskMonitor();
  void Start(const std::vector<std::shared_ptr<TWaitingThread>>& threads);

  std::shared_ptr<IEvent> StopEvent;
  bool FStarted = false;
};

}  // namespace kw
