#pragma once
// The double-byte characters of code page 936, the program's strings' code page.

namespace kw {

class ICodePage {
 public:
  virtual ~ICodePage() = default;
  // Whether `byte` begins a double-byte character.
  virtual bool IsLeadByte(unsigned char byte) const = 0;
};

}  // namespace kw
