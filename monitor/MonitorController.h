#pragma once
// Starts a key monitor for every watched location under a hive, a monitor
// for each startup folder and one for the scheduled tasks, and stops them all. Owned by the main
// window, which gives the table and takes the records from the queue.
//
// Monitors free themselves when they end, so the controller keeps weak
// references: a monitor that has ended is passed over without being touched.
// The queue and the stop event are shared with the monitors, which may
// outlive the controller.

#include <memory>
#include <string>
#include <vector>

#include "monitor/ChangeQueue.h"
#include "monitor/FolderMonitorThread.h"
#include "monitor/RegMonitorThread.h"
#include "monitor/TaskMonitorThread.h"

namespace kw {

class TMonitorController {
 public:
  TMonitorController(const TMonitorPlatform& platform, WindowHandle notifyWindow,
                     std::vector<TLocation> locations,
                     std::shared_ptr<TChangeQueue> queue = std::make_shared<TChangeQueue>());

  // One monitor per row of the table under `rootKey`, started in row order.
  void StartMonitors(HiveHandle rootKey);
  // One monitor for the user's startup folder, one for the common one, and
  // one for the scheduled tasks where the system names their folder.
  void StartFolderMonitors();
  // Signals the stop event, then asks every monitor still running to end.
  // Does not wait for any of them.
  void StopMonitors();

  bool Started() const { return FStarted; }
  // The monitors of a row that are still running, in the order they were started.
  std::vector<std::shared_ptr<TRegMonitorThread>> RunningMonitors(std::size_t row) const;
  // The folder monitors still running, in the order they were started.
  std::vector<std::shared_ptr<TFolderMonitorThread>> RunningFolderMonitors() const;
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
  std::vector<std::vector<std::weak_ptr<TRegMonitorThread>>> Monitors;  // per row
  std::vector<std::weak_ptr<TFolderMonitorThread>> FolderMonitors;
  std::weak_ptr<TTaskMonitorThread> TaskMonitor;
  std::shared_ptr<TChangeQueue> FQueue;
  void StartTaskMonitor();

  std::shared_ptr<IEvent> StopEvent;
  bool FStarted = false;
};

}  // namespace kw
