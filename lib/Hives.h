#pragma once
// Names of the predefined registry roots.

#include <string>
#include <string_view>

#include "platform/Types.h"

namespace kw {

// "HKEY_CLASSES_ROOT" for 0x80000000 up to "HKEY_DYN_DATA" for 0x80000006; empty otherwise.
std::string HiveToName(HiveHandle hive);
// The hive whose name equals `name` ignoring the case of A to Z; 0 when none.
HiveHandle NameToHive(std::string_view name);

}  // namespace kw
