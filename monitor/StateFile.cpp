#include "monitor/StateFile.h"

namespace kw {

std::u16string SetAsideNameOf(const std::u16string& path, int n) {
  std::u16string name = path + u".bad-";
  for (char c : std::to_string(n)) name += static_cast<char16_t>(c);
  return name;
}

TStateLoad TStateFile::Load(TStateContents& states) {
  states = {};
  std::string content;
  switch (Files.ReadWhole(Path, content)) {
    case TReadResult::Missing:
      return TStateLoad::None;
    case TReadResult::Unreadable:
      return TStateLoad::Unreadable;
    case TReadResult::Read:
      break;
  }
  // Without the secret the file cannot be told from a forged one, nor is it one.
  if (Secret.empty()) return TStateLoad::Unreadable;
  if (DecodeStates(content, Secret, states) == TDecodeResult::Read) return TStateLoad::Read;
  return SetAside() ? TStateLoad::SetAside : TStateLoad::Unusable;
}

// The first free name: an earlier set-aside file is never overwritten.
bool TStateFile::SetAside() {
  for (int n = 1; n <= kMaxSetAside; ++n) {
    const std::u16string name = SetAsideNameOf(Path, n);
    if (Files.MoveAside(Path, name)) {
      FSetAsideName = name;
      return true;
    }
  }
  return false;
}

}  // namespace kw
