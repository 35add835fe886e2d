#include "tests/fakes/FakeFolders.h"

#include <algorithm>

namespace kw::fake {

class FakeFolders::TFakeWatch : public IFolderWatch {
 public:
  TFakeWatch(FakeFolders& owner, int id) : Owner(owner), Id(id) {}
  ~TFakeWatch() override {
    std::lock_guard<std::mutex> lock(Owner.Lock);
    Owner.Watches.erase(Id);
  }
  FakeFolders& Owner;
  int Id;
};

class FakeFolders::TFakeSetup : public IThreadSetup {
 public:
  explicit TFakeSetup(FakeFolders& owner) : Owner(owner) {
    std::lock_guard<std::mutex> lock(Owner.Lock);
    ++Owner.Setups;
  }
  ~TFakeSetup() override {
    std::lock_guard<std::mutex> lock(Owner.Lock);
    --Owner.Setups;
  }
  FakeFolders& Owner;
};

std::u16string FakeFolders::StartupFolderPath(TStartupFolder folder) {
  std::lock_guard<std::mutex> lock(Lock);
  const auto found = Named.find(folder);
  return found == Named.end() ? std::u16string() : found->second;
}

TListResult FakeFolders::ListFiles(const std::u16string& folder, std::vector<TFolderFile>& files) {
  std::lock_guard<std::mutex> lock(Lock);
  files.clear();
  if (ListingFails) return TListResult::Failed;
  const auto found = Folders.find(Resolve(folder));
  if (found == Folders.end()) return TListResult::Absent;
  for (const TFile& file : found->second.Files) files.push_back(file.Entry);
  return TListResult::Read;
}

TListResult FakeFolders::ListFolders(const std::u16string& folder,
                                     std::vector<std::u16string>& names) {
  std::lock_guard<std::mutex> lock(Lock);
  names.clear();
  if (ListingFails) return TListResult::Failed;
  const std::u16string path = Resolve(folder);
  if (!Folders.count(path)) return TListResult::Absent;
  for (const auto& [where, made] : Folders) {
    if (ParentOf(where) == path) names.push_back(where.substr(path.size() + 1));
  }
  return TListResult::Read;
}

bool FakeFolders::FolderExists(const std::u16string& path) {
  std::lock_guard<std::mutex> lock(Lock);
  return Folders.count(Resolve(path)) != 0 || Links.count(path) != 0;
}

std::u16string FakeFolders::ResolvedPath(const std::u16string& path) {
  std::lock_guard<std::mutex> lock(Lock);
  const std::u16string resolved = Resolve(path);
  return Folders.count(resolved) ? resolved : std::u16string();
}

std::unique_ptr<IFolderWatch> FakeFolders::WatchFolder(const std::u16string& folder,
                                                       IEvent& changed) {
  std::lock_guard<std::mutex> lock(Lock);
  return Watch(folder, changed, false);
}

std::unique_ptr<IFolderWatch> FakeFolders::WatchTree(const std::u16string& folder,
                                                     IEvent& changed) {
  std::lock_guard<std::mutex> lock(Lock);
  return Watch(folder, changed, false, true);
}

std::unique_ptr<IFolderWatch> FakeFolders::WatchSubfolderNames(const std::u16string& folder,
                                                               IEvent& changed) {
  std::lock_guard<std::mutex> lock(Lock);
  return Watch(folder, changed, true);
}

std::unique_ptr<IFolderWatch> FakeFolders::Watch(const std::u16string& folder, IEvent& changed,
                                                 bool subfolderNamesOnly, bool tree) {
  const auto found = Folders.find(Resolve(folder));
  if (found == Folders.end()) return nullptr;
  const int id = NextWatch++;
  Watches[id] = {found->second.Id, subfolderNamesOnly, tree, Sync.SignalerFor(changed)};
  return std::make_unique<TFakeWatch>(*this, id);
}

bool FakeFolders::ReadShortcut(const std::u16string& path, std::u16string& target,
                               std::u16string& arguments) {
  std::lock_guard<std::mutex> lock(Lock);
  const std::size_t cut = path.find_last_of(u'\\');
  if (cut == std::u16string::npos) return false;
  const TFile* file = FindFile(path.substr(0, cut), path.substr(cut + 1));
  if (!file || !file->Shortcut) return false;
  target = file->Target;
  arguments = file->Arguments;
  return true;
}

bool FakeFolders::ReadContent(const std::u16string& path, std::uint64_t limit,
                              const std::function<void(const char*, std::size_t)>& sink) {
  std::string content;
  {
    std::lock_guard<std::mutex> lock(Lock);
    const std::size_t cut = path.find_last_of(u'\\');
    if (cut == std::u16string::npos || ReadingFails) return false;
    const TFile* file = FindFile(path.substr(0, cut), path.substr(cut + 1));
    if (!file) return false;
    content = file->Content.substr(0, static_cast<std::size_t>(limit));
  }
  if (!content.empty()) sink(content.data(), content.size());
  return true;
}

void FakeFolders::FailReading(bool fail) {
  std::lock_guard<std::mutex> lock(Lock);
  ReadingFails = fail;
}

bool FakeFolders::DeleteFileAt(const std::u16string& path) {
  const std::size_t cut = path.find_last_of(u'\\');
  if (cut == std::u16string::npos) return false;
  std::lock_guard<std::mutex> lock(Lock);
  const std::u16string folder = path.substr(0, cut);
  if (!FindFile(folder, path.substr(cut + 1))) return false;
  auto& files = Folders[Resolve(folder)].Files;
  files.erase(std::remove_if(files.begin(), files.end(),
                             [&](const TFile& f) { return f.Entry.Name == path.substr(cut + 1); }),
              files.end());
  SignalFolder(folder);
  return true;
}

std::unique_ptr<IThreadSetup> FakeFolders::SetUpThread() {
  return std::make_unique<TFakeSetup>(*this);
}

void FakeFolders::NameStartupFolder(TStartupFolder folder, const std::u16string& path) {
  std::lock_guard<std::mutex> lock(Lock);
  Named[folder] = path;
}

void FakeFolders::MakeFolder(const std::u16string& path) {
  std::lock_guard<std::mutex> lock(Lock);
  MakeFolders(path);
}

void FakeFolders::RemoveFolder(const std::u16string& path) {
  std::lock_guard<std::mutex> lock(Lock);
  if (Links.erase(path)) {
    SignalFolder(ParentOf(path), true);
    return;
  }
  // Its watch ends as a removed folder's does: with a signal.
  SignalFolder(path);
  for (auto it = Folders.begin(); it != Folders.end();) {
    it = IsWithin(it->first, path) ? Folders.erase(it) : std::next(it);
  }
  SignalFolder(ParentOf(path), true);
}

void FakeFolders::MakeLink(const std::u16string& path, const std::u16string& target) {
  std::lock_guard<std::mutex> lock(Lock);
  Links[path] = target;
  SignalFolder(ParentOf(path), true);
}

void FakeFolders::RenameFolder(const std::u16string& from, const std::u16string& to) {
  std::lock_guard<std::mutex> lock(Lock);
  if (!Folders.count(from) || Folders.count(to) || IsWithin(to, from)) return;
  std::map<std::u16string, TFolder> moved;
  for (auto it = Folders.begin(); it != Folders.end();) {
    if (!IsWithin(it->first, from)) {
      ++it;
      continue;
    }
    moved[to + it->first.substr(from.size())] = std::move(it->second);
    it = Folders.erase(it);
  }
  Folders.merge(moved);
  SignalFolder(ParentOf(from), true);
  SignalFolder(ParentOf(to), true);
}

void FakeFolders::PutFile(const std::u16string& folder, const std::u16string& name,
                          std::uint64_t size, std::uint64_t writeTime, std::string content) {
  std::lock_guard<std::mutex> lock(Lock);
  TFile* file = FindFile(folder, name);
  if (!file) file = &MakeFolders(folder).Files.emplace_back();
  *file = TFile{};
  file->Entry = {name, size, writeTime};
  file->Content = std::move(content);
  SignalFolder(folder);
}

void FakeFolders::PutShortcut(const std::u16string& folder, const std::u16string& name,
                              const std::u16string& target, const std::u16string& arguments,
                              std::uint64_t writeTime) {
  std::lock_guard<std::mutex> lock(Lock);
  TFile* file = FindFile(folder, name);
  if (!file) file = &MakeFolders(folder).Files.emplace_back();
  file->Entry = {name, 1024, writeTime};
  file->Shortcut = true;
  file->Target = target;
  file->Arguments = arguments;
  SignalFolder(folder);
}

TMakeResult FakeFolders::MakeShortcut(const std::u16string& path, const std::u16string& target,
                                      const std::u16string& arguments) {
  const std::size_t cut = path.find_last_of(u'\\');
  if (cut == std::u16string::npos) return TMakeResult::Failed;
  const std::u16string folder = path.substr(0, cut), name = path.substr(cut + 1);
  {
    std::lock_guard<std::mutex> lock(Lock);
    if (FindFile(folder, name)) return TMakeResult::Exists;
  }
  PutShortcut(folder, name, target, arguments);
  return TMakeResult::Made;
}

void FakeFolders::RemoveFile(const std::u16string& folder, const std::u16string& name) {
  DeleteFileAt(folder + u'\\' + name);
}

void FakeFolders::RenameFile(const std::u16string& folder, const std::u16string& from,
                             const std::u16string& to) {
  std::lock_guard<std::mutex> lock(Lock);
  if (TFile* file = FindFile(folder, from)) file->Entry.Name = to;
  SignalFolder(folder);
}

void FakeFolders::FailListing(bool fail) {
  std::lock_guard<std::mutex> lock(Lock);
  ListingFails = fail;
}

int FakeFolders::ArmedWatches() {
  std::lock_guard<std::mutex> lock(Lock);
  return static_cast<int>(Watches.size());
}

int FakeFolders::ThreadSetups() {
  std::lock_guard<std::mutex> lock(Lock);
  return Setups;
}

FakeFolders::TFile* FakeFolders::FindFile(const std::u16string& folder,
                                          const std::u16string& name) {
  const auto found = Folders.find(Resolve(folder));
  if (found == Folders.end()) return nullptr;
  for (TFile& file : found->second.Files) {
    if (file.Entry.Name == name) return &file;
  }
  return nullptr;
}

FakeFolders::TFolder& FakeFolders::MakeFolders(const std::u16string& named) {
  const std::u16string path = Resolve(named);
  const auto found = Folders.find(path);
  if (found != Folders.end()) return found->second;
  const std::u16string parent = ParentOf(path);
  if (!parent.empty() && parent != path) MakeFolders(parent);
  TFolder& made = Folders[path];
  made.Id = NextFolder++;
  SignalFolder(parent, true);
  return made;
}

void FakeFolders::SignalFolder(const std::u16string& folder, bool subfolder) {
  const auto found = Folders.find(Resolve(folder));
  if (found == Folders.end()) return;
  for (auto& [id, watch] : Watches) {
    if (watch.FolderId == found->second.Id && (subfolder || !watch.SubfolderNamesOnly)) {
      watch.Signal();
    }
  }
  // A watch of a whole tree hears every folder below its own.
  for (std::u16string above = ParentOf(found->first); !above.empty(); above = ParentOf(above)) {
    const auto outer = Folders.find(above);
    if (outer == Folders.end()) continue;
    for (auto& [id, watch] : Watches) {
      if (watch.Tree && watch.FolderId == outer->second.Id) watch.Signal();
    }
  }
}

// The root of a drive (C:\ and the like) has no parent.
std::u16string FakeFolders::ParentOf(const std::u16string& path) {
  const std::size_t cut = path.find_last_of(u'\\');
  if (cut == std::u16string::npos || cut + 1 == path.size()) return std::u16string();
  return path.substr(0, cut > 0 && path[cut - 1] == u':' ? cut + 1 : cut);
}

std::u16string FakeFolders::Resolve(std::u16string path) const {
  // A loop of links resolves to nothing that exists.
  for (int hops = 0; hops < 32; ++hops) {
    const auto link = std::find_if(Links.begin(), Links.end(),
                                   [&](const auto& entry) { return IsWithin(path, entry.first); });
    if (link == Links.end()) return path;
    path = link->second + path.substr(link->first.size());
  }
  return std::u16string();
}

bool FakeFolders::IsWithin(const std::u16string& path, const std::u16string& folder) {
  return path == folder ||
         (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
          path[folder.size()] == u'\\');
}

}  // namespace kw::fake
