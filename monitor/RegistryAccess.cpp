#include "monitor/RegistryAccess.h"


namespace kw {

std::string_view SubKeyOf(std::string_view keyPath) {
  if (!keyPath.empty() && keyPath.front() == '\\') keyPath.remove_prefix(1);
  return keyPath;
}

}  // namespace kw
