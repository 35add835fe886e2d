#include "ui/PutBack.h"

#include "monitor/FolderSnapshot.h"
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

// A shortcut that could not be read names itself as its program.
bool IsFilePutBack(const TChangeRecord& record) {
  return record.Where == TLocationKind::StartupFolder && record.Kind == TChangeKind::Deleted &&
         IsShortcut(record.Identity) && !record.Program.empty() &&
         record.Program != InFolder(record.IdentitySubKey, record.Identity);
}

bool CanPutBack(const TChangeRecord& record) {
  if (IsFilePutBack(record)) return true;
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

TPutBackResult PutBack(IFolders& folders, const TChangeRecord& record) {
  if (!IsFilePutBack(record)) return TPutBackResult::Failed;
  switch (folders.MakeShortcut(InFolder(record.IdentitySubKey, record.Identity), record.Program,
                               record.OldText)) {
    case TMakeResult::Made:
      return TPutBackResult::PutBack;
    case TMakeResult::Exists:
      return TPutBackResult::ChangedSince;
    case TMakeResult::Failed:
      break;
  }
  return TPutBackResult::Failed;
}

}  // namespace kw
