#pragma once
// Putting a changed or deleted registry value back as it was before the
// change: its old data, as Windows read it, and its old type, under its
// exact name. Only while the value is still as the change left it: one
// changed again since is never overwritten. A deleted startup shortcut is
// made again with the target and arguments the guard read of it, under its
// exact name, where no file has taken its place.

#include "monitor/ChangeRecord.h"
#include "platform/Folders.h"
#include "platform/Registry.h"

namespace kw {

enum class TPutBackResult { PutBack, ChangedSince, Failed };

// Whether `record` is a change that can be put back: a changed or deleted
// value of a key whose old side is known, or a deleted shortcut whose
// target the guard read.
bool CanPutBack(const TChangeRecord& record);
bool IsFilePutBack(const TChangeRecord& record);

// Puts the record's value back in `key`, the key that holds it.
TPutBackResult PutBack(IRegKey& key, const TChangeRecord& record);
// Makes the record's shortcut again in its folder.
TPutBackResult PutBack(IFolders& folders, const TChangeRecord& record);

}  // namespace kw
