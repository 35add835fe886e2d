#pragma once
// INI files in memory, keyed by the exact file name asked for, with the
// profile functions' behaviour; a file can be made unwritable.

#include <map>
#include <set>
#include <string>

#include "lib/IniProfile.h"

namespace kw::fake {

class FakeProfile : public IProfile {
 public:
  std::string ReadString(const std::string& file, const std::string& section,
                         const std::string& key, const std::string& fallback) override {
    auto it = Files.find(file);
    return ReadProfileText(it == Files.end() ? "" : it->second, section, key, fallback);
  }
  bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) override {
    if (Unwritable.count(file)) return false;
    Files[file] = WriteProfileText(Files[file], section, key, value);
    return true;
  }
  std::map<std::string, std::string> Files;
  std::set<std::string> Unwritable;
};

}  // namespace kw::fake
