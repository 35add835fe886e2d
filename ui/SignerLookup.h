#pragma once
// Finds out who signed the programs the alert and the log name, on one
// worker thread of its own: a check reads the whole file, and the alert
// never waits for it. When a check has finished, the main window is posted
// WM_SIGNERKNOWN (at most one waits in its queue at a time) and asks here
// what is known.
//
// Each ask has a number. A verdict answers the asks made before its check
// began, so what the alert shows is of the file as it was after the change
// was picked, never of an earlier look. Verdicts are remembered per path with
// the file's stamp: the same file is not hashed again, and another file in
// its place (same size and times, or not) is checked afresh.
//
// At the end the lookup stops: the worker is joined once its check in hand is
// done, for at most the bound given. A check that takes longer (a huge file)
// is left to finish on its own; it then touches nothing but its own share.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Messenger.h"
#include "platform/SignatureCheck.h"

namespace kw {

struct TSignerFinding {
  std::u16string Program;
  TSignature Signature;
  // The newest ask this answers.
  std::uint64_t Asked = 0;
};

class TSignerLookup {
 public:
  static constexpr std::size_t kMaxWaiting = 1024;
  static constexpr std::size_t kMaxRemembered = 1024;
  static constexpr std::chrono::milliseconds kDefaultStopBound{1000};

  TSignerLookup(std::shared_ptr<ISignatureCheck> check, IMessenger& messenger, WindowHandle notify,
                std::chrono::milliseconds stopBound = kDefaultStopBound);
  ~TSignerLookup();
  TSignerLookup(const TSignerLookup&) = delete;
  TSignerLookup& operator=(const TSignerLookup&) = delete;

  // The alert's program: checked before every other waiting. The ask's number.
  std::uint64_t AskFirst(const std::u16string& program);
  // A logged change's program: checked after what the alert waits for. Past
  // kMaxWaiting the oldest such asks go unanswered.
  std::uint64_t Ask(const std::u16string& program);
  // What a check begun after ask `asked` found for `program`; false while none has.
  bool Known(const std::u16string& program, std::uint64_t asked, TSignature& signature) const;
  // The checks finished since the last call, in the order they finished.
  std::vector<TSignerFinding> TakeFinished();

 private:
  struct TState;
  static void Work(std::shared_ptr<TState> state);

  const std::chrono::milliseconds StopBound;
  std::shared_ptr<TState> State;
  std::thread Worker;
};

}  // namespace kw
