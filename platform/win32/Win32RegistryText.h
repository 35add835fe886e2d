#pragma once
// Registry names as the registry compares them, and their display in code page 936.

#include <vector>

#include "platform/RegistryText.h"

namespace kw::win32 {

class TWin32RegistryText : public IRegistryText {
 public:
  TWin32RegistryText();
  const char16_t* UpcaseTable() const override { return Upcase.data(); }
  std::string ToAnsi(std::u16string_view text) const override;
  std::u16string FromAnsi(std::string_view text) const override;

 private:
  std::vector<char16_t> Upcase;  // 65,536 entries
};

}  // namespace kw::win32
