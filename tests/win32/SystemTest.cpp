// What the alert's actions learn from the system about a path: its
// environment strings expanded, and whether it names a file or a folder.

#include <gtest/gtest.h>
#include <windows.h>

#include "platform/win32/Win32Desktop.h"

namespace kw::test {
namespace {

TEST(Win32System, ExpandsEnvironmentStringsInCodePage936) {
  ::SetEnvironmentVariableW(L"KW_DIR", L"C:\\临时");
  ::SetEnvironmentVariableW(L"KW_LONG", std::wstring(600, L'x').c_str());
  win32::TWin32System system;
  const std::pair<std::string, std::string> rows[] = {
      // %KW_DIR%\木马.exe
      {"%KW_DIR%\\\xC4\xBE\xC2\xED.exe", "C:\\\xC1\xD9\xCA\xB1\\\xC4\xBE\xC2\xED.exe"},
      {"%KW_LONG%", std::string(600, 'x')},  // far longer than the text it comes from
      {"%KW_UNDEFINED%\\x.exe", "%KW_UNDEFINED%\\x.exe"},
      {"C:\\plain.exe", "C:\\plain.exe"},
      {"", ""},
  };
  for (const auto& [text, expected] : rows) {
    EXPECT_EQ(system.ExpandEnvironment(text), expected) << text;
  }
}

TEST(Win32System, TellsFilesFromFoldersByTheirCodePage936Names) {
  wchar_t temp[MAX_PATH];
  const std::wstring folder =
      std::wstring(temp, ::GetTempPathW(MAX_PATH, temp)) + L"kw-临时昞";  // 昞: 0x95 0x5C
  const std::wstring file = folder + L"\\木马.exe";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  ::CloseHandle(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  const auto Ansi = [](const std::wstring& wide) {
    char bytes[4 * MAX_PATH];
    const int n =
        ::WideCharToMultiByte(936, 0, wide.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
    return std::string(bytes, n > 0 ? n - 1 : 0);
  };
  win32::TWin32System system;
  EXPECT_EQ(system.FileKind(Ansi(folder)), TFileKind::Folder);
  EXPECT_EQ(system.FileKind(Ansi(folder + L"\\")), TFileKind::Folder);
  EXPECT_EQ(system.FileKind(Ansi(file)), TFileKind::File);
  EXPECT_EQ(system.FileKind(Ansi(folder + L"\\missing.exe")), TFileKind::None);
  EXPECT_EQ(system.FileKind(""), TFileKind::None);
  ::DeleteFileW(file.c_str());
  ::RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace kw::test
