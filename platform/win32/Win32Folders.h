#pragma once
// The startup folders through the shell's known folders, directory change
// notifications and shell links.

#include "platform/Folders.h"

namespace kw::win32 {

class TWin32Folders : public IFolders {
 public:
  std::u16string StartupFolderPath(TStartupFolder folder) override;
  std::u16string TasksFolderPath() override;
  TListResult ListFiles(const std::u16string& folder, std::vector<TFolderFile>& files) override;
  TListResult ListFolders(const std::u16string& folder,
                          std::vector<std::u16string>& names) override;
  bool FolderExists(const std::u16string& path) override;
  std::u16string ResolvedPath(const std::u16string& path) override;
  std::unique_ptr<IFolderWatch> WatchFolder(const std::u16string& folder, IEvent& changed) override;
  std::unique_ptr<IFolderWatch> WatchTree(const std::u16string& folder, IEvent& changed) override;
  std::unique_ptr<IFolderWatch> WatchSubfolderNames(const std::u16string& folder,
                                                    IEvent& changed) override;
  bool ReadShortcut(const std::u16string& path, std::u16string& target,
                    std::u16string& arguments) override;
  bool ReadContent(const std::u16string& path, std::uint64_t limit,
                   const std::function<void(const char*, std::size_t)>& sink) override;
  bool DeleteFileAt(const std::u16string& path) override;
  TMakeResult MakeShortcut(const std::u16string& path, const std::u16string& target,
                           const std::u16string& arguments) override;
  std::unique_ptr<IThreadSetup> SetUpThread() override;
};

}  // namespace kw::win32
