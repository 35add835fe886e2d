#include "platform/win32/Win32Sync.h"

namespace kw::win32 {

std::unique_ptr<IEvent> TWin32Sync::CreateNamedEvent(const std::string& name, bool manualReset,
                                                     bool initiallySet) {
  TKernelHandle handle(
      ::CreateEventA(nullptr, manualReset, initiallySet, name.empty() ? nullptr : name.c_str()));
  if (!handle) return nullptr;
  return std::make_unique<TWin32Event>(std::move(handle));
}

std::uint32_t TWin32Sync::WaitForEither(IEvent* first, IEvent* second) {
  auto* a = dynamic_cast<TWin32Event*>(first);
  auto* b = dynamic_cast<TWin32Event*>(second);
  if (!a || !b) return kWaitFailed;
  // Ordered so that the first wins when both are set.
  const HANDLE handles[2] = {a->Native(), b->Native()};
  return ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
}

}  // namespace kw::win32
