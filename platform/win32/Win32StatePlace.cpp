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
constexpr wchar_t kRootSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr wchar_t kSecretSddl[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";

std::wstring UserSddl(const std::wstring& sid) {
  return std::wstring(kRootSddl) + L"(A;OICI;FRFX;;;" + sid + L")";
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

// A real folder (no link to elsewhere) that Administrators or SYSTEM own: a
// folder a program of the user made before the guard did is the user's, who
// could change its access at any time.
bool OwnedByAdministrators(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return false;
  }
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const TLocalMemory ownedDescriptor(descriptor);
  return owner && (::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                   ::IsWellKnownSid(owner, WinLocalSystemSid));
}

// Makes the folder with `sddl`, or checks the one there and sets its access
// back to `sddl`'s, whatever an earlier hand changed.
bool ProtectedFolder(const std::wstring& path, const std::wstring& sddl) {
  const TLocalMemory descriptor = DescriptorOf(sddl);
  if (!descriptor) return false;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  if (!::CreateDirectoryW(path.c_str(), &attributes) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return false;
  }
  if (!OwnedByAdministrators(path)) return false;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !present) {
    return false;
  }
  std::wstring name = path;  // the function's parameter is not const
  return ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                 nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
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
  switch (Files.ReadWhole(secretPath, secret)) {
    case TReadResult::Read:
      place.RanBefore = true;
      if (secret.size() == kSecretSize) place.Secret = std::move(secret);
      break;
    case TReadResult::Unreadable:
      place.RanBefore = true;
      break;
    case TReadResult::Missing:
      if (MakeSecret(std::wstring(secretPath.begin(), secretPath.end()), place.Protected,
                     place.Secret)) {
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
