#pragma once
// How the registry's UTF-16 names compare, and how they and their data are
// shown in code page 936.

#include <string>
#include <string_view>

namespace kw {

class IRegistryText {
 public:
  virtual ~IRegistryText() = default;
  // The system's upper-case table, one entry per UTF-16 code unit: the table
  // the registry itself folds names with, unit by unit, when it tells two
  // names apart (case-insensitive and ordinal, no locale).
  virtual const char16_t* UpcaseTable() const = 0;
  // `text` in code page 936, as shown to the user: '?' for each character
  // 936 lacks, never a look-alike. For display only: never for identities.
  virtual std::string ToAnsi(std::u16string_view text) const = 0;
  // Code page 936 text in UTF-16.
  virtual std::u16string FromAnsi(std::string_view text) const = 0;
};

}  // namespace kw
