#include "monitor/RegistryAccess.h"

#include "lib/Exception.h"
#include "monitor/ChangeTexts.h"

namespace kw {

std::string_view SubKeyOf(std::string_view keyPath) {
  if (!keyPath.empty() && keyPath.front() == '\\') keyPath.remove_prefix(1);
  return keyPath;
}

std::unique_ptr<IRegKey> OpenKeyReadOnly(IRegistry& registry, HiveHandle hive,
                                         const std::string& keyPath) {
  const std::string subKey(SubKeyOf(keyPath));
  for (std::uint32_t access : {kKeyRead, kKeyReadNoNotify, kKeyQueryValue}) {
    if (auto key = registry.OpenKey(hive, subKey, access | kKeyWow64_64Key)) return key;
  }
  throw Exception(texts::kCannotOpenKey + keyPath);
}

}  // namespace kw
