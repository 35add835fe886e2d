#pragma once
// The ANSI code page's double-byte characters.

namespace kw {

class ICodePage {
 public:
  virtual ~ICodePage() = default;
  // Whether `byte` begins a double-byte character (IsDBCSLeadByte).
  virtual bool IsLeadByte(unsigned char byte) const = 0;
};

}  // namespace kw
