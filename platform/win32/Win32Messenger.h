#pragma once
// Notification with SendMessageA and PostMessageA.

#include "platform/Messenger.h"

namespace kw::win32 {

class TWin32Messenger : public IMessenger {
 public:
  bool Send(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
            std::intptr_t lParam) override;
  bool Post(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
            std::intptr_t lParam) override;
};

}  // namespace kw::win32
