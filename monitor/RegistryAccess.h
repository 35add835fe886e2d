#pragma once
// Opening a registry key the way the monitors do, shared with every later
// open of a reported key so that both see the same registry view.

#include <memory>
#include <string>
#include <string_view>

#include "platform/Registry.h"

namespace kw {

// A key path as the watched-key table writes it, with its leading backslash,
// made relative to its hive.
std::string_view SubKeyOf(std::string_view keyPath);

// Opens `keyPath` below `hive` read-only, trying KEY_READ, then KEY_READ
// without the notify right, then KEY_QUERY_VALUE, each in the native 64-bit
// view. Throws "无法打开注册表项" + keyPath when all three fail.
std::unique_ptr<IRegKey> OpenKeyReadOnly(IRegistry& registry, HiveHandle hive,
                                         const std::string& keyPath);

}  // namespace kw
