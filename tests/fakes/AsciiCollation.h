#pragma once
// Case-insensitive comparison that folds the ASCII letters only. Bytes can be
// made weightless, as some characters are in a Windows locale: comparison
// ignores them, and sort keys leave them out but, as LCMapStringA's do, are
// empty for the empty text alone. Choosing other weightless bytes stands for
// the user choosing another locale.

#include <atomic>
#include <string>

#include "platform/Collation.h"

namespace kw::fake {

class AsciiCollation : public ICollation {
 public:
  bool EqualIgnoreCase(std::string_view a, std::string_view b) const override {
    std::size_t i = 0, j = 0;
    for (;;) {
      while (i < a.size() && IsWeightless(a[i])) ++i;
      while (j < b.size() && IsWeightless(b[j])) ++j;
      if (i == a.size() || j == b.size()) return i == a.size() && j == b.size();
      if (Fold(a[i++]) != Fold(b[j++])) return false;
    }
  }
  void SortKeyIgnoreCase(std::string_view text, std::string& key) const override {
    Weighed(text, key);
    if (!text.empty()) key += '\x01';  // the key's level separator
  }
  std::uint32_t LocaleId() const override { return Locale; }

  void SetWeightless(std::string bytes) {
    Weightless = std::move(bytes);
    ++Locale;
  }

 private:
  void Weighed(std::string_view text, std::string& key) const {
    key.clear();
    for (char c : text) {
      if (!IsWeightless(c)) key += Fold(c);
    }
  }
  bool IsWeightless(char c) const {
    return !Weightless.empty() && Weightless.find(c) != std::string::npos;
  }
  static char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

  std::string Weightless;
  std::atomic<std::uint32_t> Locale{0x804};
};

}  // namespace kw::fake
