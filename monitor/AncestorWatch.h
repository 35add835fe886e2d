#pragma once
// The ancestors of the key monitors on one waiting thread, each watched once
// for all of them: a key on the way from the hive to a watched key, armed
// for its subkeys' names. A rename, move or deletion of any of them tells
// every monitor below it, which then finds its key again by its path.
//
// The registry signals nobody watching a key that is deleted or renamed,
// only those watching its parent for subkey names (Wine signals the renamed
// key itself). Each ancestor is armed on an event of its own, so that only
// the one that answered, and those below it, are asked again: a request made
// anew on every change would pile up, and closing a handle to drop one
// signals it.

#include <memory>
#include <string>
#include <vector>

#include "monitor/RegMonitor.h"
#include "monitor/Waiter.h"

namespace kw {

class TAncestorWatch final : public IWaiter {
 public:
  // The monitors run on the same waiting thread, which owns them all.
  TAncestorWatch(const TMonitorPlatform& platform, HiveHandle hive);

  // Before the thread starts: watches `monitor`'s ancestors too.
  void Add(std::shared_ptr<TRegMonitor> monitor);
  // How many more signals `monitor` would add.
  std::size_t EventsFor(const TRegMonitor& monitor) const;

  std::size_t MostEvents() const override { return Keys.size(); }
  void Begin() override;
  void AddEvents(std::vector<IEvent*>& events) const override;
  void Signalled(std::size_t which) override;
  bool Pausing() const override { return Pause.Active; }
  TClock::time_point PauseEnds() const override { return Pause.Ends; }
  void PauseOver() override;
  void WaitFailed() override;
  void End() override;

 private:
  struct TKey {
    std::string Path;  // below the hive, without a leading backslash
    std::unique_ptr<IEvent> Event;
    std::unique_ptr<IRegKey> Key;  // declared after the event: closed first
    bool Refused = false;          // there, but its watch refused: tried again later
  };
  bool Has(const std::string& path) const;
  // Opens every key at or below `path` afresh by its path, and arms it again.
  void ArmFrom(const std::string& path);
  bool Arm(TKey& key);
  void RetryLater();
  void TellMonitorsBelow(const std::string& path);

  TMonitorPlatform Platform;
  HiveHandle Hive;
  std::vector<TKey> Keys;  // from the top down: a parent before its subkeys
  std::vector<std::shared_ptr<TRegMonitor>> Monitors;
  // The key whose signal comes first in the next wait: the one after the
  // last that answered, so that one flooded ancestor never hides the others.
  std::size_t FirstInLine = 0;
  // A retry is due: of the keys that refused their watch, or, after a
  // failed wait, of all.
  TRetryPause Pause;
  bool WaitFailing = false;
};

}  // namespace kw
