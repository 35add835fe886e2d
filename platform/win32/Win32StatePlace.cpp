#include <windows.h>
// After <windows.h>, which they need.
#include <aclapi.h>
#include <bcrypt.h>
#include <knownfolders.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>

#include "platform/win32/Win32StatePlace.h"

#include <memory>
#include <string>

#include "platform/win32/Handles.h"
#include "platform/win32/Win32LogonTask.h"
#include "toolkit/win32/Text.h"

namespace kw::win32 {

namespace {

// Owned by Administrators; full control for SYSTEM and Administrators only,
// nothing inherited from above. The user's own folder adds reading for the
// user; the secret, which keys the checksums, stays unreadable to the user.
// The owner-rights entry takes from whoever owns a file the implicit right
// to change its access: a folder a program of the user made before the
// guard did is taken over, and its maker keeps no way back in.
constexpr wchar_t kRootSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;OW)";
constexpr wchar_t kSecretSddl[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;OW)";

std::wstring UserSddl(const std::wstring& sid) {
  // Folders only (container inherit): a file the user could open could be
  // held open without sharing, and no save would replace it again.
  return std::wstring(kRootSddl) + L"(A;CI;FRFX;;;" + sid + L")";
}

struct TLocalFree {
  void operator()(void* memory) const { ::LocalFree(memory); }
};
using TLocalMemory = std::unique_ptr<void, TLocalFree>;

TLocalMemory DescriptorOf(const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
    return nullptr;
  }
  return TLocalMemory(descriptor);
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  std::wstring result;
  if (SUCCEEDED(::SHGetKnownFolderPath(id, 0, nullptr, &path))) result = path;
  ::CoTaskMemFree(path);
  return result;
}

std::u16string U16(const std::wstring& text) {
  return std::u16string(text.begin(), text.end());
}

// The rights to give a file an owner other than oneself, whatever its access
// says; an elevated administrator holds them, a user does not.
void EnableOwnerPrivileges() {
  HANDLE opened = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &opened)) {
    return;
  }
  const TKernelHandle token(opened);
  for (const wchar_t* name : {SE_TAKE_OWNERSHIP_NAME, SE_RESTORE_NAME}) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (::LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) {
      ::AdjustTokenPrivileges(opened, FALSE, &privileges, 0, nullptr, nullptr);
    }
  }
}

// Gives `path` the owner and the access of `sddl`, whatever they were.
bool SetSecurity(const std::wstring& path, const std::wstring& sddl) {
  const TLocalMemory descriptor = DescriptorOf(sddl);
  if (!descriptor) return false;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  PSID owner = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !present ||
      !::GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted) || !owner) {
    return false;
  }
  std::wstring name = path;  // the function's parameter is not const
  return ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                 OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                     PROTECTED_DACL_SECURITY_INFORMATION,
                                 owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

// Makes the folder with `sddl`, or gives the one there `sddl`'s owner and
// access back, whoever made it and whatever an earlier hand changed. A link
// to elsewhere is never followed.
bool ProtectedFolder(const std::wstring& path, const std::wstring& sddl) {
  const TLocalMemory descriptor = DescriptorOf(sddl);
  if (!descriptor) return false;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  if (!::CreateDirectoryW(path.c_str(), &attributes) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return false;
  }
  const DWORD found = ::GetFileAttributesW(path.c_str());
  if (found == INVALID_FILE_ATTRIBUTES || !(found & FILE_ATTRIBUTE_DIRECTORY) ||
      (found & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return false;
  }
  return SetSecurity(path, sddl);
}

// A new secret, written only where no file is: two starts never make two.
bool MakeSecret(const std::wstring& path, bool protect, std::string& secret) {
  std::string bytes(TWin32StatePlace::kSecretSize, '\0');
  if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(bytes.data()),
                                        static_cast<ULONG>(bytes.size()),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return false;
  }
  const TLocalMemory descriptor = protect ? DescriptorOf(kSecretSddl) : nullptr;
  if (protect && !descriptor) return false;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  const HANDLE made = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, protect ? &attributes : nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (made == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool whole =
      ::WriteFile(made, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size() && ::FlushFileBuffers(made);
  const bool closed = ::CloseHandle(made);
  if (!whole || !closed) {
    ::DeleteFileW(path.c_str());
    return false;
  }
  secret = std::move(bytes);
  return true;
}

}  // namespace

TStatePlace TWin32StatePlace::Open() {
  TStatePlace place;
  std::wstring sid;
  try {
    sid = ToWide(CurrentUserSid());
  } catch (const std::exception&) {
    sid.clear();  // whose the folder would be is unknown: the user's own stands in
  }
  const std::wstring programData = KnownFolder(FOLDERID_ProgramData);
  const std::wstring root = programData + L"\\Keywarden";
  const std::wstring own = root + L"\\" + sid;
  EnableOwnerPrivileges();
  if (!sid.empty() && !programData.empty() && ProtectedFolder(root, kRootSddl) &&
      ProtectedFolder(own, UserSddl(sid))) {
    place.Folder = U16(own);
    place.Protected = true;
  } else {
    const std::wstring local = KnownFolder(FOLDERID_LocalAppData) + L"\\Keywarden";
    ::CreateDirectoryW(local.c_str(), nullptr);
    place.Folder = U16(local);
  }
  const std::u16string secretPath = place.Folder + u"\\Keywarden.key";
  std::string secret;
  const std::wstring secretFile(secretPath.begin(), secretPath.end());
  switch (Files.ReadWhole(secretPath, secret)) {
    case TReadResult::Read:
      place.RanBefore = true;
      if (secret.size() == kSecretSize) place.Secret = std::move(secret);
      // Kept from the user's programs, whoever made it.
      if (place.Protected && !SetSecurity(secretFile, kSecretSddl)) place.Protected = false;
      break;
    case TReadResult::Unreadable:
      place.RanBefore = true;
      break;
    case TReadResult::Missing:
      if (MakeSecret(secretFile, place.Protected, place.Secret)) {
        break;
      }
      // Made by another start a moment ago?
      if (Files.ReadWhole(secretPath, secret) == TReadResult::Read &&
          secret.size() == kSecretSize) {
        place.Secret = std::move(secret);
      }
      break;
  }
  return place;
}

}  // namespace kw::win32
