// A stand-in winmm.dll: records every sndPlaySoundW call in sound.log beside
// the program that loaded it, one line each, the path in code page 936, and
// plays nothing. The program imports nothing else from winmm. It is put
// where the program may take it from, the system folder; a copy loaded
// from anywhere else, as one planted beside the program, begins each line
// with "from" and its own path.

#include <windows.h>

#include <string>

namespace {

std::wstring FolderOf(const std::wstring& file) {
  return file.substr(0, file.find_last_of(L'\\') + 1);
}

std::wstring ModulePath(HMODULE module) {
  wchar_t path[MAX_PATH];
  return std::wstring(path, ::GetModuleFileNameW(module, path, MAX_PATH));
}

HMODULE Self() {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&Self), &self);
  return self;
}

std::string ToCodePage936(const std::wstring& text) {
  char bytes[4 * MAX_PATH];
  const int n =
      ::WideCharToMultiByte(936, 0, text.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
  return n > 0 ? std::string(bytes, static_cast<std::size_t>(n - 1)) : std::string();
}

bool IsFolder(const std::wstring& folder, const wchar_t* path, UINT length) {
  return length > 0 && length < MAX_PATH &&
         ::CompareStringOrdinal(folder.c_str(), -1, (std::wstring(path, length) + L"\\").c_str(),
                                -1, TRUE) == CSTR_EQUAL;
}

// Where a copy of this DLL is loaded from, unless it is the system folder
// (SysWOW64 for a 32-bit program).
std::string Origin() {
  const std::wstring own = ModulePath(Self());
  wchar_t system[MAX_PATH], wow64[MAX_PATH];
  if (IsFolder(FolderOf(own), system, ::GetSystemDirectoryW(system, MAX_PATH)) ||
      IsFolder(FolderOf(own), wow64, ::GetSystemWow64DirectoryW(wow64, MAX_PATH))) {
    return {};
  }
  return "from " + ToCodePage936(own) + ": ";
}

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI sndPlaySoundW(LPCWSTR sound, UINT flags) {
  const std::string line =
      Origin() +
      (sound ? "play " + ToCodePage936(sound) + " " + std::to_string(flags) + "\r\n" : "stop\r\n");
  const std::wstring log = FolderOf(ModulePath(nullptr)) + L"sound.log";
  HANDLE file = ::CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  DWORD written;
  ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  ::CloseHandle(file);
  return TRUE;
}
