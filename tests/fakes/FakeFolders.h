#pragma once
// In-memory folders and shortcuts with change signals, as the startup-folder
// monitors see the file system. Paths match exactly. A watch holds on to its
// folder as a handle does: it goes with the folder when that is renamed.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Folders.h"
#include "tests/fakes/FakeSync.h"

namespace kw::fake {

class FakeFolders : public IFolders {
 public:
  explicit FakeFolders(FakeSync& sync) : Sync(sync) {}

  std::u16string StartupFolderPath(TStartupFolder folder) override;
  std::u16string TasksFolderPath() override { return TasksFolder; }
  TListResult ListFiles(const std::u16string& folder, std::vector<TFolderFile>& files) override;
  TListResult ListFolders(const std::u16string& folder,
                          std::vector<std::u16string>& names) override;
  bool FolderExists(const std::u16string& path) override;
  std::u16string ResolvedPath(const std::u16string& path) override;
  std::unique_ptr<IFolderWatch> WatchFolder(const std::u16string& folder, IEvent& changed) override;
  std::unique_ptr<IFolderWatch> WatchTree(const std::u16string& folder, IEvent& changed) override;
  std::unique_ptr<IFolderWatch> WatchSubfolderNames(const std::u16string& folder,
                                                    IEvent& changed) override;
  TMakeResult MakeShortcut(const std::u16string& path, const std::u16string& target,
                           const std::u16string& arguments) override;
  bool ReadShortcut(const std::u16string& path, std::u16string& target,
                    std::u16string& arguments) override;
  bool ReadContent(const std::u16string& path, std::uint64_t limit,
                   const std::function<void(const char*, std::size_t)>& sink) override;
  bool DeleteFileAt(const std::u16string& path) override;
  std::unique_ptr<IThreadSetup> SetUpThread() override;

  // The test side. Each change signals the watches of its folder (and, for
  // a folder made, removed or renamed, of its parent), as the file system would.
  void NameStartupFolder(TStartupFolder folder, const std::u16string& path);
  void MakeFolder(const std::u16string& path);    // and the missing ones above it
  void RemoveFolder(const std::u16string& path);  // with all it holds
  // Renames or moves a folder with all it holds to `to`, which must not
  // exist; its watches go with it.
  void RenameFolder(const std::u16string& from, const std::u16string& to);
  // Makes a link (a junction) at `path` to the folder at `target`, which
  // need not exist; RemoveFolder removes the link alone.
  void MakeLink(const std::u16string& path, const std::u16string& target);
  // Puts a file, or replaces the one of that name; makes the folder if need be.
  void PutFile(const std::u16string& folder, const std::u16string& name, std::uint64_t size,
               std::uint64_t writeTime, std::string content = {});
  // While set, the content of every file cannot be read.
  void FailReading(bool fail);
  void PutShortcut(const std::u16string& folder, const std::u16string& name,
                   const std::u16string& target, const std::u16string& arguments,
                   std::uint64_t writeTime = 1);
  void RemoveFile(const std::u16string& folder, const std::u16string& name);
  void RenameFile(const std::u16string& folder, const std::u16string& from,
                  const std::u16string& to);
  // While set, listing any folder fails.
  void FailListing(bool fail);
  // Empty: the system names no such folder, and no monitor watches one.
  std::u16string TasksFolder;
  // Watches armed and not yet cancelled.
  int ArmedWatches();
  // Thread setups made and not yet undone.
  int ThreadSetups();

 private:
  struct TFile {
    TFolderFile Entry;
    bool Shortcut = false;
    std::u16string Target;
    std::u16string Arguments;
    std::string Content;
  };
  // A folder as the file system holds it: its identity outlives a rename.
  struct TFolder {
    int Id = 0;
    std::vector<TFile> Files;
  };
  struct TWatch {
    int FolderId = 0;
    bool SubfolderNamesOnly = false;
    bool Tree = false;
    std::function<void()> Signal;
  };
  class TFakeWatch;
  class TFakeSetup;

  // Lock held for these.
  TFile* FindFile(const std::u16string& folder, const std::u16string& name);
  TFolder& MakeFolders(const std::u16string& named);
  // Where `path` leads with every link on the way followed.
  std::u16string Resolve(std::u16string path) const;
  std::unique_ptr<IFolderWatch> Watch(const std::u16string& folder, IEvent& changed,
                                      bool subfolderNamesOnly, bool tree = false);
  // A file in `folder` changed, or (`subfolder`) a folder in it.
  void SignalFolder(const std::u16string& folder, bool subfolder = false);
  static std::u16string ParentOf(const std::u16string& path);
  static bool IsWithin(const std::u16string& path, const std::u16string& folder);

  FakeSync& Sync;
  std::mutex Lock;
  std::map<TStartupFolder, std::u16string> Named;
  std::map<std::u16string, TFolder> Folders;  // by where they are, links followed
  std::map<std::u16string, std::u16string> Links;
  std::map<int, TWatch> Watches;
  int NextWatch = 0;
  int NextFolder = 1;
  int Setups = 0;
  bool ListingFails = false;
  bool ReadingFails = false;
};

}  // namespace kw::fake
