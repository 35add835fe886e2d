#pragma once
// What driving another program's window from outside needs, and starting a program.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Types.h"

namespace kw {

constexpr std::uint32_t kWmKeyDown = 0x100, kWmChar = 0x102;
constexpr std::uint32_t kVkLeft = 0x25, kVkRight = 0x27;
constexpr int kSwShow = 5;

class IWindowFunctions {
 public:
  virtual ~IWindowFunctions() = default;
  // Every top-level window of that class, in z-order: any program may make
  // a window of any class name.
  virtual std::vector<WindowHandle> TopLevelWindows(const std::string& className) = 0;
  // The window belongs to a process running the system's registry editor
  // (regedit.exe of the Windows folder, or its 32-bit copy).
  virtual bool IsRegistryEditor(WindowHandle window) = 0;
  // FindWindowEx(parent, NULL, className, NULL): a direct child.
  virtual WindowHandle FindChild(WindowHandle parent, const std::string& className) = 0;
  // The first descendant of that class at any depth.
  virtual WindowHandle FindDescendant(WindowHandle parent, const std::string& className) = 0;
  // Asks the window's own thread to show it, without waiting for it.
  virtual void ShowWindow(WindowHandle window, int command) = 0;
  virtual void SetForegroundWindow(WindowHandle window) = 0;
  virtual void SetFocus(WindowHandle window) = 0;
  // Sends the message and waits until the window has handled it, for a
  // short time at most: false when it did not in time (a window whose
  // thread does not answer), or is gone.
  virtual bool Send(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                    std::intptr_t lParam) = 0;
  // Types one character (one UTF-16 unit, or a surrogate pair) as a
  // keystroke does: WM_CHAR with each unit and a repeat count of one, each
  // handled before the call returns. The same on any system. False as Send is.
  virtual bool TypeCharacter(WindowHandle window, std::u16string_view character) = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

// A started process; destroying it closes its process handle, then its thread handle.
class IProcess {
 public:
  virtual ~IProcess() = default;
  // WaitForSingleObject(INFINITE): 0 when it ended, 0xFFFFFFFF on failure.
  virtual std::uint32_t Wait() = 0;
  virtual std::uint32_t ExitCode() = 0;
  // WaitForInputIdle with a time-out; true when the process is waiting for input.
  virtual bool WaitForInputIdle(std::uint32_t milliseconds) = 0;
  // The last error and its system text, after a failed wait.
  virtual std::string LastErrorText() = 0;
};

class IProcessLauncher {
 public:
  virtual ~IProcessLauncher() = default;
  // CreateProcess with `commandLine` (UTF-16, exactly) and flags
  // CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS; null when that fails.
  virtual std::unique_ptr<IProcess> Start(const std::u16string& commandLine) = 0;
};

}  // namespace kw
