#include <windows.h>
// After <windows.h>, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <string>

#include "platform/win32/Handles.h"
#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32Paths.h"
#include "toolkit/win32/Text.h"

namespace kw::win32 {

namespace {

struct TLocalFree {
  void operator()(void* memory) const { ::LocalFree(memory); }
};

std::string SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!sid || !::ConvertSidToStringSidW(sid, &text)) return {};
  const std::unique_ptr<wchar_t, TLocalFree> owned(text);
  return ToAnsi(text);
}

// An allowing entry of any kind. An object entry may place its SID after
// object type GUIDs; such an entry names no SID here, and so is nobody the
// checks trust.
bool ReadAllowEntry(const void* ace, TAllowEntry& entry) {
  const auto* header = static_cast<const ACE_HEADER*>(ace);
  entry.InheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
  switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
      const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
      entry.Mask = allowed->Mask;
      entry.Sid = SidText(const_cast<DWORD*>(&allowed->SidStart));
      return true;
    }
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
      entry.Mask = static_cast<const ACCESS_ALLOWED_OBJECT_ACE*>(ace)->Mask;
      return true;
    default:
      return false;  // denying, auditing, labels
  }
}

}  // namespace

TFileSecurity TWin32System::Security(const std::string& path) {
  TFileSecurity security;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(ToWide(path).c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return security;
  }
  const std::unique_ptr<void, TLocalFree> ownedDescriptor(descriptor);
  security.Owner = SidText(owner);
  security.HasDacl = dacl != nullptr;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace)) return TFileSecurity{};
    TAllowEntry entry;
    if (ReadAllowEntry(ace, entry)) security.Allowed.push_back(entry);
  }
  security.Known = !security.Owner.empty();
  return security;
}

std::string TWin32System::FinalPath(const std::string& path) {
  // Opened for nothing but its name; shared, so the user can still do anything with it.
  const HANDLE opened = ::CreateFileW(ToWide(path).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return {};
  const TKernelHandle object(opened);
  return ToAnsi(FinalPathOf(object.Get()));
}

bool TWin32System::IsNetworkDrive(const std::string& root) {
  return ::GetDriveTypeW(ToWide(root).c_str()) == DRIVE_REMOTE;
}

std::string TWin32System::AccountName(const std::string& sid) {
  PSID binary = nullptr;
  if (!::ConvertStringSidToSidW(ToWide(sid).c_str(), &binary)) return sid;
  const std::unique_ptr<void, TLocalFree> owned(binary);
  wchar_t name[256], domain[256];
  DWORD nameSize = 256, domainSize = 256;
  SID_NAME_USE use;
  if (!::LookupAccountSidW(nullptr, binary, name, &nameSize, domain, &domainSize, &use)) {
    return sid;
  }
  return ToAnsi(std::wstring_view(name, nameSize));
}

}  // namespace kw::win32
