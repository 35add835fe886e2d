#include "monitor/MonitorController.h"

#include <utility>

namespace kw {

TMonitorController::TMonitorController(const TMonitorPlatform& platform, WindowHandle notifyWindow,
                                       std::vector<TLocation> locations,
                                       std::shared_ptr<TChangeQueue> queue)
    : Platform(platform),
      NotifyWindow(notifyWindow),
      Locations(std::move(locations)),
      Monitors(Locations.size()),
      FQueue(std::move(queue)) {}

void TMonitorController::StartMonitors(HiveHandle rootKey) {
  FStarted = true;
  // Unnamed: no other program can set it, reset it, or hold its name first.
  if (!StopEvent) StopEvent = Platform.Sync.CreateNamedEvent("", true, false);
  for (std::size_t row = 0; row < Locations.size(); ++row) {
    if (Locations[row].Hive != rootKey) continue;
    auto monitor = std::make_shared<TRegMonitorThread>(Platform, FQueue, StopEvent);
    Monitors[row].push_back(monitor);
    monitor->SetFreeOnTerminate(true);
    monitor->NotifyWindow = NotifyWindow;
    monitor->Location = Locations[row];
    monitor->SetNotifyFilter(kNotifyChangeLastSet);
    // Where only some values count, the key's subkeys are none of its
    // business, unless their values count.
    monitor->WatchSubTree = Locations[row].Values.empty() || Locations[row].SubKeys;
    monitor->Index = static_cast<std::int32_t>(row);
    monitor->Retry = Retry;
    monitor->States = States;
    monitor->Resume();  // from here on the monitor owns itself
  }
}

void TMonitorController::StartFolderMonitors() {
  FStarted = true;
  if (!StopEvent) StopEvent = Platform.Sync.CreateNamedEvent("", true, false);
  for (TStartupFolder folder : {TStartupFolder::User, TStartupFolder::Common}) {
    auto monitor = std::make_shared<TFolderMonitorThread>(Platform, FQueue, StopEvent);
    FolderMonitors.push_back(monitor);
    monitor->SetFreeOnTerminate(true);
    monitor->NotifyWindow = NotifyWindow;
    monitor->Folder = folder;
    monitor->States = States;
    monitor->Retry = Retry;
    monitor->Resume();  // from here on the monitor owns itself
  }
  StartTaskMonitor();
}

void TMonitorController::StartTaskMonitor() {
  const std::u16string tasks = Platform.Folders.TasksFolderPath();
  if (tasks.empty()) return;
  auto monitor = std::make_shared<TTaskMonitorThread>(Platform, FQueue, StopEvent);
  TaskMonitor = monitor;
  monitor->SetFreeOnTerminate(true);
  monitor->NotifyWindow = NotifyWindow;
  monitor->Path = tasks;
  monitor->States = States;
  monitor->Retry = Retry;
  monitor->Resume();  // from here on the monitor owns itself
}

void TMonitorController::StopMonitors() {
  if (!FStarted) return;
  if (StopEvent) StopEvent->Set();
  for (auto& row : Monitors) {
    for (auto& weak : row) {
      if (auto monitor = weak.lock()) monitor->RequestStop();
    }
  }
  for (auto& weak : FolderMonitors) {
    if (auto monitor = weak.lock()) monitor->RequestStop();
  }
  if (auto monitor = TaskMonitor.lock()) monitor->RequestStop();
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

std::vector<std::shared_ptr<TFolderMonitorThread>> TMonitorController::RunningFolderMonitors()
    const {
  std::vector<std::shared_ptr<TFolderMonitorThread>> running;
  for (const auto& weak : FolderMonitors) {
    if (auto monitor = weak.lock()) running.push_back(std::move(monitor));
  }
  return running;
}

}  // namespace kw
