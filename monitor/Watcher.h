#pragma once
// What every watcher of an autostart location shares: its life on a waiting
// thread it shares with other watchers (look at the location and arm its
// signals; look again when one comes; when it cannot watch, say so and try
// again at growing intervals; at the stop, a last notice), and the way its
// records reach the main window: appended to the change queue, then a
// wake-up that carries nothing.
//
// A watcher never waits itself: its waiting thread waits on the signals of
// all its watchers at once and calls the one whose signal came. Every call
// is made on that thread, which is also the one that armed the signals.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "monitor/ChangeQueue.h"
#include "monitor/Waiter.h"
#include "platform/Folders.h"
#include "platform/Messenger.h"
#include "platform/Registry.h"
#include "platform/RegistryText.h"
#include "platform/Sync.h"

namespace kw {

// What a watcher needs of the platform. Everything here outlives the watchers.
struct TMonitorPlatform {
  IRegistry& Registry;
  ISync& Sync;
  IMessenger& Messenger;
  const IRegistryText& Text;
  IFolders& Folders;
};

// How long a watcher that cannot watch waits before it tries again: the
// first pause, doubled after each failure up to the longest.
struct TRetryIntervals {
  std::uint32_t FirstMs = 1000;
  std::uint32_t LongestMs = 60000;
};

// A pause before another try, at those intervals.
struct TRetryPause {
  bool Active = false;
  IWaiter::TClock::time_point Ends;
  std::uint32_t NextMs = TRetryIntervals{}.FirstMs;

  void Start(const TRetryIntervals& retry) {
    Active = true;
    Ends = IWaiter::TClock::now() + std::chrono::milliseconds(NextMs);
    NextMs = std::min(NextMs * 2, std::max(retry.LongestMs, retry.FirstMs));
  }
  // Trying worked: the next pause is the first again.
  void Reset(const TRetryIntervals& retry) { NextMs = retry.FirstMs; }
};

class TWatcher : public IWaiter {
 public:
  TWatcher(const TWatcher&) = delete;
  TWatcher& operator=(const TWatcher&) = delete;

  // Configuration, written by the controller before its waiting thread starts.
  WindowHandle NotifyWindow = 0;
  TRetryIntervals Retry;

  std::size_t MostEvents() const override { return 1; }
  void Begin() override;
  void AddEvents(std::vector<IEvent*>& events) const override;
  void Signalled(std::size_t which) override;
  bool Pausing() const override { return Pause.Active; }
  TClock::time_point PauseEnds() const override { return Pause.Ends; }
  void PauseOver() override;
  void WaitFailed() override;
  // The stop: every watch dropped, and a last notice.
  void End() override;

 protected:
  // `queue` takes the records.
  TWatcher(const TMonitorPlatform& platform, std::shared_ptr<TChangeQueue> queue);

  enum class TOutcome { Waiting, Gone, Failed };

  // Before the first look: where the location was when the guard last ran.
  virtual void Starting() {}
  // Looks at the location afresh and arms its signals: Waiting while they
  // are armed, Gone when the location went meanwhile and must be looked at
  // again, Failed (or a throw) when it cannot be watched.
  virtual TOutcome Watch() = 0;
  // Signal `which` of its Events came; by default everything is looked at afresh.
  virtual TOutcome Woken(std::size_t /*which*/) { return Watch(); }
  // The signals it waits on while watching; the change event by default.
  virtual void Events(std::vector<IEvent*>& events) const;
  // Drops every armed signal: before a pause, and at the end.
  virtual void CloseWatches() = 0;
  // A notice's record, filled in with where the location is.
  virtual TChangeRecord NoticeOf(TChangeKind kind, const char* line) const = 0;

  // The watcher's own change event, made on first use; false when it cannot be.
  bool HaveEvents();
  // Watching works (again): a failure said so, and this says so in turn.
  void SetWatched(bool watched);
  // Queues `records` and wakes the main window; nothing for none.
  void Report(std::vector<TChangeRecord>& records);
  void Wake();

  TMonitorPlatform Platform;
  std::unique_ptr<IEvent> ChangeEvent;

 private:
  // Runs `step`, then looks again for as long as the location comes and
  // goes; a failure starts a pause.
  void Run(const std::function<TOutcome()>& step);
  void StartPause();
  void ReportNotice(TChangeKind kind, const char* line);

  std::shared_ptr<TChangeQueue> Queue;
  bool Watching = true;  // false from a failure until watching works again
  TRetryPause Pause;
};

}  // namespace kw
