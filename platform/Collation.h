#pragma once
// The user locale's case-insensitive comparison of byte strings in the ANSI code page.

#include <cstdint>
#include <string>
#include <string_view>

namespace kw {

class ICollation {
 public:
  virtual ~ICollation() = default;
  // Equal ignoring case, as the user's locale judges it.
  virtual bool EqualIgnoreCase(std::string_view a, std::string_view b) const = 0;
  // Writes into `key` a sort key that is the same for any two non-empty texts
  // that EqualIgnoreCase finds equal. The empty text's key may differ from
  // those of texts equal to it (LCMapStringA refuses it). Reuses `key`'s storage.
  virtual void SortKeyIgnoreCase(std::string_view text, std::string& key) const = 0;
  // The locale whose rules the two above follow now. The user may choose
  // another while the program runs; whatever was built on the old rules is then stale.
  virtual std::uint32_t LocaleId() const = 0;
};

}  // namespace kw
