// A stand-in winmm.dll: records every sndPlaySoundW call in sound.log beside
// itself, one line each, the path in code page 936, and plays nothing. The
// program imports nothing else from winmm.

#include <windows.h>

#include <string>

namespace {

std::wstring LogPath() {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&LogPath), &self);
  wchar_t path[MAX_PATH];
  std::wstring file(path, ::GetModuleFileNameW(self, path, MAX_PATH));
  return file.substr(0, file.find_last_of(L'\\') + 1) + L"sound.log";
}

std::string ToCodePage936(const wchar_t* text) {
  char bytes[4 * MAX_PATH];
  const int n = ::WideCharToMultiByte(936, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
  return n > 0 ? std::string(bytes, static_cast<std::size_t>(n - 1)) : std::string();
}

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI sndPlaySoundW(LPCWSTR sound, UINT flags) {
  const std::string line =
      sound ? "play " + ToCodePage936(sound) + " " + std::to_string(flags) + "\r\n" : "stop\r\n";
  HANDLE log = ::CreateFileW(LogPath().c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (log == INVALID_HANDLE_VALUE) return FALSE;
  DWORD written;
  ::WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  ::CloseHandle(log);
  return TRUE;
}
