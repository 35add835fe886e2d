#pragma once
// The registry through advapi32's wide functions, in code page 936.

#include "platform/Registry.h"

namespace kw::win32 {

class TWin32Registry : public IRegistry {
 public:
  std::unique_ptr<IRegKey> OpenKey(HiveHandle hive, const std::string& path,
                                   std::uint32_t access, long* error) override;
  long CreateKey(HiveHandle hive, const std::string& path, std::uint32_t access) override;
};

// The predefined key handle of a hive value (0x80000000 + i).
HKEY HiveKey(HiveHandle hive);

}  // namespace kw::win32
