#pragma once
// Starting a thread that nobody joins: it runs `body(argument)` and ends.

namespace kw {

// False when no thread could be started.
bool StartDetachedThread(void (*body)(void*), void* argument);

}  // namespace kw
