// How soon an alert shows an autostart change, for Keywarden and for a
// minimal Win32 program of the same design (kw_minimal_alert): the time from
// one value written under HKCU's Run key to Edit3 showing it, and the time
// from the last value of a flood written into HKCU's RunOnce key to Edit3
// showing that last value; and the single writes beside the lean build of
// the minimal program (kw_lean_alert), which sets each field once. Runs
// under Wine; prints figures only.
//
//   kw_alert_bench [Keywarden.exe [kw_minimal_alert.exe [kw_lean_alert.exe]]]
//
// Either program may be of either bitness; paths may be Unix paths. Both are
// watched the same way: WM_GETTEXT sent to Edit3 over and over, which the
// program's UI thread answers whenever it next takes a message.
// KW_BENCH_FLOOD_DEADLINE (seconds, default 30) bounds the wait for a flood;
// KW_BENCH_FLOODS (default 3) sets how many floods are timed, 0 for the
// single writes alone.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/e2e/Driver.h"

using namespace kw::e2e;

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const int kSingleWrites = 50;
const int kFloodValues = 5000;
const int kRounds = 10;
const int kFloods = 3;
const int kWarmUpValues = 20;

LONGLONG Now() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return now.QuadPart;
}

double MillisecondsSince(LONGLONG start) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(Now() - start) / static_cast<double>(frequency.QuadPart);
}

// A Unix path seen through drive Z:, a Windows path as it is.
std::wstring WindowsPath(std::wstring path) {
  if (path.empty() || path[0] != L'/') return path;
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return L"Z:" + path;
}

std::wstring BesideSelf(const std::wstring& name) {
  wchar_t self[MAX_PATH];
  const std::wstring path(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
  return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

void SetString(HKEY key, const std::wstring& name, const std::wstring& data) {
  ::RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

HKEY CreateKey(const wchar_t* path) {
  HKEY key = nullptr;
  ::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  return key;
}

class TRegKey {
 public:
  explicit TRegKey(const wchar_t* path) : Key(CreateKey(path)) {}
  ~TRegKey() {
    if (Key) ::RegCloseKey(Key);
  }
  TRegKey(const TRegKey&) = delete;
  TRegKey& operator=(const TRegKey&) = delete;
  HKEY Get() const { return Key; }

 private:
  HKEY Key;
};

// How a program's alert is found: the classes of its main and alert windows
// and of the alert's edit fields. Edit3 is the fourth field from the top.
struct TDesign {
  const char* Name;
  std::wstring Exe;
  const wchar_t* MainClass;
  const wchar_t* AlertClass;
  const wchar_t* EditClass;
};

class TProgram {
 public:
  explicit TProgram(const TDesign& design) : Design(design) {
    // Each run measures a guard in its steady state: without the state an
    // earlier run saved, whose values the driver has removed since, and
    // without the thousands of changes of its floods it was left showing,
    // which a guard shows again at its next start; so that no report of
    // them comes in among the timed writes, nor a list of them slows it.
    ForgetSavedState();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + design.Exe + L"\"";
    if (!::CreateProcessW(design.Exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, nullptr, &startup, &Process))
      return;
    ::CloseHandle(Process.hThread);
    WaitFor([&] { return Window(design.MainClass) && FindEdit3(); }, 20000);
  }
  ~TProgram() {
    if (!Process.hProcess) return;
    if (HWND main = Window(Design.MainClass)) ::PostMessageW(main, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(Process.hProcess, 10000) != WAIT_OBJECT_0)
      ::TerminateProcess(Process.hProcess, 1);
    ::CloseHandle(Process.hProcess);
  }
  TProgram(const TProgram&) = delete;
  TProgram& operator=(const TProgram&) = delete;

  HWND Edit3() const { return Edit; }

 private:
  HWND Window(const wchar_t* className) const {
    auto found = TopLevelWindows(Process.dwProcessId, className);
    return found.empty() ? nullptr : found.front();
  }
  bool FindEdit3() {
    HWND alert = Window(Design.AlertClass);
    if (!alert) return false;
    auto edits = ChildrenOfClass(alert, Design.EditClass);
    Edit = edits.size() >= 4 ? edits[3] : nullptr;
    return Edit != nullptr;
  }

  TDesign Design;
  PROCESS_INFORMATION Process{};
  HWND Edit = nullptr;
};

bool ShowsText(HWND edit, const std::wstring& text) {
  wchar_t buffer[1024];
  DWORD_PTR length = 0;
  return ::SendMessageTimeoutW(edit, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer),
                               SMTO_NORMAL, 1000, &length) &&
         length == text.size() && text.compare(0, text.size(), buffer, length) == 0;
}

// Milliseconds from `start` until `edit` shows `text`; negative past the
// deadline. Asks without pause for the first `pollFreelyMs`, then once a
// millisecond: a flood's drain is long enough that the driver's own
// questions would otherwise slow the program it measures, and a program that
// never shows the text then costs the shared machine little.
double WaitForText(HWND edit, const std::wstring& text, LONGLONG start, double deadlineMs,
                   double pollFreelyMs = 1000) {
  for (;;) {
    if (ShowsText(edit, text)) return MillisecondsSince(start);
    const double waited = MillisecondsSince(start);
    if (waited > deadlineMs) return -1;
    if (waited > pollFreelyMs) ::Sleep(1);
  }
}

struct TFigures {
  std::vector<double> LatenciesMs;
  int Missed = 0;
  std::vector<double> FloodsMs;  // negative: not drained by the deadline
};

// Adds values until the alert shows one, so that every monitor is armed and
// the alert is up before anything is timed. Each is a new value: one the
// monitor read before it was armed would come back as a changed line.
bool WarmUp(HWND edit, HKEY run) {
  for (int attempt = 0; attempt < kWarmUpValues; ++attempt) {
    const std::wstring data = L"C:\\bench\\warmup" + std::to_wstring(attempt) + L".exe";
    const LONGLONG start = Now();
    SetString(run, L"KeywardenBenchWarmup" + std::to_wstring(attempt), data);
    if (WaitForText(edit, data, start, 1000) >= 0) return true;
  }
  return false;
}

void MeasureSingleWrites(HWND edit, HKEY run, int count, TFigures& figures) {
  for (int i = 0; i < count; ++i) {
    const std::wstring data = L"C:\\bench\\single" + std::to_wstring(i) + L".exe";
    const LONGLONG start = Now();
    SetString(run, L"KeywardenBench" + std::to_wstring(i), data);
    const double shown = WaitForText(edit, data, start, 5000);
    if (shown < 0)
      ++figures.Missed;
    else
      figures.LatenciesMs.push_back(shown);
    ::Sleep(20);  // lets the handler finish before the next write
  }
}

// Numbered to sort as they are written: Wine enumerates a key's values by
// name, Windows as they were written, and the last line shown is the last
// enumerated.
std::wstring FloodValueName(int i) {
  wchar_t name[32];
  std::swprintf(name, 32, L"KeywardenFlood%05d", i);
  return name;
}

void MeasureFlood(HWND edit, HKEY runOnce, double deadlineMs, TFigures& figures) {
  std::wstring last;
  for (int i = 0; i < kFloodValues; ++i) {
    last = L"C:\\flood\\" + std::to_wstring(i) + L".exe";
    SetString(runOnce, FloodValueName(i), last);
  }
  figures.FloodsMs.push_back(WaitForText(edit, last, Now(), deadlineMs, 0));
}

// Run after the program has ended, so that it sees none of the deletions.
void RemoveBenchValues(HKEY run, HKEY runOnce) {
  for (int i = 0; i < kWarmUpValues; ++i)
    ::RegDeleteValueW(run, (L"KeywardenBenchWarmup" + std::to_wstring(i)).c_str());
  for (int i = 0; i < kSingleWrites; ++i)
    ::RegDeleteValueW(run, (L"KeywardenBench" + std::to_wstring(i)).c_str());
  for (int i = 0; i < kFloodValues; ++i) ::RegDeleteValueW(runOnce, FloodValueName(i).c_str());
}

// One run of a program: started, warmed up, `writes` single writes timed,
// then a flood if asked for; ended before its values are removed.
bool Session(const TDesign& design, int writes, bool flood, double floodDeadlineMs,
             TFigures& figures) {
  TRegKey run(kRunKey), runOnce(kRunOnceKey);
  bool measured = false;
  {
    TProgram program(design);
    if (!program.Edit3())
      std::printf("%s did not start: %ls\n", design.Name, design.Exe.c_str());
    else if (!WarmUp(program.Edit3(), run.Get()))
      std::printf("%s showed no alert: %ls\n", design.Name, design.Exe.c_str());
    else
      measured = true;
    if (measured) MeasureSingleWrites(program.Edit3(), run.Get(), writes, figures);
    if (measured && flood) MeasureFlood(program.Edit3(), runOnce.Get(), floodDeadlineMs, figures);
  }
  RemoveBenchValues(run.Get(), runOnce.Get());
  return measured;
}

double Median(std::vector<double> values) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// A flood that did not drain counts as taking the whole deadline.
double FloodMedian(const TFigures& figures, double deadlineMs) {
  std::vector<double> drains;
  for (double ms : figures.FloodsMs) drains.push_back(ms >= 0 ? ms : deadlineMs);
  return Median(drains);
}

void Print(const char* name, const TFigures& figures, int floods, double floodDeadlineMs) {
  std::printf("%s, alert latency, median of %d (ms): %.3f\n", name, kSingleWrites,
              Median(figures.LatenciesMs));
  const auto worst = std::max_element(figures.LatenciesMs.begin(), figures.LatenciesMs.end());
  std::printf("%s, alert latency, worst of %d (ms): %.3f\n", name, kSingleWrites,
              worst == figures.LatenciesMs.end() ? -1 : *worst);
  std::printf("%s, single writes never shown: %d\n", name, figures.Missed);
  if (floods == 0) return;
  std::string drains;
  for (double ms : figures.FloodsMs) {
    char one[32];
    std::snprintf(one, sizeof one, ms >= 0 ? "%.1f" : "none in %.0f",
                  ms >= 0 ? ms : floodDeadlineMs);
    drains += (drains.empty() ? "" : ", ") + std::string(one);
  }
  std::printf("%s, flood drains, %d values (ms): %s\n", name, kFloodValues, drains.c_str());
  const double median = FloodMedian(figures, floodDeadlineMs);
  if (median < floodDeadlineMs)
    std::printf("%s, flood drain, median of %d (ms): %.1f\n", name, floods, median);
  else
    std::printf("%s, flood drain, median of %d (ms): not drained in %.0f\n", name, floods,
                floodDeadlineMs);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const char* deadlineText = std::getenv("KW_BENCH_FLOOD_DEADLINE");
  const double floodDeadlineMs = 1000.0 * (deadlineText ? std::atof(deadlineText) : 30.0);
  const char* floodsText = std::getenv("KW_BENCH_FLOODS");
  const int floods = floodsText ? std::max(0, std::atoi(floodsText)) : kFloods;
  const TDesign keywarden{"Keywarden",
                          argc > 1 ? WindowsPath(argv[1]) : BesideSelf(L"Keywarden.exe"), L"TForm1",
                          L"TForm2", L"TEdit"};
  const TDesign minimal{"minimal program",
                        argc > 2 ? WindowsPath(argv[2]) : BesideSelf(L"kw_minimal_alert.exe"),
                        L"KwMinimalMain", L"KwMinimalAlert", L"Edit"};
  const TDesign lean{"lean program",
                     argc > 3 ? WindowsPath(argv[3]) : BesideSelf(L"kw_lean_alert.exe"),
                     L"KwMinimalMain", L"KwMinimalAlert", L"Edit"};
  std::printf("Keywarden: %ls\nminimal program: %ls\nlean program: %ls\n", keywarden.Exe.c_str(),
              minimal.Exe.c_str(), lean.Exe.c_str());
  std::fflush(stdout);

  // The shared machine's load drifts: single writes and floods are taken in
  // rounds, the two programs taking turns at going first, after one untimed
  // run that lets the fresh prefix settle.
  TFigures ours, theirs, leanest, untimed;
  if (!Session(minimal, 0, false, 0, untimed)) return 1;
  auto bothInTurn = [&](int round, auto session) {
    const bool oursFirst = round % 2 == 0;
    return session(oursFirst ? keywarden : minimal, oursFirst ? ours : theirs) &&
           session(oursFirst ? minimal : keywarden, oursFirst ? theirs : ours);
  };
  auto writes = [&](const TDesign& design, TFigures& figures) {
    return Session(design, kSingleWrites / kRounds, false, 0, figures);
  };
  auto flood = [&](const TDesign& design, TFigures& figures) {
    return Session(design, 0, true, floodDeadlineMs, figures);
  };
  // The lean program takes its turn after both in each round of single writes.
  for (int round = 0; round < kRounds; ++round)
    if (!bothInTurn(round, writes) || !writes(lean, leanest)) return 1;
  for (int round = 0; round < floods; ++round)
    if (!bothInTurn(round + 1, flood)) return 1;
  Print(keywarden.Name, ours, floods, floodDeadlineMs);
  Print(minimal.Name, theirs, floods, floodDeadlineMs);
  Print(lean.Name, leanest, 0, floodDeadlineMs);
  std::printf("alert latency / minimal program: %.2f\n",
              Median(ours.LatenciesMs) / Median(theirs.LatenciesMs));
  std::printf("alert latency / lean program: %.2f\n",
              Median(ours.LatenciesMs) / Median(leanest.LatenciesMs));
  if (floods == 0) return 0;

  const double ourDrain = FloodMedian(ours, floodDeadlineMs);
  const double theirDrain = FloodMedian(theirs, floodDeadlineMs);
  if (ourDrain >= floodDeadlineMs || theirDrain >= floodDeadlineMs)
    std::printf("(a flood did not drain, so its ratio is taken at the deadline)\n");
  std::printf("flood drain / minimal program: %.2f\n", ourDrain / theirDrain);
  return 0;
}
