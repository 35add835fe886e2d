#include <windows.h>
// After <windows.h>, which it needs (the lean one leaves it out).
#include <wincrypt.h>
// After <wincrypt.h>, which they need.
#include <mscat.h>
#include <softpub.h>
#include <wintrust.h>
// After <windows.h>, which it needs.
#include <winioctl.h>

#include "platform/win32/Win32SignatureCheck.h"

#include <string>
#include <vector>

#include "platform/win32/Handles.h"
#include "platform/win32/Win32Paths.h"
#include "toolkit/win32/Text.h"

namespace kw::win32 {

namespace {

// Nothing is fetched from the network: no revocation check at all
// (WTD_REVOKE_NONE), and chains are built from what the machine holds
// (WTD_CACHE_ONLY_URL_RETRIEVAL). A check limited to cached revocation lists
// would call most good files "offline" on a machine that never fetched their
// lists, and a revoked signer is what only a network check finds. So the
// line says the signature verifies up to a root the system trusts, not that
// the signer's certificate was not revoked since.
WINTRUST_DATA TrustData() {
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
  return data;
}

std::u16string Narrow16(const std::wstring& text) {
  return std::u16string(text.begin(), text.end());
}

// The first signer's simple display name, from the state a verification left.
std::u16string SignerName(HANDLE state) {
  CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(state);
  if (!provider) return {};
  CRYPT_PROVIDER_SGNR* signer = ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
  if (!signer || signer->csCertChain == 0 || !signer->pasCertChain[0].pCert) return {};
  PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;
  const DWORD size =
      ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  if (size <= 1) return {};
  std::wstring name(size, L'\0');
  ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), size);
  name.resize(size - 1);
  return Narrow16(name);
}

// One verification and the state it keeps, closed on every path.
class TVerification {
 public:
  explicit TVerification(WINTRUST_DATA& data) : Data(data) {
    Data.dwStateAction = WTD_STATEACTION_VERIFY;
    Status = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &Action, &Data);
    Error = ::GetLastError();
  }
  ~TVerification() {
    Data.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &Action, &Data);
  }
  TVerification(const TVerification&) = delete;
  TVerification& operator=(const TVerification&) = delete;

  // Nothing signed there: no signature, or none the system knows how to read.
  bool FoundNone() const {
    return (Status == TRUST_E_NOSIGNATURE &&
            (Error == static_cast<DWORD>(TRUST_E_NOSIGNATURE) ||
             Error == static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN) ||
             Error == static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN))) ||
           Status == TRUST_E_SUBJECT_FORM_UNKNOWN || Status == TRUST_E_PROVIDER_UNKNOWN;
  }
  TSignature Verdict() const {
    if (Status != ERROR_SUCCESS) return {TSignatureKind::Invalid, {}};
    return {TSignatureKind::Signed, SignerName(Data.hWVTStateData)};
  }

 private:
  GUID Action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  WINTRUST_DATA& Data;
  LONG Status = 0;
  DWORD Error = 0;
};

bool Rewind(HANDLE file) {
  LARGE_INTEGER start{};
  return ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != FALSE;
}

struct TReleaseCatAdmin {
  void operator()(HCATADMIN admin) const { ::CryptCATAdminReleaseContext(admin, 0); }
};
using TCatAdmin = TUniqueHandle<HCATADMIN, nullptr, TReleaseCatAdmin>;

// The catalog functions that hash with SHA-256 are Windows 8's; Windows 7
// has the SHA-1 ones alone.
using TAcquireContext2 = BOOL(WINAPI*)(HCATADMIN*, const GUID*, PCWSTR, PCCERT_STRONG_SIGN_PARA,
                                       DWORD);
using TCalcHash2 = BOOL(WINAPI*)(HCATADMIN, HANDLE, DWORD*, BYTE*, DWORD);

template <typename T>
T WintrustFunction(const char* name) {
  const HMODULE wintrust = ::GetModuleHandleW(L"wintrust.dll");
  return wintrust ? reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(wintrust, name)))
                  : nullptr;
}

TCatAdmin AcquireCatalogs(bool& sha256) {
  HCATADMIN admin = nullptr;
  const auto acquire2 = WintrustFunction<TAcquireContext2>("CryptCATAdminAcquireContext2");
  sha256 = acquire2 && acquire2(&admin, nullptr, L"SHA256", nullptr, 0);
  if (!sha256 && !::CryptCATAdminAcquireContext(&admin, nullptr, 0)) return {};
  return TCatAdmin(admin);
}

std::vector<BYTE> CatalogHash(HCATADMIN admin, HANDLE file, bool sha256) {
  const auto calc2 = WintrustFunction<TCalcHash2>("CryptCATAdminCalcHashFromFileHandle2");
  auto calc = [&](DWORD* size, BYTE* hash) {
    if (!Rewind(file)) return false;
    return (sha256 && calc2 ? calc2(admin, file, size, hash, 0)
                            : ::CryptCATAdminCalcHashFromFileHandle(file, size, hash, 0)) != FALSE;
  };
  DWORD size = 0;
  calc(&size, nullptr);
  if (size == 0 || size > 64) return {};
  std::vector<BYTE> hash(size);
  if (!calc(&size, hash.data())) return {};
  hash.resize(size);
  return hash;
}

std::wstring MemberTag(const std::vector<BYTE>& hash) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring tag;
  for (BYTE b : hash) {
    tag += kDigits[b >> 4];
    tag += kDigits[b & 15];
  }
  return tag;
}

// WINTRUST_CATALOG_INFO as Windows 8 has it: the catalog administrator the
// hash was made with tells which algorithm made it. Windows 7 reads the
// fields it knows and ignores the last one.
struct TCatalogMember {
  DWORD cbStruct;
  DWORD dwCatalogVersion;
  LPCWSTR pcwszCatalogFilePath;
  LPCWSTR pcwszMemberTag;
  LPCWSTR pcwszMemberFilePath;
  HANDLE hMemberFile;
  BYTE* pbCalculatedFileHash;
  DWORD cbCalculatedFileHash;
  PCCTL_CONTEXT pcCatalogContext;
  HCATADMIN hCatAdmin;
};

class TCatalogEntry {
 public:
  TCatalogEntry(HCATADMIN admin, const std::vector<BYTE>& hash)
      : Admin(admin),
        Info(::CryptCATAdminEnumCatalogFromHash(admin, const_cast<BYTE*>(hash.data()),
                                                static_cast<DWORD>(hash.size()), 0, nullptr)) {}
  ~TCatalogEntry() {
    if (Info) ::CryptCATAdminReleaseCatalogContext(Admin, Info, 0);
  }
  TCatalogEntry(const TCatalogEntry&) = delete;
  TCatalogEntry& operator=(const TCatalogEntry&) = delete;
  HCATINFO Get() const { return Info; }

 private:
  HCATADMIN Admin;
  HCATINFO Info;
};

// A file of the system's carries no signature of its own: a catalog that
// the system trusts names its hash.
TSignature CatalogSignature(HANDLE file, const std::wstring& path) {
  bool sha256 = false;
  const TCatAdmin admin = AcquireCatalogs(sha256);
  if (!admin) return {TSignatureKind::Unsigned, {}};
  std::vector<BYTE> hash = CatalogHash(admin.Get(), file, sha256);
  if (hash.empty()) return {TSignatureKind::Unsigned, {}};
  const TCatalogEntry entry(admin.Get(), hash);
  CATALOG_INFO catalog{};
  catalog.cbStruct = sizeof catalog;
  if (!entry.Get() || !::CryptCATCatalogInfoFromContext(entry.Get(), &catalog, 0)) {
    return {TSignatureKind::Unsigned, {}};
  }
  const std::wstring tag = MemberTag(hash);
  TCatalogMember member{};
  member.cbStruct = sizeof member;
  member.pcwszCatalogFilePath = catalog.wszCatalogFile;
  member.pcwszMemberTag = tag.c_str();
  member.pcwszMemberFilePath = path.c_str();
  member.hMemberFile = file;
  member.pbCalculatedFileHash = hash.data();
  member.cbCalculatedFileHash = static_cast<DWORD>(hash.size());
  member.hCatAdmin = admin.Get();
  WINTRUST_DATA data = TrustData();
  data.dwUnionChoice = WTD_CHOICE_CATALOG;
  data.pCatalog = reinterpret_cast<WINTRUST_CATALOG_INFO*>(&member);
  if (!Rewind(file)) return {};
  const TVerification verification(data);
  return verification.Verdict();
}

// The number of the file's last change in its volume's change journal: a
// write moves it on, and no program can set it back. 0 without a journal.
std::uint64_t JournalNumberOf(HANDLE file) {
  alignas(USN_RECORD) BYTE buffer[sizeof(USN_RECORD) + MAX_PATH * sizeof(WCHAR)];
  DWORD returned = 0;
  if (!::DeviceIoControl(file, FSCTL_READ_FILE_USN_DATA, nullptr, 0, buffer, sizeof buffer,
                         &returned, nullptr) ||
      returned < sizeof(USN_RECORD)) {
    return 0;
  }
  const auto* record = reinterpret_cast<const USN_RECORD*>(buffer);
  return record->MajorVersion == 2 ? static_cast<std::uint64_t>(record->Usn) : 0;
}

std::uint64_t Joined(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

class TWin32SignedFile : public ISignedFile {
 public:
  TWin32SignedFile(std::wstring path, TKernelHandle file)
      : Path(std::move(path)), File(std::move(file)) {}

  TFileStamp Stamp() override {
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandle(File.Get(), &info) ||
        !::GetFileInformationByHandleEx(File.Get(), FileBasicInfo, &basic, sizeof basic)) {
      return {};
    }
    return {info.dwVolumeSerialNumber,
            Joined(info.nFileIndexHigh, info.nFileIndexLow),
            Joined(info.nFileSizeHigh, info.nFileSizeLow),
            Joined(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime),
            static_cast<std::uint64_t>(basic.ChangeTime.QuadPart),
            JournalNumberOf(File.Get())};
  }

  // Read through the handle held since the stamp: the file verified is the
  // file stamped, whatever is put at its path meanwhile.
  TSignature Verify() override {
    if (!Rewind(File.Get())) return {};
    WINTRUST_FILE_INFO subject{};
    subject.cbStruct = sizeof subject;
    subject.pcwszFilePath = Path.c_str();
    subject.hFile = File.Get();
    WINTRUST_DATA data = TrustData();
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &subject;
    {
      const TVerification verification(data);
      if (!verification.FoundNone()) return verification.Verdict();
    }
    return CatalogSignature(File.Get(), Path);
  }

 private:
  const std::wstring Path;
  const TKernelHandle File;
};

}  // namespace

// Only a file on this machine, opened without waiting on another program's
// lock, and only where the open found it on this machine too (a link may
// lead off it): the check reads the whole file.
std::unique_ptr<ISignedFile> TWin32SignatureCheck::Open(const std::u16string& path) {
  const std::wstring file = Wide(path);
  if (!IsOnLocalDrive(file)) return nullptr;
  TKernelHandle held = OpenWithoutWaiting(file);
  if (!held) return nullptr;
  const std::wstring found = FinalPathOf(held.Get());
  if (found.empty() || !IsOnLocalDrive(found)) return nullptr;
  return std::make_unique<TWin32SignedFile>(file, std::move(held));
}

}  // namespace kw::win32
