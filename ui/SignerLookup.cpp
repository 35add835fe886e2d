#include "ui/SignerLookup.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <map>
#include <mutex>
#include <utility>

namespace kw {

namespace {

struct TAsk {
  std::u16string Program;
  std::uint64_t Number = 0;
  bool First = false;  // the alert's
};

struct TRemembered {
  TFileStamp Stamp;
  TSignature Signature;
};

// A stamp that could not be read names no file: nothing is remembered by it.
bool Identified(const TFileStamp& stamp) {
  return stamp.Volume != 0 || stamp.FileIndex != 0;
}

}  // namespace

struct TSignerLookup::TState {
  TState(std::shared_ptr<ISignatureCheck> check, IMessenger& messenger, WindowHandle notify)
      : Check(std::move(check)), Messenger(messenger), Notify(notify) {}

  std::uint64_t Queue(const std::u16string& program, bool first);
  TSignature CheckNow(const std::u16string& program);
  void Publish(const TAsk& ask, const TSignature& signature);

  const std::shared_ptr<ISignatureCheck> Check;
  // Used only under Mutex and before Stopping: never after the lookup is gone.
  IMessenger& Messenger;
  const WindowHandle Notify;

  mutable std::mutex Mutex;
  std::condition_variable Wake;
  std::condition_variable Ended;
  std::deque<TAsk> Waiting;
  std::uint64_t LastAsk = 0;
  std::map<std::u16string, TSignerFinding> Findings;
  std::vector<TSignerFinding> Finished;
  bool Posted = false;  // a WM_SIGNERKNOWN waits in the window's queue
  bool Stopping = false;
  bool Done = false;

  // The worker's own: what each path's file was found to be, by its stamp.
  std::map<std::u16string, TRemembered> Remembered;
};

std::uint64_t TSignerLookup::TState::Queue(const std::u16string& program, bool first) {
  std::uint64_t number = 0;
  {
    std::lock_guard<std::mutex> lock(Mutex);
    number = ++LastAsk;
    auto waiting = std::find_if(Waiting.begin(), Waiting.end(),
                                [&](const TAsk& ask) { return ask.Program == program; });
    if (waiting != Waiting.end() && !first) {
      waiting->Number = number;
    } else {
      if (waiting != Waiting.end()) Waiting.erase(waiting);
      if (first) {
        Waiting.push_front({program, number, true});
      } else {
        Waiting.push_back({program, number, false});
      }
      if (Waiting.size() > kMaxWaiting) {
        auto oldest = std::find_if(Waiting.begin(), Waiting.end(),
                                   [](const TAsk& ask) { return !ask.First; });
        Waiting.erase(oldest != Waiting.end() ? oldest : std::prev(Waiting.end()));
      }
    }
  }
  Wake.notify_one();
  return number;
}

TSignature TSignerLookup::TState::CheckNow(const std::u16string& program) {
  const std::unique_ptr<ISignedFile> file = Check->Open(program);
  if (!file) return {};
  const TFileStamp stamp = file->Stamp();
  const auto remembered = Remembered.find(program);
  if (Identified(stamp) && remembered != Remembered.end() && remembered->second.Stamp == stamp) {
    return remembered->second.Signature;
  }
  const TSignature signature = file->Verify();
  if (Identified(stamp)) {
    if (Remembered.size() >= kMaxRemembered) Remembered.clear();
    Remembered[program] = {stamp, signature};
  }
  return signature;
}

void TSignerLookup::TState::Publish(const TAsk& ask, const TSignature& signature) {
  const TSignerFinding finding{ask.Program, signature, ask.Number};
  if (Findings.size() >= kMaxRemembered && Findings.count(ask.Program) == 0) Findings.clear();
  Findings[ask.Program] = finding;
  if (Finished.size() >= kMaxWaiting) Finished.erase(Finished.begin());
  Finished.push_back(finding);
  if (!Posted) Posted = Messenger.Post(Notify, WM_SIGNERKNOWN, 0, 0);
}

TSignerLookup::TSignerLookup(std::shared_ptr<ISignatureCheck> check, IMessenger& messenger,
                             WindowHandle notify, std::chrono::milliseconds stopBound)
    : StopBound(stopBound),
      State(std::make_shared<TState>(std::move(check), messenger, notify)),
      Worker(&TSignerLookup::Work, State) {}

TSignerLookup::~TSignerLookup() {
  std::unique_lock<std::mutex> lock(State->Mutex);
  State->Stopping = true;
  State->Wake.notify_one();
  const bool ended = State->Ended.wait_for(lock, StopBound, [&] { return State->Done; });
  lock.unlock();
  if (ended) {
    Worker.join();
  } else {
    Worker.detach();
  }
}

std::uint64_t TSignerLookup::AskFirst(const std::u16string& program) {
  return State->Queue(program, true);
}

std::uint64_t TSignerLookup::Ask(const std::u16string& program) {
  return State->Queue(program, false);
}

bool TSignerLookup::Known(const std::u16string& program, std::uint64_t asked,
                          TSignature& signature) const {
  std::lock_guard<std::mutex> lock(State->Mutex);
  const auto found = State->Findings.find(program);
  if (found == State->Findings.end() || found->second.Asked < asked) return false;
  signature = found->second.Signature;
  return true;
}

std::vector<TSignerFinding> TSignerLookup::TakeFinished() {
  std::lock_guard<std::mutex> lock(State->Mutex);
  State->Posted = false;
  return std::exchange(State->Finished, {});
}

void TSignerLookup::Work(std::shared_ptr<TState> state) {
  std::unique_lock<std::mutex> lock(state->Mutex);
  for (;;) {
    state->Wake.wait(lock, [&] { return !state->Waiting.empty() || state->Stopping; });
    if (state->Stopping) break;
    const TAsk ask = std::move(state->Waiting.front());
    state->Waiting.pop_front();
    lock.unlock();
    TSignature signature;
    try {
      signature = state->CheckNow(ask.Program);
    } catch (...) {
      // A check that failed tells nothing: the line says it was not checked.
      signature = {};
    }
    lock.lock();
    if (state->Stopping) break;
    try {
      state->Publish(ask, signature);
    } catch (...) {
      // Out of memory: this finding is lost; the worker goes on.
    }
  }
  state->Done = true;
  state->Ended.notify_all();
}

}  // namespace kw
