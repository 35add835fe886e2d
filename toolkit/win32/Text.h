#pragma once
// Conversions at the system's edge. The program's strings are byte strings
// in code page 936 whatever the system's ANSI code page is, so every text
// reaches the system through the wide functions, converted with 936 itself:
// Chinese then reads right on any Windows language. What 936 cannot hold
// comes back as "?", never as a best fit: a look-alike letter ("â" for "a")
// would show the name of another file than the one Windows starts.

#include <windows.h>

#include <string>
#include <string_view>

namespace kw::win32 {

constexpr UINT kCodePage = 936;

inline std::wstring ToWide(std::string_view ansi) {
  if (ansi.empty()) return {};
  const int n =
      ::MultiByteToWideChar(kCodePage, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(kCodePage, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
  return wide;
}

inline std::string ToAnsi(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide.data(),
                                      static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        ansi.data(), n, nullptr, nullptr);
  return ansi;
}

// UTF-16 facts as the wide functions take them: the same units.
inline std::wstring Wide(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

inline std::wstring WindowTextOf(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

// The program's own file, however long its path, exactly.
inline std::wstring ProgramFileWide() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) return path.substr(0, n);
    path.resize(path.size() * 2);
  }
}

// The same, as shown.
inline std::string ProgramFilePath() {
  return ToAnsi(ProgramFileWide());
}

}  // namespace kw::win32
