#pragma once
// The autostart keys watched under each hive; the row is the monitors' Index.

#include <string>
#include <vector>

namespace kw {

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

}  // namespace kw
