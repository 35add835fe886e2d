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

// How Wine's trace writes a string: in L"...", each backslash doubled. Wine
// traces the strings of each event in the class of its level (trace for
// information, warn, err), so the pass turns on every class of the channel.
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

TEST(Installed, AlertsAndWritesTheApplicationLog) {
  char trace[1024];
  const DWORD n = ::GetEnvironmentVariableA("KW_EVENT_TRACE", trace, sizeof trace);
  if (n == 0 || n >= sizeof trace) GTEST_SKIP() << "only in the package pass";
  const std::wstring data = L"C:\\installed\\probe.exe";
  {
    TProgram program;
    ASSERT_TRUE(program.Running());
    HKEY run = nullptr;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                      nullptr, 0, KEY_ALL_ACCESS, nullptr, &run, nullptr);
    ::RegSetValueExW(run, L"KeywardenInstalled", 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    const auto shown = [&] {
      for (HWND edit : ChildrenOfClass(program.AlertWindow(), L"TEdit"))
        if (TextOf(edit) == data) return true;
      return false;
    };
    EXPECT_TRUE(WaitFor(shown));
    EXPECT_TRUE(::IsWindowVisible(program.AlertWindow()));
    ::RegDeleteValueW(run, L"KeywardenInstalled");
    ::RegCloseKey(run);
    const std::string deleted = Traced(L"KeywardenInstalled");
    EXPECT_TRUE(WaitFor([&] { return Count(UnixFile(trace), deleted) >= 2; }))
        << "added and deleted";
  }  // ended as "退出" ends it
  // The guard's start and stop name the installed program; the change
  // between them names the value and its data.
  const std::string program = Traced(ProgramPath());
  EXPECT_TRUE(WaitFor([&] { return Count(UnixFile(trace), program) >= 2; }))
      << "in " << trace << ": " << program;
  EXPECT_GE(Count(UnixFile(trace), Traced(data)), 2);
}

}  // namespace
}  // namespace kw::e2e
