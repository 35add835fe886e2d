#include <windows.h>
// After <windows.h>, which they need.
#include <aclapi.h>
#include <knownfolders.h>
// RtlGenRandom, advapi32's SystemFunction036.
#include <ntsecapi.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>

#include "platform/win32/Win32StatePlace.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/Handles.h"
#include "platform/win32/Win32LogonTask.h"
#include "toolkit/win32/Text.h"

namespace kw::win32 {

namespace {

// Owned by Administrators; full control for SYSTEM and Administrators only,
// nothing inherited from above. The user's own folder adds reading for the
// user; the secret, which keys the checksums, stays unreadable to the user.
// The owner-rights entry takes from the owner the implicit right to change
// a file's access.
constexpr wchar_t kRootSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;OW)";
constexpr wchar_t kSecretSddl[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;OW)";

// Where the guard notes which folder it made as the root: a key only
// administrators can write, in the one view both builds share.
constexpr wchar_t kNoteKey[] = L"SOFTWARE\\Keywarden";
constexpr wchar_t kNoteValue[] = L"StateRoot";
// The root's name in the program data folder: "Keywarden", or, where a
// program of a user took that name first and keeps it, one drawn at random.
constexpr wchar_t kNoteName[] = L"StateRootName";
constexpr wchar_t kRootName[] = L"Keywarden";
constexpr std::size_t kDrawnBytes = 8;

// How often a folder found in the way is set aside, and a name to set it
// aside under is drawn, at most: a program that makes a new folder each
// time keeps the guard from the place, but never has it use one of its own.
constexpr int kFolderAttempts = 4;

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

TKernelHandle Owned(HANDLE opened) {
  return TKernelHandle(opened == INVALID_HANDLE_VALUE ? nullptr : opened);
}

// The rights to give a file an owner other than oneself and to change its
// access, whatever that says; an elevated administrator holds them, a user
// does not. True when both are held.
bool EnableOwnerPrivileges() {
  HANDLE opened = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &opened)) {
    return false;
  }
  const TKernelHandle token(opened);
  bool all = true;
  for (const wchar_t* name : {SE_TAKE_OWNERSHIP_NAME, SE_RESTORE_NAME}) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    all = all && ::LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid) &&
          ::AdjustTokenPrivileges(opened, FALSE, &privileges, 0, nullptr, nullptr) &&
          ::GetLastError() == ERROR_SUCCESS;  // not ERROR_NOT_ALL_ASSIGNED
  }
  return all;
}

// Gives the open file or folder the owner and the access of `descriptor`,
// whatever they were. Through the handle: what is changed is what was checked.
bool Protect(HANDLE object, PSECURITY_DESCRIPTOR descriptor) {
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  PSID owner = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present ||
      !::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner) {
    return false;
  }
  return ::SetSecurityInfo(object, SE_FILE_OBJECT,
                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                               PROTECTED_DACL_SECURITY_INFORMATION,
                           owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

// The folder or file itself, never what a link there leads to. Shared with
// every other opener: the guard's own look keeps nobody out.
TKernelHandle OpenAsItself(const std::wstring& path, DWORD access) {
  return Owned(::CreateFileW(
      path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool IsPlainFolder(HANDLE folder) {
  BY_HANDLE_FILE_INFORMATION info{};
  return ::GetFileInformationByHandle(folder, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Which file of which volume the handle holds, as long as both exist.
std::string IdentityOf(HANDLE object) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(object, &info)) return {};
  const DWORD parts[] = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return std::string(reinterpret_cast<const char*>(parts), sizeof parts);
}

void NoteAsMade(HANDLE folder, const std::wstring& name) {
  const std::string identity = IdentityOf(folder);
  HKEY opened = nullptr;
  if (identity.empty() || ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kNoteKey, 0, nullptr, 0,
                                            KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &opened,
                                            nullptr) != ERROR_SUCCESS) {
    return;
  }
  const TKeyHandle key(opened);
  ::RegSetValueExW(opened, kNoteValue, 0, REG_BINARY,
                   reinterpret_cast<const BYTE*>(identity.data()),
                   static_cast<DWORD>(identity.size()));
  ::RegSetValueExW(opened, kNoteName, 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                   static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
}

// "Keywarden", or "Keywarden." and the drawn hexadecimal digits: no other
// name is taken from the note, so that no path leads out of the folder.
bool IsRootName(const std::wstring& name) {
  const std::wstring drawn = std::wstring(kRootName) + L".";
  if (name == kRootName) return true;
  return name.size() == drawn.size() + 2 * kDrawnBytes && name.compare(0, drawn.size(), drawn) == 0 &&
         std::all_of(name.begin() + static_cast<std::ptrdiff_t>(drawn.size()), name.end(),
                     [](wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'); });
}

// The name of the root the guard noted it made; "Keywarden" when none is noted.
std::wstring NotedRootName() {
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNoteKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                      &opened) != ERROR_SUCCESS) {
    return kRootName;
  }
  const TKeyHandle key(opened);
  wchar_t name[64] = {};
  DWORD type = 0;
  DWORD size = sizeof name - sizeof(wchar_t);  // the last unit stays its end
  if (::RegQueryValueExW(opened, kNoteName, nullptr, &type, reinterpret_cast<BYTE*>(name), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ || !IsRootName(name)) {
    return kRootName;
  }
  return name;
}

bool NotedAsMade(HANDLE folder) {
  const std::string identity = IdentityOf(folder);
  HKEY opened = nullptr;
  if (identity.empty() ||
      ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNoteKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                      &opened) != ERROR_SUCCESS) {
    return false;
  }
  const TKeyHandle key(opened);
  std::string noted(identity.size() + 1, '\0');  // one more: a longer note shows
  DWORD type = 0;
  DWORD size = static_cast<DWORD>(noted.size());
  return ::RegQueryValueExW(opened, kNoteValue, nullptr, &type,
                            reinterpret_cast<BYTE*>(noted.data()), &size) == ERROR_SUCCESS &&
         type == REG_BINARY && noted.substr(0, size) == identity;
}

bool IsAdministratorsOrSystem(PSID sid) {
  return ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
         ::IsWellKnownSid(sid, WinLocalSystemSid);
}

// Whether the entry lets someone other than Administrators and SYSTEM change
// the folder, its access, or anything in it, now or in what it passes on.
// An allowing entry whose SID is not where a plain one keeps it counts as
// anyone's.
bool LetsOthersChange(const ACE_HEADER* header) {
  constexpr ACCESS_MASK kChanging = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                    FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                    WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;
  switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
      const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
      return (allowed->Mask & kChanging) &&
             !IsAdministratorsOrSystem(const_cast<DWORD*>(&allowed->SidStart));
    }
    case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
      return (reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->Mask & kChanging) != 0;
    default:
      return false;  // denying, auditing, labels
  }
}

// What Windows says of a folder only the elevated guard (or another
// administrator) made or took: owned by Administrators or SYSTEM, and
// nobody else may change it. A user cannot give a folder such an owner.
bool OnlyAdministratorsCanChange(HANDLE folder) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(folder, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const TLocalMemory owned(descriptor);
  if (!owner || !IsAdministratorsOrSystem(owner) || !dacl) return false;  // no DACL: anyone
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace) || LetsOthersChange(static_cast<const ACE_HEADER*>(ace))) {
      return false;
    }
  }
  return true;
}

// The root may be kept when the guard noted it as the one it made, or when
// its owner and access say that only administrators made or took it. (Wine
// gives every file the current user as owner: there only the note tells.)
bool MayKeepRoot(HANDLE folder) {
  return NotedAsMade(folder) || OnlyAdministratorsCanChange(folder);
}

// Only administrators can make a folder in the root.
bool MayKeepInRoot(HANDLE) {
  return true;
}

// The system's random bytes, as the CRT's rand_s takes them: BCrypt would
// bring a crypto library into every running guard under Wine for the few
// bytes a start needs.
bool FillRandom(std::string& bytes) {
  return ::RtlGenRandom(bytes.data(), static_cast<ULONG>(bytes.size())) != FALSE;
}

std::wstring RandomHex(std::size_t bytes) {
  std::string random(bytes, '\0');
  if (!FillRandom(random)) return {};
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring text;
  for (const char byte : random) {
    text += kDigits[(static_cast<unsigned char>(byte) >> 4) & 15];
    text += kDigits[static_cast<unsigned char>(byte) & 15];
  }
  return text;
}

// Renames the open folder, found at `path`, to `path.untrusted.<random>`
// beside it, a name no program could have taken in advance. The handle
// holds the folder itself: what moves is what was checked, a link as a link.
// Fails while a program holds the folder without sharing its deletion, or,
// on Windows, anything in it open.
bool SetAside(HANDLE folder, const std::wstring& path) {
  const TKernelHandle movable = Owned(::ReOpenFile(
      folder, DELETE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  if (!movable) return false;
  for (int attempt = 0; attempt < kFolderAttempts; ++attempt) {
    const std::wstring random = RandomHex(8);
    if (random.empty()) return false;
    const std::wstring target = L"\\??\\" + path + L".untrusted." + random;
    const std::size_t size = offsetof(FILE_RENAME_INFO, FileName) + target.size() * sizeof(wchar_t);
    std::vector<ULONGLONG> buffer(size / sizeof(ULONGLONG) + 1);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::copy(target.begin(), target.end(), rename->FileName);
    if (::SetFileInformationByHandle(movable.Get(), FileRenameInfo, rename,
                                     static_cast<DWORD>(size))) {
      return true;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

struct TGuardedFolder {
  TKernelHandle Handle;         // none: no folder the guard may use
  bool Made = false;            // made just now, so empty but for what the guard puts there
  bool FoundUntrusted = false;  // a folder not to be used was there
};

// The folder at `path` with `sddl`'s owner and access: made anew, or found
// and kept when `mayKeep` says so. Any other folder, a link or a file in its
// place is set aside and a new folder made, never one reused; a folder made
// in between is checked in its turn. `privileged`: a folder that cannot be
// opened for its security refuses even an administrator.
TGuardedFolder GuardedFolder(const std::wstring& path, const std::wstring& sddl,
                             bool (*mayKeep)(HANDLE), bool privileged) {
  TGuardedFolder result;
  const TLocalMemory descriptor = DescriptorOf(sddl);
  if (!descriptor) return result;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  for (int attempt = 0; attempt < kFolderAttempts; ++attempt) {
    result.Made = ::CreateDirectoryW(path.c_str(), &attributes);
    if (!result.Made && ::GetLastError() != ERROR_ALREADY_EXISTS) return result;
    TKernelHandle folder =
        OpenAsItself(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES);
    if (!folder) {
      if (::GetLastError() == ERROR_FILE_NOT_FOUND) continue;  // gone again: make it
      result.FoundUntrusted = result.FoundUntrusted || (privileged && !result.Made);
      return result;
    }
    if (IsPlainFolder(folder.Get()) && (result.Made || mayKeep(folder.Get()))) {
      if (Protect(folder.Get(), descriptor.get())) result.Handle = std::move(folder);
      return result;
    }
    result.FoundUntrusted = true;
    if (!SetAside(folder.Get(), path)) return result;
  }
  return result;
}

// Reads the secret of a folder only administrators can change and keeps it
// from the user's programs (`kept`), all through one handle on the file
// itself. A link, or a file with a second name elsewhere, is not read.
TReadResult ReadKeptSecret(const std::wstring& path, std::string& secret, bool& kept) {
  secret.clear();
  kept = false;
  const ULONGLONG deadline = ::GetTickCount64() + TWin32Files::kLockedWaitMs;
  TKernelHandle file;
  for (;;) {
    file = Owned(::CreateFileW(path.c_str(), GENERIC_READ | READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                               FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file) break;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return TReadResult::Missing;
    if (error != ERROR_SHARING_VIOLATION || ::GetTickCount64() > deadline) {
      return TReadResult::Unreadable;
    }
    ::Sleep(50);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.Get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      info.nNumberOfLinks != 1) {
    return TReadResult::Unreadable;
  }
  std::string bytes(TWin32StatePlace::kSecretSize + 1, '\0');  // one more: too long shows
  DWORD got = 0;
  if (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) {
    return TReadResult::Unreadable;
  }
  bytes.resize(got);
  secret = std::move(bytes);
  const TLocalMemory descriptor = DescriptorOf(kSecretSddl);
  kept = descriptor && Protect(file.Get(), descriptor.get());
  return TReadResult::Read;
}

// A new secret, written only where no file is: two starts never make two.
bool MakeSecret(const std::wstring& path, bool protect, std::string& secret) {
  std::string bytes(TWin32StatePlace::kSecretSize, '\0');
  if (!FillRandom(bytes)) return false;
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

// Nothing of a folder the guard did not make is used, neither its secret nor
// its state: a program of the user that made it first knows both. When such
// a folder is found, the state it held counts as lost, so that the start
// reports everything it finds and says why; where it cannot be set aside,
// the user's own folder stands in and the start says that too.
TStatePlace TWin32StatePlace::Open() {
  TStatePlace place;
  std::wstring sid;
  try {
    sid = ToWide(CurrentUserSid());
  } catch (const std::exception&) {
    sid.clear();  // whose the folder would be is unknown: the user's own stands in
  }
  const std::wstring programData = KnownFolder(FOLDERID_ProgramData);
  std::wstring name = NotedRootName();
  // A drawn root that is gone (removed with the product, say): the usual name again.
  if (name != kRootName &&
      ::GetFileAttributesW((programData + L"\\" + name).c_str()) == INVALID_FILE_ATTRIBUTES) {
    name = kRootName;
  }
  const bool privileged = EnableOwnerPrivileges();
  bool foundUntrusted = false;
  bool made = false;
  std::wstring own;
  if (!sid.empty() && !programData.empty()) {
    TGuardedFolder rootFolder =
        GuardedFolder(programData + L"\\" + name, kRootSddl, &MayKeepRoot, privileged);
    // Held by a program that took the name first: a root of a name nobody
    // could have known. Never, with administrator rights, the user's own
    // folder, where every file the guard writes a program could lead elsewhere.
    if (!rootFolder.Handle && privileged) {
      const std::wstring drawn = RandomHex(kDrawnBytes);
      if (!drawn.empty()) {
        name = std::wstring(kRootName) + L"." + drawn;
        rootFolder = GuardedFolder(programData + L"\\" + name, kRootSddl, &MayKeepRoot, privileged);
        rootFolder.FoundUntrusted = true;
      }
    }
    foundUntrusted = rootFolder.FoundUntrusted;
    own = programData + L"\\" + name + L"\\" + sid;
    if (rootFolder.Handle) {
      if (rootFolder.Made) NoteAsMade(rootFolder.Handle.Get(), name);
      const TGuardedFolder ownFolder =
          GuardedFolder(own, UserSddl(sid), &MayKeepInRoot, privileged);
      foundUntrusted = foundUntrusted || ownFolder.FoundUntrusted;
      place.Protected = static_cast<bool>(ownFolder.Handle);
      made = place.Protected && ownFolder.Made;
    }
  }
  if (place.Protected) {
    place.Folder = U16(own);
  } else {
    const std::wstring local = KnownFolder(FOLDERID_LocalAppData) + L"\\Keywarden";
    ::CreateDirectoryW(local.c_str(), nullptr);
    place.Folder = U16(local);
  }
  const std::u16string secretPath = place.Folder + u"\\Keywarden.key";
  const std::wstring secretFile(secretPath.begin(), secretPath.end());
  const auto readSecret = [&](std::string& secret) {
    if (!place.Protected) return Files.ReadWhole(secretPath, secret);
    bool kept = false;
    const TReadResult result = ReadKeptSecret(secretFile, secret, kept);
    if (result == TReadResult::Read && !kept) place.Protected = false;
    return result;
  };
  std::string secret;
  // In a folder just made there is no secret yet, whatever a look might find.
  switch (made ? TReadResult::Missing : readSecret(secret)) {
    case TReadResult::Read:
      place.RanBefore = true;
      if (secret.size() == kSecretSize) place.Secret = std::move(secret);
      break;
    case TReadResult::Unreadable:
      place.RanBefore = true;
      break;
    case TReadResult::Missing:
      if (MakeSecret(secretFile, place.Protected, place.Secret)) {
        break;
      }
      // Made by another start a moment ago?
      if (!made && readSecret(secret) == TReadResult::Read && secret.size() == kSecretSize) {
        place.Secret = std::move(secret);
      }
      break;
  }
  if (foundUntrusted) place.RanBefore = true;
  return place;
}

}  // namespace kw::win32
