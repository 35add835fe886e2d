// The profile functions under Wine, against the same cases as our own implementation.

#include <gtest/gtest.h>
#include <windows.h>

#include "platform/win32/Win32Desktop.h"
#include "tests/common/ProfileCases.h"

namespace kw::test {
namespace {

TEST(Win32Profile, TheSharedCases) {
  char temp[MAX_PATH];
  ::GetTempPathA(MAX_PATH, temp);
  win32::TWin32Profile profile;
  RunProfileCases(profile, temp);
}

std::string TempFile(const char* name) {
  char temp[MAX_PATH];
  ::GetTempPathA(MAX_PATH, temp);
  return std::string(temp) + name;
}

TEST(Win32Profile, AReadOnlyFileIsNotReplaced) {
  const std::string file = TempFile("readonly.ini");
  ::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
  WriteBytes(file, "[Form3]\r\nCheckBox1=1\r\n");
  ASSERT_TRUE(::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
  win32::TWin32Profile profile;
  ExpectWriteFailsAndKeeps(profile, file, file + ".tmp");
  ::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileA(file.c_str());
}

// Another program holds the file open without sharing reads: nothing is
// written in its place, neither from what little could be read nor anew.
TEST(Win32Profile, AFileThatCannotBeReadIsNotOverwritten) {
  const std::string file = TempFile("held.ini");
  WriteBytes(file, "[Form3]\r\nCheckBox1=1\r\nCheckBox3=1\r\n");
  win32::TWin32Profile profile;
  {
    HANDLE held = ::CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(profile.WriteString(file, "Form3", "CheckBox1", "0"));
    ::CloseHandle(held);
  }
  EXPECT_EQ(ReadBytes(file), "[Form3]\r\nCheckBox1=1\r\nCheckBox3=1\r\n");
  EXPECT_EQ(::GetFileAttributesA((file + ".tmp").c_str()), INVALID_FILE_ATTRIBUTES);
  ::DeleteFileA(file.c_str());
}

}  // namespace
}  // namespace kw::test
