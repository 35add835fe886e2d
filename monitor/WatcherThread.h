#pragma once
// What every watcher of an autostart location shares: its life on a thread
// of its own (watch; when it cannot, say so and try again at growing
// intervals; at the stop, a last notice), and the way its records reach the
// main window: appended to the change queue, then a wake-up that carries
// nothing.

#include <cstdint>
#include <memory>
#include <vector>

#include "monitor/ChangeQueue.h"
#include "monitor/Thread.h"
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

class TWatcherThread : public TThread {
 public:
  // Configuration, written by the controller before Resume.
  WindowHandle NotifyWindow = 0;
  TRetryIntervals Retry;

 protected:
  // `queue` takes the records; `stopEvent`, set once at exit, ends the watcher.
  TWatcherThread(const TMonitorPlatform& platform, std::shared_ptr<TChangeQueue> queue,
                 std::shared_ptr<IEvent> stopEvent);

  enum class TOutcome { Stop, Gone, Failed };

  // Watches until the stop (Stop), until the location is gone and must be
  // waited for again (Gone), or until watching fails (Failed, or a throw).
  virtual TOutcome Watch() = 0;
  // Drops every armed signal: before a pause, and at the end.
  virtual void CloseWatches() = 0;
  // A notice's record, filled in with where the location is.
  virtual TChangeRecord NoticeOf(TChangeKind kind, const char* line) const = 0;

  void Execute() override;
  // The watcher's own change event, made on first use; false when it cannot be.
  bool HaveEvents();
  // Watching works (again): a failure said so, and this says so in turn.
  void SetWatched(bool watched);
  // Queues `records` and wakes the main window; nothing for none.
  void Report(std::vector<TChangeRecord>& records);
  void Wake();

  TMonitorPlatform Platform;
  std::shared_ptr<IEvent> StopEvent;
  std::unique_ptr<IEvent> ChangeEvent;

 private:
  bool PauseBeforeRetry();
  void ReportNotice(TChangeKind kind, const char* line);

  std::shared_ptr<TChangeQueue> Queue;
  bool Watching = true;  // false from a failure until watching works again
  std::uint32_t NextPauseMs = 0;
};

}  // namespace kw
