#include "platform/win32/Win32FileStore.h"

#include <windows.h>

#include "platform/win32/Handles.h"
#include "toolkit/win32/Text.h"

namespace kw::win32 {

namespace {

constexpr LONGLONG kLargestFile = 1 << 24;  // far above any settings file; bounds the buffer

// An open file, or null: CreateFileW's failure value is not null.
TKernelHandle OpenFile(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  HANDLE file = ::CreateFileW(ToWide(path).c_str(), access, share, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  return TKernelHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

}  // namespace

// Read until the size the file had when opened: ReadFile may return fewer
// bytes than asked for, and a file cut meanwhile is a failed read, not a
// shorter text.
IFileStore::TRead TWin32FileStore::ReadAll(const std::string& path, std::string& bytes) {
  const TKernelHandle file =
      OpenFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  if (!file) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? TRead::Missing
                                                                          : TRead::Failed;
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart > kLargestFile) return TRead::Failed;
  bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
  for (std::size_t done = 0; done < bytes.size();) {
    DWORD read = 0;
    if (!::ReadFile(file.Get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read,
                    nullptr) ||
        read == 0) {
      bytes.clear();
      return TRead::Failed;
    }
    done += read;
  }
  return TRead::Whole;
}

bool TWin32FileStore::WriteFlushed(const std::string& path, const std::string& bytes) {
  const TKernelHandle file = OpenFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
  if (!file) return false;
  DWORD written = 0;
  return ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
         written == bytes.size() && ::FlushFileBuffers(file.Get());
}

// Through to the disk before the call returns: a crash just after it finds
// the new file in place, not a rename still waiting in the cache. A file
// made read-only stays as it is: Windows refuses to replace one, Wine does
// not, so the attribute is asked for here.
bool TWin32FileStore::Replace(const std::string& from, const std::string& to) {
  const std::wstring target = ToWide(to);
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return ::MoveFileExW(ToWide(from).c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

void TWin32FileStore::Remove(const std::string& path) {
  ::DeleteFileW(ToWide(path).c_str());
}

}  // namespace kw::win32
