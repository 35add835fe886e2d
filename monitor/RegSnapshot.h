#pragma once
// The string values of one key at one moment, and how two of them compare.

#include <string>
#include <string_view>
#include <vector>

#include "monitor/ChangeData.h"
#include "monitor/NameList.h"
#include "platform/Registry.h"

namespace kw {

struct TRegSnapshot {
  explicit TRegSnapshot(const ICollation& collation) : Names(collation) {}

  TNameList Names;
  std::vector<std::string> Data;  // entry i is the data of the value Names[i]
};

// Empties `snapshot` and fills it with the REG_SZ values of `key`, in the
// registry's order. `buffer` is reused from one call to the next.
void TakeSnapshot(IRegKey& key, TRegSnapshot& snapshot, std::vector<unsigned char>& buffer);

// Appends a line per added, deleted or changed entry to changeData.Changes and
// sets its Title and ValueName. When it found a difference, `oldSnapshot`
// takes the contents of `newSnapshot`, and `newSnapshot` is left with
// unspecified contents: it is refilled before it is read again.
void CompareSnapshots(TRegSnapshot& oldSnapshot, TRegSnapshot& newSnapshot,
                      TChangeData& changeData);

// The program path of a command line: cut at ".exe" when ".exe/" follows
// somewhere, then at the first "/".
std::string ExtractProgramPath(std::string_view command);
std::string StripQuotes(std::string_view text);
std::string StripSemicolons(std::string_view text);
// What a deleted or added entry shows: its data reduced to the program path.
std::string PathLine(std::string_view data);
// What a changed entry shows: its name and its whole old and new data.
std::string ChangedLine(std::string_view name, std::string_view oldData, std::string_view newData);

}  // namespace kw
