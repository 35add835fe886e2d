#pragma once
// Putting a changed or deleted registry value back as it was before the
// change: its old data, as Windows read it, and its old type, under its
// exact name. Only while the value is still as the change left it: one
// changed again since is never overwritten.

#include "monitor/ChangeRecord.h"
#include "platform/Registry.h"

namespace kw {

enum class TPutBackResult { PutBack, ChangedSince, Failed };

// Whether `record` is a change that can be put back: a changed or deleted
// value of a key whose old side is known.
bool CanPutBack(const TChangeRecord& record);

// Puts the record's value back in `key`, the key that holds it.
TPutBackResult PutBack(IRegKey& key, const TChangeRecord& record);

}  // namespace kw
