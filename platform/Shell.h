#pragma once
// The shell's services the alert needs.

#include <cstdint>
#include <memory>
#include <string>

#include "toolkit/Peer.h"

namespace kw {

class IShell {
 public:
  virtual ~IShell() = default;
  // The first icon of the file at `path`; the empty icon when it has none,
  // does not exist, is no program, library or icon file, or lies beyond the
  // network, where reading it could wait.
  virtual std::unique_ptr<vcl::IPicture> ExtractProgramIcon(const std::u16string& path) = 0;
  // The icon that draws nothing.
  virtual std::unique_ptr<vcl::IPicture> EmptyIcon() = 0;
  // ShellExecute(owner, verb, file, parameters or NULL, NULL, SW_SHOWNORMAL); unexamined.
  virtual void Execute(std::uintptr_t owner, const std::string& verb, const std::string& file,
                       const std::string* parameters) = 0;
  // The shell's property sheet of `file`, without error interface; true when
  // the shell accepted the request.
  virtual bool ShowProperties(std::uintptr_t owner, const std::u16string& file) = 0;
};

}  // namespace kw
