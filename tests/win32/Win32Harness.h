#pragma once
// A real hidden window that records WM_REGCHANGE notices, a message pump with
// a deadline, and the Win32 platform with its arming and waits made observable.

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "monitor/RegMonitorThread.h"
#include "platform/win32/Win32Collation.h"
#include "platform/win32/Win32Messenger.h"
#include "platform/win32/Win32Registry.h"
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

class TNoticeWindow {
 public:
  TNoticeWindow() {
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

  HWND Handle = nullptr;
  std::vector<TNotice> Notices;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_NCCREATE) {
      ::SetWindowLongPtrW(
          hwnd, GWLP_USERDATA,
          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams));
    }
    auto* self = reinterpret_cast<TNoticeWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_REGCHANGE && self) {
      self->Notices.push_back(ReadNotice(*reinterpret_cast<TChangeData*>(w)));
      return 0;
    }
    return ::DefWindowProcW(hwnd, msg, w, l);
  }
};

// The real registry, counting the change signals asked for.
class TArmCountingRegistry : public IRegistry {
 public:
  std::unique_ptr<IRegKey> OpenKey(HiveHandle hive, const std::string& path,
                                   std::uint32_t access) override {
    auto key = Real.OpenKey(hive, path, access);
    if (!key) return nullptr;
    return std::make_unique<TKey>(std::move(key), Armed);
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
    bool QueryMaxDataLen(std::uint32_t& n) override { return Real->QueryMaxDataLen(n); }
    long EnumValue(std::uint32_t i, char* name, std::uint32_t& nameLen, std::uint32_t& type,
                   unsigned char* data, std::uint32_t& dataLen) override {
      return Real->EnumValue(i, name, nameLen, type, data, dataLen);
    }
    long NotifyChange(bool subTree, std::uint32_t filter, IEvent& event) override {
      const long result = Real->NotifyChange(subTree, filter, event);
      ++Armed;
      return result;
    }
    long DeleteValue(const std::string& name) override { return Real->DeleteValue(name); }
    long SetStringValue(const std::string& name, const std::string& data) override {
      return Real->SetStringValue(name, data);
    }

   private:
    std::unique_ptr<IRegKey> Real;
    std::atomic<int>& Armed;
  };
  win32::TWin32Registry Real;
};

// Kernel events, counting the waits begun.
class TWaitCountingSync : public ISync {
 public:
  std::unique_ptr<IEvent> CreateNamedEvent(const std::string& name, bool manualReset,
                                           bool initiallySet) override {
    return Real.CreateNamedEvent(name, manualReset, initiallySet);
  }
  std::uint32_t WaitForEither(IEvent* first, IEvent* second) override {
    ++Waits;
    return Real.WaitForEither(first, second);
  }
  std::atomic<int> Waits{0};

 private:
  win32::TWin32Sync Real;
};

struct TWin32Platform {
  TArmCountingRegistry Registry;
  TWaitCountingSync Sync;
  win32::TWin32Messenger Messenger;
  win32::TWin32Collation Collation;
  TMonitorPlatform Platform{Registry, Sync, Messenger, Collation};
};

// A scratch key of its own below HKCU\Software, deleted afterwards.
class TScratchKey {
 public:
  explicit TScratchKey(const std::string& name)
      : Path("Software\\KeywardenTest\\" + name + std::to_string(::GetCurrentProcessId())) {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, Path.c_str());
    ::RegCreateKeyExA(HKEY_CURRENT_USER, Path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &Key,
                      nullptr);
  }
  ~TScratchKey() {
    ::RegCloseKey(Key);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, Path.c_str());
  }
  void SetString(const std::string& name, const std::string& text, const char* sub = nullptr) {
    HKEY target = Key;
    if (sub) ::RegCreateKeyExA(Key, sub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target, nullptr);
    ::RegSetValueExA(target, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1));
    if (sub) ::RegCloseKey(target);
  }
  void SetDword(const std::string& name, DWORD value) {
    ::RegSetValueExA(Key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof value);
  }
  void Delete(const std::string& name) { ::RegDeleteValueA(Key, name.c_str()); }

  std::string Path;  // below HKCU, without a leading backslash
  HKEY Key = nullptr;
};

}  // namespace kw::test
