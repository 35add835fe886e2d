#pragma once
// The profile functions: text entries in INI files.

#include <string>

namespace kw {

class IProfile {
 public:
  virtual ~IProfile() = default;
  // As GetPrivateProfileStringA through a buffer of 2048 bytes: at most 2047
  // bytes; `fallback` when the file, section or key is missing. The file's
  // text is code page 936, as the program's strings are.
  virtual std::string ReadString(const std::string& file, const std::string& section,
                                 const std::string& key, const std::string& fallback) = 0;
  // As WritePrivateProfileStringA; false when it fails.
  virtual bool WriteString(const std::string& file, const std::string& section,
                           const std::string& key, const std::string& value) = 0;
};

}  // namespace kw
