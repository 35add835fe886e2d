#include "ui/PutBack.h"

#include "monitor/RegSnapshot.h"

namespace kw {

namespace {

bool IsTextType(std::uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// Gone for a deleted value; for a changed one, of the type the change gave
// it and read by Windows as its new side. Failed where it cannot be looked at.
TPutBackResult StillAsChangeLeftIt(IRegKey& key, const TChangeRecord& record) {
  TRegValue now;
  const long found = key.QueryValue(record.Identity, now);
  if (found != kErrorSuccess && found != kErrorFileNotFound) return TPutBackResult::Failed;
  const bool still =
      record.Kind == TChangeKind::Deleted
          ? found == kErrorFileNotFound
          : found == kErrorSuccess && now.Type == record.Type && DataOf(now) == record.NewText;
  return still ? TPutBackResult::PutBack : TPutBackResult::ChangedSince;
}

}  // namespace

bool CanPutBack(const TChangeRecord& record) {
  return record.Where == TLocationKind::RegistryKey &&
         (record.Kind == TChangeKind::Changed || record.Kind == TChangeKind::Deleted) &&
         IsTextType(record.OldType);
}

TPutBackResult PutBack(IRegKey& key, const TChangeRecord& record) {
  if (!CanPutBack(record)) return TPutBackResult::Failed;
  const TPutBackResult now = StillAsChangeLeftIt(key, record);
  if (now != TPutBackResult::PutBack) return now;
  // A string ends with its NUL; a list's items each carry theirs, and an
  // empty item ends the list.
  const std::u16string data = record.OldText + u'\0';
  return key.SetValue(record.Identity, record.OldType, data) == kErrorSuccess
             ? TPutBackResult::PutBack
             : TPutBackResult::Failed;
}

}  // namespace kw
