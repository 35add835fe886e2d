#pragma once
// The saved state's file beside the INI file: read at start, replaced as a
// whole when saved. A file that cannot be read is moved aside under a name
// of its own, kept for whoever wants to look at it, and never trusted.

#include <string>

#include "monitor/SavedState.h"
#include "platform/Files.h"

namespace kw {

enum class TStateLoad {
  None,      // no file: the first start, or it could not be opened
  Read,      // every location's state as it was saved
  SetAside,  // damaged or of another version: moved to SetAsideName()
  Unusable,  // damaged, and it could not even be moved aside
};

class TStateFile {
 public:
  // How many set-aside names are tried before giving up.
  static constexpr int kMaxSetAside = 1000;

  TStateFile(IFiles& files, std::string path) : Files(files), Path(std::move(path)) {}

  // Fills `states` with what the file holds; empty unless the result is Read.
  TStateLoad Load(TSavedStates& states);
  bool Save(const TSavedStates& states) { return Files.WriteReplacing(Path, EncodeStates(states)); }

  const std::string& FileName() const { return Path; }
  const std::string& SetAsideName() const { return FSetAsideName; }

 private:
  bool SetAside();

  IFiles& Files;
  std::string Path;
  std::string FSetAsideName;
};

}  // namespace kw
