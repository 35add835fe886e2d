#include "platform/win32/Win32SessionGuard.h"

#include <sddl.h>
#include <tlhelp32.h>

#include <cwchar>
#include <optional>
#include <string>
#include <vector>

namespace kw::win32 {
namespace {

// How long a copy without the lock waits for a later-started copy, which
// may hold the lock, to show its window. A copy takes the lock before
// anything else, so the wait runs out in full only when copies start
// together while another program holds the lock's name, or when start-up is
// very slow.
constexpr ULONGLONG kLockHolderWaitMs = 5000;
// The longest wait of all, also for a copy started earlier that never
// decides (stopped in a debugger, say): then this one runs.
constexpr ULONGLONG kLongestWaitMs = 15000;
constexpr DWORD kPollMs = 20;
// Far above the program's own size: a file this large is not ours.
constexpr LONGLONG kLargestProgramFile = 64ll << 20;

// The private namespace functions, looked up at run time: a system without
// them (Wine among others) must still run the guard, and a program that
// imported them would not even load there.
struct TNamespaceApi {
  HANDLE(WINAPI* CreateBoundary)(LPCWSTR, ULONG) = nullptr;
  BOOL(WINAPI* AddSid)(HANDLE*, PSID) = nullptr;
  BOOL(WINAPI* AddIntegrityLabel)(HANDLE*, PSID) = nullptr;
  VOID(WINAPI* DeleteBoundary)(HANDLE) = nullptr;
  HANDLE(WINAPI* Create)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR) = nullptr;
  HANDLE(WINAPI* Open)(LPVOID, LPCWSTR) = nullptr;
  BOOLEAN(WINAPI* Close)(HANDLE, ULONG) = nullptr;

  bool Complete() const {
    return CreateBoundary && AddSid && AddIntegrityLabel && DeleteBoundary && Create && Open &&
           Close;
  }
};

template <typename T>
void Find(HMODULE module, const char* name, T& function) {
  // Through the generic function pointer type, which converts to any other.
  function = reinterpret_cast<T>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

const TNamespaceApi& NamespaceApi() {
  static const TNamespaceApi api = [] {
    TNamespaceApi found;
    if (HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll")) {
      Find(kernel, "CreateBoundaryDescriptorW", found.CreateBoundary);
      Find(kernel, "AddSIDToBoundaryDescriptor", found.AddSid);
      Find(kernel, "AddIntegrityLabelToBoundaryDescriptor", found.AddIntegrityLabel);
      Find(kernel, "DeleteBoundaryDescriptor", found.DeleteBoundary);
      Find(kernel, "CreatePrivateNamespaceW", found.Create);
      Find(kernel, "OpenPrivateNamespaceW", found.Open);
      Find(kernel, "ClosePrivateNamespace", found.Close);
    }
    return found;
  }();
  return api;
}

struct TDeleteBoundary {
  void operator()(HANDLE h) const { NamespaceApi().DeleteBoundary(h); }
};
struct TLocalFree {
  void operator()(void* p) const { ::LocalFree(p); }
};
using TBoundary = TUniqueHandle<HANDLE, nullptr, TDeleteBoundary>;
using TLocalMemory = TUniqueHandle<void*, nullptr, TLocalFree>;

std::vector<BYTE> TokenInformation(HANDLE process, TOKEN_INFORMATION_CLASS kind) {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(process, TOKEN_QUERY, &raw)) return {};
  const TKernelHandle token(raw);
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), kind, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !::GetTokenInformation(token.Get(), kind, buffer.data(), size, &size)) return {};
  return buffer;
}

// The integrity level of a process (the last part of its label), where it
// can be read.
std::optional<DWORD> IntegrityOf(HANDLE process) {
  const std::vector<BYTE> label = TokenInformation(process, TokenIntegrityLevel);
  if (label.empty()) return std::nullopt;
  const PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
  if (!::IsValidSid(sid) || *::GetSidSubAuthorityCount(sid) == 0) return std::nullopt;
  return *::GetSidSubAuthority(sid, *::GetSidSubAuthorityCount(sid) - 1u);
}

std::wstring ImageOf(HANDLE process) {
  std::wstring path(32768, L'\0');
  DWORD size = static_cast<DWORD>(path.size());
  if (!::QueryFullProcessImageNameW(process, 0, path.data(), &size)) return {};
  path.resize(size);
  return path;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  return !a.empty() && ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// What tells a copy of this program from any other process.
struct TSelf {
  DWORD Pid = ::GetCurrentProcessId();
  DWORD Session = 0;
  std::wstring Image;     // the program file's full path
  std::wstring FileName;  // its last part, as process lists give it
  FILETIME Created{};
  std::optional<DWORD> Integrity;
};

TSelf ThisCopy() {
  TSelf self;
  ::ProcessIdToSessionId(self.Pid, &self.Session);
  self.Image = ImageOf(::GetCurrentProcess());
  self.FileName = self.Image.substr(self.Image.find_last_of(L"\\/") + 1);
  FILETIME exited, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &self.Created, &exited, &kernel, &user);
  self.Integrity = IntegrityOf(::GetCurrentProcess());
  return self;
}

struct TCopy {
  DWORD Pid;
  FILETIME Created;
};

// The bytes of a program file, or nothing when it cannot be read whole.
std::optional<std::string> FileBytes(const std::wstring& path) {
  const HANDLE raw = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return std::nullopt;
  const TKernelHandle file(raw);
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(raw, &size) || size.QuadPart > kLargestProgramFile) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!::ReadFile(raw, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
      read != bytes.size())
    return std::nullopt;
  return bytes;
}

// Our program file, at our path or, byte for byte, at another one (a second
// installation): whoever runs it is a guard.
bool SameProgram(const std::wstring& image, const TSelf& self) {
  if (SameName(image, self.Image)) return true;
  if (image.empty() || !SameName(image.substr(image.find_last_of(L"\\/") + 1), self.FileName))
    return false;
  const std::optional<std::string> theirs = FileBytes(image), ours = FileBytes(self.Image);
  return theirs && ours && *theirs == *ours;
}

// Another living process of this session that runs our program file with
// rights no lower than ours. Another program cannot pass: it would have to
// run our file, which on Windows asks for elevation, and a program that put
// its own file at our path (or renamed ours away) runs with lower rights than
// we do.
std::optional<TCopy> CopyOfUs(DWORD pid, const TSelf& self) {
  DWORD session = 0;
  if (pid == self.Pid || !::ProcessIdToSessionId(pid, &session) || session != self.Session)
    return std::nullopt;
  const TKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process || !SameProgram(ImageOf(process.Get()), self)) return std::nullopt;
  if (self.Integrity) {
    const std::optional<DWORD> theirs = IntegrityOf(process.Get());
    if (!theirs || *theirs < *self.Integrity) return std::nullopt;
  }
  DWORD code = 0;
  FILETIME created, exited, kernel, user;
  if (!::GetExitCodeProcess(process.Get(), &code) || code != STILL_ACTIVE ||
      !::GetProcessTimes(process.Get(), &created, &exited, &kernel, &user))
    return std::nullopt;
  return TCopy{pid, created};
}

std::vector<TCopy> OtherCopies(const TSelf& self) {
  std::vector<TCopy> copies;
  const HANDLE raw = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (raw == INVALID_HANDLE_VALUE) return copies;
  const TKernelHandle snapshot(raw);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(raw, &entry); more; more = ::Process32NextW(raw, &entry)) {
    if (!SameName(entry.szExeFile, self.FileName)) continue;
    if (auto copy = CopyOfUs(entry.th32ProcessID, self)) copies.push_back(*copy);
  }
  return copies;
}

bool StartedBefore(const TCopy& copy, const TSelf& self) {
  const LONG order = ::CompareFileTime(&copy.Created, &self.Created);
  return order < 0 || (order == 0 && copy.Pid < self.Pid);
}

struct TWindowSearch {
  const wchar_t* Class;
  const TSelf& Self;
  bool Found;
};

BOOL CALLBACK CheckWindow(HWND window, LPARAM param) {
  auto& search = *reinterpret_cast<TWindowSearch*>(param);
  wchar_t name[64];
  if (!::GetClassNameW(window, name, 64) || std::wcscmp(name, search.Class) != 0) return TRUE;
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  search.Found = CopyOfUs(pid, search.Self).has_value();
  return !search.Found;
}

// A running guard shows itself by its main window, which a copy creates only
// once it has decided to run. A window of that class in another program's
// process does not count.
bool GuardWindowExists(const wchar_t* mainWindowClass, const TSelf& self) {
  TWindowSearch search{mainWindowClass, self, false};
  ::EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

// Without the lock: a copy of ours that is starting holds it, or another
// program has taken its name. Waits while a copy of ours may still be on its
// way to running: one started before this one, which decides first, or, for
// a while, any other (the lock's holder may have started later). Copies that
// wait alike thus end with the earliest running and the others giving way.
bool GuardAppears(const wchar_t* mainWindowClass, const TSelf& self) {
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    if (GuardWindowExists(mainWindowClass, self)) return true;
    const ULONGLONG waited = ::GetTickCount64() - start;
    if (waited >= kLongestWaitMs) return false;
    bool earlier = false, others = false;
    for (const TCopy& copy : OtherCopies(self)) {
      others = true;
      earlier = earlier || StartedBefore(copy, self);
    }
    if (!earlier && !(others && waited < kLockHolderWaitMs)) return false;
    ::Sleep(kPollMs);
  }
}

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &text)) return {};
  const TLocalMemory owned(text);
  return text;
}

// The session's namespace and the security of what is in it. Its boundary
// (this user, this session, and the high integrity level when this copy
// runs with it) cannot be met by a program of lower rights, so such a
// program cannot create the namespace first; its security, given the same
// label, keeps such a program from opening it or the lock inside it.
class TNamespaceSetup {
 public:
  explicit TNamespaceSetup(const TSelf& self) {
    User = TokenInformation(::GetCurrentProcess(), TokenUser);
    if (User.empty()) return;
    const PSID user = reinterpret_cast<TOKEN_USER*>(User.data())->User.Sid;
    const std::wstring userText = SidText(user);
    if (userText.empty()) return;
    High = self.Integrity && *self.Integrity >= SECURITY_MANDATORY_HIGH_RID;
    std::wstring sddl = L"D:P(A;;GA;;;" + userText + L")(A;;GA;;;SY)";
    if (High) sddl += L"S:(ML;;NWNRNX;;;HI)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                &descriptor, nullptr))
      return;
    Descriptor.Reset(descriptor);
    Attributes.lpSecurityDescriptor = descriptor;
    Alias = L"KeywardenSession" + std::to_wstring(self.Session);
  }

  bool Ready() const { return static_cast<bool>(Descriptor); }
  SECURITY_ATTRIBUTES* Security() { return &Attributes; }
  const std::wstring& Name() const { return Alias; }

  TNamespaceHandle CreateOrOpen() {
    const TNamespaceApi& api = NamespaceApi();
    if (!Ready() || !api.Complete()) return {};
    HANDLE raw = api.CreateBoundary(Alias.c_str(), 0);
    if (!raw) return {};
    TBoundary boundary(raw);
    // Each addition may move the descriptor and gives back where it now is.
    auto add = [&](auto addition, PSID sid) {
      HANDLE current = boundary.Get();
      const bool added = addition(&current, sid);
      boundary.Release();
      boundary.Reset(current);
      return added;
    };
    if (!add(api.AddSid, reinterpret_cast<TOKEN_USER*>(User.data())->User.Sid)) return {};
    if (High) {
      BYTE label[SECURITY_MAX_SID_SIZE];
      DWORD size = sizeof label;
      if (!::CreateWellKnownSid(WinHighLabelSid, nullptr, label, &size) ||
          !add(api.AddIntegrityLabel, label))
        return {};
    }
    // A namespace whose creator ends between our two calls is gone: try again.
    for (int attempt = 0; attempt < 4; ++attempt) {
      if (HANDLE created = api.Create(&Attributes, boundary.Get(), Alias.c_str()))
        return TNamespaceHandle(created);
      if (::GetLastError() != ERROR_ALREADY_EXISTS) return {};
      if (HANDLE opened = api.Open(boundary.Get(), Alias.c_str())) return TNamespaceHandle(opened);
      if (::GetLastError() != ERROR_PATH_NOT_FOUND) return {};
    }
    return {};
  }

 private:
  std::vector<BYTE> User;
  bool High = false;
  TLocalMemory Descriptor;
  SECURITY_ATTRIBUTES Attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  std::wstring Alias;
};

// The lock, owned by this thread when nobody else owns it.
TKernelHandle TakeLock(SECURITY_ATTRIBUTES* security, const std::wstring& name) {
  TKernelHandle lock(::CreateMutexW(security, FALSE, name.c_str()));
  if (!lock) return {};
  const DWORD taken = ::WaitForSingleObject(lock.Get(), 0);
  if (taken != WAIT_OBJECT_0 && taken != WAIT_ABANDONED) return {};
  return lock;
}

}  // namespace

void TClosePrivateNamespace::operator()(HANDLE h) const {
  NamespaceApi().Close(h, 0);
}

TSessionGuard::TSessionGuard(const wchar_t* mainWindowClass) {
  const TSelf self = ThisCopy();
  TNamespaceSetup setup(self);
  Namespace = setup.CreateOrOpen();
  // Where the system has no private namespaces, a name any program of the
  // session can take: the checks below keep that from silencing the guard.
  Lock = Namespace ? TakeLock(setup.Security(), setup.Name() + L"\\SessionGuard")
                   : TakeLock(nullptr, L"Local\\KeywardenSessionGuard");
  // With the lock, a guard can still run: one that started while another
  // program held the name.
  GiveWay = Lock ? GuardWindowExists(mainWindowClass, self) : GuardAppears(mainWindowClass, self);
  if (GiveWay && Lock) ::ReleaseMutex(Lock.Get());
}

}  // namespace kw::win32
