#include "monitor/WaitingThread.h"

#include <algorithm>
#include <thread>

namespace kw {

TWaitingThread::TWaitingThread(const TMonitorPlatform& platform,
                               std::shared_ptr<IEvent> stopEvent)
    : Platform(platform), StopEvent(std::move(stopEvent)) {}

bool TWaitingThread::Take(std::shared_ptr<IWaiter> waiter) {
  const std::size_t events = waiter->MostEvents();
  if (!Watchers.empty() && EventBudget + events > kMostEvents) return false;
  EventBudget += events;
  Watchers.push_back(std::move(waiter));
  return true;
}

// The thread's setup (COM, for shortcuts) holds until the watches are
// cancelled, on the thread that armed them.
void TWaitingThread::Execute() {
  const std::unique_ptr<IThreadSetup> setup = Platform.Folders.SetUpThread();
  // Without the stop event every wait would fail: nothing is watched, and
  // each watcher says so once, as at the stop.
  if (!StopEvent) {
    for (const auto& watcher : Watchers) watcher->End();
    return;
  }
  for (const auto& watcher : Watchers) {
    if (StopRequested()) break;
    watcher->Begin();
  }
  while (!StopRequested()) {
    EndPausesDue();
    GatherEvents();
    const std::uint32_t timeout = TimeToNextPauseEnd();
    const std::uint32_t woken = Platform.Sync.WaitForAny(Events, timeout);
    const std::uint32_t stop = kWaitFirst + static_cast<std::uint32_t>(Events.size()) - 1;
    if (woken == stop) break;
    if (woken == kWaitTimeout) continue;
    if (woken < stop) {
      DispatchWake(woken);
      continue;
    }
    // The wait itself failed: no watcher can watch now, and each tries
    // again after its pause. Without even the stop event to wait on,
    // sleeping keeps the tries apart.
    for (const auto& watcher : Watchers) watcher->WaitFailed();
    if (Events.size() == 1) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<std::uint32_t>(
          TimeToNextPauseEnd(), TRetryIntervals{}.LongestMs)));
    }
  }
  for (const auto& watcher : Watchers) watcher->End();
}

void TWaitingThread::EndPausesDue() {
  const auto now = IWaiter::TClock::now();
  for (const auto& watcher : Watchers) {
    if (watcher->Pausing() && watcher->PauseEnds() <= now) watcher->PauseOver();
  }
}

std::uint32_t TWaitingThread::TimeToNextPauseEnd() const {
  const auto now = IWaiter::TClock::now();
  std::uint32_t shortest = kInfinite;
  for (const auto& watcher : Watchers) {
    if (!watcher->Pausing()) continue;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(watcher->PauseEnds() - now);
    shortest = std::min<std::uint32_t>(
        shortest, static_cast<std::uint32_t>(std::clamp<long long>(left.count(), 0, kInfinite - 1)));
  }
  return shortest;
}

void TWaitingThread::GatherEvents() {
  Events.clear();
  Owners.clear();
  for (std::size_t n = 0; n < Watchers.size(); ++n) {
    const std::size_t watcher = (FirstInLine + n) % Watchers.size();
    const std::size_t before = Events.size();
    Watchers[watcher]->AddEvents(Events);
    for (std::size_t which = 0; which < Events.size() - before; ++which) {
      Owners.push_back({watcher, which});
    }
  }
  Events.push_back(StopEvent.get());
}

void TWaitingThread::DispatchWake(std::uint32_t woken) {
  const TOwner owner = Owners[woken - kWaitFirst];
  FirstInLine = (owner.Watcher + 1) % Watchers.size();
  Watchers[owner.Watcher]->Signalled(owner.Which);
}

}  // namespace kw
