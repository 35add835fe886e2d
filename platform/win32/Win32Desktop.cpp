#include <windows.h>
#include <mmsystem.h>
#include <shellapi.h>

#include "platform/win32/Win32Desktop.h"

#include "toolkit/win32/Pictures.h"

namespace kw::win32 {

namespace {

SYSTEMTIME ToSystemTime(const TLocalTime& t) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.Year);
  st.wMonth = static_cast<WORD>(t.Month);
  st.wDay = static_cast<WORD>(t.Day);
  st.wHour = static_cast<WORD>(t.Hour);
  st.wMinute = static_cast<WORD>(t.Minute);
  st.wSecond = static_cast<WORD>(t.Second);
  st.wMilliseconds = static_cast<WORD>(t.Milliseconds);
  return st;
}

}  // namespace

std::unique_ptr<vcl::IPicture> TWin32Shell::ExtractProgramIcon(const std::string& path) {
  HICON icon = ::ExtractIconA(::GetModuleHandleA(nullptr), path.c_str(), 0);
  // 1 says the file is no program, library or icon file: no icon either.
  if (reinterpret_cast<UINT_PTR>(icon) <= 1) icon = nullptr;
  return MakeIconPicture(icon);
}

void TWin32Sound::Play(const std::string& path, std::uint32_t flags) {
  ::sndPlaySoundA(path.c_str(), flags);
}

void TWin32Sound::Stop() { ::sndPlaySoundA(nullptr, 0); }

TLocalTime TWin32Clock::Now() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

std::string TWin32Clock::ShortDate(const TLocalTime& time) {
  const SYSTEMTIME st = ToSystemTime(time);
  char buffer[128];
  const int n = ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n - 1)) : std::string();
}

std::string TWin32Clock::LongTime(const TLocalTime& time) {
  SYSTEMTIME st = ToSystemTime(time);
  st.wMilliseconds = 0;
  char buffer[128];
  const int n = ::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n - 1)) : std::string();
}

}  // namespace kw::win32
