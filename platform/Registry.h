#pragma once
// The registry as the monitors see it: open a key, read its values, arm its change signal.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Sync.h"
#include "platform/Types.h"

namespace kw {

// An open key; destroying it closes the handle.
class IRegKey {
 public:
  virtual ~IRegKey() = default;
  // The largest data size in bytes of any value of the key; false when the
  // key's information cannot be read.
  virtual bool QueryMaxDataLen(std::uint32_t& maxDataLen) = 0;
  // As RegEnumValueA on a code page 936 system: nameLen and dataLen carry the
  // buffer sizes in and the lengths out (name length without its NUL), both
  // in bytes of 936. Gives a Win32 error code.
  virtual long EnumValue(std::uint32_t index, char* name, std::uint32_t& nameLen,
                         std::uint32_t& type, unsigned char* data, std::uint32_t& dataLen) = 0;
  // Asks for one signal of `event` on the next change; gives a Win32 error code.
  virtual long NotifyChange(bool watchSubTree, std::uint32_t filter, IEvent& event) = 0;
  // RegDeleteValue; gives a Win32 error code.
  virtual long DeleteValue(const std::string& name) = 0;
  // RegSetValueEx as REG_SZ with the terminating NUL; gives a Win32 error code.
  virtual long SetStringValue(const std::string& name, const std::string& data) = 0;
};

class IRegistry {
 public:
  virtual ~IRegistry() = default;
  // Opens `path` (no leading backslash) below `hive`; null when that fails.
  virtual std::unique_ptr<IRegKey> OpenKey(HiveHandle hive, const std::string& path,
                                           std::uint32_t access) = 0;
  // RegCreateKeyEx, then RegCloseKey: makes sure the key exists. A Win32 error code.
  virtual long CreateKey(HiveHandle hive, const std::string& path, std::uint32_t access) = 0;
};

}  // namespace kw
