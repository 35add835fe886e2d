#include <windows.h>

#include "platform/win32/Win32Messenger.h"

namespace kw::win32 {

bool TWin32Messenger::Send(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                           std::intptr_t lParam) {
  // SendMessageA fails at once for a window that no longer exists; a result of
  // 0 is also an ordinary answer, so the last error tells the two apart.
  ::SetLastError(ERROR_SUCCESS);
  ::SendMessageA(reinterpret_cast<HWND>(window), message, wParam, lParam);
  return ::GetLastError() != ERROR_INVALID_WINDOW_HANDLE;
}

bool TWin32Messenger::Post(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                           std::intptr_t lParam) {
  return ::PostMessageA(reinterpret_cast<HWND>(window), message, wParam, lParam) != FALSE;
}

}  // namespace kw::win32
