#include "platform/win32/Win32RegistryText.h"

#include <windows.h>

#include "toolkit/win32/Text.h"

namespace kw::win32 {

namespace {

using TUpcaseChar = WCHAR(NTAPI*)(WCHAR);

}  // namespace

// The registry folds names with the system's upper-case table, the one
// RtlUpcaseUnicodeChar reads; the user's locale plays no part. The table is
// read once, unit by unit, so that folding a name costs no call at all.
TWin32RegistryText::TWin32RegistryText() : Upcase(0x10000) {
  const auto upcase = reinterpret_cast<TUpcaseChar>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlUpcaseUnicodeChar")));
  for (std::size_t unit = 0; unit < Upcase.size(); ++unit) {
    const auto c = static_cast<WCHAR>(unit);
    // ntdll always has it; without it, at least the ASCII letters fold.
    const WCHAR upper = upcase ? upcase(c) : (c >= L'a' && c <= L'z' ? c - 32 : c);
    Upcase[unit] = static_cast<char16_t>(upper);
  }
}

std::string TWin32RegistryText::ToAnsi(std::u16string_view text) const {
  return win32::ToAnsi(std::wstring_view(reinterpret_cast<const wchar_t*>(text.data()), text.size()));
}

std::u16string TWin32RegistryText::FromAnsi(std::string_view text) const {
  const std::wstring wide = ToWide(text);
  return std::u16string(wide.begin(), wide.end());
}

}  // namespace kw::win32
