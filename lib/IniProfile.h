#pragma once
// The profile functions' behaviour on plain files, for platforms without them:
// sections and keys found regardless of ASCII case, one write changing one
// entry and leaving every other entry and section as it was.

#include <string>

#include "platform/Profile.h"

namespace kw {

class TIniProfile : public IProfile {
 public:
  std::string ReadString(const std::string& file, const std::string& section,
                         const std::string& key, const std::string& fallback) override;
  bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) override;
};

// The same on text in memory, for the above and for tests.
std::string ReadProfileText(const std::string& text, const std::string& section,
                            const std::string& key, const std::string& fallback);
std::string WriteProfileText(const std::string& text, const std::string& section,
                             const std::string& key, const std::string& value);

}  // namespace kw
