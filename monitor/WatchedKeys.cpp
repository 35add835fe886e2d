#include "monitor/WatchedKeys.h"

#include <algorithm>
#include <cctype>

namespace kw {

namespace {

constexpr HiveHandle kLm = kHkeyLocalMachine;
constexpr HiveHandle kCu = kHkeyCurrentUser;

bool IsRunOnceEx(const std::string& path) {
  const std::string tail = "\\RunOnceEx";
  return path.size() >= tail.size() && path.compare(path.size() - tail.size(), tail.size(), tail) == 0;
}

bool SameAsciiPath(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// The switch Task Manager writes for an entry of the key: its Run keys
// alone, in either view, have one.
std::u16string SwitchOf(const std::string& path) {
  if (SameAsciiPath(path, "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run")) return u"Run";
  if (SameAsciiPath(path, "\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run")) return u"Run32";
  return {};
}

// Hive, path, the values that count, whether subkeys count, whether lists
// count, whether the values are settings Windows needs. A user's own Winlogon
// Shell and Windows Load and Run are entries some program put there: Windows
// starts without them.
const TLocation kFurtherLocations[] = {
    {kLm, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run", {}, false, false, false},
    {kCu, "\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run", {}, false, false, false},
    {kLm, "\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run", {}, false, false, false},
    {kLm, "\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce", {}, false, false, false},
    {kLm, "\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx", {}, true, false, false},
    {kLm, "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", {"Shell", "Userinit", "Taskman"}, false, false, true},
    {kCu, "\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", {"Shell", "Userinit", "Taskman"}, false, false, false},
    {kLm, "\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", {"Shell", "Userinit", "Taskman"}, false, false, true},
    {kCu, "\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows", {"Load", "Run"}, false, false, false},
    {kLm, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", {"Startup", "Common Startup"}, false, false, true},
    {kCu, "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", {"Startup", "Common Startup"}, false, false, true},
    {kLm, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", {"Startup", "Common Startup"}, false, false, true},
    {kCu, "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", {"Startup", "Common Startup"}, false, false, true},
    {kLm, "\\SYSTEM\\CurrentControlSet\\Control\\Session Manager", {"BootExecute"}, false, true, true},
    // Hijacks a program of the user writes without any rights: the commands
    // of the classes auto-elevating Windows programs open, under any verb (a
    // class's default verb may name one other than Open), the class a class
    // hands on to (CurVer), and COM servers.
    {kCu, "\\Software\\Classes\\ms-settings\\Shell", {"", "DelegateExecute"}, true, false, false, u"", false, false, {"command"}},
    {kCu, "\\Software\\Classes\\mscfile\\Shell", {"", "DelegateExecute"}, true, false, false, u"", false, false, {"command"}},
    {kCu, "\\Software\\Classes\\exefile\\Shell", {"", "DelegateExecute"}, true, false, false, u"", false, false, {"command"}},
    {kCu, "\\Software\\Classes\\Folder\\Shell", {"", "DelegateExecute"}, true, false, false, u"", false, false, {"command"}},
    {kCu, "\\Software\\Classes\\Directory\\Shell", {"", "DelegateExecute"}, true, false, false, u"", false, false, {"command"}},
    {kCu, "\\Software\\Classes\\Launcher.SystemSettings\\Shell", {"", "DelegateExecute"}, true, false, false, u"", false, false, {"command"}},
    {kCu, "\\Software\\Classes\\ms-settings\\CurVer", {""}, false, false, false},
    {kCu, "\\Software\\Classes\\mscfile\\CurVer", {""}, false, false, false},
    {kCu, "\\Software\\Classes\\exefile\\CurVer", {""}, false, false, false},
    {kCu, "\\Software\\Classes\\Folder\\CurVer", {""}, false, false, false},
    {kCu, "\\Software\\Classes\\Directory\\CurVer", {""}, false, false, false},
    {kCu, "\\Software\\Classes\\Launcher.SystemSettings\\CurVer", {""}, false, false, false},
    {kCu, "\\Software\\Classes\\CLSID", {}, true, false, false, u"", false, false, {"InprocServer32", "InprocHandler32", "LocalServer32", "TreatAs", "ScriptletURL"}},
    {kCu, "\\Software\\Classes\\Wow6432Node\\CLSID", {}, true, false, false, u"", false, false, {"InprocServer32", "InprocHandler32", "LocalServer32", "TreatAs", "ScriptletURL"}},
    // A logon script, a profiler every .NET program of the user loads, and
    // the folders Windows' own programs are looked for in.
    {kCu, "\\Environment", {"UserInitMprLogonScript", "COR_ENABLE_PROFILING", "COR_PROFILER", "COR_PROFILER_PATH", "windir", "SystemRoot"}, false, false, false},
    {kLm, "\\SOFTWARE\\Microsoft\\Command Processor", {"AutoRun"}, false, false, false},
    {kCu, "\\Software\\Microsoft\\Command Processor", {"AutoRun"}, false, false, false},
    {kLm, "\\SOFTWARE\\Wow6432Node\\Microsoft\\Command Processor", {"AutoRun"}, false, false, false},
    {kLm, "\\SOFTWARE\\Microsoft\\Office test\\Special\\Perf", {}, false, false, false},
    {kCu, "\\Software\\Microsoft\\Office test\\Special\\Perf", {}, false, false, false},
    {kLm, "\\SOFTWARE\\Wow6432Node\\Microsoft\\Office test\\Special\\Perf", {}, false, false, false},
    // What Windows starts with, or in place of, another program.
    {kLm, "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options", {"Debugger", "GlobalFlag"}, true, false, false, u"", false, true},
    {kLm, "\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options", {"Debugger", "GlobalFlag"}, true, false, false, u"", false, true},
    {kLm, "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SilentProcessExit", {"MonitorProcess"}, true, false, false},
    {kLm, "\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\SilentProcessExit", {"MonitorProcess"}, true, false, false},
    {kLm, "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows", {"AppInit_DLLs", "LoadAppInit_DLLs"}, false, false, false, u"", false, true},
    {kLm, "\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Windows", {"AppInit_DLLs", "LoadAppInit_DLLs"}, false, false, false, u"", false, true},
    {kLm, "\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\AppCertDlls", {}, false, false, false},
    {kLm, "\\SOFTWARE\\Microsoft\\Active Setup\\Installed Components", {"StubPath"}, true, false, false},
    {kLm, "\\SOFTWARE\\Wow6432Node\\Microsoft\\Active Setup\\Installed Components", {"StubPath"}, true, false, false},
    {kLm, "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", {}, false, false, false},
    {kLm, "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", {}, false, false, false},
    {kLm, "\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx", {}, true, false, false},
    // Task Manager's switches: "删除" leaves them to the registry editor, as
    // deleting one would switch its entry on.
    {kLm, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved", {}, true, false, true, u"", true},
    {kCu, "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved", {}, true, false, true, u"", true},
};

}  // namespace

std::vector<TLocation> WatchedLocations(const std::vector<std::string>& sevenKeys) {
  std::vector<TLocation> locations;
  for (HiveHandle hive : {kLm, kCu}) {
    for (const std::string& path : sevenKeys) {
      // RunOnceEx keeps its entries in numbered subkeys and in Depend.
      // The user's hive has one view: its Wow6432Node Run has no switch of Windows' own.
      std::u16string switchKey = SwitchOf(path);
      if (hive == kCu && switchKey == u"Run32") switchKey.clear();
      locations.push_back({hive, path, {}, IsRunOnceEx(path), false, false, std::move(switchKey)});
    }
  }
  for (const TLocation& location : kFurtherLocations) locations.push_back(location);
  return locations;
}

}  // namespace kw
