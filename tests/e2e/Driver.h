#pragma once
// Drives the real Keywarden.exe from outside, as a user would: starts it,
// finds its windows, reads their texts, clicks, and waits with deadlines.

#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace kw::e2e {

// Polls `done` every 10 ms until it holds or `timeoutMs` has passed.
inline bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs = 10000) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (done()) return true;
    if (::GetTickCount64() > deadline) return false;
    ::Sleep(10);
  }
}

inline std::wstring TextOf(HWND window) {
  wchar_t buffer[4096];
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, 2000, &length)) {
    return L"<no answer>";
  }
  return std::wstring(buffer, length);
}

inline void SetTextOf(HWND window, const std::wstring& text) {
  ::SendMessageTimeoutW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
}

inline std::wstring ClassOf(HWND window) {
  wchar_t name[256];
  return std::wstring(name, static_cast<std::size_t>(::GetClassNameW(window, name, 256)));
}

struct TWindowSearch {
  DWORD Pid;
  std::wstring Class;
  std::vector<HWND> Found;
};

inline BOOL CALLBACK CollectChild(HWND child, LPARAM p) {
  auto* s = reinterpret_cast<TWindowSearch*>(p);
  if (ClassOf(child) == s->Class) s->Found.push_back(child);
  return TRUE;
}

inline BOOL CALLBACK CollectTopLevel(HWND window, LPARAM p) {
  auto* s = reinterpret_cast<TWindowSearch*>(p);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner == s->Pid && (s->Class.empty() || ClassOf(window) == s->Class))
    s->Found.push_back(window);
  return TRUE;
}

// Every descendant of `parent` of window class `className`, top to bottom on screen.
inline std::vector<HWND> ChildrenOfClass(HWND parent, const std::wstring& className) {
  TWindowSearch search{0, className, {}};
  ::EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&search));
  std::stable_sort(search.Found.begin(), search.Found.end(), [](HWND a, HWND b) {
    RECT ra, rb;
    ::GetWindowRect(a, &ra);
    ::GetWindowRect(b, &rb);
    return ra.top != rb.top ? ra.top < rb.top : ra.left < rb.left;
  });
  return search.Found;
}

// The top-level windows of process `pid` of class `className` (empty: any).
inline std::vector<HWND> TopLevelWindows(DWORD pid, const std::wstring& className = L"") {
  TWindowSearch search{pid, className, {}};
  ::EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

// The whole screen, as 24-bit pixels bottom-up.
inline std::vector<unsigned char> CaptureScreen(BITMAPINFOHEADER& header) {
  const int width = ::GetSystemMetrics(SM_CXSCREEN), height = ::GetSystemMetrics(SM_CYSCREEN);
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  ::SelectObject(memory, old);
  const std::size_t size = ((static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3}) * height;
  std::vector<unsigned char> pixels(static_cast<unsigned char*>(bits),
                                    static_cast<unsigned char*>(bits) + size);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  header = info.bmiHeader;
  return pixels;
}

// Saves the screen as a BMP file once painting has settled: captures 100 ms
// apart that agree three times running, within a deadline.
inline bool SaveScreenshot(const std::wstring& path) {
  BITMAPINFOHEADER header;
  std::vector<unsigned char> pixels = CaptureScreen(header), previous;
  int agreeing = 0;
  WaitFor(
      [&] {
        ::Sleep(100);
        previous.swap(pixels);
        pixels = CaptureScreen(header);
        agreeing = pixels == previous ? agreeing + 1 : 0;
        return agreeing >= 3;
      },
      5000);
  const DWORD headers = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  const DWORD size = static_cast<DWORD>(pixels.size());
  BITMAPFILEHEADER file{0x4D42, headers + size, 0, 0, headers};
  HANDLE out = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written;
  const bool saved = ::WriteFile(out, &file, sizeof file, &written, nullptr) &&
                     ::WriteFile(out, &header, sizeof header, &written, nullptr) &&
                     ::WriteFile(out, pixels.data(), size, &written, nullptr);
  ::CloseHandle(out);
  return saved;
}

// A folder named by an environment variable as a Unix path (seen through
// drive Z:) or a Windows one; empty when the variable is not set.
inline std::wstring FolderFromEnvironment(const wchar_t* variable) {
  wchar_t value[1024];
  const DWORD n = ::GetEnvironmentVariableW(variable, value, 1024);
  if (n == 0 || n >= 1024) return L"";
  std::wstring folder(value, n);
  if (!folder.empty() && folder[0] == L'/') folder = L"Z:" + folder;
  std::replace(folder.begin(), folder.end(), L'/', L'\\');
  while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  return folder;
}

// The program under test and what goes beside it (its INI file, the tool and
// sound stand-ins' logs): the folder KW_PROGRAM_DIR names, else the driver's own.
inline std::wstring BesideProgram(const std::wstring& name) {
  std::wstring folder = FolderFromEnvironment(L"KW_PROGRAM_DIR");
  if (folder.empty()) {
    wchar_t self[MAX_PATH];
    const std::wstring path(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
    folder = path.substr(0, path.find_last_of(L'\\'));
  }
  return folder + L"\\" + name;
}

// "win32" or "win64", from the program file's machine type.
inline std::wstring ProgramBuild() {
  HANDLE file = ::CreateFileW(BesideProgram(L"Keywarden.exe").c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return L"unknown";
  IMAGE_DOS_HEADER dos{};
  IMAGE_FILE_HEADER header{};
  DWORD read = 0, signature = 0;
  ::ReadFile(file, &dos, sizeof dos, &read, nullptr);
  ::SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN);
  ::ReadFile(file, &signature, sizeof signature, &read, nullptr);
  ::ReadFile(file, &header, sizeof header, &read, nullptr);
  ::CloseHandle(file);
  return header.Machine == IMAGE_FILE_MACHINE_I386    ? L"win32"
         : header.Machine == IMAGE_FILE_MACHINE_AMD64 ? L"win64"
                                                      : L"unknown";
}

// Where artifacts go: KW_ARTIFACTS, else the current folder. The name carries
// the build and the system's code page, so the runs of every build and locale
// keep their own.
inline std::wstring ArtifactPath(const std::wstring& name) {
  const std::size_t dot = name.find_last_of(L'.');
  const std::wstring tagged = name.substr(0, dot) + L"-" + ProgramBuild() + L"-cp" +
                              std::to_wstring(::GetACP()) + name.substr(dot);
  const std::wstring folder = FolderFromEnvironment(L"KW_ARTIFACTS");
  if (folder.empty()) return tagged;
  ::CreateDirectoryW(folder.c_str(), nullptr);
  return folder + L"\\" + tagged;
}

// One run of the program, ended when the object goes.
class TKeywarden {
 public:
  explicit TKeywarden(const std::wstring& exe = BesideProgram(L"Keywarden.exe")) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                         nullptr, &startup, &Process)) {
      ::CloseHandle(Process.hThread);
      Process.hThread = nullptr;
      WaitFor([&] { return MainWindow() && AlertWindow() && WatchingCurrentUserRun(); });
    }
  }

  // The monitors are numbered as they are made, machine keys first: the
  // current user's Run key has the eighth. Its change event exists once the
  // key is open, a moment before the monitor asks for its first signal.
  static bool WatchingCurrentUserRun() {
    HANDLE event = ::OpenEventW(SYNCHRONIZE, FALSE, L"RegMonitorChange8");
    if (!event) return false;
    ::CloseHandle(event);
    return true;
  }
  ~TKeywarden() { End(); }

  static constexpr DWORD kDidNotEnd = 0xFFFFFFFF;
  // Asks the program to end, as "退出" does, and gives its exit code: 0 for
  // a clean end, an exception code for a crash, kDidNotEnd when it hung.
  DWORD End() {
    if (!Process.hProcess) return ExitCode;
    if (Running() && MainWindow()) ::PostMessageW(MainWindow(), WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(Process.hProcess, 10000) == WAIT_OBJECT_0) {
      ::GetExitCodeProcess(Process.hProcess, &ExitCode);
    } else {
      ::TerminateProcess(Process.hProcess, 1);
      ExitCode = kDidNotEnd;
    }
    ::CloseHandle(Process.hProcess);
    Process.hProcess = nullptr;
    return ExitCode;
  }

  bool Running() const {
    return Process.hProcess && ::WaitForSingleObject(Process.hProcess, 0) == WAIT_TIMEOUT;
  }
  bool WaitForExit(DWORD timeoutMs = 10000) const {
    return ::WaitForSingleObject(Process.hProcess, timeoutMs) == WAIT_OBJECT_0;
  }
  DWORD Pid() const { return Process.dwProcessId; }
  HWND Window(const wchar_t* className) const {
    auto found = TopLevelWindows(Pid(), className);
    return found.empty() ? nullptr : found.front();
  }
  HWND MainWindow() const { return Window(L"TForm1"); }
  HWND AlertWindow() const { return Window(L"TForm2"); }
  HWND ApplicationWindow() const { return Window(L"TApplication"); }

 private:
  PROCESS_INFORMATION Process{};
  DWORD ExitCode = 0;
};

}  // namespace kw::e2e
