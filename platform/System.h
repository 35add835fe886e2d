#pragma once
// Facts about the running program and the system.

#include <string>

namespace kw {

class ISystem {
 public:
  virtual ~ISystem() = default;
  // The full path of the program's own file (the process's main module).
  virtual std::string ProgramPath() = 0;
  // GetWindowsDirectoryA through a buffer of 260 bytes; empty when it fails.
  virtual std::string WindowsDirectory() = 0;
};

}  // namespace kw
