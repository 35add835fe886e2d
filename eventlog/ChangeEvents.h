#pragma once
// Which event a record makes and which of its fields go into which
// placeholder. Every change event has the same placeholders, so a collector
// reads the fields by position whatever the kind:
//   %1 time, %2 hive, %3 key or folder, %4 value name, %5 old data,
//   %6 new data, %7 program path, %8 registry view.

#include <cstdint>
#include <string>

#include "monitor/ChangeRecord.h"
#include "platform/ChangeLog.h"

namespace kw {

// The record's local time as "YYYY-MM-DD hh:mm:ss.mmm": one form on every
// system language, so events from many machines sort and compare alike.
std::string EventTime(const TLocalTime& time);

TLogEvent ChangeEvent(const TChangeRecord& record);
// Who signed the program of a change logged before: %1 to %4 and %7 as the
// change's event has them, %9 the verdict ("signed", "not signed", "not
// valid", "not checked"), %10 the signer; the others empty.
TLogEvent SignerEvent(const TChangeRecord& record, const TSignature& signature);
// %1 time, %2 the guard's own program file.
TLogEvent GuardStartedEvent(const TLocalTime& time, const std::u16string& programPath);
TLogEvent GuardStoppedEvent(const TLocalTime& time, const std::u16string& programPath);
// %1 the time of the first event lost, %2 how many were lost.
TLogEvent EventsLostEvent(const TLocalTime& firstLost, std::uint64_t count);

}  // namespace kw
