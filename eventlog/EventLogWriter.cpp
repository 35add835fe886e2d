#include "eventlog/EventLogWriter.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>

#include "eventlog/ChangeEvents.h"

namespace kw {

namespace {

// A queued entry: a record, or the guard's start or stop (formatted by the
// writer's thread, so the caller only copies).
struct TQueued {
  enum class TWhat : std::uint8_t { Change, Signer, Started, Stopped, Lost } What = TWhat::Change;
  TChangeRecord Record;
  std::uint64_t LostCount = 0;
  TSignature Signature = {};
};

TLogEvent EventOf(const TQueued& queued) {
  switch (queued.What) {
    case TQueued::TWhat::Started:
      return GuardStartedEvent(queued.Record.Time, queued.Record.Program);
    case TQueued::TWhat::Stopped:
      return GuardStoppedEvent(queued.Record.Time, queued.Record.Program);
    case TQueued::TWhat::Lost:
      return EventsLostEvent(queued.Record.Time, queued.LostCount);
    case TQueued::TWhat::Signer:
      return SignerEvent(queued.Record, queued.Signature);
    case TQueued::TWhat::Change:
      break;
  }
  return ChangeEvent(queued.Record);
}

}  // namespace

struct TEventLogWriter::TState {
  explicit TState(std::shared_ptr<IEventLog> log, std::size_t capacity)
      : Log(std::move(log)), Capacity(capacity == 0 ? 1 : capacity) {}

  void Push(TQueued queued) {
    {
      std::lock_guard<std::mutex> lock(Mutex);
      if (Closing) return;
      if (Queue.size() >= Capacity) {
        if (Lost == 0) FirstLost = Queue.front().Record.Time;
        ++Lost;
        Queue.pop_front();
      }
      Queue.push_back(std::move(queued));
    }
    Wake.notify_one();
  }

  const std::shared_ptr<IEventLog> Log;
  const std::size_t Capacity;
  std::mutex Mutex;
  std::condition_variable Wake;
  std::condition_variable Drained;
  std::deque<TQueued> Queue;
  std::uint64_t Lost = 0;
  TLocalTime FirstLost;
  bool Closing = false;  // no more entries; write what is queued, then end
  bool GivenUp = false;  // the end's bound has passed: stop writing
  bool Writing = false;  // a call to the log is under way
  bool Finished = false;
};

TEventLogWriter::TEventLogWriter(std::shared_ptr<IEventLog> log, IClock& clock,
                                 std::u16string programPath, std::size_t capacity,
                                 std::chrono::milliseconds flushBound)
    : Clock(clock),
      ProgramPath(std::move(programPath)),
      FlushBound(flushBound),
      State(std::make_shared<TState>(std::move(log), capacity)),
      Worker(&TEventLogWriter::Drain, State) {}

TEventLogWriter::~TEventLogWriter() {
  std::unique_lock<std::mutex> lock(State->Mutex);
  State->Closing = true;
  State->Wake.notify_one();
  const bool drained = State->Drained.wait_for(lock, FlushBound, [&] { return State->Finished; });
  if (!drained) State->GivenUp = true;
  lock.unlock();
  // A log stuck in a call cannot be waited for at exit: the thread keeps its
  // own share of the state and the log and ends after that call.
  if (drained)
    Worker.join();
  else
    Worker.detach();
}

void TEventLogWriter::Write(const TChangeRecord& record) {
  State->Push({TQueued::TWhat::Change, record});
}

void TEventLogWriter::WriteSigner(const TChangeRecord& record, const TSignature& signature) {
  State->Push({TQueued::TWhat::Signer, record, 0, signature});
}

void TEventLogWriter::GuardStarted() {
  TQueued queued{TQueued::TWhat::Started, {}};
  queued.Record.Time = Clock.Now();
  queued.Record.Program = ProgramPath;
  State->Push(std::move(queued));
}

void TEventLogWriter::RecordsLost(std::uint64_t count) {
  TQueued queued{TQueued::TWhat::Lost, {}, count};
  queued.Record.Time = Clock.Now();
  State->Push(std::move(queued));
}

void TEventLogWriter::GuardStopped() {
  if (std::exchange(StopWritten, true)) return;
  TQueued queued{TQueued::TWhat::Stopped, {}};
  queued.Record.Time = Clock.Now();
  queued.Record.Program = ProgramPath;
  State->Push(std::move(queued));
  // At the session's end the system may end the process as soon as the
  // handler returns: the last events are written before it does.
  std::unique_lock<std::mutex> lock(State->Mutex);
  State->Drained.wait_for(lock, FlushBound, [&] {
    return State->Finished || (State->Queue.empty() && State->Lost == 0 && !State->Writing);
  });
}

void TEventLogWriter::Drain(std::shared_ptr<TState> state) {
  std::unique_lock<std::mutex> lock(state->Mutex);
  for (;;) {
    state->Wake.wait(lock, [&] { return !state->Queue.empty() || state->Closing; });
    if (state->GivenUp) break;
    TLogEvent event;
    state->Writing = true;
    // The lost events' place is before everything still queued: they were older.
    if (state->Lost > 0) {
      event = EventsLostEvent(state->FirstLost, std::exchange(state->Lost, 0));
    } else if (!state->Queue.empty()) {
      TQueued queued = std::move(state->Queue.front());
      state->Queue.pop_front();
      lock.unlock();
      event = EventOf(queued);
      lock.lock();
    } else {
      state->Writing = false;
      break;  // closing, and nothing left
    }
    lock.unlock();
    try {
      state->Log->Report(event);
    } catch (...) {
      // A failed write loses that event only; the guard and its alert go on.
    }
    lock.lock();
    state->Writing = false;
    state->Drained.notify_all();
  }
  state->Finished = true;
  state->Drained.notify_all();
}

}  // namespace kw
