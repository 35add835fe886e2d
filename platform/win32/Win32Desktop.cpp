#include <windows.h>
// After <windows.h>, which they need.
#include <mmsystem.h>
#include <shellapi.h>

#include "platform/win32/Win32Desktop.h"

#include "platform/win32/Handles.h"
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

void TWin32Shell::Execute(std::uintptr_t owner, const std::string& verb, const std::string& file,
                          const std::string* parameters) {
  ::ShellExecuteA(reinterpret_cast<HWND>(owner), verb.c_str(), file.c_str(),
                  parameters ? parameters->c_str() : nullptr, nullptr, SW_SHOWNORMAL);
}

bool TWin32Shell::ShowProperties(std::uintptr_t owner, const std::string& file) {
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_INVOKEIDLIST | SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.hwnd = reinterpret_cast<HWND>(owner);
  info.lpVerb = "properties";
  info.lpFile = file.c_str();
  info.nShow = 0;
  const bool accepted = ::ShellExecuteExA(&info) != FALSE;
  // Asked for by the mask; nothing waits on it, so it is closed at once.
  if (info.hProcess) ::CloseHandle(info.hProcess);
  return accepted;
}

std::string TWin32Profile::ReadString(const std::string& file, const std::string& section,
                                      const std::string& key, const std::string& fallback) {
  char buffer[2048];
  const DWORD n = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer,
                                             sizeof buffer, file.c_str());
  return std::string(buffer, n);
}

bool TWin32Profile::WriteString(const std::string& file, const std::string& section,
                                const std::string& key, const std::string& value) {
  return ::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) !=
         FALSE;
}

std::string TWin32System::ProgramPath() {
  std::vector<char> path(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) return std::string(path.data(), n);
    path.resize(path.size() * 2);
  }
}

std::string TWin32System::WindowsDirectory() {
  char buffer[260];
  const UINT n = ::GetWindowsDirectoryA(buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

// The program's byte strings are in code page 936 whatever the system's
// ANSI code page, so are its double-byte rules.
bool TWin32CodePage::IsLeadByte(unsigned char byte) const {
  return ::IsDBCSLeadByteEx(936, byte) != FALSE;
}

namespace {

struct TDescendantSearch {
  std::string ClassName;
  HWND Found = nullptr;
};

BOOL CALLBACK MatchDescendant(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<TDescendantSearch*>(param);
  char name[256];
  ::GetClassNameA(window, name, sizeof name);
  if (search->ClassName != name) return TRUE;
  search->Found = window;
  return FALSE;
}

HWND AsHwnd(WindowHandle window) {
  return reinterpret_cast<HWND>(window);
}
WindowHandle AsHandle(HWND window) {
  return reinterpret_cast<WindowHandle>(window);
}

class TWin32Process : public IProcess {
 public:
  TWin32Process(HANDLE process, HANDLE thread) : Process(process), Thread(thread) {}
  ~TWin32Process() override {
    Process.Reset();  // the process handle first, then the thread's
    Thread.Reset();
  }
  std::uint32_t Wait() override { return ::WaitForSingleObject(Process.Get(), INFINITE); }
  std::uint32_t ExitCode() override {
    DWORD code = 0;
    ::GetExitCodeProcess(Process.Get(), &code);
    return code;
  }
  void WaitForInputIdle() override { ::WaitForInputIdle(Process.Get(), INFINITE); }
  std::string LastErrorText() override {
    const DWORD error = ::GetLastError();
    char* text = nullptr;
    ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = "System Error.  Code: " + std::to_string(error) + ".";
    if (text) {
      message += std::string("\r\n") + text;
      ::LocalFree(text);
    }
    return message;
  }

 private:
  TKernelHandle Process;
  TKernelHandle Thread;
};

}  // namespace

WindowHandle TWin32WindowFunctions::FindTopLevel(const std::string& className) {
  return AsHandle(::FindWindowA(className.c_str(), nullptr));
}

WindowHandle TWin32WindowFunctions::FindChild(WindowHandle parent, const std::string& className) {
  return AsHandle(::FindWindowExA(AsHwnd(parent), nullptr, className.c_str(), nullptr));
}

WindowHandle TWin32WindowFunctions::FindDescendant(WindowHandle parent,
                                                   const std::string& className) {
  if (!parent) return 0;
  TDescendantSearch search{className};
  ::EnumChildWindows(AsHwnd(parent), MatchDescendant, reinterpret_cast<LPARAM>(&search));
  return AsHandle(search.Found);
}

void TWin32WindowFunctions::ShowWindow(WindowHandle window, int command) {
  ::ShowWindow(AsHwnd(window), command);
}

void TWin32WindowFunctions::SetForegroundWindow(WindowHandle window) {
  ::SetForegroundWindow(AsHwnd(window));
}

void TWin32WindowFunctions::SetFocus(WindowHandle window) {
  ::SetFocus(AsHwnd(window));
}

void TWin32WindowFunctions::Send(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t lParam) {
  ::SendMessageA(AsHwnd(window), message, wParam, lParam);
}

void TWin32WindowFunctions::Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

std::unique_ptr<IProcess> TWin32ProcessLauncher::Start(std::vector<char>& commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                        &info)) {
    return nullptr;
  }
  return std::make_unique<TWin32Process>(info.hProcess, info.hThread);
}

void TWin32Sound::Play(const std::string& path, std::uint32_t flags) {
  ::sndPlaySoundA(path.c_str(), flags);
}

void TWin32Sound::Stop() {
  ::sndPlaySoundA(nullptr, 0);
}

TLocalTime TWin32Clock::Now() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

std::string TWin32Clock::ShortDate(const TLocalTime& time) {
  const SYSTEMTIME st = ToSystemTime(time);
  char buffer[128];
  const int n =
      ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buffer, sizeof buffer);
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
