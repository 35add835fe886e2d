// The yardstick for Keywarden's alert: the same design written directly on
// Win32, with no toolkit and nothing beyond what a change needs to reach the
// screen. One worker per watched key and hive re-arms its notification
// before it reads the key, so no change made while it works is lost; a hidden
// window receives each change synchronously; a topmost dialog with four edit
// fields shows the change line by line. Its windows are found by class:
// "KwMinimalMain" and "KwMinimalAlert", whose edit fields have the control
// ids 1 to 4 of Edit1 to Edit4. WM_CLOSE to the main window ends it.
// Built with KW_LEAN_ALERT, it is the lean program: the same, but each field
// is set once for a change, with its last line.

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "monitor/WatchedKeys.h"

namespace {

const UINT kRegChange = 2997;
const wchar_t kMainClass[] = L"KwMinimalMain";
const wchar_t kAlertClass[] = L"KwMinimalAlert";
const wchar_t kDeletedTitle[] = L"警告！注册表更改 - 删除启动项";
const wchar_t kAddedTitle[] = L"警告！注册表更改 - 添加启动项";

struct KeyCloser {
  void operator()(HKEY key) const { ::RegCloseKey(key); }
};
struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

struct Value {
  std::wstring Name, Data;
};
using Snapshot = std::vector<Value>;

// What a worker hands to the window: the lines from Shown on are new.
struct Change {
  HKEY Hive;
  std::wstring Key;
  std::vector<std::wstring> Lines;
  std::size_t Shown = 0;
  std::wstring Title;
};

struct Monitor {
  HKEY Hive;
  std::wstring Key;  // with its leading backslash, as in the table
  HWND Window;
  HANDLE Stop;
};

std::wstring Folded(std::wstring name) {
  ::CharLowerBuffW(name.data(), static_cast<DWORD>(name.size()));
  return name;
}

// The key's REG_SZ values in enumeration order. A value that grew since the
// size query is left out: writing it re-signalled the armed key.
Snapshot ReadSnapshot(HKEY key) {
  Snapshot values;
  DWORD maxName = 0, maxData = 0;
  if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &maxName, &maxData, nullptr, nullptr) != ERROR_SUCCESS)
    return values;
  std::vector<wchar_t> name(maxName + 1);
  std::vector<wchar_t> data(maxData / sizeof(wchar_t) + 1);
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = maxName + 1, dataSize = maxData, type = 0;
    const LONG result = ::RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data.data()), &dataSize);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) break;  // no more items, or the key is gone
    if (type != REG_SZ) continue;
    std::size_t length = dataSize / sizeof(wchar_t);
    if (length > 0 && data[length - 1] == L'\0') --length;
    values.push_back({std::wstring(name.data(), nameLength), std::wstring(data.data(), length)});
  }
  return values;
}

std::unordered_map<std::wstring, std::size_t> IndexByName(const Snapshot& values) {
  std::unordered_map<std::wstring, std::size_t> index;
  for (std::size_t i = 0; i < values.size(); ++i) index.emplace(Folded(values[i].Name), i);
  return index;
}

// Appends a line per deleted, changed and added value; true when any.
bool Compare(const Snapshot& before, const Snapshot& after, Change& change) {
  const auto beforeIndex = IndexByName(before), afterIndex = IndexByName(after);
  const std::size_t linesBefore = change.Lines.size();
  for (const Value& old : before) {
    const auto found = afterIndex.find(Folded(old.Name));
    if (found == afterIndex.end()) {
      change.Lines.push_back(old.Data);
      change.Title = kDeletedTitle;
    } else if (after[found->second].Data != old.Data) {
      change.Lines.push_back(L" 程序 (" + old.Name + L") 路径更改从 \"" + old.Data + L"\" 到 \"" +
                             after[found->second].Data + L"\"; ");
    }
  }
  for (const Value& now : after) {
    if (beforeIndex.count(Folded(now.Name))) continue;
    change.Lines.push_back(now.Data);
    change.Title = kAddedTitle;
  }
  return change.Lines.size() > linesBefore;
}

void Arm(HKEY key, HANDLE changed) {
  ::RegNotifyChangeKeyValue(key, TRUE, REG_NOTIFY_CHANGE_LAST_SET, changed, TRUE);
}

void Watch(const Monitor& monitor) {
  HKEY opened;
  if (::RegOpenKeyExW(monitor.Hive, monitor.Key.c_str() + 1, 0, KEY_READ, &opened) != ERROR_SUCCESS)
    return;  // not under this hive
  const UniqueKey key(opened);
  const UniqueHandle changed(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!changed) return;
  const HANDLE events[] = {changed.get(), monitor.Stop};
  Change change{monitor.Hive, monitor.Key, {}, 0, {}};
  Arm(key.get(), changed.get());
  Snapshot old = ReadSnapshot(key.get());
  while (::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) {
    // Re-armed before the read: whatever changes from here on wakes the next wait.
    ::ResetEvent(changed.get());
    Arm(key.get(), changed.get());
    Snapshot now = ReadSnapshot(key.get());
    if (Compare(old, now, change)) old = std::move(now);
    ::SendMessageW(monitor.Window, kRegChange, reinterpret_cast<WPARAM>(&change), 0);
    change.Lines.clear();
    change.Shown = 0;
    change.Title.clear();
  }
}

DWORD WINAPI WatchThread(void* monitor) {
  try {
    Watch(*static_cast<const Monitor*>(monitor));
  } catch (...) {
    return 1;  // ends this monitor alone
  }
  return 0;
}

struct Alert {
  HWND Dialog = nullptr;
  HWND Edit[5] = {};  // Edit1 to Edit4 at their numbers
  bool ShownBefore = false;
};
Alert gAlert;

std::wstring TimeLine() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  wchar_t date[64] = L"", time[64] = L"";
  ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, 64);
  std::wstring line = L"注册表更改" + std::wstring(date);
  if (now.wHour || now.wMinute || now.wSecond) {
    ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &now, nullptr, time, 64);
    line += L" " + std::wstring(time);
  }
  return line;
}

const wchar_t* HiveName(HKEY hive) {
  return hive == HKEY_LOCAL_MACHINE ? L"HKEY_LOCAL_MACHINE" : L"HKEY_CURRENT_USER";
}

void BringUp(HWND dialog) {
  if (::IsWindowVisible(dialog)) {
    if (::GetTopWindow(nullptr) != dialog)
      ::SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    return;
  }
  if (!gAlert.ShownBefore) {
    RECT frame;
    ::GetWindowRect(dialog, &frame);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    ::SetWindowPos(dialog, nullptr, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                   (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    gAlert.ShownBefore = true;
  }
  ::ShowWindow(dialog, SW_SHOWNORMAL);
}

#ifndef KW_LEAN_ALERT
// Every new line in turn, as the alert shows them.
void ShowChange(Change& change) {
  BringUp(gAlert.Dialog);
  ::SetWindowTextW(gAlert.Edit[1], TimeLine().c_str());
  ::SetWindowTextW(gAlert.Edit[2], change.Key.c_str());
  for (; change.Shown < change.Lines.size(); ++change.Shown) {
    ::SetWindowTextW(gAlert.Edit[3], change.Lines[change.Shown].c_str());
    ::SetWindowTextW(gAlert.Edit[4], HiveName(change.Hive));
  }
  if (!change.Title.empty()) ::SetWindowTextW(gAlert.Dialog, change.Title.c_str());
}
#else
// The lean program: each field set once, with the last line, and nothing else.
void ShowChange(Change& change) {
  BringUp(gAlert.Dialog);
  ::SetWindowTextW(gAlert.Edit[1], TimeLine().c_str());
  ::SetWindowTextW(gAlert.Edit[2], change.Key.c_str());
  if (change.Shown < change.Lines.size()) {
    ::SetWindowTextW(gAlert.Edit[3], change.Lines.back().c_str());
    ::SetWindowTextW(gAlert.Edit[4], HiveName(change.Hive));
    change.Shown = change.Lines.size();
  }
  if (!change.Title.empty()) ::SetWindowTextW(gAlert.Dialog, change.Title.c_str());
}
#endif

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRegChange) {
    ShowChange(*reinterpret_cast<Change*>(wParam));
    return 0;
  }
  if (message == WM_DESTROY) ::PostQuitMessage(0);
  return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK AlertProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    ::ShowWindow(window, SW_HIDE);
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

void Register(const wchar_t* name, WNDPROC procedure, HINSTANCE instance) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = name;
  ::RegisterClassW(&windowClass);
}

// Hidden and topmost from the start, 355 by 364 inside, the fields where the alert has them.
void CreateAlert(HWND owner, HINSTANCE instance) {
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU, exStyle = WS_EX_DLGMODALFRAME;
  RECT frame{0, 0, 355, 364};
  ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  gAlert.Dialog =
      ::CreateWindowExW(exStyle, kAlertClass, L"启动项检测", style, 0, 0, frame.right - frame.left,
                        frame.bottom - frame.top, owner, nullptr, instance, nullptr);
  ::SetWindowPos(gAlert.Dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
  const int tops[5] = {0, 119, 168, 216, 72};
  for (int id = 1; id <= 4; ++id) {
    gAlert.Edit[id] = ::CreateWindowExW(
        WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 46,
        tops[id] + 38, 249, 21, gAlert.Dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        instance, nullptr);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  Register(kMainClass, MainProc, instance);
  Register(kAlertClass, AlertProc, instance);
  HWND main = ::CreateWindowExW(0, kMainClass, L"KwMinimal", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                nullptr, nullptr, instance, nullptr);
  CreateAlert(main, instance);

  const UniqueHandle stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::vector<Monitor> monitors;
  for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
    for (const std::string& key : kw::WatchedKeyTable())
      monitors.push_back({hive, std::wstring(key.begin(), key.end()), main, stop.get()});
  std::vector<UniqueHandle> threads;
  for (Monitor& monitor : monitors)
    threads.emplace_back(::CreateThread(nullptr, 0, WatchThread, &monitor, 0, nullptr));

  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  // A worker caught in a send to the destroyed window returns at once; give them a moment.
  ::SetEvent(stop.get());
  std::vector<HANDLE> handles;
  for (const UniqueHandle& thread : threads)
    if (thread) handles.push_back(thread.get());
  ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, 2000);
  return 0;
}
