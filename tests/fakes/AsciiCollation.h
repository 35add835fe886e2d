#pragma once
// Case-insensitive comparison that folds the ASCII letters only.

#include "platform/Collation.h"

namespace kw::fake {

class AsciiCollation : public ICollation {
 public:
  bool EqualIgnoreCase(std::string_view a, std::string_view b) const override {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (Fold(a[i]) != Fold(b[i])) return false;
    }
    return true;
  }
  void SortKeyIgnoreCase(std::string_view text, std::string& key) const override {
    key.assign(text);
    for (char& c : key) c = Fold(c);
  }

 private:
  static char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
};

}  // namespace kw::fake
