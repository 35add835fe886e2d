#pragma once
// Starting a program, and walking the registry editor's tree to a key from
// outside, by the keystrokes a user would type.

#include <cstdint>
#include <string>

#include "platform/WindowFunctions.h"

namespace kw {

// -1 when the process cannot be started, or when `commandLine` is longer
// than the 512 characters its buffer holds; with `wait`, the exit code;
// without, 0 (with `waitIdle`, after the process is ready for input or a
// second has passed).
// Throws when waiting fails.
std::int32_t RunProcess(IProcessLauncher& launcher, const std::u16string& commandLine, bool wait,
                        bool waitIdle);

// Brings up the registry editor, starting the one in `windowsDirectory`
// when none is running, and selects `keyPath` (a hive name followed by the
// key path, exactly) in its tree.
void JumpToRegKey(IWindowFunctions& windows, IProcessLauncher& launcher,
                  const std::u16string& windowsDirectory, const std::u16string& keyPath);

}  // namespace kw
