#pragma once
// The saved state's file in the user's state folder: read at start, replaced
// as a whole when saved. A file that cannot be trusted is moved aside under
// a name of its own, kept for whoever wants to look at it, and never used.

#include <string>

#include "monitor/SavedState.h"
#include "platform/Files.h"

namespace kw {

enum class TStateLoad {
  None,        // no file
  Read,        // every location's state as it was saved
  Unreadable,  // locked or refused however long it was tried, or no secret to check it
  SetAside,    // damaged, forged or of another version: moved to SetAsideName()
  Unusable,    // damaged, and it could not even be moved aside
};

class TStateFile {
 public:
  // How many set-aside names are tried before giving up.
  static constexpr int kMaxSetAside = 1000;

  // `secret` keys the checksum; without one nothing is read or written.
  TStateFile(IFiles& files, std::u16string path, std::string secret)
      : Files(files), Path(std::move(path)), Secret(std::move(secret)) {}

  // Fills `states` with what the file holds; empty unless the result is Read.
  TStateLoad Load(TStateContents& states);
  bool Save(const TStateContents& states) {
    return !Secret.empty() && Files.WriteReplacing(Path, EncodeStates(states, Secret));
  }

  const std::u16string& FileName() const { return Path; }
  const std::u16string& SetAsideName() const { return FSetAsideName; }

 private:
  bool SetAside();

  IFiles& Files;
  std::u16string Path;
  std::string Secret;
  std::u16string FSetAsideName;
};

// The name the first free set-aside name of `path` gets: ".bad-1", ".bad-2", ...
std::u16string SetAsideNameOf(const std::u16string& path, int n);

}  // namespace kw
