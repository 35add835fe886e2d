#pragma once
// The file system as the startup-folder watchers see it: where the shell puts
// the startup folders, what a folder holds, what a shortcut starts, and a
// signal on the next change of a folder. Paths are UTF-16, exactly as the
// file system names them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Sync.h"

namespace kw {

// The startup folder of the user, or the one every user shares.
enum class TStartupFolder : std::uint8_t { User, Common };

struct TFolderFile {
  std::u16string Name;
  std::uint64_t Size = 0;
  // The last write time in the file system's own units (FILETIME on Windows).
  std::uint64_t WriteTime = 0;
};

// An armed change signal; destroying it cancels it.
class IFolderWatch {
 public:
  virtual ~IFolderWatch() = default;
};

// What a watcher's thread needs set up for itself (COM on Windows), undone
// when it is destroyed on that same thread.
class IThreadSetup {
 public:
  virtual ~IThreadSetup() = default;
};

// Result of listing a folder.
enum class TListResult : std::uint8_t { Read, Absent, Failed };

// Result of making a file: made, or not, as something is there already.
enum class TMakeResult : std::uint8_t { Made, Exists, Failed };

class IFolders {
 public:
  virtual ~IFolders() = default;
  // The folder as the shell names it now, redirections followed; empty when
  // the shell names none.
  virtual std::u16string StartupFolderPath(TStartupFolder folder) = 0;
  // The Task Scheduler's folder of task definitions, a file for each task
  // below folders named as the tasks' folders; the 64-bit system's from a
  // 32-bit program too. Empty when it cannot be told.
  virtual std::u16string TasksFolderPath() = 0;
  // Replaces `files` by the files (not the folders) directly in `folder`.
  virtual TListResult ListFiles(const std::u16string& folder, std::vector<TFolderFile>& files) = 0;
  // Replaces `names` by the folders directly in `folder`; links to folders
  // are left out, so that no walk below runs in a circle or out of the tree.
  virtual TListResult ListFolders(const std::u16string& folder,
                                  std::vector<std::u16string>& names) = 0;
  // True for a folder, and for a link to one (a junction) that leads
  // nowhere: the link itself is not followed.
  virtual bool FolderExists(const std::u16string& path) = 0;
  // Where the folder at `path` is, as the file system finds it: every link,
  // junction and mount point on the way followed. Empty when no folder is
  // there; `path` itself when where it leads cannot be told.
  virtual std::u16string ResolvedPath(const std::u16string& path) = 0;
  // Sets `changed` once on the next change in `folder`: a file added,
  // removed, renamed or written, or a folder made, removed or renamed in
  // it. Null when the folder cannot be watched. The watch holds on to the
  // folder, not to its path: it goes with the folder when that is renamed.
  virtual std::unique_ptr<IFolderWatch> WatchFolder(const std::u16string& folder,
                                                    IEvent& changed) = 0;
  // As WatchFolder, for a change anywhere below `folder` too.
  virtual std::unique_ptr<IFolderWatch> WatchTree(const std::u16string& folder,
                                                  IEvent& changed) = 0;
  // Sets `changed` once when a folder directly in `folder` is made, removed,
  // renamed, or moved in or out; files do not count. Null when `folder`
  // cannot be watched. Held on to the folder as WatchFolder is.
  virtual std::unique_ptr<IFolderWatch> WatchSubfolderNames(const std::u16string& folder,
                                                            IEvent& changed) = 0;
  // The program and the arguments of the shortcut at `path`; false when it
  // is no shortcut or names no file.
  virtual bool ReadShortcut(const std::u16string& path, std::u16string& target,
                            std::u16string& arguments) = 0;
  // Hands the first `limit` bytes of the file at `path` to `sink`, piece by
  // piece, in order; false when the file cannot be opened or read (then what
  // was handed on is no whole).
  virtual bool ReadContent(const std::u16string& path, std::uint64_t limit,
                           const std::function<void(const char*, std::size_t)>& sink) = 0;
  // Deletes the file at `path`, never a folder and never what a link named
  // so leads to; a file reached through a link on the way only where the
  // user's own programs could delete it. False when that fails.
  virtual bool DeleteFileAt(const std::u16string& path) = 0;
  // Makes a shortcut at `path` that starts `target` with `arguments`: a new
  // file, never one in the place of another, and never through a link on
  // the way, which could lead where only administrators may write.
  virtual TMakeResult MakeShortcut(const std::u16string& path, const std::u16string& target,
                                   const std::u16string& arguments) = 0;
  // Called first on a watcher's own thread; the result lives as long as the thread's work.
  virtual std::unique_ptr<IThreadSetup> SetUpThread() = 0;
};

}  // namespace kw
