#pragma once
// Where the guard keeps what it remembers between runs: a folder of the
// current user's own (by SID), which on Windows only administrators and the
// system may write, made by the elevated guard; and the user's secret, kept
// there where the user's programs cannot read it, which keys the checksums
// of the files kept. Where no such folder can be had, a folder the user's
// programs can write stands in, and the guard says so.

#include <string>

namespace kw {

struct TStatePlace {
  // The folder; the kept files are named within it.
  std::u16string Folder;
  // Only administrators and the system can write the folder, and the user's
  // programs cannot read the secret.
  bool Protected = false;
  // The checksums' key; empty when it could be neither read nor made.
  std::string Secret;
  // The secret was there already, so an earlier run made it: a missing state
  // is then no first start.
  bool RanBefore = false;
};

class IStatePlace {
 public:
  virtual ~IStatePlace() = default;
  // Finds or makes the folder and the secret.
  virtual TStatePlace Open() = 0;
};

}  // namespace kw
