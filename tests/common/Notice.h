#pragma once
// What one WM_REGCHANGE carried, read as the main window reads it.

#include <string>
#include <vector>

#include "monitor/ChangeData.h"

namespace kw::test {

struct TNotice {
  std::string Key;
  HiveHandle RootKey = 0;
  std::vector<std::string> NewLines;
  std::string Title;
  std::string ValueName;
};

// Takes the lines not shown yet and advances Shown, as the receiver does.
inline TNotice ReadNotice(TChangeData& data) {
  TNotice notice{data.Key, data.RootKey, {}, data.Title, data.ValueName};
  while (data.Shown < static_cast<std::int32_t>(data.Changes.size())) {
    notice.NewLines.push_back(data.Changes[static_cast<std::size_t>(data.Shown++)]);
  }
  return notice;
}

}  // namespace kw::test
