#pragma once
// Where reported changes go besides the alert: the system's event log, read
// by administrators and by the agents that collect it from many machines.

#include <cstdint>
#include <string>
#include <vector>

#include "monitor/ChangeRecord.h"
#include "platform/SignatureCheck.h"

namespace kw {

// What the guard tells the log. Calls return at once: a log that is slow or
// stuck never holds up an alert.
class IChangeLog {
 public:
  virtual ~IChangeLog() = default;
  virtual void Write(const TChangeRecord& record) = 0;
  // Who signed the program of `record`, written earlier: known only later.
  virtual void WriteSigner(const TChangeRecord& record, const TSignature& signature) = 0;
  virtual void GuardStarted() = 0;
  virtual void GuardStopped() = 0;
  // `count` records were dropped before anyone could see them: the guard's
  // own queue overflowed in a flood.
  virtual void RecordsLost(std::uint64_t count) = 0;
};

// The event's level as the log shows it.
enum class TEventLevel : std::uint8_t { Information, Warning, Error };

// One event as the log stores it: the message's id in the program's message
// table and the texts put into its placeholders (%1, %2, ...): the record's
// facts in UTF-16, exactly, as the log keeps them.
struct TLogEvent {
  std::uint32_t Id = 0;
  TEventLevel Level = TEventLevel::Information;
  std::vector<std::u16string> Strings;
};

// The system's log itself. Its calls may block or fail; the caller copes.
class IEventLog {
 public:
  virtual ~IEventLog() = default;
  // False when the log refused the event.
  virtual bool Report(const TLogEvent& event) = 0;
};

}  // namespace kw
