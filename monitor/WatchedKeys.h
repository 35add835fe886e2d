#pragma once
// Every registry location the guard watches. The first fourteen rows are the
// seven autostart keys, under HKEY_LOCAL_MACHINE and then HKEY_CURRENT_USER;
// the rows after them are the further places from which Windows starts
// programs. A row is one watcher.

#include <string>
#include <vector>

#include "platform/Types.h"

namespace kw {

struct TLocation {
  HiveHandle Hive = kHkeyCurrentUser;
  // Below the hive, with a leading backslash, as the alert shows it. Keys of
  // the 32-bit view are named by their Wow6432Node path in the native view.
  std::string Path;
  // The values that start programs, ASCII names in any case; empty: every value.
  std::vector<std::string> Values;
  // The values of its direct subkeys count too, each shown under its subkey.
  bool SubKeys = false;
  // REG_MULTI_SZ values are read too, shown as their items.
  bool MultiString = false;
  // Its values are settings Windows itself needs to start (Winlogon's
  // Userinit, BootExecute, a startup folder's place): the alert reports
  // them but leaves changing them back to the registry editor.
  bool Settings = false;
  // The subkey of kStartupApproved, under the same hive, that holds Windows'
  // own switch for each of its values (Task Manager's startup page); empty
  // where Windows keeps none.
  std::u16string Switch = {};
  // Its subkeys' values are those switches: an entry is switched off while
  // the REG_BINARY value of its name begins with an odd byte.
  bool Switches = false;
  // REG_DWORD values count too (flags that make Windows start a program),
  // shown as their number.
  bool Numbers = false;
  // With SubKeys: the subkeys of each direct subkey whose values count, in
  // place of the direct subkeys' own (a class's servers), each shown under
  // both names.
  std::vector<std::string> Inner = {};
};

// Where Windows keeps its startup switches, below either hive.
inline constexpr char kStartupApproved[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved";

// The seven keys, in the order their rows are numbered.
inline std::vector<std::string> WatchedKeyTable() {
  return {
      "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
      "\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
      "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
      "\\Control Panel\\Desktop",
      "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce",
      "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServices",
      "\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run",
  };
}

// Every watched location: the seven keys under both hives, then the rest.
std::vector<TLocation> WatchedLocations(const std::vector<std::string>& sevenKeys);

}  // namespace kw
