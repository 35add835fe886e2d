#include "monitor/RegSnapshot.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "monitor/ChangeTexts.h"

namespace kw {

namespace {

// One value that cannot be read leaves out that value alone. Only a key that
// is gone, or this many failures one after another, ends the enumeration early.
constexpr int kMaxFailuresInARow = 64;

bool KeyIsGone(long result) {
  return result == kErrorKeyDeleted || result == kErrorInvalidHandle;
}

template <typename Char>
std::basic_string<Char> Without(std::basic_string_view<Char> text, char unwanted) {
  std::basic_string<Char> result;
  result.reserve(text.size());
  for (Char c : text) {
    if (c != static_cast<Char>(unwanted)) result += c;
  }
  return result;
}

// The program path of a command line, in either form of text: every
// character it looks for is ASCII, never part of a double-byte character of
// code page 936, so both give the same path.
template <typename Char>
std::basic_string<Char> ProgramPathOf(std::basic_string_view<Char> command) {
  static constexpr Char kExe[] = {'.', 'e', 'x', 'e', 0};
  static constexpr Char kExeSlash[] = {'.', 'e', 'x', 'e', '/', 0};
  std::basic_string_view<Char> result = command;
  if (command.find(kExeSlash) != std::basic_string_view<Char>::npos) {
    result = command.substr(0, command.find(kExe) + 4);
  }
  const std::size_t slash = result.find(static_cast<Char>('/'));
  if (slash != std::basic_string_view<Char>::npos) result = result.substr(0, slash);
  return std::basic_string<Char>(result);
}

template <typename Char>
std::basic_string<Char> PathLineOf(std::basic_string_view<Char> data) {
  const std::basic_string<Char> path = ProgramPathOf(data);
  const std::basic_string<Char> unquoted = Without<Char>(path, '"');
  return Without<Char>(unquoted, ';');
}

std::u16string Folded(const char16_t* upcase, std::u16string_view text) {
  std::u16string folded(text.size(), u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) folded[i] = upcase[text[i]];
  return folded;
}

bool IsString(std::uint32_t type) {
  return type == kRegSz || type == kRegExpandSz;
}

// A switch switches its entry off while it is REG_BINARY and begins with
// an odd byte; Windows starts an entry whose switch is missing or another.
bool IsSwitchedOff(const TRegValue& value) {
  return value.Type == kRegBinary && !value.Text.empty() && (value.Text[0] & 1) != 0;
}

// What counts of a switch: whether it is off, its type and its first four
// bytes, not the time after them. Every switch counts, of whatever type,
// so that no form of it Windows may read otherwise goes unseen.
std::u16string SwitchStateOf(const TRegValue& value) {
  char state[48];
  unsigned bytes[4] = {};
  for (std::size_t i = 0; i < 4 && i / 2 < value.Text.size(); ++i) {
    bytes[i] = (value.Text[i / 2] >> (8 * (i % 2))) & 0xFF;
  }
  std::snprintf(state, sizeof state, "%s:%u:%02x%02x%02x%02x", IsSwitchedOff(value) ? "off" : "on",
                static_cast<unsigned>(value.Type), bytes[0], bytes[1], bytes[2], bytes[3]);
  return std::u16string(state, state + std::strlen(state));
}

bool Counts(const TRegValue& value, const TLocation& location, const char16_t* upcase,
            const std::u16string& subKey) {
  // A switch is named by its entry in the subkey of its kind; the key's own
  // values switch nothing.
  if (location.Switches) return !subKey.empty();
  if (!IsString(value.Type) && !(location.MultiString && value.Type == kRegMultiSz) &&
      !(location.Numbers && value.Type == kRegDword)) {
    return false;
  }
  if (location.Values.empty()) return true;
  const std::u16string name = Folded(upcase, value.Name);
  for (const std::string& wanted : location.Values) {
    if (name == Folded(upcase, std::u16string(wanted.begin(), wanted.end()))) return true;
  }
  return false;
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
    if (!Counts(value, location, upcase, subKey)) continue;
    std::u16string data = location.Switches ? SwitchStateOf(value) : DataOf(value);
    snapshot.Entries.push_back(
        {subKey, value.Name, value.Type, std::move(data), IdentityOf(upcase, subKey, value.Name)});
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
    auto subKey = key.OpenSubKey(name, kKeyQueryValue);
    if (!subKey) continue;
    if (location.Inner.empty()) {
      ReadValues(*subKey, location, upcase, name, snapshot);
      continue;
    }
    // Every entry then lies two subkeys down: no name of one kind can read
    // as a name of the other.
    for (const std::string& inner : location.Inner) {
      const std::u16string innerName(inner.begin(), inner.end());
      if (auto innerKey = subKey->OpenSubKey(innerName, kKeyQueryValue)) {
        ReadValues(*innerKey, location, upcase, name + u'\\' + innerName, snapshot);
      }
    }
  }
}

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Equal code unit for code unit. The standard comparison of UTF-16 strings
// goes a unit at a time; this one a block at a time, which is what makes
// comparing two snapshots of a huge key cheaper than reading one.
bool SameUnits(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0);
}

std::uint64_t HashOf(std::u16string_view text) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char16_t unit : text) hash = (hash ^ unit) * 1099511628211ull;
  return hash;
}

// The order of the slot table. Names made to share a hash (anyone may
// choose a key's value names) only sort by their text: a key full of them
// costs a sort, never a comparison of each with each.
int Order(const TRegSnapshot& a, const TRegSlot& x, const TRegSnapshot& b, const TRegSlot& y) {
  if (x.Hash != y.Hash) return x.Hash < y.Hash ? -1 : 1;
  const std::u16string& first = a.Entries[x.Entry].Identity;
  const std::u16string& second = b.Entries[y.Entry].Identity;
  if (SameUnits(first, second)) return 0;
  const int byText = first.compare(second);
  return byText < 0 ? -1 : byText > 0 ? 1 : 0;
}

void SortSlots(const TRegSnapshot& snapshot, std::vector<TRegSlot>& slots) {
  slots.clear();
  slots.reserve(snapshot.Entries.size());
  for (std::size_t i = 0; i < snapshot.Entries.size(); ++i) {
    slots.push_back({HashOf(snapshot.Entries[i].Identity), i});
  }
  std::sort(slots.begin(), slots.end(), [&](const TRegSlot& x, const TRegSlot& y) {
    const int order = Order(snapshot, x, snapshot, y);
    return order != 0 ? order < 0 : x.Entry < y.Entry;
  });
}

// The snapshot's own table where it matches its entries, else one made in `scratch`.
const std::vector<TRegSlot>& SlotsOf(const TRegSnapshot& snapshot, std::vector<TRegSlot>& scratch) {
  if (snapshot.Slots.size() == snapshot.Entries.size()) return snapshot.Slots;
  SortSlots(snapshot, scratch);
  return scratch;
}

// How the entries of two snapshots pair up by identity. Of one identity read
// twice (an enumeration racing a value deleted and written again) only the
// first reading counts: the others are kSecond.
struct TPairing {
  static constexpr std::size_t kSecond = kNone - 1;
  std::vector<std::size_t> NewOfOld;  // per old entry: its new entry, kNone or kSecond
  std::vector<std::size_t> OldOfNew;  // per new entry: its old entry, kNone or kSecond
};

// The slots from `at` on of one identity, the first reading first.
const TRegSlot* EndOfIdentity(const TRegSnapshot& snapshot, const TRegSlot* at,
                              const TRegSlot* end) {
  const TRegSlot* next = at + 1;
  while (next != end && Order(snapshot, *at, snapshot, *next) == 0) ++next;
  return next;
}

void MarkSeconds(const TRegSlot* begin, const TRegSlot* end, std::vector<std::size_t>& pairs) {
  for (const TRegSlot* second = begin + 1; second < end; ++second) {
    pairs[second->Entry] = TPairing::kSecond;
  }
}

// Walks both tables in their order at once: linear.
TPairing Pair(const TRegSnapshot& oldSnapshot, const TRegSnapshot& newSnapshot) {
  TPairing pairing{std::vector<std::size_t>(oldSnapshot.Entries.size(), kNone),
                   std::vector<std::size_t>(newSnapshot.Entries.size(), kNone)};
  std::vector<TRegSlot> oldScratch, newScratch;
  const std::vector<TRegSlot>& oldSlots = SlotsOf(oldSnapshot, oldScratch);
  const std::vector<TRegSlot>& newSlots = SlotsOf(newSnapshot, newScratch);
  const TRegSlot *a = oldSlots.data(), *aEnd = a + oldSlots.size();
  const TRegSlot *b = newSlots.data(), *bEnd = b + newSlots.size();
  while (a != aEnd || b != bEnd) {
    const int order = a == aEnd ? 1 : b == bEnd ? -1 : Order(oldSnapshot, *a, newSnapshot, *b);
    const TRegSlot* aRun = order <= 0 ? EndOfIdentity(oldSnapshot, a, aEnd) : a;
    const TRegSlot* bRun = order >= 0 ? EndOfIdentity(newSnapshot, b, bEnd) : b;
    MarkSeconds(a, aRun, pairing.NewOfOld);
    MarkSeconds(b, bRun, pairing.OldOfNew);
    if (order == 0) {
      pairing.NewOfOld[a->Entry] = b->Entry;
      pairing.OldOfNew[b->Entry] = a->Entry;
    }
    a = aRun;
    b = bRun;
  }
  return pairing;
}

bool SameData(const TRegEntry& a, const TRegEntry& b, bool typeCounts) {
  const bool sameKind = typeCounts ? a.Type == b.Type : IsString(a.Type) == IsString(b.Type);
  return sameKind && SameUnits(a.Data, b.Data);
}

std::u16string Widened(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

std::string ShownName(const IRegistryText& text, const std::u16string& name) {
  return name.empty() ? std::string(texts::kDefaultValue) : text.ToAnsi(name);
}

TChangeRecord RecordOf(TChangeKind kind, const TRegEntry& entry, const TCompareContext& context) {
  TChangeRecord record;
  record.Kind = kind;
  record.RootKey = context.RootKey;
  record.View = kKeyWow64_64Key;
  record.Location = context.Path;
  record.Key = Widened(context.Path);
  if (!entry.SubKey.empty()) {
    record.Location += '\\' + context.Text.ToAnsi(entry.SubKey);
    record.Key += u'\\' + entry.SubKey;
  }
  record.ValueName = ShownName(context.Text, entry.Name);
  record.Identity = entry.Name;
  record.IdentitySubKey = entry.SubKey;
  record.Type = entry.Type;
  record.Setting = context.Settings;
  if (context.Switches) {
    record.SwitchHive = context.RootKey;
    record.SwitchKey = entry.SubKey;
  } else if (!context.Switch.empty() && entry.SubKey.empty()) {
    record.SwitchHive = context.RootKey;
    record.SwitchKey = context.Switch;
  }
  return record;
}

// A switch's record tells what the switch now does to its entry; it starts
// no program of its own.
void ShowAsSwitch(TChangeRecord& record) {
  const bool off = record.Kind != TChangeKind::Deleted && SwitchesOff(record.NewText);
  record.Title = off ? texts::kTitleSwitchedOff : texts::kTitleSwitchedOn;
  record.Line = off ? texts::kSwitchedOffLine : texts::kSwitchedOnLine;
  record.Program.clear();
  record.ProgramPath.clear();
}

// One side of a deleted or added entry: its data, and the program it names.
void FillSide(const TRegEntry& entry, const IRegistryText& text, std::u16string& exact,
              std::string& shown, TChangeRecord& record) {
  exact = entry.Data;
  const std::u16string readable = ReadableData(entry.Data, entry.Type);
  shown = text.ToAnsi(readable);
  if (entry.Type == kRegDword) {  // a flag names no program
    record.Program.clear();
    record.ProgramPath.clear();
    record.Line = shown;
    return;
  }
  record.Program = PathLine(std::u16string_view(readable));
  record.ProgramPath = text.ToAnsi(record.Program);
  record.Line = record.ProgramPath;
}

}  // namespace

bool SwitchesOff(std::u16string_view state) {
  return state.substr(0, 4) == u"off:";
}

std::u16string DataOf(const TRegValue& value) {
  std::u16string_view text = value.Text;
  if (value.Type == kRegDword) {
    // Shown as the registry editor shows it; data cut short counts what it holds.
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(text.size(), 2); ++i) {
      number |= std::uint32_t{text[i]} << (16 * i);
    }
    char shown[16];
    std::snprintf(shown, sizeof shown, "0x%08x", static_cast<unsigned>(number));
    return std::u16string(shown, shown + std::strlen(shown));
  }
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

TSnapshotResult TakeSnapshot(IRegKey& key, const TLocation& location, const char16_t* upcase,
                             TRegSnapshot& snapshot) {
  snapshot.Entries.clear();
  // Where only the servers below its subkeys count, the key is still read
  // through once: reading it is how a deleted key is seen.
  TRegSnapshot own;
  TRegSnapshot& target = location.Inner.empty() ? snapshot : own;
  const TSnapshotResult result = ReadValues(key, location, upcase, u"", target);
  if (result == TSnapshotResult::Read && location.SubKeys) {
    ReadSubKeys(key, location, upcase, snapshot);
  }
  SortSlots(snapshot, snapshot.Slots);
  return result;
}

bool FindPassedOver(IRegKey& key, const TLocation& location, const char16_t* upcase,
                    const std::vector<TChangeRecord>& records, TRegSnapshot& snapshot) {
  bool found = false;
  TRegValue value;
  for (const TChangeRecord& record : records) {
    if (record.Kind != TChangeKind::Deleted) continue;
    const std::u16string& subKey = record.IdentitySubKey;
    std::unique_ptr<IRegKey> opened;
    if (!subKey.empty() && !(opened = key.OpenSubKey(subKey, kKeyQueryValue))) continue;
    IRegKey& holder = opened ? *opened : key;
    if (holder.QueryValue(record.Identity, value) != kErrorSuccess) continue;
    if (!Counts(value, location, upcase, subKey)) continue;
    std::u16string data = location.Switches ? SwitchStateOf(value) : DataOf(value);
    snapshot.Entries.push_back({subKey, record.Identity, value.Type, std::move(data),
                                IdentityOf(upcase, subKey, record.Identity)});
    found = true;
  }
  if (found) SortSlots(snapshot, snapshot.Slots);
  return found;
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
  const TPairing pairing = Pair(oldSnapshot, newSnapshot);

  for (std::size_t i = 0; i < oldSnapshot.Entries.size(); ++i) {
    const TRegEntry& old = oldSnapshot.Entries[i];
    const std::size_t found = pairing.NewOfOld[i];
    if (found == TPairing::kSecond) continue;
    if (found == kNone) {
      TChangeRecord record = RecordOf(TChangeKind::Deleted, old, context);
      record.OldType = old.Type;
      FillSide(old, context.Text, record.OldText, record.OldData, record);
      record.Title = texts::kTitleDeleted;
      if (context.Switches) ShowAsSwitch(record);
      records.push_back(std::move(record));
      continue;
    }
    const TRegEntry& now = newSnapshot.Entries[found];
    if (SameData(old, now, context.TypeCounts)) continue;
    TChangeRecord record = RecordOf(TChangeKind::Changed, old, context);
    record.Type = now.Type;
    record.OldType = old.Type;
    FillSide(old, context.Text, record.OldText, record.OldData, record);
    FillSide(now, context.Text, record.NewText, record.NewData, record);
    record.Line = ChangedLine(ShownName(context.Text, old.Name), record.OldData, record.NewData);
    // Two sides that show alike must not read as a change from X to X.
    if (record.OldData == record.NewData) record.Line += texts::kChangedLookAlike;
    if (context.Switches) ShowAsSwitch(record);
    records.push_back(std::move(record));
  }

  for (std::size_t j = 0; j < newSnapshot.Entries.size(); ++j) {
    const TRegEntry& now = newSnapshot.Entries[j];
    if (pairing.OldOfNew[j] != kNone) continue;  // paired, or a second reading
    TChangeRecord record = RecordOf(TChangeKind::Added, now, context);
    FillSide(now, context.Text, record.NewText, record.NewData, record);
    record.Title = texts::kTitleAdded;
    if (context.Switches) ShowAsSwitch(record);
    records.push_back(std::move(record));
  }
}

std::string ExtractProgramPath(std::string_view command) {
  return ProgramPathOf(command);
}

std::string StripQuotes(std::string_view text) {
  return Without(text, '"');
}

std::u16string StripQuotes(std::u16string_view text) {
  return Without(text, '"');
}

std::string StripSemicolons(std::string_view text) {
  return Without(text, ';');
}

std::string PathLine(std::string_view data) {
  return PathLineOf(data);
}

std::u16string PathLine(std::u16string_view data) {
  return PathLineOf(data);
}

std::u16string ReadableData(std::u16string_view data, std::uint32_t type) {
  if (type != kRegMultiSz) return std::u16string(data);
  std::u16string readable;
  while (!data.empty()) {
    const std::size_t end = std::min(data.find(u'\0'), data.size());
    if (!readable.empty()) readable += u" | ";
    readable.append(data.substr(0, end));
    data.remove_prefix(std::min(end + 1, data.size()));
  }
  return readable;
}

std::string ChangedLine(std::string_view name, std::string_view oldData, std::string_view newData) {
  std::string line = texts::kChangedBegin;
  line.append(name).append(texts::kChangedFrom);
  line.append(oldData).append(texts::kChangedTo);
  line.append(newData).append(texts::kChangedEnd);
  return line;
}

}  // namespace kw
