#pragma once
// Windows that receive messages synchronously, one at a time, as a UI thread
// would handle them. A send to a window that is gone fails at once. Posted
// messages wait until the test delivers them, as a message loop would.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "platform/Messenger.h"

namespace kw::fake {

class FakeMessenger : public IMessenger {
 public:
  using THandler = std::function<void(std::uint32_t, std::uintptr_t, std::intptr_t)>;

  WindowHandle CreateWindow(THandler handler);
  void DestroyWindow(WindowHandle window);
  bool Send(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
            std::intptr_t lParam) override;
  bool Post(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
            std::intptr_t lParam) override;
  // Handles every message posted so far, in order; how many were.
  std::size_t DeliverPosted();

  // Runs `work` as the UI thread: no message is handled while it runs.
  template <typename F>
  void OnUiThread(F&& work) {
    std::lock_guard<std::mutex> ui(UiThread);
    work();
  }

 private:
  bool Lookup(WindowHandle window, THandler& handler);

  std::mutex UiThread;  // held while a message is handled
  std::mutex Lock;
  std::map<WindowHandle, THandler> Windows;
  struct TPosted {
    WindowHandle Window;
    std::uint32_t Message;
    std::uintptr_t WParam;
    std::intptr_t LParam;
  };
  std::vector<TPosted> Posted;
  WindowHandle NextWindow = 0x1000;
};

}  // namespace kw::fake
