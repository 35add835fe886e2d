#pragma once
// Files in memory, by exact path; writes can be refused, and each replacing
// write is counted.

#include <map>
#include <string>

#include "platform/Files.h"

namespace kw::fake {

class FakeFiles : public IFiles {
 public:
  bool ReadWhole(const std::string& path, std::string& content) override {
    const auto found = Files.find(path);
    if (found == Files.end()) return false;
    content = found->second;
    return true;
  }
  bool WriteReplacing(const std::string& path, const std::string& content) override {
    ++Writes;
    if (Unwritable) return false;
    Files[path] = content;
    return true;
  }
  bool MoveAside(const std::string& from, const std::string& to) override {
    const auto found = Files.find(from);
    if (found == Files.end() || Files.count(to) || Unwritable) return false;
    Files[to] = found->second;
    Files.erase(found);
    return true;
  }

  std::map<std::string, std::string> Files;
  bool Unwritable = false;
  int Writes = 0;
};

}  // namespace kw::fake
