#pragma once
// The value names of a snapshot: an append-only list that finds the first entry
// equal to a name ignoring case, as the user's locale judges it.
//
// A linear search per lookup would make comparing two snapshots cost the
// product of their sizes; a key flooded with values would then stall its
// monitor for minutes. Each name is therefore hashed by its locale sort key
// when appended. Entries that share a hash are met in the order they were
// appended, so a lookup gives the same first match as a linear search.
//
// Two things keep the hashes true to the comparison. The empty name has no
// sort key (LCMapStringA refuses it), yet CompareStringA finds it equal to any
// name made only of characters without sort weight: every name equal to the
// empty one therefore gets one fixed hash. And the user may change the locale
// while the program runs, which changes both: FollowLocale hashes the names
// again when the locale is no longer the one they were hashed under.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Collation.h"

namespace kw {

class TNameList {
 public:
  explicit TNameList(const ICollation& collation) : Collation(&collation) {}

  void Clear();
  void Append(std::string name);

  // Position of the first name equal to `name` ignoring case, or -1.
  int IndexOf(std::string_view name) const;
  // The same for entry `i` of `other`, whose hash is known already.
  int IndexOf(const TNameList& other, std::size_t i) const;

  std::size_t Count() const { return Names.size(); }
  const std::string& operator[](std::size_t i) const { return Names[i]; }
  const std::vector<std::string>& Items() const { return Names; }

  void Swap(TNameList& other) noexcept;

  // Before lookups: hashes every name again if the user's locale has changed
  // since they were hashed, so that they agree with today's comparison.
  void FollowLocale();

 private:
  std::uint64_t HashOf(std::string_view name) const;
  int Find(std::string_view name, std::uint64_t hash) const;
  void Insert(std::uint32_t position);
  void Grow();
  void Rehash();

  const ICollation* Collation;
  std::uint32_t Locale = 0;  // the locale the hashes were made under
  std::vector<std::string> Names;
  std::vector<std::uint64_t> Hashes;  // parallel to Names
  std::vector<std::uint32_t> Slots;   // open addressing: position + 1, 0 when free
  mutable std::string SortKey;        // reused buffer
};

}  // namespace kw
