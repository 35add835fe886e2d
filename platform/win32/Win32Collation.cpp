#include <windows.h>

#include "platform/win32/Win32Collation.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "toolkit/win32/Text.h"

namespace kw::win32 {

namespace {

// A text of code page 936 made wide, on the stack when it is short: names
// are compared by the thousand on every pass. No byte gives more than one
// wide character.
class TWideText {
 public:
  explicit TWideText(std::string_view text) {
    wchar_t* out = Local;
    if (text.size() > std::size(Local)) {
      Heap.resize(text.size());
      out = Heap.data();
    }
    Size = text.empty() ? 0
                        : ::MultiByteToWideChar(
                              kCodePage, 0, text.data(), static_cast<int>(text.size()), out,
                              static_cast<int>(std::max<std::size_t>(text.size(), 1)));
    Data = out;
  }
  const wchar_t* Data;
  int Size;

 private:
  wchar_t Local[256];
  std::wstring Heap;
};

}  // namespace

bool TWin32Collation::EqualIgnoreCase(std::string_view a, std::string_view b) const {
  const TWideText wideA(a), wideB(b);
  return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, wideA.Data, wideA.Size, wideB.Data,
                          wideB.Size) == CSTR_EQUAL;
}

std::uint32_t TWin32Collation::LocaleId() const {
  return ::GetUserDefaultLCID();
}

void TWin32Collation::SortKeyIgnoreCase(std::string_view text, std::string& key) const {
  const TWideText wide(text);
  key.resize(std::max<std::size_t>(key.capacity(), 64));  // no allocation once warm
  // A sort key is bytes, sized in bytes, for the wide function too.
  auto map = [&](char* out, int size) {
    return ::LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_SORTKEY | NORM_IGNORECASE, wide.Data,
                          wide.Size, reinterpret_cast<wchar_t*>(out), size);
  };
  int size = map(key.data(), static_cast<int>(key.size()));
  if (size == 0) {
    size = map(nullptr, 0);
    key.resize(static_cast<std::size_t>(size > 0 ? size : 0));
    if (size > 0) size = map(key.data(), size);
  }
  key.resize(static_cast<std::size_t>(size > 0 ? size : 0));
}

}  // namespace kw::win32
