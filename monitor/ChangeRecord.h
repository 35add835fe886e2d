#pragma once
// One reported change. The watchers make records; everything after them (the
// alert's list and fields, the actions, the event log, the saved state) only
// reads them.
//
// A record holds two kinds of text. The facts are UTF-16, exactly as the
// registry or the file system holds them: whatever acts on a change or
// remembers it reads those. The texts in code page 936 are only what the
// alert shows, made without best fit: a character 936 lacks shows as '?',
// never as a plain letter that names another file.

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

// Where a record comes from: a registry key, a startup folder, or the Task
// Scheduler's tasks.
enum class TLocationKind : std::uint8_t { RegistryKey, StartupFolder, ScheduledTask };

struct TChangeRecord {
  TChangeKind Kind = TChangeKind::Added;
  TLocationKind Where = TLocationKind::RegistryKey;
  // When the guard took the record from its watcher.
  TLocalTime Time;
  // The hive of a registry record; 0 for a folder.
  HiveHandle RootKey = 0;
  // kKeyWow64_64Key or kKeyWow64_32Key: the registry view the key was read in.
  std::uint32_t View = 0;
  // The key path with its leading backslash, or the folder's full path, as shown.
  std::string Location;
  // The same, exactly: the watched location's path, then the subkey that
  // holds the value; the folder's full path for a file.
  std::u16string Key;
  // The value or file name as shown; "(默认)" for a key's default value.
  std::string ValueName;
  // The value's name exactly as the registry holds it, in UTF-16: the
  // identity that deleting the reported value acts on. The file name for a folder.
  std::u16string Identity;
  // The direct subkey of the watched key that holds the value, exactly as the
  // registry names it; empty for the key's own values. For a file, the
  // folder that holds it, exactly as the file system names it.
  std::u16string IdentitySubKey;
  // The data as shown (a list's items joined by " | "); empty on the side
  // where there is none.
  std::string OldData;
  std::string NewData;
  // The data exactly as Windows reads it: a string up to its first NUL, a
  // list's items each followed by a NUL; a shortcut's arguments.
  std::u16string OldText;
  std::u16string NewText;
  // The registry type of the data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ).
  std::uint32_t Type = 0;
  // The type the old side had: what putting a changed or deleted value back
  // writes it as. 0 where there is no old side, or it is not known.
  std::uint32_t OldType = 0;
  // What Edit3 shows: the program path, the whole change line, or a notice.
  std::string Line;
  // The program the entry starts, taken from its data (environment strings
  // not yet expanded), as shown; empty when it names none.
  std::string ProgramPath;
  // The same program path, exactly: what the actions and the log use.
  std::u16string Program;
  // A named value Windows itself needs (Winlogon's Shell, BootExecute, a
  // startup folder's location): deleting it would break Windows, so the
  // alert leaves it to the user to change it back in the registry editor.
  bool Setting = false;
  // Windows' own switch for the entry, as Task Manager's startup page keeps
  // it: the hive, and the subkey of Explorer\StartupApproved that holds a
  // value of the entry's name. 0 and empty where Windows keeps none. For a
  // switch's own record (of type REG_BINARY), the switch itself.
  HiveHandle SwitchHive = 0;
  std::u16string SwitchKey;
  // The caption the record gives the alert; empty leaves the caption as it is.
  std::string Title;
};

}  // namespace kw
