#pragma once
// The shell's services the alert needs.

#include <memory>
#include <string>

#include "toolkit/Peer.h"

namespace kw {

class IShell {
 public:
  virtual ~IShell() = default;
  // The first icon of the file at `path`; the empty icon when it has none,
  // does not exist, or is no program, library or icon file.
  virtual std::unique_ptr<vcl::IPicture> ExtractProgramIcon(const std::string& path) = 0;
};

}  // namespace kw
