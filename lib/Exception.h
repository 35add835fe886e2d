#pragma once
// The program's error: a message in the ANSI code page, shown as it stands.

#include <stdexcept>
#include <string>

namespace kw {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace kw
