#include "lib/uUtils.h"

#include <cstring>

#include "lib/Exception.h"

namespace kw {

namespace {
constexpr std::size_t kCommandLineBuffer = 513;  // 512 characters and the NUL
constexpr char kEditorClass[] = "RegEdit_RegEdit";
constexpr char kTreeClass[] = "SysTreeView32";
constexpr int kLeftPressesToRoot = 31;  // two a level and one for the root: 15 levels
constexpr std::uint32_t kPauseAfterLevel = 750;
// A real keystroke carries a repeat count of one; a tree may ignore a character without it.
constexpr std::intptr_t kOneKeystroke = 1;
}  // namespace

std::int32_t RunProcess(IProcessLauncher& launcher, const std::string& commandLine, bool wait,
                        bool waitIdle) {
  // A cut command line would start something other than what was asked for.
  if (commandLine.size() >= kCommandLineBuffer) return -1;
  std::vector<char> buffer(kCommandLineBuffer, '\0');
  std::memcpy(buffer.data(), commandLine.data(), commandLine.size());
  std::unique_ptr<IProcess> process = launcher.Start(buffer);
  if (!process) return -1;
  if (!wait) {
    if (waitIdle) process->WaitForInputIdle();
    return 0;
  }
  for (;;) {
    const std::uint32_t result = process->Wait();
    if (result == 0) return static_cast<std::int32_t>(process->ExitCode());
    if (result == 0xFFFFFFFFu) throw Exception(process->LastErrorText());
  }
}

void JumpToRegKey(IWindowFunctions& windows, IProcessLauncher& launcher,
                  const std::string& keyPath) {
  if (!windows.FindTopLevel(kEditorClass) &&
      RunProcess(launcher, "regedit.exe", false, true) != 0) {
    return;
  }
  const WindowHandle editor = windows.FindTopLevel(kEditorClass);
  windows.ShowWindow(editor, kSwShow);
  windows.SetForegroundWindow(editor);
  // Windows' editor keeps its tree as a direct child; Wine's one level deeper.
  WindowHandle tree = windows.FindChild(editor, kTreeClass);
  if (!tree) tree = windows.FindDescendant(editor, kTreeClass);
  windows.SetForegroundWindow(tree);
  windows.SetFocus(tree);

  for (int i = 0; i < kLeftPressesToRoot; ++i) windows.Send(tree, kWmKeyDown, kVkLeft, 0);
  windows.Send(tree, kWmKeyDown, kVkRight, 0);
  // Byte by byte: a backslash opens the selected level, anything else is typed.
  for (unsigned char byte : keyPath) {
    if (byte == '\\') {
      windows.Send(tree, kWmKeyDown, kVkRight, 0);
      windows.Sleep(kPauseAfterLevel);
    } else {
      windows.Send(tree, kWmChar, byte, kOneKeystroke);
    }
  }
}

}  // namespace kw
