#include <windows.h>
// After <windows.h>, which they need.
#include <mmsystem.h>
#include <shellapi.h>

#include "platform/win32/Win32Desktop.h"

#include "lib/IniProfile.h"
#include "platform/win32/Handles.h"
#include "toolkit/win32/Pictures.h"
#include "toolkit/win32/Text.h"

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
  HICON icon = ::ExtractIconW(::GetModuleHandleW(nullptr), ToWide(path).c_str(), 0);
  // 1 says the file is no program, library or icon file: no icon either.
  if (reinterpret_cast<UINT_PTR>(icon) <= 1) icon = nullptr;
  return MakeIconPicture(icon);
}

void TWin32Shell::Execute(std::uintptr_t owner, const std::string& verb, const std::string& file,
                          const std::string* parameters) {
  const std::wstring wideParameters = parameters ? ToWide(*parameters) : std::wstring();
  ::ShellExecuteW(reinterpret_cast<HWND>(owner), ToWide(verb).c_str(), ToWide(file).c_str(),
                  parameters ? wideParameters.c_str() : nullptr, nullptr, SW_SHOWNORMAL);
}

bool TWin32Shell::ShowProperties(std::uintptr_t owner, const std::string& file) {
  const std::wstring wideFile = ToWide(file);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_INVOKEIDLIST | SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.hwnd = reinterpret_cast<HWND>(owner);
  info.lpVerb = L"properties";
  info.lpFile = wideFile.c_str();
  info.nShow = 0;
  const bool accepted = ::ShellExecuteExW(&info) != FALSE;
  // Asked for by the mask; nothing waits on it, so it is closed at once.
  if (info.hProcess) ::CloseHandle(info.hProcess);
  return accepted;
}

namespace {

// An open file, or null: CreateFileW's failure value is not null.
TKernelHandle OpenFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) {
  HANDLE file = ::CreateFileW(path.c_str(), access, share, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  return TKernelHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

// The file's bytes; false when it cannot be read (a missing file among others).
bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  const TKernelHandle file =
      OpenFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size)) return false;
  if (size.QuadPart > (1 << 24)) {
    ::SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  if (!bytes.empty() &&
      !::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
    return false;
  }
  bytes.resize(read);
  return true;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  const TKernelHandle file = OpenFile(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
  if (!file) return false;
  DWORD written = 0;
  return ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
         written == bytes.size();
}

// What the profile functions do with a bare file name: it lives in the Windows folder.
std::wstring ProfilePath(const std::string& file) {
  std::wstring path = ToWide(file);
  if (path.find_first_of(L"\\/:") != std::wstring::npos) return path;
  wchar_t folder[MAX_PATH];
  const UINT n = ::GetWindowsDirectoryW(folder, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(folder, n) + L"\\" + path : path;
}

}  // namespace

// The INI file's text stays code page 936 whatever the system: the profile
// functions would read and write it in the system's ANSI code page, so the
// file is read and written here, by the same rules they follow.
std::string TWin32Profile::ReadString(const std::string& file, const std::string& section,
                                      const std::string& key, const std::string& fallback) {
  std::string text;
  ReadWholeFile(ProfilePath(file), text);
  return ReadProfileText(text, section, key, fallback);
}

bool TWin32Profile::WriteString(const std::string& file, const std::string& section,
                                const std::string& key, const std::string& value) {
  const std::wstring path = ProfilePath(file);
  std::string text;
  // A file that exists but cannot be read is not overwritten with one entry.
  if (!ReadWholeFile(path, text)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
  }
  return WriteWholeFile(path, WriteProfileText(text, section, key, value));
}

std::string TWin32System::ProgramPath() {
  return ProgramFilePath();
}

std::string TWin32System::WindowsDirectory() {
  wchar_t buffer[MAX_PATH];
  const UINT n = ::GetWindowsDirectoryW(buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  std::string folder = ToAnsi(std::wstring_view(buffer, n));
  return folder.size() < 260 ? folder : std::string();  // as a 260-byte buffer holds it
}

std::string TWin32System::ExpandEnvironment(const std::string& text) {
  const std::wstring wide = ToWide(text);
  std::wstring expanded(wide.size() + 1, L'\0');
  for (;;) {
    // The size it gives counts the terminating NUL.
    const DWORD n = ::ExpandEnvironmentStringsW(wide.c_str(), expanded.data(),
                                                static_cast<DWORD>(expanded.size()));
    if (n == 0) return text;
    if (n <= expanded.size()) return ToAnsi(std::wstring_view(expanded.data(), n - 1));
    expanded.resize(n);
  }
}

TFileKind TWin32System::FileKind(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(ToWide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return TFileKind::None;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? TFileKind::Folder : TFileKind::File;
}

// The program's byte strings are in code page 936 whatever the system's
// ANSI code page, so are its double-byte rules.
bool TWin32CodePage::IsLeadByte(unsigned char byte) const {
  return ::IsDBCSLeadByteEx(kCodePage, byte) != FALSE;
}

namespace {

struct TDescendantSearch {
  std::wstring ClassName;
  HWND Found = nullptr;
};

BOOL CALLBACK MatchDescendant(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<TDescendantSearch*>(param);
  wchar_t name[256];
  const int n = ::GetClassNameW(window, name, 256);
  if (search->ClassName != std::wstring_view(name, static_cast<std::size_t>(n))) return TRUE;
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
  bool WaitForInputIdle(std::uint32_t milliseconds) override {
    return ::WaitForInputIdle(Process.Get(), milliseconds) == 0;
  }
  std::string LastErrorText() override {
    const DWORD error = ::GetLastError();
    wchar_t* text = nullptr;
    ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = "System Error.  Code: " + std::to_string(error) + ".";
    if (text) {
      message += "\r\n" + ToAnsi(text);
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
  return AsHandle(::FindWindowW(ToWide(className).c_str(), nullptr));
}

WindowHandle TWin32WindowFunctions::FindChild(WindowHandle parent, const std::string& className) {
  return AsHandle(::FindWindowExW(AsHwnd(parent), nullptr, ToWide(className).c_str(), nullptr));
}

WindowHandle TWin32WindowFunctions::FindDescendant(WindowHandle parent,
                                                   const std::string& className) {
  if (!parent) return 0;
  TDescendantSearch search{ToWide(className)};
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
  ::SendMessageW(AsHwnd(window), message, wParam, lParam);
}

// Wide, so that the character reaches the window as itself on any system: the
// ANSI message would be read in the system's code page, not in 936.
void TWin32WindowFunctions::TypeCharacter(WindowHandle window, const std::string& character) {
  constexpr LPARAM kOneKeystroke = 1;  // a tree ignores a character without a repeat count
  for (wchar_t unit : ToWide(character)) {
    ::SendMessageW(AsHwnd(window), WM_CHAR, unit, kOneKeystroke);
  }
}

void TWin32WindowFunctions::Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

std::unique_ptr<IProcess> TWin32ProcessLauncher::Start(std::vector<char>& commandLine) {
  std::wstring wide = ToWide(commandLine.data());  // writable, as CreateProcessW wants it
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, wide.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                        &info)) {
    return nullptr;
  }
  return std::make_unique<TWin32Process>(info.hProcess, info.hThread);
}

void TWin32Sound::Play(const std::string& path, std::uint32_t flags) {
  ::sndPlaySoundW(ToWide(path).c_str(), flags);
}

void TWin32Sound::Stop() {
  ::sndPlaySoundW(nullptr, 0);
}

TLocalTime TWin32Clock::Now() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

std::string TWin32Clock::ShortDate(const TLocalTime& time) {
  const SYSTEMTIME st = ToSystemTime(time);
  wchar_t buffer[128];
  const int n = ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buffer, 128);
  return n > 0 ? ToAnsi(std::wstring_view(buffer, static_cast<std::size_t>(n - 1))) : std::string();
}

std::string TWin32Clock::LongTime(const TLocalTime& time) {
  SYSTEMTIME st = ToSystemTime(time);
  st.wMilliseconds = 0;
  wchar_t buffer[128];
  const int n = ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, buffer, 128);
  return n > 0 ? ToAnsi(std::wstring_view(buffer, static_cast<std::size_t>(n - 1))) : std::string();
}

}  // namespace kw::win32
