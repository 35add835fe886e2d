#pragma once
// What a waiting thread runs: something that waits on a few signals and acts
// when one comes, called on that thread alone, which also armed the signals.

#include <chrono>
#include <cstddef>
#include <vector>

#include "platform/Sync.h"

namespace kw {

class IWaiter {
 public:
  using TClock = std::chrono::steady_clock;

  virtual ~IWaiter() = default;
  // The most signals it ever waits on at once.
  virtual std::size_t MostEvents() const = 0;
  // The first look, before the first wait.
  virtual void Begin() = 0;
  // The signals it waits on now, appended to `events`; none while it pauses.
  virtual void AddEvents(std::vector<IEvent*>& events) const = 0;
  // Signal `which` of those it last added came.
  virtual void Signalled(std::size_t which) = 0;
  // Whether it pauses before another try, and until when.
  virtual bool Pausing() const = 0;
  virtual TClock::time_point PauseEnds() const = 0;
  // The pause is over: it tries again.
  virtual void PauseOver() = 0;
  // The wait on its signals failed: it cannot watch now.
  virtual void WaitFailed() = 0;
  // The stop: every watch dropped.
  virtual void End() = 0;
};

}  // namespace kw
