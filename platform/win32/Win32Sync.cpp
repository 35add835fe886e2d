#include "platform/win32/Win32Sync.h"

#include "toolkit/win32/Text.h"

namespace kw::win32 {

std::unique_ptr<IEvent> TWin32Sync::CreateNamedEvent(const std::string& name, bool manualReset,
                                                     bool initiallySet) {
  // The guard's own events are unnamed: no other program can open, set or
  // reset them, nor create one of the same name first.
  TKernelHandle handle(::CreateEventW(nullptr, manualReset, initiallySet,
                                      name.empty() ? nullptr : ToWide(name).c_str()));
  if (!handle) return nullptr;
  return std::make_unique<TWin32Event>(std::move(handle));
}

std::uint32_t TWin32Sync::WaitForAny(const std::vector<IEvent*>& events,
                                     std::uint32_t timeoutMs) {
  HANDLE handles[MAXIMUM_WAIT_OBJECTS];
  DWORD count = 0;
  for (IEvent* event : events) {
    auto* win32Event = dynamic_cast<TWin32Event*>(event);
    if (!win32Event || count == MAXIMUM_WAIT_OBJECTS) return kWaitFailed;
    handles[count++] = win32Event->Native();  // in order: the first set wins
  }
  const DWORD result = ::WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
  if (result < WAIT_OBJECT_0 + count || result == WAIT_TIMEOUT) return result;
  return kWaitFailed;
}

}  // namespace kw::win32
