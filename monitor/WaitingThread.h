#pragma once
// A thread that waits for many watchers at once: on the signals of every
// watcher it runs, and on the stop event, in one wait, and it calls the
// watcher whose signal came. A few such threads watch every location, where
// each location would otherwise hold a thread of its own asleep.
//
// Made with std::make_shared and freed by itself when it ends (FreeOnTerminate),
// its watchers with it: others keep std::weak_ptr to it and to them.

#include <chrono>
#include <memory>
#include <vector>

#include "monitor/Thread.h"
#include "monitor/Waiter.h"
#include "monitor/Watcher.h"

namespace kw {

class TWaitingThread final : public TThread {
 public:
  // One wait takes at most 64 objects, the stop event among them.
  static constexpr std::size_t kMostEvents = 63;

  // `stopEvent`, set once at exit, ends the thread and every watcher on it.
  TWaitingThread(const TMonitorPlatform& platform, std::shared_ptr<IEvent> stopEvent);

  // Before Resume: runs `waiter` too, when its signals fit beside the
  // others'; false when they do not.
  bool Take(std::shared_ptr<IWaiter> waiter);

 protected:
  void Execute() override;

 private:
  void EndPausesDue();
  std::uint32_t TimeToNextPauseEnd() const;
  void GatherEvents();
  void DispatchWake(std::uint32_t woken);

  TMonitorPlatform Platform;
  std::shared_ptr<IEvent> StopEvent;
  std::vector<std::shared_ptr<IWaiter>> Watchers;
  std::size_t EventBudget = 0;
  // The signals of the last wait, the stop event last, and whose each one is.
  std::vector<IEvent*> Events;
  struct TOwner {
    std::size_t Watcher;
    std::size_t Which;
  };
  std::vector<TOwner> Owners;
  // The watcher whose signals come first in the next wait: the one after the
  // last woken, so that one flooded location never keeps the others waiting.
  std::size_t FirstInLine = 0;
};

}  // namespace kw
