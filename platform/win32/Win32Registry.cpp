#include <windows.h>

#include "platform/win32/Win32Registry.h"

#include <algorithm>
#include <vector>

#include "platform/win32/Handles.h"
#include "platform/win32/Win32Sync.h"
#include "toolkit/win32/Text.h"

namespace kw::win32 {

namespace {

constexpr DWORD kLongestValueName = 16383;  // characters, without the NUL
constexpr DWORD kLongestKeyName = 255;

bool IsText(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The Win32 calls take names up to their first NUL; a name that holds one
// (the native calls can make it) would lead them to another value or key.
// Such a name is never acted on by a shorter one.
bool Reachable(const std::u16string& name) {
  return name.find(u'\0') == std::u16string::npos;
}

// What a value's Text carries: text, and the data of switches and flags.
bool IsRead(DWORD type) {
  return IsText(type) || type == REG_BINARY || type == REG_DWORD;
}

std::u16string U16(const wchar_t* text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

// Values are read wide and handed over whole: names of any length the
// registry allows, and text data in UTF-16 units as stored.
class TWin32Key : public IRegKey {
 public:
  explicit TWin32Key(TKeyHandle key) : Key(std::move(key)), WideName(kLongestValueName + 1) {}

  long EnumValue(std::uint32_t index, TRegValue& value) override {
    DWORD type = 0;
    const LONG result = EnumWide(index, type);
    if (result != ERROR_SUCCESS) return result;
    value.Name = U16(WideName.data(), WideNameLen);
    value.Type = type;
    value.Text.clear();
    if (IsRead(type)) {
      value.Text = U16(reinterpret_cast<const wchar_t*>(WideData.data()), WideDataLen / 2);
      // An odd last byte is data too: a change of it alone is still a change.
      if (WideDataLen % 2 != 0) value.Text.push_back(WideData[WideDataLen - 1]);
    }
    return ERROR_SUCCESS;
  }

  long EnumSubKey(std::uint32_t index, std::u16string& name) override {
    wchar_t buffer[kLongestKeyName + 1];
    DWORD length = kLongestKeyName + 1;
    const LONG result =
        ::RegEnumKeyExW(Key.Get(), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_SUCCESS) name = U16(buffer, length);
    return result;
  }

  std::unique_ptr<IRegKey> OpenSubKey(const std::u16string& name, std::uint32_t access) override {
    HKEY key = nullptr;
    if (!Reachable(name) ||
        ::RegOpenKeyExW(Key.Get(), Wide(name).c_str(), 0, access, &key) != ERROR_SUCCESS) {
      return nullptr;
    }
    return std::make_unique<TWin32Key>(TKeyHandle(key));
  }

  long NotifyChange(bool watchSubTree, std::uint32_t filter, IEvent& event) override {
    auto* win32Event = dynamic_cast<TWin32Event*>(&event);
    if (!win32Event) return ERROR_INVALID_HANDLE;
    return ::RegNotifyChangeKeyValue(Key.Get(), watchSubTree, filter, win32Event->Native(), TRUE);
  }

  long QueryValue(const std::u16string& name, TRegValue& value) override {
    if (!Reachable(name)) return ERROR_INVALID_PARAMETER;
    const std::wstring wide = Wide(name);
    std::vector<BYTE> data(256);
    for (;;) {
      DWORD type = 0;
      DWORD size = static_cast<DWORD>(data.size());
      const LONG result =
          ::RegQueryValueExW(Key.Get(), wide.c_str(), nullptr, &type, data.data(), &size);
      if (result == ERROR_MORE_DATA) {
        data.resize(std::max<std::size_t>(size, data.size() * 2));
        continue;
      }
      if (result != ERROR_SUCCESS) return result;
      value.Name = name;
      value.Type = type;
      value.Text.clear();
      if (IsRead(type)) {
        value.Text = U16(reinterpret_cast<const wchar_t*>(data.data()), size / 2);
        if (size % 2 != 0) value.Text.push_back(data[size - 1]);
      }
      return ERROR_SUCCESS;
    }
  }

  long DeleteValue(const std::u16string& name) override {
    if (!Reachable(name)) return ERROR_INVALID_PARAMETER;
    return ::RegDeleteValueW(Key.Get(), Wide(name).c_str());
  }

  long SetValue(const std::u16string& name, std::uint32_t type,
                const std::u16string& text) override {
    if (!Reachable(name)) return ERROR_INVALID_PARAMETER;
    const std::wstring data = Wide(text);
    return ::RegSetValueExW(Key.Get(), Wide(name).c_str(), 0, type,
                            reinterpret_cast<const BYTE*>(data.data()),
                            static_cast<DWORD>(data.size() * sizeof(wchar_t)));
  }

  long SetStringValue(const std::string& name, const std::string& data) override {
    const std::wstring wide = ToWide(data);
    return ::RegSetValueExW(Key.Get(), ToWide(name).c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(wide.c_str()),
                            static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
  }

 private:
  // Reads value `index` into WideName and WideData, growing the data buffer
  // as long as the value keeps growing under the reader.
  LONG EnumWide(std::uint32_t index, DWORD& type) {
    if (WideData.empty()) WideData.resize(256);
    for (;;) {
      DWORD nameSize = static_cast<DWORD>(WideName.size());
      DWORD dataSize = static_cast<DWORD>(WideData.size());
      const LONG result = ::RegEnumValueW(Key.Get(), index, WideName.data(), &nameSize, nullptr,
                                          &type, WideData.data(), &dataSize);
      if (result == ERROR_MORE_DATA && dataSize > WideData.size()) {
        WideData.resize(dataSize);  // throws std::bad_alloc for a value beyond memory
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
                                                 std::uint32_t access, long* error) {
  HKEY key = nullptr;
  const LONG result = ::RegOpenKeyExW(HiveKey(hive), ToWide(path).c_str(), 0, access, &key);
  if (error) *error = result;
  if (result != ERROR_SUCCESS) return nullptr;
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
