#include "monitor/RegSnapshot.h"

#include <unordered_map>

#include "monitor/ChangeTexts.h"

namespace kw {

namespace {

// One value that cannot be read leaves out that value alone. Only a key that
// is gone, or this many failures one after another, ends the enumeration early.
constexpr int kMaxFailuresInARow = 64;

bool KeyIsGone(long result) {
  return result == kErrorKeyDeleted || result == kErrorInvalidHandle;
}

std::string RemoveByte(std::string_view text, char unwanted) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    if (c != unwanted) result += c;
  }
  return result;
}

std::u16string Folded(const char16_t* upcase, std::u16string_view text) {
  std::u16string folded(text.size(), u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) folded[i] = upcase[text[i]];
  return folded;
}

bool IsString(std::uint32_t type) { return type == kRegSz || type == kRegExpandSz; }

bool Counts(const TRegValue& value, const TLocation& location, const char16_t* upcase) {
  if (!IsString(value.Type) && !(location.MultiString && value.Type == kRegMultiSz)) return false;
  if (location.Values.empty()) return true;
  const std::u16string name = Folded(upcase, value.Name);
  for (const std::string& wanted : location.Values) {
    if (name == Folded(upcase, std::u16string(wanted.begin(), wanted.end()))) return true;
  }
  return false;
}

// What Windows reads of a value's data.
std::u16string DataOf(const TRegValue& value) {
  std::u16string_view text = value.Text;
  if (value.Type != kRegMultiSz) return std::u16string(text.substr(0, text.find(u'\0')));
  std::u16string items;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find(u'\0'), text.size());
    if (end == 0) break;  // the empty item that ends the list
    items.append(text.substr(0, end)).push_back(u'\0');
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return items;
}

// Reads the values of one key that count, under `subKey`'s name.
TSnapshotResult ReadValues(IRegKey& key, const TLocation& location, const char16_t* upcase,
                           const std::u16string& subKey, TRegSnapshot& snapshot) {
  TRegValue value;
  int failures = 0;
  for (std::uint32_t index = 0;; ++index) {
    const long result = key.EnumValue(index, value);
    if (result == kErrorNoMoreItems) return TSnapshotResult::Read;
    if (KeyIsGone(result)) return TSnapshotResult::KeyGone;
    if (result == kErrorMoreData) continue;  // grew past every try to read it; on with the next
    if (result != kErrorSuccess) {
      // Calls that keep failing would never reach the end of the values.
      if (++failures == kMaxFailuresInARow) return TSnapshotResult::Read;
      continue;  // left out; on with the next
    }
    failures = 0;
    if (!Counts(value, location, upcase)) continue;
    snapshot.Entries.push_back(
        {subKey, value.Name, value.Type, DataOf(value), IdentityOf(upcase, subKey, value.Name)});
  }
}

void ReadSubKeys(IRegKey& key, const TLocation& location, const char16_t* upcase,
                 TRegSnapshot& snapshot) {
  std::u16string name;
  int failures = 0;
  for (std::uint32_t index = 0;; ++index) {
    const long result = key.EnumSubKey(index, name);
    if (result == kErrorNoMoreItems || KeyIsGone(result)) return;
    if (result != kErrorSuccess) {
      if (++failures == kMaxFailuresInARow) return;
      continue;
    }
    failures = 0;
    // A subkey deleted behind the enumeration has no values left to read.
    if (auto subKey = key.OpenSubKey(name, kKeyQueryValue)) {
      ReadValues(*subKey, location, upcase, name, snapshot);
    }
  }
}

using TIdentityIndex = std::unordered_map<std::u16string_view, std::size_t>;

// The first entry of each identity: an enumeration that races a value being
// deleted and written again can read that value twice.
TIdentityIndex IndexOf(const TRegSnapshot& snapshot) {
  TIdentityIndex index;
  index.reserve(snapshot.Entries.size());
  for (std::size_t i = 0; i < snapshot.Entries.size(); ++i) {
    index.emplace(snapshot.Entries[i].Identity, i);
  }
  return index;
}

bool SameData(const TRegEntry& a, const TRegEntry& b) {
  const bool sameKind = IsString(a.Type) == IsString(b.Type);
  return sameKind && a.Data == b.Data;
}

std::string ShownData(const IRegistryText& text, const TRegEntry& entry) {
  if (entry.Type != kRegMultiSz) return text.ToAnsi(entry.Data);
  std::string shown;
  std::u16string_view items = entry.Data;
  while (!items.empty()) {
    const std::size_t end = items.find(u'\0');
    if (!shown.empty()) shown += texts::kItemSeparator;
    shown += text.ToAnsi(items.substr(0, end));
    items.remove_prefix(end + 1);
  }
  return shown;
}

TChangeRecord RecordOf(TChangeKind kind, const TRegEntry& entry, const TCompareContext& context) {
  TChangeRecord record;
  record.Kind = kind;
  record.RootKey = context.RootKey;
  record.View = kKeyWow64_64Key;
  record.Location = context.Path;
  if (!entry.SubKey.empty()) record.Location += '\\' + context.Text.ToAnsi(entry.SubKey);
  record.ValueName = context.Text.ToAnsi(entry.Name);
  record.Identity = entry.Name;
  record.IdentitySubKey = entry.SubKey;
  record.Type = entry.Type;
  record.Setting = context.Settings;
  return record;
}

}  // namespace

TSnapshotResult TakeSnapshot(IRegKey& key, const TLocation& location, const char16_t* upcase,
                             TRegSnapshot& snapshot) {
  snapshot.Entries.clear();
  const TSnapshotResult result = ReadValues(key, location, upcase, u"", snapshot);
  if (result == TSnapshotResult::Read && location.SubKeys) {
    ReadSubKeys(key, location, upcase, snapshot);
  }
  return result;
}

std::u16string IdentityOf(const char16_t* upcase, std::u16string_view subKey,
                          std::u16string_view name) {
  std::u16string identity = Folded(upcase, subKey);
  identity += u'\\';
  identity += Folded(upcase, name);
  return identity;
}

void CompareSnapshots(const TRegSnapshot& oldSnapshot, const TRegSnapshot& newSnapshot,
                      const TCompareContext& context, std::vector<TChangeRecord>& records) {
  const TIdentityIndex oldIndex = IndexOf(oldSnapshot);
  const TIdentityIndex newIndex = IndexOf(newSnapshot);

  for (std::size_t i = 0; i < oldSnapshot.Entries.size(); ++i) {
    const TRegEntry& old = oldSnapshot.Entries[i];
    const std::u16string_view identity = old.Identity;
    if (oldIndex.at(identity) != i) continue;  // a second reading of one value
    const auto found = newIndex.find(identity);
    if (found == newIndex.end()) {
      TChangeRecord record = RecordOf(TChangeKind::Deleted, old, context);
      record.OldData = ShownData(context.Text, old);
      record.Line = PathLine(record.OldData);
      record.ProgramPath = record.Line;
      record.Title = texts::kTitleDeleted;
      records.push_back(std::move(record));
      continue;
    }
    const TRegEntry& now = newSnapshot.Entries[found->second];
    if (SameData(old, now)) continue;
    TChangeRecord record = RecordOf(TChangeKind::Changed, old, context);
    record.Type = now.Type;
    record.OldData = ShownData(context.Text, old);
    record.NewData = ShownData(context.Text, now);
    record.Line = ChangedLine(context.Text.ToAnsi(old.Name), record.OldData, record.NewData);
    record.ProgramPath = PathLine(record.NewData);
    records.push_back(std::move(record));
  }

  for (std::size_t j = 0; j < newSnapshot.Entries.size(); ++j) {
    const TRegEntry& now = newSnapshot.Entries[j];
    const std::u16string_view identity = now.Identity;
    if (newIndex.at(identity) != j || oldIndex.count(identity) != 0) continue;
    TChangeRecord record = RecordOf(TChangeKind::Added, now, context);
    record.NewData = ShownData(context.Text, now);
    record.Line = PathLine(record.NewData);
    record.ProgramPath = record.Line;
    record.Title = texts::kTitleAdded;
    records.push_back(std::move(record));
  }
}

std::string ExtractProgramPath(std::string_view command) {
  std::string_view result = command;
  if (command.find(".exe/") != std::string_view::npos) {
    result = command.substr(0, command.find(".exe") + 4);
  }
  const std::size_t slash = result.find('/');
  if (slash != std::string_view::npos) result = result.substr(0, slash);
  return std::string(result);
}

std::string StripQuotes(std::string_view text) {
  return RemoveByte(text, '"');
}

std::string StripSemicolons(std::string_view text) {
  return RemoveByte(text, ';');
}

std::string PathLine(std::string_view data) {
  return StripSemicolons(StripQuotes(ExtractProgramPath(data)));
}

std::string ChangedLine(std::string_view name, std::string_view oldData, std::string_view newData) {
  std::string line = texts::kChangedBegin;
  line.append(name).append(texts::kChangedFrom);
  line.append(oldData).append(texts::kChangedTo);
  line.append(newData).append(texts::kChangedEnd);
  return line;
}

}  // namespace kw
