#pragma once
// Where an open file or folder really is.

#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/Handles.h"

namespace kw::win32 {

// The file at `path`, opened for reading and shared for every access,
// without waiting on another program's opportunistic lock: a program that
// holds one on a file need not let go when asked, and whatever waited on it
// would wait for good. Null then, as for a file that cannot be opened.
// While the handle is open, no lock that another open must wait for can be
// had on the file.
TKernelHandle OpenWithoutWaiting(const std::wstring& path);

// Whether `path` is on a drive of this machine, which no network stands
// between the program and.
bool IsOnLocalDrive(const std::wstring& path);

// The path Windows finds the open file or folder at, every link, junction
// and mount point on the way followed, as the program names paths ("C:\...",
// "\\server\share\..."); empty when it has none, as on a volume without a
// drive letter.
inline std::wstring FinalPathOf(HANDLE object) {
  constexpr DWORD kFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  std::vector<wchar_t> buffer(::GetFinalPathNameByHandleW(object, nullptr, 0, kFlags) + 1);
  const DWORD length = ::GetFinalPathNameByHandleW(object, buffer.data(),
                                                   static_cast<DWORD>(buffer.size()), kFlags);
  if (length == 0 || length >= buffer.size()) return {};
  const std::wstring found(buffer.data(), length);
  if (found.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + found.substr(8);
  if (found.compare(0, 4, L"\\\\?\\") == 0) return found.substr(4);
  return found;
}

}  // namespace kw::win32
