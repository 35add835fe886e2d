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

std::uint32_t TWin32Sync::WaitForEither(IEvent* first, IEvent* second, std::uint32_t timeoutMs) {
  auto* a = dynamic_cast<TWin32Event*>(first);
  auto* b = dynamic_cast<TWin32Event*>(second);
  if (!a || !b) return kWaitFailed;
  // Ordered so that the first wins when both are set.
  const HANDLE handles[2] = {a->Native(), b->Native()};
  const DWORD result = ::WaitForMultipleObjects(2, handles, FALSE, timeoutMs);
  if (result == WAIT_OBJECT_0 || result == WAIT_OBJECT_0 + 1 || result == WAIT_TIMEOUT)
    return result;
  return kWaitFailed;
}

}  // namespace kw::win32
