// How soon the alert shows a new autostart value, beside a bare registry
// waiter in another process seeing the same writes; and what the program
// costs while nothing changes. Runs under Wine; prints figures only.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/Driver.h"

using namespace kw::e2e;

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kSeenEvent[] = L"KeywardenBenchSeen";
const wchar_t kSeenTime[] = L"KeywardenBenchTime";

double Milliseconds(LONGLONG ticks) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

LONGLONG Now() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return now.QuadPart;
}

// The other process: wakes on every change of the Run key, notes the time, re-arms.
int RunWaiter() {
  HKEY key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 1;
  HANDLE changed = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE seen = ::CreateEventW(nullptr, FALSE, FALSE, kSeenEvent);
  HANDLE mapping =
      ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, kSeenTime);
  auto* time = static_cast<volatile LONGLONG*>(::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 8));
  for (;;) {
    ::RegNotifyChangeKeyValue(key, TRUE, REG_NOTIFY_CHANGE_LAST_SET, changed, TRUE);
    ::SetEvent(seen);  // armed (first time) or seen (every later time)
    if (::WaitForSingleObject(changed, 20000) != WAIT_OBJECT_0) return 0;
    *time = Now();
  }
}

void Report(const char* what, std::vector<double> values) {
  std::sort(values.begin(), values.end());
  std::printf("%-40s median %8.3f ms, worst %8.3f ms\n", what, values[values.size() / 2],
              values.back());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wstring(argv[1]) == L"--waiter") return RunWaiter();

  TKeywarden program;
  HWND alert = program.AlertWindow();
  if (!program.Running() || !alert) {
    std::printf("Keywarden did not start\n");
    return 1;
  }

  HANDLE seen = ::CreateEventW(nullptr, FALSE, FALSE, kSeenEvent);
  HANDLE mapping =
      ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, kSeenTime);
  auto* seenAt = static_cast<volatile LONGLONG*>(::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 8));
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring waiterLine = L"\"" + std::wstring(self) + L"\" --waiter";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION waiter{};
  ::CreateProcessW(self, waiterLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                   &waiter);
  ::WaitForSingleObject(seen, 10000);

  HKEY run;
  ::RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_ALL_ACCESS, &run);
  std::vector<double> alertTimes, bareTimes;
  for (int i = 0; i < 50; ++i) {
    const std::wstring name = L"KeywardenBench" + std::to_wstring(i);
    const std::wstring data = L"C:\\bench\\" + std::to_wstring(i) + L".exe";
    HWND path = ChildrenOfClass(alert, L"TEdit").size() == 4 ? ChildrenOfClass(alert, L"TEdit")[3]
                                                             : nullptr;
    const LONGLONG start = Now();
    ::RegSetValueExW(run, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    LONGLONG shown = 0;
    while (Milliseconds(Now() - start) < 5000) {
      if (!path) path = ChildrenOfClass(alert, L"TEdit")[3];
      if (TextOf(path) == data) {
        shown = Now();
        break;
      }
    }
    if (::WaitForSingleObject(seen, 5000) == WAIT_OBJECT_0 && shown) {
      alertTimes.push_back(Milliseconds(shown - start));
      bareTimes.push_back(Milliseconds(*seenAt - start));
    }
  }
  for (int i = 0; i < 50; ++i)
    ::RegDeleteValueW(run, (L"KeywardenBench" + std::to_wstring(i)).c_str());
  ::RegCloseKey(run);
  ::TerminateProcess(waiter.hProcess, 0);
  if (alertTimes.empty()) {
    std::printf("no alert was seen\n");
    return 1;
  }
  Report("write to alert's path field", alertTimes);
  Report("write to bare waiter in another process", bareTimes);

  // Idle: let the deletions settle, then measure 30 quiet seconds.
  ::Sleep(2000);
  auto cpu = [&] {
    FILETIME created, exited, kernel, user;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, program.Pid());
    ::GetProcessTimes(process, &created, &exited, &kernel, &user);
    ::CloseHandle(process);
    auto ticks = [](FILETIME t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return (ticks(kernel) + ticks(user)) / 10000.0;  // milliseconds
  };
  const double before = cpu();
  ::Sleep(30000);
  std::printf("CPU time over 30 idle seconds: %.1f ms\n", cpu() - before);

  std::vector<double> sortedAlert = alertTimes, sortedBare = bareTimes;
  std::sort(sortedAlert.begin(), sortedAlert.end());
  std::sort(sortedBare.begin(), sortedBare.end());
  std::printf("alert latency / bare notification latency: %.2f\n",
              sortedAlert[sortedAlert.size() / 2] / sortedBare[sortedBare.size() / 2]);
  return 0;
}
