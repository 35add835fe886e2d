#pragma once
// Facts about the running program and the system.

#include <string>

namespace kw {

class ISystem {
 public:
  virtual ~ISystem() = default;
  // The full path of the program's own file (the process's main module).
  virtual std::string ProgramPath() = 0;
  // The Windows folder, empty when it fails or takes 260 bytes or more.
  virtual std::string WindowsDirectory() = 0;
};

}  // namespace kw
