#pragma once
// Notification of a window: synchronous, as SendMessageA gives it, or queued,
// as PostMessageA.

#include <cstdint>

#include "platform/Types.h"

namespace kw {

class IMessenger {
 public:
  virtual ~IMessenger() = default;
  // Returns only when the receiver has handled the message. A window that no
  // longer exists makes the call fail at once: false.
  virtual bool Send(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                    std::intptr_t lParam) = 0;
  // Queues the message for the window's thread and returns at once, whatever
  // that thread is doing (waiting for the caller, too). False when it could
  // not be queued.
  virtual bool Post(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                    std::intptr_t lParam) = 0;
};

}  // namespace kw
