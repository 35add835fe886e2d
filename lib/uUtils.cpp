#include "lib/uUtils.h"

#include "lib/Exception.h"

namespace kw {

namespace {
constexpr std::size_t kCommandLineBuffer = 513;  // 512 characters and the NUL
constexpr char kEditorClass[] = "RegEdit_RegEdit";
constexpr char kTreeClass[] = "SysTreeView32";
constexpr int kLeftPressesToRoot = 31;  // two a level and one for the root: 15 levels
constexpr std::uint32_t kPauseAfterLevel = 750;
// How long a started program may take to wait for input. Bounded: Wine's
// 32-bit programs never report it, and the wait for the editor's tree below
// covers a slow start.
constexpr std::uint32_t kInputIdleLimit = 1000;
constexpr std::uint32_t kEditorStartLimit = 10000, kEditorPoll = 50;

// The editor's key tree: a direct child on Windows, one level deeper in Wine's editor.
WindowHandle FindTree(IWindowFunctions& windows, WindowHandle editor) {
  if (!editor) return 0;
  const WindowHandle tree = windows.FindChild(editor, kTreeClass);
  return tree ? tree : windows.FindDescendant(editor, kTreeClass);
}

// The registry editor's main window. Any program may make a window of its
// class, and one whose thread never answers would hold the walk, and with
// it the program's UI, for good: only the editor's own window is driven.
WindowHandle FindEditor(IWindowFunctions& windows) {
  for (WindowHandle window : windows.TopLevelWindows(kEditorClass)) {
    if (windows.IsRegistryEditor(window)) return window;
  }
  return 0;
}

// A just-started editor may report itself idle before its window exists (Wine
// does so), or never: its tree is what the walk needs, so wait for that.
bool WaitForTree(IWindowFunctions& windows) {
  for (std::uint32_t waited = 0;; waited += kEditorPoll) {
    if (FindTree(windows, FindEditor(windows))) return true;
    if (waited >= kEditorStartLimit) return false;
    windows.Sleep(kEditorPoll);
  }
}
}  // namespace

std::int32_t RunProcess(IProcessLauncher& launcher, const std::u16string& commandLine, bool wait,
                        bool waitIdle) {
  // A cut command line would start something other than what was asked for.
  if (commandLine.size() >= kCommandLineBuffer) return -1;
  std::unique_ptr<IProcess> process = launcher.Start(commandLine);
  if (!process) return -1;
  if (!wait) {
    if (waitIdle) process->WaitForInputIdle(kInputIdleLimit);
    return 0;
  }
  for (;;) {
    const std::uint32_t result = process->Wait();
    if (result == 0) return static_cast<std::int32_t>(process->ExitCode());
    if (result == 0xFFFFFFFFu) throw Exception(process->LastErrorText());
  }
}

void JumpToRegKey(IWindowFunctions& windows, IProcessLauncher& launcher,
                  const std::u16string& windowsDirectory, const std::u16string& keyPath) {
  if (!FindEditor(windows)) {
    // By its full path: a bare name is looked for in the current folder
    // first, where any program of the user could put a "regedit.exe" for the
    // elevated guard to start.
    if (windowsDirectory.empty()) return;
    const std::u16string editor = u'"' + windowsDirectory + u"\\regedit.exe\"";
    if (RunProcess(launcher, editor, false, true) != 0) return;
    if (!WaitForTree(windows)) return;  // it ended, or never came up: nothing to drive
  }
  const WindowHandle editor = FindEditor(windows);
  windows.ShowWindow(editor, kSwShow);
  windows.SetForegroundWindow(editor);
  const WindowHandle tree = FindTree(windows, editor);
  if (!tree) return;
  windows.SetForegroundWindow(tree);
  windows.SetFocus(tree);

  // Every step gives up on an editor that stops answering: the rest of the
  // walk would only wait on it again, once a message.
  for (int i = 0; i < kLeftPressesToRoot; ++i) {
    if (!windows.Send(tree, kWmKeyDown, kVkLeft, 0)) return;
  }
  if (!windows.Send(tree, kWmKeyDown, kVkRight, 0)) return;
  // The tree's incremental search goes on from the characters typed last,
  // by an earlier walk or by the user, when they came within its delay: the
  // hive's name then matches nothing and the walk ends in another hive.
  windows.Sleep(kPauseAfterLevel);
  // Character by character: a backslash opens the selected level, anything
  // else is typed, a surrogate pair whole.
  for (std::size_t at = 0; at < keyPath.size();) {
    const bool pair = keyPath[at] >= 0xD800 && keyPath[at] < 0xDC00 && at + 1 < keyPath.size() &&
                      keyPath[at + 1] >= 0xDC00 && keyPath[at + 1] < 0xE000;
    const std::size_t length = pair ? 2 : 1;
    if (keyPath[at] == u'\\') {
      if (!windows.Send(tree, kWmKeyDown, kVkRight, 0)) return;
      windows.Sleep(kPauseAfterLevel);
    } else if (!windows.TypeCharacter(tree, std::u16string_view(keyPath).substr(at, length))) {
      return;
    }
    at += length;
  }
}

}  // namespace kw
