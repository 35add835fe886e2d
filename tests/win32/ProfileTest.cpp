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

}  // namespace
}  // namespace kw::test
