#pragma once
// The registry as the watchers see it: open a key, read its values and
// subkeys, arm its change signal.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Sync.h"
#include "platform/Types.h"

namespace kw {

// One value as the registry holds it. Names and text data are UTF-16 exactly
// as stored, so that nothing a conversion loses can hide a value or merge two.
struct TRegValue {
  std::u16string Name;
  std::uint32_t Type = 0;
  // The data of REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ values in UTF-16 code
  // units, whole: terminating and embedded NULs included, an odd last byte
  // as a unit of its own. REG_BINARY and REG_DWORD data (switches and
  // flags) the same way, two bytes a unit, the first in its low byte. Empty
  // for other types, which are not read.
  std::u16string Text;
};

// An open key; destroying it closes the handle.
class IRegKey {
 public:
  virtual ~IRegKey() = default;
  // Value `index` into `value`, growing whatever buffers it needs: a name of
  // any length the registry allows. A Win32 error code: kErrorNoMoreItems
  // past the last, kErrorKeyDeleted once the key is gone.
  virtual long EnumValue(std::uint32_t index, TRegValue& value) = 0;
  // The name of subkey `index`; a Win32 error code as for EnumValue.
  virtual long EnumSubKey(std::uint32_t index, std::u16string& name) = 0;
  // Opens a direct subkey by its exact name; null when that fails.
  virtual std::unique_ptr<IRegKey> OpenSubKey(const std::u16string& name,
                                              std::uint32_t access) = 0;
  // Asks for one signal of `event` on the next change; gives a Win32 error code.
  virtual long NotifyChange(bool watchSubTree, std::uint32_t filter, IEvent& event) = 0;
  // The value of exactly this name into `value`, as EnumValue reads it; a
  // Win32 error code: kErrorFileNotFound when there is none.
  virtual long QueryValue(const std::u16string& name, TRegValue& value) = 0;
  // RegDeleteValue of exactly this name; gives a Win32 error code.
  virtual long DeleteValue(const std::u16string& name) = 0;
  // RegSetValueEx of exactly this name, as `type`, with `text`'s code units,
  // whole, as the data; gives a Win32 error code.
  virtual long SetValue(const std::u16string& name, std::uint32_t type,
                        const std::u16string& text) = 0;
  // RegSetValueEx as REG_SZ with the terminating NUL, name and data in code
  // page 936; gives a Win32 error code.
  virtual long SetStringValue(const std::string& name, const std::string& data) = 0;
};

class IRegistry {
 public:
  virtual ~IRegistry() = default;
  // Opens `path` (code page 936, no leading backslash; empty for the hive
  // itself) below `hive`; null when that fails, with the Win32 error code in
  // `error` when one is given.
  virtual std::unique_ptr<IRegKey> OpenKey(HiveHandle hive, const std::string& path,
                                           std::uint32_t access, long* error = nullptr) = 0;
  // RegCreateKeyEx, then RegCloseKey: makes sure the key exists. A Win32 error code.
  virtual long CreateKey(HiveHandle hive, const std::string& path, std::uint32_t access) = 0;
};

}  // namespace kw
