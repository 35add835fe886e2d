#pragma once
// The user locale's case-insensitive comparison of code page 936 text: CompareStringW
// and its sort keys, whatever the system's ANSI code page.

#include "platform/Collation.h"

namespace kw::win32 {

class TWin32Collation : public ICollation {
 public:
  bool EqualIgnoreCase(std::string_view a, std::string_view b) const override;
  void SortKeyIgnoreCase(std::string_view text, std::string& key) const override;
  // What LOCALE_USER_DEFAULT stands for at this moment.
  std::uint32_t LocaleId() const override;
};

}  // namespace kw::win32
