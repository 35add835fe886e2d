#pragma once
// The changes still in the alert's list when the guard ends, kept beside the
// saved state so that the next start shows them again until the user
// presses "确定". Framed and keyed as the saved state is; a file that does
// not read whole is refused whole.

#include <string>
#include <vector>

#include "monitor/ChangeRecord.h"
#include "monitor/SavedState.h"
#include "platform/Files.h"

namespace kw {

std::string EncodePendingRecords(const std::vector<TChangeRecord>& records,
                                 const std::string& secret);

// Fills `records` from `text`; leaves it empty unless the whole text reads.
TDecodeResult DecodePendingRecords(const std::string& text, const std::string& secret,
                                   std::vector<TChangeRecord>& records);

enum class TPendingLoad {
  None,        // no file: nothing was left
  Read,        // the records, as they were kept
  Unreadable,  // locked, refused, damaged or forged: not shown, and the user is told
};

// The file of the unconfirmed changes, written as a whole each time.
class TPendingFile {
 public:
  TPendingFile(IFiles& files, std::u16string path, std::string secret)
      : Files(files), Path(std::move(path)), Secret(std::move(secret)) {}

  TPendingLoad Load(std::vector<TChangeRecord>& records) {
    records.clear();
    std::string content;
    switch (Files.ReadWhole(Path, content)) {
      case TReadResult::Missing:
        return TPendingLoad::None;
      case TReadResult::Unreadable:
        return TPendingLoad::Unreadable;
      case TReadResult::Read:
        break;
    }
    if (Secret.empty() || DecodePendingRecords(content, Secret, records) != TDecodeResult::Read) {
      return TPendingLoad::Unreadable;
    }
    return TPendingLoad::Read;
  }
  bool Save(const std::vector<TChangeRecord>& records) {
    return !Secret.empty() && Files.WriteReplacing(Path, EncodePendingRecords(records, Secret));
  }
  const std::u16string& FileName() const { return Path; }

 private:
  IFiles& Files;
  std::u16string Path;
  std::string Secret;
};

}  // namespace kw
