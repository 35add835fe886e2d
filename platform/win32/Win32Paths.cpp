#include <windows.h>
// After <windows.h>, which they need.
#include <winternl.h>

#include "platform/win32/Win32Paths.h"

#include <vector>

namespace kw::win32 {

namespace {

constexpr NTSTATUS kOplockBreakInProgress = 0x00000108;

using TNtCreateFile = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                       PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);

TNtCreateFile NtCreateFileFunction() {
  static const auto function = reinterpret_cast<TNtCreateFile>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtCreateFile")));
  return function;
}

std::wstring FullPath(const std::wstring& path) {
  std::vector<wchar_t> buffer(::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr) + 1);
  const DWORD length =
      ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (length == 0 || length >= buffer.size()) return {};
  return std::wstring(buffer.data(), length);
}

// The name the kernel knows a file's path by; empty for a device or a
// path of no drive and no share.
std::wstring NtPathOf(const std::wstring& path) {
  const std::wstring full = FullPath(path);
  if (full.compare(0, 4, L"\\\\?\\") == 0) return L"\\??\\" + full.substr(4);
  if (full.compare(0, 4, L"\\\\.\\") == 0) return {};
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\??\\UNC\\" + full.substr(2);
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\??\\" + full;
  return {};
}

}  // namespace

TKernelHandle OpenWithoutWaiting(const std::wstring& path) {
  const TNtCreateFile create = NtCreateFileFunction();
  std::wstring name = NtPathOf(path);
  if (!create || name.empty() || name.size() * sizeof(wchar_t) > 0xFFFE) return {};
  UNICODE_STRING text{static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                      static_cast<USHORT>(name.size() * sizeof(wchar_t)), name.data()};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  IO_STATUS_BLOCK status{};
  HANDLE opened = nullptr;
  const NTSTATUS result =
      create(&opened, GENERIC_READ | SYNCHRONIZE, &attributes, &status, nullptr,
             FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
             FILE_OPEN,
             FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_COMPLETE_IF_OPLOCKED,
             nullptr, 0);
  if (result < 0) return {};
  TKernelHandle file(opened);
  // Opened while the holder of a lock is still asked to let go: what is read
  // now could wait on it after all.
  if (result == kOplockBreakInProgress || status.Information == kOplockBreakInProgress) return {};
  return file;
}

bool IsOnLocalDrive(const std::wstring& path) {
  const std::wstring full = FullPath(path);
  if (full.size() < 3 || full[1] != L':' || full[2] != L'\\') return false;
  const UINT type = ::GetDriveTypeW(full.substr(0, 3).c_str());
  return type == DRIVE_FIXED || type == DRIVE_REMOVABLE || type == DRIVE_CDROM ||
         type == DRIVE_RAMDISK;
}

}  // namespace kw::win32
