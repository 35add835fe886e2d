#pragma once
// The values of one watched location at one moment, and how two of them compare.

#include <string>
#include <string_view>
#include <vector>

#include "monitor/ChangeRecord.h"
#include "monitor/WatchedKeys.h"
#include "platform/Registry.h"
#include "platform/RegistryText.h"

namespace kw {

struct TRegEntry {
  std::u16string SubKey;  // empty for the location's own values
  std::u16string Name;
  std::uint32_t Type = 0;
  // What Windows reads of the data: a string up to its first NUL, or the
  // items of a list, each followed by one NUL.
  std::u16string Data;
  // Subkey and name folded as the registry folds them, a backslash between
  // (a subkey's name holds none): two entries are one value when these match.
  std::u16string Identity = {};
};

// An entry's place in the table of a snapshot sorted by the hash of its
// identity, then by its identity, then by position: one allocation for a key
// of any size, where a node per entry would cost more than reading the key.
struct TRegSlot {
  std::uint64_t Hash;
  std::size_t Entry;
};

struct TRegSnapshot {
  std::vector<TRegEntry> Entries;  // in the registry's order
  // Sorted by TakeSnapshot, and kept with the snapshot, so that a comparison
  // sorts neither side; made afresh where it does not match the entries.
  std::vector<TRegSlot> Slots = {};
};

// Whether a snapshot could be read to its end, or found its key deleted.
enum class TSnapshotResult { Read, KeyGone };

// Whether a switch's data, as a snapshot of the switches keeps it, switches
// its entry off.
bool SwitchesOff(std::u16string_view state);

// What Windows reads of a value's data: a string up to its first NUL, or
// the items of a list, each followed by one NUL.
std::u16string DataOf(const TRegValue& value);

// Empties `snapshot` and fills it with the values of `key` that count for
// `location`: REG_SZ and REG_EXPAND_SZ, REG_MULTI_SZ where the location reads
// lists, only the named values where it names some, and those of its direct
// subkeys where subkeys count.
TSnapshotResult TakeSnapshot(IRegKey& key, const TLocation& location, const char16_t* upcase,
                             TRegSnapshot& snapshot);

// A value or subkey deleted while the key is read moves the ones after it
// up, and the read can pass over one of them that never went. Each value
// that `records` has deleted is asked for by name, in its subkey; those
// still there go into `snapshot`. True when there was one: the comparison is
// then made again.
bool FindPassedOver(IRegKey& key, const TLocation& location, const char16_t* upcase,
                    const std::vector<TChangeRecord>& records, TRegSnapshot& snapshot);

// What a comparison needs to describe what it finds.
struct TCompareContext {
  HiveHandle RootKey = 0;
  std::string Path;  // the location's path, as shown
  const IRegistryText& Text;
  bool Settings = false;  // the location's values are settings Windows needs
  // The location's TLocation::Switch and TLocation::Switches.
  std::u16string Switch = {};
  bool Switches = false;
  // REG_SZ and REG_EXPAND_SZ differ: what reads the values (COM) expands
  // only the one, so a change of type alone starts another program.
  bool TypeCounts = false;
};

// The identity of a value named `name` under `subKey`, folded with `upcase`.
std::u16string IdentityOf(const char16_t* upcase, std::u16string_view subKey,
                          std::u16string_view name);

// Appends a record per deleted, changed (in the old snapshot's order) and
// added (in the new one's) entry to `records`. Names match as the registry
// matches them: case-insensitive, ordinal. REG_SZ and REG_EXPAND_SZ are one
// kind of data: a change between them with the same text is no change.
void CompareSnapshots(const TRegSnapshot& oldSnapshot, const TRegSnapshot& newSnapshot,
                      const TCompareContext& context, std::vector<TChangeRecord>& records);

// The program path of a command line: cut at ".exe" when ".exe/" follows
// somewhere, then at the first "/".
std::string ExtractProgramPath(std::string_view command);
std::string StripQuotes(std::string_view text);
std::u16string StripQuotes(std::u16string_view text);
std::string StripSemicolons(std::string_view text);
// What a deleted or added entry shows: its data reduced to the program path.
std::string PathLine(std::string_view data);
// The same, exactly: the program path of data as the registry holds it.
std::u16string PathLine(std::u16string_view data);
// Data as a person reads it: a list's items (`type` REG_MULTI_SZ, each
// followed by a NUL) joined by " | ", any other string as it is.
std::u16string ReadableData(std::u16string_view data, std::uint32_t type);
// What a changed entry shows: its name and its whole old and new data.
std::string ChangedLine(std::string_view name, std::string_view oldData, std::string_view newData);

}  // namespace kw
