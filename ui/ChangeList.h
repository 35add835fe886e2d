#pragma once
// The changes the alert holds: every record reported since the user last
// dismissed it, oldest first, and the one the user has picked. The fields
// and every action follow the picked record; a new report picks the newest.

#include <cstddef>
#include <deque>
#include <vector>

#include "monitor/ChangeRecord.h"

namespace kw {

class TChangeList {
 public:
  // A program that writes without end must not exhaust the guard's memory
  // while the user is away: past this many the oldest records go.
  static constexpr std::size_t kMaxKept = 100000;

  // Appends `records` and picks the newest.
  void Add(std::vector<TChangeRecord>& records) {
    for (TChangeRecord& record : records) Records.push_back(std::move(record));
    records.clear();
    while (Records.size() > kMaxKept) {
      Records.pop_front();
      ++Dropped;
    }
    if (!Records.empty()) Picked = Records.size() - 1;
  }
  // Records that never reached the list: dropped before it could take them.
  void AddDropped(std::size_t count) { Dropped += count; }
  void Clear() {
    Records.clear();
    Picked = 0;
    Dropped = 0;
  }
  // How many changes since the last "确定" are no longer reachable.
  std::size_t DroppedCount() const { return Dropped; }

  std::size_t Count() const { return Records.size(); }
  auto begin() const { return Records.begin(); }
  auto end() const { return Records.end(); }
  // The picked record's position, 0 for the oldest; meaningless when empty.
  std::size_t PickedIndex() const { return Picked; }
  const TChangeRecord* PickedRecord() const { return Records.empty() ? nullptr : &Records[Picked]; }
  // Moves the pick one record older or newer; false at either end.
  bool PickOlder() {
    if (Records.empty() || Picked == 0) return false;
    --Picked;
    return true;
  }
  bool PickNewer() {
    if (Picked + 1 >= Records.size()) return false;
    ++Picked;
    return true;
  }

 private:
  std::deque<TChangeRecord> Records;
  std::size_t Picked = 0;
  std::size_t Dropped = 0;
};

}  // namespace kw
