#pragma once
// Conversions at the UI edge: the core's ANSI byte strings to the wide
// strings the windows show, so Chinese reads right on any Windows language.

#include <windows.h>

#include <string>

namespace kw::win32 {

inline std::wstring ToWide(const std::string& ansi) {
  if (ansi.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
  return wide;
}

inline std::string ToAnsi(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), ansi.data(), n,
                        nullptr, nullptr);
  return ansi;
}

inline std::wstring WindowTextOf(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

}  // namespace kw::win32
