#pragma once
// One reported change. The watchers make records; everything after them (the
// alert's list and fields, the actions, the event log, the saved state) only
// reads them.

#include <cstdint>
#include <string>

#include "platform/Clock.h"
#include "platform/Types.h"

namespace kw {

enum class TChangeKind : std::uint8_t {
  Added,         // a value or file that was not there before
  Deleted,       // a value or file that is gone
  Changed,       // the same value or file with other data
  NotWatched,    // a location that cannot be watched now; the guard keeps trying
  WatchedAgain,  // a location that could not be watched and now is
  Stopped,       // the watcher of a location has stopped for good
};

// Where a record comes from: a registry key, or a startup folder.
enum class TLocationKind : std::uint8_t { RegistryKey, StartupFolder };

struct TChangeRecord {
  TChangeKind Kind = TChangeKind::Added;
  TLocationKind Where = TLocationKind::RegistryKey;
  // When the guard took the record from its watcher.
  TLocalTime Time;
  // The hive of a registry record; 0 for a folder.
  HiveHandle RootKey = 0;
  // kKeyWow64_64Key or kKeyWow64_32Key: the registry view the key was read in.
  std::uint32_t View = 0;
  // The key path with its leading backslash, or the folder's full path (code page 936).
  std::string Location;
  // The value or file name as shown: code page 936, '?' for what it lacks.
  std::string ValueName;
  // The value's name exactly as the registry holds it, in UTF-16: the
  // identity that deleting the reported value acts on. The file name for a folder.
  std::u16string Identity;
  // The direct subkey of the watched key that holds the value, exactly as the
  // registry names it; empty for the key's own values. For a file, the
  // folder that holds it, exactly as the file system names it.
  std::u16string IdentitySubKey;
  // The data as stored (code page 936); empty on the side where there is none.
  std::string OldData;
  std::string NewData;
  // The registry type of the data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ).
  std::uint32_t Type = 0;
  // What Edit3 shows: the program path, the whole change line, or a notice.
  std::string Line;
  // The program the entry starts, taken from its data (environment strings
  // not yet expanded); empty when it names none.
  std::string ProgramPath;
  // A named value Windows itself needs (Winlogon's Shell, BootExecute, a
  // startup folder's location): deleting it would break Windows, so the
  // alert leaves it to the user to change it back in the registry editor.
  bool Setting = false;
  // The caption the record gives the alert; empty leaves the caption as it is.
  std::string Title;
};

}  // namespace kw
