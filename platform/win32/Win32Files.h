#pragma once
// The kept files' operations on Win32: the wide functions.

#include "platform/Files.h"

namespace kw::win32 {

class TWin32Files : public IFiles {
 public:
  // A file larger than this is not read: no saved state is ever near it.
  static constexpr unsigned long long kMaxRead = 256ull << 20;
  // How long a file held open without sharing is asked for again.
  static constexpr unsigned long kLockedWaitMs = 5000;

  TReadResult ReadWhole(const std::u16string& path, std::string& content) override;
  bool WriteReplacing(const std::u16string& path, const std::string& content) override;
  bool MoveAside(const std::u16string& from, const std::u16string& to) override;
};

}  // namespace kw::win32
