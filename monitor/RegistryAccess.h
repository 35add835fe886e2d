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

}  // namespace kw
