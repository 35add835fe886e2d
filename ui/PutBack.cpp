#include "ui/PutBack.h"

#include "monitor/RegSnapshot.h"

namespace kw {

namespace {

bool IsTextType(std::uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// Gone for a deleted value; for a changed one, of the type the change gave
// it and read by Windows as its new side.
bool StillAsChangeLeftIt(IRegKey& key, const TChangeRecord& record) {
  TRegValue now;
  const long found = key.QueryValue(record.Identity, now);
  if (record.Kind == TChangeKind::Deleted) return found == kErrorFileNotFound;
  return found == kErrorSuccess && now.Type == record.Type && DataOf(now) == record.NewText;
}

}  // namespace

bool CanPutBack(const TChangeRecord& record) {
  return record.Where == TLocationKind::RegistryKey &&
         (record.Kind == TChangeKind::Changed || record.Kind == TChangeKind::Deleted) &&
         IsTextType(record.OldType);
}

TPutBackResult PutBack(IRegKey& key, const TChangeRecord& record) {
  if (!CanPutBack(record)) return TPutBackResult::Failed;
  if (!StillAsChangeLeftIt(key, record)) return TPutBackResult::ChangedSince;
  // A string ends with its NUL; a list's items each carry theirs, and an
  // empty item ends the list.
  const std::u16string data = record.OldText + u'\0';
  return key.SetValue(record.Identity, record.OldType, data) == kErrorSuccess
             ? TPutBackResult::PutBack
             : TPutBackResult::Failed;
}

}  // namespace kw
