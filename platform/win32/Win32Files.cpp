#include "platform/win32/Win32Files.h"

#include <windows.h>

#include <algorithm>

#include "toolkit/win32/Text.h"

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

}  // namespace

bool TWin32Files::ReadWhole(const std::string& path, std::string& content) {
  content.clear();
  TFile file(::CreateFileW(ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
      static_cast<unsigned long long>(size.QuadPart) > kMaxRead) {
    return false;
  }
  content.resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < content.size()) {
    DWORD got = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size() - done, 1u << 20));
    if (!::ReadFile(file.Get(), &content[done], chunk, &got, nullptr)) return false;
    if (got == 0) break;  // shorter than it was a moment ago
    done += got;
  }
  content.resize(done);
  return true;
}

bool TWin32Files::WriteReplacing(const std::string& path, const std::string& content) {
  // Of this process alone: two sessions' copies never write one temporary file.
  const std::wstring target = ToWide(path);
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

bool TWin32Files::MoveAside(const std::string& from, const std::string& to) {
  // Without MOVEFILE_REPLACE_EXISTING: a file already there is kept, and the move fails.
  return ::MoveFileExW(ToWide(from).c_str(), ToWide(to).c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace kw::win32
