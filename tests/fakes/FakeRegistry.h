#pragma once
// An in-memory registry: keys found regardless of ASCII case, values in the
// order they were first written, and one-shot change signals that honour the
// watch-subtree flag and the notify filter. Thread-safe.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "tests/fakes/FakeSync.h"

namespace kw::fake {

class FakeRegistry : public IRegistry {
 public:
  explicit FakeRegistry(FakeSync& sync) : Sync(sync) {}

  std::unique_ptr<IRegKey> OpenKey(HiveHandle hive, const std::string& path,
                                   std::uint32_t access, long* error = nullptr) override;
  long CreateKey(HiveHandle hive, const std::string& path, std::uint32_t access) override;

  // The test side; paths without a leading backslash. Writing creates the
  // key. Names and text in code page 936 travel as FakeRegistryText says.
  void CreateKey(HiveHandle hive, const std::string& path);
  void DeleteKey(HiveHandle hive, const std::string& path);  // with its subkeys
  // A value of any type; `text` is the UTF-16 data of a text type, whole.
  void SetValue(HiveHandle hive, const std::string& path, const std::u16string& name,
                std::uint32_t type, const std::u16string& text);
  // REG_SZ (or another text type) data stored with its terminating NUL.
  void SetString(HiveHandle hive, const std::string& path, const std::string& name,
                 const std::string& text, std::uint32_t type = kRegSz);
  void SetDword(HiveHandle hive, const std::string& path, const std::string& name);
  void DeleteValue(HiveHandle hive, const std::string& path, const std::u16string& name);
  void DeleteValue(HiveHandle hive, const std::string& path, const std::string& name);
  bool HasValue(HiveHandle hive, const std::string& path, const std::u16string& name);
  bool HasValue(HiveHandle hive, const std::string& path, const std::string& name);
  // The data of a value in 936 with its NULs; empty when there is none.
  std::string ValueBytes(HiveHandle hive, const std::string& path, const std::string& name);

  // Fault injection.
  void RefuseAccess(std::uint32_t access) {
    std::lock_guard<std::mutex> l(Lock);
    Refused.push_back(access);
  }
  // Opening this key alone is refused, as its owner may deny it to itself.
  void RefuseOpening(HiveHandle hive, const std::string& path) {
    std::lock_guard<std::mutex> l(Lock);
    RefusedKeys.push_back(NodeId(hive, path));
  }
  void AllowAccess() {
    std::lock_guard<std::mutex> l(Lock);
    Refused.clear();
    RefusedKeys.clear();
  }
  // Arming fails with this error (0: it works), as for a key opened without the notify right.
  void FailNotify(long error) {
    std::lock_guard<std::mutex> l(Lock);
    NotifyFailure = error;
  }
  void FailCreateKey(bool fail) {
    std::lock_guard<std::mutex> l(Lock);
    CreateFails = fail;
  }
  void FailSetValue(bool fail) {
    std::lock_guard<std::mutex> l(Lock);
    SetFails = fail;
  }
  // Called (without the lock) before each enumeration step; a result other
  // than 0 is what the step then fails with.
  void OnEnumValue(std::function<long(std::uint32_t index)> hook) { EnumHook = std::move(hook); }

  // What the monitors asked for.
  std::vector<std::uint32_t> OpenedAccessRights();
  int EnumCalls();
  int ArmedWatches();

 private:
  struct TValue {
    std::u16string Name;
    std::uint32_t Type;
    std::u16string Text;
  };
  struct TWatch {
    std::uint64_t Owner;  // the key handle that armed it
    bool SubTree;
    std::uint32_t Filter;
    std::function<void()> Signal;
  };
  struct TNode {
    std::uint64_t Generation;
    std::string Name;  // the last part of its path, folded
    std::vector<TValue> Values;                    // in the order first written
    std::map<std::u16string, std::size_t> Positions;  // folded name to index in Values
    std::vector<TWatch> Watches;
  };
  class TKey;

  static std::string NodeId(HiveHandle hive, const std::string& path);
  TNode& Ensure(const std::string& id);  // Lock held
  TNode* Find(const std::string& id, std::uint64_t generation);
  void Changed(const std::string& id, std::uint32_t kind);  // Lock held
  void DropWatches(std::uint64_t owner);

  FakeSync& Sync;
  std::mutex Lock;
  std::map<std::string, TNode> Nodes;  // by folded "hive\path"
  std::uint64_t NextGeneration = 1;
  std::uint64_t NextHandle = 1;
  std::vector<std::uint32_t> Refused;
  std::vector<std::string> RefusedKeys;
  std::vector<std::uint32_t> Opened;
  bool CreateFails = false;
  long NotifyFailure = 0;
  bool SetFails = false;
  int EnumCount = 0;
  std::function<long(std::uint32_t)> EnumHook;
};

}  // namespace kw::fake
