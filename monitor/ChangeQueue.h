#pragma once
// The records the watchers have made and the main window has not yet taken.
// Watchers append from their threads; the main window takes everything at
// once when a wake-up arrives. A message from another program can only make
// the main window look here: it carries nothing the guard reads.

#include <cstddef>
#include <mutex>
#include <vector>

#include "monitor/ChangeRecord.h"

namespace kw {

class TChangeQueue {
 public:
  // While nobody takes them (no alert yet, or the program ending), records
  // stop piling up here: past this many the oldest go.
  static constexpr std::size_t kMaxQueued = 100000;

  // Moves `records` to the end of the queue and leaves `records` empty.
  void Append(std::vector<TChangeRecord>& records) {
    std::lock_guard<std::mutex> lock(Lock);
    if (Queued.empty()) {
      Queued.swap(records);
    } else {
      for (TChangeRecord& record : records) Queued.push_back(std::move(record));
      records.clear();
    }
    if (Queued.size() > kMaxQueued) {
      const std::size_t excess = Queued.size() - kMaxQueued;
      Queued.erase(Queued.begin(), Queued.begin() + static_cast<std::ptrdiff_t>(excess));
      Lost += excess;
    }
  }

  // Every queued record, oldest first; the queue is then empty.
  std::vector<TChangeRecord> TakeAll() {
    std::vector<TChangeRecord> taken;
    std::lock_guard<std::mutex> lock(Lock);
    taken.swap(Queued);
    return taken;
  }

  // How many records were dropped, never taken, since the start.
  std::size_t LostCount() {
    std::lock_guard<std::mutex> lock(Lock);
    return Lost;
  }

 private:
  std::mutex Lock;
  std::vector<TChangeRecord> Queued;
  std::size_t Lost = 0;
};

}  // namespace kw
