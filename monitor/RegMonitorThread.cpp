#include "monitor/RegMonitorThread.h"

#include <atomic>

#include "monitor/ChangeTexts.h"
#include "monitor/RegistryAccess.h"

namespace kw {

namespace {

std::string NextChangeEventName() {
  static std::atomic<unsigned> counter{0};
  return "RegMonitorChange" + std::to_string(++counter);
}

}  // namespace

TRegMonitorThread::TRegMonitorThread(const TMonitorPlatform& platform)
    : Platform(platform),
      OldSnapshot(platform.Collation),
      NewSnapshot(platform.Collation),
      FEventName(NextChangeEventName()) {}

std::uint32_t TRegMonitorThread::NotifyFilter() {
  if (FNotifyFilter == 0) FNotifyFilter = 15;
  return FNotifyFilter;
}

void TRegMonitorThread::Execute() {
  StartWatching();
  TakeSnapshot(*OpenKey, OldSnapshot, DataBuffer);
  while (!StopRequested()) {
    switch (Platform.Sync.WaitForEither(ChangeEvent.get(), StopEvent.get())) {
      case kWaitFirst:
        ReportChange();
        break;
      case kWaitSecond:
        // The stop event is never reset, so every further wait would return
        // at once: a monitor that has sent its stop notice is done, also when
        // the event was set from outside and no stop was requested.
        ReportStop();
        return;
      default:
        // Nothing will ever wake this wait properly (an event is missing):
        // looping on would spin, so the monitor ends.
        return;
    }
  }
}

void TRegMonitorThread::StartWatching() {
  OpenKey = OpenKeyReadOnly(Platform.Registry, RootKey, Key);
  ChangeEvent = Platform.Sync.CreateNamedEvent(FEventName, true, false);
  StopEvent = Platform.Sync.CreateNamedEvent(kStopEventName, true, false);
  Arm();
  ChangeData.Shown = 0;
}

void TRegMonitorThread::Arm() {
  // Unexamined: a key opened without the notify right simply never signals.
  if (ChangeEvent) OpenKey->NotifyChange(WatchSubTree, NotifyFilter(), *ChangeEvent);
}

void TRegMonitorThread::ReportChange() {
  // The signal is one-shot: ask for the next one before reading the key. A
  // change made while this one is read, compared or shown then wakes the next
  // wait at once; a wake whose change the snapshot already held finds no
  // difference, which the alert shows as a refresh of the time and key.
  ChangeEvent->Reset();
  Arm();
  TakeSnapshot(*OpenKey, NewSnapshot, DataBuffer);
  CompareSnapshots(OldSnapshot, NewSnapshot, ChangeData);
  ChangeData.RootKey = RootKey;
  ChangeData.Key = Key;
  Notify();
}

void TRegMonitorThread::ReportStop() {
  ChangeData.Key = Key;
  ChangeData.RootKey = RootKey;
  ChangeData.Title.clear();
  ChangeData.ValueName.clear();
  ChangeData.Changes.push_back(texts::kMonitoringStopped);
  Notify();
}

void TRegMonitorThread::Notify() {
  const bool handled = Platform.Messenger.Send(NotifyWindow, WM_REGCHANGE,
                                               reinterpret_cast<std::uintptr_t>(&ChangeData), 0);
  // A window that is gone makes the send fail at once; the monitor carries on
  // as if the notice had been shown, for nobody will ever show it.
  if (!handled) ChangeData.Shown = static_cast<std::int32_t>(ChangeData.Changes.size());
  ReleaseShownLines(ChangeData);
}

}  // namespace kw
