// What the alert's actions learn from the system about a path: its
// environment strings expanded, and whether it names a file or a folder.

#include <gtest/gtest.h>
#include <windows.h>
// After <windows.h>, which it needs.
#include <sddl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32Folders.h"
#include "platform/win32/Win32LogonTask.h"
#include "platform/win32/Win32StatePlace.h"
#include "tests/common/RemoveTree.h"
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

std::wstring Environment(const wchar_t* name) {
  wchar_t value[MAX_PATH];
  const DWORD n = ::GetEnvironmentVariableW(name, value, MAX_PATH);
  return std::wstring(value, n < MAX_PATH ? n : 0);
}

std::vector<std::wstring> SetAsideRoots(const std::wstring& programData,
                                        const wchar_t* pattern = L"Keywarden.untrusted.*") {
  std::vector<std::wstring> roots;
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW((programData + L"\\" + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return roots;
  do {
    roots.push_back(programData + L"\\" + found.cFileName);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return roots;
}

std::string Contents(const std::wstring& path) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(unreadable)";
  char buffer[256];
  DWORD got = 0;
  const BOOL read = ::ReadFile(file, buffer, sizeof buffer, &got, nullptr);
  ::CloseHandle(file);
  return read ? std::string(buffer, got) : "(unreadable)";
}

void ForgetStateRoots(const std::wstring& programData) {
  RemoveTree(programData + L"\\Keywarden");
  for (const std::wstring& root : SetAsideRoots(programData, L"Keywarden.*")) RemoveTree(root);
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Keywarden", 0,
                      KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
    ::RegDeleteValueW(key, L"StateRoot");
    ::RegDeleteValueW(key, L"StateRootName");
    ::RegCloseKey(key);
  }
}

bool Plant(const std::wstring& path, const std::string& bytes) {
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL whole =
      ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size();
  ::CloseHandle(file);
  return whole;
}

bool MakeFolder(const std::wstring& path, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const bool made = ::CreateDirectoryW(path.c_str(), &attributes);
  ::LocalFree(descriptor);
  return made;
}

// A program of the user can make the state folder before the elevated guard
// ever does, with a secret it knows, and hold it open. Under Wine every file
// is owned by the current user and no access is enforced: a folder the guard
// did not make itself, open to Everyone, stands in for one a user made.
TEST(Win32StatePlace, AFolderTheGuardDidNotMakeIsSetAsideAndNothingOfItUsed) {
  const std::wstring programData = Environment(L"ProgramData");
  const std::wstring root = programData + L"\\Keywarden";
  const std::wstring sid = win32::ToWide(win32::CurrentUserSid());
  const std::wstring ownKey = L"\\" + sid + L"\\Keywarden.key";
  const std::wstring localKey = Environment(L"LOCALAPPDATA") + L"\\Keywarden\\Keywarden.key";
  const bool hadLocalKey = ::GetFileAttributesW(localKey.c_str()) != INVALID_FILE_ATTRIBUTES;
  ForgetStateRoots(programData);
  const std::string planted(win32::TWin32StatePlace::kSecretSize, 'k');
  const auto plantRoot = [&] {
    return MakeFolder(root, L"D:P(A;OICI;FA;;;WD)") &&
           MakeFolder(root + L"\\" + sid, L"D:P(A;OICI;FA;;;WD)") && Plant(root + ownKey, planted);
  };
  ASSERT_TRUE(plantRoot());
  win32::TWin32StatePlace place;
  {
    // Held without sharing its deletion, it cannot be set aside: a root of a
    // name drawn at random stands in, noted, and is found again by the note.
    const HANDLE held =
        ::CreateFileW(root.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const TStatePlace blocked = place.Open();
    ::CloseHandle(held);
    EXPECT_TRUE(blocked.Protected) << "expected never the user's own folder";
    EXPECT_TRUE(blocked.RanBefore) << "a folder someone else made is no first start";
    EXPECT_NE(blocked.Secret, planted);
    EXPECT_TRUE(SetAsideRoots(programData).empty());
    const std::vector<std::wstring> drawn =
        SetAsideRoots(programData, L"Keywarden.????????????????");
    ASSERT_EQ(drawn.size(), 1u) << "expected one root of a drawn name";
    const std::wstring drawnOwn = drawn[0] + L"\\" + sid;
    EXPECT_TRUE(blocked.Folder == std::u16string(drawnOwn.begin(), drawnOwn.end()));
    const TStatePlace again = place.Open();
    EXPECT_TRUE(again.Folder == blocked.Folder);
    EXPECT_EQ(again.Secret, blocked.Secret);
  }
  // Where nothing holds it, the planted root is set aside and a fresh one made.
  ForgetStateRoots(programData);
  ASSERT_TRUE(plantRoot());
  const TStatePlace first = place.Open();
  EXPECT_TRUE(first.Protected);
  EXPECT_TRUE(first.RanBefore) << "the state that was there counts as lost";
  EXPECT_EQ(first.Secret.size(), win32::TWin32StatePlace::kSecretSize);
  EXPECT_NE(first.Secret, planted);
  const std::wstring own = root + L"\\" + sid;
  EXPECT_TRUE(first.Folder == std::u16string(own.begin(), own.end()))
      << "expected the new folder under ProgramData";
  const std::vector<std::wstring> aside = SetAsideRoots(programData);
  ASSERT_EQ(aside.size(), 1u) << "expected the planted folder set aside beside the new one";
  EXPECT_EQ(Contents(aside[0] + ownKey), planted);
  EXPECT_NE(Contents(root + ownKey), planted);
  // The guard's own folder is kept, and its secret with it.
  const TStatePlace second = place.Open();
  EXPECT_TRUE(second.Protected);
  EXPECT_TRUE(second.RanBefore);
  EXPECT_EQ(second.Secret, first.Secret);
  EXPECT_EQ(SetAsideRoots(programData).size(), 1u);
  // A second name of a file that is elsewhere too is no secret.
  ASSERT_TRUE(Plant(root + L"\\elsewhere", planted));
  ASSERT_TRUE(::DeleteFileW((root + ownKey).c_str()));
  ASSERT_TRUE(::CreateHardLinkW((root + ownKey).c_str(), (root + L"\\elsewhere").c_str(), nullptr));
  const TStatePlace linked = place.Open();
  EXPECT_TRUE(linked.Secret.empty())
      << "expected no secret, got " << linked.Secret.size() << " bytes";
  EXPECT_TRUE(linked.RanBefore);
  ForgetStateRoots(programData);
  if (!hadLocalKey) ::DeleteFileW(localKey.c_str());
}

}  // namespace
}  // namespace kw::test
