#include "monitor/MonitorController.h"

#include <algorithm>
#include <utility>

#include "monitor/AncestorWatch.h"

namespace kw {

std::vector<std::shared_ptr<TWaitingThread>> KeyMonitorThreads(
    const TMonitorPlatform& platform, const std::shared_ptr<IEvent>& stopEvent,
    const std::vector<std::shared_ptr<TRegMonitor>>& monitors) {
  struct TPlan {
    std::shared_ptr<TAncestorWatch> Ancestors;
    std::vector<std::shared_ptr<TRegMonitor>> Monitors;
  };
  std::vector<TPlan> plans;
  for (const auto& monitor : monitors) {
    const bool fits = !plans.empty() && plans.back().Ancestors->MostEvents() +
                                                plans.back().Monitors.size() +
                                                plans.back().Ancestors->EventsFor(*monitor) + 1 <=
                                            TWaitingThread::kMostEvents;
    if (!fits) {
      plans.push_back({std::make_shared<TAncestorWatch>(platform, monitor->Location.Hive), {}});
    }
    plans.back().Ancestors->Add(monitor);
    plans.back().Monitors.push_back(monitor);
  }
  std::vector<std::shared_ptr<TWaitingThread>> threads;
  for (const TPlan& plan : plans) {
    auto thread = std::make_shared<TWaitingThread>(platform, stopEvent);
    thread->Take(plan.Ancestors);  // begun first: armed before any monitor looks
    for (const auto& monitor : plan.Monitors) thread->Take(monitor);
    threads.push_back(std::move(thread));
  }
  return threads;
}

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
  std::vector<std::shared_ptr<TRegMonitor>> monitors;
  for (std::size_t row = 0; row < Locations.size(); ++row) {
    if (Locations[row].Hive != rootKey) continue;
    auto monitor = std::make_shared<TRegMonitor>(Platform, FQueue);
    Monitors[row].push_back(monitor);
    monitor->NotifyWindow = NotifyWindow;
    monitor->Location = Locations[row];
    monitor->SetNotifyFilter(kNotifyChangeLastSet);
    // Where only some values count, the key's subkeys are none of its
    // business, unless their values count.
    monitor->WatchSubTree = Locations[row].Values.empty() || Locations[row].SubKeys;
    monitor->Index = static_cast<std::int32_t>(row);
    monitor->Retry = Retry;
    monitor->States = States;
    monitors.push_back(std::move(monitor));
  }
  Start(KeyMonitorThreads(Platform, StopEvent, monitors));
}

// A folder's read opens its files, which a program that may write there can
// hold up: the user's folder waits on a thread of its own, apart from the
// common folder and the tasks, which only administrators may change.
void TMonitorController::StartFolderMonitors() {
  FStarted = true;
  if (!StopEvent) StopEvent = Platform.Sync.CreateNamedEvent("", true, false);
  std::vector<std::shared_ptr<TWaitingThread>> threads;
  for (TStartupFolder folder : {TStartupFolder::User, TStartupFolder::Common}) {
    auto monitor = std::make_shared<TFolderMonitor>(Platform, FQueue);
    FolderMonitors.push_back(monitor);
    monitor->NotifyWindow = NotifyWindow;
    monitor->Folder = folder;
    monitor->States = States;
    monitor->Retry = Retry;
    threads.push_back(std::make_shared<TWaitingThread>(Platform, StopEvent));
    threads.back()->Take(std::move(monitor));
  }
  if (auto tasks = MakeTaskMonitor()) threads.back()->Take(std::move(tasks));
  Start(threads);
}

std::shared_ptr<TTaskMonitor> TMonitorController::MakeTaskMonitor() {
  const std::u16string tasks = Platform.Folders.TasksFolderPath();
  if (tasks.empty()) return nullptr;
  auto monitor = std::make_shared<TTaskMonitor>(Platform, FQueue);
  monitor->NotifyWindow = NotifyWindow;
  monitor->Path = tasks;
  monitor->States = States;
  monitor->Retry = Retry;
  return monitor;
}

void TMonitorController::Start(const std::vector<std::shared_ptr<TWaitingThread>>& threads) {
  for (const auto& thread : threads) {
    Threads.push_back(thread);
    thread->SetFreeOnTerminate(true);
    thread->Resume();  // from here on the thread owns itself and its watchers
  }
}

void TMonitorController::StopMonitors() {
  if (!FStarted) return;
  if (StopEvent) StopEvent->Set();
  for (auto& weak : Threads) {
    if (auto thread = weak.lock()) thread->RequestStop();
  }
  FStarted = false;
}

std::vector<std::shared_ptr<TRegMonitor>> TMonitorController::RunningMonitors(
    std::size_t row) const {
  std::vector<std::shared_ptr<TRegMonitor>> running;
  for (const auto& weak : Monitors[row]) {
    if (auto monitor = weak.lock()) running.push_back(std::move(monitor));
  }
  return running;
}

std::size_t TMonitorController::RunningThreads() const {
  return static_cast<std::size_t>(std::count_if(Threads.begin(), Threads.end(),
                                                [](const auto& weak) { return !weak.expired(); }));
}

std::vector<std::shared_ptr<TFolderMonitor>> TMonitorController::RunningFolderMonitors() const {
  std::vector<std::shared_ptr<TFolderMonitor>> running;
  for (const auto& weak : FolderMonitors) {
    if (auto monitor = weak.lock()) running.push_back(std::move(monitor));
  }
  return running;
}

}  // namespace kw
