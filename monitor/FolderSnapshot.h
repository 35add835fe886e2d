#pragma once
// The files of one startup folder at one moment, and how two of them compare.

#include <string>
#include <vector>

#include "monitor/ChangeRecord.h"
#include "platform/Folders.h"
#include "platform/RegistryText.h"

namespace kw {

struct TFolderEntry {
  std::u16string Name;
  std::uint64_t Size = 0;
  std::uint64_t WriteTime = 0;
  // What the file starts: a shortcut's target, or the file itself.
  std::u16string Program;
  // A shortcut's arguments; empty for other files.
  std::u16string Arguments;
  // The SHA-256 of the file's first kMaxDigested bytes, in hexadecimal: a
  // file rewritten with its old size and time is still told apart. Empty
  // when it could not be read, which no other state matches.
  std::string Content;
};

// How much of a file its digest covers: every startup file there is, in full.
inline constexpr std::uint64_t kMaxDigested = 64ull << 20;

struct TFolderSnapshot {
  std::vector<TFolderEntry> Entries;  // in the folder's order
};

// Whether the file of that name is a shortcut, as the shell tells them: by ".lnk".
bool IsShortcut(const std::u16string& name);
// The path of the file `name` in `folder`.
std::u16string InFolder(const std::u16string& folder, const std::u16string& name);

// Replaces `snapshot` by the files of `folder` and what each starts.
TListResult TakeFolderSnapshot(IFolders& folders, const std::u16string& folder,
                               TFolderSnapshot& snapshot);

// What a comparison needs to describe what it finds.
struct TFolderCompareContext {
  std::u16string Folder;
  const IRegistryText& Text;
  // The hive whose StartupApproved\StartupFolder holds the files' switches.
  HiveHandle SwitchHive = 0;
};

// Appends a record per removed, replaced (in the old snapshot's order) and
// added (in the new one's) file to `records`. Names match as the file system
// matches them: case-insensitive, ordinal. A renamed file is one removed and
// one added.
void CompareFolderSnapshots(const TFolderSnapshot& oldSnapshot, const TFolderSnapshot& newSnapshot,
                            const TFolderCompareContext& context,
                            std::vector<TChangeRecord>& records);

}  // namespace kw
