#pragma once
// Files in memory, by exact path; writes can be refused, files locked, and
// each replacing write is counted.

#include <map>
#include <set>
#include <string>

#include "platform/Files.h"

namespace kw::fake {

class FakeFiles : public IFiles {
 public:
  TReadResult ReadWhole(const std::u16string& path, std::string& content) override {
    content.clear();
    const auto found = Files.find(path);
    if (found == Files.end()) return TReadResult::Missing;
    if (Locked.count(path)) return TReadResult::Unreadable;
    content = found->second;
    return TReadResult::Read;
  }
  bool WriteReplacing(const std::u16string& path, const std::string& content) override {
    ++Writes;
    if (Unwritable || Locked.count(path)) return false;
    Files[path] = content;
    return true;
  }
  bool MoveAside(const std::u16string& from, const std::u16string& to) override {
    const auto found = Files.find(from);
    if (found == Files.end() || Files.count(to) || Unwritable || Locked.count(from)) return false;
    Files[to] = found->second;
    Files.erase(found);
    return true;
  }

  std::map<std::u16string, std::string> Files;
  // Held open by another program without sharing.
  std::set<std::u16string> Locked;
  bool Unwritable = false;
  int Writes = 0;
};

}  // namespace kw::fake
