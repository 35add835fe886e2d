// The program as the Windows Installer package puts it on a machine: it
// starts from where it was installed, alerts, and writes the Application log.
// Run by the package pass of scripts/test.sh, which installs the package,
// names the installed program in KW_PROGRAM and catches the program's event
// log calls (Wine prints them on standard error) in the file KW_EVENT_TRACE.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/e2e/Program.h"

namespace kw::e2e {
namespace {

// How Wine's trace writes a string: in L"...", each backslash doubled.
std::string Traced(const std::wstring& text) {
  std::string traced = "ReportEventW L\"";
  for (wchar_t c : text) {
    if (c == L'\\')
      traced += "\\\\";
    else
      traced += static_cast<char>(c);  // the tests' own texts are ASCII
  }
  return traced + "\"";
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(Installed, AlertsAndWritesTheGuardsStartToTheApplicationLog) {
  char trace[1024];
  const DWORD n = ::GetEnvironmentVariableA("KW_EVENT_TRACE", trace, sizeof trace);
  if (n == 0 || n >= sizeof trace) GTEST_SKIP() << "only in the package pass";
  {
    TProgram program;
    ASSERT_TRUE(program.Running());
    HKEY run = nullptr;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                      nullptr, 0, KEY_ALL_ACCESS, nullptr, &run, nullptr);
    const std::wstring data = L"C:\\installed\\probe.exe";
    ::RegSetValueExW(run, L"KeywardenInstalled", 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    const auto path = [&] {
      auto edits = ChildrenOfClass(program.AlertWindow(), L"TEdit");
      return edits.size() == 4 ? TextOf(edits[3]) : std::wstring();
    };
    EXPECT_TRUE(WaitFor([&] { return path() == data; })) << path().size();
    EXPECT_TRUE(::IsWindowVisible(program.AlertWindow()));
    ::RegDeleteValueW(run, L"KeywardenInstalled");
    ::RegCloseKey(run);
  }  // ended as "退出" ends it
  // The guard's start names the installed program.
  const std::string expected = Traced(ProgramPath());
  EXPECT_TRUE(WaitFor([&] { return Count(UnixFile(trace), expected) >= 1; }))
      << "in " << trace << ": " << expected;
}

}  // namespace
}  // namespace kw::e2e
