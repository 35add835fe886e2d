#include <windows.h>

#include "platform/win32/Win32Registry.h"

#include <cstring>
#include <vector>

#include "platform/win32/Handles.h"
#include "platform/win32/Win32Sync.h"
#include "toolkit/win32/Text.h"

namespace kw::win32 {

namespace {

constexpr DWORD kLongestValueName = 16383;  // characters, without the NUL

bool IsText(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Values are read wide and handed over in code page 936, as RegEnumValueA
// gives them on a Chinese system: a name that does not fit the caller's
// buffer in 936 bytes with its NUL, or data that does not fit in 936 bytes,
// is ERROR_MORE_DATA.
class TWin32Key : public IRegKey {
 public:
  explicit TWin32Key(TKeyHandle key) : Key(std::move(key)), WideName(kLongestValueName + 1) {}

  bool QueryMaxDataLen(std::uint32_t& maxDataLen) override {
    DWORD maxData = 0;
    const LONG result = ::RegQueryInfoKeyW(Key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, nullptr, &maxData, nullptr, nullptr);
    // The wide size bounds the 936 size: no character takes more bytes in 936.
    maxDataLen = maxData;
    return result == ERROR_SUCCESS;
  }

  long EnumValue(std::uint32_t index, char* name, std::uint32_t& nameLen, std::uint32_t& type,
                 unsigned char* data, std::uint32_t& dataLen) override {
    DWORD valueType = 0;
    LONG result = EnumWide(index, valueType, dataLen);
    type = valueType;
    if (result != ERROR_SUCCESS) return result;
    const std::string ansiName = ToAnsi(std::wstring_view(WideName.data(), WideNameLen));
    if (ansiName.size() + 1 > nameLen) return ERROR_MORE_DATA;
    std::memcpy(name, ansiName.c_str(), ansiName.size() + 1);
    nameLen = static_cast<std::uint32_t>(ansiName.size());

    std::string ansiData;
    if (IsText(valueType)) {
      ansiData = ToAnsi(std::wstring_view(reinterpret_cast<const wchar_t*>(WideData.data()),
                                          WideDataLen / sizeof(wchar_t)));
    } else {
      ansiData.assign(reinterpret_cast<const char*>(WideData.data()), WideDataLen);
    }
    const std::uint32_t room = dataLen;
    dataLen = static_cast<std::uint32_t>(ansiData.size());
    if (ansiData.size() > room) return ERROR_MORE_DATA;
    if (data) std::memcpy(data, ansiData.data(), ansiData.size());
    return ERROR_SUCCESS;
  }

  long NotifyChange(bool watchSubTree, std::uint32_t filter, IEvent& event) override {
    auto* win32Event = dynamic_cast<TWin32Event*>(&event);
    if (!win32Event) return ERROR_INVALID_HANDLE;
    return ::RegNotifyChangeKeyValue(Key.Get(), watchSubTree, filter, win32Event->Native(), TRUE);
  }

  long DeleteValue(const std::string& name) override {
    return ::RegDeleteValueW(Key.Get(), ToWide(name).c_str());
  }

  long SetStringValue(const std::string& name, const std::string& data) override {
    const std::wstring wide = ToWide(data);
    return ::RegSetValueExW(Key.Get(), ToWide(name).c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(wide.c_str()),
                            static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
  }

 private:
  // Reads value `index` into WideName and WideData, growing the data buffer
  // when the value grew since the caller sized it.
  LONG EnumWide(std::uint32_t index, DWORD& type, std::uint32_t dataRoom) {
    if (WideData.size() < dataRoom + sizeof(wchar_t)) WideData.resize(dataRoom + sizeof(wchar_t));
    for (int attempt = 0;; ++attempt) {
      DWORD nameSize = static_cast<DWORD>(WideName.size());
      DWORD dataSize = static_cast<DWORD>(WideData.size());
      const LONG result = ::RegEnumValueW(Key.Get(), index, WideName.data(), &nameSize, nullptr,
                                          &type, WideData.data(), &dataSize);
      if (result == ERROR_MORE_DATA && attempt < 2 && dataSize > WideData.size()) {
        WideData.resize(dataSize);
        continue;
      }
      WideNameLen = nameSize;
      WideDataLen = dataSize;
      return result;
    }
  }

  TKeyHandle Key;
  std::vector<wchar_t> WideName;
  std::vector<BYTE> WideData;
  DWORD WideNameLen = 0, WideDataLen = 0;
};

}  // namespace

HKEY HiveKey(HiveHandle hive) {
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(hive)));
}

std::unique_ptr<IRegKey> TWin32Registry::OpenKey(HiveHandle hive, const std::string& path,
                                                 std::uint32_t access) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HiveKey(hive), ToWide(path).c_str(), 0, access, &key) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<TWin32Key>(TKeyHandle(key));
}

long TWin32Registry::CreateKey(HiveHandle hive, const std::string& path, std::uint32_t access) {
  HKEY key = nullptr;
  const LONG result = ::RegCreateKeyExW(HiveKey(hive), ToWide(path).c_str(), 0, nullptr, 0, access,
                                        nullptr, &key, nullptr);
  TKeyHandle owned(result == ERROR_SUCCESS ? key : nullptr);
  return result;
}

}  // namespace kw::win32
