#pragma once
// The saved state's file operations on Win32: wide functions, paths
// converted from code page 936.

#include "platform/Files.h"

namespace kw::win32 {

class TWin32Files : public IFiles {
 public:
  // A file larger than this is not read: no saved state is ever near it.
  static constexpr unsigned long long kMaxRead = 256ull << 20;

  bool ReadWhole(const std::string& path, std::string& content) override;
  bool WriteReplacing(const std::string& path, const std::string& content) override;
  bool MoveAside(const std::string& from, const std::string& to) override;
};

}  // namespace kw::win32
