#include <windows.h>

#include <aclapi.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "platform/win32/Win32Folders.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/win32/Handles.h"
#include "platform/win32/Win32Paths.h"
#include "platform/win32/Win32Sync.h"

namespace kw::win32 {

namespace {

std::wstring Wide(const std::u16string& text) {
  return std::wstring(text.begin(), text.end());
}

std::u16string U16(const wchar_t* text) {
  std::u16string result;
  for (; *text; ++text) result.push_back(static_cast<char16_t>(*text));
  return result;
}

// Releases a COM interface when it goes.
template <typename T>
class TComRef {
 public:
  TComRef() = default;
  TComRef(const TComRef&) = delete;
  TComRef& operator=(const TComRef&) = delete;
  ~TComRef() {
    if (Pointer) Pointer->Release();
  }
  T* operator->() const { return Pointer; }
  T* Get() const { return Pointer; }
  T** Out() { return &Pointer; }
  void** OutVoid() { return reinterpret_cast<void**>(&Pointer); }
  explicit operator bool() const { return Pointer != nullptr; }

 private:
  T* Pointer = nullptr;
};

class TComSetup : public IThreadSetup {
 public:
  TComSetup()
      : Initialised(SUCCEEDED(
            ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  ~TComSetup() override {
    if (Initialised) ::CoUninitialize();
  }

 private:
  bool Initialised;
};

// One pending ReadDirectoryChangesW on a folder; its completion sets the
// event. The handle goes with the folder when it is renamed.
class TDirectoryWatch : public IFolderWatch {
 public:
  TDirectoryWatch(const std::u16string& folder, DWORD filter, HANDLE event, bool tree)
      : Folder(OpenFolder(folder)) {
    if (!Folder) return;
    Overlapped.hEvent = event;
    // What changed is not read from the buffer: the folder is listed afresh.
    // Too small a buffer only completes the request with nothing in it.
    Pending = ::ReadDirectoryChangesW(Folder.Get(), Buffer, sizeof(Buffer), tree, filter, nullptr,
                                      &Overlapped, nullptr) != FALSE;
  }
  TDirectoryWatch(const TDirectoryWatch&) = delete;
  TDirectoryWatch& operator=(const TDirectoryWatch&) = delete;
  ~TDirectoryWatch() override {
    if (!Pending) return;
    // The request writes into this object until it has completed.
    ::CancelIoEx(Folder.Get(), &Overlapped);
    DWORD transferred = 0;
    ::GetOverlappedResult(Folder.Get(), &Overlapped, &transferred, TRUE);
  }
  bool Armed() const { return Pending; }

 private:
  // Shared for deleting: the user can still remove or rename the folder.
  static TKernelHandle OpenFolder(const std::u16string& folder) {
    const HANDLE handle =
        ::CreateFileW(Wide(folder).c_str(), FILE_LIST_DIRECTORY,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    return TKernelHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
  }

  TKernelHandle Folder;
  OVERLAPPED Overlapped{};
  DWORD Buffer[1024];
  bool Pending = false;
};

std::unique_ptr<IFolderWatch> WatchDirectory(const std::u16string& folder, DWORD filter,
                                             IEvent& changed, bool tree = false) {
  auto* event = dynamic_cast<TWin32Event*>(&changed);
  if (!event) return nullptr;
  auto watch = std::make_unique<TDirectoryWatch>(folder, filter, event->Native(), tree);
  if (!watch->Armed()) return nullptr;
  return watch;
}

std::u16string U16(const std::wstring& text) {
  return std::u16string(text.begin(), text.end());
}

struct TFindClose {
  void operator()(HANDLE search) const { ::FindClose(search); }
};

// Hands each entry directly in `folder` to `visit`; the search is closed on
// every path.
template <typename TVisit>
TListResult ListEntries(const std::u16string& folder, FINDEX_SEARCH_OPS search, TVisit&& visit) {
  WIN32_FIND_DATAW found;
  const std::wstring pattern = Wide(folder) + L"\\*";
  const HANDLE first = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, search, nullptr,
                                          FIND_FIRST_EX_LARGE_FETCH);
  if (first == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return TListResult::Read;
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_DIRECTORY) return TListResult::Absent;
    return TListResult::Failed;
  }
  const std::unique_ptr<void, TFindClose> open(first);
  do {
    visit(found);
  } while (::FindNextFileW(first, &found));
  return ::GetLastError() == ERROR_NO_MORE_FILES ? TListResult::Read : TListResult::Failed;
}

std::u16string FullPathOf(const std::wstring& path) {
  std::vector<wchar_t> buffer(::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr) + 1);
  const DWORD length =
      ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (length == 0 || length >= buffer.size()) return {};
  return U16(buffer.data());
}

// Names match as the file system matches them: case-insensitive, ordinal.
bool SameIdentity(const std::u16string& left, const std::u16string& right) {
  return !left.empty() &&
         ::CompareStringOrdinal(Wide(left).c_str(), static_cast<int>(left.size()),
                                Wide(right).c_str(), static_cast<int>(right.size()),
                                TRUE) == CSTR_EQUAL;
}

// The file itself, not what a link at its name leads to; null for a folder.
TKernelHandle OpenForDeletion(const std::wstring& path) {
  const HANDLE opened =
      ::CreateFileW(path.c_str(), DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return {};
  TKernelHandle file(opened);
  BY_HANDLE_FILE_INFORMATION information;
  if (!::GetFileInformationByHandle(file.Get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return {};
  }
  return file;
}

// The token the user's own programs run with, for access checks: the
// limited twin of an elevated guard's. Null with true when the guard is not
// elevated: its own rights are the user's then. False when an elevated
// guard's twin cannot be had.
bool UserToken(TKernelHandle& limited) {
  HANDLE opened = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened)) return false;
  const TKernelHandle token(opened);
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  if (!::GetTokenInformation(token.Get(), TokenElevationType, &type, sizeof type, &size)) {
    return false;
  }
  if (type != TokenElevationTypeFull) return true;
  TOKEN_LINKED_TOKEN linked{};
  if (!::GetTokenInformation(token.Get(), TokenLinkedToken, &linked, sizeof linked, &size)) {
    return false;
  }
  limited.Reset(linked.LinkedToken);
  return true;
}

// Whether `token` is granted `wanted` on the open file or folder.
bool Grants(HANDLE object, HANDLE token, DWORD wanted) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(
          object, SE_FILE_OBJECT,
          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const std::unique_ptr<void, decltype(&::LocalFree)> owned(descriptor, &::LocalFree);
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                          FILE_ALL_ACCESS};
  PRIVILEGE_SET privileges{};
  DWORD privilegesSize = sizeof privileges;
  DWORD granted = 0;
  BOOL allowed = FALSE;
  return ::AccessCheck(descriptor, token, wanted, &mapping, &privileges, &privilegesSize, &granted,
                       &allowed) &&
         allowed;
}

// Whether the user's own programs may delete the open file, found at
// `found`: by its own access list, or by its folder's right to delete what
// it holds.
bool UserMayDelete(HANDLE file, const std::u16string& found) {
  TKernelHandle limited;
  if (!UserToken(limited)) return false;
  if (!limited) return true;
  if (Grants(file, limited.Get(), DELETE)) return true;
  const std::size_t cut = found.rfind(u'\\');
  if (cut == std::u16string::npos) return false;
  const HANDLE opened = ::CreateFileW(Wide(found.substr(0, cut)).c_str(), READ_CONTROL,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return false;
  const TKernelHandle folder(opened);
  return Grants(folder.Get(), limited.Get(), FILE_DELETE_CHILD);
}

}  // namespace

std::u16string TWin32Folders::StartupFolderPath(TStartupFolder folder) {
  PWSTR path = nullptr;
  // Not verified: a folder that does not exist yet is still where the
  // shell will look, and is waited for.
  const HRESULT result = ::SHGetKnownFolderPath(
      folder == TStartupFolder::User ? FOLDERID_Startup : FOLDERID_CommonStartup,
      KF_FLAG_DONT_VERIFY, nullptr, &path);
  std::u16string named;
  if (SUCCEEDED(result) && path) named = U16(path);
  ::CoTaskMemFree(path);
  return named;
}

std::u16string TWin32Folders::TasksFolderPath() {
  wchar_t windows[MAX_PATH];
  const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  // A 32-bit program's System32 is the 32-bit system's; Sysnative is the
  // system's own, where the Task Scheduler keeps every task.
  BOOL wow64 = FALSE;
  const bool redirected = ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
  return U16(std::wstring(windows, length) + (redirected ? L"\\Sysnative" : L"\\System32") +
             L"\\Tasks");
}

TListResult TWin32Folders::ListFolders(const std::u16string& folder,
                                       std::vector<std::u16string>& names) {
  names.clear();
  return ListEntries(folder, FindExSearchLimitToDirectories, [&](const WIN32_FIND_DATAW& found) {
    const std::wstring name = found.cFileName;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && name != L"." && name != L"..") {
      names.push_back(U16(name));
    }
  });
}

TListResult TWin32Folders::ListFiles(const std::u16string& folder,
                                     std::vector<TFolderFile>& files) {
  files.clear();
  return ListEntries(folder, FindExSearchNameMatch, [&](const WIN32_FIND_DATAW& found) {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return;
    TFolderFile file;
    file.Name = U16(found.cFileName);
    file.Size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    file.WriteTime = (static_cast<std::uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                     found.ftLastWriteTime.dwLowDateTime;
    files.push_back(std::move(file));
  });
}

bool TWin32Folders::FolderExists(const std::u16string& path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::u16string TWin32Folders::ResolvedPath(const std::u16string& path) {
  // Opened for nothing but its name; shared, so the user can still do anything with it.
  const HANDLE opened = ::CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return {};
  const TKernelHandle folder(opened);
  BY_HANDLE_FILE_INFORMATION information;
  if (!::GetFileInformationByHandle(folder.Get(), &information) ||
      !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return {};
  }
  // A volume without a drive letter has no such name: taken as named.
  const std::u16string resolved = U16(FinalPathOf(folder.Get()));
  return resolved.empty() ? path : resolved;
}

std::unique_ptr<IFolderWatch> TWin32Folders::WatchFolder(const std::u16string& folder,
                                                         IEvent& changed) {
  return WatchDirectory(folder,
                        FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                            FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE,
                        changed);
}

std::unique_ptr<IFolderWatch> TWin32Folders::WatchTree(const std::u16string& folder,
                                                       IEvent& changed) {
  return WatchDirectory(folder,
                        FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                            FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE,
                        changed, true);
}

// Renames show as a name removed and one added, moves between folders too.
std::unique_ptr<IFolderWatch> TWin32Folders::WatchSubfolderNames(const std::u16string& folder,
                                                                 IEvent& changed) {
  return WatchDirectory(folder, FILE_NOTIFY_CHANGE_DIR_NAME, changed);
}

// Read from memory, from a file opened without waiting on a lock: the
// shell's own reading of the file would wait on it.
bool TWin32Folders::ReadShortcut(const std::u16string& path, std::u16string& target,
                                 std::u16string& arguments) {
  constexpr std::uint64_t kLargestShortcut = 1 << 20;
  std::string bytes;
  if (!ReadContent(path, kLargestShortcut + 1,
                   [&](const char* data, std::size_t size) { bytes.append(data, size); }) ||
      bytes.size() > kLargestShortcut) {
    return false;
  }
  TComRef<IStream> stream;
  if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, stream.Out())) ||
      FAILED(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr))) {
    return false;
  }
  const LARGE_INTEGER start{};
  if (FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr))) return false;
  TComRef<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.OutVoid()))) {
    return false;
  }
  TComRef<IPersistStream> persisted;
  if (FAILED(link->QueryInterface(IID_IPersistStream, persisted.OutVoid()))) return false;
  if (FAILED(persisted->Load(stream.Get()))) return false;
  // Read as stored: no search for a target that moved, which could show a
  // window or wait on the network.
  std::vector<wchar_t> buffer(32768, L'\0');
  if (link->GetPath(buffer.data(), static_cast<int>(buffer.size()), nullptr, 0) != S_OK) {
    return false;
  }
  target = U16(buffer.data());
  buffer.assign(buffer.size(), L'\0');
  arguments.clear();
  if (SUCCEEDED(link->GetArguments(buffer.data(), static_cast<int>(buffer.size())))) {
    arguments = U16(buffer.data());
  }
  return true;
}

// Shared for every access: the guard's look never stands in another's way,
// nor waits on another's lock.
bool TWin32Folders::ReadContent(const std::u16string& path, std::uint64_t limit,
                                const std::function<void(const char*, std::size_t)>& sink) {
  const TKernelHandle file = OpenWithoutWaiting(Wide(path));
  if (!file) return false;
  std::vector<char> buffer(64 * 1024);
  while (limit > 0) {
    const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(limit, buffer.size()));
    DWORD got = 0;
    if (!::ReadFile(file.Get(), buffer.data(), want, &got, nullptr)) return false;
    if (got == 0) break;
    sink(buffer.data(), got);
    limit -= got;
  }
  return true;
}

// The guard runs with administrator rights, and a program of the user can
// put a link on the way to a file it made (its own startup folder, or a
// folder above), so that the path the alert shows leads into a folder only
// administrators may change. A file found through a link is deleted only
// where the user's own programs could delete it themselves; on a plain way,
// with the guard's rights (the shared startup folder is administrators'
// alone). The file is held from the check to the deletion, so what is
// deleted is what was checked; a link at the file's own name is itself
// deleted, never what it leads to, and a folder never.
bool TWin32Folders::DeleteFileAt(const std::u16string& path) {
  const TKernelHandle file = OpenForDeletion(Wide(path));
  if (!file) return false;
  const std::u16string found = U16(FinalPathOf(file.Get()));
  if (!SameIdentity(found, FullPathOf(Wide(path))) && !UserMayDelete(file.Get(), found)) {
    return false;
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  return ::SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
}

namespace {

// The shortcut's bytes, as the shell would store them.
bool ShortcutBytes(const std::u16string& target, const std::u16string& arguments,
                   std::string& bytes) {
  TComRef<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.OutVoid())) ||
      FAILED(link->SetPath(Wide(target).c_str())) ||
      FAILED(link->SetArguments(Wide(arguments).c_str()))) {
    return false;
  }
  TComRef<IPersistStream> persisted;
  TComRef<IStream> stream;
  if (FAILED(link->QueryInterface(IID_IPersistStream, persisted.OutVoid())) ||
      FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, stream.Out())) ||
      FAILED(persisted->Save(stream.Get(), TRUE))) {
    return false;
  }
  STATSTG stat{};
  const LARGE_INTEGER start{};
  if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || stat.cbSize.QuadPart > (1u << 20) ||
      FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr))) {
    return false;
  }
  bytes.resize(static_cast<std::size_t>(stat.cbSize.QuadPart));
  ULONG read = 0;
  return SUCCEEDED(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read)) &&
         read == bytes.size();
}

}  // namespace

// Written through the guard's own handle to a file it has just made, after
// the handle shows the file lies where its path says: the shell's own saving
// opens the path again, which a link put on the way meanwhile could lead
// elsewhere. A file made where it must not stay is deleted again.
TMakeResult TWin32Folders::MakeShortcut(const std::u16string& path, const std::u16string& target,
                                        const std::u16string& arguments) {
  std::string bytes;
  if (!ShortcutBytes(target, arguments, bytes)) return TMakeResult::Failed;
  const HANDLE made = ::CreateFileW(Wide(path).c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                    CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (made == INVALID_HANDLE_VALUE) {
    return ::GetLastError() == ERROR_FILE_EXISTS ? TMakeResult::Exists : TMakeResult::Failed;
  }
  const TKernelHandle file(made);
  DWORD written = 0;
  if (SameIdentity(U16(FinalPathOf(file.Get())), FullPathOf(Wide(path))) &&
      ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size()) {
    return TMakeResult::Made;
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  ::SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition, sizeof disposition);
  return TMakeResult::Failed;
}

std::unique_ptr<IThreadSetup> TWin32Folders::SetUpThread() {
  return std::make_unique<TComSetup>();
}

}  // namespace kw::win32
