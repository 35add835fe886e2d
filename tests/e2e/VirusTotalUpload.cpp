// A stand-in for the upload tool: records the command line it was given in
// scan.log beside itself, for the tests to read.

#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t self[MAX_PATH];
  std::wstring path(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
  path = path.substr(0, path.find_last_of(L'\\') + 1) + L"scan.log";
  const std::wstring line = ::GetCommandLineW();
  HANDLE out = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return 1;
  DWORD written;
  ::WriteFile(out, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written,
              nullptr);
  ::CloseHandle(out);
  return 0;
}
