#include "ui/SwitchOff.h"

#include <algorithm>

#include "monitor/RegSnapshot.h"
#include "monitor/WatchedKeys.h"

namespace kw {

namespace {

constexpr std::uint32_t kAccess = kKeyAllAccess | kKeyWow64_64Key;

bool IsAscii(const std::u16string& text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

// Task Manager's form: a DWORD whose odd value means off, then the FILETIME
// it was switched off; as a value's Text, two bytes a unit.
std::u16string SwitchedOffData(std::uint64_t fileTime) {
  std::uint8_t bytes[12] = {3, 0, 0, 0};
  for (int i = 0; i < 8; ++i) bytes[4 + i] = static_cast<std::uint8_t>(fileTime >> (8 * i));
  std::u16string data;
  for (int i = 0; i < 12; i += 2) data += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
  return data;
}

}  // namespace

bool SwitchOf(const TChangeRecord& record, TSwitchTarget& target) {
  if (record.SwitchHive == 0 || record.SwitchKey.empty()) return false;
  // A switch's own record (its subkey is its switch's) is switched off again
  // once a program turned it on; an entry only while it is there.
  const bool isSwitch =
      record.Where == TLocationKind::RegistryKey && record.SwitchKey == record.IdentitySubKey;
  const bool there = record.Kind == TChangeKind::Added || record.Kind == TChangeKind::Changed;
  const bool applies = isSwitch ? !there || !SwitchesOff(record.NewText) : there;
  if (!applies) return false;
  target = {record.SwitchHive, record.SwitchKey, record.Identity};
  return true;
}

bool SwitchOff(IRegistry& registry, const TSwitchTarget& target, std::uint64_t fileTime) {
  // Windows' own subkeys have ASCII names and may not be there yet; any
  // other is opened by its exact name, never made.
  if (IsAscii(target.SubKey)) {
    const std::string path =
        std::string(kStartupApproved) + '\\' + std::string(target.SubKey.begin(), target.SubKey.end());
    registry.CreateKey(target.Hive, path, kAccess);
  }
  std::unique_ptr<IRegKey> switches = registry.OpenKey(target.Hive, kStartupApproved, kAccess);
  std::unique_ptr<IRegKey> key = switches ? switches->OpenSubKey(target.SubKey, kAccess) : nullptr;
  return key && key->SetValue(target.Name, kRegBinary, SwitchedOffData(fileTime)) == kErrorSuccess;
}

}  // namespace kw
