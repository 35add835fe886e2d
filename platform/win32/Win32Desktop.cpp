#include <windows.h>
// After <windows.h>, which they need.
#include <mmsystem.h>
#include <shellapi.h>

#include "platform/win32/Win32Desktop.h"

#include "lib/IniProfile.h"
#include "platform/win32/Handles.h"
#include "platform/win32/Win32Paths.h"
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

// The alert waits for the icon, so nothing that could keep it waiting is
// read: a file beyond the network, or one a program holds a lock on that it
// need not let go. The file is held open while its icon is read, so that no
// such lock can be had on it meanwhile.
std::unique_ptr<vcl::IPicture> TWin32Shell::ExtractProgramIcon(const std::u16string& path) {
  const std::wstring file = Wide(path);
  const TKernelHandle held = IsOnLocalDrive(file) ? OpenWithoutWaiting(file) : TKernelHandle();
  if (!held) return MakeIconPicture(nullptr);
  HICON icon = ::ExtractIconW(::GetModuleHandleW(nullptr), file.c_str(), 0);
  // 1 says the file is no program, library or icon file: no icon either.
  if (reinterpret_cast<UINT_PTR>(icon) <= 1) icon = nullptr;
  return MakeIconPicture(icon);
}

std::unique_ptr<vcl::IPicture> TWin32Shell::EmptyIcon() {
  return MakeIconPicture(nullptr);
}

void TWin32Shell::Execute(std::uintptr_t owner, const std::string& verb, const std::string& file,
                          const std::string* parameters) {
  const std::wstring wideParameters = parameters ? ToWide(*parameters) : std::wstring();
  ::ShellExecuteW(reinterpret_cast<HWND>(owner), ToWide(verb).c_str(), ToWide(file).c_str(),
                  parameters ? wideParameters.c_str() : nullptr, nullptr, SW_SHOWNORMAL);
}

bool TWin32Shell::ShowProperties(std::uintptr_t owner, const std::u16string& file) {
  const std::wstring wideFile = Wide(file);
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

// What the profile functions do with a bare file name: it lives in the Windows folder.
std::string ProfilePath(const std::string& file) {
  // Looked for in the wide text: a double-byte character may end in the byte of a backslash.
  if (ToWide(file).find_first_of(L"\\/:") != std::wstring::npos) return file;
  wchar_t folder[MAX_PATH];
  const UINT n = ::GetWindowsDirectoryW(folder, MAX_PATH);
  return n > 0 && n < MAX_PATH ? ToAnsi(std::wstring_view(folder, n)) + "\\" + file : file;
}

}  // namespace

// The INI file's text stays code page 936 whatever the system: the profile
// functions would read and write it in the system's ANSI code page, so the
// file is read and written here, by the same rules they follow.
std::string TWin32Profile::ReadString(const std::string& file, const std::string& section,
                                      const std::string& key, const std::string& fallback) {
  return Ini.ReadString(ProfilePath(file), section, key, fallback);
}

bool TWin32Profile::WriteString(const std::string& file, const std::string& section,
                                const std::string& key, const std::string& value) {
  return Ini.WriteString(ProfilePath(file), section, key, value);
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

std::u16string TWin32System::ExpandEnvironment(const std::u16string& text) {
  const std::wstring wide = Wide(text);
  std::wstring expanded(wide.size() + 1, L'\0');
  for (;;) {
    // The size it gives counts the terminating NUL.
    const DWORD n = ::ExpandEnvironmentStringsW(wide.c_str(), expanded.data(),
                                                static_cast<DWORD>(expanded.size()));
    if (n == 0) return text;
    if (n <= expanded.size()) return std::u16string(expanded.begin(), expanded.begin() + (n - 1));
    expanded.resize(n);
  }
}

TFileKind TWin32System::FileKind(const std::u16string& path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
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

// Long enough for any editor that answers, short enough that one which
// does not (its thread stopped, or suspended) costs the program's UI a
// moment: the window is given up on after the first such wait. A window
// the system already sees as hung is given up on at once.
constexpr UINT kAnswerLimit = 1000;

bool SendWithLimit(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  return ::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                               kAnswerLimit, &result) != 0;
}

// The full path of the program the window's process runs; empty when it
// cannot be asked.
std::wstring ProgramOfWindow(HWND window) {
  DWORD processId = 0;
  if (!::GetWindowThreadProcessId(window, &processId)) return {};
  const TKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return {};
  std::wstring path(32768, L'\0');
  DWORD size = static_cast<DWORD>(path.size());
  if (!::QueryFullProcessImageNameW(process.Get(), 0, path.data(), &size)) return {};
  path.resize(size);
  return path;
}

std::wstring InFolder(UINT(WINAPI* folderOf)(LPWSTR, UINT), const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  const UINT n = folderOf(folder, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(folder, n) + L"\\" + name : std::wstring();
}

// The system's registry editor: regedit.exe in the Windows folder and, on
// 64-bit Windows, its 32-bit copy in the WOW64 system folder (which a 32-bit
// program starting "regedit.exe" reaches, and which Wine runs as it is).
std::vector<std::wstring> RegistryEditorPaths() {
  std::vector<std::wstring> paths;
  for (auto folderOf : {&::GetWindowsDirectoryW, &::GetSystemWow64DirectoryW}) {
    std::wstring path = InFolder(folderOf, L"regedit.exe");
    if (!path.empty()) paths.push_back(std::move(path));
  }
  return paths;
}

// File names compare as the file system does: regardless of case.
bool SamePath(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
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

std::vector<WindowHandle> TWin32WindowFunctions::TopLevelWindows(const std::string& className) {
  std::vector<WindowHandle> found;
  const std::wstring wide = ToWide(className);
  for (HWND window = nullptr; (window = ::FindWindowExW(nullptr, window, wide.c_str(), nullptr));) {
    found.push_back(AsHandle(window));
  }
  return found;
}

bool TWin32WindowFunctions::IsRegistryEditor(WindowHandle window) {
  const std::wstring program = ProgramOfWindow(AsHwnd(window));
  if (program.empty()) return false;
  for (const std::wstring& editor : RegistryEditorPaths()) {
    if (SamePath(program, editor)) return true;
  }
  return false;
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

// Asynchronous: shown by its own thread, which may not answer.
void TWin32WindowFunctions::ShowWindow(WindowHandle window, int command) {
  ::ShowWindowAsync(AsHwnd(window), command);
}

void TWin32WindowFunctions::SetForegroundWindow(WindowHandle window) {
  ::SetForegroundWindow(AsHwnd(window));
}

void TWin32WindowFunctions::SetFocus(WindowHandle window) {
  ::SetFocus(AsHwnd(window));
}

bool TWin32WindowFunctions::Send(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t lParam) {
  return SendWithLimit(AsHwnd(window), message, wParam, lParam);
}

// Wide, so that the character reaches the window as itself on any system: the
// ANSI message would be read in the system's code page, not in 936.
bool TWin32WindowFunctions::TypeCharacter(WindowHandle window, std::u16string_view character) {
  constexpr LPARAM kOneKeystroke = 1;  // a tree ignores a character without a repeat count
  for (char16_t unit : character) {
    if (!SendWithLimit(AsHwnd(window), WM_CHAR, unit, kOneKeystroke)) return false;
  }
  return true;
}

void TWin32WindowFunctions::Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

std::unique_ptr<IProcess> TWin32ProcessLauncher::Start(const std::u16string& commandLine) {
  std::wstring wide = Wide(commandLine);  // writable, as CreateProcessW wants it
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

std::uint64_t TWin32Clock::FileTimeNow() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
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
