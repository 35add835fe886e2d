#include "lib/Hives.h"

namespace kw {

namespace {
constexpr const char* kHiveNames[] = {
    "HKEY_CLASSES_ROOT",     "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE", "HKEY_USERS",
    "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};
constexpr HiveHandle kHiveCount = sizeof kHiveNames / sizeof *kHiveNames;

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
}  // namespace

std::string HiveToName(HiveHandle hive) {
  if (hive < kHkeyClassesRoot || hive - kHkeyClassesRoot >= kHiveCount) return {};
  return kHiveNames[hive - kHkeyClassesRoot];
}

HiveHandle NameToHive(std::string_view name) {
  for (HiveHandle i = 0; i < kHiveCount; ++i) {
    std::string_view candidate = kHiveNames[i];
    if (candidate.size() != name.size()) continue;
    bool equal = true;
    for (std::size_t k = 0; k < name.size() && equal; ++k)
      equal = UpperAscii(name[k]) == candidate[k];
    if (equal) return kHkeyClassesRoot + i;
  }
  return 0;
}

}  // namespace kw
