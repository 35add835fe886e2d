#pragma once
// Registry text for the native tests. Names fold their ASCII letters only.
// Code page 936 bytes travel losslessly: a double-byte character becomes one
// private-use character of plane 15 (a surrogate pair) and a lone byte of
// 0x80 and above a private-use unit (U+F780 to U+F7FF), and back, so tests
// can write Chinese names in 936 bytes; any other unit beyond ASCII is a
// character 936 lacks and shows as '?'.

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
  std::string ToAnsi(std::u16string_view text) const override { return Narrow(text); }
  std::u16string FromAnsi(std::string_view text) const override { return Widen(text); }

  static std::string Narrow(std::u16string_view text) {
    std::string ansi;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char16_t unit = text[i];
      if (unit < 0x80) {
        ansi += static_cast<char>(unit);
      } else if (unit >= 0xF780 && unit <= 0xF7FF) {
        ansi += static_cast<char>(unit - 0xF700);
      } else if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
        const char32_t code = 0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (code >= kDoubleByteBase && code <= kDoubleByteBase + 0xFFFF) {
          ansi += static_cast<char>((code - kDoubleByteBase) >> 8);
          ansi += static_cast<char>((code - kDoubleByteBase) & 0xFF);
        } else {
          ansi += '?';
        }
      } else {
        ansi += '?';
      }
    }
    return ansi;
  }

  static std::u16string Widen(std::string_view text) {
    std::u16string wide;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto byte = static_cast<unsigned char>(text[i]);
      if (byte < 0x80) {
        wide += static_cast<char16_t>(byte);
      } else if (byte >= 0x81 && byte <= 0xFE && i + 1 < text.size() &&
                 static_cast<unsigned char>(text[i + 1]) >= 0x40) {
        // A double-byte character is one character, as MultiByteToWideChar
        // makes it: its second byte is never taken for a backslash or a '|'.
        const char32_t code =
            kDoubleByteBase + (byte << 8) + static_cast<unsigned char>(text[++i]) - 0x10000;
        wide += static_cast<char16_t>(0xD800 + (code >> 10));
        wide += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
      } else {
        wide += static_cast<char16_t>(0xF700 + byte);
      }
    }
    return wide;
  }

 private:
  // Double-byte characters travel as code points of plane 15, which is for private use.
  static constexpr char32_t kDoubleByteBase = 0xF0000;
  static bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit < 0xDC00; }
  static bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit < 0xE000; }
  std::vector<char16_t> Upcase;
};

}  // namespace kw::fake
