#include <windows.h>

#include "platform/win32/Win32Collation.h"

#include <algorithm>

namespace kw::win32 {

bool TWin32Collation::EqualIgnoreCase(std::string_view a, std::string_view b) const {
  return ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(),
                          static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

std::uint32_t TWin32Collation::LocaleId() const {
  return ::GetUserDefaultLCID();
}

void TWin32Collation::SortKeyIgnoreCase(std::string_view text, std::string& key) const {
  const int length = static_cast<int>(text.size());
  key.resize(std::max<std::size_t>(key.capacity(), 64));  // no allocation once warm
  int size = ::LCMapStringA(LOCALE_USER_DEFAULT, LCMAP_SORTKEY | NORM_IGNORECASE, text.data(),
                            length, key.data(), static_cast<int>(key.size()));
  if (size == 0) {
    size = ::LCMapStringA(LOCALE_USER_DEFAULT, LCMAP_SORTKEY | NORM_IGNORECASE, text.data(), length,
                          nullptr, 0);
    key.resize(static_cast<std::size_t>(size));
    if (size > 0) {
      size = ::LCMapStringA(LOCALE_USER_DEFAULT, LCMAP_SORTKEY | NORM_IGNORECASE, text.data(),
                            length, key.data(), size);
    }
  }
  key.resize(static_cast<std::size_t>(size > 0 ? size : 0));
}

}  // namespace kw::win32
