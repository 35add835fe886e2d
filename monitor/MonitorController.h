#pragma once
// Starts a key monitor for every watched key under a hive and stops them all.
// Owned by the main window, which gives the table and receives the notices.
//
// Monitors free themselves when they end, so the controller keeps weak
// references: a monitor that has ended is passed over without being touched.

#include <memory>
#include <string>
#include <vector>

#include "monitor/RegMonitorThread.h"

namespace kw {

class TMonitorController {
 public:
  TMonitorController(const TMonitorPlatform& platform, WindowHandle notifyWindow,
                     std::vector<std::string> watchedKeys);

  // One monitor per row of the table for `rootKey`, started in row order.
  void StartMonitors(HiveHandle rootKey);
  // Signals the stop event, then asks every monitor still running to end.
  // Does not wait for any of them.
  void StopMonitors();

  bool Started() const { return FStarted; }
  // The monitors of a row that are still running, in the order they were started.
  std::vector<std::shared_ptr<TRegMonitorThread>> RunningMonitors(std::size_t row) const;
  std::size_t RowCount() const { return WatchedKeys.size(); }

 private:
  TMonitorPlatform Platform;
  WindowHandle NotifyWindow;
  std::vector<std::string> WatchedKeys;
  std::vector<std::vector<std::weak_ptr<TRegMonitorThread>>> Monitors;  // per row
  std::unique_ptr<IEvent> StopEvent;
  bool FStarted = false;
};

}  // namespace kw
