#pragma once
// The profile functions: text entries in INI files.

#include <string>

namespace kw {

class IProfile {
 public:
  virtual ~IProfile() = default;
  // GetPrivateProfileStringA through a buffer of 2048 bytes: at most 2047
  // characters; `fallback` when the file, section or key is missing.
  virtual std::string ReadString(const std::string& file, const std::string& section,
                                 const std::string& key, const std::string& fallback) = 0;
  // WritePrivateProfileStringA; false when it fails.
  virtual bool WriteString(const std::string& file, const std::string& section,
                           const std::string& key, const std::string& value) = 0;
};

}  // namespace kw
