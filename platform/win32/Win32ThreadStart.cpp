#include <windows.h>

#include "platform/ThreadStart.h"

namespace kw {

namespace {

struct TStart {
  void (*Body)(void*);
  void* Argument;
};

DWORD WINAPI ThreadMain(void* parameter) {
  const TStart start = *static_cast<TStart*>(parameter);
  delete static_cast<TStart*>(parameter);
  start.Body(start.Argument);
  return 0;
}

}  // namespace

// A kernel thread of its own: winpthreads' records for detached threads
// proved fragile here (a thread starting on a record already freed).
bool StartDetachedThread(void (*body)(void*), void* argument) {
  auto* start = new TStart{body, argument};
  HANDLE thread = ::CreateThread(nullptr, 0, ThreadMain, start, 0, nullptr);
  if (!thread) {
    delete start;
    return false;
  }
  ::CloseHandle(thread);
  return true;
}

}  // namespace kw
