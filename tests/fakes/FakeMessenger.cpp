#include "tests/fakes/FakeMessenger.h"

namespace kw::fake {

WindowHandle FakeMessenger::CreateWindow(THandler handler) {
  std::lock_guard<std::mutex> lock(Lock);
  const WindowHandle window = NextWindow++;
  Windows[window] = std::move(handler);
  return window;
}

void FakeMessenger::DestroyWindow(WindowHandle window) {
  std::lock_guard<std::mutex> ui(UiThread);  // not while one of its messages is handled
  std::lock_guard<std::mutex> lock(Lock);
  Windows.erase(window);
}

bool FakeMessenger::Send(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                         std::intptr_t lParam) {
  THandler handler;
  if (!Lookup(window, handler)) return false;
  std::lock_guard<std::mutex> ui(UiThread);
  if (!Lookup(window, handler)) return false;  // destroyed while we waited
  handler(message, wParam, lParam);
  return true;
}

bool FakeMessenger::Post(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                         std::intptr_t lParam) {
  std::lock_guard<std::mutex> lock(Lock);
  if (Windows.count(window) == 0) return false;
  Posted.push_back({window, message, wParam, lParam});
  return true;
}

std::size_t FakeMessenger::DeliverPosted() {
  std::vector<TPosted> posted;
  {
    std::lock_guard<std::mutex> lock(Lock);
    posted.swap(Posted);
  }
  for (const TPosted& message : posted) {
    Send(message.Window, message.Message, message.WParam, message.LParam);
  }
  return posted.size();
}

bool FakeMessenger::Lookup(WindowHandle window, THandler& handler) {
  std::lock_guard<std::mutex> lock(Lock);
  auto it = Windows.find(window);
  if (it == Windows.end()) return false;
  handler = it->second;
  return true;
}

}  // namespace kw::fake
