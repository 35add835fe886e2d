#pragma once
// What one WM_REGCHANGE brought: the records taken from the queue, read as
// the alert reads them.

#include <string>
#include <vector>

#include "monitor/ChangeQueue.h"

namespace kw::test {

struct TNotice {
  std::string Key;  // of the newest record
  HiveHandle RootKey = 0;
  std::vector<std::string> NewLines;
  std::string Title;      // the last title given
  std::string ValueName;  // the last name given
  std::vector<TChangeKind> Kinds;
};

inline TNotice ReadNotice(const std::vector<TChangeRecord>& records) {
  TNotice notice;
  for (const TChangeRecord& record : records) {
    notice.Key = record.Location;
    notice.RootKey = record.RootKey;
    notice.NewLines.push_back(record.Line);
    if (!record.Title.empty()) notice.Title = record.Title;
    if (!record.ValueName.empty()) notice.ValueName = record.ValueName;
    notice.Kinds.push_back(record.Kind);
  }
  return notice;
}

}  // namespace kw::test
