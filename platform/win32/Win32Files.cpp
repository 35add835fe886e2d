#include "platform/win32/Win32Files.h"

#include <windows.h>

#include <algorithm>

namespace kw::win32 {

namespace {

// A file handle, whose failure value is INVALID_HANDLE_VALUE.
class TFile {
 public:
  explicit TFile(HANDLE handle) : Handle(handle) {}
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;
  ~TFile() { Close(); }
  HANDLE Get() const { return Handle; }
  explicit operator bool() const { return Handle != INVALID_HANDLE_VALUE; }
  bool Close() {
    const bool closed = Handle == INVALID_HANDLE_VALUE || ::CloseHandle(Handle);
    Handle = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE Handle;
};

bool WriteAll(HANDLE file, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size() - done, 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(file, content.data() + done, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

std::wstring Wide(const std::u16string& text) {
  return std::wstring(text.begin(), text.end());
}

// Opens `path` to read it; a file another program holds without sharing is
// asked for again until the deadline.
HANDLE OpenToRead(const std::wstring& path, TReadResult& result) {
  const ULONGLONG deadline = ::GetTickCount64() + TWin32Files::kLockedWaitMs;
  for (;;) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      result = TReadResult::Missing;
      return file;
    }
    result = TReadResult::Unreadable;
    const bool locked = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    if (!locked || ::GetTickCount64() > deadline) return file;
    ::Sleep(50);
  }
}

}  // namespace

TReadResult TWin32Files::ReadWhole(const std::u16string& path, std::string& content) {
  content.clear();
  TReadResult result = TReadResult::Unreadable;
  TFile file(OpenToRead(Wide(path), result));
  if (!file) return result;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
      static_cast<unsigned long long>(size.QuadPart) > kMaxRead) {
    return TReadResult::Unreadable;
  }
  content.resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < content.size()) {
    DWORD got = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size() - done, 1u << 20));
    if (!::ReadFile(file.Get(), &content[done], chunk, &got, nullptr)) {
      content.clear();
      return TReadResult::Unreadable;
    }
    if (got == 0) break;  // shorter than it was a moment ago
    done += got;
  }
  content.resize(done);
  return TReadResult::Read;
}

bool TWin32Files::WriteReplacing(const std::u16string& path, const std::string& content) {
  // Of this process alone: two sessions' copies never write one temporary file.
  const std::wstring target = Wide(path);
  const std::wstring temporary = target + L".tmp" + std::to_wstring(::GetCurrentProcessId());
  TFile file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  const bool written = WriteAll(file.Get(), content) && ::FlushFileBuffers(file.Get());
  const bool closed = file.Close();
  if (written && closed &&
      ::MoveFileExW(temporary.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  ::DeleteFileW(temporary.c_str());
  return false;
}

bool TWin32Files::MoveAside(const std::u16string& from, const std::u16string& to) {
  // Without MOVEFILE_REPLACE_EXISTING: a file already there is kept, and the move fails.
  return ::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace kw::win32
