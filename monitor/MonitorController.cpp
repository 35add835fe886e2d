#include "monitor/MonitorController.h"

#include <utility>

namespace kw {

TMonitorController::TMonitorController(const TMonitorPlatform& platform, WindowHandle notifyWindow,
                                       std::vector<std::string> watchedKeys)
    : Platform(platform),
      NotifyWindow(notifyWindow),
      WatchedKeys(std::move(watchedKeys)),
      Monitors(WatchedKeys.size()) {}

void TMonitorController::StartMonitors(HiveHandle rootKey) {
  FStarted = true;
  StopEvent = Platform.Sync.CreateNamedEvent(kStopEventName, true, false);
  for (std::size_t row = 0; row < WatchedKeys.size(); ++row) {
    auto monitor = std::make_shared<TRegMonitorThread>(Platform);
    Monitors[row].push_back(monitor);
    monitor->SetFreeOnTerminate(true);
    monitor->NotifyWindow = NotifyWindow;
    monitor->Key = WatchedKeys[row];
    monitor->RootKey = rootKey;
    monitor->SetNotifyFilter(kNotifyChangeLastSet);
    monitor->WatchSubTree = true;
    monitor->Index = static_cast<std::int32_t>(row);
    monitor->Resume();  // from here on the monitor owns itself
  }
}

void TMonitorController::StopMonitors() {
  if (!FStarted) return;
  if (StopEvent) StopEvent->Set();
  for (auto& row : Monitors) {
    for (auto& weak : row) {
      if (auto monitor = weak.lock()) monitor->RequestStop();
    }
  }
  FStarted = false;
}

std::vector<std::shared_ptr<TRegMonitorThread>> TMonitorController::RunningMonitors(
    std::size_t row) const {
  std::vector<std::shared_ptr<TRegMonitorThread>> running;
  for (const auto& weak : Monitors[row]) {
    if (auto monitor = weak.lock()) running.push_back(std::move(monitor));
  }
  return running;
}

}  // namespace kw
