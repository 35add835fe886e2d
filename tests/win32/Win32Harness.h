#pragma once
// A real hidden window that takes the queued records on each WM_REGCHANGE, a
// message pump with a deadline, and the Win32 platform with its arming and
// waits made observable.

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "monitor/ChangeQueue.h"
#include "monitor/RegMonitor.h"
#include "platform/win32/Win32Folders.h"
#include "platform/win32/Win32Messenger.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32RegistryText.h"
#include "platform/win32/Win32Sync.h"
#include "tests/common/Notice.h"

namespace kw::test {

// Handles messages, sent ones from other threads included, until `done`.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (!done()) {
    if (::GetTickCount64() > deadline) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  return true;
}

// Takes the records of `Queue` on each WM_REGCHANGE, as the main window does.
class TNoticeWindow {
 public:
  explicit TNoticeWindow(TChangeQueue* queue = nullptr) : Queue(queue) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &TNoticeWindow::Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KeywardenTestNotices";
    ::RegisterClassW(&wc);
    Handle = ::CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                               nullptr, wc.hInstance, this);
  }
  ~TNoticeWindow() {
    if (Handle) ::DestroyWindow(Handle);
  }
  WindowHandle Id() const { return reinterpret_cast<WindowHandle>(Handle); }
  bool WaitForNotices(std::size_t count, DWORD timeoutMs = 10000) {
    return PumpUntil([&] { return Notices.size() >= count; }, timeoutMs);
  }
  bool WaitForRecords(std::size_t count, DWORD timeoutMs = 10000) {
    return PumpUntil([&] { return Records.size() >= count; }, timeoutMs);
  }

  HWND Handle = nullptr;
  TChangeQueue* Queue;
  // One per wake-up that found records, and every record taken, in order.
  std::vector<TNotice> Notices;
  std::vector<TChangeRecord> Records;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_NCCREATE) {
      ::SetWindowLongPtrW(
          hwnd, GWLP_USERDATA,
          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams));
    }
    auto* self = reinterpret_cast<TNoticeWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_REGCHANGE && self) {
      if (self->Queue) self->Take(self->Queue->TakeAll());
      return 0;
    }
    return ::DefWindowProcW(hwnd, msg, w, l);
  }
  void Take(const std::vector<TChangeRecord>& records) {
    if (records.empty()) return;  // a wake-up whose records an earlier one took
    Notices.push_back(ReadNotice(records));
    Records.insert(Records.end(), records.begin(), records.end());
  }
};

// The real registry, counting the change signals asked for.
class TArmCountingRegistry : public IRegistry {
 public:
  std::unique_ptr<IRegKey> OpenKey(HiveHandle hive, const std::string& path, std::uint32_t access,
                                   long* error = nullptr) override {
    return Wrap(Real.OpenKey(hive, path, access, error));
  }
  long CreateKey(HiveHandle hive, const std::string& path, std::uint32_t access) override {
    return Real.CreateKey(hive, path, access);
  }
  std::atomic<int> Armed{0};

 private:
  class TKey : public IRegKey {
   public:
    TKey(std::unique_ptr<IRegKey> real, std::atomic<int>& armed)
        : Real(std::move(real)), Armed(armed) {}
    long EnumValue(std::uint32_t i, TRegValue& value) override { return Real->EnumValue(i, value); }
    long EnumSubKey(std::uint32_t i, std::u16string& name) override {
      return Real->EnumSubKey(i, name);
    }
    std::unique_ptr<IRegKey> OpenSubKey(const std::u16string& name, std::uint32_t access) override {
      auto key = Real->OpenSubKey(name, access);
      if (!key) return nullptr;
      return std::make_unique<TKey>(std::move(key), Armed);
    }
    long NotifyChange(bool subTree, std::uint32_t filter, IEvent& event) override {
      const long result = Real->NotifyChange(subTree, filter, event);
      ++Armed;
      return result;
    }
    long QueryValue(const std::u16string& name, TRegValue& value) override {
      return Real->QueryValue(name, value);
    }
    long DeleteValue(const std::u16string& name) override { return Real->DeleteValue(name); }
    long SetValue(const std::u16string& name, std::uint32_t type,
                  const std::u16string& text) override {
      return Real->SetValue(name, type, text);
    }
    long SetStringValue(const std::string& name, const std::string& data) override {
      return Real->SetStringValue(name, data);
    }

   private:
    std::unique_ptr<IRegKey> Real;
    std::atomic<int>& Armed;
  };
  std::unique_ptr<IRegKey> Wrap(std::unique_ptr<IRegKey> key) {
    if (!key) return nullptr;
    return std::make_unique<TKey>(std::move(key), Armed);
  }
  win32::TWin32Registry Real;
};

// Kernel events, counting the waits begun.
class TWaitCountingSync : public ISync {
 public:
  std::unique_ptr<IEvent> CreateNamedEvent(const std::string& name, bool manualReset,
                                           bool initiallySet) override {
    return Real.CreateNamedEvent(name, manualReset, initiallySet);
  }
  std::uint32_t WaitForAny(const std::vector<IEvent*>& events,
                           std::uint32_t timeoutMs) override {
    ++Waits;
    return Real.WaitForAny(events, timeoutMs);
  }
  std::atomic<int> Waits{0};

 private:
  win32::TWin32Sync Real;
};

struct TWin32Platform {
  TArmCountingRegistry Registry;
  TWaitCountingSync Sync;
  win32::TWin32Messenger Messenger;
  win32::TWin32RegistryText Text;
  win32::TWin32Folders Folders;
  TMonitorPlatform Platform{Registry, Sync, Messenger, Text, Folders};
  std::shared_ptr<TChangeQueue> Queue = std::make_shared<TChangeQueue>();
  std::shared_ptr<IEvent> StopEvent = Sync.CreateNamedEvent("", true, false);
};

// A scratch key of its own below HKCU\Software, deleted afterwards.
class TScratchKey {
 public:
  // Absent: the key is made by the first write, or by Create.
  explicit TScratchKey(const std::string& name, bool present = true)
      : Path("Software\\KeywardenTest\\" + name + std::to_string(::GetCurrentProcessId())) {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, Path.c_str());
    if (present) Create();
  }
  ~TScratchKey() { Remove(); }
  TScratchKey(const TScratchKey&) = delete;
  TScratchKey& operator=(const TScratchKey&) = delete;

  void Create() {
    if (!Key) {
      ::RegCreateKeyExA(HKEY_CURRENT_USER, Path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &Key, nullptr);
    }
  }
  // Deletes the key with its subkeys.
  void Remove() {
    if (Key) ::RegCloseKey(Key);
    Key = nullptr;
    ::RegDeleteTreeA(HKEY_CURRENT_USER, Path.c_str());
  }
  void SetString(const std::string& name, const std::string& text, const char* sub = nullptr) {
    Create();
    HKEY target = Key;
    if (sub) ::RegCreateKeyExA(Key, sub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target, nullptr);
    ::RegSetValueExA(target, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1));
    if (sub) ::RegCloseKey(target);
  }
  // A value of a text type, named and written in UTF-16.
  void SetText(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ) {
    Create();
    ::RegSetValueExW(Key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  bool Has(const std::wstring& name) {
    return ::RegQueryValueExW(Key, name.c_str(), nullptr, nullptr, nullptr, nullptr) == 0;
  }
  void SetDword(const std::string& name, DWORD value) {
    ::RegSetValueExA(Key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof value);
  }
  void Delete(const std::string& name) { ::RegDeleteValueA(Key, name.c_str()); }

  std::string Path;    // below HKCU, without a leading backslash
  HKEY Key = nullptr;  // null while the key is absent
};

}  // namespace kw::test
