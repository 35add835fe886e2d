#pragma once
// An event log in memory that keeps what it is given, in order. It can be
// held shut, as a log that hangs in a call: a call then waits inside Report
// until it is opened again.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/ChangeLog.h"

namespace kw::fake {

class FakeEventLog : public IEventLog {
 public:
  bool Report(const TLogEvent& event) override {
    std::unique_lock<std::mutex> lock(Mutex);
    ++Calls;
    Changed.notify_all();
    Changed.wait(lock, [&] { return !Shut; });
    Events.push_back(event);
    Changed.notify_all();
    return true;
  }

  void Hold() {
    std::lock_guard<std::mutex> lock(Mutex);
    Shut = true;
  }
  void Open() {
    std::lock_guard<std::mutex> lock(Mutex);
    Shut = false;
    Changed.notify_all();
  }
  // Waits until `calls` calls have begun; false after the deadline.
  bool WaitForCalls(int calls, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(Mutex);
    return Changed.wait_for(lock, deadline, [&] { return Calls >= calls; });
  }
  std::vector<TLogEvent> Written() {
    std::lock_guard<std::mutex> lock(Mutex);
    return Events;
  }

 private:
  std::mutex Mutex;
  std::condition_variable Changed;
  bool Shut = false;
  int Calls = 0;
  std::vector<TLogEvent> Events;
};

// The guard's side of the log: what it was asked to write, in order.
class FakeChangeLog : public IChangeLog {
 public:
  void Write(const TChangeRecord& record) override { Records.push_back(record); }
  void WriteSigner(const TChangeRecord& record, const TSignature& signature) override {
    Signers.push_back({record, signature});
  }
  void GuardStarted() override { ++Starts; }
  void GuardStopped() override { ++Stops; }
  void RecordsLost(std::uint64_t count) override { Lost += count; }
  std::uint64_t Lost = 0;
  std::vector<TChangeRecord> Records;
  std::vector<std::pair<TChangeRecord, TSignature>> Signers;
  int Starts = 0, Stops = 0;
};

}  // namespace kw::fake
