#include <windows.h>

#include "platform/win32/Win32Registry.h"

#include "platform/win32/Handles.h"
#include "platform/win32/Win32Sync.h"

namespace kw::win32 {

namespace {

class TWin32Key : public IRegKey {
 public:
  explicit TWin32Key(TKeyHandle key) : Key(std::move(key)) {}

  bool QueryMaxDataLen(std::uint32_t& maxDataLen) override {
    DWORD maxData = 0;
    const LONG result = ::RegQueryInfoKeyA(Key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, nullptr, &maxData, nullptr, nullptr);
    maxDataLen = maxData;
    return result == ERROR_SUCCESS;
  }

  long EnumValue(std::uint32_t index, char* name, std::uint32_t& nameLen, std::uint32_t& type,
                 unsigned char* data, std::uint32_t& dataLen) override {
    DWORD nameSize = nameLen, valueType = 0, dataSize = dataLen;
    const LONG result =
        ::RegEnumValueA(Key.Get(), index, name, &nameSize, nullptr, &valueType, data, &dataSize);
    nameLen = nameSize;
    type = valueType;
    dataLen = dataSize;
    return result;
  }

  long NotifyChange(bool watchSubTree, std::uint32_t filter, IEvent& event) override {
    auto* win32Event = dynamic_cast<TWin32Event*>(&event);
    if (!win32Event) return ERROR_INVALID_HANDLE;
    return ::RegNotifyChangeKeyValue(Key.Get(), watchSubTree, filter, win32Event->Native(), TRUE);
  }

  long DeleteValue(const std::string& name) override {
    return ::RegDeleteValueA(Key.Get(), name.c_str());
  }

  long SetStringValue(const std::string& name, const std::string& data) override {
    return ::RegSetValueExA(Key.Get(), name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>(data.size() + 1));
  }

 private:
  TKeyHandle Key;
};

}  // namespace

HKEY HiveKey(HiveHandle hive) {
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(hive)));
}

std::unique_ptr<IRegKey> TWin32Registry::OpenKey(HiveHandle hive, const std::string& path,
                                                 std::uint32_t access) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HiveKey(hive), path.c_str(), 0, access, &key) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<TWin32Key>(TKeyHandle(key));
}

long TWin32Registry::CreateKey(HiveHandle hive, const std::string& path, std::uint32_t access) {
  HKEY key = nullptr;
  const LONG result =
      ::RegCreateKeyExA(HiveKey(hive), path.c_str(), 0, nullptr, 0, access, nullptr, &key, nullptr);
  TKeyHandle owned(result == ERROR_SUCCESS ? key : nullptr);
  return result;
}

}  // namespace kw::win32
