#pragma once
// The record a key monitor hands to the main window with each notification.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Types.h"

namespace kw {

struct TChangeData {
  std::string Key;
  HiveHandle RootKey = 0;
  // Every change line and stop notice of the monitor's life, oldest first.
  std::vector<std::string> Changes;
  // How many leading lines of Changes the receiver has displayed already.
  std::int32_t Shown = 0;
  std::string Title;
  std::string ValueName;
};

}  // namespace kw
