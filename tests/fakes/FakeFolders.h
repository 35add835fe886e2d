#pragma once
// In-memory folders and shortcuts with change signals, as the startup-folder
// monitors see the file system. Paths match exactly.

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
  TListResult ListFiles(const std::u16string& folder, std::vector<TFolderFile>& files) override;
  bool FolderExists(const std::u16string& path) override;
  std::unique_ptr<IFolderWatch> WatchFolder(const std::u16string& folder, IEvent& changed) override;
  bool ReadShortcut(const std::u16string& path, std::u16string& target,
                    std::u16string& arguments) override;
  bool ReadContent(const std::u16string& path, std::uint64_t limit,
                   const std::function<void(const char*, std::size_t)>& sink) override;
  bool DeleteFileAt(const std::u16string& path) override;
  std::unique_ptr<IThreadSetup> SetUpThread() override;

  // The test side. Each change signals the watches of its folder (and, for
  // a folder made or removed, of its parent), as the file system would.
  void NameStartupFolder(TStartupFolder folder, const std::u16string& path);
  void MakeFolder(const std::u16string& path);
  void RemoveFolder(const std::u16string& path);  // with its files
  // Puts a file, or replaces the one of that name.
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
  struct TWatch {
    std::u16string Folder;
    std::function<void()> Signal;
  };
  class TFakeWatch;
  class TFakeSetup;

  TFile* FindFile(const std::u16string& folder, const std::u16string& name);  // Lock held
  void SignalFolder(const std::u16string& folder);                            // Lock held
  static std::u16string ParentOf(const std::u16string& path);

  FakeSync& Sync;
  std::mutex Lock;
  std::map<TStartupFolder, std::u16string> Named;
  std::map<std::u16string, std::vector<TFile>> Folders;
  std::map<int, TWatch> Watches;
  int NextWatch = 0;
  int Setups = 0;
  bool ListingFails = false;
  bool ReadingFails = false;
};

}  // namespace kw::fake
