#pragma once
// Switching an entry off the way Windows does it itself, as Task Manager's
// startup page does: the entry stays where it is, and a value of its name
// under Explorer\StartupApproved tells Windows not to start it. Task
// Manager switches it on again.

#include <cstdint>
#include <string>

#include "monitor/ChangeRecord.h"
#include "platform/Registry.h"

namespace kw {

// The value "禁用" writes: its hive, the subkey of StartupApproved, and the
// entry's exact name.
struct TSwitchTarget {
  HiveHandle Hive = 0;
  std::u16string SubKey;
  std::u16string Name;
};

// Whether `record` names an entry that can be switched off now, into
// `target`: a Run value or a startup file that is there (added or changed),
// or a switch a program turned on again.
bool SwitchOf(const TChangeRecord& record, TSwitchTarget& target);

// Writes the switch, switched off at `fileTime`; false when that fails.
bool SwitchOff(IRegistry& registry, const TSwitchTarget& target, std::uint64_t fileTime);

}  // namespace kw
