#pragma once
// Owning wrappers for the Win32 handles the program keeps.

#include <windows.h>

#include <utility>

namespace kw::win32 {

template <typename T, T Invalid, typename Closer>
class TUniqueHandle {
 public:
  TUniqueHandle() = default;
  explicit TUniqueHandle(T handle) : Handle(handle) {}
  TUniqueHandle(TUniqueHandle&& other) noexcept : Handle(std::exchange(other.Handle, Invalid)) {}
  TUniqueHandle& operator=(TUniqueHandle&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.Handle, Invalid));
    return *this;
  }
  TUniqueHandle(const TUniqueHandle&) = delete;
  TUniqueHandle& operator=(const TUniqueHandle&) = delete;
  ~TUniqueHandle() { Reset(); }

  T Get() const { return Handle; }
  explicit operator bool() const { return Handle != Invalid; }
  void Reset(T handle = Invalid) {
    if (Handle != Invalid) Closer()(Handle);
    Handle = handle;
  }
  T Release() { return std::exchange(Handle, Invalid); }

 private:
  T Handle = Invalid;
};

struct TCloseHandle {
  void operator()(HANDLE h) const { ::CloseHandle(h); }
};
struct TCloseKey {
  void operator()(HKEY h) const { ::RegCloseKey(h); }
};

// Kernel objects whose failure value is NULL (events, processes, threads).
using TKernelHandle = TUniqueHandle<HANDLE, nullptr, TCloseHandle>;
using TKeyHandle = TUniqueHandle<HKEY, nullptr, TCloseKey>;

}  // namespace kw::win32
