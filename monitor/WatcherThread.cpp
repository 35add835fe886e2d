#include "monitor/WatcherThread.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "monitor/ChangeTexts.h"

namespace kw {

TWatcherThread::TWatcherThread(const TMonitorPlatform& platform,
                               std::shared_ptr<TChangeQueue> queue,
                               std::shared_ptr<IEvent> stopEvent)
    : Platform(platform), StopEvent(std::move(stopEvent)), Queue(std::move(queue)) {}

void TWatcherThread::Execute() {
  NextPauseMs = Retry.FirstMs;
  for (;;) {
    TOutcome outcome = TOutcome::Failed;
    try {
      outcome = Watch();
    } catch (const std::exception&) {
      // Refused access, a failed wait, memory exhausted by a huge value: the
      // location is not watched now, which the user must know.
    }
    if (outcome == TOutcome::Stop) break;
    if (outcome == TOutcome::Failed) {
      SetWatched(false);
      if (!PauseBeforeRetry()) break;
    }
  }
  CloseWatches();
  ReportNotice(TChangeKind::Stopped, texts::kMonitoringStopped);
}

bool TWatcherThread::HaveEvents() {
  if (!ChangeEvent) ChangeEvent = Platform.Sync.CreateNamedEvent("", true, false);
  return ChangeEvent && StopEvent;
}

void TWatcherThread::SetWatched(bool watched) {
  if (watched) NextPauseMs = Retry.FirstMs;
  if (watched == Watching) return;
  Watching = watched;
  ReportNotice(watched ? TChangeKind::WatchedAgain : TChangeKind::NotWatched,
               watched ? texts::kWatchedAgain : texts::kNotWatched);
}

bool TWatcherThread::PauseBeforeRetry() {
  CloseWatches();
  if (ChangeEvent) ChangeEvent->Reset();
  const std::uint32_t pause = NextPauseMs;
  NextPauseMs = std::min(NextPauseMs * 2, std::max(Retry.LongestMs, Retry.FirstMs));
  const std::uint32_t result =
      Platform.Sync.WaitForAny({ChangeEvent.get(), StopEvent.get()}, pause);
  // Without events there is nothing to wait on; sleeping keeps the retries apart.
  if (result == kWaitFailed) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
  return result != kWaitFirst + 1 && !StopRequested();
}

void TWatcherThread::ReportNotice(TChangeKind kind, const char* line) {
  std::vector<TChangeRecord> records{NoticeOf(kind, line)};
  Report(records);
}

void TWatcherThread::Report(std::vector<TChangeRecord>& records) {
  if (records.empty()) return;
  Queue->Append(records);
  Wake();
}

void TWatcherThread::Wake() {
  // A window that is gone makes the send fail at once; its records wait in
  // the queue, which drops the oldest when nobody takes them.
  Platform.Messenger.Send(NotifyWindow, WM_REGCHANGE, 0, 0);
}

}  // namespace kw
