#pragma once
// Drives the real Keywarden.exe from outside, as a user would: starts it,
// finds its windows, reads their texts, clicks, and waits with deadlines.

#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include "tests/win32/StoredTask.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
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

// The left button pressed at `from` and released at `to`, screen points, as a user would.
inline void LeftDrag(POINT from, POINT to) {
  // Each event carries its own position: a cursor moved just before may not
  // yet be where the next press is taken.
  auto at = [](POINT point, DWORD button) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(point.x, 65535, ::GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = MulDiv(point.y, 65535, ::GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | button;
    return input;
  };
  INPUT press[] = {at(from, 0), at(from, MOUSEEVENTF_LEFTDOWN), at(to, 0),
                   at(to, MOUSEEVENTF_LEFTUP)};
  ::SendInput(4, press, sizeof(INPUT));
}

// Moves the mouse to `point` and lets it rest there, as for a hint.
inline void MoveMouse(POINT point) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = MulDiv(point.x, 65535, ::GetSystemMetrics(SM_CXSCREEN) - 1);
  input.mi.dy = MulDiv(point.y, 65535, ::GetSystemMetrics(SM_CYSCREEN) - 1);
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  ::SendInput(1, &input, sizeof(INPUT));
}

inline int CountWindows(const wchar_t* className) {
  int count = 0;
  for (HWND w = ::FindWindowExW(nullptr, nullptr, className, nullptr); w;
       w = ::FindWindowExW(nullptr, w, className, nullptr)) {
    ++count;
  }
  return count;
}

// Whether `upper` lies above `lower` in the z-order.
inline bool IsAbove(HWND upper, HWND lower) {
  for (HWND window = ::GetWindow(lower, GW_HWNDPREV); window;
       window = ::GetWindow(window, GW_HWNDPREV)) {
    if (window == upper) return true;
  }
  return false;
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

// A path from the environment as Windows sees it: a Unix path is reached through drive Z:.
inline std::wstring EnvironmentPath(const wchar_t* variable) {
  wchar_t value[1024];
  const DWORD n = ::GetEnvironmentVariableW(variable, value, 1024);
  if (n == 0 || n >= 1024) return L"";
  std::wstring path(value, n);
  if (path[0] == L'/') {
    path = L"Z:" + path;
    std::replace(path.begin(), path.end(), L'/', L'\\');
  }
  return path;
}

// Where artifacts go: KW_ARTIFACTS, else the current folder.
inline std::wstring ArtifactPath(const std::wstring& name) {
  const std::wstring folder = EnvironmentPath(L"KW_ARTIFACTS");
  if (folder.empty()) return name;
  ::CreateDirectoryW(folder.c_str(), nullptr);
  return folder + L"\\" + name;
}

// A tool of explorer's tooltips: what the notification area shows for an icon.
struct TTrayTool {
  std::wstring Text;
  RECT Screen{};
};

// Reads every tool of explorer's tooltip windows, through memory in explorer's process.
inline std::vector<TTrayTool> TrayTools() {
  std::vector<TTrayTool> tools;
  HWND shellTray = ::FindWindowW(L"Shell_TrayWnd", nullptr);
  DWORD explorer = 0;
  ::GetWindowThreadProcessId(shellTray, &explorer);
  HANDLE process =
      ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, explorer);
  if (!process) return tools;
  const SIZE_T textBytes = 1024;
  auto* remote = static_cast<char*>(::VirtualAllocEx(
      process, nullptr, sizeof(TOOLINFOW) + textBytes, MEM_COMMIT, PAGE_READWRITE));
  for (HWND tips : TopLevelWindows(explorer, L"tooltips_class32")) {
    const int count = static_cast<int>(::SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      TOOLINFOW info{};
      info.cbSize = sizeof info;
      info.lpszText = reinterpret_cast<wchar_t*>(remote + sizeof(TOOLINFOW));
      ::WriteProcessMemory(process, remote, &info, sizeof info, nullptr);
      std::vector<wchar_t> zero(textBytes / sizeof(wchar_t), 0);
      ::WriteProcessMemory(process, remote + sizeof(TOOLINFOW), zero.data(), textBytes, nullptr);
      if (!::SendMessageW(tips, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(remote))) continue;
      std::vector<wchar_t> text(textBytes / sizeof(wchar_t), 0);
      ::ReadProcessMemory(process, remote, &info, sizeof info, nullptr);
      ::ReadProcessMemory(process, remote + sizeof(TOOLINFOW), text.data(), textBytes - 2, nullptr);
      TTrayTool tool{text.data(), info.rect};
      ::MapWindowPoints(info.hwnd, nullptr, reinterpret_cast<POINT*>(&tool.Screen), 2);
      if (!::IsRectEmpty(&info.rect)) tools.push_back(tool);
    }
  }
  ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  ::CloseHandle(process);
  return tools;
}

// The notification area's record of the program's icon, or null.
inline std::unique_ptr<TTrayTool> ProgramTrayIcon() {
  for (const TTrayTool& tool : TrayTools()) {
    if (tool.Text == L"Keywarden Registry Monitor") return std::make_unique<TTrayTool>(tool);
  }
  return nullptr;
}

// Right-clicks the program's tray icon as a user would and gives the menu
// that opens, or null; `at` receives where the cursor was.
inline HWND OpenTrayMenu(POINT* at = nullptr) {
  std::unique_ptr<TTrayTool> icon;
  if (!WaitFor([&] { return (icon = ProgramTrayIcon()) != nullptr; })) return nullptr;
  const POINT centre{(icon->Screen.left + icon->Screen.right) / 2,
                     (icon->Screen.top + icon->Screen.bottom) / 2};
  if (at) *at = centre;
  // A tooltip that came up over the icon would take the press: each try
  // first moves the cursor away, then presses at once on arriving.
  for (int attempt = 0; attempt < 3; ++attempt) {
    ::SetCursorPos(centre.x - 300, centre.y - 300);
    ::SetCursorPos(centre.x, centre.y);
    INPUT press[2] = {};
    press[0].type = press[1].type = INPUT_MOUSE;
    press[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
    press[1].mi.dwFlags = MOUSEEVENTF_RIGHTUP;
    ::SendInput(2, press, sizeof(INPUT));
    HWND menu = nullptr;
    if (WaitFor(
            [&] {
              for (HWND candidate = ::FindWindowExW(nullptr, nullptr, L"#32768", nullptr);
                   candidate; candidate = ::FindWindowExW(nullptr, candidate, L"#32768", nullptr)) {
                if (::IsWindowVisible(candidate)) menu = candidate;
              }
              return menu != nullptr;
            },
            3000)) {
      return menu;
    }
  }
  return nullptr;
}

// Items are chosen with the arrow keys, the first down arrow selecting the
// first item; separators are passed over.
inline void ChooseMenuItem(HWND menu, int downs) {
  for (int i = 0; i < downs; ++i) ::PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
  ::PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
  WaitFor([&] { return !::IsWindowVisible(menu); });
}

// The tray menu's items, by the down arrows that reach them.
constexpr int kMenuOptions = 1, kMenuHome = 2, kMenuExit = 3;

inline bool ChooseFromTrayMenu(int downs) {
  HWND menu = OpenTrayMenu();
  if (!menu) return false;
  ChooseMenuItem(menu, downs);
  return true;
}

// The program under test: KW_PROGRAM names it (the packaged program, in a
// folder with its test stand-ins), else Keywarden.exe beside this driver.
inline std::wstring ProgramPath() {
  const std::wstring named = EnvironmentPath(L"KW_PROGRAM");
  if (!named.empty()) return named;
  wchar_t self[MAX_PATH];
  const std::wstring driver(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
  return driver.substr(0, driver.find_last_of(L'\\') + 1) + L"Keywarden.exe";
}

// A file in the program's folder: its INI file, or what the stand-ins beside it record.
inline std::wstring BesideProgram(const std::wstring& name) {
  const std::wstring program = ProgramPath();
  return program.substr(0, program.find_last_of(L'\\') + 1) + name;
}

// Starts the program file `exe`; false when it cannot be started, after
// saying why.
inline bool StartProgram(const std::wstring& exe, PROCESS_INFORMATION& process) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
    std::printf("CreateProcess failed with error %lu\n", ::GetLastError());
    return false;
  }
  ::CloseHandle(process.hThread);
  process.hThread = nullptr;
  return true;
}

// A file of the Unix side (a path from "/"), read through drive Z:; empty when unreadable.
inline std::string UnixFile(const std::string& path) {
  std::string windowsPath = "Z:" + path;
  std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
  HANDLE file = ::CreateFileA(windowsPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
    bytes.append(buffer, got);
  ::CloseHandle(file);
  return bytes;
}

// The names of the entries of a Unix directory that are numbers (processes, threads).
inline std::vector<std::string> NumberedEntries(const std::string& directory) {
  std::vector<std::string> names;
  std::string pattern = "Z:" + directory + "/*";
  std::replace(pattern.begin(), pattern.end(), '/', '\\');
  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos)
      names.push_back(name);
  } while (::FindNextFileA(search, &found));
  ::FindClose(search);
  return names;
}

// The Unix process that runs the program file `name` in this Wine prefix, as
// the kernel knows it ("/proc/" + the result), or empty. Wine's process ids
// are its own; the kernel knows the process by its name and environment.
inline std::string UnixProcessOf(const std::string& name) {
  char prefix[1024];
  const DWORD length = ::GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
  // The default prefix, named by no variable: the program's name alone tells.
  const std::string marker =
      length > 0 && length < sizeof prefix ? "WINEPREFIX=" + std::string(prefix, length) : "";
  for (const std::string& pid : NumberedEntries("/proc")) {
    if (UnixFile("/proc/" + pid + "/comm") != name + "\n") continue;
    const std::string environment = '\0' + UnixFile("/proc/" + pid + "/environ");
    if (marker.empty() || environment.find('\0' + marker + '\0') != std::string::npos) return pid;
  }
  return {};
}

// The CPU time the kernel has counted for every thread of a Unix process, in
// nanoseconds. (GetProcessTimes under Wine misses most of it.)
inline unsigned long long KernelCpuNs(const std::string& pid) {
  unsigned long long total = 0;
  for (const std::string& task : NumberedEntries("/proc/" + pid + "/task")) {
    total += std::strtoull(UnixFile("/proc/" + pid + "/task/" + task + "/schedstat").c_str(),
                           nullptr, 10);
  }
  return total;
}

// Where the program keeps what it remembers for this user, whatever its
// own path: %ProgramData%\Keywarden\<SID>.
inline std::wstring StateFolder() {
  wchar_t data[MAX_PATH];
  const DWORD n = ::GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH);
  return std::wstring(data, n < MAX_PATH ? n : 0) + L"\\Keywarden\\" + test::OwnSid();
}
inline std::wstring SavedStateFile() {
  return StateFolder() + L"\\Keywarden.state";
}
// The alert's changes not yet confirmed with "确定" when the program ended.
inline std::wstring PendingFile() {
  return StateFolder() + L"\\Keywarden.pending";
}

// A first start: no state, no unconfirmed changes, and no secret, the sign
// of an earlier run. (Under Wine there are no ACLs to keep the test out.)
inline void ForgetSavedState() {
  for (const wchar_t* name : {L"\\Keywarden.state", L"\\Keywarden.pending", L"\\Keywarden.key"}) {
    ::DeleteFileW((StateFolder() + name).c_str());
  }
}

// One run of the program, ended when the object goes.
class TKeywarden {
 public:
  // `exe`: the program file to start; by default the program under test.
  // `waitUntilWatching`: returns once the program reports a change of the
  // current user's Run key, the alert dismissed again; otherwise once its
  // windows exist. Each run starts without the state an earlier test left,
  // unless `keepSavedState` asks for it: a change made between two tests
  // would otherwise be shown at the start of the second.
  explicit TKeywarden(const std::wstring& exe = ProgramPath(), bool waitUntilWatching = true,
                      bool keepSavedState = false) {
    if (!keepSavedState) ForgetSavedState();
    if (!StartProgram(exe, Process)) return;
    WaitFor([&] { return MainWindow() && AlertWindow(); });
    if (waitUntilWatching) WaitUntilWatching();
  }

  // Starts the program and does not wait for it: copies started together.
  struct TNoWait {};
  explicit TKeywarden(TNoWait, const std::wstring& exe = ProgramPath()) {
    ForgetSavedState();
    StartProgram(exe, Process);
  }

  static constexpr DWORD kDidNotEnd = 0xFFFFFFFF;
  // Starts another copy of the program and gives its exit code once it has
  // ended by itself; kDidNotEnd (and the copy ended) when it went on running.
  static DWORD RunAnotherCopy(DWORD timeoutMs = 10000) {
    PROCESS_INFORMATION copy{};
    if (!StartProgram(ProgramPath(), copy)) return kDidNotEnd;
    DWORD code = kDidNotEnd;
    if (::WaitForSingleObject(copy.hProcess, timeoutMs) == WAIT_OBJECT_0) {
      ::GetExitCodeProcess(copy.hProcess, &code);
    } else {
      ::TerminateProcess(copy.hProcess, 1);
    }
    ::CloseHandle(copy.hProcess);
    return code;
  }

  // A value written into the current user's Run key comes back in the
  // alert once its monitor reads the key; written again with other data
  // until it does, for a value written before the monitor's first reading
  // is part of what the key held at the start. Its deletion is awaited too,
  // then the alert is dismissed with "确定".
  void WaitUntilWatching() {
    const wchar_t* run = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    const wchar_t* probe = L"KeywardenE2EReady";
    HWND alert = AlertWindow();
    auto field = [&](std::size_t row) {
      auto edits = ChildrenOfClass(alert, L"TEdit");
      return edits.size() > row ? TextOf(edits[row]) : std::wstring();
    };
    bool seen = false;
    for (int attempt = 0; attempt < 20 && !seen; ++attempt) {
      const std::wstring data = L"C:\\ready" + std::to_wstring(attempt) + L".exe";
      ::RegSetKeyValueW(HKEY_CURRENT_USER, run, probe, REG_SZ, data.c_str(),
                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
      seen = WaitFor([&] { return field(3).find(data) != std::wstring::npos; }, 500);
    }
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, run, probe);
    WaitFor([&] { return TextOf(alert) == L"警告！注册表更改 - 删除启动项"; });
    for (HWND button : ChildrenOfClass(alert, L"TButton")) {
      if (TextOf(button) == L"确定") ::PostMessageW(button, BM_CLICK, 0, 0);
    }
    WaitFor([&] { return !::IsWindowVisible(alert); });
  }

  ~TKeywarden() { End(); }

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
