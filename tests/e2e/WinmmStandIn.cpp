// A stand-in winmm.dll: records every sndPlaySoundA call in sound.log beside
// itself, one line each, and plays nothing. The program imports nothing
// else from winmm.

#include <windows.h>

#include <string>

namespace {

std::string LogPath() {
  HMODULE self = nullptr;
  ::GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&LogPath), &self);
  char path[MAX_PATH];
  std::string file(path, ::GetModuleFileNameA(self, path, MAX_PATH));
  return file.substr(0, file.find_last_of('\\') + 1) + "sound.log";
}

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI sndPlaySoundA(LPCSTR sound, UINT flags) {
  const std::string line =
      sound ? "play " + std::string(sound) + " " + std::to_string(flags) + "\r\n" : "stop\r\n";
  HANDLE log = ::CreateFileA(LogPath().c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (log == INVALID_HANDLE_VALUE) return FALSE;
  DWORD written;
  ::WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  ::CloseHandle(log);
  return TRUE;
}
