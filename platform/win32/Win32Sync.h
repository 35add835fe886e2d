#pragma once
// Kernel events and WaitForMultipleObjects.

#include <windows.h>

#include "platform/Sync.h"
#include "platform/win32/Handles.h"

namespace kw::win32 {

class TWin32Event : public IEvent {
 public:
  explicit TWin32Event(TKernelHandle handle) : Handle(std::move(handle)) {}
  void Set() override { ::SetEvent(Handle.Get()); }
  void Reset() override { ::ResetEvent(Handle.Get()); }
  HANDLE Native() const { return Handle.Get(); }

 private:
  TKernelHandle Handle;
};

class TWin32Sync : public ISync {
 public:
  std::unique_ptr<IEvent> CreateNamedEvent(const std::string& name, bool manualReset,
                                           bool initiallySet) override;
  std::uint32_t WaitForAny(const std::vector<IEvent*>& events, std::uint32_t timeoutMs) override;
};

}  // namespace kw::win32
