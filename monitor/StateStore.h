#pragma once
// The state last reported for every location, shared by the monitors that
// report and the main window that saves it. It starts as what was saved at
// the last run; each monitor replaces its location's state after it has
// queued its records. Shared: monitors may outlive the controller.

#include <mutex>
#include <string>

#include "monitor/SavedState.h"

namespace kw {

class TStateStore {
 public:
  // `foundIsNew`: the last run's state is unknown (unreadable, or gone
  // after a run), so a location without a saved state reports everything
  // it holds at its first read instead of taking it as its starting point.
  explicit TStateStore(TStateContents saved = {}, bool foundIsNew = false)
      : States(std::move(saved)), FoundIsNew(foundIsNew) {}

  bool FoundIsNewAtStart() const { return FoundIsNew; }

  // The state of `key` into `snapshot`; false when there is none.
  bool StateOf(const std::string& key, TRegSnapshot& snapshot) const {
    std::lock_guard<std::mutex> lock(Lock);
    const auto found = States.Keys.find(key);
    if (found == States.Keys.end()) return false;
    snapshot = found->second;
    return true;
  }
  bool FolderStateOf(const std::string& key, TSavedFolder& saved) const {
    std::lock_guard<std::mutex> lock(Lock);
    const auto found = States.Folders.find(key);
    if (found == States.Folders.end()) return false;
    saved = found->second;
    return true;
  }

  // Called by a monitor after it has queued the records that led here.
  void Publish(const std::string& key, const TRegSnapshot& snapshot) {
    std::lock_guard<std::mutex> lock(Lock);
    States.Keys[key] = snapshot;
    FChanged = true;
  }
  void PublishFolder(const std::string& key, const TSavedFolder& saved) {
    std::lock_guard<std::mutex> lock(Lock);
    States.Folders[key] = saved;
    FChanged = true;
  }

  bool Changed() const {
    std::lock_guard<std::mutex> lock(Lock);
    return FChanged;
  }

  // Every state into `states` when one changed since the last take; the
  // store then counts as unchanged. False, and `states` untouched, otherwise.
  bool TakeChanged(TStateContents& states) {
    std::lock_guard<std::mutex> lock(Lock);
    if (!FChanged) return false;
    states = States;
    FChanged = false;
    return true;
  }

  // After a take that could not be saved: the next chance saves again.
  void MarkChanged() {
    std::lock_guard<std::mutex> lock(Lock);
    FChanged = true;
  }

 private:
  mutable std::mutex Lock;
  TStateContents States;
  const bool FoundIsNew;
  bool FChanged = false;
};

}  // namespace kw
