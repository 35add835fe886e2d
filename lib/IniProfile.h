#pragma once
// The profile functions' behaviour on plain files, for platforms without them:
// sections and keys found regardless of ASCII case, one write changing one
// entry and leaving every other entry and section as it was. A write never
// leaves the file half written: the new text goes to a file beside it, which
// then takes its place in one step.

#include <string>

#include "platform/FileStore.h"
#include "platform/Profile.h"

namespace kw {

class TIniProfile : public IProfile {
 public:
  // On the C library's files (POSIX renaming semantics).
  TIniProfile();
  explicit TIniProfile(IFileStore& files) : Files(files) {}

  std::string ReadString(const std::string& file, const std::string& section,
                         const std::string& key, const std::string& fallback) override;
  bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) override;

 private:
  IFileStore& Files;
};

// Where the new text of `file` is written before it replaces the file.
std::string TemporaryFileFor(const std::string& file);

// The same on text in memory, for the above and for tests.
std::string ReadProfileText(const std::string& text, const std::string& section,
                            const std::string& key, const std::string& fallback);
std::string WriteProfileText(const std::string& text, const std::string& section,
                             const std::string& key, const std::string& value);

}  // namespace kw
