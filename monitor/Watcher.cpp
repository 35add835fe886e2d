#include "monitor/Watcher.h"

#include <algorithm>

#include "monitor/ChangeTexts.h"

namespace kw {

TWatcher::TWatcher(const TMonitorPlatform& platform, std::shared_ptr<TChangeQueue> queue)
    : Platform(platform), Queue(std::move(queue)) {}

void TWatcher::Begin() {
  Pause.Reset(Retry);
  Starting();
  Run([this] { return Watch(); });
}

void TWatcher::AddEvents(std::vector<IEvent*>& events) const {
  if (!Pause.Active) Events(events);
}

void TWatcher::Events(std::vector<IEvent*>& events) const {
  events.push_back(ChangeEvent.get());
}

void TWatcher::Signalled(std::size_t which) {
  if (!Pause.Active) Run([this, which] { return Woken(which); });
}

void TWatcher::PauseOver() {
  Pause.Active = false;
  Run([this] { return Watch(); });
}

void TWatcher::WaitFailed() {
  if (Pause.Active) return;
  SetWatched(false);
  StartPause();
}

void TWatcher::End() {
  CloseWatches();
  ReportNotice(TChangeKind::Stopped, texts::kMonitoringStopped);
}

void TWatcher::Run(const std::function<TOutcome()>& step) {
  TOutcome outcome = TOutcome::Failed;
  try {
    outcome = step();
    // Deleted, and perhaps made again: what is at its path now is looked at.
    while (outcome == TOutcome::Gone) outcome = Watch();
  } catch (const std::exception&) {
    // Refused access, a failed arming, memory exhausted by a huge value: the
    // location is not watched now, which the user must know.
    outcome = TOutcome::Failed;
  }
  if (outcome == TOutcome::Failed) {
    SetWatched(false);
    StartPause();
  }
}

void TWatcher::StartPause() {
  CloseWatches();
  if (ChangeEvent) ChangeEvent->Reset();
  Pause.Start(Retry);
}

bool TWatcher::HaveEvents() {
  if (!ChangeEvent) ChangeEvent = Platform.Sync.CreateNamedEvent("", true, false);
  return ChangeEvent != nullptr;
}

void TWatcher::SetWatched(bool watched) {
  if (watched) Pause.Reset(Retry);
  if (watched == Watching) return;
  Watching = watched;
  ReportNotice(watched ? TChangeKind::WatchedAgain : TChangeKind::NotWatched,
               watched ? texts::kWatchedAgain : texts::kNotWatched);
}

void TWatcher::ReportNotice(TChangeKind kind, const char* line) {
  std::vector<TChangeRecord> records{NoticeOf(kind, line)};
  Report(records);
}

void TWatcher::Report(std::vector<TChangeRecord>& records) {
  if (records.empty()) return;
  Queue->Append(records);
  Wake();
}

void TWatcher::Wake() {
  // A window that is gone makes the send fail at once; its records wait in
  // the queue, which drops the oldest when nobody takes them.
  Platform.Messenger.Send(NotifyWindow, WM_REGCHANGE, 0, 0);
}

}  // namespace kw
