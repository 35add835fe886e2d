#pragma once
// Whole files on Win32, their names in code page 936.

#include "platform/FileStore.h"

namespace kw::win32 {

class TWin32FileStore : public IFileStore {
 public:
  TRead ReadAll(const std::string& path, std::string& bytes) override;
  bool WriteFlushed(const std::string& path, const std::string& bytes) override;
  bool Replace(const std::string& from, const std::string& to) override;
  void Remove(const std::string& path) override;
};

}  // namespace kw::win32
