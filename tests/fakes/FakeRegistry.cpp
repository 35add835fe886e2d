#include "tests/fakes/FakeRegistry.h"

#include <algorithm>
#include <cstring>

#include "tests/fakes/FakeRegistryText.h"

namespace kw::fake {

namespace {

constexpr std::uint32_t kKeyNotify = 0x10;

std::string Fold(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::u16string Fold(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return text;
}

std::u16string Widen(const std::string& text) { return FakeRegistryText::Widen(text); }

bool IsBelow(const std::string& id, const std::string& ancestor) {
  return id.size() > ancestor.size() && id.compare(0, ancestor.size(), ancestor) == 0 &&
         id[ancestor.size()] == '\\';
}

std::string ParentOf(const std::string& id) {
  return id.substr(0, id.rfind('\\'));
}

}  // namespace

class FakeRegistry::TKey : public IRegKey {
 public:
  TKey(FakeRegistry& owner, std::string id, std::uint64_t generation, std::uint64_t handle,
       std::uint32_t access)
      : Owner(owner), Id(std::move(id)), Generation(generation), Handle(handle), Access(access) {}
  ~TKey() override { Owner.DropWatches(Handle); }

  long EnumValue(std::uint32_t index, TRegValue& value) override {
    if (Owner.EnumHook) {
      if (const long failure = Owner.EnumHook(index)) return failure;
    }
    std::lock_guard<std::mutex> lock(Owner.Lock);
    ++Owner.EnumCount;
    TNode* node = Owner.Find(Id, Generation);
    if (!node) return kErrorKeyDeleted;
    if (index >= node->Values.size()) return kErrorNoMoreItems;
    const TValue& stored = node->Values[index];
    value.Name = stored.Name;
    value.Type = stored.Type;
    value.Text = stored.Text;
    return kErrorSuccess;
  }

  long EnumSubKey(std::uint32_t index, std::u16string& name) override {
    std::lock_guard<std::mutex> lock(Owner.Lock);
    if (!Owner.Find(Id, Generation)) return kErrorKeyDeleted;
    std::uint32_t at = 0;
    for (auto& [id, node] : Owner.Nodes) {
      if (!IsBelow(id, Id) || id.find('\\', Id.size() + 1) != std::string::npos) continue;
      if (at++ == index) {
        name = Widen(node.Name);
        return kErrorSuccess;
      }
    }
    return kErrorNoMoreItems;
  }

  std::unique_ptr<IRegKey> OpenSubKey(const std::u16string& name, std::uint32_t access) override {
    FakeRegistryText text;
    const auto hiveEnd = Id.find('\\');
    const HiveHandle hive = static_cast<HiveHandle>(std::stoul(Id.substr(0, hiveEnd)));
    std::string path = hiveEnd == std::string::npos ? "" : Id.substr(hiveEnd + 1) + '\\';
    return Owner.OpenKey(hive, path + text.ToAnsi(name), access);
  }

  long NotifyChange(bool watchSubTree, std::uint32_t filter, IEvent& event) override {
    if (!(Access & kKeyNotify)) return kErrorAccessDenied;
    auto signal = Owner.Sync.SignalerFor(event);
    std::lock_guard<std::mutex> lock(Owner.Lock);
    if (Owner.NotifyFailure) return Owner.NotifyFailure;
    TNode* node = Owner.Find(Id, Generation);
    if (!node) return kErrorKeyDeleted;
    node->Watches.push_back({Handle, watchSubTree, filter, std::move(signal)});
    return kErrorSuccess;
  }

  long DeleteValue(const std::u16string& name) override {
    if ((Access & kKeyAllAccess) != kKeyAllAccess) return kErrorAccessDenied;
    {
      std::lock_guard<std::mutex> lock(Owner.Lock);
      TNode* node = Owner.Find(Id, Generation);
      if (!node) return kErrorKeyDeleted;
      if (!node->Positions.count(Fold(name))) return kErrorFileNotFound;
    }
    const auto hiveEnd = Id.find('\\');
    const HiveHandle hive = static_cast<HiveHandle>(std::stoul(Id.substr(0, hiveEnd)));
    Owner.DeleteValue(hive, hiveEnd == std::string::npos ? "" : Id.substr(hiveEnd + 1), name);
    return kErrorSuccess;
  }

  long QueryValue(const std::u16string& name, TRegValue& value) override {
    std::lock_guard<std::mutex> lock(Owner.Lock);
    TNode* node = Owner.Find(Id, Generation);
    if (!node) return kErrorKeyDeleted;
    const auto found = node->Positions.find(Fold(name));
    if (found == node->Positions.end()) return kErrorFileNotFound;
    const TValue& stored = node->Values[found->second];
    value.Name = stored.Name;
    value.Type = stored.Type;
    value.Text = stored.Text;
    return kErrorSuccess;
  }

  long SetValue(const std::u16string& name, std::uint32_t type,
                const std::u16string& text) override {
    if ((Access & kKeyAllAccess) != kKeyAllAccess) return kErrorAccessDenied;
    {
      std::lock_guard<std::mutex> lock(Owner.Lock);
      if (Owner.SetFails) return kErrorAccessDenied;
      if (!Owner.Find(Id, Generation)) return kErrorKeyDeleted;
    }
    const auto hiveEnd = Id.find('\\');
    const HiveHandle hive = static_cast<HiveHandle>(std::stoul(Id.substr(0, hiveEnd)));
    Owner.SetValue(hive, hiveEnd == std::string::npos ? "" : Id.substr(hiveEnd + 1), name, type,
                   text);
    return kErrorSuccess;
  }

  long SetStringValue(const std::string& name, const std::string& data) override {
    if ((Access & kKeyAllAccess) != kKeyAllAccess) return kErrorAccessDenied;
    {
      std::lock_guard<std::mutex> lock(Owner.Lock);
      if (Owner.SetFails) return kErrorAccessDenied;
      if (!Owner.Find(Id, Generation)) return kErrorKeyDeleted;
    }
    const auto hiveEnd = Id.find('\\');
    const HiveHandle hive = static_cast<HiveHandle>(std::stoul(Id.substr(0, hiveEnd)));
    Owner.SetString(hive, hiveEnd == std::string::npos ? "" : Id.substr(hiveEnd + 1), name, data);
    return kErrorSuccess;
  }

 private:
  FakeRegistry& Owner;
  std::string Id;
  std::uint64_t Generation;
  std::uint64_t Handle;
  std::uint32_t Access;
};

std::unique_ptr<IRegKey> FakeRegistry::OpenKey(HiveHandle hive, const std::string& path,
                                               std::uint32_t access, long* error) {
  std::lock_guard<std::mutex> lock(Lock);
  Opened.push_back(access);
  if (error) *error = kErrorSuccess;
  const std::string id = NodeId(hive, path);
  if (std::find(Refused.begin(), Refused.end(), access) != Refused.end() ||
      std::find(RefusedKeys.begin(), RefusedKeys.end(), id) != RefusedKeys.end()) {
    if (error) *error = kErrorAccessDenied;
    return nullptr;
  }
  if (path.empty()) Ensure(id);  // a hive always exists
  auto it = Nodes.find(id);
  if (it == Nodes.end()) {
    if (error) *error = kErrorFileNotFound;
    return nullptr;
  }
  return std::make_unique<TKey>(*this, id, it->second.Generation, NextHandle++, access);
}

long FakeRegistry::CreateKey(HiveHandle hive, const std::string& path, std::uint32_t access) {
  std::lock_guard<std::mutex> lock(Lock);
  Opened.push_back(access);
  if (CreateFails) return kErrorAccessDenied;
  Ensure(NodeId(hive, path));
  return kErrorSuccess;
}

std::string FakeRegistry::ValueBytes(HiveHandle hive, const std::string& path,
                                     const std::string& name) {
  std::lock_guard<std::mutex> lock(Lock);
  auto node = Nodes.find(NodeId(hive, path));
  if (node == Nodes.end()) return {};
  auto at = node->second.Positions.find(Fold(Widen(name)));
  if (at == node->second.Positions.end()) return {};
  return FakeRegistryText().ToAnsi(node->second.Values[at->second].Text);
}

void FakeRegistry::CreateKey(HiveHandle hive, const std::string& path) {
  std::lock_guard<std::mutex> lock(Lock);
  Ensure(NodeId(hive, path));
}

void FakeRegistry::DeleteKey(HiveHandle hive, const std::string& path) {
  std::lock_guard<std::mutex> lock(Lock);
  const std::string id = NodeId(hive, path);
  // As the registry does: a deleted key's own watchers hear nothing; its
  // parent's, asking for name changes, hear of it.
  for (auto it = Nodes.begin(); it != Nodes.end();) {
    if (it->first == id || IsBelow(it->first, id)) {
      it = Nodes.erase(it);
    } else {
      ++it;
    }
  }
  Changed(ParentOf(id), kNotifyChangeName);
}

void FakeRegistry::SetValue(HiveHandle hive, const std::string& path, const std::u16string& name,
                            std::uint32_t type, const std::u16string& text) {
  std::lock_guard<std::mutex> lock(Lock);
  const std::string id = NodeId(hive, path);
  TNode& node = Ensure(id);
  auto [at, added] = node.Positions.emplace(Fold(name), node.Values.size());
  if (added) {
    node.Values.push_back({name, type, text});
  } else {
    node.Values[at->second].Type = type;
    node.Values[at->second].Text = text;
  }
  Changed(id, kNotifyChangeLastSet);
}

void FakeRegistry::SetString(HiveHandle hive, const std::string& path, const std::string& name,
                             const std::string& text, std::uint32_t type) {
  SetValue(hive, path, Widen(name), type, Widen(text) + u'\0');
}

void FakeRegistry::SetDword(HiveHandle hive, const std::string& path, const std::string& name) {
  SetValue(hive, path, Widen(name), kRegDword, u"");
}

void FakeRegistry::DeleteValue(HiveHandle hive, const std::string& path, const std::string& name) {
  DeleteValue(hive, path, Widen(name));
}

bool FakeRegistry::HasValue(HiveHandle hive, const std::string& path, const std::string& name) {
  return HasValue(hive, path, Widen(name));
}

void FakeRegistry::DeleteValue(HiveHandle hive, const std::string& path,
                               const std::u16string& name) {
  std::lock_guard<std::mutex> lock(Lock);
  const std::string id = NodeId(hive, path);
  auto node = Nodes.find(id);
  if (node == Nodes.end()) return;
  auto& positions = node->second.Positions;
  auto at = positions.find(Fold(name));
  if (at == positions.end()) return;
  auto& values = node->second.Values;
  values.erase(values.begin() + static_cast<std::ptrdiff_t>(at->second));
  positions.clear();
  for (std::size_t i = 0; i < values.size(); ++i) positions[Fold(values[i].Name)] = i;
  Changed(id, kNotifyChangeLastSet);
}

bool FakeRegistry::HasValue(HiveHandle hive, const std::string& path, const std::u16string& name) {
  std::lock_guard<std::mutex> lock(Lock);
  auto node = Nodes.find(NodeId(hive, path));
  if (node == Nodes.end()) return false;
  return node->second.Positions.count(Fold(name)) > 0;
}

std::vector<std::uint32_t> FakeRegistry::OpenedAccessRights() {
  std::lock_guard<std::mutex> lock(Lock);
  return Opened;
}

int FakeRegistry::EnumCalls() {
  std::lock_guard<std::mutex> lock(Lock);
  return EnumCount;
}

int FakeRegistry::ArmedWatches() {
  std::lock_guard<std::mutex> lock(Lock);
  int count = 0;
  for (auto& [id, node] : Nodes) count += static_cast<int>(node.Watches.size());
  return count;
}

std::string FakeRegistry::NodeId(HiveHandle hive, const std::string& path) {
  std::string id = std::to_string(hive);
  if (!path.empty()) id += '\\' + Fold(path);
  return id;
}

FakeRegistry::TNode& FakeRegistry::Ensure(const std::string& id) {
  auto it = Nodes.find(id);
  if (it != Nodes.end()) return it->second;
  if (id.find('\\') != std::string::npos) {
    const std::string parent = ParentOf(id);
    Ensure(parent);
    Changed(parent, kNotifyChangeName);
  }
  const std::size_t cut = id.rfind('\\');
  const std::string name = cut == std::string::npos ? std::string() : id.substr(cut + 1);
  return Nodes.emplace(id, TNode{NextGeneration++, name, {}, {}, {}}).first->second;
}

FakeRegistry::TNode* FakeRegistry::Find(const std::string& id, std::uint64_t generation) {
  auto it = Nodes.find(id);
  return it != Nodes.end() && it->second.Generation == generation ? &it->second : nullptr;
}

void FakeRegistry::Changed(const std::string& id, std::uint32_t kind) {
  // The key itself, then every ancestor that watches its subtree.
  for (std::string at = id;; at = ParentOf(at)) {
    auto node = Nodes.find(at);
    if (node != Nodes.end()) {
      auto& watches = node->second.Watches;
      for (auto it = watches.begin(); it != watches.end();) {
        const bool reaches = at == id || it->SubTree;
        if (reaches && (it->Filter & kind)) {
          it->Signal();  // one-shot: the watch is used up
          it = watches.erase(it);
        } else {
          ++it;
        }
      }
    }
    if (at.find('\\') == std::string::npos) break;
  }
}

void FakeRegistry::DropWatches(std::uint64_t owner) {
  std::lock_guard<std::mutex> lock(Lock);
  for (auto& [id, node] : Nodes) {
    auto& w = node.Watches;
    w.erase(std::remove_if(w.begin(), w.end(), [&](const TWatch& x) { return x.Owner == owner; }),
            w.end());
  }
}

}  // namespace kw::fake
