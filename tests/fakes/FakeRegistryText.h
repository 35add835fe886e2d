#pragma once
// Registry text for the native tests. Names fold their ASCII letters only.
// Code page 936 bytes travel losslessly: a byte of 0x80 and above becomes a
// private-use unit (U+F780 to U+F7FF) and back, so tests can write Chinese
// names in 936 bytes; any other unit beyond ASCII is a character 936 lacks
// and shows as '?'.

#include <vector>

#include "platform/RegistryText.h"

namespace kw::fake {

class FakeRegistryText : public IRegistryText {
 public:
  FakeRegistryText() : Upcase(0x10000) {
    for (std::size_t unit = 0; unit < Upcase.size(); ++unit) {
      Upcase[unit] = static_cast<char16_t>(unit >= 'a' && unit <= 'z' ? unit - 32 : unit);
    }
  }
  const char16_t* UpcaseTable() const override { return Upcase.data(); }
  std::string ToAnsi(std::u16string_view text) const override {
    std::string ansi;
    for (char16_t unit : text) {
      if (unit < 0x80) {
        ansi += static_cast<char>(unit);
      } else if (unit >= 0xF780 && unit <= 0xF7FF) {
        ansi += static_cast<char>(unit - 0xF700);
      } else {
        ansi += '?';
      }
    }
    return ansi;
  }
  std::u16string FromAnsi(std::string_view text) const override { return Widen(text); }

  static std::u16string Widen(std::string_view text) {
    std::u16string wide;
    for (unsigned char byte : text) wide += static_cast<char16_t>(byte < 0x80 ? byte : 0xF700 + byte);
    return wide;
  }

 private:
  std::vector<char16_t> Upcase;
};

}  // namespace kw::fake
