#include "monitor/StateFile.h"

namespace kw {

TStateLoad TStateFile::Load(TSavedStates& states) {
  states.clear();
  std::string content;
  if (!Files.ReadWhole(Path, content)) return TStateLoad::None;
  if (DecodeStates(content, states) == TDecodeResult::Read) return TStateLoad::Read;
  return SetAside() ? TStateLoad::SetAside : TStateLoad::Unusable;
}

// The first free name of ".bad-1", ".bad-2", ...: an earlier set-aside file
// is never overwritten.
bool TStateFile::SetAside() {
  for (int n = 1; n <= kMaxSetAside; ++n) {
    const std::string name = Path + ".bad-" + std::to_string(n);
    if (Files.MoveAside(Path, name)) {
      FSetAsideName = name;
      return true;
    }
  }
  return false;
}

}  // namespace kw
