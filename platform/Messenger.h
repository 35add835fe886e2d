#pragma once
// Synchronous notification of a window, as SendMessageA gives it.

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
};

}  // namespace kw
