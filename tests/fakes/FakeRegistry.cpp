#include "tests/fakes/FakeRegistry.h"

#include <algorithm>
#include <cstring>

namespace kw::fake {

namespace {

constexpr std::uint32_t kKeyNotify = 0x10;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorFileNotFound = 2;

std::string Fold(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

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

  bool QueryMaxDataLen(std::uint32_t& maxDataLen) override {
    std::lock_guard<std::mutex> lock(Owner.Lock);
    TNode* node = Owner.Find(Id, Generation);
    if (!node || Owner.QueryInfoFails) return false;
    maxDataLen = 0;
    for (const TValue& v : node->Values) {
      maxDataLen = std::max<std::uint32_t>(maxDataLen, static_cast<std::uint32_t>(v.Bytes.size()));
    }
    return true;
  }

  long EnumValue(std::uint32_t index, char* name, std::uint32_t& nameLen, std::uint32_t& type,
                 unsigned char* data, std::uint32_t& dataLen) override {
    if (Owner.EnumHook) {
      if (const long failure = Owner.EnumHook(index)) return failure;
    }
    std::lock_guard<std::mutex> lock(Owner.Lock);
    ++Owner.EnumCount;
    TNode* node = Owner.Find(Id, Generation);
    if (!node) return kErrorKeyDeleted;
    if (index >= node->Values.size()) return kErrorNoMoreItems;
    const TValue& value = node->Values[index];
    if (value.Name.size() >= nameLen) return kErrorMoreData;  // no room for the NUL
    std::memcpy(name, value.Name.c_str(), value.Name.size() + 1);
    nameLen = static_cast<std::uint32_t>(value.Name.size());
    type = value.Type;
    if (value.Bytes.size() > dataLen) {
      dataLen = static_cast<std::uint32_t>(value.Bytes.size());
      return kErrorMoreData;
    }
    std::memcpy(data, value.Bytes.data(), value.Bytes.size());
    dataLen = static_cast<std::uint32_t>(value.Bytes.size());
    return kErrorSuccess;
  }

  long NotifyChange(bool watchSubTree, std::uint32_t filter, IEvent& event) override {
    if (!(Access & kKeyNotify)) return kErrorAccessDenied;
    auto signal = Owner.Sync.SignalerFor(event);
    std::lock_guard<std::mutex> lock(Owner.Lock);
    TNode* node = Owner.Find(Id, Generation);
    if (!node) return kErrorKeyDeleted;
    node->Watches.push_back({Handle, watchSubTree, filter, std::move(signal)});
    return kErrorSuccess;
  }

  long DeleteValue(const std::string& name) override {
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
                                               std::uint32_t access) {
  std::lock_guard<std::mutex> lock(Lock);
  Opened.push_back(access);
  if (std::find(Refused.begin(), Refused.end(), access) != Refused.end()) return nullptr;
  const std::string id = NodeId(hive, path);
  auto it = Nodes.find(id);
  if (it == Nodes.end()) return nullptr;
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
  auto at = node->second.Positions.find(Fold(name));
  return at == node->second.Positions.end() ? std::string() : node->second.Values[at->second].Bytes;
}

void FakeRegistry::CreateKey(HiveHandle hive, const std::string& path) {
  std::lock_guard<std::mutex> lock(Lock);
  Ensure(NodeId(hive, path));
}

void FakeRegistry::DeleteKey(HiveHandle hive, const std::string& path) {
  std::lock_guard<std::mutex> lock(Lock);
  const std::string id = NodeId(hive, path);
  // Deleting a watched key signals its watchers, and those of its ancestors.
  for (auto it = Nodes.begin(); it != Nodes.end();) {
    if (it->first == id || IsBelow(it->first, id)) {
      for (TWatch& watch : it->second.Watches) watch.Signal();
      it = Nodes.erase(it);
    } else {
      ++it;
    }
  }
  Changed(ParentOf(id), kNotifyChangeName);
}

void FakeRegistry::SetValue(HiveHandle hive, const std::string& path, const std::string& name,
                            std::uint32_t type, const std::string& bytes) {
  std::lock_guard<std::mutex> lock(Lock);
  const std::string id = NodeId(hive, path);
  TNode& node = Ensure(id);
  auto [at, added] = node.Positions.emplace(Fold(name), node.Values.size());
  if (added) {
    node.Values.push_back({name, type, bytes});
  } else {
    node.Values[at->second].Type = type;
    node.Values[at->second].Bytes = bytes;
  }
  Changed(id, kNotifyChangeLastSet);
}

void FakeRegistry::SetString(HiveHandle hive, const std::string& path, const std::string& name,
                             const std::string& text) {
  SetValue(hive, path, name, kRegSz, text + '\0');
}

void FakeRegistry::DeleteValue(HiveHandle hive, const std::string& path, const std::string& name) {
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

bool FakeRegistry::HasValue(HiveHandle hive, const std::string& path, const std::string& name) {
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
  return Nodes.emplace(id, TNode{NextGeneration++, {}, {}, {}}).first->second;
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
