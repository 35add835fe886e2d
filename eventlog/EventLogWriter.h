#pragma once
// Writes reported changes to the event log on a thread of its own, so that
// the alert never waits for the log. The calls only queue.
//
// The queue is bounded: a flood (or a log that hangs) must not grow the
// guard's memory without end. When it is full the oldest waiting event is
// dropped, the newest kept (the end state of a flood is what matters), and
// the drops are counted into one "events lost" event written in their place.
//
// At the end the writer writes what is still queued, for at most the bound it
// was given; what is left then is given up, and the thread (which shares its
// state and the log with nobody) finishes on its own.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>

#include "platform/ChangeLog.h"
#include "platform/Clock.h"

namespace kw {

class TEventLogWriter : public IChangeLog {
 public:
  static constexpr std::size_t kDefaultCapacity = 4096;
  static constexpr std::chrono::milliseconds kDefaultFlushBound{2000};

  // `clock` is read on the calling thread only; `programPath` names the guard
  // in its start and stop events.
  TEventLogWriter(std::shared_ptr<IEventLog> log, IClock& clock, std::u16string programPath,
                  std::size_t capacity = kDefaultCapacity,
                  std::chrono::milliseconds flushBound = kDefaultFlushBound);
  ~TEventLogWriter() override;
  TEventLogWriter(const TEventLogWriter&) = delete;
  TEventLogWriter& operator=(const TEventLogWriter&) = delete;

  void Write(const TChangeRecord& record) override;
  void WriteSigner(const TChangeRecord& record, const TSignature& signature) override;
  void GuardStarted() override;
  // The last event: written once, and waited for (with what is still queued)
  // up to the bound, as the process may end right after it.
  void GuardStopped() override;
  void RecordsLost(std::uint64_t count) override;

 private:
  struct TState;
  static void Drain(std::shared_ptr<TState> state);

  IClock& Clock;
  const std::u16string ProgramPath;
  const std::chrono::milliseconds FlushBound;
  bool StopWritten = false;
  std::shared_ptr<TState> State;
  std::thread Worker;
};

}  // namespace kw
