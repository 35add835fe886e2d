#pragma once
// How many of the program's message handlers the UI thread is inside now.
// A nested message loop (a menu's, a message box's, a wait on another
// program) handles messages with handlers beneath it that go on using their
// windows once it returns: what destroys those windows must wait for them.

namespace kw::win32 {

// Made at the entry of each of the program's window procedures.
class THandlerScope {
 public:
  THandlerScope() { ++Depth(); }
  ~THandlerScope() { --Depth(); }
  THandlerScope(const THandlerScope&) = delete;
  THandlerScope& operator=(const THandlerScope&) = delete;

  // The handlers running, the caller's own included.
  static int Running() { return Depth(); }

 private:
  static int& Depth() {
    static int depth = 0;  // window procedures run on the UI thread alone
    return depth;
  }
};

}  // namespace kw::win32
