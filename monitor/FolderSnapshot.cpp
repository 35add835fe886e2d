#include "monitor/FolderSnapshot.h"

#include <unordered_map>

#include "monitor/ChangeTexts.h"
#include "monitor/Digest.h"

namespace kw {

bool IsShortcut(const std::u16string& name) {
  static constexpr char16_t kExtension[] = u".LNK";
  constexpr std::size_t length = 4;
  if (name.size() < length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    char16_t unit = name[name.size() - length + i];
    if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - 32);
    if (unit != kExtension[i]) return false;
  }
  return true;
}

std::u16string InFolder(const std::u16string& folder, const std::u16string& name) {
  if (!folder.empty() && folder.back() == u'\\') return folder + name;
  return folder + u'\\' + name;
}

namespace {

// The name as the file system tells names apart: each unit through the
// system's upper-case table.
std::u16string Folded(const std::u16string& name, const char16_t* upcase) {
  std::u16string folded(name);
  for (char16_t& unit : folded) unit = upcase[unit];
  return folded;
}

// What Windows would start: the same bytes, and for a shortcut the same
// target and arguments. A file whose content could not be read is never taken
// for the same: something may be hiding its replacement.
bool SameFile(const TFolderEntry& a, const TFolderEntry& b) {
  return a.Size == b.Size && a.WriteTime == b.WriteTime && a.Program == b.Program &&
         a.Arguments == b.Arguments && !a.Content.empty() && a.Content == b.Content;
}

std::string ContentOf(IFolders& folders, const std::u16string& path) {
  TSha256 sha;
  if (!folders.ReadContent(path, kMaxDigested,
                           [&](const char* data, std::size_t size) { sha.Add(data, size); })) {
    return {};
  }
  const TSha256::TDigest digest = sha.Finish();
  return HexOf(digest.data(), digest.size());
}

TChangeRecord RecordOf(TChangeKind kind, const TFolderEntry& entry,
                       const TFolderCompareContext& context) {
  const IRegistryText& text = context.Text;
  TChangeRecord record;
  record.Kind = kind;
  record.Where = TLocationKind::StartupFolder;
  record.Location = text.ToAnsi(context.Folder);
  record.Key = context.Folder;
  record.ValueName = text.ToAnsi(entry.Name);
  record.Identity = entry.Name;
  record.IdentitySubKey = context.Folder;
  record.Program = entry.Program;
  record.Line = text.ToAnsi(entry.Program);
  record.ProgramPath = record.Line;
  record.SwitchHive = context.SwitchHive;
  if (context.SwitchHive != 0) record.SwitchKey = u"StartupFolder";
  // A file put in the place of another starts something new: it is shown as added.
  record.Title = kind == TChangeKind::Deleted ? texts::kTitleDeleted : texts::kTitleAdded;
  const bool deleted = kind == TChangeKind::Deleted;
  (deleted ? record.OldText : record.NewText) = entry.Arguments;
  (deleted ? record.OldData : record.NewData) = text.ToAnsi(entry.Arguments);
  return record;
}

}  // namespace

TListResult TakeFolderSnapshot(IFolders& folders, const std::u16string& folder,
                               TFolderSnapshot& snapshot) {
  std::vector<TFolderFile> files;
  snapshot.Entries.clear();
  const TListResult result = folders.ListFiles(folder, files);
  if (result != TListResult::Read) return result;
  snapshot.Entries.reserve(files.size());
  for (TFolderFile& file : files) {
    TFolderEntry entry;
    entry.Size = file.Size;
    entry.WriteTime = file.WriteTime;
    entry.Program = InFolder(folder, file.Name);
    entry.Content = ContentOf(folders, entry.Program);
    // A shortcut that cannot be read (still being written, damaged) shows
    // itself; once it is whole its new size or time reports it again.
    if (IsShortcut(file.Name)) {
      std::u16string target;
      std::u16string arguments;
      if (folders.ReadShortcut(entry.Program, target, arguments) && !target.empty()) {
        entry.Program = std::move(target);
        entry.Arguments = std::move(arguments);
      }
    }
    entry.Name = std::move(file.Name);
    snapshot.Entries.push_back(std::move(entry));
  }
  return result;
}

void CompareFolderSnapshots(const TFolderSnapshot& oldSnapshot, const TFolderSnapshot& newSnapshot,
                            const TFolderCompareContext& context,
                            std::vector<TChangeRecord>& records) {
  const char16_t* upcase = context.Text.UpcaseTable();
  std::unordered_map<std::u16string, const TFolderEntry*> now;
  for (const TFolderEntry& entry : newSnapshot.Entries) now[Folded(entry.Name, upcase)] = &entry;
  std::unordered_map<std::u16string, bool> before;
  for (const TFolderEntry& entry : oldSnapshot.Entries) {
    std::u16string key = Folded(entry.Name, upcase);
    const auto found = now.find(key);
    if (found == now.end()) {
      records.push_back(RecordOf(TChangeKind::Deleted, entry, context));
    } else if (!SameFile(entry, *found->second)) {
      TChangeRecord record = RecordOf(TChangeKind::Changed, *found->second, context);
      record.OldText = entry.Arguments;
      record.OldData = context.Text.ToAnsi(entry.Arguments);
      records.push_back(std::move(record));
    }
    before.emplace(std::move(key), true);
  }
  for (const TFolderEntry& entry : newSnapshot.Entries) {
    if (!before.count(Folded(entry.Name, upcase))) {
      records.push_back(RecordOf(TChangeKind::Added, entry, context));
    }
  }
}

}  // namespace kw
