#pragma once
// The record a key monitor hands to the main window with each notification.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Types.h"

namespace kw {

struct TChangeData {
  std::string Key;
  HiveHandle RootKey = 0;
  // The change lines and stop notices not yet released by the monitor, oldest first.
  std::vector<std::string> Changes;
  // How many leading lines of Changes the receiver has displayed already.
  std::int32_t Shown = 0;
  std::string Title;
  std::string ValueName;
};

// Drops the lines the receiver has displayed and counts Shown from the first
// line that remains. A monitor that lives for months, reporting a large value
// rewritten every second, would otherwise keep every line it ever sent.
// Only for the monitor, while none of its notices is being handled.
inline void ReleaseShownLines(TChangeData& data) {
  const auto shown = static_cast<std::size_t>(
      std::clamp<std::int64_t>(data.Shown, 0, static_cast<std::int64_t>(data.Changes.size())));
  data.Changes.erase(data.Changes.begin(),
                     data.Changes.begin() + static_cast<std::ptrdiff_t>(shown));
  data.Shown = 0;
}

}  // namespace kw
