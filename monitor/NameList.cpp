#include "monitor/NameList.h"

#include <utility>

namespace kw {

namespace {

constexpr std::uint64_t kFnvOffsetBasis = 14695981039346656037ull;

// The hash of every name that compares equal to the empty name.
constexpr std::uint64_t kWeightlessHash = kFnvOffsetBasis;

std::uint64_t Fnv1a(std::string_view bytes) {
  std::uint64_t hash = kFnvOffsetBasis;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

void TNameList::Clear() {
  Names.clear();
  Hashes.clear();
  Slots.assign(Slots.size(), 0);
}

void TNameList::Append(std::string name) {
  if (Names.empty()) Locale = Collation->LocaleId();
  const std::uint64_t hash = HashOf(name);
  Names.push_back(std::move(name));
  Hashes.push_back(hash);
  if (2 * Names.size() > Slots.size()) {
    Grow();  // re-inserts every entry, the new one included
  } else {
    Insert(static_cast<std::uint32_t>(Names.size() - 1));
  }
}

int TNameList::IndexOf(std::string_view name) const {
  return Find(name, HashOf(name));
}

int TNameList::IndexOf(const TNameList& other, std::size_t i) const {
  return Find(other.Names[i], other.Hashes[i]);
}

void TNameList::Swap(TNameList& other) noexcept {
  std::swap(Collation, other.Collation);
  std::swap(Locale, other.Locale);
  Names.swap(other.Names);
  Hashes.swap(other.Hashes);
  Slots.swap(other.Slots);
}

void TNameList::FollowLocale() {
  const std::uint32_t locale = Collation->LocaleId();
  if (locale == Locale) return;
  Locale = locale;
  Rehash();
}

std::uint64_t TNameList::HashOf(std::string_view name) const {
  if (Collation->EqualIgnoreCase(name, {})) return kWeightlessHash;
  Collation->SortKeyIgnoreCase(name, SortKey);
  return Fnv1a(SortKey);
}

int TNameList::Find(std::string_view name, std::uint64_t hash) const {
  if (Slots.empty()) return -1;
  const std::size_t mask = Slots.size() - 1;
  for (std::size_t slot = hash & mask; Slots[slot] != 0; slot = (slot + 1) & mask) {
    const std::uint32_t position = Slots[slot] - 1;
    if (Hashes[position] == hash && Collation->EqualIgnoreCase(Names[position], name)) {
      return static_cast<int>(position);
    }
  }
  return -1;
}

void TNameList::Insert(std::uint32_t position) {
  const std::size_t mask = Slots.size() - 1;
  std::size_t slot = Hashes[position] & mask;
  while (Slots[slot] != 0) slot = (slot + 1) & mask;
  Slots[slot] = position + 1;
}

void TNameList::Grow() {
  std::size_t size = Slots.empty() ? 16 : Slots.size();
  while (size < 2 * Names.size()) size *= 2;
  Slots.assign(size, 0);
  // In position order, so that equal hashes keep their order along a probe.
  for (std::uint32_t position = 0; position < Names.size(); ++position) Insert(position);
}

void TNameList::Rehash() {
  for (std::size_t i = 0; i < Names.size(); ++i) Hashes[i] = HashOf(Names[i]);
  Slots.assign(Slots.size(), 0);
  for (std::uint32_t position = 0; position < Names.size(); ++position) Insert(position);
}

}  // namespace kw
