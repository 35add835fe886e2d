#include "platform/ThreadStart.h"

#include <system_error>
#include <thread>

namespace kw {

bool StartDetachedThread(void (*body)(void*), void* argument) {
  try {
    std::thread(body, argument).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

}  // namespace kw
