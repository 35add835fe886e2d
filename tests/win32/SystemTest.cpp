// What the alert's actions learn from the system about a path: its
// environment strings expanded, and whether it names a file or a folder.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32Folders.h"
#include "toolkit/win32/Text.h"
#include "ui/AdminOnly.h"

namespace kw::test {
namespace {

TEST(Win32System, ExpandsEnvironmentStringsInCodePage936) {
  ::SetEnvironmentVariableW(L"KW_DIR", L"C:\\临时");
  ::SetEnvironmentVariableW(L"KW_LONG", std::wstring(600, L'x').c_str());
  win32::TWin32System system;
  const std::pair<std::u16string, std::u16string> rows[] = {
      {u"%KW_DIR%\\\u6728\u9A6C.exe", u"C:\\\u4E34\u65F6\\\u6728\u9A6C.exe"},  // 木马.exe
      {u"%KW_LONG%", std::u16string(600, u'x')},  // far longer than the text it comes from
      {u"%KW_UNDEFINED%\\x.exe", u"%KW_UNDEFINED%\\x.exe"},
      {u"C:\\upd\u00E2te.exe", u"C:\\upd\u00E2te.exe"},  // exactly, no best fit
      {u"", u""},
  };
  for (const auto& [text, expected] : rows) {
    EXPECT_TRUE(system.ExpandEnvironment(text) == expected)
        << std::wstring(text.begin(), text.end());
  }
}

TEST(Win32System, TellsFilesFromFoldersByTheirExactNamesAndDeletesOnlyTheFileNamed) {
  wchar_t temp[MAX_PATH];
  const std::wstring folder =
      std::wstring(temp, ::GetTempPathW(MAX_PATH, temp)) + L"kw-临时昞";  // 昞: 0x95 0x5C
  const std::wstring file = folder + L"\\木马.exe";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  ::CloseHandle(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  const auto Ansi = [](const std::wstring& wide) {
    return std::u16string(wide.begin(), wide.end());
  };
  win32::TWin32System system;
  EXPECT_EQ(system.FileKind(Ansi(folder)), TFileKind::Folder);
  EXPECT_EQ(system.FileKind(Ansi(folder + L"\\")), TFileKind::Folder);
  EXPECT_EQ(system.FileKind(Ansi(file)), TFileKind::File);
  EXPECT_EQ(system.FileKind(Ansi(folder + L"\\missing.exe")), TFileKind::None);
  EXPECT_EQ(system.FileKind(u""), TFileKind::None);
  // Its look-alike in plain letters names no file.
  EXPECT_EQ(system.FileKind(Ansi(folder + L"\\\u6728\u9A6C\u00E2.exe")), TFileKind::None);
  win32::TWin32Folders folders;
  EXPECT_FALSE(folders.DeleteFileAt(Ansi(folder))) << "a folder is never deleted as a file";
  EXPECT_FALSE(folders.DeleteFileAt(Ansi(folder + L"\\\u6728\u9A6C\u00E2.exe")));
  EXPECT_EQ(system.FileKind(Ansi(folder)), TFileKind::Folder);
  EXPECT_TRUE(folders.DeleteFileAt(Ansi(file))) << "error " << ::GetLastError();
  EXPECT_EQ(system.FileKind(Ansi(file)), TFileKind::None);
  ::DeleteFileW(file.c_str());
  ::RemoveDirectoryW(folder.c_str());
}

// A folder of the user's own: the user's programs can change what it holds,
// on Windows as under Wine (whose descriptors say so of every folder).
TEST(Win32System, AFolderOfTheUsersIsNoAdministratorsOnlyPlace) {
  wchar_t temp[MAX_PATH];
  const std::wstring folder = std::wstring(temp, ::GetTempPathW(MAX_PATH, temp)) + L"kw-卫士";
  const std::wstring file = folder + L"\\k.exe";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  ::CloseHandle(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  win32::TWin32System system;
  win32::TWin32CodePage codePage;
  const TFileSecurity security = system.Security(win32::ToAnsi(file));
  EXPECT_TRUE(security.Known);
  EXPECT_FALSE(security.Owner.empty());
  const TChangeCheck check = WhoCanChange(system, codePage, win32::ToAnsi(file));
  EXPECT_EQ(static_cast<int>(check.Result), static_cast<int>(TChangeableBy::Others))
      << check.Path << " " << check.Sid;
  std::printf("owner %s, %zu allowing entries; decided at %s by %s (%s)\n",
              security.Owner.c_str(), security.Allowed.size(), check.Path.c_str(),
              check.Sid.c_str(), system.AccountName(check.Sid).c_str());
  EXPECT_FALSE(system.Security(win32::ToAnsi(folder + L"\\missing.exe")).Known);
  EXPECT_FALSE(system.IsNetworkDrive("C:\\"));
  ::DeleteFileW(file.c_str());
  ::RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace kw::test
